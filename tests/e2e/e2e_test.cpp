// The shipped program as a person uses it, driven from outside with virtual devices.
#include "tests/e2e/driver.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const char kSynth[] = "in Synth\nout Synth\nrate 0\n";

std::string CapturedLine(size_t bytes, size_t messages, const char *suffix = "")
{
    return "Captured " + std::to_string(bytes) + " bytes,  " + std::to_string(messages) + " SOX, " +
           std::to_string(messages) + " EOX (equal)" + suffix;
}

class EndToEnd : public ::testing::Test {
protected:
    ScratchFolder work;
};

TEST_F(EndToEnd, TypicalCaptureStepByStep)
{
    VirtualDevices devices(kSynth);
    Program program("", &devices, work.path());
    ASSERT_NE(program.window(), nullptr);
    EXPECT_EQ(program.Text(IDC_FILENAME), "z_new.syx");
    EXPECT_EQ(program.ListEntries(IDC_IN_DEVICE), std::vector<std::string>{"Synth"});

    // 1. The input device: "Ok", and the capture box can be ticked.
    program.Choose(IDC_IN_DEVICE, 0);
    ASSERT_TRUE(program.WaitText(IDC_IN_STATE, "Ok"));
    ASSERT_TRUE(devices.WaitFor("in0.queued", "50"));
    EXPECT_TRUE(program.Enabled(IDC_CAPTURE));

    // 2. Capture into the default name, a new file in the working folder.
    program.Click(IDC_CAPTURE);
    ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, true));
    EXPECT_FALSE(program.Enabled(IDC_IN_DEVICE));

    // 3. The instrument dumps 12 messages, arriving in pieces of odd sizes.
    const Bytes dump = Dump(12, 333);
    ASSERT_TRUE(devices.Command("file 0 " + devices.Put("dump.syx", dump) + " 137\n"));
    EXPECT_TRUE(program.WaitText(IDC_STATUS, CapturedLine(dump.size(), 12))) << program.Text(IDC_STATUS);

    // 4. Untick: the file holds the dump exactly, and the list can be used again.
    program.Click(IDC_CAPTURE);
    ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, false));
    EXPECT_EQ(program.Text(IDC_STATUS), CapturedLine(dump.size(), 12));
    EXPECT_TRUE(program.Enabled(IDC_IN_DEVICE));
    EXPECT_EQ(ReadBytes(work.Path("z_new.syx")), dump);

    // The instrument falls silent: "No signal" after about 800 ms.
    EXPECT_TRUE(program.WaitText(IDC_IN_STATE, "No signal", 10000));
    ASSERT_TRUE(devices.Command("short 0 90 3C 64\n"));
    EXPECT_TRUE(program.WaitText(IDC_STATUS, "0x3C 0x64, status 0x90"));
    EXPECT_TRUE(program.WaitText(IDC_IN_STATE, "Ok"));

    PostMessageA(program.window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitForExit(10000), 0u);
}

TEST_F(EndToEnd, VerifiesIdenticalChangedAndLongerDumps)
{
    VirtualDevices devices(kSynth);
    const Bytes dump = Dump(8, 250);
    Bytes changed = dump;
    changed[1234] ^= 0x10;
    const Bytes longer = [&] {
        Bytes bytes = dump;
        bytes.push_back(0xF8);
        return bytes;
    }();
    Program program(" \"" + devices.Put("saved bank.syx", dump) + "\"", &devices);
    ASSERT_NE(program.window(), nullptr);
    program.Choose(IDC_IN_DEVICE, 0);
    ASSERT_TRUE(program.WaitText(IDC_IN_STATE, "Ok"));

    const struct {
        const char *what;
        Bytes received;
        const char *verdict;
    } cases[] = {
        {"identical", dump, ",  verify Ok"},
        {"one byte changed", changed, ",  NOT verified"},
        {"one byte longer", longer, ",  NOT verified"},
    };
    int n = 0;
    for (const auto &c : cases) {
        program.Click(IDC_VERIFY);
        ASSERT_TRUE(program.WaitText(IDC_STATUS, "")) << c.what;
        ASSERT_TRUE(devices.Command("file 0 " + devices.Put("in" + std::to_string(++n), c.received) + " 200\n"));
        EXPECT_TRUE(program.WaitText(IDC_STATUS, [&](const std::string &s) {
            return s.rfind("Captured " + std::to_string(c.received.size()) + " bytes", 0) == 0 &&
                   s.size() > 16 && s.compare(s.size() - std::strlen(c.verdict), std::string::npos, c.verdict) == 0;
        })) << c.what << ": " << program.Text(IDC_STATUS);
        program.Click(IDC_VERIFY);
        EXPECT_TRUE(program.WaitChecked(IDC_VERIFY, false));
    }
}

