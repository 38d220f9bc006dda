// MIDI input through the WinMM calls: notifications, buffer handling, stop,
// reset and close, injected errors, streaming.
#include "harness.h"

#include <cstddef>

namespace {

using InTest = VmidiTest;

TEST_F(InTest, OpenAndClosePostNotificationsWithTheHandle) {
    vmidi_add_input("Synth");
    HMIDIIN h = OpenIn(0);
    HMIDIIN again;
    EXPECT_EQ(MMSYSERR_ALLOCATED, midiInOpen(&again, 0, win.cb(), 0, CALLBACK_WINDOW));
    EXPECT_EQ(MMSYSERR_NOERROR, midiInClose(h));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, midiInClose(h));
    ASSERT_TRUE(win.PumpFor(MM_MIM_CLOSE, 1));
    ASSERT_EQ(2u, win.notes.size());
    EXPECT_EQ(static_cast<UINT>(MM_MIM_OPEN), win.notes[0].msg);
    EXPECT_EQ(static_cast<UINT>(MM_MIM_CLOSE), win.notes[1].msg);
    for (const Note &n : win.notes) {
        EXPECT_EQ(reinterpret_cast<UINT_PTR>(h), n.wp);
        EXPECT_EQ(0, n.lp);
    }
}

TEST_F(InTest, OpenArguments) {
    vmidi_add_input("Synth");
    HMIDIIN h;
    struct Case {
        const char *what;
        UINT id;
        DWORD_PTR cb;
        DWORD flags;
        MMRESULT rc;
    } cases[] = {
        {"id past the end", 1, 0, CALLBACK_NULL, MMSYSERR_BADDEVICEID},
        {"no input mapper", MIDI_MAPPER, 0, CALLBACK_NULL, MMSYSERR_BADDEVICEID},
        {"not a window", 0, 0x12345678, CALLBACK_WINDOW, MMSYSERR_INVALPARAM},
        {"unknown flag", 0, 0, 0x00800000, MMSYSERR_INVALFLAG},
        {"no callback", 0, 0, CALLBACK_NULL, MMSYSERR_NOERROR},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.rc, midiInOpen(&h, c.id, c.cb, 0, c.flags)) << c.what;
        if (c.rc == MMSYSERR_NOERROR) EXPECT_EQ(MMSYSERR_NOERROR, midiInClose(h));
    }
    EXPECT_EQ(MMSYSERR_INVALPARAM, midiInOpen(nullptr, 0, 0, 0, CALLBACK_NULL));
}

