// MIDI output through the WinMM calls, device caps, the mapper, loopback,
// thru and faults.
#include "harness.h"

#include <cstddef>

namespace {

using OutTest = VmidiTest;

struct Block {
    explicit Block(const std::string &bytes) : data(bytes) {
        hdr.lpData = &data[0];
        hdr.dwBufferLength = static_cast<DWORD>(data.size());
    }
    std::string data;
    MIDIHDR hdr = {};
};

TEST_F(OutTest, DevicesAndCaps) {
    EXPECT_EQ(0u, midiOutGetNumDevs());
    MIDIOUTCAPSA oc;
    HMIDIOUT ho;
    EXPECT_EQ(MMSYSERR_BADDEVICEID, midiOutGetDevCapsA(MIDI_MAPPER, &oc, sizeof(oc))) << "no mapper without outputs";
    EXPECT_EQ(MMSYSERR_BADDEVICEID, midiOutOpen(&ho, MIDI_MAPPER, 0, 0, CALLBACK_NULL));

    vmidi_add_input("In A");
    vmidi_add_input("In B with a name longer than thirty-one");
    vmidi_add_output("Out A");
    EXPECT_EQ(2u, midiInGetNumDevs());
    EXPECT_EQ(1u, midiOutGetNumDevs());
    MIDIINCAPSA ic;
    struct InCase {
        UINT_PTR id;
        MMRESULT rc;
        const char *name;
    } ins[] = {{0, MMSYSERR_NOERROR, "In A"},
               {1, MMSYSERR_NOERROR, "In B with a name longer than th"},
               {2, MMSYSERR_BADDEVICEID, nullptr},
               {static_cast<UINT>(MIDI_MAPPER), MMSYSERR_BADDEVICEID, nullptr}};
    for (const InCase &c : ins) {
        EXPECT_EQ(c.rc, midiInGetDevCapsA(c.id, &ic, sizeof(ic))) << c.id;
        if (c.name) EXPECT_STREQ(c.name, ic.szPname);
    }
    EXPECT_EQ(MMSYSERR_INVALPARAM, midiInGetDevCapsA(0, nullptr, sizeof(ic)));

    struct OutCase {
        UINT_PTR id;
        const char *name;
        WORD tech;
    } outs[] = {{0, "Out A", MOD_MIDIPORT}, {static_cast<UINT>(MIDI_MAPPER), "Microsoft MIDI Mapper", MOD_MAPPER}};
    for (const OutCase &c : outs) {
        ASSERT_EQ(MMSYSERR_NOERROR, midiOutGetDevCapsA(c.id, &oc, sizeof(oc)));
        EXPECT_STREQ(c.name, oc.szPname);
        EXPECT_EQ(c.tech, oc.wTechnology);
        EXPECT_EQ(0xFFFF, oc.wChannelMask);
    }
    EXPECT_EQ(MMSYSERR_BADDEVICEID, midiOutGetDevCapsA(1, &oc, sizeof(oc)));

    // Caps by handle, and an output handle is no input.
    ho = OpenOut(0);
    ASSERT_EQ(MMSYSERR_NOERROR, midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(ho), &oc, sizeof(oc)));
    EXPECT_STREQ("Out A", oc.szPname);
    EXPECT_EQ(MMSYSERR_BADDEVICEID, midiInGetDevCapsA(reinterpret_cast<UINT_PTR>(ho), &ic, sizeof(ic)));
    DWORD vol;
    EXPECT_EQ(MMSYSERR_NOTSUPPORTED, midiOutGetVolume(ho, &vol));
    EXPECT_EQ(MMSYSERR_INVALPARAM, midiOutGetVolume(ho, nullptr));
    midiOutClose(ho);
}

