#include "core/status_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Status(const SysexCounts &counts)
{
    char text[500];
    return FormatSysexStatus(counts, text, sizeof(text));
}

struct Case {
    const char *situation;
    SysexCounts counts;
    const char *expected;
};

// {verifying, byteTotal, verifiedBytes, sox, eox, mismatch}
const Case kCases[] = {
    {"capturing, first 500 bytes", {false, 500, 0, 1, 0, false}, "Captured 500 bytes,  1 SOX, 0 EOX (NOT equal)"},
    {"capturing, next 120 bytes", {false, 620, 0, 1, 1, false}, "Captured 620 bytes,  1 SOX, 1 EOX (equal)"},
    {"verifying, 500 of 620", {true, 620, 500, 1, 0, false}, "Captured 500 bytes,  1 SOX, 0 EOX (NOT equal),  NOT verified"},
    {"verifying, all 620", {true, 620, 620, 1, 1, false}, "Captured 620 bytes,  1 SOX, 1 EOX (equal),  verify Ok"},
    {"verifying, one more buffer", {true, 620, 621, 1, 1, false}, "Captured 621 bytes,  1 SOX, 1 EOX (equal),  NOT verified"},
    {"verifying, a difference", {true, 620, 620, 1, 1, true}, "Captured 620 bytes,  1 SOX, 1 EOX (equal),  NOT verified"},
    {"verifying an empty file", {true, 0, 10, 1, 1, false}, "Captured 10 bytes,  1 SOX, 1 EOX (equal),  NOT verified"},
    {"idle after a verification", {false, 620, 700, 2, 2, false}, "Captured 620 bytes,  2 SOX, 2 EOX (equal)"},
    {"largest numbers", {false, 4294967295u, 0, 4294967295u, 0, false},
     "Captured 4294967295 bytes,  4294967295 SOX, 0 EOX (NOT equal)"},
};

TEST(StatusText, FormatsCountsAndVerdict)
{
    for (const Case &c : kCases)
        EXPECT_EQ(Status(c.counts), c.expected) << c.situation;
}

TEST(StatusText, IsCutToTheBufferNeverOverrun)
{
    char text[12];
    text[11] = 'x';
    FormatSysexStatus({false, 1, 0, 0, 0, false}, text, sizeof(text));
    EXPECT_STREQ(text, "Captured 1 ");
}

TEST(StatusText, CountsMarksWhereverTheyStandAndAddsInPlace)
{
    const unsigned char data[] = {0xF0, 0x41, 0xF7, 0xF0, 0xF0, 0x00, 0xF7, 0x7F, 0xF8};
    std::uint32_t sox = 10, eox = 20;
    CountSysexMarks(data, sizeof(data), sox, eox);
    EXPECT_EQ(sox, 13u);
    EXPECT_EQ(eox, 22u);
    CountSysexMarks(data, 0, sox, eox);
    EXPECT_EQ(sox, 13u);
}

} // namespace