TEST_F(InTest, HeaderCalls) {
    vmidi_add_input("Synth");
    HMIDIIN h = OpenIn(0);
    char buf[16];
    MIDIHDR hdr = {};
    hdr.lpData = buf;
    hdr.dwBufferLength = sizeof(buf);
    const UINT full = sizeof(MIDIHDR), old = offsetof(MIDIHDR, dwOffset);
    HMIDIIN bad = reinterpret_cast<HMIDIIN>(static_cast<UINT_PTR>(0x1234));

    EXPECT_EQ(MIDIERR_UNPREPARED, midiInAddBuffer(h, &hdr, full));
    struct Case {
        const char *what;
        MMRESULT(WINAPI *call)(HMIDIIN, LPMIDIHDR, UINT);
        HMIDIIN h;
        MIDIHDR *hdr;
        UINT size;
        MMRESULT rc;
    } cases[] = {
        {"prepare, null handle", midiInPrepareHeader, nullptr, &hdr, full, MMSYSERR_INVALHANDLE},
        {"prepare, bad handle", midiInPrepareHeader, bad, &hdr, full, MMSYSERR_INVALHANDLE},
        {"prepare, null header", midiInPrepareHeader, h, nullptr, full, MMSYSERR_INVALPARAM},
        {"prepare, tiny size", midiInPrepareHeader, h, &hdr, old - 1, MMSYSERR_INVALPARAM},
        {"prepare, old size", midiInPrepareHeader, h, &hdr, old, MMSYSERR_NOERROR},
        {"prepare, again", midiInPrepareHeader, h, &hdr, full, MMSYSERR_NOERROR},
        {"add, null handle", midiInAddBuffer, nullptr, &hdr, full, MMSYSERR_INVALHANDLE},
        {"add, bad handle", midiInAddBuffer, bad, &hdr, full, MMSYSERR_INVALHANDLE},
        {"add, null header", midiInAddBuffer, h, nullptr, full, MMSYSERR_INVALPARAM},
        {"add", midiInAddBuffer, h, &hdr, full, MMSYSERR_NOERROR},
        {"add, queued already", midiInAddBuffer, h, &hdr, full, MIDIERR_STILLPLAYING},
        {"unprepare, queued", midiInUnprepareHeader, h, &hdr, full, MIDIERR_STILLPLAYING},
    };
    for (const Case &c : cases) EXPECT_EQ(c.rc, c.call(c.h, c.hdr, c.size)) << c.what;
    EXPECT_EQ(static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE), hdr.dwFlags);
    EXPECT_EQ(MIDIERR_STILLPLAYING, midiInClose(h));
    EXPECT_EQ(1u, vmidi_answers("midiInClose", MIDIERR_STILLPLAYING));
    EXPECT_EQ(MMSYSERR_NOERROR, midiInReset(h));
    EXPECT_EQ(MMSYSERR_NOERROR, midiInUnprepareHeader(h, &hdr, full));
    EXPECT_EQ(0u, hdr.dwFlags & MHDR_PREPARED);
    EXPECT_EQ(MMSYSERR_NOERROR, midiInUnprepareHeader(h, &hdr, full)) << "not prepared any more";
    EXPECT_EQ(MMSYSERR_NOERROR, midiInClose(h));
    EXPECT_EQ(6u, vmidi_calls("midiInPrepareHeader"));
    EXPECT_EQ(6u, vmidi_calls("in_prepare")) << "aliases count the same call";
}

