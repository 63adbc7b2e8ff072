// Path logic that needs no system call.
#include "sys/paths.h"

#include <vector>

namespace sys {

namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

}  // namespace

std::string MakeAbsolute(const std::string& path, const std::string& cwd) {
    if (path.empty()) return "";
    std::string joined;
    if (path[0] == '/') {
        joined = path;
    } else {
        if (cwd.empty() || cwd[0] != '/') return "";
        joined = cwd + "/" + path;
    }

    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find('/', start);
        if (end == std::string::npos) end = joined.size();
        std::string part = joined.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();  // ".." at the root stays at the root
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }

    if (parts.empty()) return "/";
    std::string result;
    for (const std::string& part : parts)
        result += "/" + part;
    return result;
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirectoryOf(const std::string& path) {
    size_t pos = path.size();
    while (pos > 0 && !IsSeparator(path[pos - 1]))
        --pos;
    if (pos == 0) return "";
    size_t end = pos - 1;
    // Strip a run of separators, but keep the root itself.
    while (end > 0 && IsSeparator(path[end - 1]))
        --end;
    return end == 0 ? path.substr(0, 1) : path.substr(0, end);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (IsSeparator(dir.back())) return dir + name;
    return dir + kSeparator + name;
}

std::string WithDriveLetter(const std::string& devicePath, const std::vector<DriveDevice>& drives) {
    if (devicePath.rfind("\\??\\", 0) == 0) return devicePath.substr(4);
    for (const DriveDevice& d : drives) {
        const size_t length = d.device.size();
        // The whole device name: volume 1 must not match a path on volume 10.
        if (length > 0 && devicePath.compare(0, length, d.device) == 0 &&
            (devicePath.size() == length || devicePath[length] == '\\')) {
            return d.drive + devicePath.substr(length);
        }
    }
    return "";
}

}  // namespace sys
