// A dialog with no controls and no MIDI, built with the program's flags and static runtime: the
// baseline the start-up benchmark compares the program's time to a visible window with.
//
// Built twice more to show where the program's extra start-up time goes:
//   EMPTY_DIALOG_IMPORTS  the same empty dialog importing what the program imports at start-up
//                         (winmm; comdlg32 and shell32 it loads on first use), so the loader
//                         maps the same DLLs;
//   EMPTY_DIALOG_TEMPLATE the program's own dialog template (all its controls), with no code.
#include <windows.h>
#ifdef EMPTY_DIALOG_IMPORTS
#include <mmsystem.h>
#endif
#ifdef EMPTY_DIALOG_TEMPLATE
#include "ui/resource.h"
#define DIALOG_ID IDD_MAIN
#else
#define DIALOG_ID 1
#endif

namespace {

INT_PTR CALLBACK EmptyDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_CLOSE: EndDialog(dialog, 0); return TRUE;
#ifdef EMPTY_DIALOG_IMPORTS
    case WM_COMMAND:
        // Never sent: only here so the imports stay.
        if (LOWORD(wParam) == 0x7FFF) {
            midiInGetNumDevs();
        }
        return FALSE;
#else
    case WM_COMMAND: (void)wParam; return FALSE;
#endif
    default: return FALSE;
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return static_cast<int>(DialogBoxParamA(instance, MAKEINTRESOURCEA(DIALOG_ID), nullptr, EmptyDlgProc, 0));
}
