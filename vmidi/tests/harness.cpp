#include "harness.h"

#include <cstdlib>

MidiWindow::MidiWindow() {
    static ATOM cls = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VmidiTestWindow";
        return RegisterClassA(&wc);
    }();
    (void)cls;
    hwnd_ = CreateWindowExA(0, "VmidiTestWindow", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MidiWindow::~MidiWindow() { DestroyWindow(hwnd_); }

LRESULT CALLBACK MidiWindow::Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto *self = reinterpret_cast<MidiWindow *>(GetWindowLongPtrA(h, GWLP_USERDATA));
    if (self && msg >= MM_MIM_OPEN && msg <= MM_MIM_MOREDATA) {
        Note n{msg, static_cast<UINT_PTR>(wp), lp, 0, 0, {}};
        if (msg == MM_MIM_LONGDATA || msg == MM_MIM_LONGERROR || msg == MM_MOM_DONE) {
            auto *hdr = reinterpret_cast<MIDIHDR *>(lp);
            n.flags = hdr->dwFlags;
            n.bytes = hdr->dwBytesRecorded;
            DWORD len = msg == MM_MOM_DONE ? hdr->dwBufferLength : hdr->dwBytesRecorded;
            n.data.assign(hdr->lpData, len);
        }
        self->notes.push_back(n);
        if (self->onNote) self->onNote(n);
        return 0;
    }
    return DefWindowProcA(h, msg, wp, lp);
}

bool MidiWindow::PumpUntil(const std::function<bool()> &done, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        if (done()) return true;
        DWORD spent = GetTickCount() - start;
        if (spent >= timeout_ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(10, timeout_ms - spent), QS_ALLINPUT);
    }
}

bool MidiWindow::PumpFor(UINT msg, size_t count, DWORD timeout_ms) {
    return PumpUntil([&] { return Of(msg).size() >= count; }, timeout_ms);
}

void MidiWindow::Drain(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

std::vector<Note> MidiWindow::Of(UINT msg) const {
    std::vector<Note> out;
    for (const Note &n : notes)
        if (n.msg == msg) out.push_back(n);
    return out;
}

Buffers::Buffers(HMIDIIN in, size_t count, DWORD size) : in_(in), hdrs_(count), data_(count) {
    for (size_t i = 0; i < count; ++i) {
        data_[i].assign(size, '\0');
        hdrs_[i] = MIDIHDR{};
        hdrs_[i].lpData = &data_[i][0];
        hdrs_[i].dwBufferLength = size;
        EXPECT_EQ(MMSYSERR_NOERROR, midiInPrepareHeader(in, &hdrs_[i], sizeof(MIDIHDR)));
    }
}

void Buffers::AddAll() {
    for (MIDIHDR &h : hdrs_) EXPECT_EQ(MMSYSERR_NOERROR, midiInAddBuffer(in_, &h, sizeof(MIDIHDR)));
}

HMIDIIN VmidiTest::OpenIn(UINT id, DWORD flags) {
    HMIDIIN h = nullptr;
    EXPECT_EQ(MMSYSERR_NOERROR, midiInOpen(&h, id, win.cb(), 0, flags));
    return h;
}

HMIDIOUT VmidiTest::OpenOut(UINT id) {
    HMIDIOUT h = nullptr;
    EXPECT_EQ(MMSYSERR_NOERROR, midiOutOpen(&h, id, win.cb(), 0, CALLBACK_WINDOW));
    return h;
}

void VmidiTest::CloseIn(HMIDIIN h) {
    size_t closes = win.Of(MM_MIM_CLOSE).size();
    EXPECT_EQ(MMSYSERR_NOERROR, midiInReset(h));
    EXPECT_EQ(MMSYSERR_NOERROR, midiInClose(h));
    EXPECT_TRUE(win.PumpFor(MM_MIM_CLOSE, closes + 1));
}

void VmidiTest::CloseOut(HMIDIOUT h) {
    size_t closes = win.Of(MM_MOM_CLOSE).size();
    EXPECT_EQ(MMSYSERR_NOERROR, midiOutReset(h));
    EXPECT_EQ(MMSYSERR_NOERROR, midiOutClose(h));
    EXPECT_TRUE(win.PumpFor(MM_MOM_CLOSE, closes + 1));
}

std::string VmidiTest::Sent(int out) {
    std::string s(vmidi_out_sent(out, nullptr, 0), '\0');
    if (!s.empty()) vmidi_out_sent(out, &s[0], static_cast<DWORD>(s.size()));
    return s;
}

VMIDI_IN_INFO VmidiTest::InInfo(int in) {
    VMIDI_IN_INFO i = {};
    i.cbSize = sizeof(i);
    EXPECT_TRUE(vmidi_in_info(in, &i));
    return i;
}

VMIDI_OUT_INFO VmidiTest::OutInfo(int out) {
    VMIDI_OUT_INFO i = {};
    i.cbSize = sizeof(i);
    EXPECT_TRUE(vmidi_out_info(out, &i));
    return i;
}

std::string Bytes(const char *hex) {
    std::string out;
    while (*hex) {
        if (*hex == ' ') {
            ++hex;
            continue;
        }
        char pair[3] = {hex[0], hex[1], 0};
        out += static_cast<char>(strtol(pair, nullptr, 16));
        hex += 2;
    }
    return out;
}

std::string TempDir(const char *name) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string dir = std::string(base) + "vmidi-" + name + "-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    WIN32_FIND_DATAA fd;
    HANDLE f = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (f != INVALID_HANDLE_VALUE) {
        do
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((dir + "\\" + fd.cFileName).c_str());
        while (FindNextFileA(f, &fd));
        FindClose(f);
    }
    return dir;
}

bool WaitForFile(const std::string &path, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(5);
    }
    return true;
}

std::string ReadText(const std::string &path) {
    std::string s;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return s;
    char buf[4096];
    DWORD got;
    while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got) s.append(buf, got);
    CloseHandle(f);
    return s;
}

void WriteText(const std::string &path, const std::string &text) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f) << path;
    DWORD put;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
    CloseHandle(f);
}
