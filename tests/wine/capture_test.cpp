// Capture to a file, verification against a file, and the status line, over the virtual input.
#include "tests/wine/midi_fixture.h"

namespace {

const char kCannotCreate[] = "error writing file. (file already exists?)";

class Capture : public MidiTest {
protected:
    void SetUp() override
    {
        MidiTest::SetUp();
        StartWindow({"Synth"});
        ChooseInput(0);
    }
    void UseFile(const std::string &name) { window->SetText(IDC_FILENAME, folder.Path(name)); }

    ScratchFolder folder;
};

TEST_F(Capture, WritesEveryBufferToANewFileAndCounts)
{
    const Bytes dump = SysexMessage(620);
    UseFile("dump.syx");
    vmidi_in_short(0, 0x00643C90);
    Pump();
    const std::string before = Status();

    window->Click(IDC_CAPTURE);
    EXPECT_EQ(app.mode, Capturing);
    EXPECT_TRUE(window->Checked(IDC_CAPTURE));
    EXPECT_FALSE(window->Enabled(IDC_IN_DEVICE));
    EXPECT_TRUE(window->Enabled(IDC_VERIFY));
    EXPECT_EQ(Status(), before) << "capture start leaves the status line alone";

    Feed(0, Slice(dump, 0, 500));
    EXPECT_EQ(Status(), "Captured 500 bytes,  1 SOX, 0 EOX (NOT equal)");
    Feed(0, Slice(dump, 500, 120));
    EXPECT_EQ(Status(), "Captured 620 bytes,  1 SOX, 1 EOX (equal)");

    // Nobody else may write to the file, nor read it without admitting the writer.
    const std::string path = folder.Path("dump.syx");
    const struct {
        DWORD access, share;
        bool allowed;
    } others[] = {
        {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {GENERIC_READ, FILE_SHARE_READ, false},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
    };
    for (const auto &o : others) {
        HANDLE other = CreateFileA(path.c_str(), o.access, o.share, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(other != INVALID_HANDLE_VALUE, o.allowed) << o.access << " " << o.share;
        if (other != INVALID_HANDLE_VALUE)
            CloseHandle(other);
    }

    window->Click(IDC_CAPTURE);
    EXPECT_EQ(app.mode, Idle);
    EXPECT_EQ(app.dataFile, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(window->Enabled(IDC_IN_DEVICE));
    EXPECT_EQ(Status(), "Captured 620 bytes,  1 SOX, 1 EOX (equal)");
    EXPECT_EQ(ReadBytes(path), dump);

    // In Idle the number stays the capture's while the marks go on counting.
    Feed(0, SysexMessage(10));
    EXPECT_EQ(Status(), "Captured 620 bytes,  2 SOX, 2 EOX (equal)");
    EXPECT_EQ(ReadBytes(path), dump);
}

TEST_F(Capture, RefusesANameItCannotCreateAndTouchesNothing)
{
    const Bytes existing = SysexMessage(30);
    WriteBytes(folder.Path("bank.syx"), existing);
    const struct {
        const char *what;
        std::string name;
    } cases[] = {
        {"existing file", folder.Path("bank.syx")},
        {"empty name", ""},
        {"missing folder", folder.Path("no such folder\\new.syx")},
    };
    for (const auto &c : cases) {
        window->SetText(IDC_FILENAME, c.name);
        window->SetText(IDC_STATUS, "before");
        BoxAnswerer boxes;
        window->Click(IDC_CAPTURE);
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{kCannotCreate}) << c.what;
        EXPECT_FALSE(window->Checked(IDC_CAPTURE)) << c.what;
        EXPECT_EQ(app.mode, Idle) << c.what;
        EXPECT_EQ(app.dataFile, INVALID_HANDLE_VALUE) << c.what;
        EXPECT_TRUE(window->Enabled(IDC_IN_DEVICE)) << c.what;
        EXPECT_EQ(Status(), "before") << c.what;
    }
    EXPECT_EQ(ReadBytes(folder.Path("bank.syx")), existing);
    EXPECT_FALSE(FileExists(folder.Path("no such folder")));
}

struct VerifyCase {
    const char *what;
    Bytes file;
    std::vector<Bytes> buffers;
    std::vector<const char *> statuses; // after each buffer
};

TEST_F(Capture, VerifyVerdictFollowsEveryBuffer)
{
    const Bytes dump = SysexMessage(620);
    Bytes changed = dump;
    changed[300] ^= 0x01;
    const VerifyCase cases[] = {
        {"exact copy as 500 + 120, then one more buffer",
         dump,
         {Slice(dump, 0, 500), Slice(dump, 500, 120), SysexMessage(10)},
         {"Captured 500 bytes,  1 SOX, 0 EOX (NOT equal),  NOT verified",
          "Captured 620 bytes,  1 SOX, 1 EOX (equal),  verify Ok",
          "Captured 630 bytes,  2 SOX, 2 EOX (equal),  NOT verified"}},
        {"one differing byte",
         dump,
         {Slice(changed, 0, 500), Slice(changed, 500, 120)},
         {"Captured 500 bytes,  1 SOX, 0 EOX (NOT equal),  NOT verified",
          "Captured 620 bytes,  1 SOX, 1 EOX (equal),  NOT verified"}},
        {"longer than the file in one buffer",
         Slice(dump, 0, 400),
         {Slice(dump, 0, 500)},
         {"Captured 500 bytes,  1 SOX, 0 EOX (NOT equal),  NOT verified"}},
        {"empty file", {}, {SysexMessage(10)}, {"Captured 10 bytes,  1 SOX, 1 EOX (equal),  NOT verified"}},
        {"shorter than the file",
         dump,
         {Slice(dump, 0, 500)},
         {"Captured 500 bytes,  1 SOX, 0 EOX (NOT equal),  NOT verified"}},
    };
    int n = 0;
    for (const VerifyCase &c : cases) {
        const std::string name = "verify" + std::to_string(++n) + ".syx";
        WriteBytes(folder.Path(name), c.file);
        UseFile(name);
        window->SetText(IDC_STATUS, "before");
        window->Click(IDC_VERIFY);
        ASSERT_EQ(app.mode, Verifying) << c.what;
        EXPECT_EQ(Status(), "") << "verify start empties the status line";
        EXPECT_FALSE(window->Enabled(IDC_CAPTURE));
        EXPECT_FALSE(window->Enabled(IDC_IN_DEVICE));
        for (size_t i = 0; i < c.buffers.size(); ++i) {
            Feed(0, c.buffers[i]);
            EXPECT_EQ(Status(), c.statuses[i]) << c.what << ", buffer " << i;
        }
        window->Click(IDC_VERIFY);
        EXPECT_EQ(app.mode, Idle) << c.what;
        EXPECT_EQ(app.compareBuffer, nullptr);
        EXPECT_TRUE(window->Enabled(IDC_CAPTURE));
        EXPECT_TRUE(window->Enabled(IDC_IN_DEVICE));
        EXPECT_EQ(Status(), c.statuses.back()) << "verify end keeps the line";
    }
    // After a verification, Idle shows the verify file's size, whatever was received.
    Feed(0, SysexMessage(10));
    EXPECT_EQ(Status(), "Captured 620 bytes,  2 SOX, 1 EOX (NOT equal)");
}

TEST_F(Capture, AFailedReadDuringVerifyCountsAsADifference)
{
    const Bytes dump = SysexMessage(620);
    WriteBytes(folder.Path("dump.syx"), dump);
    UseFile("dump.syx");
    window->Click(IDC_VERIFY);
    {
        // A bad sector: the read fails after part of the block, and nothing is reported.
        FailingReads badSector(1, 200);
        BoxAnswerer boxes;
        Feed(0, Slice(dump, 0, 500));
        EXPECT_TRUE(boxes.Seen().empty());
    }
    Feed(0, Slice(dump, 500, 120));
    EXPECT_EQ(Status(), "Captured 620 bytes,  1 SOX, 1 EOX (equal),  NOT verified");
}

TEST_F(Capture, VerifyAgainstAMissingFileIsRefused)
{
    UseFile("missing.syx");
    BoxAnswerer boxes;
    window->Click(IDC_VERIFY);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"error opening file"});
    EXPECT_FALSE(window->Checked(IDC_VERIFY));
    EXPECT_EQ(app.mode, Idle);
    EXPECT_EQ(app.dataFile, INVALID_HANDLE_VALUE);
}

TEST_F(Capture, VerifyWhileCapturingEndsTheCaptureAndReadsItsFile)
{
    const Bytes dump = SysexMessage(700);
    UseFile("dump.syx");
    window->Click(IDC_CAPTURE);
    FeedBuffers(0, {Slice(dump, 0, 500), Slice(dump, 500, 200)});

    window->Click(IDC_VERIFY);
    EXPECT_EQ(app.mode, Verifying);
    EXPECT_FALSE(window->Checked(IDC_CAPTURE));
    EXPECT_FALSE(window->Enabled(IDC_CAPTURE));
    EXPECT_FALSE(window->Enabled(IDC_IN_DEVICE));
    EXPECT_EQ(ReadBytes(folder.Path("dump.syx")), dump) << "the capture is closed and complete";

    FeedBuffers(0, {Slice(dump, 0, 500), Slice(dump, 500, 200)});
    EXPECT_EQ(Status(), "Captured 700 bytes,  1 SOX, 1 EOX (equal),  verify Ok");
}

TEST_F(Capture, VerifyWhileCapturingWithAMissingFileLeavesBothOff)
{
    const Bytes dump = SysexMessage(100);
    UseFile("dump.syx");
    window->Click(IDC_CAPTURE);
    Feed(0, dump);
    UseFile("missing.syx");
    BoxAnswerer boxes;
    window->Click(IDC_VERIFY);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"error opening file"});
    EXPECT_FALSE(window->Checked(IDC_CAPTURE));
    EXPECT_FALSE(window->Checked(IDC_VERIFY));
    EXPECT_EQ(app.mode, Idle);
    EXPECT_TRUE(window->Enabled(IDC_IN_DEVICE));
    EXPECT_TRUE(window->Enabled(IDC_CAPTURE));
    EXPECT_EQ(ReadBytes(folder.Path("dump.syx")), dump);
}

