// Capture to a file, verification against a file, and the SysEx accounting of input buffers.
#include "core/app_state.h"
#include "core/status_text.h"

#include <cstdlib>
#include <cstring>

namespace {

// Back to Idle: the data file of the run that ends is closed.
void CloseDataFile()
{
    app.mode = Idle;
    CloseHandle(app.dataFile);
    app.dataFile = INVALID_HANDLE_VALUE;
}

void EndCapture(HWND dialog)
{
    // Only a running capture holds a file to close.
    if (app.mode != Capturing)
        return;
    CloseDataFile();
    EnableControl(dialog, IDC_IN_DEVICE, TRUE);
}

void EndVerify(HWND dialog)
{
    if (app.mode != Verifying)
        return;
    CloseDataFile();
    std::free(app.compareBuffer);
    app.compareBuffer = nullptr;
    EnableControl(dialog, IDC_IN_DEVICE, TRUE);
    EnableControl(dialog, IDC_CAPTURE, TRUE);
}

// Opens the file named in the box as the data file, shared for reading only. When it cannot
// be opened: the error box, and the check box that asked is unticked again.
bool OpenDataFile(HWND dialog, DWORD access, DWORD creation, const char *error, int checkBox)
{
    char text[TEXT_BUFFER_SIZE];
    GetDlgItemTextA(dialog, IDC_FILENAME, text, TEXT_BUFFER_SIZE);
    app.dataFile = CreateFileA(text, access, FILE_SHARE_READ, nullptr, creation, 0, nullptr);
    if (app.dataFile != INVALID_HANDLE_VALUE)
        return true;
    ShowError(dialog, error);
    CheckDlgButton(dialog, checkBox, BST_UNCHECKED);
    return false;
}

void StartCapture(HWND dialog)
{
    if (app.mode == Verifying) {
        // Only reachable from outside the window. The verification ends properly first, so
        // no file is left open without a reference.
        ShowError(dialog, "ERROR 188");
        EndVerify(dialog);
        CheckDlgButton(dialog, IDC_VERIFY, BST_UNCHECKED);
    }
    if (app.mode == Capturing)
        return; // already capturing into an open file

    // A new file only: an existing one is never appended to, truncated or overwritten, and
    // nobody else may write to it while it is captured.
    if (!OpenDataFile(dialog, GENERIC_WRITE, CREATE_NEW, "error writing file. (file already exists?)", IDC_CAPTURE))
        return;
    app.eoxCount = 0;
    app.soxCount = 0;
    app.byteTotal = 0;
    EnableControl(dialog, IDC_IN_DEVICE, FALSE);
    app.mode = Capturing;
}

void StartVerify(HWND dialog)
{
    if (app.mode == Verifying)
        return; // already verifying against an open file
    if (app.mode == Capturing)
        ClickCheckbox(dialog, IDC_CAPTURE, BST_UNCHECKED);

    if (!OpenDataFile(dialog, GENERIC_READ, OPEN_EXISTING, "error opening file", IDC_VERIFY))
        return;
    auto *compare = static_cast<unsigned char *>(std::malloc(COMPARE_BUFFER_SIZE));
    if (compare == nullptr) {
        CloseHandle(app.dataFile);
        app.dataFile = INVALID_HANDLE_VALUE;
        ShowError(dialog, "Not enough memory to verify");
        CheckDlgButton(dialog, IDC_VERIFY, BST_UNCHECKED);
        return;
    }
    app.byteTotal = GetFileSize(app.dataFile, nullptr);
    app.mismatch = false;
    app.eoxCount = 0;
    app.soxCount = 0;
    app.verifiedBytes = 0;
    EnableControl(dialog, IDC_IN_DEVICE, FALSE);
    EnableControl(dialog, IDC_CAPTURE, FALSE);
    SetDlgItemTextA(dialog, IDC_STATUS, "");
    app.compareBuffer = compare;
    app.mode = Verifying;
}

// Compares received bytes with the data file's next bytes. Only bytes actually read from the
// file are compared; positions past its end, or that a failed read did not fill, differ.
void CompareWithFile(const unsigned char *data, DWORD n)
{
    while (n > 0) {
        const DWORD chunk = n < DWORD{COMPARE_BUFFER_SIZE} ? n : DWORD{COMPARE_BUFFER_SIZE};
        DWORD read = 0;
        if (!ReadFile(app.dataFile, app.compareBuffer, chunk, &read, nullptr))
            read = 0;
        if (read < chunk || std::memcmp(data, app.compareBuffer, read) != 0)
            app.mismatch = true;
        data += chunk;
        n -= chunk;
    }
}

} // namespace

void OnCaptureToggled(HWND dialog)
{
    if (IsDlgButtonChecked(dialog, IDC_CAPTURE))
        StartCapture(dialog);
    else
        EndCapture(dialog);
}

void OnVerifyToggled(HWND dialog)
{
    if (IsDlgButtonChecked(dialog, IDC_VERIFY))
        StartVerify(dialog);
    else
        EndVerify(dialog);
}

void ClickCheckbox(HWND dialog, int id, UINT state)
{
    CheckDlgButton(dialog, id, state);
    HWND control = GetDlgItem(dialog, id);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

void AccountSysexBuffer(HWND dialog, const unsigned char *data, DWORD n)
{
    if (app.mode == Capturing) {
        DWORD written = 0;
        if (!WriteFile(app.dataFile, data, n, &written, nullptr))
            written = 0;
        // The box lets later buffers be handled first; the counts below add in place.
        if (written != n)
            ShowError(dialog, "Error writing file");
        app.byteTotal += n;
    } else if (app.mode == Verifying) {
        CompareWithFile(data, n);
        app.verifiedBytes += n;
    }

    CountSysexMarks(data, n, app.soxCount, app.eoxCount);

    const SysexCounts counts = {app.mode == Verifying, app.byteTotal, app.verifiedBytes,
                                app.soxCount, app.eoxCount, app.mismatch};
    char text[TEXT_BUFFER_SIZE];
    // The same as SetDlgItemTextA on IDC_STATUS, without finding the control for every buffer
    // (under Wine each lookup is a round trip to the server).
    SetWindowTextA(app.statusLine, FormatSysexStatus(counts, text, TEXT_BUFFER_SIZE));
}
