// The program-wide state and the dialog procedure that routes every event to its handler.
#include "core/app_state.h"

AppState app;

void ResetAppState()
{
    app = AppState{};
    app.mode = Idle;
    app.dataFile = INVALID_HANDLE_VALUE;
    app.signalPresent = true;
    app.lastResult = MMSYSERR_NOERROR;
}

namespace {
struct StartUpState {
    StartUpState() { ResetAppState(); }
} startUpState;
} // namespace

void ShowError(HWND dialog, const char *text)
{
    MessageBoxA(dialog, text, nullptr, MB_OK);
}

void EnableControl(HWND dialog, int id, BOOL enable)
{
    EnableWindow(GetDlgItem(dialog, id), enable);
}

static INT_PTR OnCommand(HWND dialog, WPARAM wParam, LPARAM lParam)
{
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    switch (id) {
    case IDC_IN_DEVICE:
        if (code == CBN_SELCHANGE)
            OnInputDeviceSelected(dialog, control);
        return TRUE;
    case IDC_OUT_DEVICE:
        if (code == CBN_SELCHANGE)
            OnOutputDeviceSelected(dialog, control);
        return TRUE;
    case IDC_SEND: OnSendFile(dialog); return TRUE;
    case IDC_BROWSE: OnBrowse(dialog); return TRUE;
    case IDC_CAPTURE: OnCaptureToggled(dialog); return TRUE;
    case IDC_VERIFY: OnVerifyToggled(dialog); return TRUE;
    case IDC_THRU: OnThruToggled(dialog); return TRUE;
    default: return FALSE; // the labels, the file name box, IDOK and IDCANCEL
    }
}

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); return FALSE;
    case WM_COMMAND: return OnCommand(dialog, wParam, lParam);
    case WM_SYSCOMMAND: OnSysCommand(dialog, wParam); return FALSE;
    case WM_TIMER: OnSignalTick(dialog); return TRUE;
    case WM_DROPFILES: OnDropFiles(dialog, reinterpret_cast<HDROP>(wParam)); return TRUE;
    case WM_CLOSE: OnClose(dialog); return TRUE;
    case WM_ENDSESSION:
        if (wParam != 0)
            OnClose(dialog);
        return TRUE;
    case WM_DESTROY: OnDestroy(dialog); return TRUE;
    case MM_MIM_DATA: OnShortMessage(dialog, static_cast<DWORD>(lParam)); return TRUE;
    case MM_MIM_LONGDATA:
        OnLongData(dialog, reinterpret_cast<HMIDIIN>(wParam), reinterpret_cast<MIDIHDR *>(lParam));
        return TRUE;
    case MM_MIM_LONGERROR:
        OnInputError(dialog, message, reinterpret_cast<HMIDIIN>(wParam), reinterpret_cast<MIDIHDR *>(lParam));
        return TRUE;
    case MM_MIM_ERROR:
    case MM_MIM_MOREDATA: OnInputError(dialog, message, nullptr, nullptr); return TRUE;
    case MM_MOM_DONE:
        // Bookkeeping only: the window shows nothing and the platform's handling goes on.
        OnOutputDone(dialog, reinterpret_cast<MIDIHDR *>(lParam));
        return FALSE;
    default: return FALSE; // the other MM_MOM_* and MM_MIM_OPEN/CLOSE are left to the platform
    }
}
