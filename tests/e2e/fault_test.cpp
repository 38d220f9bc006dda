// Every fault the virtual devices can inject, against the real program: it keeps running,
// shows only its own texts, and what it has written stays.
#include "tests/e2e/driver.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace {

const std::set<std::string> kProgramTexts = {
    "midiInPrepareHeader()", "error midiInPrepareHeader() 139", "MM_MIM_ERROR", "MM_MIM_LONGERROR", "MM_MIM_MOREDATA",
    "error in midiOutPrepareHeader()", "error in midiOutLongMsg()", "Error writing file", "error opening file",
    "error writing file. (file already exists?)", "error in open file", "Error reading file",
    "File looks like corrupted. Are you sure?",
};

// Input 0 takes the fault; input 1 is spare, to show the program still works afterwards.
const char kDevices[] = "in Synth\nin Spare\nout Out A\nrate 0\n";

struct Fault {
    const char *what;
    std::function<void(Program &, VirtualDevices &)> provoke;
    std::vector<std::string> boxes; // what the program shows, in order
    int label;                      // a control whose text is then checked, or 0
    const char *labelText;
};

void OpenInput(Program &program, VirtualDevices &devices, int input = 0)
{
    program.Choose(IDC_IN_DEVICE, input);
    devices.WaitFor("in" + std::to_string(input) + ".queued", "50", 5000);
}

void OpenOutput(Program &program)
{
    program.Choose(IDC_OUT_DEVICE, 1);
    program.WaitText(IDC_OUT_STATE, "Ok");
}

void SendPatch(Program &program, VirtualDevices &devices)
{
    program.Type(IDC_FILENAME, devices.Put("patch.syx", Message(40)));
    program.Click(IDC_SEND);
}

TEST(Faults, EveryInjectedFaultIsHandled)
{
    const Fault faults[] = {
        {"input open refused", [](Program &p, VirtualDevices &d) { d.Command("fault in_open 1\n"); p.Choose(IDC_IN_DEVICE, 0); },
         {}, IDC_IN_STATE, "Error opening device"},
        {"prepare refused at open", [](Program &p, VirtualDevices &d) { d.Command("fault in_prepare 2\n"); p.Choose(IDC_IN_DEVICE, 0); },
         {"midiInPrepareHeader()", "midiInPrepareHeader()"}, IDC_IN_STATE, "Ok"},
        {"prepare refused when a buffer goes back", [](Program &p, VirtualDevices &d) {
             OpenInput(p, d);
             d.Command("fault in_prepare 1\nsysex 0 F0 41 01 F7\n");
         }, {"error midiInPrepareHeader() 139"}, 0, nullptr},
        {"add buffer refused", [](Program &p, VirtualDevices &d) { d.Command("fault in_add_buffer 5\n"); p.Choose(IDC_IN_DEVICE, 0); },
         {}, IDC_IN_STATE, "Ok"},
        {"start refused", [](Program &p, VirtualDevices &d) { d.Command("fault in_start 1\n"); p.Choose(IDC_IN_DEVICE, 0); },
         {}, IDC_IN_STATE, "Ok"},
        {"close refused", [](Program &p, VirtualDevices &d) {
             OpenInput(p, d);
             d.Command("fault in_close 1\n");
             p.Choose(IDC_IN_DEVICE, 0);
         }, {}, 0, nullptr},
        {"error notification", [](Program &p, VirtualDevices &d) { OpenInput(p, d); d.Command("error 0 F8\n"); },
         {"MM_MIM_ERROR"}, 0, nullptr},
        {"long error notification", [](Program &p, VirtualDevices &d) { OpenInput(p, d); d.Command("longerror 0\n"); },
         {"MM_MIM_LONGERROR"}, 0, nullptr},
        // Without MIDI_IO_STATUS the platform turns it into ordinary data.
        {"more data notification", [](Program &p, VirtualDevices &d) { OpenInput(p, d); d.Command("moredata 0 90 3C 64\n"); },
         {}, IDC_STATUS, "0x3C 0x64, status 0x90"},
        {"output open refused", [](Program &p, VirtualDevices &d) { d.Command("fault out_open 1\n"); p.Choose(IDC_OUT_DEVICE, 1); },
         {}, IDC_OUT_STATE, "Error opening device"},
        {"output prepare refused", [](Program &p, VirtualDevices &d) { OpenOutput(p); d.Command("fault out_prepare 1\n"); SendPatch(p, d); },
         {"error in midiOutPrepareHeader()", "error in midiOutLongMsg()"}, 0, nullptr},
        {"long message refused", [](Program &p, VirtualDevices &d) { OpenOutput(p); d.Command("fault out_long_msg 1\n"); SendPatch(p, d); },
         {"error in midiOutLongMsg()"}, 0, nullptr},
        {"short message refused (the program sends none)", [](Program &p, VirtualDevices &d) {
             OpenOutput(p);
             d.Command("fault out_short_msg 1\n");
             SendPatch(p, d);
         }, {}, 0, nullptr},
        // The refused close is not repeated: the device stays open in the driver, so the
        // mapper, which maps to it, cannot open.
        {"output close refused", [](Program &p, VirtualDevices &d) {
             OpenOutput(p);
             d.Command("fault out_close 1\n");
             p.Choose(IDC_OUT_DEVICE, 0);
         }, {}, IDC_OUT_STATE, "Error opening device"},
        {"connection refused", [](Program &p, VirtualDevices &d) {
             OpenInput(p, d);
             OpenOutput(p);
             d.Command("fault connect 1\n");
             p.Click(IDC_THRU);
         }, {}, IDC_STATUS, "Error connecting devices together"},
    };

    for (const Fault &fault : faults) {
        SCOPED_TRACE(fault.what);
        VirtualDevices devices(kDevices);
        ScratchFolder work;
        Program program("", &devices);
        ASSERT_NE(program.window(), nullptr);
        fault.provoke(program, devices);

        std::vector<std::string> shown;
        for (size_t i = 0; i < fault.boxes.size(); ++i)
            shown.push_back(program.Answer(IDOK).text);
        EXPECT_EQ(shown, fault.boxes);
        if (fault.label != 0)
            EXPECT_TRUE(program.WaitText(fault.label, fault.labelText)) << program.Text(fault.label);
        Sleep(300);
        for (const std::string &text : program.AnswerAll())
            EXPECT_TRUE(kProgramTexts.count(text)) << "unexpected box: " << text;
        ASSERT_TRUE(program.Running());

        // The program still captures a dump whole, on the spare input.
        const Bytes dump = Dump(4, 300, 1);
        program.Type(IDC_FILENAME, work.Path("after.syx"));
        OpenInput(program, devices, 1);
        ASSERT_TRUE(program.WaitText(IDC_IN_STATE, "Ok"));
        program.Click(IDC_CAPTURE);
        ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, true));
        devices.Command("file 1 " + devices.Put("dump.syx", dump) + " 250\n");
        EXPECT_TRUE(program.WaitText(IDC_STATUS, "Captured 1200 bytes,  4 SOX, 4 EOX (equal)")) << program.Text(IDC_STATUS);
        program.Click(IDC_CAPTURE);
        ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, false));
        EXPECT_EQ(ReadBytes(work.Path("after.syx")), dump);
        PostMessageA(program.window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(program.WaitForExit(15000), 0u);
    }
}

