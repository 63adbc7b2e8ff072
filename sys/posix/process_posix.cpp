// Priority and the single-instance lock on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
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

// ---- The measuring process and its watcher ----

namespace {

volatile sig_atomic_t g_childPid = 0;
volatile sig_atomic_t g_forwardedSignal = 0;

void OnStopSignal(int signalNumber) {
    if (g_forwardedSignal == 0) g_forwardedSignal = signalNumber;
    if (g_childPid > 0) kill(static_cast<pid_t>(g_childPid), signalNumber);
}

// Every signal that asks a process to end, and that the watcher passes on.
constexpr int kStopSignals[] = {SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,   SIGPIPE, SIGALRM,
                                SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

}  // namespace

SharedMemory::SharedMemory(size_t bytes) {
    void* data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) return;
    data_ = data;
    bytes_ = bytes;
}

SharedMemory::~SharedMemory() {
    if (data_ != nullptr) munmap(data_, bytes_);
}

int SplitProcess() {
    std::fflush(nullptr);  // nothing buffered is written twice
    return static_cast<int>(fork());
}

bool WaitForProcess(int pid, int timeoutMs, ProcessEnd& end) {
    // SIGCHLD held back, so that the wait below wakes as the child ends and not before.
    sigset_t childEnded;
    sigemptyset(&childEnded);
    sigaddset(&childEnded, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &childEnded, nullptr);
    const struct timespec step = {timeoutMs / 1000, (timeoutMs % 1000) * 1000L * 1000L};
    for (bool waited = false;; waited = true) {
        int status = 0;
        const pid_t ended = waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
        if (ended == static_cast<pid_t>(pid)) {
            end.exited = WIFEXITED(status);
            end.exitCode = end.exited ? WEXITSTATUS(status) : 0;
            end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            return true;
        }
        if (ended < 0 && errno != EINTR) {  // no such child: nothing left to wait for
            end = ProcessEnd{true, 255, 0};
            return true;
        }
        if (waited) return false;
        sigtimedwait(&childEnded, nullptr, &step);
    }
}

void KillProcess(int pid) {
    kill(static_cast<pid_t>(pid), SIGKILL);
}

void ForwardStopSignalsTo(int pid) {
    g_childPid = pid;
    signal(SIGINT, SIG_IGN);
    for (const int signalNumber : kStopSignals) {
        struct sigaction previous;
        if (sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signalNumber, &action, nullptr);
    }
}

int ForwardedSignal() {
    return g_forwardedSignal;
}

bool IsInterruptSignal(int signalNumber) {
    return signalNumber == SIGINT;
}

bool IsAccessSignal(int signalNumber) {
    return signalNumber == SIGSEGV || signalNumber == SIGBUS;
}

std::string SignalDescription(int signalNumber) {
    const char* name = strsignal(signalNumber);
    return std::to_string(signalNumber) + " (" + (name != nullptr ? name : "unknown") + ")";
}

void EndBySignal(int signalNumber) {
    std::fflush(nullptr);
    signal(signalNumber, SIG_DFL);
    sigset_t just;
    sigemptyset(&just);
    sigaddset(&just, signalNumber);
    sigprocmask(SIG_UNBLOCK, &just, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);  // a signal whose default is to be ignored
}

}  // namespace sys
