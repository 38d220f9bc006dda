// The window as a whole: routing, start-up state, closing, minimising, dropping and browsing.
#include "tests/wine/harness.h"

#include <gtest/gtest.h>

namespace {

struct Route {
    const char *what;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    INT_PTR expected;
};

// Messages whose handling leaves a freshly opened window as it was.
const Route kRoutes[] = {
    {"input list, other notification", WM_COMMAND, MAKEWPARAM(IDC_IN_DEVICE, CBN_DROPDOWN), 0, TRUE},
    {"output list, other notification", WM_COMMAND, MAKEWPARAM(IDC_OUT_DEVICE, CBN_SETFOCUS), 0, TRUE},
    {"file name box", WM_COMMAND, MAKEWPARAM(IDC_FILENAME, EN_CHANGE), 0, FALSE},
    {"status label", WM_COMMAND, MAKEWPARAM(IDC_STATUS, 0), 0, FALSE},
    {"input state label", WM_COMMAND, MAKEWPARAM(IDC_IN_STATE, 0), 0, FALSE},
    {"output state label", WM_COMMAND, MAKEWPARAM(IDC_OUT_STATE, 0), 0, FALSE},
    {"Enter", WM_COMMAND, IDOK, 0, FALSE},
    {"Escape", WM_COMMAND, IDCANCEL, 0, FALSE},
    {"unknown identifier", WM_COMMAND, 2000, 0, FALSE},
    {"system command other than minimise", WM_SYSCOMMAND, SC_RESTORE, 0, FALSE},
    {"any timer", WM_TIMER, 7, 0, TRUE},
    {"end session cancelled", WM_ENDSESSION, 0, 0, TRUE},
    {"output opened", MM_MOM_OPEN, 0, 0, FALSE},
    {"output closed", MM_MOM_CLOSE, 0, 0, FALSE},
    {"output done", MM_MOM_DONE, 0, 0, FALSE},
    {"0x3CA", 0x03CA, 0, 0, FALSE},
    {"0x3CB", 0x03CB, 0, 0, FALSE},
    {"input opened", MM_MIM_OPEN, 0, 0, FALSE},
    {"input closed", MM_MIM_CLOSE, 0, 0, FALSE},
    {"a message nobody handles", WM_USER + 5, 0, 0, FALSE},
    {"mouse move", WM_MOUSEMOVE, 0, 0, FALSE},
};

TEST(Routing, ReturnsTheTableValueAndLeavesTheWindowAlone)
{
    MainWindow window;
    for (const Route &r : kRoutes) {
        EXPECT_EQ(window.Call(r.message, r.wParam, r.lParam), r.expected) << r.what;
        EXPECT_TRUE(IsWindow(window.hwnd())) << r.what;
        EXPECT_EQ(window.Text(IDC_STATUS), "?") << r.what;
        EXPECT_EQ(window.Text(IDC_IN_STATE), "?") << r.what;
        EXPECT_EQ(window.Text(IDC_OUT_STATE), "?") << r.what;
        EXPECT_EQ(app.midiIn, nullptr) << r.what;
        EXPECT_EQ(app.midiOut, nullptr) << r.what;
    }
    // Enter and Escape, delivered through the dialog manager, do not close it either.
    SendMessageA(window.hwnd(), WM_COMMAND, IDOK, 0);
    SendMessageA(window.hwnd(), WM_COMMAND, IDCANCEL, 0);
    Pump(50);
    EXPECT_TRUE(IsWindowVisible(window.hwnd()));
}

TEST(StartUp, ShowsQuestionMarksNoSelectionAndThreeDisabledControls)
{
    MainWindow window;
    EXPECT_EQ(window.Text(IDC_FILENAME), DEFAULT_FILE_NAME);
    for (int id : {IDC_STATUS, IDC_IN_STATE, IDC_OUT_STATE})
        EXPECT_EQ(window.Text(id), "?") << id;
    for (int id : {IDC_IN_DEVICE, IDC_OUT_DEVICE})
        EXPECT_EQ(SendMessageA(window.item(id), CB_GETCURSEL, 0, 0), CB_ERR) << id;
    for (int id : {IDC_CAPTURE, IDC_VERIFY, IDC_SEND})
        EXPECT_FALSE(window.Enabled(id)) << id;
    for (int id : {IDC_THRU, IDC_IN_DEVICE, IDC_OUT_DEVICE, IDC_FILENAME, IDC_BROWSE})
        EXPECT_TRUE(window.Enabled(id)) << id;
    EXPECT_EQ(app.mode, Idle);
    EXPECT_EQ(app.dataFile, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(app.signalPresent);
}

TEST(StartUp, SystemMenuHasNoSizeAndNoMaximize)
{
    MainWindow window;
    HMENU menu = GetSystemMenu(window.hwnd(), FALSE);
    EXPECT_EQ(GetMenuState(menu, SC_SIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuState(menu, SC_MAXIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_NE(GetMenuState(menu, SC_MINIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_NE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));
}

// The colour at a point of the client area. (Wine does not read back non-client pixels.)
COLORREF PixelAt(HWND window, int x, int y)
{
    HDC dc = GetDC(window);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

TEST(Minimise, BlanksTheWholeWindowThenMinimises)
{
    MainWindow window;
    HWND dialog = window.hwnd();
    RECT client;
    GetClientRect(dialog, &client);
    const COLORREF blank = GetSysColor(COLOR_WINDOW);
    ASSERT_NE(GetSysColor(COLOR_BTNFACE), blank) << "the dialog face must differ from the window colour";
    // Points on the face, on the status label and near the far corner.
    RECT status;
    GetWindowRect(window.item(IDC_STATUS), &status);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&status), 2);
    const POINT points[] = {{2, 2}, {status.left + 2, status.top + 2}, {client.right - 2, client.bottom - 2}};
    auto allBlank = [&] {
        for (POINT p : points)
            if (PixelAt(dialog, p.x, p.y) != blank)
                return false;
        return true;
    };
    auto redraw = [&] {
        RedrawWindow(dialog, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE | RDW_ALLCHILDREN);
        Pump(50);
    };

    // Another system command, whatever its high bits, does not blank.
    redraw();
    ASSERT_NE(PixelAt(dialog, 2, 2), blank);
    EXPECT_EQ(window.Call(WM_SYSCOMMAND, SC_MOVE | 0x10000, 0), FALSE);
    EXPECT_NE(PixelAt(dialog, 2, 2), blank);

    // Minimise compares the low 16 bits only; the handler blanks and leaves the rest to the platform.
    EXPECT_EQ(window.Call(WM_SYSCOMMAND, SC_MINIMIZE | 0x10000, 0), FALSE);
    EXPECT_TRUE(allBlank());
    EXPECT_FALSE(IsIconic(dialog));

    // Through the platform the window is then minimised, and a restore draws it again.
    redraw();
    SendMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    Pump(50);
    EXPECT_TRUE(IsIconic(dialog));
    SendMessageA(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
    redraw();
    EXPECT_FALSE(IsIconic(dialog));
    EXPECT_NE(PixelAt(dialog, 2, 2), blank);
}

TEST(DroppedFiles, OnlyTheFirstNameIsTaken)
{
    MainWindow window;
    HDROP drop = MakeDrop({"C:\\banks\\first bank.syx", "C:\\banks\\second.syx", "C:\\third.syx"});
    EXPECT_EQ(window.Call(WM_DROPFILES, reinterpret_cast<WPARAM>(drop)), TRUE);
    EXPECT_EQ(window.Text(IDC_FILENAME), "C:\\banks\\first bank.syx");
}

TEST(Browse, OpensWithTheBoxTextAndCancelChangesNothing)
{
    MainWindow window;
    ScratchFolder folder;
    window.SetText(IDC_FILENAME, folder.Path("old.syx"));
    BoxAnswerer boxes;
    boxes.Next(IDCANCEL);
    EXPECT_EQ(window.Call(WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED)), TRUE);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_FALSE(boxes.Seen()[0].isMessageBox);
    EXPECT_EQ(boxes.Seen()[0].caption, "Browse for file");
    EXPECT_NE(boxes.Seen()[0].initialFileName.find("old.syx"), std::string::npos);
    EXPECT_EQ(window.Text(IDC_FILENAME), folder.Path("old.syx"));
}

TEST(Browse, ChosenNameIsAFullPathAndGetsTheExtension)
{
    MainWindow window;
    ScratchFolder folder;
    BoxAnswerer boxes;
    boxes.TypeFileName(folder.Path("new dump"));
    boxes.Next(IDOK);
    window.Click(IDC_BROWSE);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    // The file need not exist, so a capture's new name can be chosen. (Windows appends the
    // default extension to a typed name without one; Wine's dialog does not always.)
    EXPECT_EQ(window.Text(IDC_FILENAME).rfind(folder.Path("new dump"), 0), 0u) << window.Text(IDC_FILENAME);
}

// Closes the main dialog from inside its own modal loop.
struct CloseOnActivate {
    static UINT message;
    static WPARAM wParam;
    static HHOOK hook;
    static LRESULT CALLBACK Proc(int code, WPARAM w, LPARAM l)
    {
        if (code == HCBT_ACTIVATE) {
            HWND window = reinterpret_cast<HWND>(w);
            if (GetDlgItem(window, IDC_STATUS) != nullptr)
                PostMessageA(window, message, wParam, 0);
        }
        return CallNextHookEx(hook, code, w, l);
    }
};
UINT CloseOnActivate::message;
WPARAM CloseOnActivate::wParam;
HHOOK CloseOnActivate::hook;

TEST(Closing, CloseAndEndingSessionEndTheDialogWithZero)
{
    for (UINT message : {static_cast<UINT>(WM_CLOSE), static_cast<UINT>(WM_ENDSESSION)}) {
        ResetAppState();
        CloseOnActivate::message = message;
        CloseOnActivate::wParam = message == WM_ENDSESSION ? TRUE : 0;
        CloseOnActivate::hook = SetWindowsHookExA(WH_CBT, CloseOnActivate::Proc, nullptr, GetCurrentThreadId());
        EXPECT_EQ(RunMainDialog(GetModuleHandleA(nullptr)), 0) << message;
        UnhookWindowsHookEx(CloseOnActivate::hook);
    }
}

TEST(Closing, NoTemplateGivesTheRussianBoxAndExitCodeOne)
{
    BoxAnswerer boxes;
    // A module without the dialog template.
    EXPECT_EQ(RunMainDialog(GetModuleHandleA("kernel32.dll")), 1);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    const SeenBox &box = boxes.Seen()[0];
    EXPECT_EQ(box.caption, "Brelvane");
    EXPECT_TRUE(box.hasIcon);
    EXPECT_TRUE(box.hasOk);
    EXPECT_FALSE(box.hasCancel);
    // "Dialog number 101 cannot be created. Error number N." in Windows-1251.
    const std::string prefix = "\xCD\xE5 \xEC\xEE\xE3\xF3 \xF1\xEE\xE7\xE4\xE0\xF2\xFC \xE4\xE8\xE0\xEB\xEE\xE3 \xB9 101. "
                               "\xCE\xF8\xE8\xE1\xEA\xE0 \xB9 ";
    ASSERT_EQ(box.text.compare(0, prefix.size(), prefix), 0) << box.text;
    const std::string code = box.text.substr(prefix.size());
    ASSERT_GE(code.size(), 2u);
    EXPECT_EQ(code.back(), '.');
    EXPECT_NE(code.substr(0, code.size() - 1), "0");
    EXPECT_EQ(code.find_first_not_of("0123456789"), code.size() - 1);
}

} // namespace
