#include "core/status_text.h"

#include <cstdio>

bool IsVerified(const SysexCounts &counts)
{
    return counts.verifiedBytes == counts.byteTotal && !counts.mismatch;
}

const char *FormatSysexStatus(const SysexCounts &counts, char *text, std::size_t capacity)
{
    const char *verdict = "";
    if (counts.verifying)
        verdict = IsVerified(counts) ? ",  verify Ok" : ",  NOT verified";
    std::snprintf(text, capacity, "Captured %u bytes,  %u SOX, %u EOX (%sequal)%s",
                  static_cast<unsigned>(counts.verifying ? counts.verifiedBytes : counts.byteTotal),
                  static_cast<unsigned>(counts.soxCount), static_cast<unsigned>(counts.eoxCount),
                  counts.eoxCount != counts.soxCount ? "NOT " : "", verdict);
    return text;
}

void CountSysexMarks(const unsigned char *data, std::size_t n, std::uint32_t &soxCount, std::uint32_t &eoxCount)
{
    for (std::size_t i = 0; i < n; ++i) {
        if (data[i] == 0xF0)
            ++soxCount;
        else if (data[i] == 0xF7)
            ++eoxCount;
    }
}
