// The rest of the WinMM surface a GUI process may reach: error texts, the
// timer calls, and harmless answers for sound and multimedia file I/O. Wine's
// comctl32 loads mmio* lazily for its animation control and shlwapi loads
// PlaySoundW; without these the first such call would fail to resolve.
#include "core.h"

using namespace vm;

namespace {

const char *ErrorText(MMRESULT rc) {
    switch (rc) {
    case MMSYSERR_NOERROR: return "No error.";
    case MMSYSERR_ERROR: return "General error.";
    case MMSYSERR_BADDEVICEID: return "The device ID is out of range.";
    case MMSYSERR_NOTENABLED: return "The driver could not be enabled.";
    case MMSYSERR_ALLOCATED: return "The device is already in use.";
    case MMSYSERR_INVALHANDLE: return "The device handle is invalid.";
    case MMSYSERR_NODRIVER: return "No device driver is present.";
    case MMSYSERR_NOMEM: return "Not enough memory.";
    case MMSYSERR_NOTSUPPORTED: return "The function is not supported.";
    case MMSYSERR_BADERRNUM: return "The error number is not defined.";
    case MMSYSERR_INVALFLAG: return "An invalid flag was passed.";
    case MMSYSERR_INVALPARAM: return "An invalid parameter was passed.";
    case MMSYSERR_HANDLEBUSY: return "The handle is being used by another thread.";
    case MIDIERR_UNPREPARED: return "The MIDI header is not prepared.";
    case MIDIERR_STILLPLAYING: return "MIDI buffers are still in the queue.";
    case MIDIERR_NOMAP: return "There is no MIDI map.";
    case MIDIERR_NOTREADY: return "The MIDI port is busy.";
    case MIDIERR_NODEVICE: return "The MIDI device is not present.";
    case MIDIERR_INVALIDSETUP: return "The MIDI setup is invalid.";
    case MIDIERR_BADOPENMODE: return "The operation is not allowed in this open mode.";
    case MIDIERR_DONT_CONTINUE: return "Do not continue.";
    default: return nullptr;
    }
}

MMRESULT TextA(const char *call, MMRESULT rc, LPSTR text, UINT cch) {
    Lock l;
    if (!text || !cch) return Answer(call, MMSYSERR_INVALPARAM);
    const char *s = ErrorText(rc);
    if (!s) {
        text[0] = 0;
        return Answer(call, MMSYSERR_BADERRNUM);
    }
    lstrcpynA(text, s, static_cast<int>(cch));
    return Answer(call, MMSYSERR_NOERROR);
}

MMRESULT TextW(const char *call, MMRESULT rc, LPWSTR text, UINT cch) {
    Lock l;
    if (!text || !cch) return Answer(call, MMSYSERR_INVALPARAM);
    const char *s = ErrorText(rc);
    text[0] = 0;
    if (!s) return Answer(call, MMSYSERR_BADERRNUM);
    if (!MultiByteToWideChar(CP_ACP, 0, s, -1, text, static_cast<int>(cch))) text[cch - 1] = 0;
    return Answer(call, MMSYSERR_NOERROR);
}

}  // namespace

extern "C" {

MMRESULT WINAPI midiInGetErrorTextA(MMRESULT rc, LPSTR text, UINT cch) {
    return TextA("midiInGetErrorTextA", rc, text, cch);
}
MMRESULT WINAPI midiOutGetErrorTextA(MMRESULT rc, LPSTR text, UINT cch) {
    return TextA("midiOutGetErrorTextA", rc, text, cch);
}
MMRESULT WINAPI midiInGetErrorTextW(MMRESULT rc, LPWSTR text, UINT cch) {
    return TextW("midiInGetErrorTextW", rc, text, cch);
}
MMRESULT WINAPI midiOutGetErrorTextW(MMRESULT rc, LPWSTR text, UINT cch) {
    return TextW("midiOutGetErrorTextW", rc, text, cch);
}

UINT WINAPI mmsystemGetVersion(void) { return 0x030A; }

DWORD WINAPI timeGetTime(void) { return GetTickCount(); }

MMRESULT WINAPI timeGetSystemTime(LPMMTIME t, UINT size) {
    if (!t || size < sizeof(MMTIME)) return TIMERR_NOCANDO;
    t->wType = TIME_MS;
    t->u.ms = GetTickCount();
    return TIMERR_NOERROR;
}

MMRESULT WINAPI timeGetDevCaps(LPTIMECAPS caps, UINT size) {
    if (!caps || size < sizeof(TIMECAPS)) return TIMERR_NOCANDO;
    caps->wPeriodMin = 1;
    caps->wPeriodMax = 1000000;
    return TIMERR_NOERROR;
}

MMRESULT WINAPI timeBeginPeriod(UINT period) { return period ? TIMERR_NOERROR : TIMERR_NOCANDO; }
MMRESULT WINAPI timeEndPeriod(UINT period) { return period ? TIMERR_NOERROR : TIMERR_NOCANDO; }

// No sound hardware behind this driver: every sound request fails quietly.
BOOL WINAPI PlaySoundA(LPCSTR, HMODULE, DWORD) {
    Lock l;
    Answer("PlaySoundA", MMSYSERR_NOTSUPPORTED);
    return FALSE;
}
BOOL WINAPI PlaySoundW(LPCWSTR, HMODULE, DWORD) {
    Lock l;
    Answer("PlaySoundW", MMSYSERR_NOTSUPPORTED);
    return FALSE;
}
BOOL WINAPI sndPlaySoundA(LPCSTR, UINT) { return FALSE; }
BOOL WINAPI sndPlaySoundW(LPCWSTR, UINT) { return FALSE; }
UINT WINAPI waveOutGetNumDevs(void) { return 0; }
UINT WINAPI waveInGetNumDevs(void) { return 0; }
UINT WINAPI auxGetNumDevs(void) { return 0; }
UINT WINAPI mixerGetNumDevs(void) { return 0; }
UINT WINAPI joyGetNumDevs(void) { return 0; }

// Multimedia file I/O: no file opens, so callers take their failure path.
HMMIO WINAPI mmioOpenA(LPSTR, LPMMIOINFO info, DWORD) {
    Lock l;
    Answer("mmioOpenA", MMIOERR_CANNOTOPEN);
    if (info) info->wErrorRet = MMIOERR_CANNOTOPEN;
    return nullptr;
}
HMMIO WINAPI mmioOpenW(LPWSTR, LPMMIOINFO info, DWORD) {
    Lock l;
    Answer("mmioOpenW", MMIOERR_CANNOTOPEN);
    if (info) info->wErrorRet = MMIOERR_CANNOTOPEN;
    return nullptr;
}
MMRESULT WINAPI mmioClose(HMMIO, UINT) { return MMSYSERR_INVALHANDLE; }
LONG WINAPI mmioRead(HMMIO, HPSTR, LONG) { return -1; }
LONG WINAPI mmioSeek(HMMIO, LONG, int) { return -1; }
MMRESULT WINAPI mmioDescend(HMMIO, LPMMCKINFO, const MMCKINFO *, UINT) {
    return MMIOERR_CHUNKNOTFOUND;
}
MMRESULT WINAPI mmioAscend(HMMIO, LPMMCKINFO, UINT) { return MMIOERR_CHUNKNOTFOUND; }

}  // extern "C"
