// WinMM MIDI input entry points.
#include <cstddef>
#include <cstring>

#include "core.h"

using namespace vm;

namespace {

void FillCaps(const InDev &d, MIDIINCAPSA *c) {
    memset(c, 0, sizeof(*c));
    c->wMid = MM_UNMAPPED;
    c->wPid = MM_PID_UNMAPPED;
    c->vDriverVersion = 0x0100;
    lstrcpynA(c->szPname, d.name.c_str(), MAXPNAMELEN);
}

// Device id or, as the platform allows, an open handle.
InDev *InByIdOrHandle(UINT_PTR id) {
    if (id < S().ins.size()) return &S().ins[id];
    return InByHandle(id);
}

}  // namespace

extern "C" {

UINT WINAPI midiInGetNumDevs(void) {
    Lock l;
    Answer("midiInGetNumDevs", MMSYSERR_NOERROR);
    return static_cast<UINT>(S().ins.size());
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR id, LPMIDIINCAPSA caps, UINT size) {
    VM_ENTER("midiInGetDevCapsA");
    if (!caps) VM_ANSWER(MMSYSERR_INVALPARAM);
    InDev *d = InByIdOrHandle(id);
    if (!d) VM_ANSWER(MMSYSERR_BADDEVICEID);  // there is no input mapper
    MIDIINCAPSA c;
    FillCaps(*d, &c);
    memcpy(caps, &c, size < sizeof(c) ? size : sizeof(c));
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR id, LPMIDIINCAPSW caps, UINT size) {
    VM_ENTER("midiInGetDevCapsW");
    if (!caps) VM_ANSWER(MMSYSERR_INVALPARAM);
    InDev *d = InByIdOrHandle(id);
    if (!d) VM_ANSWER(MMSYSERR_BADDEVICEID);
    MIDIINCAPSA a;
    FillCaps(*d, &a);
    MIDIINCAPSW c;
    memset(&c, 0, sizeof(c));
    c.wMid = a.wMid;
    c.wPid = a.wPid;
    c.vDriverVersion = a.vDriverVersion;
    MultiByteToWideChar(CP_ACP, 0, a.szPname, -1, c.szPname, MAXPNAMELEN);
    memcpy(caps, &c, size < sizeof(c) ? size : sizeof(c));
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                           DWORD flags) {
    VM_ENTER("midiInOpen");
    if (!phmi) VM_ANSWER(MMSYSERR_INVALPARAM);
    *phmi = nullptr;
    InDev *d = InById(static_cast<int>(id));
    if (!d || id == MIDI_MAPPER) VM_ANSWER(MMSYSERR_BADDEVICEID);
    MMRESULT rc = CheckCallback(callback, flags);
    if (rc) VM_ANSWER(rc);
    if (d->handle) VM_ANSWER(MMSYSERR_ALLOCATED);
    d->handle = NewHandle();
    d->cb.type = flags & CALLBACK_TYPEMASK;
    d->cb.target = callback;
    d->cb.instance = instance;
    d->openFlags = flags;
    d->started = false;
    d->thru = -1;
    *phmi = reinterpret_cast<HMIDIIN>(d->handle);
    Notify(d->cb, d->handle, MM_MIM_OPEN, 0, 0);
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiInClose(HMIDIIN h) {
    VM_ENTER("midiInClose");
    InDev *d = InByHandle(reinterpret_cast<UINT_PTR>(h));
    if (!d) VM_ANSWER(MMSYSERR_INVALHANDLE);
    if (!d->queue.empty()) VM_ANSWER(MIDIERR_STILLPLAYING);
    Callback cb = d->cb;
    UINT_PTR handle = d->handle;
    d->handle = 0;
    d->started = false;
    d->thru = -1;
    d->cb = Callback();
    Notify(cb, handle, MM_MIM_CLOSE, 0, 0);
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN h, LPMIDIHDR hdr, UINT size) {
    VM_ENTER("midiInPrepareHeader");
    VM_ANSWER(PrepareHeader(InByHandle(reinterpret_cast<UINT_PTR>(h)) != nullptr, hdr, size));
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN h, LPMIDIHDR hdr, UINT size) {
    VM_ENTER("midiInUnprepareHeader");
    VM_ANSWER(UnprepareHeader(InByHandle(reinterpret_cast<UINT_PTR>(h)) != nullptr, hdr, size));
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN h, LPMIDIHDR hdr, UINT size) {
    VM_ENTER("midiInAddBuffer");
    int id;
    InDev *d = InByHandle(reinterpret_cast<UINT_PTR>(h), &id);
    if (!d) VM_ANSWER(MMSYSERR_INVALHANDLE);
    if (!HeaderOk(hdr, size) || !hdr->lpData || !hdr->dwBufferLength)
        VM_ANSWER(MMSYSERR_INVALPARAM);
    if (hdr->dwFlags & MHDR_INQUEUE) VM_ANSWER(MIDIERR_STILLPLAYING);
    if (!(hdr->dwFlags & MHDR_PREPARED)) VM_ANSWER(MIDIERR_UNPREPARED);
    hdr->dwFlags = (hdr->dwFlags | MHDR_INQUEUE) & ~MHDR_DONE;
    hdr->dwBytesRecorded = 0;
    hdr->lpNext = nullptr;
    d->queue.push_back(hdr);
    ++S().changes;
    // Waiting data goes into the new buffer from the driver's own thread, as a real driver
    // fills buffers: the program's thread only queues it.
    if (!d->pending.empty() || d->lossPending)
        WakeEngine();
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiInStart(HMIDIIN h) {
    VM_ENTER("midiInStart");
    int id;
    InDev *d = InByHandle(reinterpret_cast<UINT_PTR>(h), &id);
    if (!d) VM_ANSWER(MMSYSERR_INVALHANDLE);
    if (!d->started) {
        d->started = true;
        d->startTick = GetTickCount();
        ++S().changes;
    }
    Deliver(id);
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiInStop(HMIDIIN h) {
    VM_ENTER("midiInStop");
    InDev *d = InByHandle(reinterpret_cast<UINT_PTR>(h));
    if (!d) VM_ANSWER(MMSYSERR_INVALHANDLE);
    // The buffer being filled comes back with what it holds; empty ones stay.
    if (d->started && !d->queue.empty() && d->queue.front()->dwBytesRecorded)
        ReturnBuffer(*d, MM_MIM_LONGDATA);
    d->started = false;
    ++S().changes;
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiInReset(HMIDIIN h) {
    VM_ENTER("midiInReset");
    InDev *d = InByHandle(reinterpret_cast<UINT_PTR>(h));
    if (!d) VM_ANSWER(MMSYSERR_INVALHANDLE);
    while (!d->queue.empty()) ReturnBuffer(*d, MM_MIM_LONGDATA);
    d->started = false;
    ++S().changes;
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiInGetID(HMIDIIN h, LPUINT id) {
    VM_ENTER("midiInGetID");
    if (!id) VM_ANSWER(MMSYSERR_INVALPARAM);
    int i;
    if (!InByHandle(reinterpret_cast<UINT_PTR>(h), &i)) VM_ANSWER(MMSYSERR_INVALHANDLE);
    *id = static_cast<UINT>(i);
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiInMessage(HMIDIIN h, UINT, DWORD_PTR, DWORD_PTR) {
    VM_ENTER("midiInMessage");
    if (!InByHandle(reinterpret_cast<UINT_PTR>(h))) VM_ANSWER(MMSYSERR_INVALHANDLE);
    VM_ANSWER(MMSYSERR_NOTSUPPORTED);
}

MMRESULT WINAPI midiConnect(HMIDI hin, HMIDIOUT hout, LPVOID) {
    VM_ENTER("midiConnect");
    InDev *d = InByHandle(reinterpret_cast<UINT_PTR>(hin));
    int out;
    if (!d || !OutByHandle(reinterpret_cast<UINT_PTR>(hout), &out)) VM_ANSWER(MMSYSERR_INVALHANDLE);
    if (d->thru >= 0) VM_ANSWER(MIDIERR_NOTREADY);  // one output per input
    d->thru = out;
    ++S().changes;
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiDisconnect(HMIDI hin, HMIDIOUT hout, LPVOID) {
    VM_ENTER("midiDisconnect");
    InDev *d = InByHandle(reinterpret_cast<UINT_PTR>(hin));
    int out;
    if (!d || !OutByHandle(reinterpret_cast<UINT_PTR>(hout), &out)) VM_ANSWER(MMSYSERR_INVALHANDLE);
    if (d->thru != out) VM_ANSWER(MMSYSERR_INVALPARAM);
    d->thru = -1;
    ++S().changes;
    VM_ANSWER(MMSYSERR_NOERROR);
}

}  // extern "C"
