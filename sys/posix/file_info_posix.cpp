#include <fcntl.h>
#include <glob.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <set>
#include <utility>

#include "sys/file_info.h"
#include "sys/utils.h"

namespace sys {

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};

class GlobResult {
  public:
    explicit GlobResult(const std::string& pattern) {
        ok_ = glob(pattern.c_str(), 0, nullptr, &result_) == 0;
    }
    ~GlobResult() { globfree(&result_); }
    GlobResult(const GlobResult&) = delete;
    GlobResult& operator=(const GlobResult&) = delete;
    // sorted, as glob returns them
    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        if (ok_) paths.assign(result_.gl_pathv, result_.gl_pathv + result_.gl_pathc);
        return paths;
    }

  private:
    glob_t result_{};
    bool ok_ = false;
};

// Opens a regular file (links followed) without blocking on a FIFO; -1 with errno set. size,
// when given, receives the file's size as it is now (0 for files such as /proc's).
int OpenRegular(const std::string& path, int flags, off_t* size = nullptr) {
    const int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const int error = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = error;
        return -1;
    }
    if (size != nullptr) *size = status.st_size;
    return fd;
}

// Reads up to maxBytes; with wholeOnly a longer file is EFBIG. On failure returns errno.
int ReadUpTo(const std::string& path, std::vector<uint8_t>& bytes, size_t maxBytes,
             bool wholeOnly) {
    bytes.clear();
    off_t size = 0;
    FileDescriptor file(OpenRegular(path, O_RDONLY, &size));
    if (file.Get() < 0) return errno;
    // A file too large is refused by its size, before a byte is held; the loop still stops at
    // maxBytes, as a file may grow while it is read.
    const bool larger = static_cast<uintmax_t>(size) > maxBytes;
    if (wholeOnly && larger) return EFBIG;
    bytes.reserve(larger ? maxBytes : static_cast<size_t>(size));
    uint8_t chunk[65536];
    while (true) {
        const ssize_t got = read(file.Get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            bytes.clear();
            return error;
        }
        if (got == 0) return 0;
        const size_t room = maxBytes - bytes.size();
        if (static_cast<size_t>(got) > room) {
            if (wholeOnly) {
                bytes.clear();
                return EFBIG;
            }
            bytes.insert(bytes.end(), chunk, chunk + room);
            return 0;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
}

int ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, size_t maxBytes) {
    return ReadUpTo(path, bytes, maxBytes, true);
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A name nobody can prepare for; should the system's source fail, the clock and process
// still make a clash unlikely, and exclusive creation makes one harmless.
unsigned long long UnguessableNumber() {
    unsigned long long value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) == sizeof value) return value;
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (static_cast<unsigned long long>(now.tv_nsec) << 20) ^
           static_cast<unsigned long long>(now.tv_sec) ^ static_cast<unsigned long long>(getpid());
}

// A file written under a temporary name beside its final one and renamed over it only when
// whole: a link planted at the name is replaced rather than followed, and a failed write
// leaves the earlier file as it was. Abandoned, the temporary file is removed.
class ReplacementFile {
  public:
    explicit ReplacementFile(std::string path) : path_(std::move(path)) {}
    ~ReplacementFile() {
        if (fd_ >= 0) close(fd_);
        if (!temporary_.empty()) unlink(temporary_.c_str());
    }
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // false with errno set.
    bool Open() {
        struct stat existing {};
        const bool exists = lstat(path_.c_str(), &existing) == 0;
        if (exists && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) {
            // Directories, FIFOs and devices are not result files to be replaced.
            errno = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
            return false;
        }
        if (!exists && errno != ENOENT) return false;
        const std::string directory = DirectoryOf(path_);
        for (int attempt = 0; attempt < 16; ++attempt) {
            char name[40];
            snprintf(name, sizeof name, "/.trevalo-%016llx.tmp", UnguessableNumber());
            const std::string candidate = directory + name;
            // O_EXCL with O_CREAT refuses any existing name, a link included.
            fd_ =
                open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd_ >= 0) {
                temporary_ = candidate;
                // The user's own file keeps its permissions (a private log stays private).
                if (exists && S_ISREG(existing.st_mode) && existing.st_uid == geteuid())
                    fchmod(fd_, existing.st_mode & 0777);
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }
    int Descriptor() const { return fd_; }
    // Flushes to disk and renames over the final name; false with errno set.
    bool Commit() {
        if (fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) return false;
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0 && errno != EINTR) return false;
        if (rename(temporary_.c_str(), path_.c_str()) != 0) return false;
        temporary_.clear();
        return true;
    }

  private:
    std::string path_;
    std::string temporary_;
    int fd_ = -1;
};