// Bytes that find no buffer while the program pauses after a send are lost by a lossy
// device, which then says so: everything the program was given is in the file.
TEST(Faults, ALossyInputLosesOnlyWhatNeverReachedTheProgram)
{
    VirtualDevices devices(kDevices);
    ScratchFolder work;
    Program program("", &devices);
    OpenOutput(program);
    OpenInput(program, devices);
    program.Type(IDC_FILENAME, work.Path("lossy.syx"));
    program.Click(IDC_CAPTURE);
    ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, true));
    const std::string patch = devices.Put("patch.syx", Message(40));
    devices.Command("lossy 0 on\n");
    program.Type(IDC_FILENAME, patch);
    program.Click(IDC_SEND);
    Sleep(100); // the program is now in its pause after the send
    devices.Command("file 0 " + devices.Put("flood.syx", Dump(80, 500, 4)) + "\n");

    EXPECT_TRUE(program.WaitText(IDC_STATUS, [](const std::string &s) { return s.rfind("Captured ", 0) == 0; }));
    Sleep(1000);
    const std::vector<std::string> boxes = program.AnswerAll();
    for (const std::string &text : boxes)
        EXPECT_EQ(text, "MM_MIM_LONGERROR");
    program.Click(IDC_CAPTURE);
    ASSERT_TRUE(program.WaitChecked(IDC_CAPTURE, false));
    const unsigned long long delivered = devices.Number("in0.delivered");
    EXPECT_EQ(delivered + devices.Number("in0.lost"), 40000u);
    EXPECT_EQ(ReadBytes(work.Path("lossy.syx")).size(), delivered);
    EXPECT_EQ(program.Text(IDC_STATUS).rfind("Captured " + std::to_string(delivered) + " bytes", 0), 0u)
        << program.Text(IDC_STATUS);
    EXPECT_TRUE(program.Running());
}

} // namespace
