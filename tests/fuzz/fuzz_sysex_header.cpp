// Any data of any length: the description reads only the bytes it is given and always fits.
#include "core/sysex_header.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The bytes after the start byte, in an exactly sized block.
    unsigned char *block = static_cast<unsigned char *>(std::malloc(size ? size : 1));
    std::memcpy(block, data, size);
    char text[SYSEX_DESCRIPTION_CAPACITY];
    DescribeSysexHeader(block, size, text);
    const std::size_t length = std::strlen(text);
    if (length < 10 || length > 46 || std::strncmp(text, "0x", 2) != 0)
        std::abort();
    std::free(block);
    return 0;
}