TEST_F(Capture, CountsMarksInIdleAcrossBuffers)
{
    const Bytes message = SysexMessage(300);
    Feed(0, Slice(message, 0, 200));
    EXPECT_EQ(Status(), "Captured 0 bytes,  1 SOX, 0 EOX (NOT equal)");
    Feed(0, Slice(message, 200, 100));
    EXPECT_EQ(Status(), "Captured 0 bytes,  1 SOX, 1 EOX (equal)");
    // Marks count wherever they stand, also several in one buffer.
    Feed(0, Concat({SysexMessage(5), SysexMessage(6), Bytes{0xF0}}));
    EXPECT_EQ(Status(), "Captured 0 bytes,  4 SOX, 3 EOX (NOT equal)");
}

TEST_F(Capture, AFailedWriteIsReportedPerBufferAndStillCounted)
{
    const Bytes dump = SysexMessage(1500);
    UseFile("dump.syx");
    window->Click(IDC_CAPTURE);
    {
        FailingWrites full(2);
        BoxAnswerer boxes;
        FeedBuffers(0, {Slice(dump, 0, 500), Slice(dump, 500, 500), Slice(dump, 1000, 500)});
        EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"Error writing file", "Error writing file"}));
    }
    EXPECT_EQ(Status(), "Captured 1500 bytes,  1 SOX, 1 EOX (equal)");
    {
        FailingWrites partly(1, 100);
        BoxAnswerer boxes;
        Feed(0, SysexMessage(300));
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error writing file"});
    }
    EXPECT_EQ(Status(), "Captured 1800 bytes,  2 SOX, 2 EOX (equal)");
    window->Click(IDC_CAPTURE);
    // The file holds what could be written, in order: the third buffer, then a part of the next.
    EXPECT_EQ(ReadBytes(folder.Path("dump.syx")), Concat({Slice(dump, 1000, 500), Slice(SysexMessage(300), 0, 100)}));
}

