// Paths and directories on POSIX systems.
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include "sys/paths.h"

namespace sys {

std::string ExecutablePath() {
#ifdef __APPLE__
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::vector<char> buffer(size + 1, '\0');
    if (_NSGetExecutablePath(buffer.data(), &size) != 0) return "";
    return MakeAbsolute(buffer.data(), CurrentDirectory());
#else
    // readlink does not say whether it truncated, so grow until the link fits with room.
    for (size_t size = 1024; size <= (1u << 20); size *= 2) {
        std::vector<char> buffer(size);
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return "";
        if (static_cast<size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(length));
        }
    }
    return "";
#endif
}

std::string CurrentDirectory() {
    for (size_t size = 1024; size <= (1u << 20); size *= 2) {
        std::vector<char> buffer(size);
        if (getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
        if (errno != ERANGE) return "";
    }
    return "";
}

std::string MakeAbsolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return MakeAbsolute(path, "");
    return MakeAbsolute(path, CurrentDirectory());
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsPathTooLong(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) != 0 && errno == ENAMETOOLONG;
}

bool IsDirectoryWritable(const std::string& dir) {
    return IsDirectory(dir) && access(dir.c_str(), W_OK | X_OK) == 0;
}

bool MakeDirectories(const std::string& dir) {
    if (dir.empty()) return false;
    if (IsDirectory(dir)) return true;
    std::string parent = DirectoryOf(dir);
    if (!parent.empty() && parent != dir && !MakeDirectories(parent)) return false;
    // Another process may create it between the test and mkdir; that is success too.
    return mkdir(dir.c_str(), 0777) == 0 || (errno == EEXIST && IsDirectory(dir));
}

std::string GetEnvironment(const char* name) {
    if (name == nullptr) return "";
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace sys
