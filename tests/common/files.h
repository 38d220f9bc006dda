// Files and folders for tests and benchmarks that run under Windows or Wine.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// The folder of the running program, with a trailing backslash.
std::string ExeFolder();

// A new empty folder under the temporary folder, removed with its files by the destructor.
class ScratchFolder {
public:
    explicit ScratchFolder(const char *prefix = "brelvane-test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;
    std::string Path(const std::string &name) const { return path_ + "\\" + name; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// The whole file (empty when it cannot be read), read even while another handle writes it.
Bytes ReadBytes(const std::string &path);
// Creates or replaces the file with exactly these bytes.
void WriteBytes(const std::string &path, const Bytes &bytes);
bool FileExists(const std::string &path);
