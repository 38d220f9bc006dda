// The input port: device list, opening, the buffer queue, notifications and the watchdog.
#include "tests/wine/midi_fixture.h"

#include <cstdlib>

namespace {

class Input : public MidiTest {
protected:
    // Ticks of the watchdog delivered by hand, with the real timer stopped.
    void Ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(window->Call(WM_TIMER, IDT_SIGNAL), TRUE);
    }
    void StopRealTimer() { KillTimer(window->hwnd(), IDT_SIGNAL); }
    std::string State() const { return window->Text(IDC_IN_STATE); }
};

TEST_F(Input, ListsDevicesInIdOrderAndOpensTheChosenOne)
{
    StartWindow({"Synth A", "Synth B", "Synth C"});
    HWND list = window->item(IDC_IN_DEVICE);
    ASSERT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0), 3);
    for (int i = 0; i < 3; ++i) {
        char name[64];
        SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        EXPECT_EQ(std::string(name), std::string("Synth ") + char('A' + i));
    }
    ChooseInput(2);
    EXPECT_EQ(State(), "Ok");
    EXPECT_TRUE(InInfo(2).open);
    EXPECT_TRUE(InInfo(2).started);
    EXPECT_EQ(InInfo(2).queued, 50u);
    EXPECT_FALSE(InInfo(0).open);
    EXPECT_TRUE(window->Enabled(IDC_CAPTURE));
    EXPECT_TRUE(window->Enabled(IDC_VERIFY));
    EXPECT_EQ(vmidi_calls("midiInPrepareHeader"), 50u);
    // Each buffer holds 500 bytes: a long message comes back in 500-byte pieces.
    std::vector<DWORD> sizes;
    vmidi_in_sysex(2, SysexMessage(1200).data(), 1200, 0);
    Pump();
    EXPECT_EQ(Status(), "Captured 0 bytes,  1 SOX, 1 EOX (equal)");
    EXPECT_EQ(InInfo(2).delivered, 1200u);
    EXPECT_EQ(InInfo(2).queued, 50u) << "every returned buffer is queued again";
}

TEST_F(Input, WithoutDevicesTheListIsEmptyAndCaptureStaysOff)
{
    StartWindow({});
    EXPECT_EQ(SendMessageA(window->item(IDC_IN_DEVICE), CB_GETCOUNT, 0, 0), 0);
    EXPECT_FALSE(window->Enabled(IDC_CAPTURE));
    EXPECT_FALSE(window->Enabled(IDC_VERIFY));
}

TEST_F(Input, ChoosingTheOpenEntryAgainClosesAndReopensWithNewBuffers)
{
    StartWindow({"Synth"});
    ChooseInput(0);
    ChooseInput(0);
    EXPECT_EQ(vmidi_calls("midiInStop"), 1u);
    EXPECT_EQ(vmidi_calls("midiInReset"), 1u);
    EXPECT_EQ(vmidi_answers("midiInClose", MMSYSERR_NOERROR), 1u);
    EXPECT_EQ(vmidi_calls("midiInOpen"), 2u);
    EXPECT_EQ(InInfo(0).queued, 50u) << "the old buffers came back empty and were dropped";
    EXPECT_EQ(State(), "Ok");
}

TEST_F(Input, AFailedOpenAfterAWorkingOneLeavesNothingOpen)
{
    StartWindow({"Synth A", "Synth B"});
    ChooseInput(0);
    vmidi_fault("in_open", 1, MMSYSERR_ALLOCATED);
    ChooseInput(1);
    EXPECT_EQ(State(), "Error opening device");
    EXPECT_EQ(app.midiIn, nullptr);
    EXPECT_FALSE(InInfo(0).open);
    EXPECT_FALSE(window->Enabled(IDC_CAPTURE));
    EXPECT_FALSE(window->Enabled(IDC_VERIFY));
    // No watchdog runs: the label stays as the open left it.
    Pump(1000);
    EXPECT_EQ(State(), "Error opening device");
}

TEST_F(Input, PrepareFailuresShowTheirBoxes)
{
    StartWindow({"Synth"});
    vmidi_fault("in_prepare", 3, MMSYSERR_NOMEM);
    {
        BoxAnswerer boxes;
        ChooseInput(0);
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>(3, "midiInPrepareHeader()"));
    }
    EXPECT_EQ(vmidi_calls("midiInAddBuffer"), 50u) << "a header that failed to prepare is still offered";
    EXPECT_EQ(InInfo(0).queued, 47u);
    vmidi_fault("in_prepare", 1, MMSYSERR_NOMEM);
    BoxAnswerer boxes;
    Feed(0, SysexMessage(10));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"error midiInPrepareHeader() 139"});
    // The header is still prepared from before, so the device takes it back all the same.
    EXPECT_EQ(InInfo(0).queued, 47u);
}

TEST_F(Input, ErrorNotificationsShowTheirNameAndALongErrorKeepsItsBuffer)
{
    StartWindow({"Synth"});
    ChooseInput(0);
    StopRealTimer();
    app.silenceMs = 300;
    BoxAnswerer boxes;
    vmidi_in_error(0, 0x123456);
    vmidi_in_long_error(0);
    Pump();
    window->Call(MM_MIM_MOREDATA, 0, 0x0090);
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"MM_MIM_ERROR", "MM_MIM_LONGERROR", "MM_MIM_MOREDATA"}));
    EXPECT_EQ(app.silenceMs, 300u) << "errors are not input";
    EXPECT_EQ(InInfo(0).queued, 49u);
    EXPECT_EQ(Status(), "?");
}