// How a SysEx stream is cut into returned buffers.
TEST_F(InTest, SysexFillsBuffersInOrder) {
    struct Feed {
        const char *hex;
        DWORD flags;
    };
    struct Case {
        const char *what;
        DWORD bufSize;
        std::vector<Feed> feeds;
        std::vector<const char *> returned;
    } cases[] = {
        {"message ends in one buffer", 16, {{"F0 01 02 F7", 0}}, {"F0 01 02 F7"}},
        {"full buffers, then the end", 4, {{"F0 01 02 03 04 05 06 07 08 F7", 0}},
         {"F0 01 02 03", "04 05 06 07", "08 F7"}},
        {"two messages in one feed", 16, {{"F0 01 F7 F0 02 F7", 0}}, {"F0 01 F7", "F0 02 F7"}},
        {"one message over several feeds", 16, {{"F0 01", 0}, {"02", 0}, {"03 F7", 0}}, {"F0 01 02 03 F7"}},
        {"flush splits where the feeder says", 16, {{"F0 01 02", VMIDI_FLUSH}, {"03 F7", 0}},
         {"F0 01 02", "03 F7"}},
        {"flush of an empty buffer returns nothing", 16, {{"", VMIDI_FLUSH}, {"F0 F7", 0}}, {"F0 F7"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        vmidi_reset();
        win.notes.clear();
        vmidi_add_input("Synth");
        HMIDIIN h = OpenIn(0);
        Buffers bufs(h, 4, c.bufSize);
        bufs.AddAll();
        ASSERT_EQ(MMSYSERR_NOERROR, midiInStart(h));
        for (const Feed &f : c.feeds) {
            std::string b = Bytes(f.hex);
            EXPECT_EQ(MMSYSERR_NOERROR, vmidi_in_sysex(0, b.data(), static_cast<DWORD>(b.size()), f.flags));
        }
        ASSERT_TRUE(win.PumpFor(MM_MIM_LONGDATA, c.returned.size()));
        win.Drain();
        std::vector<Note> got = win.Of(MM_MIM_LONGDATA);
        ASSERT_EQ(c.returned.size(), got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(reinterpret_cast<LPARAM>(bufs.hdr(i)), got[i].lp) << "buffers come back in queue order";
            EXPECT_EQ(reinterpret_cast<UINT_PTR>(h), got[i].wp);
            EXPECT_EQ(Bytes(c.returned[i]), got[i].data);
            EXPECT_EQ(static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE), got[i].flags);
        }
        EXPECT_EQ(4 - c.returned.size(), InInfo(0).queued);
        CloseIn(h);
    }
}

TEST_F(InTest, DataWaitsForStartAndForBuffers) {
    vmidi_add_input("Synth");
    HMIDIIN h = OpenIn(0);
    std::string dump = Bytes("F0 43 10 4C 00 00 7E 00 F7");
    vmidi_in_short(0, 0x7F3C90);
    vmidi_in_sysex(0, dump.data(), static_cast<DWORD>(dump.size()), 0);
    vmidi_in_short(0, 0x003C80);
    Buffers bufs(h, 1, 4);
    bufs.AddAll();
    win.Drain();
    EXPECT_TRUE(win.Of(MM_MIM_DATA).empty()) << "nothing before midiInStart";
    EXPECT_EQ(dump.size(), InInfo(0).waiting);

    ASSERT_EQ(MMSYSERR_NOERROR, midiInStart(h));
    ASSERT_TRUE(win.PumpFor(MM_MIM_LONGDATA, 1));
    win.Drain();
    // One 4-byte buffer: the rest of the dump and the note after it wait.
    EXPECT_EQ(1u, win.Of(MM_MIM_DATA).size());
    EXPECT_EQ(dump.size() - 4, InInfo(0).waiting);
    std::string got;
    while (got.size() < dump.size()) {
        Note last = win.Of(MM_MIM_LONGDATA).back();
        got += last.data;
        if (got.size() >= dump.size()) break;
        size_t seen = win.Of(MM_MIM_LONGDATA).size();
        ASSERT_EQ(MMSYSERR_NOERROR, midiInAddBuffer(h, bufs.hdr(0), sizeof(MIDIHDR)));
        ASSERT_TRUE(win.PumpFor(MM_MIM_LONGDATA, seen + 1));
    }
    EXPECT_EQ(dump, got) << "nothing lost while no buffer was queued";
    ASSERT_TRUE(win.PumpFor(MM_MIM_DATA, 2));
    std::vector<UINT> order;
    for (const Note &n : win.notes)
        if (n.msg == MM_MIM_DATA || n.msg == MM_MIM_LONGDATA) order.push_back(n.msg);
    EXPECT_EQ(static_cast<UINT>(MM_MIM_DATA), order.front());
    EXPECT_EQ(static_cast<UINT>(MM_MIM_DATA), order.back()) << "the second note stays behind the dump";
    EXPECT_EQ(0x7F3C90, win.Of(MM_MIM_DATA)[0].lp);
    EXPECT_EQ(0x003C80, win.Of(MM_MIM_DATA)[1].lp);
    CloseIn(h);
}

TEST_F(InTest, StopReturnsThePartlyFilledBufferAndResetReturnsAll) {
    vmidi_add_input("Synth");
    HMIDIIN h = OpenIn(0);
    Buffers bufs(h, 3, 16);
    bufs.AddAll();
    midiInStart(h);
    std::string part = Bytes("F0 00 20 33");
    vmidi_in_sysex(0, part.data(), static_cast<DWORD>(part.size()), 0);

    ASSERT_EQ(MMSYSERR_NOERROR, midiInStop(h));
    ASSERT_TRUE(win.PumpFor(MM_MIM_LONGDATA, 1));
    win.Drain();
    ASSERT_EQ(1u, win.Of(MM_MIM_LONGDATA).size()) << "empty buffers stay queued on stop";
    EXPECT_EQ(part, win.Of(MM_MIM_LONGDATA)[0].data);
    EXPECT_EQ(2u, InInfo(0).queued);
    EXPECT_FALSE(InInfo(0).started);
    EXPECT_EQ(MIDIERR_STILLPLAYING, midiInClose(h));

    ASSERT_EQ(MMSYSERR_NOERROR, midiInReset(h));
    ASSERT_TRUE(win.PumpFor(MM_MIM_LONGDATA, 3));
    std::vector<Note> got = win.Of(MM_MIM_LONGDATA);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(reinterpret_cast<LPARAM>(bufs.hdr(i)), got[i].lp);
        EXPECT_EQ(0u, got[i].bytes);
        EXPECT_EQ(static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE), got[i].flags);
    }
    EXPECT_EQ(0u, InInfo(0).queued);
    EXPECT_EQ(MMSYSERR_NOERROR, midiInClose(h));
    EXPECT_EQ(1u, vmidi_answers("in_close", MIDIERR_STILLPLAYING));
}

