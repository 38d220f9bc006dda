// Measures the shipped program from outside, under Wine with the virtual MIDI driver: capture
// and verify throughput, time to a visible window against an empty dialog, and memory growth
// over many input device changes and sends. Prints one "row|figure|measured|target|PASS or FAIL"
// line per figure and "info|..." lines with the details; bench/run turns them into a table.
//
// bench.exe [OPTIONS] [throughput] [startup] [memory]      (no figure named: all three)
//   --quick        smaller runs: 2 MiB dump, 5 start-ups each, 200 changes and 10 sends
//   --kib N        dump size for the throughput run in KiB (default 8192)
//   --message N    size of each SysEx message in the dump (default 512)
//   --runs N       start-ups of each program (default 15)
//   --changes N    input device changes for the memory run (default 1000)
//   --sends N      sends for the memory run (default 100)
//   --trace        print the status line at every poll of the throughput run
#include "tests/e2e/driver.h"
#include "core/app_state.h" // the program's control ids and input buffer size

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kProgramCaption[] = "Brelvane  v 2";
const char kEmptyCaption[] = "Empty dialog";
const double kWireSpeed = 3125.0; // bytes per second on a MIDI cable
const double kMiB = 1024.0 * 1024.0;
const DWORD kStatusPollMs = 20; // reading the status line costs the program a sent message

struct Options {
    size_t dumpKiB = 8192;
    size_t messageBytes = 512;
    int runs = 15;
    int changes = 1000;
    int sends = 100;
    bool trace = false;
} options;

int failures = 0;

double Seconds()
{
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Format(const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

void Row(const std::string &figure, const std::string &measured, const std::string &target, bool pass)
{
    std::printf("row|%s|%s|%s|%s\n", figure.c_str(), measured.c_str(), target.c_str(), pass ? "PASS" : "FAIL");
    std::fflush(stdout);
    if (!pass)
        ++failures;
}

void Info(const std::string &text)
{
    std::printf("info|%s\n", text.c_str());
    std::fflush(stdout);
}

// Polls pred every pollMs until it holds or timeoutMs pass.
template <typename Pred> bool Poll(Pred pred, DWORD timeoutMs, DWORD pollMs = 5)
{
    const double end = Seconds() + timeoutMs / 1000.0;
    while (!pred()) {
        if (Seconds() > end)
            return pred();
        Sleep(pollMs);
    }
    return true;
}

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string CapturedLine(size_t bytes, size_t messages)
{
    return "Captured " + std::to_string(bytes) + " bytes,  " + std::to_string(messages) + " SOX, " +
           std::to_string(messages) + " EOX (equal)";
}

// Bytes of `expected` not found in place in `got`: differing positions plus the length difference.
size_t Missing(const Bytes &expected, const Bytes &got)
{
    const size_t common = std::min(expected.size(), got.size());
    size_t missing = std::max(expected.size(), got.size()) - common;
    for (size_t i = 0; i < common; ++i)
        missing += expected[i] != got[i];
    return missing;
}

// ---------------------------------------------------------------------------------------------
// Capture and verify throughput.

struct StreamRun {
    bool done = false;
    double seconds = 0;      // from dropping the stream command to the status line showing every byte
    double firstSeconds = 0; // from dropping the command to the first status line with bytes
    std::string lastStatus;
};

// Drops "stream 0 PATH" into the control folder and polls the status line until it reads `final`.
StreamRun StreamAndWait(const Program &program, const VirtualDevices &devices, const std::string &path,
                        const std::string &final, const char *name)
{
    StreamRun run;
    // Written under another name and renamed, as VirtualDevices::Command does. The driver picks
    // it up within one 20 ms poll, which is inside the timed span.
    const std::string base = devices.folder() + "\\" + name;
    const std::string command = "stream 0 " + path + "\n";
    WriteBytes(base + ".tmp", Bytes(command.begin(), command.end()));
    bool seenBytes = false;
    const double start = Seconds();
    MoveFileA((base + ".tmp").c_str(), (base + ".cmd").c_str());
    run.done = Poll([&] {
        run.lastStatus = program.Text(IDC_STATUS);
        if (!seenBytes && run.lastStatus.rfind("Captured ", 0) == 0 && run.lastStatus.rfind("Captured 0 ", 0) != 0) {
            seenBytes = true;
            run.firstSeconds = Seconds() - start;
        }
        if (options.trace)
            std::printf("trace|%.4f|%s\n", Seconds() - start, run.lastStatus.c_str());
        return run.lastStatus == final;
    }, 600000, kStatusPollMs);
    run.seconds = Seconds() - start;
    return run;
}

void ReportThroughput(const char *what, const StreamRun &run, size_t bytes, size_t buffers, unsigned long long lost)
{
    const double rate = run.done && run.seconds > 0 ? bytes / run.seconds : 0;
    Info(Format("%s: %zu bytes in %.3f s from the stream command to the status line showing them all (first "
                "bytes shown after %.3f s): %.0f input buffers/s, %.0f us per buffer%s%s",
                what, bytes, run.seconds, run.firstSeconds, buffers / run.seconds, run.seconds * 1e6 / buffers,
                run.done ? "" : "; did not finish, status: ", run.done ? "" : run.lastStatus.c_str()));
    Row(std::string(what) + " throughput", Format("%.2f MiB/s = %.0f x MIDI wire", rate / kMiB, rate / kWireSpeed),
        ">= 1 MiB/s", rate >= kMiB);
    Row(std::string(what) + " bytes lost", Format("%llu of %zu", lost, bytes), "0", run.done && lost == 0);
}

// What a few platform calls cost here, each a round trip to the Wine server: the calls the
// program makes for every input buffer.
void MeasurePlatformCalls()
{
    HWND parent = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 200, 50, nullptr, nullptr, nullptr, nullptr);
    HWND child = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 200, 20, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS)), nullptr, nullptr);
    const int n = 5000;
    double start = Seconds();
    for (int i = 0; i < n; ++i)
        GetDlgItem(parent, IDC_STATUS);
    const double getItem = (Seconds() - start) / n;
    start = Seconds();
    for (int i = 0; i < n; ++i)
        SetWindowTextA(child, Format("Captured %d bytes", i).c_str());
    const double setText = (Seconds() - start) / n;
    start = Seconds();
    MSG message;
    for (int i = 0; i < n; ++i) {
        PostMessageA(parent, WM_USER, 0, 0);
        GetMessageA(&message, nullptr, 0, 0);
    }
    const double postGet = (Seconds() - start) / n;
    DestroyWindow(parent);
    Info(Format("platform calls here: GetDlgItem %.0f us, SetWindowTextA on a static %.0f us, "
                "PostMessageA + GetMessageA %.0f us",
                getItem * 1e6, setText * 1e6, postGet * 1e6));
}

