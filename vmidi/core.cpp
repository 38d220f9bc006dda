// Device model of the virtual driver: inputs with their buffer queues and
// waiting data, outputs with timed playback, notifications and the worker
// threads (engine for playback and streams, callback thread for
// CALLBACK_FUNCTION clients).
#include "core.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace vm {
namespace {

CRITICAL_SECTION g_lock;
State *g_state;
LONGLONG g_freq = 1;

// Engine: plays output blocks and feeds background streams.
HANDLE g_engineEvent;
bool g_engineRunning;

// Full speed streams keep at least kLow and at most about kHigh bytes waiting.
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kHigh = 256 * 1024;
constexpr size_t kLow = 128 * 1024;
// Largest Bytes item built by appending small feeds.
constexpr size_t kItemMax = 64 * 1024;

// CALLBACK_FUNCTION clients are called from their own thread, outside the
// driver lock, in the order the notifications were made.
struct CbCall {
    DRVCALLBACK *fn;
    UINT_PTR handle;
    UINT msg;
    DWORD_PTR instance, p1, p2;
};
std::deque<CbCall> *g_cbQueue;
HANDLE g_cbEvent;
bool g_cbRunning;

void PinModule() {
    HMODULE self;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&PinModule), &self);
}

DWORD WINAPI CallbackThread(void *) {
    for (;;) {
        WaitForSingleObject(g_cbEvent, INFINITE);
        for (;;) {
            CbCall c;
            {
                Lock l;
                if (g_cbQueue->empty()) break;
                c = g_cbQueue->front();
                g_cbQueue->pop_front();
            }
            c.fn(reinterpret_cast<HDRVR>(c.handle), c.msg, c.instance, c.p1, c.p2);
        }
    }
}

DWORD Timestamp(const InDev &d) { return d.started ? GetTickCount() - d.startTick : 0; }

DWORD MsUntil(LONGLONG ticks) {
    if (ticks <= 0) return 1;
    LONGLONG ms = ticks * 1000 / g_freq + 1;
    return ms > 1000 ? 1000 : static_cast<DWORD>(ms);
}

void AdvanceOut(int id, LONGLONG now, DWORD *wait) {
    OutDev &o = S().outs[id];
    while (!o.playing.empty()) {
        Play &p = o.playing.front();
        MIDIHDR *h = p.hdr;
        DWORD len = h->dwBufferLength;
        if (!o.headStarted) {
            o.headStarted = true;
            o.t0 = std::max(o.lastEnd, p.queuedAt);
            o.played = 0;
            o.blockStart = o.sent.size();
        }
        DWORD due = len;
        if (o.rate) {
            double secs = static_cast<double>(now - o.t0) / g_freq;
            double bytes = secs > 0 ? secs * o.rate : 0;
            due = bytes >= len ? len : static_cast<DWORD>(bytes);
        }
        if (due > o.played) {
            DWORD from = o.played;
            o.played = due;
            Emit(id, h->lpData + from, due - from, false);
        }
        if (o.played < len) {
            LONGLONG end = o.t0 + static_cast<LONGLONG>(static_cast<double>(len) * g_freq / o.rate);
            DWORD ms = MsUntil(end - now);
            if (o.loopIn >= 0) ms = std::min<DWORD>(ms, 5);  // the echo trickles in
            *wait = std::min(*wait, ms);
            return;
        }
        o.lastEnd = o.rate ? o.t0 + static_cast<LONGLONG>(static_cast<double>(len) * g_freq / o.rate)
                           : now;
        CompleteHead(id);
    }
}

