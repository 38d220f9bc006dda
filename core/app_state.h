// The one record of program-wide state and the functions that share it.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "ui/resource.h"

enum CaptureMode : unsigned char {
    Idle = 0,
    Capturing = 1,
    Verifying = 2,
};

enum : unsigned {
    TEXT_BUFFER_SIZE = 500,
    INPUT_BUFFER_SIZE = 500,
    INPUT_BUFFER_COUNT = 50,
    COMPARE_BUFFER_SIZE = 500,
    DESCRIPTION_SIZE = 100,
    IDT_SIGNAL = 1,
    SIGNAL_TICK_MS = 100,
    SIGNAL_LIMIT_MS = 701,
    SEND_PAUSE_MS = 500,
};

#define DEFAULT_FILE_NAME "z_new.syx"

static_assert(COMPARE_BUFFER_SIZE >= INPUT_BUFFER_SIZE, "a whole input buffer must fit the compare block");

struct PendingSend;

struct AppState {
    CaptureMode mode;
    HMIDIIN midiIn;
    HMIDIOUT midiOut;
    HANDLE dataFile;
    HANDLE sendFile;
    unsigned char *compareBuffer;
    std::uint32_t byteTotal;
    std::uint32_t verifiedBytes;
    std::uint32_t soxCount;
    std::uint32_t eoxCount;
    bool mismatch;
    std::uint32_t silenceMs;
    bool signalPresent;
    MMRESULT lastResult;
    char descriptionText[DESCRIPTION_SIZE];
    PendingSend *pendingSends; // blocks the output device may still be reading
    HWND statusLine;           // IDC_STATUS, looked up once: every input buffer rewrites it
};

extern AppState app;

// The state as the program starts. Tests use it to begin each case afresh.
void ResetAppState();

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The error box: owned by the dialog, default caption, one OK button.
void ShowError(HWND dialog, const char *text);
// Enables or disables one control of the dialog.
void EnableControl(HWND dialog, int id, BOOL enable);

// Capture, verify and accounting.
void OnCaptureToggled(HWND dialog);
void OnVerifyToggled(HWND dialog);
void ClickCheckbox(HWND dialog, int id, UINT state);
void AccountSysexBuffer(HWND dialog, const unsigned char *data, DWORD n);

// Sending a file.
void OnSendFile(HWND dialog);

// Start-up file name: the first command-line argument.
bool GetFirstArgument(char *buffer, int capacity);

// MIDI input port and watchdog.
void FillInputDeviceList(HWND dialog);
void OnInputDeviceSelected(HWND dialog, HWND list);
// device is the handle that came with the notification.
void OnLongData(HWND dialog, HMIDIIN device, MIDIHDR *header);
void OnShortMessage(HWND dialog, DWORD message);
// header is the buffer of MM_MIM_LONGERROR, released here; null for the other two.
void OnInputError(HWND dialog, UINT message, HMIDIIN device, MIDIHDR *header);
void OnSignalTick(HWND dialog);

// MIDI output port and thru.
void FillOutputDeviceList(HWND dialog);
void OnOutputDeviceSelected(HWND dialog, HWND list);
void OnThruToggled(HWND dialog);
// Takes over block: it is released once the device is done with it.
void SendLongMessage(HWND dialog, unsigned char *block, DWORD size);
// MM_MOM_DONE: releases the blocks the device has finished with; shows nothing.
void OnOutputDone(HWND dialog, MIDIHDR *header);
// Resets and closes the output device and releases every block it held.
void CloseOutputAtExit(HWND dialog);

// Window-level handlers.
void OnInitDialog(HWND dialog);
void OnClose(HWND dialog);
void OnDestroy(HWND dialog);
void OnSysCommand(HWND dialog, WPARAM command);
void OnDropFiles(HWND dialog, HDROP drop);
void OnBrowse(HWND dialog);
void BlankWindow(HWND window);

// Runs the main dialog from the given module and returns the process exit code.
int RunMainDialog(HINSTANCE instance);
