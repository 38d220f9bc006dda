// Internal state of the virtual driver. Everything in State is guarded by the
// one driver lock (vm::Lock); the worker threads take it too.
#pragma once

#define _WINMM_            // we define the WinMM functions, not import them
#define VMIDI_BUILDING
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vmidi.h"

namespace vm {

struct Lock {
    Lock();
    ~Lock();
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;
};

struct Callback {
    DWORD type = CALLBACK_NULL;
    DWORD_PTR target = 0;
    DWORD_PTR instance = 0;
};

// One entry of what is waiting at an input, kept in arrival order.
enum class ItemKind { Bytes, Short, Flush, Error, LongError, MoreData };
struct Item {
    explicit Item(ItemKind k, DWORD m = 0) : kind(k), msg(m) {}
    ItemKind kind;
    DWORD msg;
    std::string bytes;  // Bytes only
    size_t pos = 0;     // Bytes already taken from the front
};

struct Stream {
    std::shared_ptr<const std::string> data;
    size_t pos = 0;
    DWORD rate = 0;     // bytes/s, 0 = full speed
    LONGLONG t0 = 0;    // when pacing began (performance counter)
    bool begun = false;
};

struct InDev {
    std::string name;
    UINT_PTR handle = 0;  // 0 while closed
    Callback cb;
    DWORD openFlags = 0;
    bool started = false;
    DWORD startTick = 0;
    std::deque<MIDIHDR *> queue;
    std::deque<Item> pending;
    size_t pendingBytes = 0;
    bool lossy = false;
    bool lossPending = false;
    int thru = -1;
    std::deque<Stream> streams;
    ULONGLONG delivered = 0, lost = 0, streamed = 0;
};

struct Play {
    MIDIHDR *hdr;
    LONGLONG queuedAt;
};

struct OutDev {
    std::string name;
    UINT_PTR handle = 0;
    Callback cb;
    bool viaMapper = false;
    DWORD rate = 3125;
    int loopIn = -1;
    std::deque<Play> playing;
    bool headStarted = false;
    LONGLONG t0 = 0, lastEnd = 0;
    DWORD played = 0;          // bytes of the head message played
    size_t blockStart = 0;     // where the head message starts in sent
    std::string sent;
    DWORD longCount = 0;
    std::vector<DWORD> shorts;
};

struct Fault {
    int left;
    MMRESULT rc;
};

struct Counter {
    DWORD calls = 0;
    std::map<MMRESULT, DWORD> answers;
};

struct NoCase {
    bool operator()(const std::string &a, const std::string &b) const {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    }
};

// A log entry for the control folder: written by the control thread.
struct FileWrite {
    std::string name;
    std::string data;
};

struct State {
    std::vector<InDev> ins;
    std::vector<OutDev> outs;
    DWORD defaultRate = 3125;
    UINT_PTR nextHandle = 0x4D10;
    std::map<std::string, Fault, NoCase> faults;
    std::map<std::string, Counter, NoCase> counters;
    ULONGLONG changes = 0;       // bumped on every change the status file shows
    bool logging = false;        // a control folder wants FileWrites
    std::vector<FileWrite> writes;
    ULONGLONG commandFiles = 0, commandErrors = 0;
};

State &S();

// Time in performance counter ticks, and ticks per second.
LONGLONG Now();
LONGLONG Freq();

// Call bookkeeping for the WinMM entry points.
const char *CanonicalCall(const char *name);  // nullptr when unknown
bool TakeFault(const char *fn, MMRESULT *rc);
MMRESULT Answer(const char *fn, MMRESULT rc);

// Device lookup. Ids are positions; handles are what Open handed out.
InDev *InById(int id);
OutDev *OutById(int id);
InDev *InByHandle(UINT_PTR h, int *id = nullptr);
OutDev *OutByHandle(UINT_PTR h, int *id = nullptr);
UINT_PTR NewHandle();

void Notify(const Callback &cb, UINT_PTR handle, UINT msg, DWORD_PTR p1, DWORD_PTR p2);
MMRESULT CheckCallback(DWORD_PTR cb, DWORD flags);

// Headers, alike for inputs and outputs; deviceOk says whether the handle names a device.
bool HeaderOk(const MIDIHDR *h, UINT size);
MMRESULT PrepareHeader(bool deviceOk, MIDIHDR *h, UINT size);
MMRESULT UnprepareHeader(bool deviceOk, MIDIHDR *h, UINT size);

// Input side.
void Enqueue(int in, Item item);
void Deliver(int in);
void ReturnBuffer(InDev &d, UINT msg);
void DropInput(InDev &d);

// Output side.
void Emit(int out, const char *data, size_t n, bool thru);
void EmitShort(int out, DWORD msg, bool thru);
void CompleteHead(int out);
void WakeEngine();

std::string HexBytes(const std::string &bytes);
int ShortLength(BYTE status);

// Control folder and command language (commands.cpp).
bool RunCommand(const std::string &line, const std::string &baseDir, std::string *err);
void LoadEnvironment();
std::string ToWindowsPath(const std::string &path);

}  // namespace vm

#define VM_ENTER(fn)                                   \
    static const char *const kCall = fn;               \
    vm::Lock lock_;                                    \
    do {                                               \
        MMRESULT frc_;                                 \
        if (vm::TakeFault(kCall, &frc_)) return vm::Answer(kCall, frc_); \
    } while (0)

#define VM_ANSWER(rc) return vm::Answer(kCall, (rc))