void AdvanceStreams(int id, LONGLONG now, DWORD *wait) {
    InDev &d = S().ins[id];
    while (!d.streams.empty()) {
        Stream &s = d.streams.front();
        if (!s.begun) {
            s.begun = true;
            s.t0 = now;
        }
        const std::string &data = *s.data;
        size_t target;
        if (s.rate == 0) {
            target = s.pos;
            if (d.pendingBytes < kHigh) target = std::min(data.size(), s.pos + (kHigh - d.pendingBytes));
        } else {
            double bytes = static_cast<double>(now - s.t0) / g_freq * s.rate;
            target = bytes >= data.size() ? data.size() : static_cast<size_t>(bytes);
        }
        while (s.pos < target) {
            size_t n = std::min(kChunk, target - s.pos);
            Item it{ItemKind::Bytes};
            it.bytes.assign(data, s.pos, n);
            s.pos += n;
            d.streamed += n;
            Enqueue(id, std::move(it));
        }
        Deliver(id);
        if (s.pos < data.size()) {
            // Full speed: Deliver wakes us when the waiting bytes run low.
            *wait = std::min<DWORD>(*wait, s.rate ? 10 : 50);
            return;
        }
        d.streams.pop_front();
    }
}

DWORD WINAPI EngineThread(void *) {
    for (;;) {
        DWORD wait = INFINITE;
        {
            Lock l;
            LONGLONG now = Now();
            for (size_t i = 0; i < S().outs.size(); ++i) AdvanceOut(static_cast<int>(i), now, &wait);
            for (size_t i = 0; i < S().ins.size(); ++i) {
                AdvanceStreams(static_cast<int>(i), now, &wait);
                Deliver(static_cast<int>(i));
            }
        }
        WaitForSingleObject(g_engineEvent, wait);
    }
}

void StartThread(LPTHREAD_START_ROUTINE fn, bool *running) {
    if (*running) return;
    PinModule();
    HANDLE t = CreateThread(nullptr, 0, fn, nullptr, 0, nullptr);
    if (t) {
        CloseHandle(t);
        *running = true;
    }
}

}  // namespace

Lock::Lock() { EnterCriticalSection(&g_lock); }
Lock::~Lock() { LeaveCriticalSection(&g_lock); }

State &S() { return *g_state; }

LONGLONG Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}
LONGLONG Freq() { return g_freq; }

namespace {
const char *const kCalls[] = {
    "midiInGetNumDevs", "midiInGetDevCapsA", "midiInGetDevCapsW", "midiInOpen", "midiInClose",
    "midiInPrepareHeader", "midiInUnprepareHeader", "midiInAddBuffer", "midiInStart",
    "midiInStop", "midiInReset", "midiInGetID", "midiInMessage", "midiInGetErrorTextA",
    "midiInGetErrorTextW", "midiOutGetNumDevs", "midiOutGetDevCapsA", "midiOutGetDevCapsW",
    "midiOutOpen", "midiOutClose", "midiOutPrepareHeader", "midiOutUnprepareHeader",
    "midiOutShortMsg", "midiOutLongMsg", "midiOutReset", "midiOutGetID", "midiOutMessage",
    "midiOutGetVolume", "midiOutSetVolume", "midiOutCachePatches", "midiOutCacheDrumPatches",
    "midiOutGetErrorTextA", "midiOutGetErrorTextW", "midiConnect", "midiDisconnect",
    // Entry points other system DLLs load lazily; counted to show they arrive here.
    "mmioOpenA", "mmioOpenW", "PlaySoundA", "PlaySoundW",
};
const struct {
    const char *alias, *call;
} kAliases[] = {
    {"in_open", "midiInOpen"},           {"in_close", "midiInClose"},
    {"in_prepare", "midiInPrepareHeader"}, {"in_unprepare", "midiInUnprepareHeader"},
    {"in_add_buffer", "midiInAddBuffer"}, {"in_start", "midiInStart"},
    {"in_stop", "midiInStop"},           {"in_reset", "midiInReset"},
    {"out_open", "midiOutOpen"},         {"out_close", "midiOutClose"},
    {"out_prepare", "midiOutPrepareHeader"}, {"out_unprepare", "midiOutUnprepareHeader"},
    {"out_long_msg", "midiOutLongMsg"},  {"out_short_msg", "midiOutShortMsg"},
    {"out_reset", "midiOutReset"},       {"connect", "midiConnect"},
    {"disconnect", "midiDisconnect"},
};
}  // namespace