void Throughput()
{
    const size_t messageSize = options.messageBytes;
    const size_t count = options.dumpKiB * 1024 / messageSize;
    // The driver returns a buffer when it is full and at every F7.
    const size_t buffers = count * ((messageSize + INPUT_BUFFER_SIZE - 1) / INPUT_BUFFER_SIZE);
    ScratchFolder work("brelvane-bench");
    VirtualDevices devices("in Fast\n");
    const Bytes dump = Dump(count, messageSize, 7);
    const std::string dumpPath = devices.Put("dump.syx", dump);
    const std::string capturePath = work.Path("capture.syx");
    Info(Format("throughput: %zu messages of %zu bytes (%zu bytes) streamed at full speed from input 'in Fast'; "
                "the program's %u-byte buffers come back %zu times",
                count, messageSize, dump.size(), unsigned{INPUT_BUFFER_SIZE}, buffers));
    MeasurePlatformCalls();

    Program program(" \"" + capturePath + "\"", &devices);
    if (program.window() == nullptr) {
        Row("capture throughput", "window did not appear", ">= 1 MiB/s", false);
        return;
    }
    program.Choose(IDC_IN_DEVICE, 0);
    if (!program.WaitText(IDC_IN_STATE, "Ok") || !devices.WaitFor("in0.queued", "50")) {
        Row("capture throughput", "input did not open", ">= 1 MiB/s", false);
        return;
    }

    program.Click(IDC_CAPTURE);
    Poll([&] { return program.Checked(IDC_CAPTURE) && !program.Enabled(IDC_IN_DEVICE); }, 10000);
    const StreamRun capture = StreamAndWait(program, devices, dumpPath, CapturedLine(dump.size(), count), "capture");
    const unsigned long long lostAtCapture = devices.Number("in0.lost");
    program.Click(IDC_CAPTURE);
    Poll([&] { return program.Enabled(IDC_IN_DEVICE); }, 10000);
    const Bytes captured = ReadBytes(capturePath);
    ReportThroughput("capture", capture, dump.size(), buffers, lostAtCapture + Missing(dump, captured));

    // Verify the same dump against the file just captured.
    program.Click(IDC_VERIFY);
    Poll([&] { return program.Checked(IDC_VERIFY) && program.Text(IDC_STATUS).empty(); }, 10000);
    const StreamRun verify =
        StreamAndWait(program, devices, dumpPath, CapturedLine(dump.size(), count) + ",  verify Ok", "verify");
    // "verify Ok" means every byte of the file arrived, in order, and nothing else.
    const unsigned long long lostAtVerify = devices.Number("in0.lost") - lostAtCapture;
    ReportThroughput("verify", verify, dump.size(), buffers, verify.done ? lostAtVerify : dump.size());
    program.Click(IDC_VERIFY);
}