TEST_F(OutTest, MapperOpensTheFirstOutput) {
    vmidi_add_output("Out A");
    vmidi_add_output("Out B");
    HMIDIOUT h = OpenOut(MIDI_MAPPER);
    UINT id = 0;
    EXPECT_EQ(MMSYSERR_NOERROR, midiOutGetID(h, &id));
    EXPECT_EQ(static_cast<UINT>(MIDI_MAPPER), id);
    EXPECT_TRUE(OutInfo(0).open);
    EXPECT_TRUE(OutInfo(0).mapper);
    EXPECT_FALSE(OutInfo(1).open);
    midiOutShortMsg(h, 0x90);
    EXPECT_EQ(1u, OutInfo(0).shortCount);
    HMIDIOUT again;
    EXPECT_EQ(MMSYSERR_ALLOCATED, midiOutOpen(&again, 0, 0, 0, CALLBACK_NULL));
    EXPECT_EQ(MMSYSERR_NOERROR, midiOutClose(h));
    ASSERT_TRUE(win.PumpFor(MM_MOM_CLOSE, 1));
    EXPECT_EQ(static_cast<UINT>(MM_MOM_OPEN), win.notes[0].msg);
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(h), win.notes[0].wp);
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(h), win.notes[1].wp);
}

TEST_F(OutTest, HeaderCalls) {
    vmidi_add_output("Out");
    HMIDIOUT h = OpenOut(0);
    Block b(Bytes("F0 7E 7F 06 01 F7"));
    const UINT full = sizeof(MIDIHDR), old = offsetof(MIDIHDR, dwOffset);
    HMIDIOUT bad = reinterpret_cast<HMIDIOUT>(static_cast<UINT_PTR>(0x1234));
    vmidi_set_rate(0, 1);  // a block stays in the queue until midiOutReset
    struct Case {
        const char *what;
        MMRESULT(WINAPI *call)(HMIDIOUT, LPMIDIHDR, UINT);
        HMIDIOUT h;
        MIDIHDR *hdr;
        UINT size;
        MMRESULT rc;
    } cases[] = {
        {"long, unprepared", midiOutLongMsg, h, &b.hdr, full, MIDIERR_UNPREPARED},
        {"prepare, null handle", midiOutPrepareHeader, nullptr, &b.hdr, full, MMSYSERR_INVALHANDLE},
        {"prepare, bad handle", midiOutPrepareHeader, bad, &b.hdr, full, MMSYSERR_INVALHANDLE},
        {"prepare, tiny size", midiOutPrepareHeader, h, &b.hdr, old - 1, MMSYSERR_INVALPARAM},
        {"prepare, null header", midiOutPrepareHeader, h, nullptr, full, MMSYSERR_INVALPARAM},
        {"prepare", midiOutPrepareHeader, h, &b.hdr, full, MMSYSERR_NOERROR},
        {"prepare, again", midiOutPrepareHeader, h, &b.hdr, full, MMSYSERR_NOERROR},
        {"long, bad handle", midiOutLongMsg, bad, &b.hdr, full, MMSYSERR_INVALHANDLE},
        {"long", midiOutLongMsg, h, &b.hdr, full, MMSYSERR_NOERROR},
        {"long, queued already", midiOutLongMsg, h, &b.hdr, full, MIDIERR_STILLPLAYING},
        {"unprepare, playing", midiOutUnprepareHeader, h, &b.hdr, full, MIDIERR_STILLPLAYING},
    };
    for (const Case &c : cases) EXPECT_EQ(c.rc, c.call(c.h, c.hdr, c.size)) << c.what;
    EXPECT_EQ(static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE), b.hdr.dwFlags & ~MHDR_DONE);
    EXPECT_EQ(MIDIERR_STILLPLAYING, midiOutClose(h));
    EXPECT_EQ(MIDIERR_STILLPLAYING, midiOutClose(h));
    EXPECT_EQ(2u, vmidi_calls("midiOutClose"));
    EXPECT_EQ(2u, vmidi_answers("midiOutClose", MIDIERR_STILLPLAYING));

    EXPECT_EQ(MMSYSERR_NOERROR, midiOutReset(h));
    ASSERT_TRUE(win.PumpFor(MM_MOM_DONE, 1));
    EXPECT_EQ(reinterpret_cast<LPARAM>(&b.hdr), win.Of(MM_MOM_DONE)[0].lp);
    EXPECT_EQ(static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE), b.hdr.dwFlags);
    EXPECT_EQ(MMSYSERR_NOERROR, midiOutUnprepareHeader(h, &b.hdr, full));
    EXPECT_EQ(MMSYSERR_NOERROR, midiOutClose(h));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, midiOutShortMsg(h, 0x90));
}

