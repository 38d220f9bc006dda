#include "tests/wine/harness.h"

#include <shlobj.h>

#include <cstring>

BoxAnswerer *BoxAnswerer::current = nullptr;

namespace {

const char kMainCaption[] = "Brelvane  v 2";
const int kMessageBoxTextId = 0xFFFF;
const int kMessageBoxIconId = 0x440;

std::string WindowText(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

bool IsMainWindow(HWND window)
{
    return GetDlgItem(window, IDC_STATUS) != nullptr && WindowText(window) == kMainCaption;
}

BOOL CALLBACK FindVisibleEdit(HWND child, LPARAM data)
{
    if (ClassOf(child) == "Edit" && IsWindowVisible(child)) {
        *reinterpret_cast<HWND *>(data) = child;
        return FALSE;
    }
    return TRUE;
}

// The file name edit of a file-open dialog: its first visible edit control.
HWND FindFileNameEdit(HWND dialog)
{
    HWND found = nullptr;
    EnumChildWindows(dialog, FindVisibleEdit, reinterpret_cast<LPARAM>(&found));
    return found;
}

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && BoxAnswerer::current != nullptr)
        BoxAnswerer::current->OnActivate(reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK AnswerTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    if (BoxAnswerer::current != nullptr)
        BoxAnswerer::current->OnTimer();
}

} // namespace

BoxAnswerer::BoxAnswerer()
{
    current = this;
    hook_ = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
}

BoxAnswerer::~BoxAnswerer()
{
    UnhookWindowsHookEx(hook_);
    current = nullptr;
}

void BoxAnswerer::Next(int answer, Action whileOpen)
{
    planned_.push_back({answer, std::move(whileOpen)});
}

std::vector<std::string> BoxAnswerer::Texts() const
{
    std::vector<std::string> texts;
    for (const SeenBox &box : seen_)
        texts.push_back(box.text);
    return texts;
}

void BoxAnswerer::OnActivate(HWND window)
{
    if (ClassOf(window) != "#32770" || IsMainWindow(window))
        return;
    for (HWND known : pending_)
        if (known == window)
            return;
    pending_.push_back(window);
    // Answer once the box's own modal loop runs.
    SetTimer(nullptr, 0, 20, AnswerTimer);
}

void BoxAnswerer::OnTimer()
{
    std::vector<HWND> boxes;
    boxes.swap(pending_);
    for (HWND box : boxes) {
        if (!IsWindow(box))
            continue;
        SeenBox seen;
        seen.caption = WindowText(box);
        HWND textControl = GetDlgItem(box, kMessageBoxTextId);
        seen.isMessageBox = textControl != nullptr;
        if (seen.isMessageBox) {
            seen.text = WindowText(textControl);
            seen.hasOk = GetDlgItem(box, IDOK) != nullptr;
            seen.hasYes = GetDlgItem(box, IDYES) != nullptr;
            seen.hasNo = GetDlgItem(box, IDNO) != nullptr;
            seen.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
            HWND icon = GetDlgItem(box, kMessageBoxIconId);
            seen.hasIcon = icon != nullptr && IsWindowVisible(icon) && SendMessageA(icon, STM_GETICON, 0, 0) != 0;
        } else if (HWND edit = FindFileNameEdit(box)) {
            seen.initialFileName = WindowText(edit);
        }
        seen_.push_back(seen);

        int answer = defaultAnswer_ ? defaultAnswer_ : (seen.isMessageBox ? IDOK : IDCANCEL);
        Action action;
        if (!planned_.empty()) {
            answer = planned_.front().answer;
            action = std::move(planned_.front().action);
            planned_.erase(planned_.begin());
        }
        if (!seen.isMessageBox && answer == IDOK && !typedName_.empty()) {
            if (HWND edit = FindFileNameEdit(box))
                SetWindowTextA(edit, typedName_.c_str());
            typedName_.clear();
        }
        if (action)
            action(box, seen);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    }
}

MainWindow::MainWindow()
{
    ResetAppState();
    dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlgProc, 0);
    Pump();
}