TEST_F(Capture, ABufferHandledWhileAnErrorBoxIsOpenIsCountedOnce)
{
    const Bytes dump = SysexMessage(1000);
    UseFile("dump.syx");
    window->Click(IDC_CAPTURE);
    FailingWrites full(1);
    BoxAnswerer boxes;
    // While the box about the first buffer is open, the second comes back and is handled.
    std::string whileOpen;
    boxes.Next(IDOK, [&](HWND, const SeenBox &) {
        const Bytes second = Slice(dump, 500, 500);
        vmidi_in_sysex(0, second.data(), 500, VMIDI_FLUSH);
        Pump();
        whileOpen = Status();
    });
    Feed(0, Slice(dump, 0, 500));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error writing file"});
    EXPECT_EQ(whileOpen, "Captured 500 bytes,  0 SOX, 1 EOX (NOT equal)");
    EXPECT_EQ(Status(), "Captured 1000 bytes,  1 SOX, 1 EOX (equal)");
    window->Click(IDC_CAPTURE);
    EXPECT_EQ(ReadBytes(folder.Path("dump.syx")), Slice(dump, 500, 500));
}

TEST_F(Capture, ACaptureRequestWhileVerifyingEndsTheVerificationFirst)
{
    WriteBytes(folder.Path("old.syx"), SysexMessage(50));
    UseFile("old.syx");
    window->Click(IDC_VERIFY);
    ASSERT_EQ(app.mode, Verifying);
    UseFile("new.syx");
    BoxAnswerer boxes;
    // Only possible from outside the window: the capture box is disabled.
    CheckDlgButton(window->hwnd(), IDC_CAPTURE, BST_CHECKED);
    SendMessageA(window->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_CAPTURE, BN_CLICKED), 0);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"ERROR 188"});
    EXPECT_EQ(app.mode, Capturing);
    EXPECT_EQ(app.compareBuffer, nullptr);
    EXPECT_FALSE(window->Checked(IDC_VERIFY));
    Feed(0, SysexMessage(20));
    window->Click(IDC_CAPTURE);
    EXPECT_EQ(ReadBytes(folder.Path("new.syx")), SysexMessage(20));
    // The verify file was closed: it can be opened for writing again.
    HANDLE old = CreateFileA(folder.Path("old.syx").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(old, INVALID_HANDLE_VALUE);
    CloseHandle(old);
}

TEST_F(Capture, ClosingTheWindowKeepsTheCapturedBytes)
{
    const Bytes dump = SysexMessage(600);
    UseFile("dump.syx");
    window->Click(IDC_CAPTURE);
    FeedBuffers(0, {Slice(dump, 0, 500), Slice(dump, 500, 100)});
    window.reset();
    EXPECT_EQ(ReadBytes(folder.Path("dump.syx")), dump);
    VMIDI_IN_INFO info = InInfo(0);
    EXPECT_FALSE(info.open) << "the device is released";
}

} // namespace
