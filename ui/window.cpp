// The window-level handlers: start-up, closing, minimising, dropped files and browsing.
#include "core/app_state.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(OPENFILENAMEA) == 88, "the 32-bit file-open record is 88 bytes");
#endif

namespace {

// The file-open dialog and drag and drop are loaded on first use: mapping comdlg32 and shell32
// (and what they pull in) at start-up would make the window appear noticeably later.
template <typename Function> Function PlatformCall(Function &loaded, const char *library, const char *name)
{
    if (loaded == nullptr) {
        if (HMODULE module = LoadLibraryA(library))
            loaded = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    }
    return loaded;
}

UINT(WINAPI *dragQueryFile)(HDROP, UINT, LPSTR, UINT) = nullptr;
void(WINAPI *dragFinish)(HDROP) = nullptr;
BOOL(WINAPI *getOpenFileName)(LPOPENFILENAMEA) = nullptr;

} // namespace

void OnInitDialog(HWND dialog)
{
    HMENU systemMenu = GetSystemMenu(dialog, FALSE);
    DeleteMenu(systemMenu, SC_SIZE, MF_BYCOMMAND);
    DeleteMenu(systemMenu, SC_MAXIMIZE, MF_BYCOMMAND);

    app.statusLine = GetDlgItem(dialog, IDC_STATUS);

    char text[TEXT_BUFFER_SIZE];
    SetDlgItemTextA(dialog, IDC_FILENAME, GetFirstArgument(text, TEXT_BUFFER_SIZE) ? text : DEFAULT_FILE_NAME);

    FillInputDeviceList(dialog);
    FillOutputDeviceList(dialog);
}

void BlankWindow(HWND window)
{
    HDC dc = GetWindowDC(window);
    RECT rect;
    GetWindowRect(window, &rect);
    rect.right -= rect.left;
    rect.bottom -= rect.top;
    rect.left = 0;
    rect.top = 0;
    FillRect(dc, &rect, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    ReleaseDC(window, dc);
}

void OnClose(HWND dialog)
{
    BlankWindow(dialog);
    EndDialog(dialog, 0);
}

void OnSysCommand(HWND dialog, WPARAM command)
{
    if (LOWORD(command) == SC_MINIMIZE)
        BlankWindow(dialog);
}

void OnDropFiles(HWND dialog, HDROP drop)
{
    if (PlatformCall(dragQueryFile, "shell32.dll", "DragQueryFileA") == nullptr ||
        PlatformCall(dragFinish, "shell32.dll", "DragFinish") == nullptr)
        return;
    char text[TEXT_BUFFER_SIZE] = "";
    dragQueryFile(drop, 0, text, TEXT_BUFFER_SIZE);
    SetDlgItemTextA(dialog, IDC_FILENAME, text);
    dragFinish(drop);
}

void OnBrowse(HWND dialog)
{
    char text[TEXT_BUFFER_SIZE];
    OPENFILENAMEA request = {};
    request.lStructSize = sizeof(request);
    request.hwndOwner = dialog;
    request.lpstrFilter = "SysEx Files (*.syx)\0*.syx\0All Files (*.*)\0*.*\0";
    request.lpstrFile = text;
    request.nMaxFile = TEXT_BUFFER_SIZE;
    request.lpstrTitle = "Browse for file";
    request.Flags = OFN_EXPLORER;
    request.lpstrDefExt = "syx";

    GetDlgItemTextA(dialog, IDC_FILENAME, text, TEXT_BUFFER_SIZE);
    if (PlatformCall(getOpenFileName, "comdlg32.dll", "GetOpenFileNameA") != nullptr && getOpenFileName(&request))
        SetDlgItemTextA(dialog, IDC_FILENAME, request.lpstrFile);
}

int RunMainDialog(HINSTANCE instance)
{
    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlgProc, 0);
    if (result == 0)
        return 0;

    // "Dialog number %u cannot be created. Error number %u." in Windows-1251.
    static const char failure[] = "\xCD\xE5 \xEC\xEE\xE3\xF3 \xF1\xEE\xE7\xE4\xE0\xF2\xFC "
                                  "\xE4\xE8\xE0\xEB\xEE\xE3 \xB9 %u. "
                                  "\xCE\xF8\xE8\xE1\xEA\xE0 \xB9 %u.";
    char text[100];
    std::snprintf(text, sizeof(text), failure, static_cast<unsigned>(IDD_MAIN),
                  static_cast<unsigned>(GetLastError()));
    MessageBoxA(nullptr, text, "Brelvane", MB_ICONERROR);
    return 1;
}

void OnDestroy(HWND dialog)
{
    KillTimer(dialog, IDT_SIGNAL);
    // The device refuses to close while it holds buffers: take them back first, so it is
    // released cleanly. The returned buffers end with the process.
    if (app.midiIn != nullptr) {
        midiInStop(app.midiIn);
        midiInReset(app.midiIn);
    }
    midiInClose(app.midiIn);
    app.midiIn = nullptr;

    // A capture's bytes are all written already; closing keeps them in the file.
    if (app.dataFile != INVALID_HANDLE_VALUE) {
        CloseHandle(app.dataFile);
        app.dataFile = INVALID_HANDLE_VALUE;
    }
    std::free(app.compareBuffer);
    app.compareBuffer = nullptr;
    app.mode = Idle;

    CloseOutputAtExit(dialog);
}