TEST_F(EndToEnd, SendsAFileToTheOutputByteForByte)
{
    VirtualDevices devices(kSynth);
    const Bytes bank = Dump(5, 700);
    Program program(" " + devices.Put("bank.syx", bank), &devices);
    ASSERT_NE(program.window(), nullptr);
    EXPECT_EQ(program.ListEntries(IDC_OUT_DEVICE), (std::vector<std::string>{"Microsoft MIDI Mapper", "Synth"}));
    program.Choose(IDC_OUT_DEVICE, 1);
    ASSERT_TRUE(program.WaitText(IDC_OUT_STATE, "Ok"));
    program.Click(IDC_SEND);
    EXPECT_TRUE(program.WaitText(IDC_STATUS, "Sending 3500 bytes in format 0x410E15  Roland  ... Complete"))
        << program.Text(IDC_STATUS);
    ASSERT_TRUE(devices.WaitFor("out0.playing", "0"));
    EXPECT_EQ(devices.Number("out0.long"), 1u);
    EXPECT_EQ(devices.Sent(0), bank);
}

TEST_F(EndToEnd, DataThatDoesNotLookLikeSysexIsNotSentWhenTheAnswerIsNo)
{
    VirtualDevices devices(kSynth);
    Program program(" " + devices.Put("notes.bin", Bytes{0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00}), &devices);
    program.Choose(IDC_OUT_DEVICE, 1);
    ASSERT_TRUE(program.WaitText(IDC_OUT_STATE, "Ok"));
    program.Click(IDC_SEND);
    const ProgramBox box = program.Answer(IDNO);
    EXPECT_EQ(box.text, "File looks like corrupted. Are you sure?");
    EXPECT_EQ(box.caption, "");
    EXPECT_TRUE(program.WaitText(IDC_STATUS, [](const std::string &s) {
        return s.size() > 9 && s.compare(s.size() - 9, 9, " Complete") == 0;
    }));
    Sleep(300);
    EXPECT_EQ(devices.Number("out0.long"), 0u);
    EXPECT_TRUE(devices.Sent(0).empty());
}

TEST_F(EndToEnd, ACaptureToAnExistingNameLeavesThatFileAlone)
{
    VirtualDevices devices(kSynth);
    const Bytes precious = Dump(3, 100, 9);
    const std::string path = devices.Put("precious.syx", precious);
    Program program(" " + path, &devices);
    program.Choose(IDC_IN_DEVICE, 0);
    ASSERT_TRUE(program.WaitText(IDC_IN_STATE, "Ok"));
    program.Click(IDC_CAPTURE);
    const ProgramBox box = program.Answer(IDOK);
    EXPECT_EQ(box.text, "error writing file. (file already exists?)");
    EXPECT_TRUE(program.WaitChecked(IDC_CAPTURE, false));
    ASSERT_TRUE(devices.Command("file 0 " + devices.Put("other.syx", Dump(2, 50)) + "\n"));
    EXPECT_TRUE(program.WaitText(IDC_STATUS, "Captured 0 bytes,  2 SOX, 2 EOX (equal)"));
    EXPECT_EQ(ReadBytes(path), precious);
}

