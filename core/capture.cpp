// Capture to a file, verification against a file, and the SysEx accounting of input buffers.
#include "core/app_state.h"

void OnCaptureToggled(HWND) {}
void OnVerifyToggled(HWND) {}
void ClickCheckbox(HWND, int, UINT) {}
void AccountSysexBuffer(HWND, const unsigned char *, DWORD) {}
