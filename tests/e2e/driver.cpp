#include "tests/e2e/driver.h"

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

const char kCaption[] = "Brelvane  v 2";

std::string TextOf(HWND window)
{
    char text[1024] = "";
    // Marshalled by the platform across processes.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

bool WaitUntil(const std::function<bool()> &pred, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > timeoutMs)
            return pred();
        Sleep(10);
    }
    return true;
}

} // namespace

HWND FindProcessWindow(DWORD processId, const char *caption)
{
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, "#32770", caption)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(found, &pid);
        if (pid == processId && IsWindowVisible(found))
            return found;
    }
    return nullptr;
}

Bytes Message(size_t size, unsigned char manufacturer, unsigned seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + seed) % 0x80);
    bytes[0] = 0xF0;
    if (size > 2)
        bytes[1] = manufacturer;
    bytes[size - 1] = 0xF7;
    return bytes;
}

Bytes Dump(size_t count, size_t size, unsigned seed)
{
    Bytes dump;
    for (size_t i = 0; i < count; ++i) {
        const Bytes message = Message(size, 0x41, seed + static_cast<unsigned>(i));
        dump.insert(dump.end(), message.begin(), message.end());
    }
    return dump;
}

VirtualDevices::VirtualDevices(const std::string &config) : scratch_("brelvane-vmidi")
{
    const std::string path = ConfigPath();
    WriteBytes(path, Bytes(config.begin(), config.end()));
}

bool VirtualDevices::Command(const std::string &commands, DWORD timeoutMs)
{
    char name[32];
    std::snprintf(name, sizeof(name), "c%05d", ++commandCount_);
    const std::string base = scratch_.Path(name);
    WriteBytes(base + ".tmp", Bytes(commands.begin(), commands.end()));
    MoveFileA((base + ".tmp").c_str(), (base + ".cmd").c_str());
    const std::string done = base + ".done", failed = base + ".err";
    WaitUntil([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES ||
                           GetFileAttributesA(failed.c_str()) != INVALID_FILE_ATTRIBUTES; },
              timeoutMs);
    return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::map<std::string, std::string> VirtualDevices::Status() const
{
    std::map<std::string, std::string> status;
    const Bytes bytes = ReadBytes(scratch_.Path("status.txt"));
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            status[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return status;
}

unsigned long long VirtualDevices::Number(const std::string &key) const
{
    const auto status = Status();
    const auto found = status.find(key);
    return found == status.end() ? 0 : std::strtoull(found->second.c_str(), nullptr, 10);
}

bool VirtualDevices::WaitFor(const std::string &key, const std::string &value, DWORD timeoutMs) const
{
    return WaitUntil([&] {
        const auto status = Status();
        const auto found = status.find(key);
        return found != status.end() && found->second == value;
    }, timeoutMs);
}

std::string VirtualDevices::Put(const std::string &name, const Bytes &bytes) const
{
    WriteBytes(scratch_.Path(name), bytes);
    return scratch_.Path(name);
}

Program::Program(const std::string &arguments, const VirtualDevices *devices, const std::string &workingFolder)
{
    SetEnvironmentVariableA("VMIDI_CONFIG", devices ? devices->ConfigPath().c_str() : nullptr);
    SetEnvironmentVariableA("VMIDI_CONTROL", devices ? devices->folder().c_str() : nullptr);
    std::string commandLine = "\"" + ExeFolder() + "brelvane.exe\"" + arguments;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &process_))
        return;
    WaitUntil([&] { return (window_ = FindProcessWindow(process_.dwProcessId, kCaption)) != nullptr; }, 30000);
    if (devices != nullptr)
        devices->WaitFor("command_files", "0", 5000);
}

Program::~Program()
{
    if (process_.hProcess == nullptr)
        return;
    if (Running()) {
        AnswerAll(IDOK);
        PostMessageA(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, 15000) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 99);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool Program::Running() const
{
    return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD Program::WaitForExit(DWORD timeoutMs)
{
    DWORD code = 12345;
    if (WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

std::string Program::Text(int id) const
{
    return TextOf(GetDlgItem(window_, id));
}

void Program::Type(int id, const std::string &text) const
{
    SendMessageTimeoutA(GetDlgItem(window_, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
}

bool Program::Checked(int id) const
{
    DWORD_PTR state = 0;
    SendMessageTimeoutA(GetDlgItem(window_, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
    return state == BST_CHECKED;
}

bool Program::Enabled(int id) const
{
    return IsWindowEnabled(GetDlgItem(window_, id)) != FALSE;
}

std::vector<std::string> Program::ListEntries(int id) const
{
    HWND list = GetDlgItem(window_, id);
    std::vector<std::string> entries;
    const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        // Across processes the list's text arrives reliably only in the wide form.
        wchar_t wide[64] = L"";
        SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide));
        char name[64] = "";
        WideCharToMultiByte(CP_ACP, 0, wide, -1, name, sizeof(name), nullptr, nullptr);
        entries.push_back(name);
    }
    return entries;
}

void Program::Choose(int listId, int position) const
{
    HWND list = GetDlgItem(window_, listId);
    SendMessageA(list, CB_SETCURSEL, position, 0);
    PostMessageA(window_, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

void Program::Click(int id) const
{
    // Posted, so a box the click opens does not hold the driver.
    PostMessageA(GetDlgItem(window_, id), BM_CLICK, 0, 0);
}

bool Program::WaitText(int id, const std::function<bool(const std::string &)> &pred, DWORD timeoutMs) const
{
    return WaitUntil([&] { return pred(Text(id)); }, timeoutMs);
}

bool Program::WaitText(int id, const std::string &text, DWORD timeoutMs) const
{
    return WaitText(id, [&](const std::string &shown) { return shown == text; }, timeoutMs);
}

bool Program::WaitChecked(int id, bool checked, DWORD timeoutMs) const
{
    return WaitUntil([&] { return Checked(id) == checked; }, timeoutMs);
}

namespace {
struct BoxSearch {
    DWORD pid;
    HWND main;
    std::vector<ProgramBox> boxes;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM data)
{
    auto *search = reinterpret_cast<BoxSearch *>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && window != search->main && IsWindowVisible(window) && ClassOf(window) == "#32770") {
        ProgramBox box;
        box.window = window;
        box.caption = TextOf(window);
        if (HWND text = GetDlgItem(window, 0xFFFF))
            box.text = TextOf(text);
        search->boxes.insert(search->boxes.begin(), box); // the newest is found first
    }
    return TRUE;
}
} // namespace

std::vector<ProgramBox> Program::Boxes() const
{
    BoxSearch search = {process_.dwProcessId, window_, {}};
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
    return search.boxes;
}

ProgramBox Program::Answer(int button, DWORD timeoutMs) const
{
    ProgramBox box = {};
    WaitUntil([&] {
        const auto boxes = Boxes();
        if (boxes.empty())
            return false;
        box = boxes.back();
        return true;
    }, timeoutMs);
    if (box.window != nullptr) {
        PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        WaitUntil([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, timeoutMs);
    }
    return box;
}

std::vector<std::string> Program::AnswerAll(int button) const
{
    std::vector<std::string> texts;
    for (int round = 0; round < 100; ++round) {
        const auto boxes = Boxes();
        if (boxes.empty())
            break;
        for (const ProgramBox &box : boxes) {
            texts.push_back(box.text);
            PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }
        Sleep(100);
    }
    return texts;
}

SIZE_T Program::PrivateBytes() const
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(process_.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters), sizeof(counters));
    return counters.PrivateUsage;
}

void Program::Settle() const
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}
