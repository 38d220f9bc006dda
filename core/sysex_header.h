// The manufacturer text for the bytes that follow a SysEx start byte.
// Platform-free: builds on the host for unit tests and fuzzing.
#pragma once

#include <cstddef>

enum : unsigned { SYSEX_DESCRIPTION_CAPACITY = 100 };

// Describes the three bytes at header (the manufacturer identifier and the two bytes after it)
// into text, which holds SYSEX_DESCRIPTION_CAPACITY characters, and returns text. Only the first
// `available` bytes of header are read; a missing byte shows as "--" in place of its two digits.
const char *DescribeSysexHeader(const unsigned char *header, std::size_t available, char *text);
