// Paths and directories on Windows.
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "sys/paths.h"

namespace sys {

std::string ExecutablePath() {
    for (DWORD size = MAX_PATH; size <= 32768 * 2; size *= 2) {
        std::vector<char> buffer(size);
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), size);
        if (length == 0) return "";
        if (length < size) return std::string(buffer.data(), length);
    }
    return "";
}

std::string CurrentDirectory() {
    const DWORD size = GetCurrentDirectoryA(0, nullptr);
    if (size == 0) return "";
    std::vector<char> buffer(size + 1);
    const DWORD length = GetCurrentDirectoryA(size + 1, buffer.data());
    return length > 0 && length <= size ? std::string(buffer.data(), length) : "";
}

std::string MakeAbsolute(const std::string& path) {
    if (path.empty()) return "";
    const DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return "";
    std::vector<char> buffer(size + 1);
    const DWORD length = GetFullPathNameA(path.c_str(), size + 1, buffer.data(), nullptr);
    return length > 0 && length <= size ? std::string(buffer.data(), length) : "";
}

bool IsPathTooLong(const std::string& path) {
    // The ANSI file calls stop at MAX_PATH characters.
    return path.size() >= MAX_PATH ||
           (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILENAME_EXCED_RANGE);
}

bool IsDirectory(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDirectoryWritable(const std::string& dir) {
    if (!IsDirectory(dir)) return false;
    // Access rights decide, not the read-only attribute (which folders ignore): try it.
    char name[MAX_PATH + 16];
    if (dir.size() > MAX_PATH - 14 || GetTempFileNameA(dir.c_str(), "trv", 0, name) == 0) {
        return false;
    }
    DeleteFileA(name);
    return true;
}

bool MakeDirectories(const std::string& dir) {
    if (dir.empty()) return false;
    if (IsDirectory(dir)) return true;
    const std::string parent = DirectoryOf(dir);
    if (!parent.empty() && parent != dir && !MakeDirectories(parent)) return false;
    return CreateDirectoryA(dir.c_str(), nullptr) != 0 ||
           (GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(dir));
}

std::string GetEnvironment(const char* name) {
    if (name == nullptr) return "";
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace sys
