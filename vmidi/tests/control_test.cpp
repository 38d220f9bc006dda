// The external drive: command language, control folder, the environment read
// at load, and a GUI process using comdlg32/comctl32 on top of this driver.
#include "harness.h"

#include <commctrl.h>
#include <commdlg.h>

#include <thread>

namespace {

// Started as a child by EnvironmentChoosesTheDevices: list the devices the
// driver presents and leave before any test runs.
const int kChild = [] {
    char out[MAX_PATH];
    if (!GetEnvironmentVariableA("VMIDI_TEST_LIST", out, MAX_PATH)) return 0;
    std::string list;
    for (UINT i = 0; i < midiInGetNumDevs(); ++i) {
        MIDIINCAPSA c;
        midiInGetDevCapsA(i, &c, sizeof(c));
        list += std::string("in ") + c.szPname + "\n";
    }
    for (UINT i = 0; i < midiOutGetNumDevs(); ++i) {
        MIDIOUTCAPSA c;
        midiOutGetDevCapsA(i, &c, sizeof(c));
        list += std::string("out ") + c.szPname + "\n";
    }
    char folder[MAX_PATH];
    if (GetEnvironmentVariableA("VMIDI_CONTROL_CHECK", folder, MAX_PATH))
        WaitForFile(std::string(folder) + "\\status.txt");
    WriteText(out, list);
    ExitProcess(0);
}();

// Unix name of a Windows path under Wine, empty elsewhere.
std::string UnixPath(const std::string &path) {
    typedef char *(CDECL * ToUnix)(LPCWSTR);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return std::string();
    WCHAR w[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, w, MAX_PATH);
    char *u = toUnix(w);
    if (!u) return std::string();
    std::string s = u;
    HeapFree(GetProcessHeap(), 0, u);
    return s;
}

void DropCommands(const std::string &dir, const std::string &name, const std::string &text) {
    WriteText(dir + "\\" + name + ".tmp", text);
    ASSERT_TRUE(MoveFileA((dir + "\\" + name + ".tmp").c_str(), (dir + "\\" + name + ".cmd").c_str()));
}

using ControlTest = VmidiTest;

TEST_F(ControlTest, CommandsSetUpDevicesAndFaults) {
    struct Case {
        const char *line;
        const char *error;  // nullptr: succeeds
    } cases[] = {
        {"in Studio Synth", nullptr},
        {"out Editor Out", nullptr},
        {"loopback", nullptr},
        {"rate 333", nullptr},
        {"rate 1 0", nullptr},
        {"fault in_open 1 MMSYSERR_NOMEM", nullptr},
        {"fault midiOutOpen all 4", nullptr},
        {"   # a comment", nullptr},
        {"", nullptr},
        {"in", "expected a device name"},
        {"rate 9 100", "no such device"},
        {"rate fast", "usage: rate [OUT] BYTES_PER_SEC"},
        {"fault nosuch 1", "unknown call 'nosuch'"},
        {"fault in_open 1 MMSYSERR_WHATEVER", "bad result 'MMSYSERR_WHATEVER'"},
        {"short 0 90 3C 7F 00", "a short message is 1 to 3 bytes"},
        {"sysex 0 F0 1", "odd number of hex digits"},
        {"sysex 0 F0 GG", "bad hex byte 'GG'"},
        {"sysex 7 F0 F7", "no such device"},
        {"lossy 0 maybe", "usage: lossy IN on|off"},
        {"file 0 no-such-file.syx", "cannot read no-such-file.syx"},
        {"dance 0", "unknown command 'dance'"},
    };
    for (const Case &c : cases) {
        char err[256] = "untouched";
        BOOL ok = vmidi_command(c.line, err, sizeof(err));
        EXPECT_EQ(c.error == nullptr, ok != FALSE) << c.line;
        if (c.error) EXPECT_STREQ(c.error, err) << c.line;
    }
    ASSERT_EQ(2u, midiInGetNumDevs());
    ASSERT_EQ(2u, midiOutGetNumDevs());
    MIDIINCAPSA ic;
    midiInGetDevCapsA(0, &ic, sizeof(ic));
    EXPECT_STREQ("Studio Synth", ic.szPname);
    EXPECT_EQ(333u, OutInfo(0).rate);
    EXPECT_EQ(0u, OutInfo(1).rate);
    EXPECT_EQ(1, OutInfo(1).loopIn);
    HMIDIIN hi;
    HMIDIOUT ho;
    EXPECT_EQ(MMSYSERR_NOMEM, midiInOpen(&hi, 0, 0, 0, CALLBACK_NULL));
    EXPECT_EQ(MMSYSERR_NOERROR, midiInOpen(&hi, 0, 0, 0, CALLBACK_NULL));
    EXPECT_EQ(MMSYSERR_ALLOCATED, midiOutOpen(&ho, 0, 0, 0, CALLBACK_NULL));
    EXPECT_EQ(MMSYSERR_ALLOCATED, midiOutOpen(&ho, 1, 0, 0, CALLBACK_NULL));
    EXPECT_TRUE(vmidi_command("reset", nullptr, 0));
    EXPECT_EQ(0u, midiInGetNumDevs());
}

TEST_F(ControlTest, CommandsFeedAnInput) {
    std::string dir = TempDir("feed");
    WriteText(dir + "\\dump.syx", Bytes("F0 01 02 03 04 05 F7"));
    vmidi_add_input("In");
    HMIDIIN h = OpenIn(0);
    win.onNote = [&](const Note &n) {
        if (n.msg == MM_MIM_LONGDATA) midiInAddBuffer(h, reinterpret_cast<MIDIHDR *>(n.lp), sizeof(MIDIHDR));
    };
    Buffers bufs(h, 2, 16);
    bufs.AddAll();
    midiInStart(h);
    const std::string lines[] = {
        "short 0 90 3C 7F",
        "sysex 0 F0 7E 7F 06 01 F7",
        "sysex 0 F0 00",
        "flush 0",
        "error 0 F4",
        "moredata 0 80 3C 00",
        "file 0 \"" + dir + "\\dump.syx\" 3",
    };
    for (const std::string &line : lines) {
        char err[256] = "";
        EXPECT_TRUE(vmidi_command(line.c_str(), err, sizeof(err))) << line << ": " << err;
    }
    ASSERT_TRUE(win.PumpFor(MM_MIM_LONGDATA, 5));
    std::vector<std::string> got;
    for (const Note &n : win.Of(MM_MIM_LONGDATA)) got.push_back(n.data);
    std::vector<std::string> want = {Bytes("F0 7E 7F 06 01 F7"), Bytes("F0 00"), Bytes("F0 01 02"),
                                     Bytes("03 04 05"), Bytes("F7")};
    EXPECT_EQ(want, got);
    ASSERT_EQ(2u, win.Of(MM_MIM_DATA).size()) << "moredata without MIDI_IO_STATUS is data";
    EXPECT_EQ(0x7F3C90, win.Of(MM_MIM_DATA)[0].lp);
    EXPECT_EQ(0x003C80, win.Of(MM_MIM_DATA)[1].lp);
    ASSERT_EQ(1u, win.Of(MM_MIM_ERROR).size());
    EXPECT_EQ(0xF4, win.Of(MM_MIM_ERROR)[0].lp);
    win.onNote = nullptr;
    CloseIn(h);
}

TEST_F(ControlTest, ControlFolderRunsCommandFilesAndWritesLogs) {
    std::string dir = TempDir("control");
    std::string unix = UnixPath(dir);  // what a Linux shell would pass
    vmidi_add_input("In");
    vmidi_add_output("Out");
    vmidi_set_rate(0, 0);
    HMIDIIN hi = OpenIn(0);
    HMIDIOUT ho = OpenOut(0);
    Buffers bufs(hi, 6, 64);
    bufs.AddAll();
    midiInStart(hi);
    WriteText(dir + "\\dump.syx", Bytes("F0 10 20 F7"));
    // Present before polling starts: they run in name order.
    DropCommands(dir, "2-second", "sysex 0 F0 02 F7\n");
    DropCommands(dir, "1-first", "sysex 0 F0 01 F7\n");
    DropCommands(dir, "3-broken", "sysex 0 F0 03 F7\nbogus\nstream 0 dump.syx\nplay 0 dump.syx 100000\n");
    ASSERT_TRUE(vmidi_control_folder(unix.empty() ? dir.c_str() : unix.c_str()));

    ASSERT_TRUE(win.PumpFor(MM_MIM_LONGDATA, 5));
    std::vector<std::string> got;
    for (const Note &n : win.Of(MM_MIM_LONGDATA)) got.push_back(n.data);
    std::vector<std::string> want = {Bytes("F0 01 F7"), Bytes("F0 02 F7"), Bytes("F0 03 F7"), Bytes("F0 10 20 F7"),
                                     Bytes("F0 10 20 F7")};
    EXPECT_EQ(want, got);
    EXPECT_TRUE(WaitForFile(dir + "\\1-first.done"));
    EXPECT_TRUE(WaitForFile(dir + "\\2-second.done"));
    ASSERT_TRUE(WaitForFile(dir + "\\3-broken.err"));
    EXPECT_NE(std::string::npos, ReadText(dir + "\\3-broken.err").find("# line 2: unknown command 'bogus'"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((dir + "\\3-broken.cmd").c_str()));

    // What the program sends is written per message.
    std::string a = Bytes("F0 41 10 F7"), b = Bytes("F0 43 F7");
    MIDIHDR ha = {}, hb = {};
    ha.lpData = &a[0];
    ha.dwBufferLength = static_cast<DWORD>(a.size());
    hb.lpData = &b[0];
    hb.dwBufferLength = static_cast<DWORD>(b.size());
    for (MIDIHDR *h : {&ha, &hb}) {
        midiOutPrepareHeader(ho, h, sizeof(MIDIHDR));
        midiOutLongMsg(ho, h, sizeof(MIDIHDR));
    }
    midiOutShortMsg(ho, 0x7F3C90);
    midiOutShortMsg(ho, 0x05C0);
    ASSERT_TRUE(win.PumpFor(MM_MOM_DONE, 2));
    std::string syx, shorts, status;
    win.PumpUntil([&] {
        syx = ReadText(dir + "\\out0.syx");
        shorts = ReadText(dir + "\\out0.short");
        status = ReadText(dir + "\\status.txt");
        return syx.size() == a.size() + b.size() && shorts.size() >= 12 &&
               status.find("call.midiOutLongMsg=2") != std::string::npos;
    });
    EXPECT_EQ(a + b, syx);
    EXPECT_EQ("90 3C 7F\r\nC0 05\r\n", shorts);
    for (const char *line : {"in0.name=In\r\n", "out0.name=Out\r\n", "in0.started=1\r\n", "in0.streamed=8\r\n",
                             "out0.long=2\r\n", "command_files=3\r\n", "command_errors=1\r\n",
                             "answer.midiOutLongMsg.MMSYSERR_NOERROR=2\r\n"})
        EXPECT_NE(std::string::npos, status.find(line)) << line << " in\n" << status;

    EXPECT_TRUE(vmidi_control_folder(nullptr));
    CloseIn(hi);
    midiOutClose(ho);
}

TEST_F(ControlTest, EnvironmentChoosesTheDevices) {
    std::string dir = TempDir("env");
    WriteText(dir + "\\devices.txt", "in Alpha\r\nout Beta\nout Gamma\n# done\n");
    WriteText(dir + "\\empty.txt", "");
    std::string unix = UnixPath(dir + "\\devices.txt");
    struct Case {
        const char *what;
        std::string config;  // empty: VMIDI_CONFIG unset
        bool control;
        const char *list;
    } cases[] = {
        {"nothing set: the loopback pair", "", false, "in Loopback\nout Loopback\n"},
        {"config file", dir + "\\devices.txt", false, "in Alpha\nout Beta\nout Gamma\n"},
        {"config by Unix path", unix, false, "in Alpha\nout Beta\nout Gamma\n"},
        {"empty config: no devices", dir + "\\empty.txt", false, ""},
        {"control folder only", "", true, "in Loopback\nout Loopback\n"},
    };
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string listFile = dir + "\\list.txt", controlDir = dir + "\\ctl";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.what == std::string("config by Unix path") && unix.empty()) continue;  // not under Wine
        DeleteFileA(listFile.c_str());
        SetEnvironmentVariableA("VMIDI_TEST_LIST", listFile.c_str());
        SetEnvironmentVariableA("VMIDI_CONFIG", c.config.empty() ? nullptr : c.config.c_str());
        SetEnvironmentVariableA("VMIDI_CONTROL", c.control ? controlDir.c_str() : nullptr);
        SetEnvironmentVariableA("VMIDI_CONTROL_CHECK", c.control ? controlDir.c_str() : nullptr);
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi;
        std::string cmd = std::string("\"") + exe + "\"";
        BOOL started = CreateProcessA(exe, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        for (const char *v : {"VMIDI_TEST_LIST", "VMIDI_CONFIG", "VMIDI_CONTROL", "VMIDI_CONTROL_CHECK"})
            SetEnvironmentVariableA(v, nullptr);
        ASSERT_TRUE(started);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 60000));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        EXPECT_EQ(c.list, ReadText(listFile));
        if (c.control) EXPECT_NE(std::string::npos, ReadText(controlDir + "\\status.txt").find("in0.name=Loopback"));
    }
}