const char *CanonicalCall(const char *name) {
    if (!name) return nullptr;
    for (const char *c : kCalls)
        if (_stricmp(c, name) == 0) return c;
    for (const auto &a : kAliases)
        if (_stricmp(a.alias, name) == 0) return a.call;
    return nullptr;
}

bool TakeFault(const char *fn, MMRESULT *rc) {
    auto it = S().faults.find(fn);
    if (it == S().faults.end()) return false;
    *rc = it->second.rc;
    if (it->second.left > 0 && --it->second.left == 0) S().faults.erase(it);
    return true;
}

MMRESULT Answer(const char *fn, MMRESULT rc) {
    Counter &c = S().counters[fn];
    ++c.calls;
    ++c.answers[rc];
    ++S().changes;
    return rc;
}

InDev *InById(int id) {
    if (id < 0 || static_cast<size_t>(id) >= S().ins.size()) return nullptr;
    return &S().ins[id];
}

OutDev *OutById(int id) {
    if (id < 0 || static_cast<size_t>(id) >= S().outs.size()) return nullptr;
    return &S().outs[id];
}

InDev *InByHandle(UINT_PTR h, int *id) {
    if (!h) return nullptr;
    for (size_t i = 0; i < S().ins.size(); ++i)
        if (S().ins[i].handle == h) {
            if (id) *id = static_cast<int>(i);
            return &S().ins[i];
        }
    return nullptr;
}

OutDev *OutByHandle(UINT_PTR h, int *id) {
    if (!h) return nullptr;
    for (size_t i = 0; i < S().outs.size(); ++i)
        if (S().outs[i].handle == h) {
            if (id) *id = static_cast<int>(i);
            return &S().outs[i];
        }
    return nullptr;
}

UINT_PTR NewHandle() {
    UINT_PTR h = S().nextHandle;
    S().nextHandle += 4;
    if (S().nextHandle > 0x7FF0) S().nextHandle = 0x4D10;
    return h;
}

MMRESULT CheckCallback(DWORD_PTR cb, DWORD flags) {
    if (flags & ~(CALLBACK_TYPEMASK | MIDI_IO_STATUS)) return MMSYSERR_INVALFLAG;
    switch (flags & CALLBACK_TYPEMASK) {
    case CALLBACK_NULL:
    case CALLBACK_FUNCTION:
    case CALLBACK_THREAD:
        return MMSYSERR_NOERROR;
    case CALLBACK_WINDOW:
        return cb && !IsWindow(reinterpret_cast<HWND>(cb)) ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR;
    case CALLBACK_EVENT:
        return cb ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
    default:
        return MMSYSERR_INVALFLAG;
    }
}

void Notify(const Callback &cb, UINT_PTR handle, UINT msg, DWORD_PTR p1, DWORD_PTR p2) {
    ++S().changes;
    if (!cb.target) return;
    switch (cb.type) {
    case CALLBACK_WINDOW:
        PostMessageA(reinterpret_cast<HWND>(cb.target), msg, static_cast<WPARAM>(handle),
                     static_cast<LPARAM>(p1));
        break;
    case CALLBACK_THREAD:
        PostThreadMessageA(static_cast<DWORD>(cb.target), msg, static_cast<WPARAM>(handle),
                           static_cast<LPARAM>(p1));
        break;
    case CALLBACK_EVENT:
        SetEvent(reinterpret_cast<HANDLE>(cb.target));
        break;
    case CALLBACK_FUNCTION:
        g_cbQueue->push_back(
            {reinterpret_cast<DRVCALLBACK *>(cb.target), handle, msg, cb.instance, p1, p2});
        StartThread(CallbackThread, &g_cbRunning);
        SetEvent(g_cbEvent);
        break;
    }
}

