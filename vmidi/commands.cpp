// External drive: the command language, VMIDI_CONFIG read at load, and the
// VMIDI_CONTROL folder polled by a thread of the driver. README.md lists the
// commands.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "core.h"

namespace vm {
namespace {

const struct {
    const char *name;
    MMRESULT rc;
} kResults[] = {
    {"MMSYSERR_NOERROR", MMSYSERR_NOERROR},       {"MMSYSERR_ERROR", MMSYSERR_ERROR},
    {"MMSYSERR_BADDEVICEID", MMSYSERR_BADDEVICEID}, {"MMSYSERR_NOTENABLED", MMSYSERR_NOTENABLED},
    {"MMSYSERR_ALLOCATED", MMSYSERR_ALLOCATED},   {"MMSYSERR_INVALHANDLE", MMSYSERR_INVALHANDLE},
    {"MMSYSERR_NODRIVER", MMSYSERR_NODRIVER},     {"MMSYSERR_NOMEM", MMSYSERR_NOMEM},
    {"MMSYSERR_NOTSUPPORTED", MMSYSERR_NOTSUPPORTED}, {"MMSYSERR_BADERRNUM", MMSYSERR_BADERRNUM},
    {"MMSYSERR_INVALFLAG", MMSYSERR_INVALFLAG},   {"MMSYSERR_INVALPARAM", MMSYSERR_INVALPARAM},
    {"MMSYSERR_HANDLEBUSY", MMSYSERR_HANDLEBUSY}, {"MIDIERR_UNPREPARED", MIDIERR_UNPREPARED},
    {"MIDIERR_STILLPLAYING", MIDIERR_STILLPLAYING}, {"MIDIERR_NOMAP", MIDIERR_NOMAP},
    {"MIDIERR_NOTREADY", MIDIERR_NOTREADY},       {"MIDIERR_NODEVICE", MIDIERR_NODEVICE},
    {"MIDIERR_INVALIDSETUP", MIDIERR_INVALIDSETUP}, {"MIDIERR_BADOPENMODE", MIDIERR_BADOPENMODE},
};

std::string ResultName(MMRESULT rc) {
    for (const auto &r : kResults)
        if (r.rc == rc) return r.name;
    return std::to_string(rc);
}

std::vector<std::string> Split(const std::string &line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size()) break;
        std::string tok;
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) end = line.size();
            tok = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < line.size() && !isspace(static_cast<unsigned char>(line[i]))) tok += line[i++];
        }
        out.push_back(tok);
    }
    return out;
}

bool ParseNumber(const std::string &s, long long *v) {
    if (s.empty()) return false;
    char *end;
    *v = strtoll(s.c_str(), &end, 0);
    return *end == 0;
}

bool ParseHex(const std::vector<std::string> &toks, size_t from, std::string *out, std::string *err) {
    std::string digits;
    for (size_t i = from; i < toks.size(); ++i) {
        std::string t = toks[i];
        if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
        digits += t;
    }
    if (digits.size() % 2) {
        *err = "odd number of hex digits";
        return false;
    }
    out->clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        char pair[3] = {digits[i], digits[i + 1], 0};
        char *end;
        long b = strtol(pair, &end, 16);
        if (*end) {
            *err = "bad hex byte '" + std::string(pair) + "'";
            return false;
        }
        *out += static_cast<char>(b);
    }
    return true;
}

bool ParseResult(const std::string &s, MMRESULT *rc) {
    for (const auto &r : kResults)
        if (_stricmp(r.name, s.c_str()) == 0) {
            *rc = r.rc;
            return true;
        }
    long long v;
    if (!ParseNumber(s, &v) || v < 0) return false;
    *rc = static_cast<MMRESULT>(v);
    return true;
}

bool ReadAll(const std::string &path, std::string *data) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    data->clear();
    char buf[65536];
    DWORD got;
    bool ok = true;
    while ((ok = ::ReadFile(f, buf, sizeof(buf), &got, nullptr) != FALSE) && got) data->append(buf, got);
    CloseHandle(f);
    return ok;
}

