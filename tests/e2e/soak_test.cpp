// Staying power: a long dump at full speed while the window is kept busy, nothing lost.
#include "tests/e2e/driver.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

namespace {

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(Soak, ALongDumpUnderLoadIsCapturedWhole)
{
    VirtualDevices devices("in Synth\nout Out A\nout Out B\nrate 0\n");
    ScratchFolder work;
    const size_t messages = 8192, size = 512; // 4 MB
    const Bytes dump = Dump(messages, size, 11);
    const Bytes patch = Message(300, 0x43, 2);
    const std::string patchPath = devices.Put("patch.syx", patch);
    const std::string capturePath = work.Path("soak.syx");

    Program program(" " + capturePath, &devices);
    ASSERT_NE(program.window(), nullptr);
    program.Choose(IDC_IN_DEVICE, 0);
    program.Choose(IDC_OUT_DEVICE, 1);
    ASSERT_TRUE(program.WaitText(IDC_OUT_STATE, "Ok"));
    program.Click(IDC_CAPTURE);
    ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, true));
    ASSERT_TRUE(devices.Command("stream 0 " + devices.Put("dump.syx", dump) + "\n"));

    // An error box left open for two seconds while the dump keeps coming: the box's own
    // message loop goes on accounting buffers.
    ASSERT_TRUE(devices.Command("error 0 00\n"));
    ProgramBox box;
    for (int i = 0; i < 200 && (box = program.Boxes().empty() ? ProgramBox{} : program.Boxes().back()).window == nullptr; ++i)
        Sleep(10);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, "MM_MIM_ERROR");
    const unsigned long long before = devices.Number("in0.delivered");
    Sleep(2000);
    EXPECT_GT(devices.Number("in0.delivered"), before) << "buffers are handled while the box is open";
    EXPECT_GT(devices.Number("in0.stream_left"), 0u) << "the dump must still be running";
    program.Answer(IDOK);

    // Sends and output changes while the dump arrives (a bounded number of them).
    int sends = 0, changes = 0;
    while (devices.Number("in0.stream_left") > 0 && sends < 20) {
        program.Choose(IDC_OUT_DEVICE, 1 + (changes++ % 2));
        program.Type(IDC_FILENAME, patchPath);
        program.Click(IDC_SEND);
        ASSERT_TRUE(program.WaitText(IDC_STATUS, [](const std::string &s) { return EndsWith(s, " Complete"); }))
            << program.Text(IDC_STATUS);
        ++sends;
    }
    EXPECT_GE(sends, 1);

    const std::string done = "Captured " + std::to_string(dump.size()) + " bytes,  " + std::to_string(messages) +
                             " SOX, " + std::to_string(messages) + " EOX (equal)";
    EXPECT_TRUE(program.WaitText(IDC_STATUS, done, 300000)) << program.Text(IDC_STATUS);
    program.Click(IDC_CAPTURE);
    ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, false));
    EXPECT_EQ(program.Text(IDC_STATUS), done);
    EXPECT_EQ(devices.Number("in0.lost"), 0u);
    EXPECT_TRUE(ReadBytes(capturePath) == dump) << "the capture file differs from the dump";
    EXPECT_EQ(devices.Sent(0).size() + devices.Sent(1).size(), sends * patch.size());
    EXPECT_TRUE(program.Boxes().empty());
    PostMessageA(program.window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitForExit(20000), 0u);
}

} // namespace
