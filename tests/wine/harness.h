// Test harness for driving the real dialog under Wine: the window from the real template, boxes
// answered by a CBT hook, and small helpers for files and dropped files.
#pragma once

#include "core/app_state.h"
#include "tests/common/files.h"

#include <functional>
#include <string>
#include <vector>

// A box or common dialog that appeared while a BoxAnswerer was installed.
struct SeenBox {
    std::string text;            // the message text (empty for the file-open dialog)
    std::string caption;
    bool isMessageBox = false;
    bool hasOk = false, hasYes = false, hasNo = false, hasCancel = false;
    bool hasIcon = false;
    std::string initialFileName; // file-open dialog: the name it showed when it opened
};

// Answers every message box and file-open dialog the thread shows, records each one, and runs
// an optional action while it is open (to deliver notifications into its modal loop).
class BoxAnswerer {
public:
    using Action = std::function<void(HWND box, const SeenBox &seen)>;

    BoxAnswerer();
    ~BoxAnswerer();

    // The answer for the next box (IDOK, IDYES, IDNO, IDCANCEL); later boxes get the default.
    void Next(int answer, Action whileOpen = nullptr);
    // The answer for boxes without a queued one (IDOK, or IDCANCEL for a file dialog).
    void SetDefault(int answer) { defaultAnswer_ = answer; }
    // The name typed into the next file-open dialog before it is confirmed.
    void TypeFileName(const std::string &name) { typedName_ = name; }

    const std::vector<SeenBox> &Seen() const { return seen_; }
    std::vector<std::string> Texts() const;
    void Clear() { seen_.clear(); }

    static BoxAnswerer *current;
    void OnActivate(HWND window);
    void OnTimer();

private:
    struct Planned {
        int answer;
        Action action;
    };
    HHOOK hook_ = nullptr;
    std::vector<Planned> planned_;
    std::vector<SeenBox> seen_;
    std::vector<HWND> pending_;
    int defaultAnswer_ = 0;
    std::string typedName_;
};

// The main dialog, modeless, from the template linked into the test program.
class MainWindow {
public:
    MainWindow();
    ~MainWindow();
    HWND hwnd() const { return dialog_; }
    HWND item(int id) const { return GetDlgItem(dialog_, id); }
    std::string Text(int id) const;
    void SetText(int id, const std::string &text) const { SetDlgItemTextA(dialog_, id, text.c_str()); }
    bool Enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }
    bool Checked(int id) const { return IsDlgButtonChecked(dialog_, id) == BST_CHECKED; }
    // A user's click on a check box or button: toggles an automatic box and notifies.
    void Click(int id) const;
    // Selects a list entry and notifies CBN_SELCHANGE, as the user's choice does.
    void Choose(int listId, int position) const;
    INT_PTR Call(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return MainDlgProc(dialog_, message, wParam, lParam);
    }

private:
    HWND dialog_;
};

// Dispatches the thread's queued messages until none is left (and at least `ms` have passed).
void Pump(DWORD ms = 0);
// Pumps until pred() holds or timeoutMs passes; returns pred().
bool PumpUntil(const std::function<bool()> &pred, DWORD timeoutMs = 5000);

// A drop handle as the shell makes it, holding the given paths.
HDROP MakeDrop(const std::vector<std::string> &paths);

// Replaces a kernel32 function in the test program's import table while it lives, so the
// program's own calls of it can be made to fail as a full disk or a bad sector would.
class ImportPatch {
public:
    ImportPatch(const char *function, void *replacement);
    ~ImportPatch();
    void *original() const { return original_; }

private:
    void **slot_;
    void *original_;
};

// The next `failures` WriteFile calls write at most `writeAtMost` bytes, and report failure
// when that is 0, as a full disk does.
class FailingWrites {
public:
    FailingWrites(int failures, DWORD writeAtMost = 0);
    static int failuresLeft;
    static DWORD atMost;

private:
    ImportPatch patch_;
};

// The next `failures` ReadFile calls read at most `readAtMost` bytes and report failure.
class FailingReads {
public:
    FailingReads(int failures, DWORD readAtMost = 0);
    static int failuresLeft;
    static DWORD atMost;

private:
    ImportPatch patch_;
};