bool WriteAll(const std::string &path, const std::string &data, bool append) {
    HANDLE f = CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ,
                           nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = data.empty() || (::WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) &&
                               put == data.size());
    CloseHandle(f);
    return ok;
}

std::string Resolve(const std::string &path, const std::string &baseDir) {
    std::string p = ToWindowsPath(path);
    bool absolute = (p.size() > 1 && p[1] == ':') || (!p.empty() && (p[0] == '\\' || p[0] == '/'));
    if (absolute || baseDir.empty()) return p;
    return baseDir + "\\" + p;
}

std::string DirOf(const std::string &path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool Id(const std::vector<std::string> &t, size_t i, int *id, std::string *err) {
    long long v;
    if (i >= t.size() || !ParseNumber(t[i], &v) || v < 0 || v > 0xFFFF) {
        *err = "expected a device id";
        return false;
    }
    *id = static_cast<int>(v);
    return true;
}

bool ShortMsg(const std::vector<std::string> &t, size_t from, DWORD *msg, std::string *err) {
    std::string bytes;
    if (!ParseHex(t, from, &bytes, err)) return false;
    if (bytes.empty() || bytes.size() > 3) {
        *err = "a short message is 1 to 3 bytes";
        return false;
    }
    *msg = 0;
    for (size_t i = 0; i < bytes.size(); ++i) *msg |= static_cast<DWORD>(static_cast<BYTE>(bytes[i])) << (8 * i);
    return true;
}

bool Check(MMRESULT rc, std::string *err) {
    if (rc == MMSYSERR_NOERROR) return true;
    *err = rc == MMSYSERR_BADDEVICEID ? "no such device" : "failed: " + ResultName(rc);
    return false;
}

// --- control folder ---------------------------------------------------------

CRITICAL_SECTION g_folderLock;  // guards g_folder only
std::string *g_folder;
bool g_controlRunning;
ULONGLONG g_writtenChanges = ~0ull;

std::string Folder() {
    EnterCriticalSection(&g_folderLock);
    std::string f = *g_folder;
    LeaveCriticalSection(&g_folderLock);
    return f;
}

std::string StatusText() {
    Lock l;
    const State &s = S();
    std::string t;
    auto put = [&t](const std::string &k, const std::string &v) { t += k + "=" + v + "\r\n"; };
    auto num = [](ULONGLONG v) { return std::to_string(v); };
    put("changes", num(s.changes));
    put("command_files", num(s.commandFiles));
    put("command_errors", num(s.commandErrors));
    put("inputs", num(s.ins.size()));
    put("outputs", num(s.outs.size()));
    for (size_t i = 0; i < s.ins.size(); ++i) {
        const InDev &d = s.ins[i];
        std::string k = "in" + std::to_string(i) + ".";
        ULONGLONG left = 0;
        for (const Stream &st : d.streams) left += st.data->size() - st.pos;
        put(k + "name", d.name);
        put(k + "open", num(d.handle != 0));
        put(k + "started", num(d.started));
        put(k + "queued", num(d.queue.size()));
        put(k + "waiting", num(d.pendingBytes));
        put(k + "stream_left", num(left));
        put(k + "streamed", num(d.streamed));
        put(k + "delivered", num(d.delivered));
        put(k + "lost", num(d.lost));
        put(k + "thru", std::to_string(d.thru));
    }
    for (size_t i = 0; i < s.outs.size(); ++i) {
        const OutDev &o = s.outs[i];
        std::string k = "out" + std::to_string(i) + ".";
        put(k + "name", o.name);
        put(k + "open", num(o.handle != 0));
        put(k + "playing", num(o.playing.size()));
        put(k + "long", num(o.longCount));
        put(k + "short", num(o.shorts.size()));
        put(k + "sent", num(o.sent.size()));
        put(k + "rate", num(o.rate));
    }
    for (const auto &c : s.counters) {
        put("call." + c.first, num(c.second.calls));
        for (const auto &a : c.second.answers) put("answer." + c.first + "." + ResultName(a.first), num(a.second));
    }
    return t;
}

void RunCommandFile(const std::string &folder, const std::string &name) {
    std::string path = folder + "\\" + name;
    std::string text;
    if (!ReadAll(path, &text)) return;  // still being written: next round
    std::string errors;
    size_t lineNo = 0, pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        std::string err;
        if (!RunCommand(line, folder, &err))
            errors += "# line " + std::to_string(lineNo) + ": " + err + "\r\n";
    }
    std::string base = name.substr(0, name.size() - 4);
    {
        Lock l;
        ++S().commandFiles;
        if (!errors.empty()) ++S().commandErrors;
        ++S().changes;
    }
    // The .cmd is gone before its .done or .err appears, and that appears whole.
    if (errors.empty() &&
        MoveFileExA(path.c_str(), (folder + "\\" + base + ".done").c_str(), MOVEFILE_REPLACE_EXISTING))
        return;
    DeleteFileA(path.c_str());
    if (errors.empty()) return;
    std::string part = folder + "\\" + base + ".err-part";
    if (WriteAll(part, text + "\r\n" + errors, false))
        MoveFileExA(part.c_str(), (folder + "\\" + base + ".err").c_str(), MOVEFILE_REPLACE_EXISTING);
}