TEST_F(OutTest, LongMessagesPlayInOrderAndAreRecorded) {
    struct Case {
        const char *what;
        DWORD rate;
    } cases[] = {{"at once", 0}, {"fast wire", 100000}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        vmidi_reset();
        win.notes.clear();
        vmidi_add_output("Out");
        vmidi_set_rate(0, c.rate);
        HMIDIOUT h = OpenOut(0);
        Block a(Bytes("F0 41 10 42 12 40 00 7F 00 41 F7")), b(Bytes("F0 43 10 4C F7"));
        for (Block *x : {&a, &b}) {
            ASSERT_EQ(MMSYSERR_NOERROR, midiOutPrepareHeader(h, &x->hdr, sizeof(MIDIHDR)));
            ASSERT_EQ(MMSYSERR_NOERROR, midiOutLongMsg(h, &x->hdr, sizeof(MIDIHDR)));
        }
        midiOutShortMsg(h, 0x7F3C90);
        ASSERT_TRUE(win.PumpFor(MM_MOM_DONE, 2));
        std::vector<Note> done = win.Of(MM_MOM_DONE);
        EXPECT_EQ(reinterpret_cast<LPARAM>(&a.hdr), done[0].lp);
        EXPECT_EQ(reinterpret_cast<LPARAM>(&b.hdr), done[1].lp);
        for (const Note &n : done) {
            EXPECT_EQ(reinterpret_cast<UINT_PTR>(h), n.wp);
            EXPECT_EQ(static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE), n.flags);
        }
        EXPECT_TRUE(vmidi_wait_out(0, 1000));
        EXPECT_EQ(a.data + b.data, Sent(0));
        VMIDI_OUT_INFO info = OutInfo(0);
        EXPECT_EQ(2u, info.longCount);
        EXPECT_EQ(0u, info.playing);
        DWORD shorts[4];
        ASSERT_EQ(1u, vmidi_out_shorts(0, shorts, 4));
        EXPECT_EQ(0x7F3C90u, shorts[0]);
        EXPECT_EQ(MMSYSERR_NOERROR, midiOutClose(h));
    }
}

TEST_F(OutTest, ResetReturnsEveryPendingBlock) {
    vmidi_add_output("Out");
    vmidi_set_rate(0, 1);
    HMIDIOUT h = OpenOut(0);
    Block a(Bytes("F0 01 02 03 F7")), b(Bytes("F0 04 F7"));
    for (Block *x : {&a, &b}) {
        midiOutPrepareHeader(h, &x->hdr, sizeof(MIDIHDR));
        midiOutLongMsg(h, &x->hdr, sizeof(MIDIHDR));
    }
    EXPECT_EQ(2u, OutInfo(0).playing);
    EXPECT_FALSE(vmidi_wait_out(0, 20));
    ASSERT_EQ(MMSYSERR_NOERROR, midiOutReset(h));
    ASSERT_TRUE(win.PumpFor(MM_MOM_DONE, 2));
    EXPECT_EQ(reinterpret_cast<LPARAM>(&a.hdr), win.Of(MM_MOM_DONE)[0].lp);
    EXPECT_EQ(reinterpret_cast<LPARAM>(&b.hdr), win.Of(MM_MOM_DONE)[1].lp);
    EXPECT_EQ(0u, OutInfo(0).playing);
    EXPECT_LT(Sent(0).size(), a.data.size()) << "the block stopped where it was";
    EXPECT_EQ(MMSYSERR_NOERROR, midiOutClose(h));
}

