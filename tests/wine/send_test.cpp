// Sending a file to the output device, over the virtual driver.
#include "tests/wine/midi_fixture.h"

namespace {

const char kQuestion[] = "File looks like corrupted. Are you sure?";

class Send : public MidiTest {
protected:
    void SetUp() override
    {
        MidiTest::SetUp();
        StartWindow({"Synth"}, {"Out A"});
        vmidi_set_rate(-1, 0);
        window->Choose(IDC_OUT_DEVICE, 1);
        Pump();
    }
    // Writes the file, names it in the box and clicks Send.
    void SendFile(const Bytes &content)
    {
        WriteBytes(folder.Path("send.syx"), content);
        window->SetText(IDC_FILENAME, folder.Path("send.syx"));
        window->Click(IDC_SEND);
        vmidi_wait_out(0, 5000);
        Pump();
    }
    Bytes Sent() const
    {
        Bytes sent(vmidi_out_sent(0, nullptr, 0));
        vmidi_out_sent(0, sent.data(), static_cast<DWORD>(sent.size()));
        return sent;
    }
    DWORD LongMessages() const
    {
        VMIDI_OUT_INFO info = {};
        info.cbSize = sizeof(info);
        vmidi_out_info(0, &info);
        return info.longCount;
    }
    ScratchFolder folder;
};

TEST_F(Send, AShortRolandFileGoesOutWithoutAQuestion)
{
    BoxAnswerer boxes;
    SendFile({0xF0, 0x41, 0x10, 0xF7});
    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_EQ(Status(), "Sending 4 bytes in format 0x410FF7  Roland  ... Complete");
    EXPECT_EQ(Sent(), (Bytes{0xF0, 0x41, 0x10, 0xF7}));
    EXPECT_EQ(LongMessages(), 1u);
    EXPECT_EQ(app.pendingSends, nullptr);
}

TEST_F(Send, SeveralMessagesGoAsOneLongMessageByteForByte)
{
    const Bytes file = Concat({SysexMessage(2000, 0x43, 1), SysexMessage(777, 0x42, 2)});
    SendFile(file);
    EXPECT_EQ(Sent(), file);
    EXPECT_EQ(LongMessages(), 1u);
    EXPECT_EQ(Status(), "Sending 2777 bytes in format 0x430304  Yamaha  ... Complete");
}

TEST_F(Send, DataThatDoesNotLookLikeSysexAsksFirst)
{
    const Bytes noEnd = {0xF0, 0x43, 0x76, 0x0D, 0x01};
    const Bytes noStart = {0x90, 0x41, 0x10, 0x42, 0xF7};
    const struct {
        const char *what;
        Bytes file;
        int answer;
        bool sent;
        const char *status;
    } cases[] = {
        {"no end byte, answered No", noEnd, IDNO, false, "Sending 5 bytes in format 0x43760D  Yamaha pss-51 ... Complete"},
        {"no end byte, answered Yes", noEnd, IDYES, true, "Sending 5 bytes in format 0x43760D  Yamaha pss-51 ... Complete"},
        {"no start byte, still described", noStart, IDNO, false, "Sending 5 bytes in format 0x411042  Roland  ... Complete"},
        {"empty file", {}, IDNO, false, "Sending 0 bytes in format 0x------  Unknown  ... Complete"},
        {"one byte", {0xF0}, IDNO, false, "Sending 1 bytes in format 0x------  Unknown  ... Complete"},
    };
    for (const auto &c : cases) {
        vmidi_reset();
        vmidi_add_input("Synth");
        vmidi_add_output("Out A");
        vmidi_set_rate(-1, 0);
        window->Choose(IDC_OUT_DEVICE, 1);
        BoxAnswerer boxes;
        std::string whileAsking;
        boxes.Next(c.answer, [&](HWND, const SeenBox &) { whileAsking = Status(); });
        SendFile(c.file);
        ASSERT_EQ(boxes.Seen().size(), 1u) << c.what;
        const SeenBox &box = boxes.Seen()[0];
        EXPECT_EQ(box.text, kQuestion) << c.what;
        EXPECT_EQ(box.caption, "") << c.what;
        EXPECT_TRUE(box.hasYes && box.hasNo && !box.hasOk) << c.what;
        EXPECT_TRUE(box.hasIcon) << c.what;
        EXPECT_EQ(whileAsking + " Complete", c.status) << "the question comes after the status text";
        EXPECT_EQ(Status(), c.status) << c.what;
        EXPECT_EQ(Sent(), c.sent ? c.file : Bytes{}) << c.what;
    }
}

TEST_F(Send, TwoBytesFromStartToEndNeedNoQuestion)
{
    BoxAnswerer boxes;
    SendFile({0xF0, 0xF7});
    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_EQ(Sent(), (Bytes{0xF0, 0xF7}));
    EXPECT_EQ(Status(), "Sending 2 bytes in format 0xF7----  Unknown  ... Complete");
}

TEST_F(Send, AFileThatCannotBeOpenedShowsOnlyItsBox)
{
    for (const std::string &name : {folder.Path("missing.syx"), std::string()}) {
        window->SetText(IDC_FILENAME, name);
        window->SetText(IDC_STATUS, "before");
        BoxAnswerer boxes;
        const DWORD start = GetTickCount();
        window->Click(IDC_SEND);
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"error in open file"}) << name;
        EXPECT_EQ(Status(), "before") << name;
        EXPECT_LT(GetTickCount() - start, 2000u) << "no pause after a failed open";
    }
    EXPECT_EQ(LongMessages(), 0u);
}

