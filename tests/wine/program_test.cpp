// The shipped program, started as a process and inspected from outside.
#include "tests/wine/harness.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const char kCaption[] = "Brelvane  v 2";

// The running program: started with a command line, found by its window, closed at the end.
class RunningProgram {
public:
    explicit RunningProgram(const std::string &arguments, const std::string &folder = "")
    {
        std::string commandLine = "\"" + ExeFolder() + "brelvane.exe\"" + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  folder.empty() ? nullptr : folder.c_str(), &startup, &process_) != FALSE;
        if (started_)
            PumpUntil([&] { return (window_ = FindOwnWindow()) != nullptr; }, 20000);
    }
    ~RunningProgram()
    {
        if (started_) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
                PostMessageA(window_, WM_CLOSE, 0, 0);
                if (WaitForSingleObject(process_.hProcess, 10000) == WAIT_TIMEOUT)
                    TerminateProcess(process_.hProcess, 99);
            }
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
        }
    }
    HWND window() const { return window_; }
    bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
    DWORD WaitForExit(DWORD ms)
    {
        DWORD code = 12345;
        if (WaitForSingleObject(process_.hProcess, ms) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }
    std::string Text(int id) const
    {
        char text[600] = "";
        // Across processes WM_GETTEXT is marshalled by the platform.
        SendMessageA(GetDlgItem(window_, id), WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
        return text;
    }

private:
    HWND FindOwnWindow() const
    {
        HWND found = nullptr;
        while ((found = FindWindowExA(nullptr, found, "#32770", kCaption)) != nullptr) {
            DWORD pid = 0;
            GetWindowThreadProcessId(found, &pid);
            if (pid == process_.dwProcessId && IsWindowVisible(found))
                return found;
        }
        return nullptr;
    }
    PROCESS_INFORMATION process_ = {};
    bool started_ = false;
    HWND window_ = nullptr;
};

struct TemplateControl {
    int id;
    const char *className;
    const char *text;
    DWORD style;
    RECT units; // x, y, width, height in dialog units
};

const TemplateControl kControls[14] = {
    {-1, "Button", "MIDI &in", 0x50000007, {6, 6, 137, 60}},
    {IDC_IN_DEVICE, "ComboBox", "", 0x50210003, {12, 18, 126, 205}},
    {IDC_IN_STATE, "Static", "?", 0x50020000, {13, 34, 115, 8}},
    {IDC_CAPTURE, "Button", "&Capture SysEx to file", 0x58030003, {12, 48, 81, 10}},
    {IDC_VERIFY, "Button", "&Verify", 0x58010003, {102, 48, 33, 10}},
    {IDC_THRU, "Button", ">", 0x50011303, {144, 18, 10, 12}},
    {-1, "Button", "MIDI &out", 0x50000007, {156, 6, 138, 60}},
    {IDC_OUT_DEVICE, "ComboBox", "", 0x50230003, {162, 18, 126, 205}},
    {IDC_OUT_STATE, "Static", "?", 0x50020000, {163, 34, 126, 8}},
    {IDC_SEND, "Button", "&Send file to device", 0x58030000, {162, 48, 72, 12}},
    {-1, "Button", "&File name", 0x50000007, {6, 78, 288, 30}},
    {IDC_FILENAME, "Edit", "", 0x50830080, {12, 90, 234, 12}},
    {IDC_BROWSE, "Button", "&Browse", 0x50010000, {246, 90, 42, 14}},
    {IDC_STATUS, "Static", "?", 0x50020000, {6, 114, 288, 8}},
};

TEST(Program, WindowHasTheTemplatesControlsSeenFromOutside)
{
    RunningProgram program("");
    HWND window = program.window();
    ASSERT_NE(window, nullptr);

    char caption[64];
    GetWindowTextA(window, caption, sizeof(caption));
    EXPECT_STREQ(caption, kCaption);
    // The platform adds WS_CLIPSIBLINGS to a top-level popup.
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)) & 0xFFFF0000u & ~WS_CLIPSIBLINGS, 0x90CA0000u);
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);

    // Dialog units to pixels: the base units that turn the template's 304 x 132 into the client
    // area (the dialog's own conversion is not reachable from another process).
    RECT client;
    GetClientRect(window, &client);
    ASSERT_EQ(client.right % 76, 0);
    const int baseX = client.right / 76;
    int baseY = 1;
    while (baseY < 64 && MulDiv(132, baseY, 8) != client.bottom)
        ++baseY;
    ASSERT_LT(baseY, 64);
    auto toPixels = [&](RECT r) {
        // Position and size convert separately, as the dialog manager does.
        const int x = MulDiv(r.left, baseX, 4), y = MulDiv(r.top, baseY, 8);
        return RECT{x, y, x + MulDiv(r.right, baseX, 4), y + MulDiv(r.bottom, baseY, 8)};
    };
    HWND child = GetWindow(window, GW_CHILD);
    for (const TemplateControl &want : kControls) {
        ASSERT_NE(child, nullptr) << want.text;
        char className[32];
        GetClassNameA(child, className, sizeof(className));
        EXPECT_STREQ(className, want.className) << want.text;
        EXPECT_EQ(GetDlgCtrlID(child), want.id) << want.text;
        // Controls move some template bits elsewhere when created (a combo box's scroll bar goes
        // to its list, an edit's border to its extended style); the exact template values are
        // checked in the resource itself below. These bits stay as the template set them.
        const DWORD kept = WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_GROUP | WS_TABSTOP;
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)) & kept, want.style & kept) << want.text;
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)) & 0x0000FFFFu & want.style, want.style & 0xFFFFu)
            << want.text;
        if (std::strcmp(want.className, "ComboBox") != 0) {
            char text[64] = "";
            SendMessageA(child, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
            EXPECT_STREQ(text, want.id == IDC_FILENAME ? DEFAULT_FILE_NAME : want.text) << want.text;
        }

        const RECT expected = toPixels(want.units);
        RECT actual;
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left) << want.text;
        EXPECT_EQ(actual.top, expected.top) << want.text;
        EXPECT_EQ(actual.right, expected.right) << want.text;
        if (std::strcmp(want.className, "ComboBox") != 0)
            EXPECT_EQ(actual.bottom, expected.bottom) << want.text;
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "more than 14 controls";

    HMENU menu = GetSystemMenu(window, FALSE);
    EXPECT_EQ(GetMenuState(menu, SC_SIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuState(menu, SC_MAXIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
}

TEST(Program, EnterAndEscapeKeepItOpenAndCloseExitsWithZero)
{
    RunningProgram program("");
    ASSERT_NE(program.window(), nullptr);
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        HWND focus = GetDlgItem(program.window(), IDC_FILENAME);
        PostMessageA(focus, WM_KEYDOWN, key, 1);
        PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
    }
    SendMessageA(program.window(), WM_COMMAND, IDOK, 0);
    SendMessageA(program.window(), WM_COMMAND, IDCANCEL, 0);
    Sleep(200);
    EXPECT_TRUE(program.Running());
    EXPECT_TRUE(IsWindow(program.window()));
    PostMessageA(program.window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitForExit(10000), 0u);
}

TEST(Program, FirstCommandLineArgumentFillsTheFileNameBox)
{
    const struct {
        const char *arguments;
        const char *expected;
    } cases[] = {
        {"", DEFAULT_FILE_NAME},
        {" bank.syx", "bank.syx"},
        {"   a.syx b.syx", "a.syx"},
        {" \"C:\\My Banks\\dump 1.syx\" other.syx", "C:\\My Banks\\dump 1.syx"},
        {" \"\"", DEFAULT_FILE_NAME},
    };
    for (const auto &c : cases) {
        RunningProgram program(c.arguments);
        ASSERT_NE(program.window(), nullptr) << c.arguments;
        EXPECT_EQ(program.Text(IDC_FILENAME), c.expected) << c.arguments;
    }
}

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR data)
{
    reinterpret_cast<std::vector<ULONG_PTR> *>(data)->push_back(reinterpret_cast<ULONG_PTR>(type));
    return TRUE;
}

