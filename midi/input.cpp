// The MIDI input port, its buffer queue, its notifications and the signal watchdog.
#include "core/app_state.h"

void FillInputDeviceList(HWND) {}
void OnInputDeviceSelected(HWND, HWND) {}
void OnLongData(HWND, MIDIHDR *) {}
void OnShortMessage(HWND, DWORD) {}
void OnInputError(HWND, UINT) {}
void OnSignalTick(HWND) {}

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(MIDIHDR) == 64, "the 32-bit MIDI buffer header is 64 bytes");
#endif