void PollFolder(const std::string &folder) {
    std::vector<FileWrite> writes;
    {
        Lock l;
        writes.swap(S().writes);
    }
    for (const FileWrite &w : writes) WriteAll(folder + "\\" + w.name, w.data, true);

    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((folder + "\\*.cmd").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
        } while (FindNextFileA(find, &fd));
        FindClose(find);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &n : names) RunCommandFile(folder, n);

    ULONGLONG changes;
    {
        Lock l;
        changes = S().changes;
    }
    if (changes != g_writtenChanges) {
        // Replacing fails while a reader holds status.txt open: retried next round.
        std::string tmp = folder + "\\status.tmp";
        if (WriteAll(tmp, StatusText(), false) &&
            MoveFileExA(tmp.c_str(), (folder + "\\status.txt").c_str(), MOVEFILE_REPLACE_EXISTING))
            g_writtenChanges = changes;
    }
}

DWORD WINAPI ControlThread(void *) {
    for (;;) {
        std::string folder = Folder();
        if (!folder.empty()) PollFolder(folder);
        Sleep(20);
    }
}

}  // namespace

std::string ToWindowsPath(const std::string &path) {
    // Under Wine a Unix path from the Linux side names the file through Z:.
    if (path.empty() || path[0] != '/') return path;
    typedef WCHAR *(CDECL * ToDos)(const char *);
    ToDos toDos = reinterpret_cast<ToDos>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    if (!toDos) return path;
    WCHAR *w = toDos(path.c_str());
    if (!w) return path;
    char buf[MAX_PATH * 4];
    int n = WideCharToMultiByte(CP_ACP, 0, w, -1, buf, sizeof(buf), nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, w);
    return n ? std::string(buf) : path;
}

