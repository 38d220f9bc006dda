// A window over the virtual MIDI driver: devices set up before the window lists them.
#pragma once

#include "tests/wine/harness.h"
#include "vmidi/vmidi.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>


// One SysEx message of `size` bytes (at least 2): F0, the manufacturer, counting data, F7.
inline Bytes SysexMessage(size_t size, unsigned char manufacturer = 0x41, unsigned char seed = 0)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>((i + seed) % 0x70);
    bytes[0] = 0xF0;
    if (size > 2)
        bytes[1] = manufacturer;
    bytes[size - 1] = 0xF7;
    return bytes;
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes Slice(const Bytes &bytes, size_t from, size_t count)
{
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

class MidiTest : public ::testing::Test {
protected:
    void SetUp() override { vmidi_reset(); }
    void TearDown() override
    {
        window.reset();
        vmidi_reset();
    }

    // Adds input and output devices by name and opens the window over them.
    void StartWindow(std::vector<std::string> inputs, std::vector<std::string> outputs = {})
    {
        for (const std::string &name : inputs)
            vmidi_add_input(name.c_str());
        for (const std::string &name : outputs)
            vmidi_add_output(name.c_str());
        window = std::make_unique<MainWindow>();
    }

    void ChooseInput(int position)
    {
        window->Choose(IDC_IN_DEVICE, position);
        Pump();
    }

    // Feeds SysEx bytes to an input; with flush the partly filled buffer comes back too.
    void Feed(int input, const Bytes &bytes, bool flush = true)
    {
        vmidi_in_sysex(input, bytes.data(), static_cast<DWORD>(bytes.size()), flush ? VMIDI_FLUSH : 0);
        Pump();
    }

    // Feeds each part as a buffer of its own.
    void FeedBuffers(int input, std::initializer_list<Bytes> parts)
    {
        for (const Bytes &part : parts)
            Feed(input, part);
    }

    VMIDI_IN_INFO InInfo(int input) const
    {
        VMIDI_IN_INFO info = {};
        info.cbSize = sizeof(info);
        vmidi_in_info(input, &info);
        return info;
    }

    std::string Status() const { return window->Text(IDC_STATUS); }

    std::unique_ptr<MainWindow> window;
};
