// Priority and the single-instance lock on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "sys/paths.h"
#include "sys/process.h"

namespace sys {

namespace {

constexpr int kIdleNice = 19;
constexpr int kHighNice = -10;

// Owns a file descriptor until released.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    int Get() const { return fd_; }
    void Release() { fd_ = -1; }
    void Reset(int fd) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

// The directory when only this user can write in it, so that nobody else can plant a file or
// a link there or hold its lock; -1 otherwise. With create, a missing one is made (0700).
int OpenPrivateDirectory(const std::string& path, bool create) {
    if (path.empty()) return -1;
    if (create) mkdir(path.c_str(), 0700);  // an existing one is checked like any other
    FileDescriptor directory(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (directory.Get() < 0 || fstat(directory.Get(), &status) != 0 || status.st_uid != geteuid() ||
        (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return -1;
    }
    const int fd = directory.Get();
    directory.Release();
    return fd;
}

}  // namespace

void EnsureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open takes the lowest free descriptor, which is this one; it stays open for good.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) close(opened);
    }
}

void SetProcessPriority(int level) {
    const int nice = level == 1 ? kIdleNice : (level == 3 ? kHighNice : 0);
    setpriority(PRIO_PROCESS, 0, nice);
}

InstanceLock AcquireSingleInstanceLock(const std::string& name) {
    FileDescriptor directory(OpenPrivateDirectory(GetEnvironment("XDG_RUNTIME_DIR"), false));
    if (directory.Get() < 0) {
        std::string temporary = GetEnvironment("TMPDIR");
        if (temporary.empty()) temporary = "/tmp";
        directory.Reset(OpenPrivateDirectory(
            JoinPath(temporary, "trevalo-" + std::to_string(geteuid())), true));
    }
    if (directory.Get() < 0) return InstanceLock::kUnavailable;
    // Never through a link, and never a FIFO or device that could block the open.
    FileDescriptor file(openat(directory.Get(), name.c_str(),
                               O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat status {};
    if (file.Get() < 0 || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return InstanceLock::kUnavailable;
    }
    int result;
    do {
        result = flock(file.Get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return errno == EWOULDBLOCK ? InstanceLock::kAlreadyRunning : InstanceLock::kUnavailable;
    }
    // The lock lasts as long as the descriptor: left open, the system drops it at exit.
    file.Release();
    return InstanceLock::kAcquired;
}

}  // namespace sys
