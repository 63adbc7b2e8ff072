// The operating-system-free parts of the file facts.
#include "sys/file_info.h"

namespace sys {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string TrimBlanks(const std::string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

// "include" or "hwcap" followed by a blank; rest receives the text after the keyword.
bool StartsWithKeyword(const std::string& line, const std::string& keyword, std::string& rest) {
    if (line.size() <= keyword.size() || line.compare(0, keyword.size(), keyword) != 0 ||
        !IsBlank(line[keyword.size()])) {
        return false;
    }
    rest = line.substr(keyword.size());
    return true;
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

std::vector<LdSoConfLine> ParseLdSoConf(const std::string& text, const std::string& fileDirectory) {
    std::vector<LdSoConfLine> conf;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;

        const size_t comment = line.find('#');
        if (comment != std::string::npos) line.resize(comment);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = TrimBlanks(line);
        if (line.empty()) continue;

        std::string rest;
        if (StartsWithKeyword(line, "include", rest)) {
            size_t pos = 0;
            while (pos < rest.size()) {
                while (pos < rest.size() && IsBlank(rest[pos]))
                    ++pos;
                size_t stop = pos;
                while (stop < rest.size() && !IsBlank(rest[stop]))
                    ++stop;
                if (stop > pos) {
                    const std::string pattern = rest.substr(pos, stop - pos);
                    conf.push_back({LdSoConfLine::Kind::Include,
                                    pattern[0] == '/' ? pattern : fileDirectory + "/" + pattern});
                }
                pos = stop;
            }
            continue;
        }
        if (StartsWithKeyword(line, "hwcap", rest)) continue;  // long obsolete, no directory

        // Old configuration files may name a library type after '=': "/usr/lib=libc6".
        const size_t equal = line.find('=');
        if (equal != std::string::npos) line = TrimBlanks(line.substr(0, equal));
        if (!line.empty() && line[0] == '/') {
            conf.push_back({LdSoConfLine::Kind::Directory, WithoutTrailingSlashes(line)});
        }
    }
    return conf;
}

std::vector<std::string> SplitLibraryPath(const std::string& value) {
    std::vector<std::string> directories;
    if (value.empty()) return directories;
    size_t start = 0;
    while (true) {
        const size_t end = value.find_first_of(":;", start);
        const std::string entry =
            value.substr(start, end == std::string::npos ? std::string::npos : end - start);
        directories.push_back(entry.empty() ? "." : entry);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return directories;
}

std::vector<std::string> DefaultLibraryDirectories() {
    std::vector<std::string> directories;
    const char* multiarch = nullptr;
#if defined(__linux__)
#if defined(__x86_64__) && defined(__ILP32__)
    multiarch = "x86_64-linux-gnux32";
#elif defined(__x86_64__)
    multiarch = "x86_64-linux-gnu";
#elif defined(__i386__)
    multiarch = "i386-linux-gnu";
#elif defined(__aarch64__)
    multiarch = "aarch64-linux-gnu";
#elif defined(__arm__)
    multiarch = "arm-linux-gnueabihf";
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
    multiarch = "powerpc64le-linux-gnu";
#elif defined(__riscv) && __riscv_xlen == 64
    multiarch = "riscv64-linux-gnu";
#elif defined(__s390x__)
    multiarch = "s390x-linux-gnu";
#endif
#endif
    if (multiarch != nullptr) {
        directories.push_back(std::string("/lib/") + multiarch);
        directories.push_back(std::string("/usr/lib/") + multiarch);
    }
    if (sizeof(void*) == 8) {
        // the native directories of distributions without multiarch
        directories.push_back("/lib64");
        directories.push_back("/usr/lib64");
    }
    directories.push_back("/lib");
    directories.push_back("/usr/lib");
    directories.push_back("/usr/local/lib");
    return directories;
}

std::vector<PluginDirectory> PluginDirectoryCandidates(const std::string& libraryPath,
                                                       const std::string& home) {
    std::vector<PluginDirectory> candidates;
    const size_t slash = libraryPath.find_last_of('/');
    const std::string libraryDirectory =
        slash == std::string::npos ? "." : libraryPath.substr(0, slash);
    // The user's directory takes the first line and the system's the second, as the
    // per-user registry hive does on Windows.
    candidates.push_back({PluginDirectoryKind::System, libraryDirectory + "/avisynth", 1,
                          "PluginDir+    (system):\t"});
    if (!home.empty()) {
        const std::string base = home == "/" ? "" : WithoutTrailingSlashes(home);
        candidates.push_back({PluginDirectoryKind::User, base + "/.local/lib/avisynth", 0,
                              "PluginDir+    (user):\t"});
    }
    return candidates;
}

}  // namespace sys
