// WinMM MIDI output entry points.
#include <cstddef>
#include <cstring>

#include "core.h"

using namespace vm;

namespace {

bool IsMapperId(UINT_PTR id) {
    return id == static_cast<UINT_PTR>(static_cast<UINT>(MIDI_MAPPER)) ||
           id == static_cast<UINT_PTR>(-1);
}

// Caps of an output id, the mapper, or an open handle. False: no such device.
bool OutCaps(UINT_PTR id, MIDIOUTCAPSA *c) {
    memset(c, 0, sizeof(*c));
    c->vDriverVersion = 0x0100;
    c->wChannelMask = 0xFFFF;
    if (IsMapperId(id)) {
        if (S().outs.empty()) return false;  // as Windows: no mapper without outputs
        c->wMid = MM_MICROSOFT;
        c->wPid = MM_MIDI_MAPPER;
        c->wTechnology = MOD_MAPPER;
        lstrcpynA(c->szPname, "Microsoft MIDI Mapper", MAXPNAMELEN);
        return true;
    }
    const OutDev *d = id < S().outs.size() ? &S().outs[id] : OutByHandle(id);
    if (!d) return false;
    c->wMid = MM_UNMAPPED;
    c->wPid = MM_PID_UNMAPPED;
    c->wTechnology = MOD_MIDIPORT;
    lstrcpynA(c->szPname, d->name.c_str(), MAXPNAMELEN);
    return true;
}

}  // namespace

