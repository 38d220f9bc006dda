// Drives the shipped program from another process, as a person or an accessibility tool
// would: finds its window, picks list entries, clicks, types the file name, answers boxes and
// reads labels. The virtual MIDI driver inside the program is steered through its control
// folder.
#pragma once

#include "tests/common/files.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// One SysEx message of `size` bytes: F0, the manufacturer, counting data, F7.
Bytes Message(size_t size, unsigned char manufacturer = 0x41, unsigned seed = 0);
// `count` messages of `size` bytes back to back, as an instrument's dump.
Bytes Dump(size_t count, size_t size, unsigned seed = 0);

// The virtual devices inside the program: a config run when the driver loads, and a control
// folder it polls.
class VirtualDevices {
public:
    // config: the commands run at load (devices, rates); empty means no devices.
    explicit VirtualDevices(const std::string &config);
    const std::string &folder() const { return scratch_.path(); }
    std::string ConfigPath() const { return scratch_.Path("config.txt"); }

    // Runs commands through the control folder and waits until they are done. Returns false
    // when a line failed or the driver did not pick them up.
    bool Command(const std::string &commands, DWORD timeoutMs = 10000);
    // The driver's status.txt as key/value pairs.
    std::map<std::string, std::string> Status() const;
    unsigned long long Number(const std::string &key) const;
    // Waits until a status key has the value.
    bool WaitFor(const std::string &key, const std::string &value, DWORD timeoutMs = 20000) const;
    // What output `out` has finished playing.
    Bytes Sent(int out) const { return ReadBytes(scratch_.Path("out" + std::to_string(out) + ".syx")); }
    // A file in the control folder, for commands that take a path.
    std::string Put(const std::string &name, const Bytes &bytes) const;

private:
    ScratchFolder scratch_;
    int commandCount_ = 0;
};

// The visible dialog window with this caption that belongs to the process, or null.
HWND FindProcessWindow(DWORD processId, const char *caption);

// A message box or other dialog the program shows besides its main window.
struct ProgramBox {
    HWND window;
    std::string caption;
    std::string text;
};

class Program {
public:
    // Starts brelvane.exe from the driver's folder with the arguments (a leading space
    // separates them from the program path) and the virtual devices, and waits for the window.
    Program(const std::string &arguments, const VirtualDevices *devices, const std::string &workingFolder = "");
    ~Program();

    HWND window() const { return window_; }
    bool Running() const;
    DWORD WaitForExit(DWORD timeoutMs);
    DWORD ProcessId() const { return process_.dwProcessId; }
    HANDLE ProcessHandle() const { return process_.hProcess; }

    std::string Text(int id) const;
    void Type(int id, const std::string &text) const;
    bool Checked(int id) const;
    bool Enabled(int id) const;
    std::vector<std::string> ListEntries(int id) const;
    // Selects an entry as the user's choice does (the list notifies its window).
    void Choose(int listId, int position) const;
    // Clicks a button or check box without waiting for what the click starts.
    void Click(int id) const;
    // Waits until the control's text satisfies pred (or equals text).
    bool WaitText(int id, const std::function<bool(const std::string &)> &pred, DWORD timeoutMs = 20000) const;
    bool WaitText(int id, const std::string &text, DWORD timeoutMs = 20000) const;
    // Waits until a check box shows the state. A box flips before its handler runs, and the
    // answer to the query comes only once the program is idle, so the handler has finished.
    bool WaitChecked(int id, bool checked, DWORD timeoutMs = 20000) const;

    // Boxes open now, oldest first.
    std::vector<ProgramBox> Boxes() const;
    // Waits for a box, presses the button (IDOK, IDYES, IDNO) and returns what it showed.
    ProgramBox Answer(int button, DWORD timeoutMs = 10000) const;
    // Presses the button on every box open now; returns their texts.
    std::vector<std::string> AnswerAll(int button = IDOK) const;
    // Private bytes of the program's process.
    SIZE_T PrivateBytes() const;
    // Waits until the program has handled everything sent or posted to it so far.
    void Settle() const;

private:
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
};
