// Any counts and any buffer: the status text fits, and the verdict follows the rule.
#include "core/status_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    SysexCounts counts = {};
    if (size < 18)
        return 0;
    counts.verifying = data[0] & 1;
    counts.mismatch = data[0] & 2;
    std::memcpy(&counts.byteTotal, data + 1, 4);
    std::memcpy(&counts.verifiedBytes, data + 5, 4);
    std::memcpy(&counts.soxCount, data + 9, 4);
    std::memcpy(&counts.eoxCount, data + 13, 4);

    const std::uint32_t sox = counts.soxCount, eox = counts.eoxCount;
    CountSysexMarks(data + 17, size - 17, counts.soxCount, counts.eoxCount);
    std::uint32_t expectedSox = sox, expectedEox = eox;
    for (std::size_t i = 17; i < size; ++i) {
        expectedSox += data[i] == 0xF0;
        expectedEox += data[i] == 0xF7;
    }
    if (counts.soxCount != expectedSox || counts.eoxCount != expectedEox)
        std::abort();

    char text[500];
    FormatSysexStatus(counts, text, sizeof(text));
    const bool ok = std::strstr(text, ",  verify Ok") != nullptr;
    const bool notOk = std::strstr(text, ",  NOT verified") != nullptr;
    if (!counts.verifying && (ok || notOk))
        std::abort();
    if (counts.verifying && ok != (counts.verifiedBytes == counts.byteTotal && !counts.mismatch))
        std::abort();
    if (counts.verifying && ok == notOk)
        std::abort();

    // The smallest buffers are cut, never overrun.
    char small[8];
    FormatSysexStatus(counts, small, sizeof(small));
    if (std::strlen(small) != sizeof(small) - 1)
        std::abort();
    return 0;
}
