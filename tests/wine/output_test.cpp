// The output port and the thru connection, over the virtual driver.
#include "tests/wine/midi_fixture.h"

namespace {

class Output : public MidiTest {
protected:
    void ChooseOutput(int position)
    {
        window->Choose(IDC_OUT_DEVICE, position);
        Pump();
    }
    VMIDI_OUT_INFO OutInfo(int output) const
    {
        VMIDI_OUT_INFO info = {};
        info.cbSize = sizeof(info);
        vmidi_out_info(output, &info);
        return info;
    }
    std::string State() const { return window->Text(IDC_OUT_STATE); }
};

std::vector<std::string> ListEntries(HWND list)
{
    std::vector<std::string> entries;
    const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char name[64] = "";
        SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        entries.push_back(name);
    }
    return entries;
}

TEST_F(Output, ListsTheMapperFirstAndMapsPositionsToIds)
{
    StartWindow({}, {"Out A", "Out B"});
    EXPECT_EQ(ListEntries(window->item(IDC_OUT_DEVICE)),
              (std::vector<std::string>{"Microsoft MIDI Mapper", "Out A", "Out B"}));
    EXPECT_EQ(SendMessageA(window->item(IDC_OUT_DEVICE), CB_GETCURSEL, 0, 0), CB_ERR);

    ChooseOutput(0);
    EXPECT_EQ(State(), "Ok");
    EXPECT_TRUE(OutInfo(0).mapper);
    EXPECT_TRUE(window->Enabled(IDC_SEND));

    ChooseOutput(2);
    EXPECT_EQ(State(), "Ok");
    EXPECT_FALSE(OutInfo(0).open);
    EXPECT_TRUE(OutInfo(1).open);
    EXPECT_FALSE(OutInfo(1).mapper);

    // The same entry again closes and reopens it.
    ChooseOutput(2);
    EXPECT_EQ(vmidi_calls("midiOutClose"), 2u);
    EXPECT_EQ(vmidi_calls("midiOutOpen"), 3u);
    EXPECT_TRUE(OutInfo(1).open);
}

TEST_F(Output, WithoutDevicesOnlyTheMapperIsListedAndItCannotOpen)
{
    StartWindow({}, {});
    const std::vector<std::string> entries = ListEntries(window->item(IDC_OUT_DEVICE));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], "MIDI Mapper");
    ChooseOutput(0);
    EXPECT_EQ(State(), "Error opening device");
    EXPECT_FALSE(window->Enabled(IDC_SEND));
}

TEST_F(Output, AFailedOpenAfterAWorkingOneLeavesNothingOpen)
{
    StartWindow({}, {"Out A", "Out B"});
    ChooseOutput(1);
    vmidi_fault("out_open", 1, MMSYSERR_ALLOCATED);
    ChooseOutput(2);
    EXPECT_EQ(State(), "Error opening device");
    EXPECT_EQ(app.midiOut, nullptr);
    EXPECT_FALSE(window->Enabled(IDC_SEND));
    EXPECT_FALSE(OutInfo(0).open);
    EXPECT_FALSE(OutInfo(1).open);
}

TEST_F(Output, ChangingDeviceWhileABlockPlaysWaitsForItThenReopens)
{
    StartWindow({}, {"Out A", "Out B"});
    vmidi_set_rate(-1, 3125);
    ChooseOutput(1);
    const Bytes dump = SysexMessage(600); // about 0.2 s at MIDI speed
    auto *block = static_cast<unsigned char *>(std::malloc(dump.size()));
    std::copy(dump.begin(), dump.end(), block);
    SendLongMessage(window->hwnd(), block, static_cast<DWORD>(dump.size()));
    EXPECT_NE(app.pendingSends, nullptr) << "the device is still reading the block";

    ChooseOutput(2);
    EXPECT_GT(vmidi_answers("midiOutClose", MIDIERR_STILLPLAYING), 0u);
    EXPECT_EQ(vmidi_answers("midiOutClose", MMSYSERR_NOERROR), 1u);
    EXPECT_EQ(app.pendingSends, nullptr) << "the played block is released";
    EXPECT_TRUE(OutInfo(1).open);
    Bytes sent(dump.size());
    EXPECT_EQ(vmidi_out_sent(0, sent.data(), static_cast<DWORD>(sent.size())), dump.size());
    EXPECT_EQ(sent, dump);
    // The late done notification of the released block is harmless.
    Pump(50);
    EXPECT_EQ(State(), "Ok");
}

TEST_F(Output, ThruConnectsTheOpenInputToTheOpenOutput)
{
    StartWindow({"Synth"}, {"Out A"});
    // Nothing open: the platform refuses the null handles; the button stays pressed.
    window->SetText(IDC_STATUS, "before");
    window->Click(IDC_THRU);
    EXPECT_TRUE(window->Checked(IDC_THRU));
    EXPECT_EQ(Status(), "Error connecting devices together");
    window->SetText(IDC_STATUS, "before");
    window->Click(IDC_THRU);
    EXPECT_FALSE(window->Checked(IDC_THRU));
    EXPECT_EQ(vmidi_calls("midiDisconnect"), 1u);
    EXPECT_EQ(Status(), "before");

    window->Choose(IDC_IN_DEVICE, 0);
    ChooseOutput(1);
    window->Click(IDC_THRU);
    EXPECT_EQ(Status(), "before");
    vmidi_in_short(0, 0x00643C90);
    Pump();
    DWORD shorts[4] = {};
    EXPECT_EQ(vmidi_out_shorts(0, shorts, 4), 1u);
    EXPECT_EQ(shorts[0], 0x00643C90u);

    // A device change leaves the button and makes no new connection.
    ChooseOutput(1);
    EXPECT_TRUE(window->Checked(IDC_THRU));
    EXPECT_EQ(vmidi_calls("midiConnect"), 2u);
}

} // namespace
