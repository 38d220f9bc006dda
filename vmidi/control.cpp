// The vmidi_* control functions that tests and the command language use.
#include <cstring>

#include "core.h"

using namespace vm;

namespace {

std::string DeviceName(const char *name) {
    std::string s = name ? name : "";
    if (s.size() > MAXPNAMELEN - 1) s.resize(MAXPNAMELEN - 1);
    return s;
}

void SetRate(OutDev &o, DWORD rate) {
    // Keep the block in progress where it is and go on at the new rate.
    if (o.headStarted && rate) o.t0 = Now() - static_cast<LONGLONG>(static_cast<double>(o.played) * Freq() / rate);
    o.rate = rate;
}

MMRESULT Feed(int id, Item item) {
    Lock l;
    if (!InById(id)) return MMSYSERR_BADDEVICEID;
    Enqueue(id, std::move(item));
    Deliver(id);
    return MMSYSERR_NOERROR;
}

void MarkDone(MIDIHDR *h) { h->dwFlags = (h->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE; }

}  // namespace

extern "C" {

void vmidi_reset(void) {
    Lock l;
    for (InDev &d : S().ins)
        for (MIDIHDR *h : d.queue) MarkDone(h);
    for (OutDev &o : S().outs)
        for (Play &p : o.playing) MarkDone(p.hdr);
    S().ins.clear();
    S().outs.clear();
    S().faults.clear();
    S().counters.clear();
    S().commandFiles = S().commandErrors = 0;
    S().defaultRate = 3125;
    ++S().changes;
}

int vmidi_add_input(const char *name) {
    Lock l;
    S().ins.emplace_back();
    S().ins.back().name = DeviceName(name);
    ++S().changes;
    return static_cast<int>(S().ins.size() - 1);
}

int vmidi_add_output(const char *name) {
    Lock l;
    S().outs.emplace_back();
    S().outs.back().name = DeviceName(name);
    S().outs.back().rate = S().defaultRate;
    ++S().changes;
    return static_cast<int>(S().outs.size() - 1);
}

int vmidi_add_loopback(int *out_id) {
    Lock l;
    int in = vmidi_add_input("Loopback");
    int out = vmidi_add_output("Loopback");
    S().outs[out].loopIn = in;
    if (out_id) *out_id = out;
    return in;
}

BOOL vmidi_set_rate(int out_id, DWORD bytes_per_sec) {
    Lock l;
    if (out_id == -1) {
        S().defaultRate = bytes_per_sec;
        for (OutDev &o : S().outs) SetRate(o, bytes_per_sec);
    } else {
        OutDev *o = OutById(out_id);
        if (!o) return FALSE;
        SetRate(*o, bytes_per_sec);
    }
    ++S().changes;
    WakeEngine();
    return TRUE;
}

MMRESULT vmidi_in_short(int in_id, DWORD msg) {
    Item it{ItemKind::Short};
    it.msg = msg;
    return Feed(in_id, std::move(it));
}

MMRESULT vmidi_in_sysex(int in_id, const void *data, DWORD len, DWORD flags) {
    Lock l;
    if (!InById(in_id) || (len && !data)) return InById(in_id) ? MMSYSERR_INVALPARAM : MMSYSERR_BADDEVICEID;
    if (len) {
        Item it{ItemKind::Bytes};
        it.bytes.assign(static_cast<const char *>(data), len);
        Enqueue(in_id, std::move(it));
    }
    if (flags & VMIDI_FLUSH) Enqueue(in_id, Item{ItemKind::Flush});
    Deliver(in_id);
    return MMSYSERR_NOERROR;
}

MMRESULT vmidi_in_stream(int in_id, const void *data, DWORD len, DWORD bytes_per_sec) {
    Lock l;
    InDev *d = InById(in_id);
    if (!d) return MMSYSERR_BADDEVICEID;
    if (len && !data) return MMSYSERR_INVALPARAM;
    Stream s;
    s.data = std::make_shared<const std::string>(
        len ? std::string(static_cast<const char *>(data), len) : std::string());
    s.rate = bytes_per_sec;
    d->streams.push_back(std::move(s));
    ++S().changes;
    WakeEngine();
    return MMSYSERR_NOERROR;
}

MMRESULT vmidi_in_error(int in_id, DWORD msg) {
    Item it{ItemKind::Error};
    it.msg = msg;
    return Feed(in_id, std::move(it));
}

MMRESULT vmidi_in_long_error(int in_id) { return Feed(in_id, Item{ItemKind::LongError}); }

MMRESULT vmidi_in_more_data(int in_id, DWORD msg) {
    Item it{ItemKind::MoreData};
    it.msg = msg;
    return Feed(in_id, std::move(it));
}

MMRESULT vmidi_in_discard(int in_id) {
    Lock l;
    InDev *d = InById(in_id);
    if (!d) return MMSYSERR_BADDEVICEID;
    DropInput(*d);
    return MMSYSERR_NOERROR;
}

MMRESULT vmidi_in_set_lossy(int in_id, BOOL lossy) {
    Lock l;
    InDev *d = InById(in_id);
    if (!d) return MMSYSERR_BADDEVICEID;
    d->lossy = lossy != FALSE;
    if (!d->lossy) d->lossPending = false;
    ++S().changes;
    Deliver(in_id);
    return MMSYSERR_NOERROR;
}

BOOL vmidi_fault(const char *call, int count, MMRESULT rc) {
    const char *c = CanonicalCall(call);
    if (!c) return FALSE;
    Lock l;
    if (count == 0)
        S().faults.erase(c);
    else
        S().faults[c] = Fault{count < 0 ? -1 : count, rc};
    ++S().changes;
    return TRUE;
}

BOOL vmidi_in_info(int in_id, VMIDI_IN_INFO *info) {
    Lock l;
    InDev *d = InById(in_id);
    if (!d || !info || info->cbSize < sizeof(VMIDI_IN_INFO)) return FALSE;
    info->open = d->handle != 0;
    info->started = d->started;
    info->lossy = d->lossy;
    info->queued = static_cast<DWORD>(d->queue.size());
    info->waiting = static_cast<DWORD>(d->pendingBytes);
    DWORD left = 0;
    for (const Stream &s : d->streams) left += static_cast<DWORD>(s.data->size() - s.pos);
    info->streamLeft = left;
    info->thruOut = d->thru;
    info->delivered = d->delivered;
    info->lost = d->lost;
    info->streamed = d->streamed;
    return TRUE;
}

BOOL vmidi_out_info(int out_id, VMIDI_OUT_INFO *info) {
    Lock l;
    OutDev *o = OutById(out_id);
    if (!o || !info || info->cbSize < sizeof(VMIDI_OUT_INFO)) return FALSE;
    info->open = o->handle != 0;
    info->mapper = o->viaMapper && o->handle;
    info->playing = static_cast<DWORD>(o->playing.size());
    info->longCount = o->longCount;
    info->shortCount = static_cast<DWORD>(o->shorts.size());
    info->sentBytes = static_cast<DWORD>(o->sent.size());
    info->rate = o->rate;
    info->loopIn = o->loopIn;
    return TRUE;
}

DWORD vmidi_out_sent(int out_id, void *buf, DWORD cap) {
    Lock l;
    OutDev *o = OutById(out_id);
    if (!o) return 0;
    DWORD n = static_cast<DWORD>(o->sent.size());
    if (buf) memcpy(buf, o->sent.data(), n < cap ? n : cap);
    return n;
}

DWORD vmidi_out_shorts(int out_id, DWORD *buf, DWORD cap) {
    Lock l;
    OutDev *o = OutById(out_id);
    if (!o) return 0;
    DWORD n = static_cast<DWORD>(o->shorts.size());
    if (buf)
        for (DWORD i = 0; i < n && i < cap; ++i) buf[i] = o->shorts[i];
    return n;
}

DWORD vmidi_calls(const char *call) {
    const char *c = CanonicalCall(call);
    if (!c) return 0;
    Lock l;
    auto it = S().counters.find(c);
    return it == S().counters.end() ? 0 : it->second.calls;
}

DWORD vmidi_answers(const char *call, MMRESULT rc) {
    const char *c = CanonicalCall(call);
    if (!c) return 0;
    Lock l;
    auto it = S().counters.find(c);
    if (it == S().counters.end()) return 0;
    auto a = it->second.answers.find(rc);
    return a == it->second.answers.end() ? 0 : a->second;
}

BOOL vmidi_wait_out(int out_id, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        {
            Lock l;
            bool busy = false;
            for (size_t i = 0; i < S().outs.size(); ++i)
                if ((out_id < 0 || static_cast<size_t>(out_id) == i) && !S().outs[i].playing.empty())
                    busy = true;
            if (!busy) return TRUE;
        }
        if (GetTickCount() - start >= timeout_ms) return FALSE;
        Sleep(1);
    }
}

BOOL vmidi_wait_in(int in_id, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        {
            Lock l;
            bool busy = false;
            for (size_t i = 0; i < S().ins.size(); ++i)
                if ((in_id < 0 || static_cast<size_t>(in_id) == i) && !S().ins[i].streams.empty())
                    busy = true;
            if (!busy) return TRUE;
        }
        if (GetTickCount() - start >= timeout_ms) return FALSE;
        Sleep(1);
    }
}

BOOL vmidi_command(const char *line, char *err, DWORD errcap) {
    std::string why;
    bool ok = RunCommand(line ? line : "", std::string(), &why);
    if (err && errcap) lstrcpynA(err, why.c_str(), static_cast<int>(errcap));
    return ok;
}

}  // extern "C"