// The program's resources: the template in its extended form and the 86-byte manifest, nothing else.
TEST(Program, CarriesExactlyTheTemplateAndTheManifest)
{
    HMODULE module = LoadLibraryExA((ExeFolder() + "brelvane.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);

    std::vector<ULONG_PTR> types;
    EnumResourceTypesA(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
    EXPECT_EQ(types, (std::vector<ULONG_PTR>{reinterpret_cast<ULONG_PTR>(RT_DIALOG), reinterpret_cast<ULONG_PTR>(RT_MANIFEST)}));

    HRSRC manifest = FindResourceExA(module, RT_MANIFEST, MAKEINTRESOURCEA(1), 1033);
    ASSERT_NE(manifest, nullptr);
    EXPECT_EQ(SizeofResource(module, manifest), 86u);
    const std::string text(static_cast<const char *>(LockResource(LoadResource(module, manifest))), 86);
    EXPECT_EQ(text, "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"></assembly>\r\n");

    HRSRC dialog = FindResourceExA(module, RT_DIALOG, MAKEINTRESOURCEA(IDD_MAIN), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_NE(dialog, nullptr);
    const auto *words = static_cast<const WORD *>(LockResource(LoadResource(module, dialog)));
    EXPECT_EQ(words[0], 1);      // version
    EXPECT_EQ(words[1], 0xFFFF); // extended form
    const auto *dwords = reinterpret_cast<const DWORD *>(words + 2);
    EXPECT_EQ(dwords[0], 0u); // help id
    EXPECT_EQ(dwords[1], 0x00000010u);
    EXPECT_EQ(dwords[2], 0x90CA08C0u);
    const WORD *p = words + 8;
    EXPECT_EQ(p[0], 14); // controls
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[2], 0);
    EXPECT_EQ(p[3], 304);
    EXPECT_EQ(p[4], 132);
    p += 5;
    auto skipText = [](const WORD *q) {
        if (*q == 0xFFFF)
            return q + 2;
        while (*q++) {
        }
        return q;
    };
    EXPECT_EQ(p[0], 0); // no menu
    p = skipText(p);
    EXPECT_EQ(p[0], 0); // the platform's dialog class
    p = skipText(p);
    const std::wstring captionText(reinterpret_cast<const wchar_t *>(p));
    EXPECT_EQ(captionText, L"Brelvane  v 2");
    p = skipText(p);
    EXPECT_EQ(p[0], 8);   // point size
    EXPECT_EQ(p[1], 400); // weight
    EXPECT_EQ(p[2] & 0xFF, 0);  // not italic
    EXPECT_EQ(p[2] >> 8, 0);    // character set
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t *>(p + 3)), L"MS Sans Serif");
    p = skipText(p + 3);

    const WORD classes[14] = {0x80, 0x85, 0x82, 0x80, 0x80, 0x80, 0x80, 0x85, 0x82, 0x80, 0x80, 0x81, 0x80, 0x82};
    for (int i = 0; i < 14; ++i) {
        p = reinterpret_cast<const WORD *>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
        const auto *item = reinterpret_cast<const DWORD *>(p);
        EXPECT_EQ(item[0], 0u) << i;           // help id
        EXPECT_EQ(item[1], 0u) << i;           // extended style
        EXPECT_EQ(item[2], kControls[i].style) << i;
        const auto *shorts = reinterpret_cast<const short *>(item + 3);
        EXPECT_EQ(shorts[0], kControls[i].units.left) << i;
        EXPECT_EQ(shorts[1], kControls[i].units.top) << i;
        EXPECT_EQ(shorts[2], kControls[i].units.right) << i;
        EXPECT_EQ(shorts[3], kControls[i].units.bottom) << i;
        EXPECT_EQ(static_cast<int>(*reinterpret_cast<const DWORD *>(shorts + 4)), kControls[i].id == -1 ? -1 : kControls[i].id) << i;
        p = reinterpret_cast<const WORD *>(shorts + 6);
        EXPECT_EQ(p[0], 0xFFFF) << i;
        EXPECT_EQ(p[1], classes[i]) << i;
        p = skipText(p);
        p = skipText(p);
        p += 1 + *p / 2; // creation data
    }
    FreeLibrary(module);
}

} // namespace