TEST_F(EndToEnd, LoopbackRoundTripSendWhileCapturingThenVerify)
{
    VirtualDevices devices("loopback\nrate 31250\n");
    const Bytes bank = Dump(6, 400, 3);
    const std::string bankPath = devices.Put("bank.syx", bank);
    const std::string echoPath = work.Path("echo.syx");
    Program program("", &devices);
    EXPECT_EQ(program.ListEntries(IDC_IN_DEVICE), std::vector<std::string>{"Loopback"});
    program.Choose(IDC_IN_DEVICE, 0);
    program.Choose(IDC_OUT_DEVICE, 1);
    ASSERT_TRUE(program.WaitText(IDC_OUT_STATE, "Ok"));

    program.Type(IDC_FILENAME, echoPath);
    program.Click(IDC_CAPTURE);
    ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, true));
    program.Type(IDC_FILENAME, bankPath);
    program.Click(IDC_SEND);
    EXPECT_TRUE(program.WaitText(IDC_STATUS, CapturedLine(bank.size(), 6))) << program.Text(IDC_STATUS);
    program.Click(IDC_CAPTURE);
    ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, false));
    EXPECT_EQ(ReadBytes(echoPath), bank);

    program.Type(IDC_FILENAME, echoPath);
    program.Click(IDC_VERIFY);
    ASSERT_TRUE(program.WaitText(IDC_STATUS, ""));
    program.Type(IDC_FILENAME, bankPath);
    program.Click(IDC_SEND);
    EXPECT_TRUE(program.WaitText(IDC_STATUS, CapturedLine(bank.size(), 6, ",  verify Ok"))) << program.Text(IDC_STATUS);
}

TEST_F(EndToEnd, ChangingOutputWhileALongBlockPlaysWaitsAndReopens)
{
    VirtualDevices devices("out Slow A\nout Slow B\nrate 3125\n");
    const Bytes bank = Dump(3, 1000); // about a second at MIDI speed
    Program program(" " + devices.Put("bank.syx", bank), &devices);
    program.Choose(IDC_OUT_DEVICE, 1);
    ASSERT_TRUE(program.WaitText(IDC_OUT_STATE, "Ok"));
    program.Click(IDC_SEND);
    ASSERT_TRUE(devices.WaitFor("out0.playing", "1"));
    program.Choose(IDC_OUT_DEVICE, 2);
    ASSERT_TRUE(devices.WaitFor("out1.open", "1"));
    EXPECT_TRUE(program.WaitText(IDC_OUT_STATE, "Ok"));
    EXPECT_EQ(devices.Sent(0), bank) << "the block played to its end before the close";
    EXPECT_EQ(devices.Number("out0.open"), 0u);
    EXPECT_TRUE(program.Running());
}

TEST_F(EndToEnd, AMegabyteAtFullSpeedIsCapturedWhole)
{
    VirtualDevices devices("in Fast\n");
    const Bytes dump = Dump(2048, 512, 5);
    Program program(" " + work.Path("fast.syx"), &devices);
    program.Choose(IDC_IN_DEVICE, 0);
    ASSERT_TRUE(program.WaitText(IDC_IN_STATE, "Ok"));
    program.Click(IDC_CAPTURE);
    ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, true));
    ASSERT_TRUE(devices.Command("stream 0 " + devices.Put("fast-in.syx", dump) + "\n"));
    EXPECT_TRUE(program.WaitText(IDC_STATUS, CapturedLine(dump.size(), 2048), 60000)) << program.Text(IDC_STATUS);
    program.Click(IDC_CAPTURE);
    ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, false));
    EXPECT_EQ(devices.Number("in0.lost"), 0u);
    EXPECT_EQ(ReadBytes(work.Path("fast.syx")), dump);

    program.Click(IDC_VERIFY);
    ASSERT_TRUE(program.WaitText(IDC_STATUS, ""));
    ASSERT_TRUE(devices.Command("stream 0 " + devices.Put("fast-again.syx", dump) + "\n"));
    EXPECT_TRUE(program.WaitText(IDC_STATUS, CapturedLine(dump.size(), 2048, ",  verify Ok"), 60000))
        << program.Text(IDC_STATUS);
}

} // namespace