void Enqueue(int id, Item item) {
    InDev &d = S().ins[id];
    if (item.kind == ItemKind::Bytes) {
        if (item.bytes.empty()) return;
        d.pendingBytes += item.bytes.size();
        if (!d.pending.empty() && d.pending.back().kind == ItemKind::Bytes &&
            d.pending.back().bytes.size() + item.bytes.size() <= kItemMax) {
            d.pending.back().bytes += item.bytes;
            return;
        }
    }
    d.pending.push_back(std::move(item));
    ++S().changes;
}

void ReturnBuffer(InDev &d, UINT msg) {
    MIDIHDR *h = d.queue.front();
    d.queue.pop_front();
    h->dwFlags = (h->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    Notify(d.cb, d.handle, msg, reinterpret_cast<DWORD_PTR>(h), Timestamp(d));
}

void Deliver(int id) {
    InDev &d = S().ins[id];
    while (d.handle && d.started) {
        if (d.lossPending && !d.queue.empty()) {
            d.lossPending = false;
            ReturnBuffer(d, MM_MIM_LONGERROR);
            continue;
        }
        if (d.pending.empty()) break;
        Item &it = d.pending.front();
        if (it.kind == ItemKind::Bytes) {
            size_t avail = it.bytes.size() - it.pos;
            if (d.queue.empty()) {
                if (!d.lossy) break;  // waits for a buffer
                d.lost += avail;
                d.pendingBytes -= avail;
                d.lossPending = true;
                d.pending.pop_front();
                continue;
            }
            MIDIHDR *h = d.queue.front();
            const char *src = it.bytes.data() + it.pos;
            size_t n = std::min<size_t>(avail, h->dwBufferLength - h->dwBytesRecorded);
            const void *eox = memchr(src, 0xF7, n);
            if (eox) n = static_cast<const char *>(eox) - src + 1;
            memcpy(h->lpData + h->dwBytesRecorded, src, n);
            h->dwBytesRecorded += static_cast<DWORD>(n);
            d.delivered += n;
            d.pendingBytes -= n;
            if (d.thru >= 0) Emit(d.thru, src, n, true);
            it.pos += n;
            if (it.pos == it.bytes.size()) d.pending.pop_front();
            if (eox || h->dwBytesRecorded == h->dwBufferLength) ReturnBuffer(d, MM_MIM_LONGDATA);
            continue;
        }
        if (it.kind == ItemKind::LongError) {
            if (d.queue.empty()) break;  // waits for a buffer like SysEx bytes do
            d.pending.pop_front();
            ReturnBuffer(d, MM_MIM_LONGERROR);
            continue;
        }
        Item item = std::move(it);
        d.pending.pop_front();
        switch (item.kind) {
        case ItemKind::Short:
            Notify(d.cb, d.handle, MM_MIM_DATA, item.msg, Timestamp(d));
            if (d.thru >= 0) EmitShort(d.thru, item.msg, true);
            break;
        case ItemKind::MoreData:
            Notify(d.cb, d.handle, (d.openFlags & MIDI_IO_STATUS) ? MM_MIM_MOREDATA : MM_MIM_DATA,
                   item.msg, Timestamp(d));
            if (d.thru >= 0) EmitShort(d.thru, item.msg, true);
            break;
        case ItemKind::Error:
            Notify(d.cb, d.handle, MM_MIM_ERROR, item.msg, Timestamp(d));
            break;
        case ItemKind::Flush:
            if (!d.queue.empty() && d.queue.front()->dwBytesRecorded)
                ReturnBuffer(d, MM_MIM_LONGDATA);
            break;
        default:
            break;
        }
    }
    if (!d.streams.empty() && d.pendingBytes < kLow) WakeEngine();
}

void DropInput(InDev &d) {
    d.pending.clear();
    d.pendingBytes = 0;
    d.streams.clear();
    d.lossPending = false;
    ++S().changes;
}

int ShortLength(BYTE status) {
    if (status < 0x80) return 3;
    if (status < 0xC0) return 3;
    if (status < 0xE0) return 2;
    if (status < 0xF0) return 3;
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 2;
    case 0xF2:
        return 3;
    default:
        return 1;
    }
}