bool RunCommand(const std::string &line, const std::string &baseDir, std::string *err) {
    std::vector<std::string> t = Split(line);
    if (t.empty() || t[0][0] == '#') return true;
    std::string cmd = t[0];
    std::transform(cmd.begin(), cmd.end(), cmd.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    int id = 0;
    auto rest = [&line, &t]() {
        size_t p = line.find(t[0]) + t[0].size();
        size_t b = line.find_first_not_of(" \t", p);
        size_t e = line.find_last_not_of(" \t\r\n");
        return b == std::string::npos || e < b ? std::string() : line.substr(b, e - b + 1);
    };

    if (cmd == "in" || cmd == "out") {
        std::string name = rest();
        if (name.empty()) {
            *err = "expected a device name";
            return false;
        }
        if (cmd == "in")
            vmidi_add_input(name.c_str());
        else
            vmidi_add_output(name.c_str());
        return true;
    }
    if (cmd == "loopback") {
        vmidi_add_loopback(nullptr);
        return true;
    }
    if (cmd == "reset") {
        vmidi_reset();
        return true;
    }
    if (cmd == "rate") {
        long long a, b;
        if (t.size() == 2 && ParseNumber(t[1], &a) && a >= 0) return vmidi_set_rate(-1, static_cast<DWORD>(a)) != FALSE;
        if (t.size() == 3 && ParseNumber(t[1], &a) && ParseNumber(t[2], &b) && a >= 0 && b >= 0) {
            if (vmidi_set_rate(static_cast<int>(a), static_cast<DWORD>(b))) return true;
            *err = "no such device";
            return false;
        }
        *err = "usage: rate [OUT] BYTES_PER_SEC";
        return false;
    }
    if (cmd == "fault") {
        long long count;
        MMRESULT rc = MMSYSERR_ERROR;
        if (t.size() < 3 || t.size() > 4) {
            *err = "usage: fault CALL COUNT|all [RESULT]";
            return false;
        }
        if (_stricmp(t[2].c_str(), "all") == 0)
            count = VMIDI_ALWAYS;
        else if (!ParseNumber(t[2], &count)) {
            *err = "bad count";
            return false;
        }
        if (t.size() == 4 && !ParseResult(t[3], &rc)) {
            *err = "bad result '" + t[3] + "'";
            return false;
        }
        if (vmidi_fault(t[1].c_str(), static_cast<int>(count), rc)) return true;
        *err = "unknown call '" + t[1] + "'";
        return false;
    }
    if (cmd == "wait") {
        long long ms;
        if (t.size() != 2 || !ParseNumber(t[1], &ms) || ms < 0) {
            *err = "usage: wait MS";
            return false;
        }
        Sleep(static_cast<DWORD>(ms));
        return true;
    }

    // Everything below acts on an input.
    static const char *const kInputCommands[] = {"short", "error", "moredata", "sysex", "flush", "longerror",
                                                 "discard", "lossy", "file", "play", "stream"};
    if (std::none_of(std::begin(kInputCommands), std::end(kInputCommands),
                     [&cmd](const char *c) { return cmd == c; })) {
        *err = "unknown command '" + t[0] + "'";
        return false;
    }
    if (!Id(t, 1, &id, err)) return false;
    if (cmd == "short" || cmd == "error" || cmd == "moredata") {
        DWORD msg;
        if (!ShortMsg(t, 2, &msg, err)) return false;
        return Check(cmd == "short"   ? vmidi_in_short(id, msg)
                     : cmd == "error" ? vmidi_in_error(id, msg)
                                      : vmidi_in_more_data(id, msg),
                     err);
    }
    if (cmd == "sysex") {
        std::string bytes;
        if (!ParseHex(t, 2, &bytes, err)) return false;
        return Check(vmidi_in_sysex(id, bytes.data(), static_cast<DWORD>(bytes.size()), 0), err);
    }
    if (cmd == "flush") return Check(vmidi_in_sysex(id, nullptr, 0, VMIDI_FLUSH), err);
    if (cmd == "longerror") return Check(vmidi_in_long_error(id), err);
    if (cmd == "discard") return Check(vmidi_in_discard(id), err);
    if (cmd == "lossy") {
        if (t.size() != 3 || (_stricmp(t[2].c_str(), "on") && _stricmp(t[2].c_str(), "off"))) {
            *err = "usage: lossy IN on|off";
            return false;
        }
        return Check(vmidi_in_set_lossy(id, _stricmp(t[2].c_str(), "on") == 0), err);
    }
    // file, play or stream
    if (t.size() < 3 || t.size() > (cmd == "stream" ? 3u : 4u)) {
        *err = "usage: " + cmd + " IN PATH" + (cmd == "file" ? " [CHUNK]" : cmd == "play" ? " [RATE]" : "");
        return false;
    }
    long long arg = cmd == "play" ? 3125 : 0;
    if (t.size() == 4 && (!ParseNumber(t[3], &arg) || arg < 0)) {
        *err = "bad number '" + t[3] + "'";
        return false;
    }
    std::string path = Resolve(t[2], baseDir), data;
    if (!ReadAll(path, &data)) {
        *err = "cannot read " + path;
        return false;
    }
    DWORD len = static_cast<DWORD>(data.size());
    if (cmd != "file") return Check(vmidi_in_stream(id, data.data(), len, static_cast<DWORD>(arg)), err);
    if (arg == 0) return Check(vmidi_in_sysex(id, data.data(), len, 0), err);
    for (DWORD at = 0; at < len; at += static_cast<DWORD>(arg)) {
        DWORD n = std::min<DWORD>(static_cast<DWORD>(arg), len - at);
        if (!Check(vmidi_in_sysex(id, data.data() + at, n, VMIDI_FLUSH), err)) return false;
    }
    return true;
}

void LoadEnvironment() {
    InitializeCriticalSection(&g_folderLock);
    g_folder = new std::string;
    char buf[MAX_PATH * 4];
    DWORD n = GetEnvironmentVariableA("VMIDI_CONFIG", buf, sizeof(buf));
    if (n && n < sizeof(buf)) {
        std::string path = ToWindowsPath(buf), text;
        if (ReadAll(path, &text)) {
            size_t pos = 0;
            while (pos <= text.size()) {
                size_t end = text.find('\n', pos);
                if (end == std::string::npos) end = text.size();
                std::string err, line = text.substr(pos, end - pos);
                if (!RunCommand(line, DirOf(path), &err))
                    OutputDebugStringA(("vmidi: " + path + ": " + err + "\n").c_str());
                pos = end + 1;
            }
        } else {
            OutputDebugStringA(("vmidi: cannot read VMIDI_CONFIG " + path + "\n").c_str());
        }
    } else {
        vmidi_add_loopback(nullptr);  // something to try the program with
    }
    n = GetEnvironmentVariableA("VMIDI_CONTROL", buf, sizeof(buf));
    if (n && n < sizeof(buf)) vmidi_control_folder(buf);
}

}  // namespace vm