TEST_F(InTest, InjectedNotifications) {
    struct Case {
        const char *what;
        DWORD openFlags;
        MMRESULT (*inject)(int);
        UINT expect;
        bool takesBuffer;
    } cases[] = {
        {"error", CALLBACK_WINDOW, [](int in) { return vmidi_in_error(in, 0x123456); }, MM_MIM_ERROR, false},
        {"more data with MIDI_IO_STATUS", CALLBACK_WINDOW | MIDI_IO_STATUS,
         [](int in) { return vmidi_in_more_data(in, 0x123456); }, MM_MIM_MOREDATA, false},
        {"more data without MIDI_IO_STATUS is plain data", CALLBACK_WINDOW,
         [](int in) { return vmidi_in_more_data(in, 0x123456); }, MM_MIM_DATA, false},
        {"long error takes the head buffer", CALLBACK_WINDOW, vmidi_in_long_error, MM_MIM_LONGERROR, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        vmidi_reset();
        win.notes.clear();
        vmidi_add_input("Synth");
        HMIDIIN h = OpenIn(0, c.openFlags);
        Buffers bufs(h, 2, 8);
        bufs.AddAll();
        midiInStart(h);
        std::string part = Bytes("F0 01");
        vmidi_in_sysex(0, part.data(), 2, 0);
        ASSERT_EQ(MMSYSERR_NOERROR, c.inject(0));
        ASSERT_TRUE(win.PumpFor(c.expect, 1));
        Note n = win.Of(c.expect)[0];
        EXPECT_EQ(reinterpret_cast<UINT_PTR>(h), n.wp);
        if (c.takesBuffer) {
            EXPECT_EQ(reinterpret_cast<LPARAM>(bufs.hdr(0)), n.lp);
            EXPECT_EQ(part, n.data);
            EXPECT_EQ(static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE), n.flags);
            EXPECT_EQ(1u, InInfo(0).queued);
        } else {
            EXPECT_EQ(0x123456, n.lp);
            EXPECT_EQ(2u, InInfo(0).queued);
        }
        CloseIn(h);
    }
    EXPECT_EQ(MMSYSERR_BADDEVICEID, vmidi_in_error(5, 0));
}

TEST_F(InTest, LossyInputDropsBytesWithoutABufferAndSaysSo) {
    vmidi_add_input("Synth");
    ASSERT_EQ(MMSYSERR_NOERROR, vmidi_in_set_lossy(0, TRUE));
    HMIDIIN h = OpenIn(0);
    midiInStart(h);
    std::string dump = Bytes("F0 7E 00 06 01 F7");
    vmidi_in_sysex(0, dump.data(), static_cast<DWORD>(dump.size()), 0);
    EXPECT_EQ(dump.size(), InInfo(0).lost);
    EXPECT_EQ(0u, InInfo(0).waiting);

    Buffers bufs(h, 2, 16);
    bufs.AddAll();
    ASSERT_TRUE(win.PumpFor(MM_MIM_LONGERROR, 1));
    Note err = win.Of(MM_MIM_LONGERROR)[0];
    EXPECT_EQ(reinterpret_cast<LPARAM>(bufs.hdr(0)), err.lp);
    EXPECT_EQ(0u, err.bytes);
    // The device goes on normally with the buffers left.
    vmidi_in_sysex(0, dump.data(), static_cast<DWORD>(dump.size()), 0);
    ASSERT_TRUE(win.PumpFor(MM_MIM_LONGDATA, 1));
    EXPECT_EQ(dump, win.Of(MM_MIM_LONGDATA)[0].data);
    EXPECT_EQ(1u, win.Of(MM_MIM_LONGERROR).size());
    CloseIn(h);
}

