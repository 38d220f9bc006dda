#include "core/sysex_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    std::vector<unsigned char> bytes; // what follows 0xF0
    const char *expected;
};

const Case kCases[] = {
    {{0x41, 0x10, 0x42}, "0x411042  Roland "},
    {{0x41, 0x10, 0xF7}, "0x410FF7  Roland "},
    {{0x41, 0x00, 0x80}, "0x41FF80  Roland "},
    {{0x54, 0xFF, 0xFF}, "0x54FEFF  Matsushita Communication Industrial "},
    {{0x41, 0x80, 0x00}, "0x418000  Roland "},
    {{0x43, 0x76, 0x0D}, "0x43760D  Yamaha pss-51"},
    {{0x43, 0x76, 0x0E}, "0x43760E  Yamaha pss-51"},
    {{0x43, 0x76, 0x0F}, "0x43760F  Yamaha "},
    {{0x43, 0x00, 0x0D}, "0x43000D  Yamaha "},
    {{0x45, 0x10, 0x20}, "0x451020  Unknown "},
    {{0x7E, 0x7F, 0x06}, "0x7E7F06  Unknown "},
    {{0x00, 0x01, 0x02}, "0x000102  Unknown "},
    {{0x40, 0x00, 0x00}, "0x400000  Kawai "},
    {{0x5F, 0x00, 0x00}, "0x5F0000  SD Card Association "},
    {{0x3F, 0x00, 0x00}, "0x3F0000  Unknown "},
    {{0x60, 0x00, 0x00}, "0x600000  Unknown "},
    {{0xF7, 0x00, 0x00}, "0xF70000  Unknown "},
    // Short data: only the bytes that are there are read.
    {{0x41, 0x10}, "0x4110--  Roland "},
    {{0x41}, "0x41----  Roland "},
    {{}, "0x------  Unknown "},
};

TEST(SysexHeader, DescribesManufacturerHeaderValueAndModel)
{
    for (const Case &c : kCases) {
        // An exactly sized block, so reading past the data would be caught by the sanitizer.
        std::vector<unsigned char> block(c.bytes);
        block.shrink_to_fit();
        char text[SYSEX_DESCRIPTION_CAPACITY];
        EXPECT_STREQ(DescribeSysexHeader(block.data(), block.size(), text), c.expected);
    }
}

TEST(SysexHeader, EveryIdentifierFitsTheTextAndTheLongestIs46)
{
    std::size_t longest = 0;
    for (unsigned id = 0; id < 256; ++id) {
        const unsigned char bytes[3] = {static_cast<unsigned char>(id), 0x7F, 0x7F};
        char text[SYSEX_DESCRIPTION_CAPACITY];
        longest = std::max(longest, std::string(DescribeSysexHeader(bytes, 3, text)).size());
    }
    EXPECT_EQ(longest, 46u);
}

TEST(SysexHeader, ReturnsTheTextItWasGiven)
{
    char text[SYSEX_DESCRIPTION_CAPACITY];
    const unsigned char first[3] = {0x41, 0x10, 0x42}, second[3] = {0x42, 0x00, 0x00};
    const char *a = DescribeSysexHeader(first, 3, text);
    DescribeSysexHeader(second, 3, text);
    EXPECT_EQ(a, text);
    EXPECT_STREQ(a, "0x420000  Korg ");
}

} // namespace