std::string HexBytes(const std::string &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) s += ' ';
        BYTE b = static_cast<BYTE>(bytes[i]);
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// A loopback echo reaches the input only while it is open, as a synth's echo
// reaches nobody while no program listens.
static bool LoopOpen(const OutDev &o) {
    const InDev *in = InById(o.loopIn);
    return in && in->handle;
}

void Emit(int id, const char *data, size_t n, bool thru) {
    OutDev &o = S().outs[id];
    o.sent.append(data, n);
    ++S().changes;
    if (thru) {
        if (S().logging)
            S().writes.push_back({"out" + std::to_string(id) + ".syx", std::string(data, n)});
        return;  // thru data is not echoed back, or a loopback pair would feed itself
    }
    if (LoopOpen(o)) {
        Item it{ItemKind::Bytes};
        it.bytes.assign(data, n);
        Enqueue(o.loopIn, std::move(it));
        Deliver(o.loopIn);
    }
}

void EmitShort(int id, DWORD msg, bool thru) {
    OutDev &o = S().outs[id];
    o.shorts.push_back(msg);
    ++S().changes;
    if (S().logging) {
        std::string wire;
        for (int i = 0; i < ShortLength(static_cast<BYTE>(msg)); ++i)
            wire += static_cast<char>((msg >> (8 * i)) & 0xFF);
        S().writes.push_back({"out" + std::to_string(id) + ".short", HexBytes(wire) + "\r\n"});
    }
    if (!thru && LoopOpen(o)) {
        Item it{ItemKind::Short};
        it.msg = msg;
        Enqueue(o.loopIn, std::move(it));
        Deliver(o.loopIn);
    }
}

void CompleteHead(int id) {
    OutDev &o = S().outs[id];
    MIDIHDR *h = o.playing.front().hdr;
    o.playing.pop_front();
    if (o.headStarted && S().logging && o.sent.size() > o.blockStart)
        S().writes.push_back({"out" + std::to_string(id) + ".syx", o.sent.substr(o.blockStart)});
    o.headStarted = false;
    h->dwFlags = (h->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    Notify(o.cb, o.handle, MM_MOM_DONE, reinterpret_cast<DWORD_PTR>(h), 0);
}

bool HeaderOk(const MIDIHDR *h, UINT size) {
    return h && size >= offsetof(MIDIHDR, dwOffset);
}

MMRESULT PrepareHeader(bool deviceOk, MIDIHDR *h, UINT size) {
    if (!deviceOk) return MMSYSERR_INVALHANDLE;
    if (!HeaderOk(h, size) || !h->lpData) return MMSYSERR_INVALPARAM;
    if (h->dwFlags & MHDR_PREPARED) return MMSYSERR_NOERROR;
    h->lpNext = nullptr;
    h->dwFlags = (h->dwFlags | MHDR_PREPARED) & ~(MHDR_DONE | MHDR_INQUEUE);
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareHeader(bool deviceOk, MIDIHDR *h, UINT size) {
    if (!HeaderOk(h, size)) return MMSYSERR_INVALPARAM;
    if (!(h->dwFlags & MHDR_PREPARED)) return MMSYSERR_NOERROR;
    if (!deviceOk) return MMSYSERR_INVALHANDLE;
    if (h->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    h->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

void WakeEngine() {
    StartThread(EngineThread, &g_engineRunning);
    SetEvent(g_engineEvent);
}

}  // namespace vm

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&vm::g_lock);
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        vm::g_freq = f.QuadPart ? f.QuadPart : 1;
        vm::g_state = new vm::State;
        vm::g_cbQueue = new std::deque<vm::CbCall>;
        vm::g_engineEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        vm::g_cbEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        vm::LoadEnvironment();
    }
    // Nothing to undo at detach: the process is ending (the module is pinned
    // once a worker thread runs) and the threads are ended with it.
    return TRUE;
}
