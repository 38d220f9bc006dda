// Any command line: the scan stays inside the text and returns a part of it.
#include "core/command_line.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // An exactly sized copy, so any read past the terminator is caught.
    char *line = static_cast<char *>(std::malloc(size + 1));
    std::memcpy(line, data, size);
    line[size] = '\0';
    const std::size_t length = std::strlen(line);

    char *argument = FindFirstArgument(line);
    if (argument != nullptr) {
        if (argument < line || argument >= line + length || *argument == '\0')
            std::abort();
        if (std::strlen(argument) > length)
            std::abort();
    }
    std::free(line);
    return 0;
}
