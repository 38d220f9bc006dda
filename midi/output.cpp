// The MIDI output port, the long-message send and the thru connection.
#include "core/app_state.h"

void FillOutputDeviceList(HWND) {}
void OnOutputDeviceSelected(HWND, HWND) {}
void OnThruToggled(HWND) {}
void SendLongMessage(HWND, unsigned char *, DWORD) {}

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(MIDIOUTCAPSA) == 52, "the 32-bit output capabilities record is 52 bytes");
static_assert(sizeof(MIDIHDR) == 64, "the 32-bit MIDI buffer header is 64 bytes");
#endif
