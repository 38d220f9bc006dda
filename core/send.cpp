// Sending a SysEx file to the output device.
#include "core/app_state.h"

void OnSendFile(HWND) {}
