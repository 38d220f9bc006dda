// The MIDI output port, the long-message send and the thru connection.
#include "core/app_state.h"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(MIDIOUTCAPSA) == 52, "the 32-bit output capabilities record is 52 bytes");
static_assert(sizeof(MIDIHDR) == 64, "the 32-bit MIDI buffer header is 64 bytes");
#endif

// A block handed to the device, kept until the device is done reading it.
struct PendingSend {
    MIDIHDR header; // first, so the header a notification names finds its send
    HMIDIOUT device; // null once that device is closed
    PendingSend *next;
};

namespace {

void FinishSend(PendingSend *send)
{
    if (send->device != nullptr)
        app.lastResult = midiOutUnprepareHeader(send->device, &send->header, sizeof(MIDIHDR));
    std::free(send->header.lpData);
    std::free(send);
}

bool DeviceIsDone(const PendingSend *send)
{
    return (send->header.dwFlags & MHDR_DONE) && !(send->header.dwFlags & MHDR_INQUEUE);
}

// Unprepares and releases every block the device no longer reads.
void ReclaimFinishedSends()
{
    PendingSend **link = &app.pendingSends;
    while (PendingSend *send = *link) {
        if (DeviceIsDone(send)) {
            *link = send->next;
            FinishSend(send);
        } else {
            link = &send->next;
        }
    }
}

void CloseOutput(HWND dialog)
{
    EnableControl(dialog, IDC_SEND, FALSE);
    // The device refuses to close until it has played what it was given.
    do {
        app.lastResult = midiOutClose(app.midiOut);
    } while (app.lastResult == MIDIERR_STILLPLAYING);
    if (app.lastResult == MMSYSERR_NOERROR) {
        for (PendingSend *send = app.pendingSends; send != nullptr; send = send->next)
            if (send->device == app.midiOut)
                send->device = nullptr;
    }
    app.midiOut = nullptr;
    ReclaimFinishedSends();
}

} // namespace

void FillOutputDeviceList(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_OUT_DEVICE);
    const UINT count = midiOutGetNumDevs();
    // The mapper first, then the devices: position - 1 is the device id.
    for (UINT position = 0; position <= count; ++position) {
        const UINT id = position - 1;
        MIDIOUTCAPSA caps = {};
        if (midiOutGetDevCapsA(id, &caps, sizeof(caps)) != MMSYSERR_NOERROR) {
            if (id == MIDI_MAPPER)
                std::snprintf(caps.szPname, sizeof(caps.szPname), "MIDI Mapper");
            else
                std::snprintf(caps.szPname, sizeof(caps.szPname), "Output device %u", id);
        }
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(caps.szPname));
    }
}

void OnOutputDeviceSelected(HWND dialog, HWND list)
{
    if (app.midiOut != nullptr)
        CloseOutput(dialog);

    const UINT id = static_cast<UINT>(SendMessageA(list, CB_GETCURSEL, 0, 0)) - 1;
    app.lastResult = midiOutOpen(&app.midiOut, id, reinterpret_cast<DWORD_PTR>(dialog), 0, CALLBACK_WINDOW);
    const bool opened = app.lastResult == MMSYSERR_NOERROR;
    SetDlgItemTextA(dialog, IDC_OUT_STATE, opened ? "Ok" : "Error opening device");
    if (opened)
        EnableControl(dialog, IDC_SEND, TRUE);
    else
        app.midiOut = nullptr;
}

void OnThruToggled(HWND dialog)
{
    if (IsDlgButtonChecked(dialog, IDC_THRU) == BST_CHECKED) {
        app.lastResult = midiConnect(reinterpret_cast<HMIDI>(app.midiIn), app.midiOut, nullptr);
        if (app.lastResult != MMSYSERR_NOERROR)
            SetDlgItemTextA(dialog, IDC_STATUS, "Error connecting devices together");
    } else {
        app.lastResult = midiDisconnect(reinterpret_cast<HMIDI>(app.midiIn), app.midiOut, nullptr);
    }
}

void SendLongMessage(HWND dialog, unsigned char *block, DWORD size)
{
    ReclaimFinishedSends();
    auto *send = static_cast<PendingSend *>(std::calloc(1, sizeof(PendingSend)));
    if (send == nullptr) {
        std::free(block);
        ShowError(dialog, "Not enough memory to send the file");
        return;
    }
    send->header.lpData = reinterpret_cast<LPSTR>(block);
    send->header.dwBufferLength = size;
    send->device = app.midiOut;

    app.lastResult = midiOutPrepareHeader(send->device, &send->header, sizeof(MIDIHDR));
    if (app.lastResult != MMSYSERR_NOERROR)
        ShowError(dialog, "error in midiOutPrepareHeader()");
    app.lastResult = midiOutLongMsg(send->device, &send->header, sizeof(MIDIHDR));
    if (app.lastResult != MMSYSERR_NOERROR) {
        ShowError(dialog, "error in midiOutLongMsg()");
        FinishSend(send); // the device holds nothing
        return;
    }
    // The device reads the block while it plays; it is released once the device is done.
    send->next = app.pendingSends;
    app.pendingSends = send;
}

void OnOutputDone(HWND, MIDIHDR *header)
{
    // Only a block still on the list is looked at, so a late notification is harmless.
    for (PendingSend *send = app.pendingSends; send != nullptr; send = send->next) {
        if (&send->header == header) {
            ReclaimFinishedSends();
            return;
        }
    }
}

void CloseOutputAtExit(HWND dialog)
{
    if (app.midiOut != nullptr) {
        midiOutReset(app.midiOut); // gives back whatever is still playing
        CloseOutput(dialog);
    }
}
