// Priority and the single-instance lock on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

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

  private:
    int fd_;
};

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
    std::string dir = GetEnvironment("XDG_RUNTIME_DIR");
    if (dir.empty()) dir = "/tmp";
    const std::string path = JoinPath(dir, name);
    FileDescriptor file(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (file.Get() < 0) return InstanceLock::kUnavailable;
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