BOOL CALLBACK CancelFileDialog(HWND w, LPARAM seen) {
    char cls[32];
    GetClassNameA(w, cls, sizeof(cls));
    if (strcmp(cls, "#32770") || !IsWindowVisible(w)) return TRUE;
    PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
    *reinterpret_cast<volatile bool *>(seen) = true;
    return FALSE;
}

// A dialog program still works with this driver in place of the system's:
// comdlg32's file dialog opens, and comctl32's animation control, which loads
// mmio calls from winmm lazily, fails cleanly on a missing file.
TEST_F(ControlTest, GuiLibrariesWorkWithThisDriver) {
    InitCommonControls();
    HWND anim = CreateWindowExA(0, ANIMATE_CLASSA, "", WS_CHILD, 0, 0, 10, 10, win.hwnd(), nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, anim);
    EXPECT_FALSE(SendMessageA(anim, ACM_OPENA, 0, reinterpret_cast<LPARAM>("no-such-clip.avi")));
    EXPECT_EQ(1u, vmidi_calls("mmioOpenW")) << "comctl32 reached this driver's mmio";
    DestroyWindow(anim);

    DWORD tid = GetCurrentThreadId();
    volatile bool seen = false, quit = false;
    std::thread closer([&] {
        for (int i = 0; i < 3000 && !seen && !quit; ++i) {
            EnumThreadWindows(tid, CancelFileDialog, reinterpret_cast<LPARAM>(&seen));
            Sleep(10);
        }
    });
    char file[MAX_PATH] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = win.hwnd();
    ofn.lpstrFilter = "SysEx files (*.syx)\0*.syx\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST;
    BOOL picked = GetOpenFileNameA(&ofn);
    quit = true;
    closer.join();
    EXPECT_TRUE(seen);
    EXPECT_FALSE(picked);
    EXPECT_EQ(0u, CommDlgExtendedError());
}

}  // namespace