extern "C" {

UINT WINAPI midiOutGetNumDevs(void) {
    Lock l;
    Answer("midiOutGetNumDevs", MMSYSERR_NOERROR);
    return static_cast<UINT>(S().outs.size());
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR id, LPMIDIOUTCAPSA caps, UINT size) {
    VM_ENTER("midiOutGetDevCapsA");
    if (!caps) VM_ANSWER(MMSYSERR_INVALPARAM);
    MIDIOUTCAPSA c;
    if (!OutCaps(id, &c)) VM_ANSWER(MMSYSERR_BADDEVICEID);
    memcpy(caps, &c, size < sizeof(c) ? size : sizeof(c));
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT size) {
    VM_ENTER("midiOutGetDevCapsW");
    if (!caps) VM_ANSWER(MMSYSERR_INVALPARAM);
    MIDIOUTCAPSA a;
    if (!OutCaps(id, &a)) VM_ANSWER(MMSYSERR_BADDEVICEID);
    MIDIOUTCAPSW c;
    memset(&c, 0, sizeof(c));
    c.wMid = a.wMid;
    c.wPid = a.wPid;
    c.vDriverVersion = a.vDriverVersion;
    MultiByteToWideChar(CP_ACP, 0, a.szPname, -1, c.szPname, MAXPNAMELEN);
    c.wTechnology = a.wTechnology;
    c.wChannelMask = a.wChannelMask;
    memcpy(caps, &c, size < sizeof(c) ? size : sizeof(c));
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                            DWORD flags) {
    VM_ENTER("midiOutOpen");
    if (!phmo) VM_ANSWER(MMSYSERR_INVALPARAM);
    *phmo = nullptr;
    bool mapper = id == MIDI_MAPPER;
    OutDev *d = OutById(mapper ? 0 : static_cast<int>(id));
    if (!d) VM_ANSWER(MMSYSERR_BADDEVICEID);
    MMRESULT rc = CheckCallback(callback, flags & ~MIDI_IO_STATUS);
    if (rc) VM_ANSWER(rc);
    if (d->handle) VM_ANSWER(MMSYSERR_ALLOCATED);
    d->handle = NewHandle();
    d->viaMapper = mapper;
    d->cb.type = flags & CALLBACK_TYPEMASK;
    d->cb.target = callback;
    d->cb.instance = instance;
    *phmo = reinterpret_cast<HMIDIOUT>(d->handle);
    Notify(d->cb, d->handle, MM_MOM_OPEN, 0, 0);
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiOutClose(HMIDIOUT h) {
    VM_ENTER("midiOutClose");
    int id;
    OutDev *d = OutByHandle(reinterpret_cast<UINT_PTR>(h), &id);
    if (!d) VM_ANSWER(MMSYSERR_INVALHANDLE);
    if (!d->playing.empty()) VM_ANSWER(MIDIERR_STILLPLAYING);
    for (InDev &in : S().ins)
        if (in.thru == id) in.thru = -1;
    Callback cb = d->cb;
    UINT_PTR handle = d->handle;
    d->handle = 0;
    d->cb = Callback();
    Notify(cb, handle, MM_MOM_CLOSE, 0, 0);
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT h, LPMIDIHDR hdr, UINT size) {
    VM_ENTER("midiOutPrepareHeader");
    VM_ANSWER(PrepareHeader(OutByHandle(reinterpret_cast<UINT_PTR>(h)) != nullptr, hdr, size));
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT h, LPMIDIHDR hdr, UINT size) {
    VM_ENTER("midiOutUnprepareHeader");
    VM_ANSWER(UnprepareHeader(OutByHandle(reinterpret_cast<UINT_PTR>(h)) != nullptr, hdr, size));
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT h, DWORD msg) {
    VM_ENTER("midiOutShortMsg");
    int id;
    if (!OutByHandle(reinterpret_cast<UINT_PTR>(h), &id)) VM_ANSWER(MMSYSERR_INVALHANDLE);
    EmitShort(id, msg, false);
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT h, LPMIDIHDR hdr, UINT size) {
    VM_ENTER("midiOutLongMsg");
    int id;
    OutDev *d = OutByHandle(reinterpret_cast<UINT_PTR>(h), &id);
    if (!d) VM_ANSWER(MMSYSERR_INVALHANDLE);
    if (!HeaderOk(hdr, size)) VM_ANSWER(MMSYSERR_INVALPARAM);
    if (!hdr->lpData || !(hdr->dwFlags & MHDR_PREPARED)) VM_ANSWER(MIDIERR_UNPREPARED);
    if (hdr->dwFlags & MHDR_INQUEUE) VM_ANSWER(MIDIERR_STILLPLAYING);
    hdr->dwFlags = (hdr->dwFlags | MHDR_INQUEUE) & ~MHDR_DONE;
    d->playing.push_back({hdr, Now()});
    ++d->longCount;
    ++S().changes;
    WakeEngine();
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiOutReset(HMIDIOUT h) {
    VM_ENTER("midiOutReset");
    int id;
    OutDev *d = OutByHandle(reinterpret_cast<UINT_PTR>(h), &id);
    if (!d) VM_ANSWER(MMSYSERR_INVALHANDLE);
    // Pending long messages come back done; the one playing stops where it is.
    while (!d->playing.empty()) CompleteHead(id);
    d->lastEnd = Now();
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiOutGetID(HMIDIOUT h, LPUINT id) {
    VM_ENTER("midiOutGetID");
    if (!id) VM_ANSWER(MMSYSERR_INVALPARAM);
    int i;
    OutDev *d = OutByHandle(reinterpret_cast<UINT_PTR>(h), &i);
    if (!d) VM_ANSWER(MMSYSERR_INVALHANDLE);
    *id = d->viaMapper ? MIDI_MAPPER : static_cast<UINT>(i);
    VM_ANSWER(MMSYSERR_NOERROR);
}

MMRESULT WINAPI midiOutMessage(HMIDIOUT h, UINT, DWORD_PTR, DWORD_PTR) {
    VM_ENTER("midiOutMessage");
    if (!OutByHandle(reinterpret_cast<UINT_PTR>(h))) VM_ANSWER(MMSYSERR_INVALHANDLE);
    VM_ANSWER(MMSYSERR_NOTSUPPORTED);
}

// MIDI ports have no volume control (no MIDICAPS_VOLUME in their caps).
MMRESULT WINAPI midiOutGetVolume(HMIDIOUT h, LPDWORD volume) {
    VM_ENTER("midiOutGetVolume");
    if (!volume) VM_ANSWER(MMSYSERR_INVALPARAM);
    UINT_PTR v = reinterpret_cast<UINT_PTR>(h);
    if (!OutByHandle(v) && !(v < S().outs.size()) && !IsMapperId(v))
        VM_ANSWER(MMSYSERR_INVALHANDLE);
    VM_ANSWER(MMSYSERR_NOTSUPPORTED);
}

MMRESULT WINAPI midiOutSetVolume(HMIDIOUT h, DWORD) {
    VM_ENTER("midiOutSetVolume");
    UINT_PTR v = reinterpret_cast<UINT_PTR>(h);
    if (!OutByHandle(v) && !(v < S().outs.size()) && !IsMapperId(v))
        VM_ANSWER(MMSYSERR_INVALHANDLE);
    VM_ANSWER(MMSYSERR_NOTSUPPORTED);
}

MMRESULT WINAPI midiOutCachePatches(HMIDIOUT h, UINT, LPWORD, UINT) {
    VM_ENTER("midiOutCachePatches");
    if (!OutByHandle(reinterpret_cast<UINT_PTR>(h))) VM_ANSWER(MMSYSERR_INVALHANDLE);
    VM_ANSWER(MMSYSERR_NOTSUPPORTED);
}

MMRESULT WINAPI midiOutCacheDrumPatches(HMIDIOUT h, UINT, LPWORD, UINT) {
    VM_ENTER("midiOutCacheDrumPatches");
    if (!OutByHandle(reinterpret_cast<UINT_PTR>(h))) VM_ANSWER(MMSYSERR_INVALHANDLE);
    VM_ANSWER(MMSYSERR_NOTSUPPORTED);
}

}  // extern "C"
