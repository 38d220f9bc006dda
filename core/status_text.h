// The status line of an accounted SysEx buffer and the verdict of a verification.
// Platform-free: builds on the host for unit tests and fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>

struct SysexCounts {
    bool verifying;
    std::uint32_t byteTotal;     // capture: bytes received; verify: the file's size
    std::uint32_t verifiedBytes; // bytes received since verify start
    std::uint32_t soxCount;
    std::uint32_t eoxCount;
    bool mismatch;
};

// True when a verification has seen exactly the file's bytes and nothing else.
bool IsVerified(const SysexCounts &counts);

// Writes "Captured %u bytes,  %u SOX, %u EOX (%sequal)%s" for the counts into text (capacity
// characters, terminator included) and returns text.
const char *FormatSysexStatus(const SysexCounts &counts, char *text, std::size_t capacity);

// Counts the SysEx start (0xF0) and end (0xF7) bytes of data, adding to the counters in place.
void CountSysexMarks(const unsigned char *data, std::size_t n, std::uint32_t &soxCount, std::uint32_t &eoxCount);