TEST_F(OutTest, LoopbackEchoesWhatIsPlayed) {
    int out;
    int in = vmidi_add_loopback(&out);
    vmidi_set_rate(out, 20000);
    MIDIINCAPSA ic;
    MIDIOUTCAPSA oc;
    midiInGetDevCapsA(in, &ic, sizeof(ic));
    midiOutGetDevCapsA(out, &oc, sizeof(oc));
    EXPECT_STREQ("Loopback", ic.szPname);
    EXPECT_STREQ("Loopback", oc.szPname);

    HMIDIOUT ho = OpenOut(out);
    midiOutShortMsg(ho, 0x00417F90);  // nobody listens yet: this echo is gone
    HMIDIIN hi = OpenIn(in);
    std::string got;
    win.onNote = [&](const Note &n) {
        if (n.msg != MM_MIM_LONGDATA) return;
        got += n.data;
        midiInAddBuffer(hi, reinterpret_cast<MIDIHDR *>(n.lp), sizeof(MIDIHDR));
    };
    Buffers bufs(hi, 2, 64);
    bufs.AddAll();
    midiInStart(hi);
    std::string dump;
    for (int m = 0; m < 5; ++m) {
        dump += '\xF0';
        for (int i = 0; i < 100; ++i) dump += static_cast<char>((m + i) & 0x7F);
        dump += '\xF7';
    }
    Block b(dump);
    midiOutPrepareHeader(ho, &b.hdr, sizeof(MIDIHDR));
    ASSERT_EQ(MMSYSERR_NOERROR, midiOutLongMsg(ho, &b.hdr, sizeof(MIDIHDR)));
    midiOutShortMsg(ho, 0x00407F90);
    ASSERT_TRUE(win.PumpUntil([&] { return got.size() >= dump.size() && !win.Of(MM_MIM_DATA).empty(); }));
    EXPECT_EQ(dump, got);
    ASSERT_TRUE(win.PumpFor(MM_MOM_DONE, 1));
    ASSERT_EQ(1u, win.Of(MM_MIM_DATA).size());
    EXPECT_EQ(0x00407F90, win.Of(MM_MIM_DATA)[0].lp);
    win.onNote = nullptr;
    CloseIn(hi);
    midiOutClose(ho);
}

TEST_F(OutTest, ThruForwardsInputToTheConnectedOutput) {
    vmidi_add_input("In");
    vmidi_add_output("Out");
    vmidi_add_output("Other");
    HMIDIIN hi = OpenIn(0);
    HMIDIOUT ho = OpenOut(0), other = OpenOut(1);
    HMIDI in = reinterpret_cast<HMIDI>(hi);
    HMIDI bad = reinterpret_cast<HMIDI>(static_cast<UINT_PTR>(0x1234));
    struct Case {
        const char *what;
        MMRESULT(WINAPI *call)(HMIDI, HMIDIOUT, LPVOID);
        HMIDI from;
        HMIDIOUT to;
        MMRESULT rc;
    } cases[] = {
        {"connect, null input", midiConnect, nullptr, ho, MMSYSERR_INVALHANDLE},
        {"connect, bad input", midiConnect, bad, ho, MMSYSERR_INVALHANDLE},
        {"connect, null output", midiConnect, in, nullptr, MMSYSERR_INVALHANDLE},
        {"connect, output as input", midiConnect, reinterpret_cast<HMIDI>(ho), other, MMSYSERR_INVALHANDLE},
        {"connect", midiConnect, in, ho, MMSYSERR_NOERROR},
        {"connect, input taken", midiConnect, in, other, MIDIERR_NOTREADY},
        {"disconnect, bad output", midiDisconnect, in, reinterpret_cast<HMIDIOUT>(bad), MMSYSERR_INVALHANDLE},
        {"disconnect, other output", midiDisconnect, in, other, MMSYSERR_INVALPARAM},
    };
    for (const Case &c : cases) EXPECT_EQ(c.rc, c.call(c.from, c.to, nullptr)) << c.what;
    EXPECT_EQ(0, InInfo(0).thruOut);

    Buffers bufs(hi, 1, 32);
    bufs.AddAll();
    midiInStart(hi);
    std::string dump = Bytes("F0 00 01 02 F7");
    vmidi_in_short(0, 0x00403C90);
    vmidi_in_sysex(0, dump.data(), static_cast<DWORD>(dump.size()), 0);
    ASSERT_TRUE(win.PumpFor(MM_MIM_LONGDATA, 1));
    EXPECT_EQ(dump, Sent(0));
    DWORD shorts[2];
    ASSERT_EQ(1u, vmidi_out_shorts(0, shorts, 2));
    EXPECT_EQ(0x00403C90u, shorts[0]);
    EXPECT_EQ(0u, OutInfo(0).longCount) << "thru is no long message of the program's";
    EXPECT_EQ(0u, vmidi_out_shorts(1, nullptr, 0));

    EXPECT_EQ(MMSYSERR_NOERROR, midiDisconnect(in, ho, nullptr));
    vmidi_in_short(0, 0x00403C80);
    ASSERT_TRUE(win.PumpFor(MM_MIM_DATA, 2));
    EXPECT_EQ(1u, vmidi_out_shorts(0, nullptr, 0));
    midiInClose(hi);
    midiOutClose(ho);
    midiOutClose(other);
}

