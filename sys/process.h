// Process-wide services: scheduling priority and the single-instance guard.
#pragma once

#include <cstddef>
#include <string>

namespace sys {

// Opens the null device on each of the standard descriptors 0, 1 and 2 that is closed, so
// that no file the tool opens later takes the place of a standard stream. Call first.
void EnsureStandardDescriptors();

// 1 idle, 3 high, anything else normal. Failure (no right to raise the priority) is
// ignored, as the run goes on at the priority it has.
void SetProcessPriority(int level);

enum class InstanceLock { kAcquired, kAlreadyRunning, kUnavailable };

// Takes the named single-instance lock for the rest of the process's life. kAlreadyRunning
// when it is held already (by another process, or by an earlier call); kUnavailable when
// the lock cannot be taken at all, which lets the run go on. The lock is the user's own: on
// POSIX a file in $XDG_RUNTIME_DIR, or else in $TMPDIR/trevalo-<uid> (default /tmp), used only
// while nobody else can write in the directory, and never opened through a link.
InstanceLock AcquireSingleInstanceLock(const std::string& name);

// ---- The measuring process and its watcher (POSIX; elsewhere the run stays in one process) ----

// Memory that a process made by SplitProcess shares with its parent: zeroed, of the given
// size; Data() is null when it could not be made.
class SharedMemory {
  public:
    explicit SharedMemory(size_t bytes);
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    void* Data() const { return data_; }

  private:
    void* data_ = nullptr;
    size_t bytes_ = 0;
};

// Splits the process: 0 in the new (child) process, its id in the parent, -1 when the system
// cannot (Windows) or the split failed; the run then goes on in one process.
int SplitProcess();

// How a child process ended: its exit code, or the signal that ended it.
struct ProcessEnd {
    bool exited = false;
    int exitCode = 0;
    int signal = 0;
};
// Waits up to timeoutMs for the child to end; false while it still runs.
bool WaitForProcess(int pid, int timeoutMs, ProcessEnd& end);
// Ends the child at once (SIGKILL).
void KillProcess(int pid);

// In the watcher: a signal that asks the process to end is passed on to the child, which
// stops its run, writes its files and ends by it; Ctrl+C, which the terminal sends to both,
// is left to the child. The first such signal is kept for ForwardedSignal.
void ForwardStopSignalsTo(int pid);
int ForwardedSignal();
// The terminal sends Ctrl+C to every process of the job: a child ended by it was interrupted
// by the user, not broken.
bool IsInterruptSignal(int signal);
// "11 (Segmentation fault)"; a stack overflow or access fault ends a process by SIGSEGV or
// SIGBUS.
std::string SignalDescription(int signal);
bool IsAccessSignal(int signal);
// Ends the process by the signal, as the child was ended by it (its default action).
[[noreturn]] void EndBySignal(int signal);

}  // namespace sys