MainWindow::~MainWindow()
{
    DestroyWindow(dialog_);
    Pump();
}

std::string MainWindow::Text(int id) const
{
    char text[TEXT_BUFFER_SIZE * 2] = "";
    GetDlgItemTextA(dialog_, id, text, sizeof(text));
    return text;
}

void MainWindow::Click(int id) const
{
    HWND control = item(id);
    if (control != nullptr && IsWindowEnabled(control))
        SendMessageA(control, BM_CLICK, 0, 0);
}

void MainWindow::Choose(int listId, int position) const
{
    HWND list = item(listId);
    SendMessageA(list, CB_SETCURSEL, position, 0);
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

void Pump(DWORD ms)
{
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (ms)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

bool PumpUntil(const std::function<bool()> &pred, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > timeoutMs)
            return pred();
        Pump();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

HDROP MakeDrop(const std::vector<std::string> &paths)
{
    SIZE_T size = sizeof(DROPFILES) + 1;
    for (const std::string &path : paths)
        size += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, size);
    auto *drop = static_cast<DROPFILES *>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    char *names = reinterpret_cast<char *>(drop) + sizeof(DROPFILES);
    for (const std::string &path : paths) {
        std::memcpy(names, path.c_str(), path.size() + 1);
        names += path.size() + 1;
    }
    *names = '\0';
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}


int FailingWrites::failuresLeft = 0;
DWORD FailingWrites::atMost = 0;
int FailingReads::failuresLeft = 0;
DWORD FailingReads::atMost = 0;

namespace {

using WriteFileFn = BOOL(WINAPI *)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using ReadFileFn = BOOL(WINAPI *)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
WriteFileFn realWriteFile = nullptr;
ReadFileFn realReadFile = nullptr;

BOOL WINAPI ShortWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (FailingWrites::failuresLeft <= 0)
        return realWriteFile(file, data, size, written, overlapped);
    --FailingWrites::failuresLeft;
    const DWORD part = size < FailingWrites::atMost ? size : FailingWrites::atMost;
    if (part == 0) {
        if (written)
            *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return realWriteFile(file, data, part, written, overlapped);
}

BOOL WINAPI ShortReadFile(HANDLE file, LPVOID data, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (FailingReads::failuresLeft <= 0)
        return realReadFile(file, data, size, read, overlapped);
    --FailingReads::failuresLeft;
    const DWORD part = size < FailingReads::atMost ? size : FailingReads::atMost;
    if (read)
        *read = 0;
    if (part > 0)
        realReadFile(file, data, part, read, overlapped);
    SetLastError(ERROR_CRC);
    return FALSE;
}

// The import-table slot through which this program calls a kernel32 function.
void **FindImportSlot(const char *function)
{
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto *import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
    for (; import->Name != 0; ++import) {
        if (lstrcmpiA(reinterpret_cast<char *>(base + import->Name), "kernel32.dll") != 0)
            continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<char *>(byName->Name), function) == 0)
                return reinterpret_cast<void **>(&slots->u1.Function);
        }
    }
    return nullptr;
}

void SetSlot(void **slot, void *value)
{
    DWORD old;
    VirtualProtect(slot, sizeof(void *), PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof(void *), old, &old);
}

} // namespace

ImportPatch::ImportPatch(const char *function, void *replacement) : slot_(FindImportSlot(function)), original_(*slot_)
{
    SetSlot(slot_, replacement);
}

ImportPatch::~ImportPatch()
{
    SetSlot(slot_, original_);
}

FailingWrites::FailingWrites(int failures, DWORD writeAtMost)
    : patch_("WriteFile", reinterpret_cast<void *>(ShortWriteFile))
{
    failuresLeft = failures;
    atMost = writeAtMost;
    realWriteFile = reinterpret_cast<WriteFileFn>(patch_.original());
}

FailingReads::FailingReads(int failures, DWORD readAtMost)
    : patch_("ReadFile", reinterpret_cast<void *>(ShortReadFile))
{
    failuresLeft = failures;
    atMost = readAtMost;
    realReadFile = reinterpret_cast<ReadFileFn>(patch_.original());
}