TEST_F(Send, AFileReadShortSendsNothing)
{
    const Bytes file = SysexMessage(900);
    WriteBytes(folder.Path("send.syx"), file);
    window->SetText(IDC_FILENAME, folder.Path("send.syx"));
    BoxAnswerer boxes;
    {
        FailingReads badSector(1, 300);
        window->Click(IDC_SEND);
    }
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error reading file"});
    EXPECT_EQ(Status(), "Sending 900 bytes in format 0x410203  Roland  ... Complete");
    EXPECT_EQ(LongMessages(), 0u);
}

TEST_F(Send, DeviceRefusalsShowTheirBoxesAndTheSendStillCompletes)
{
    const struct {
        const char *fault;
        std::vector<std::string> boxes;
    } cases[] = {
        {"out_prepare", {"error in midiOutPrepareHeader()", "error in midiOutLongMsg()"}},
        {"out_long_msg", {"error in midiOutLongMsg()"}},
    };
    for (const auto &c : cases) {
        vmidi_fault(c.fault, 1, MMSYSERR_NOMEM);
        BoxAnswerer boxes;
        SendFile({0xF0, 0x41, 0x10, 0xF7});
        EXPECT_EQ(boxes.Texts(), c.boxes) << c.fault;
        EXPECT_EQ(Status(), "Sending 4 bytes in format 0x410FF7  Roland  ... Complete") << c.fault;
        EXPECT_EQ(app.pendingSends, nullptr) << c.fault;
    }
    EXPECT_EQ(LongMessages(), 0u);
}

TEST_F(Send, AFileTooLargeToReadIsRefused)
{
    // A sparse file whose size cannot be held in memory in one block.
    HANDLE file = CreateFileA(folder.Path("huge.syx").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 0xFFFFFFFFll;
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    window->SetText(IDC_FILENAME, folder.Path("huge.syx"));
    BoxAnswerer boxes;
    window->Click(IDC_SEND);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"The file is too large to send"});
    EXPECT_EQ(LongMessages(), 0u);
}

TEST_F(Send, TheCapturedFileCannotBeSentButTheVerifiedOneCan)
{
    window->Choose(IDC_IN_DEVICE, 0);
    window->SetText(IDC_FILENAME, folder.Path("dump.syx"));
    window->Click(IDC_CAPTURE);
    ASSERT_EQ(app.mode, Capturing);
    {
        BoxAnswerer boxes;
        window->Click(IDC_SEND);
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"error in open file"});
    }
    Feed(0, SysexMessage(20));
    window->Click(IDC_CAPTURE);
    window->Click(IDC_VERIFY);
    ASSERT_EQ(app.mode, Verifying);
    BoxAnswerer boxes;
    window->Click(IDC_SEND);
    vmidi_wait_out(0, 5000);
    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_EQ(Sent(), SysexMessage(20));
}

} // namespace

namespace {

// A synth that echoes its dump: what is sent to the loopback output comes back at its input.
TEST(Loopback, ASentFileComesBackAsAnIdenticalCaptureAndVerifies)
{
    vmidi_reset();
    int loopOut = -1;
    const int loopIn = vmidi_add_loopback(&loopOut);
    vmidi_set_rate(-1, 31250); // ten times MIDI speed keeps the test short
    ScratchFolder folder;
    const Bytes bank = Concat({SysexMessage(1200, 0x41, 1), SysexMessage(800, 0x41, 2)});
    WriteBytes(folder.Path("bank.syx"), bank);
    {
        MainWindow window;
        window.Choose(IDC_IN_DEVICE, loopIn);
        window.Choose(IDC_OUT_DEVICE, loopOut + 1);
        window.SetText(IDC_FILENAME, folder.Path("echo.syx"));
        window.Click(IDC_CAPTURE);
        window.SetText(IDC_FILENAME, folder.Path("bank.syx"));
        window.Click(IDC_SEND);
        EXPECT_TRUE(PumpUntil([&] { return window.Text(IDC_STATUS) == "Captured 2000 bytes,  2 SOX, 2 EOX (equal)"; }))
            << window.Text(IDC_STATUS);
        window.Click(IDC_CAPTURE);
        EXPECT_EQ(ReadBytes(folder.Path("echo.syx")), bank);

        window.SetText(IDC_FILENAME, folder.Path("echo.syx"));
        window.Click(IDC_VERIFY);
        window.SetText(IDC_FILENAME, folder.Path("bank.syx"));
        window.Click(IDC_SEND);
        EXPECT_TRUE(PumpUntil([&] {
            return window.Text(IDC_STATUS) == "Captured 2000 bytes,  2 SOX, 2 EOX (equal),  verify Ok";
        })) << window.Text(IDC_STATUS);
        window.Click(IDC_VERIFY);
    }
    vmidi_reset();
}

} // namespace