extern "C" BOOL vmidi_control_folder(const char *path) {
    using namespace vm;
    std::string folder = path ? ToWindowsPath(path) : std::string();
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    if (!folder.empty()) {
        CreateDirectoryA(folder.c_str(), nullptr);
        DWORD attr = GetFileAttributesA(folder.c_str());
        if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY)) return FALSE;
        // A fresh run starts with fresh logs.
        for (const char *pattern : {"\\out*.syx", "\\out*.short", "\\status.txt"}) {
            WIN32_FIND_DATAA fd;
            HANDLE find = FindFirstFileA((folder + pattern).c_str(), &fd);
            if (find == INVALID_HANDLE_VALUE) continue;
            do DeleteFileA((folder + "\\" + fd.cFileName).c_str());
            while (FindNextFileA(find, &fd));
            FindClose(find);
        }
    }
    EnterCriticalSection(&g_folderLock);
    *g_folder = folder;
    LeaveCriticalSection(&g_folderLock);
    Lock l;
    S().logging = !folder.empty();
    S().writes.clear();
    ++S().changes;
    if (!folder.empty() && !g_controlRunning) {
        HMODULE self;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&ControlThread), &self);
        HANDLE th = CreateThread(nullptr, 0, ControlThread, nullptr, 0, nullptr);
        if (th) {
            CloseHandle(th);
            g_controlRunning = true;
        }
    }
    return TRUE;
}