// ---------------------------------------------------------------------------------------------
// Time from process start to a visible window.

// Starts exe, polls every millisecond for its visible top-level dialog and closes it again.
// Returns the seconds from CreateProcess to the window being visible, negative on failure.
double TimeToWindow(const std::string &exe, const char *caption, const std::string &workingFolder)
{
    std::string commandLine = "\"" + exe + "\"";
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const double start = Seconds();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, workingFolder.c_str(), &startup,
                        &process))
        return -1;
    HWND window = nullptr;
    bool exited = false;
    const bool shown = Poll([&] {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
            return exited = true;
        return (window = FindProcessWindow(process.dwProcessId, caption)) != nullptr;
    }, 30000, 1);
    const double seconds = Seconds() - start;
    if (window != nullptr)
        PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 15000) == WAIT_TIMEOUT)
        TerminateProcess(process.hProcess, 99);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!shown || exited) {
        Info(Format("%s: no visible window after %.1f s (%s, exit code 0x%lX)", exe.c_str(), seconds,
                    exited ? "the process ended first" : "still running, ended", code));
        return -1;
    }
    return seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void StartUp()
{
    struct Subject {
        const char *exe;
        const char *caption;
        const char *what;
        std::vector<double> times;
    } subjects[] = {
        {"brelvane.exe", kProgramCaption, "the program", {}},
        {"empty_dialog.exe", kEmptyCaption, "empty dialog", {}},
        {"empty_dialog_imports.exe", kEmptyCaption, "empty dialog + the program's imports", {}},
        {"template_dialog.exe", kProgramCaption, "the program's template, no code", {}},
    };
    ScratchFolder work("brelvane-bench");
    // No control folder and no config: the program sees the driver's default Loopback pair, as a
    // person trying it without hardware does.
    SetEnvironmentVariableA("VMIDI_CONFIG", nullptr);
    SetEnvironmentVariableA("VMIDI_CONTROL", nullptr);

    // One unmeasured start of each, so all find their files in the cache; then round after round.
    for (Subject &s : subjects)
        TimeToWindow(ExeFolder() + s.exe, s.caption, work.path());
    bool failed = false;
    for (int i = 0; i < options.runs; ++i) {
        for (Subject &s : subjects) {
            const double t = TimeToWindow(ExeFolder() + s.exe, s.caption, work.path());
            if (t >= 0)
                s.times.push_back(t);
            else if (&s - subjects < 2)
                failed = true; // the two compared must start every time
        }
    }
    Info(Format("start-up: %d rounds of the four programs in turn, CreateProcess to a visible window "
                "(FindWindow polled every 1 ms)", options.runs));
    const double emptyMedian = Median(subjects[1].times);
    for (const Subject &s : subjects) {
        std::vector<double> times = s.times;
        if (times.empty())
            continue;
        std::sort(times.begin(), times.end());
        std::string text = Format("%-26s median %6.1f ms = %.2f x empty (%s); min %.1f, max %.1f", s.exe,
                                  Median(times) * 1000, emptyMedian > 0 ? Median(times) / emptyMedian : 0, s.what,
                                  times.front() * 1000, times.back() * 1000);
        text += "; in order (ms):";
        for (double t : s.times)
            text += Format(" %.0f", t * 1000);
        Info(text);
    }
    const double programMedian = Median(subjects[0].times);
    const double ratio = emptyMedian > 0 ? programMedian / emptyMedian : 0;
    Row("start-up to visible window",
        failed ? std::string("a window did not appear")
               : Format("%.1f ms vs %.1f ms empty = %.2f x", programMedian * 1000, emptyMedian * 1000, ratio),
        "<= 1.20 x empty dialog", !failed && ratio <= 1.2);
}