TEST_F(OutTest, FaultsAnswerTheChosenResult) {
    vmidi_add_input("In");
    vmidi_add_output("Out");
    struct Env {
        HMIDIIN in = nullptr;
        HMIDIOUT out = nullptr;
        std::string data = std::string("\xF0\xF7", 2);
        MIDIHDR ih = {}, oh = {};
    };
    struct Case {
        const char *call;
        MMRESULT (*run)(Env &);
    } cases[] = {
        {"in_open", [](Env &e) { return midiInOpen(&e.in, 0, 0, 0, CALLBACK_NULL); }},
        {"in_prepare", [](Env &e) { return midiInPrepareHeader(e.in, &e.ih, sizeof(MIDIHDR)); }},
        {"in_add_buffer", [](Env &e) { return midiInAddBuffer(e.in, &e.ih, sizeof(MIDIHDR)); }},
        {"out_open", [](Env &e) { return midiOutOpen(&e.out, 0, 0, 0, CALLBACK_NULL); }},
        {"out_prepare", [](Env &e) { return midiOutPrepareHeader(e.out, &e.oh, sizeof(MIDIHDR)); }},
        {"out_long_msg", [](Env &e) { return midiOutLongMsg(e.out, &e.oh, sizeof(MIDIHDR)); }},
        {"connect", [](Env &e) { return midiConnect(reinterpret_cast<HMIDI>(e.in), e.out, nullptr); }},
    };
    vmidi_set_rate(0, 0);
    Env e;
    e.ih.lpData = e.oh.lpData = &e.data[0];
    e.ih.dwBufferLength = e.oh.dwBufferLength = 2;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.call);
        ASSERT_TRUE(vmidi_fault(c.call, 2, MMSYSERR_NOMEM));
        EXPECT_EQ(MMSYSERR_NOMEM, c.run(e));
        EXPECT_EQ(MMSYSERR_NOMEM, c.run(e));
        EXPECT_EQ(MMSYSERR_NOERROR, c.run(e)) << "only the next two calls fail";
        EXPECT_EQ(2u, vmidi_answers(c.call, MMSYSERR_NOMEM));
    }
    EXPECT_TRUE(vmidi_fault("midiOutShortMsg", VMIDI_ALWAYS, MIDIERR_NOTREADY));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(MIDIERR_NOTREADY, midiOutShortMsg(e.out, 0x90));
    EXPECT_EQ(0u, OutInfo(0).shortCount);
    EXPECT_TRUE(vmidi_fault("out_short_msg", 0, 0));
    EXPECT_EQ(MMSYSERR_NOERROR, midiOutShortMsg(e.out, 0x90));
    EXPECT_FALSE(vmidi_fault("midiNoSuchCall", 1, 0));
}

TEST_F(OutTest, ErrorTexts) {
    char text[MAXERRORLENGTH];
    struct Case {
        MMRESULT rc, answer;
    } cases[] = {{MIDIERR_STILLPLAYING, MMSYSERR_NOERROR},
                 {MMSYSERR_INVALHANDLE, MMSYSERR_NOERROR},
                 {12345, MMSYSERR_BADERRNUM}};
    for (const Case &c : cases) {
        text[0] = 0;
        EXPECT_EQ(c.answer, midiOutGetErrorTextA(c.rc, text, sizeof(text)));
        EXPECT_EQ(c.answer, midiInGetErrorTextA(c.rc, text, sizeof(text)));
        EXPECT_EQ(c.answer == MMSYSERR_NOERROR, text[0] != 0) << c.rc;
    }
}

}  // namespace