bool StatIs(const std::string& path, mode_t type) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && (status.st_mode & S_IFMT) == type;
}

// The directories named by a loader configuration file and the files it includes.
void CollectConfDirectories(const std::string& file, int depth, std::set<std::string>& seen,
                            std::vector<std::string>& directories) {
    constexpr int kMaxIncludeDepth = 8;
    if (depth > kMaxIncludeDepth || !seen.insert(file).second) return;
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(file, bytes, 1 << 20) != 0) return;
    const std::string text(bytes.begin(), bytes.end());
    for (const LdSoConfLine& line : ParseLdSoConf(text, DirectoryOf(file))) {
        if (line.kind == LdSoConfLine::Kind::Directory) {
            directories.push_back(line.value);
        } else {
            for (const std::string& included : GlobResult(line.value).Paths()) {
                CollectConfDirectories(included, depth + 1, seen, directories);
            }
        }
    }
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, size_t maxBytes) {
    const int error = ReadWholeFile(path, bytes, maxBytes);
    if (error != 0) SetLastErrorFromErrno(error);
    return error == 0;
}

bool ReadFileHead(const std::string& path, std::string& text, size_t maxBytes) {
    std::vector<uint8_t> bytes;
    const int error = ReadUpTo(path, bytes, maxBytes, false);
    if (error != 0) SetLastErrorFromErrno(error);
    text.assign(bytes.begin(), bytes.end());
    return error == 0;
}

bool WriteFile(const std::string& path, const std::string& text) {
    ReplacementFile file(path);
    if (!file.Open() || !WriteAll(file.Descriptor(), text.data(), text.size()) || !file.Commit()) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

const char* NativeLineEnd() {
    return "\n";
}

bool CopyFile(const std::string& from, const std::string& to) {
    FileDescriptor source(OpenRegular(from, O_RDONLY));
    ReplacementFile target(to);
    if (source.Get() < 0 || !target.Open()) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    char chunk[65536];
    while (true) {
        const ssize_t got = read(source.Get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got == 0) break;
        if (got < 0 || !WriteAll(target.Descriptor(), chunk, static_cast<size_t>(got))) {
            SetLastErrorFromErrno(errno);
            return false;
        }
    }
    if (!target.Commit()) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

FileKind KindOfFile(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return FileKind::kMissing;
    if (S_ISREG(status.st_mode)) return FileKind::kRegular;
    return S_ISDIR(status.st_mode) ? FileKind::kDirectory : FileKind::kSpecial;
}

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) {
        SetLastErrorFromErrno(errno);
        return "";
    }
    return resolved.get();
}

bool ModificationTimeUtc(const std::string& path, unsigned& y, unsigned& mo, unsigned& d,
                         unsigned& h, unsigned& mi, unsigned& s) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return false;
    const time_t when = status.st_mtime;
    struct tm utc {};
    if (gmtime_r(&when, &utc) == nullptr || utc.tm_year < -1900) return false;
    y = static_cast<unsigned>(utc.tm_year + 1900);
    mo = static_cast<unsigned>(utc.tm_mon + 1);
    d = static_cast<unsigned>(utc.tm_mday);
    h = static_cast<unsigned>(utc.tm_hour);
    mi = static_cast<unsigned>(utc.tm_min);
    s = static_cast<unsigned>(utc.tm_sec);
    return true;
}

std::string FindLibraryFile(const std::string& name) {
    if (name.empty()) return "";
    if (name.find('/') != std::string::npos) return StatIs(name, S_IFREG) ? name : "";

    const char* libraryPath = std::getenv("LD_LIBRARY_PATH");
    std::vector<std::string> directories = SplitLibraryPath(libraryPath ? libraryPath : "");
    std::set<std::string> seen;
    CollectConfDirectories("/etc/ld.so.conf", 0, seen, directories);
    for (const std::string& directory : DefaultLibraryDirectories()) {
        directories.push_back(directory);
    }
    for (const std::string& directory : directories) {
        const std::string candidate = directory.empty() || directory.back() == '/'
                                          ? directory + name
                                          : directory + "/" + name;
        if (StatIs(candidate, S_IFREG)) return candidate;
    }
    return "";
}

std::vector<PluginDirectory> PluginDirectories(const std::string& libraryPath) {
    const char* home = std::getenv("HOME");
    std::vector<PluginDirectory> existing;
    for (PluginDirectory& candidate : PluginDirectoryCandidates(libraryPath, home ? home : "")) {
        if (StatIs(candidate.path, S_IFDIR)) existing.push_back(std::move(candidate));
    }
    return existing;
}

}  // namespace sys

namespace sys {

bool ReadVersionResource(const std::string&, std::string&) {
    return false;  // ELF files carry no version resource: the file name tells instead
}

}  // namespace sys
