#include "core/sysex_header.h"

#include <cstdio>

namespace {

// Names of the single-byte identifiers 0x40 to 0x5F; the rest of the range is unnamed.
const char *const kJapaneseManufacturers[32] = {
    "Kawai", "Roland", "Korg", "Yamaha", "Casio", "Unknown", "Kamiya", "Akai",
    "Japan Victor", "Unknown", "Unknown", "Fujitsu", "Sony", "Nishin Onpa", "TEAC", "Unknown",
    "Matsushita Electric", "Fostex", "Zoom", "Unknown", "Matsushita Communication Industrial",
    "Suzuki Musical Instrument", "Fuji Sound Corp.", "Acoustic Technical Laboratory",
    "Unknown", "Faith", "Internet Corp.", "Unknown", "Seekers Co Ltd", "Unknown", "Unknown",
    "SD Card Association",
};

const char *ManufacturerName(unsigned id)
{
    return (id >= 0x40 && id <= 0x5F) ? kJapaneseManufacturers[id - 0x40] : "Unknown";
}

} // namespace

const char *DescribeSysexHeader(const unsigned char *header, std::size_t available, char *text)
{
    const unsigned id = available > 0 ? header[0] : 0;
    const char *name = available > 0 ? ManufacturerName(id) : "Unknown";

    if (available < 3) {
        // Short data: show the bytes there are and mark the missing ones.
        char digits[7] = "------";
        for (std::size_t i = 0; i < available; ++i)
            std::snprintf(digits + 2 * i, 3, "%.2X", header[i]);
        digits[2 * available] = '-';
        std::snprintf(text, SYSEX_DESCRIPTION_CAPACITY, "0x%s  %s ", digits, name);
        return text;
    }

    // The two bytes after the identifier combine as signed 8-bit numbers: a high second byte
    // borrows one from the first.
    const int h1 = static_cast<signed char>(header[1]);
    const int h2 = static_cast<signed char>(header[2]);
    const unsigned value = static_cast<unsigned>(h1 * 256 + h2) & 0xFFFFu;

    const char *model = (id == 0x43 && (value == 0x760D || value == 0x760E)) ? "pss-51" : "";
    std::snprintf(text, SYSEX_DESCRIPTION_CAPACITY, "0x%.2X%.4X  %s %s", id, value, name, model);
    return text;
}
