// The MIDI input port, its buffer queue, its notifications and the signal watchdog.
#include "core/app_state.h"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(MIDIHDR) == 64, "the 32-bit MIDI buffer header is 64 bytes");
#endif

namespace {

MIDIHDR *NewInputBuffer()
{
    auto *header = static_cast<MIDIHDR *>(std::calloc(1, sizeof(MIDIHDR)));
    if (header == nullptr)
        return nullptr;
    header->lpData = static_cast<LPSTR>(std::malloc(INPUT_BUFFER_SIZE));
    if (header->lpData == nullptr) {
        std::free(header);
        return nullptr;
    }
    header->dwBufferLength = INPUT_BUFFER_SIZE;
    return header;
}

// Frees a buffer the device has given back and that will not be queued again.
void ReleaseInputBuffer(HMIDIIN device, MIDIHDR *header)
{
    if (device != nullptr)
        midiInUnprepareHeader(device, header, sizeof(MIDIHDR));
    std::free(header->lpData);
    std::free(header);
}

void CloseInput(HWND dialog)
{
    KillTimer(dialog, IDT_SIGNAL);
    EnableControl(dialog, IDC_CAPTURE, FALSE);
    EnableControl(dialog, IDC_VERIFY, FALSE);
    app.lastResult = midiInStop(app.midiIn);
    app.lastResult = midiInReset(app.midiIn);
    app.lastResult = midiInClose(app.midiIn);
    app.midiIn = nullptr;
}

} // namespace

void FillInputDeviceList(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_IN_DEVICE);
    const UINT count = midiInGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIDIINCAPSA caps = {};
        // Every id gets its entry, so positions stay equal to device ids.
        if (midiInGetDevCapsA(id, &caps, sizeof(caps)) != MMSYSERR_NOERROR)
            std::snprintf(caps.szPname, sizeof(caps.szPname), "Input device %u", id);
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(caps.szPname));
    }
}

void OnInputDeviceSelected(HWND dialog, HWND list)
{
    if (app.midiIn != nullptr)
        CloseInput(dialog);

    const UINT id = static_cast<UINT>(SendMessageA(list, CB_GETCURSEL, 0, 0));
    app.lastResult = midiInOpen(&app.midiIn, id, reinterpret_cast<DWORD_PTR>(dialog), 0, CALLBACK_WINDOW);
    SetDlgItemTextA(dialog, IDC_IN_STATE, app.lastResult == MMSYSERR_NOERROR ? "Ok" : "Error opening device");
    if (app.lastResult != MMSYSERR_NOERROR) {
        app.midiIn = nullptr;
        return;
    }

    bool outOfMemory = false;
    for (unsigned i = 0; i < INPUT_BUFFER_COUNT; ++i) {
        MIDIHDR *header = NewInputBuffer();
        if (header == nullptr) {
            outOfMemory = true;
            break;
        }
        if (midiInPrepareHeader(app.midiIn, header, sizeof(MIDIHDR)) != MMSYSERR_NOERROR)
            ShowError(dialog, "midiInPrepareHeader()");
        app.lastResult = midiInAddBuffer(app.midiIn, header, sizeof(MIDIHDR));
        // A buffer the device refused is not held by anyone: free it.
        if (app.lastResult != MMSYSERR_NOERROR)
            ReleaseInputBuffer(app.midiIn, header);
    }
    if (outOfMemory)
        ShowError(dialog, "Not enough memory for all input buffers");

    EnableControl(dialog, IDC_CAPTURE, TRUE);
    EnableControl(dialog, IDC_VERIFY, TRUE);
    SetTimer(dialog, IDT_SIGNAL, SIGNAL_TICK_MS, nullptr);
    app.lastResult = midiInStart(app.midiIn);
}

void OnLongData(HWND dialog, HMIDIIN device, MIDIHDR *header)
{
    app.silenceMs = 0;
    if (header == nullptr)
        return;
    if (header->dwBytesRecorded == 0) {
        // Given back empty (a reset): dropped, and its memory released.
        ReleaseInputBuffer(device, header);
        return;
    }
    DWORD n = header->dwBytesRecorded;
    if (n > header->dwBufferLength)
        n = header->dwBufferLength; // a driver never reports more than the buffer holds
    AccountSysexBuffer(dialog, reinterpret_cast<const unsigned char *>(header->lpData), n);
    header->dwBytesRecorded = 0;

    // Back to the device open now, whichever device returned it.
    if (midiInPrepareHeader(app.midiIn, header, sizeof(MIDIHDR)) != MMSYSERR_NOERROR)
        ShowError(dialog, "error midiInPrepareHeader() 139");
    app.lastResult = midiInAddBuffer(app.midiIn, header, sizeof(MIDIHDR));
    if (app.lastResult != MMSYSERR_NOERROR)
        ReleaseInputBuffer(nullptr, header);
}

void OnShortMessage(HWND dialog, DWORD message)
{
    app.silenceMs = 0;
    if (message == 0xFE)
        return; // active sensing: input for the watchdog, nothing to show
    char text[TEXT_BUFFER_SIZE];
    std::snprintf(text, TEXT_BUFFER_SIZE, "0x%.2X 0x%.2X, status 0x%.2X", static_cast<unsigned>((message >> 8) & 0xFF),
                  static_cast<unsigned>((message >> 16) & 0xFF), static_cast<unsigned>(message & 0xFF));
    SetDlgItemTextA(dialog, IDC_STATUS, text);
}

void OnInputError(HWND dialog, UINT message, HMIDIIN device, MIDIHDR *header)
{
    // A buffer that comes back with MM_MIM_LONGERROR is not accounted or queued again.
    if (message == MM_MIM_LONGERROR && header != nullptr)
        ReleaseInputBuffer(device, header);
    const char *text = message == MM_MIM_ERROR ? "MM_MIM_ERROR"
                       : message == MM_MIM_LONGERROR ? "MM_MIM_LONGERROR"
                                                     : "MM_MIM_MOREDATA";
    ShowError(dialog, text);
}

void OnSignalTick(HWND dialog)
{
    if (app.signalPresent) {
        app.silenceMs += SIGNAL_TICK_MS;
        if (app.silenceMs > SIGNAL_LIMIT_MS) {
            SetDlgItemTextA(dialog, IDC_IN_STATE, "No signal");
            app.signalPresent = false;
        }
    } else if (app.silenceMs == 0) {
        SetDlgItemTextA(dialog, IDC_IN_STATE, "Ok");
        app.signalPresent = true;
    }
}