// ---------------------------------------------------------------------------------------------
// Memory over input device changes and sends.

// The program's memory seen from outside. Wine 8 answers GetProcessMemoryInfo for another process
// with PrivateUsage 0, so the figures come from the Linux process behind it, /proc/PID/status
// read through Wine's Z: drive: VmData (private writable memory the process has committed, which
// is what Windows counts as private bytes) and RssAnon (the part of it that is resident).
struct Memory {
    unsigned long long privateUsage = 0;
    unsigned long long vmData = 0;
    unsigned long long rssAnon = 0;
};

std::string ReadWhole(const std::string &path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

unsigned long long StatusKilobytes(const std::string &status, const char *key)
{
    const size_t at = status.find(key);
    return at == std::string::npos ? 0 : std::strtoull(status.c_str() + at + std::strlen(key), nullptr, 10) * 1024;
}

// The Linux process id of the process whose command line holds `marker`, or 0.
unsigned FindLinuxProcess(const std::string &marker)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA("Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    unsigned found = 0;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || entry.cFileName[0] < '1' ||
            entry.cFileName[0] > '9')
            continue;
        std::string cmdline = ReadWhole(std::string("Z:\\proc\\") + entry.cFileName + "\\cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (cmdline.find(marker) != std::string::npos) {
            found = static_cast<unsigned>(std::strtoul(entry.cFileName, nullptr, 10));
            break;
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return found;
}

Memory MeasureMemory(const Program &program, unsigned linuxPid)
{
    Memory memory;
    memory.privateUsage = program.PrivateBytes();
    if (linuxPid != 0) {
        const std::string status = ReadWhole("Z:\\proc\\" + std::to_string(linuxPid) + "\\status");
        memory.vmData = StatusKilobytes(status, "VmData:");
        memory.rssAnon = StatusKilobytes(status, "RssAnon:");
    }
    return memory;
}

std::string Describe(const Memory &m)
{
    return Format("VmData %llu, RssAnon %llu, PrivateUsage %llu bytes", m.vmData, m.rssAnon, m.privateUsage);
}

// Lets what the last action set off finish, then measures.
Memory Settled(const Program &program, unsigned linuxPid)
{
    Sleep(1000);
    program.Settle();
    return MeasureMemory(program, linuxPid);
}

long long Growth(unsigned long long from, unsigned long long to)
{
    return static_cast<long long>(to) - static_cast<long long>(from);
}

void MemoryGrowth()
{
    const int changes = options.changes, sends = options.sends;
    const std::string figure = Format("memory growth, %d input changes + %d sends", changes, sends);
    const char target[] = "< 256 KiB";
    VirtualDevices devices("in A\nin B\nout Synth\nrate 0\n");
    // A small file to send; its unique name also finds the program's Linux process.
    const std::string name = Format("bench-send-%lu.syx", GetCurrentProcessId());
    const std::string sendPath = devices.Put(name, Message(64));
    Program program(" \"" + sendPath + "\"", &devices);
    if (program.window() == nullptr) {
        Row(figure, "window did not appear", target, false);
        return;
    }
    const unsigned linuxPid = FindLinuxProcess(name);
    Info(Format("memory: program process %lu is Linux process %u", program.ProcessId(), linuxPid));

    // Input k is open with all its buffers queued, the other one closed.
    auto inputOpen = [&](int k) {
        const std::string me = "in" + std::to_string(k) + ".", other = "in" + std::to_string(1 - k) + ".";
        return Poll([&] {
            const auto status = devices.Status();
            auto is = [&](const std::string &key, const char *value) {
                const auto found = status.find(key);
                return found != status.end() && found->second == value;
            };
            return is(me + "open", "1") && is(me + "started", "1") && is(me + "queued", "50") &&
                   is(other + "open", "0");
        }, 10000) && program.WaitText(IDC_IN_STATE, "Ok", 5000);
    };

    program.Choose(IDC_OUT_DEVICE, 1);
    program.Choose(IDC_IN_DEVICE, 0);
    if (!program.WaitText(IDC_OUT_STATE, "Ok") || !inputOpen(0)) {
        Row(figure, "devices did not open", target, false);
        return;
    }
    const Memory start = Settled(program, linuxPid);
    Info("memory at start: " + Describe(start));

    int changed = 0;
    double began = Seconds();
    for (int i = 1; i <= changes; ++i) {
        const int k = i % 2;
        program.Choose(IDC_IN_DEVICE, k);
        if (!inputOpen(k))
            break;
        ++changed;
    }
    const Memory afterChanges = Settled(program, linuxPid);
    Info(Format("memory after %d input changes (%.1f s): ", changed, Seconds() - began) + Describe(afterChanges));

    int sent = 0;
    began = Seconds();
    for (int i = 1; i <= sends; ++i) {
        // Cleared first, so the " Complete" waited for is this send's.
        program.Type(IDC_STATUS, "");
        program.Click(IDC_SEND);
        if (!program.WaitText(IDC_STATUS, [](const std::string &s) { return EndsWith(s, " Complete"); }, 10000))
            break;
        program.Settle(); // answered once the pause after the send is over
        ++sent;
    }
    const bool allPlayed = devices.WaitFor("out0.long", std::to_string(sent), 10000);
    const Memory end = Settled(program, linuxPid);
    Info(Format("memory after %d sends (%.1f s, %llu played): ", sent, Seconds() - began,
                devices.Number("out0.long")) +
         Describe(end));

    const bool complete = changed == changes && sent == sends && allPlayed;
    const long long data = Growth(start.vmData, end.vmData), resident = Growth(start.rssAnon, end.rssAnon);
    std::string measured = start.vmData == 0 ? std::string("could not read /proc")
                                             : Format("%+.0f KiB VmData, %+.0f KiB RssAnon", data / 1024.0,
                                                      resident / 1024.0);
    if (!complete)
        measured += Format(" (only %d changes, %d sends)", changed, sent);
    Row(figure, measured, target, complete && start.vmData > 0 && data < 256 * 1024 && resident < 256 * 1024);
}

bool Number(int argc, char **argv, int &i, const char *option, long &value)
{
    if (std::strcmp(argv[i], option) != 0 || i + 1 >= argc)
        return false;
    value = std::strtol(argv[++i], nullptr, 10);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    bool throughput = false, startUp = false, memory = false;
    for (int i = 1; i < argc; ++i) {
        long n = 0;
        if (!std::strcmp(argv[i], "--quick")) {
            options.dumpKiB = 2048;
            options.runs = 5;
            options.changes = 200;
            options.sends = 10;
        } else if (Number(argc, argv, i, "--kib", n) && n > 0) {
            options.dumpKiB = static_cast<size_t>(n);
        } else if (Number(argc, argv, i, "--message", n) && n >= 3) {
            options.messageBytes = static_cast<size_t>(n);
        } else if (Number(argc, argv, i, "--runs", n) && n > 0) {
            options.runs = static_cast<int>(n);
        } else if (Number(argc, argv, i, "--changes", n) && n >= 0) {
            options.changes = static_cast<int>(n);
        } else if (Number(argc, argv, i, "--sends", n) && n >= 0) {
            options.sends = static_cast<int>(n);
        } else if (!std::strcmp(argv[i], "--trace")) {
            options.trace = true;
        } else if (!std::strcmp(argv[i], "throughput")) {
            throughput = true;
        } else if (!std::strcmp(argv[i], "startup")) {
            startUp = true;
        } else if (!std::strcmp(argv[i], "memory")) {
            memory = true;
        } else {
            std::fprintf(stderr, "usage: bench.exe [--quick] [--kib N] [--message N] [--runs N] [--changes N] "
                                 "[--sends N] [--trace] [throughput] [startup] [memory]\n");
            return 2;
        }
    }
    if (!throughput && !startUp && !memory)
        throughput = startUp = memory = true;

    if (throughput)
        Throughput();
    if (startUp)
        StartUp();
    if (memory)
        MemoryGrowth();
    return failures == 0 ? 0 : 1;
}