TEST_F(Input, WatchdogShowsNoSignalOnTheEighthSilentTick)
{
    StartWindow({"Synth"});
    ChooseInput(0);
    StopRealTimer();
    Ticks(7);
    EXPECT_EQ(State(), "Ok");
    Ticks(1);
    EXPECT_EQ(State(), "No signal");
    Ticks(20);
    EXPECT_EQ(app.silenceMs, 800u) << "the count rests while no signal shows";

    // One event brings "Ok" back on the next tick; silence then counts from that tick.
    window->Call(MM_MIM_DATA, 0, 0xF8);
    EXPECT_EQ(State(), "No signal");
    Ticks(1);
    EXPECT_EQ(State(), "Ok");
    Ticks(7);
    EXPECT_EQ(State(), "Ok");
    Ticks(1);
    EXPECT_EQ(State(), "No signal");

    // Active sensing alone keeps the signal and never changes the status line.
    const std::string status = Status();
    window->Call(MM_MIM_DATA, 0, 0xFE);
    for (int i = 0; i < 10; ++i) {
        Ticks(3);
        window->Call(MM_MIM_DATA, 0, 0xFE);
        EXPECT_EQ(State(), "Ok");
    }
    EXPECT_EQ(Status(), status);
}

TEST_F(Input, TheRealTimerReportsSilence)
{
    StartWindow({"Synth"});
    ChooseInput(0);
    EXPECT_EQ(State(), "Ok");
    EXPECT_TRUE(PumpUntil([&] { return State() == "No signal"; }, 10000));
    vmidi_in_short(0, 0x00643C90);
    EXPECT_TRUE(PumpUntil([&] { return State() == "Ok"; }, 5000));
}

TEST_F(Input, ShortMessagesShowTheirThreeBytes)
{
    StartWindow({"Synth"});
    ChooseInput(0);
    const struct {
        DWORD packed;
        const char *shown;
    } cases[] = {
        {0x00643C90, "0x3C 0x64, status 0x90"}, // note on, key 60, velocity 100
        {0x000005C0, "0x05 0x00, status 0xC0"}, // program change 5
        {0x000000F8, "0x00 0x00, status 0xF8"}, // timing clock
        {0x000100FE, "0x00 0x01, status 0xFE"}, // not plain active sensing
    };
    for (const auto &c : cases) {
        vmidi_in_short(0, c.packed);
        Pump();
        EXPECT_EQ(Status(), c.shown);
    }
    vmidi_in_short(0, 0xFE);
    Pump();
    EXPECT_EQ(Status(), "0x00 0x01, status 0xFE");
}

TEST_F(Input, AnEmptyReturnedBufferIsDroppedNotQueued)
{
    StartWindow({"Synth"});
    ChooseInput(0);
    app.silenceMs = 500;
    auto *header = static_cast<MIDIHDR *>(std::calloc(1, sizeof(MIDIHDR)));
    header->lpData = static_cast<LPSTR>(std::malloc(INPUT_BUFFER_SIZE));
    header->dwBufferLength = INPUT_BUFFER_SIZE;
    const DWORD adds = vmidi_calls("midiInAddBuffer");
    EXPECT_EQ(window->Call(MM_MIM_LONGDATA, 0, reinterpret_cast<LPARAM>(header)), TRUE);
    EXPECT_EQ(app.silenceMs, 0u);
    EXPECT_EQ(vmidi_calls("midiInAddBuffer"), adds);
    EXPECT_EQ(Status(), "?");
}

TEST_F(Input, ABufferFromThePreviousDeviceIsAccountedAndQueuedWithTheNewOne)
{
    StartWindow({"Synth A", "Synth B"});
    ChooseInput(0);
    Feed(0, Slice(SysexMessage(300), 0, 120), false); // part of a message, still in its buffer
    ChooseInput(1);
    EXPECT_EQ(Status(), "Captured 0 bytes,  1 SOX, 0 EOX (NOT equal)");
    EXPECT_EQ(InInfo(1).queued, 51u);
    EXPECT_EQ(InInfo(0).queued, 0u);
}

TEST_F(Input, RepeatedDeviceChangesKeepMemoryFlat)
{
    StartWindow({"Synth A", "Synth B"});
    // Bytes in use on every heap of the process (the C runtime keeps one of its own).
    auto heapBytes = [] {
        HANDLE heaps[64];
        const DWORD count = GetProcessHeaps(64, heaps);
        SIZE_T used = 0;
        for (DWORD i = 0; i < count && i < 64; ++i) {
            PROCESS_HEAP_ENTRY entry = {};
            HeapLock(heaps[i]);
            while (HeapWalk(heaps[i], &entry))
                if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                    used += entry.cbData;
            HeapUnlock(heaps[i]);
        }
        return used;
    };
    for (int i = 0; i < 20; ++i)
        ChooseInput(i % 2);
    const SIZE_T before = heapBytes();
    for (int i = 0; i < 200; ++i)
        ChooseInput(i % 2);
    // 200 opens allocate 10,000 buffers; what stays is at most a few of them.
    EXPECT_LT(heapBytes(), before + 64 * 1024);
}

} // namespace
