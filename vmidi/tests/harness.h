// Test harness: a hidden window that records the MIDI notifications posted to
// it (CALLBACK_WINDOW), and prepared input buffers.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "vmidi.h"

struct Note {
    UINT msg;
    UINT_PTR wp;
    LPARAM lp;
    DWORD flags;   // header flags when the message was handled (header messages)
    DWORD bytes;   // dwBytesRecorded then
    std::string data;
};

class MidiWindow {
public:
    MidiWindow();
    ~MidiWindow();
    MidiWindow(const MidiWindow &) = delete;
    MidiWindow &operator=(const MidiWindow &) = delete;

    HWND hwnd() const { return hwnd_; }
    DWORD_PTR cb() const { return reinterpret_cast<DWORD_PTR>(hwnd_); }

    // Pump messages until done() holds; false after timeout_ms.
    bool PumpUntil(const std::function<bool()> &done, DWORD timeout_ms = 10000);
    bool PumpFor(UINT msg, size_t count, DWORD timeout_ms = 10000);
    // Pump whatever is already posted (and what arrives within ms).
    void Drain(DWORD ms = 30);
    std::vector<Note> Of(UINT msg) const;

    std::vector<Note> notes;
    std::function<void(const Note &)> onNote;

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND hwnd_;
};

// Prepared input buffers with stable addresses.
class Buffers {
public:
    Buffers(HMIDIIN in, size_t count, DWORD size);
    MIDIHDR *hdr(size_t i) { return &hdrs_[i]; }
    size_t size() const { return hdrs_.size(); }
    void AddAll();

private:
    HMIDIIN in_;
    std::vector<MIDIHDR> hdrs_;
    std::vector<std::string> data_;
};

class VmidiTest : public ::testing::Test {
protected:
    void SetUp() override { vmidi_reset(); }
    void TearDown() override { vmidi_reset(); }

    HMIDIIN OpenIn(UINT id, DWORD flags = CALLBACK_WINDOW);
    HMIDIOUT OpenOut(UINT id);
    // Reset and close, then handle everything posted before the close
    // notification, so no message outlives the buffers it points to.
    void CloseIn(HMIDIIN h);
    void CloseOut(HMIDIOUT h);
    std::string Sent(int out);
    VMIDI_IN_INFO InInfo(int in);
    VMIDI_OUT_INFO OutInfo(int out);

    MidiWindow win;
};

std::string Bytes(const char *hex);  // "F0 01 F7" -> bytes
std::string TempDir(const char *name);  // fresh empty folder
bool WaitForFile(const std::string &path, DWORD timeout_ms = 10000);
std::string ReadText(const std::string &path);
void WriteText(const std::string &path, const std::string &text);
