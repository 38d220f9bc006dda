// Sending a SysEx file to the output device.
#include "core/app_state.h"
#include "core/sysex_header.h"

#include <cstdio>
#include <cstdlib>

static_assert(unsigned{SYSEX_DESCRIPTION_CAPACITY} == unsigned{DESCRIPTION_SIZE}, "the description fits its field");

void OnSendFile(HWND dialog)
{
    char text[TEXT_BUFFER_SIZE];
    GetDlgItemTextA(dialog, IDC_FILENAME, text, TEXT_BUFFER_SIZE);

    app.sendFile = CreateFileA(text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (app.sendFile == INVALID_HANDLE_VALUE) {
        app.sendFile = nullptr;
        ShowError(dialog, "error in open file");
        return;
    }

    // The whole file in one block, read at once; the file is closed before anything else.
    const DWORD size = GetFileSize(app.sendFile, nullptr);
    auto *block = size == INVALID_FILE_SIZE ? nullptr : static_cast<unsigned char *>(std::malloc(size ? size : 1));
    if (block == nullptr) {
        CloseHandle(app.sendFile);
        app.sendFile = nullptr;
        ShowError(dialog, "The file is too large to send");
        return;
    }
    // Only the count read is looked at: it says how much of the block holds file data.
    DWORD read = 0;
    ReadFile(app.sendFile, block, size, &read, nullptr);
    CloseHandle(app.sendFile);
    app.sendFile = nullptr;

    // A block that could not be read whole is never sent: its unread part holds no file data.
    const bool readWhole = read >= size;
    if (!readWhole)
        ShowError(dialog, "Error reading file");

    // Only bytes read from the file are described; a short file describes what it has.
    const char *description = DescribeSysexHeader(block + 1, read > 1 ? read - 1 : 0, app.descriptionText);
    std::snprintf(text, TEXT_BUFFER_SIZE, "Sending %u bytes in format %s ...", static_cast<unsigned>(size), description);
    SetDlgItemTextA(dialog, IDC_STATUS, text);

    bool send = readWhole;
    if (send) {
        const bool looksLikeSysex = size > 0 && block[0] == 0xF0 && block[size - 1] == 0xF7;
        if (!looksLikeSysex)
            send = MessageBoxA(dialog, "File looks like corrupted. Are you sure?", "", MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    if (send)
        SendLongMessage(dialog, block, size);
    else
        std::free(block);

    MessageBeep(0xFFFFFFFF);
    lstrcatA(text, " Complete");
    SetDlgItemTextA(dialog, IDC_STATUS, text);
    Sleep(SEND_PAUSE_MS);
}
