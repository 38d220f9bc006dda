#include "tests/common/files.h"

#include <cstdio>
#include <cstring>

std::string ExeFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof(path));
    char *slash = std::strrchr(path, '\\');
    if (slash)
        slash[1] = '\0';
    return path;
}

ScratchFolder::ScratchFolder(const char *prefix)
{
    char base[MAX_PATH];
    GetTempPathA(sizeof(base), base);
    static unsigned counter = 0;
    char name[MAX_PATH];
    std::snprintf(name, sizeof(name), "%s%s-%lu-%u", base, prefix, GetCurrentProcessId(), ++counter);
    CreateDirectoryA(name, nullptr);
    path_ = name;
}

ScratchFolder::~ScratchFolder()
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                const std::string file = Path(entry.cFileName);
                SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(file.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(path_.c_str());
}

Bytes ReadBytes(const std::string &path)
{
    Bytes bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    if (!bytes.empty())
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::string &path, const Bytes &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