// The program's way of receiving a long dump: re-add each buffer as it comes back.
TEST_F(InTest, StreamedDumpArrivesCompleteThroughRecycledBuffers) {
    struct Case {
        const char *what;
        DWORD rate;
        size_t size;
    } cases[] = {
        {"full speed", 0, 1 << 20},
        {"paced like a synth", 40000, 4000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        vmidi_reset();
        win.notes.clear();
        vmidi_add_input("Synth");
        std::string dump;
        for (size_t i = 0; dump.size() < c.size; ++i) {
            dump += '\xF0';
            for (int k = 0; k < 300 && dump.size() < c.size - 1; ++k) dump += static_cast<char>((i * 7 + k) & 0x7F);
            dump += '\xF7';
        }
        HMIDIIN h = OpenIn(0);
        std::string got;
        win.onNote = [&](const Note &n) {
            if (n.msg != MM_MIM_LONGDATA) return;
            got += n.data;
            midiInAddBuffer(h, reinterpret_cast<MIDIHDR *>(n.lp), sizeof(MIDIHDR));
        };
        Buffers bufs(h, 4, 1024);
        bufs.AddAll();
        midiInStart(h);
        ASSERT_EQ(MMSYSERR_NOERROR, vmidi_in_stream(0, dump.data(), static_cast<DWORD>(dump.size()), c.rate));
        ASSERT_TRUE(win.PumpUntil([&] { return got.size() >= dump.size(); }, 60000));
        EXPECT_TRUE(got == dump) << "got " << got.size() << " of " << dump.size() << " bytes";
        EXPECT_TRUE(vmidi_wait_in(0, 5000));
        VMIDI_IN_INFO info = InInfo(0);
        EXPECT_EQ(dump.size(), info.streamed);
        EXPECT_EQ(0u, info.lost);
        EXPECT_EQ(0u, info.waiting);
        win.onNote = nullptr;
        CloseIn(h);
    }
}

struct Seen {
    HANDLE event;
    UINT msg;
    DWORD_PTR instance, p1;
} seen;

void CALLBACK OnInput(HMIDIIN, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR) {
    if (msg != MIM_DATA) return;
    seen.msg = msg;
    seen.instance = inst;
    seen.p1 = p1;
    SetEvent(seen.event);
}

// Clients that do not use a window get the same notifications their own way.
TEST_F(InTest, OtherCallbackKinds) {
    seen.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    vmidi_add_input("Synth");

    struct Case {
        const char *what;
        DWORD flags;
    } cases[] = {{"function", CALLBACK_FUNCTION}, {"thread", CALLBACK_THREAD}, {"event", CALLBACK_EVENT}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DWORD_PTR target = c.flags == CALLBACK_FUNCTION ? reinterpret_cast<DWORD_PTR>(&OnInput)
                           : c.flags == CALLBACK_THREAD ? GetCurrentThreadId()
                                                        : reinterpret_cast<DWORD_PTR>(seen.event);
        HMIDIIN h;
        ASSERT_EQ(MMSYSERR_NOERROR, midiInOpen(&h, 0, target, 0x5A5A, c.flags));
        midiInStart(h);
        seen.msg = 0;
        ResetEvent(seen.event);
        vmidi_in_short(0, 0x00407F90);
        if (c.flags == CALLBACK_THREAD) {
            MSG m;
            bool got = false;
            DWORD start = GetTickCount();
            while (!got && GetTickCount() - start < 10000) {
                while (PeekMessageA(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
                    if (m.message == MM_MIM_DATA) {
                        got = true;
                        EXPECT_EQ(reinterpret_cast<WPARAM>(h), m.wParam);
                        EXPECT_EQ(0x00407F90, m.lParam);
                    }
                Sleep(1);
            }
            EXPECT_TRUE(got);
        } else {
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(seen.event, 10000));
            if (c.flags == CALLBACK_FUNCTION) {
                EXPECT_EQ(static_cast<UINT>(MIM_DATA), seen.msg);
                EXPECT_EQ(0x5A5Au, seen.instance);
                EXPECT_EQ(0x00407F90u, seen.p1);
            }
        }
        midiInClose(h);
    }
    CloseHandle(seen.event);
}

}  // namespace
