// Priority classes and the named single-instance mutex on Windows.
#include <windows.h>

#include <cstdlib>

#include "sys/process.h"

namespace sys {

void EnsureStandardDescriptors() {
    // A console program always has its three standard handles (perhaps invalid ones,
    // which the C library then treats as closed streams): nothing to reopen here.
}

void SetProcessPriority(int level) {
    const DWORD priorityClass = level == 1   ? IDLE_PRIORITY_CLASS
                                : level == 3 ? HIGH_PRIORITY_CLASS
                                             : NORMAL_PRIORITY_CLASS;
    SetPriorityClass(GetCurrentProcess(), priorityClass);
}

InstanceLock AcquireSingleInstanceLock(const std::string& name) {
    // The handle stays open for the rest of the process's life; the system closes it.
    const HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
    if (mutex == nullptr) return InstanceLock::kUnavailable;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // Ours from an earlier call, or another process's: either way, held already.
        CloseHandle(mutex);
        return InstanceLock::kAlreadyRunning;
    }
    return InstanceLock::kAcquired;
}

// One process on Windows: its faults are translated in process, and nothing is split off.
SharedMemory::SharedMemory(size_t bytes) : data_(std::calloc(1, bytes)), bytes_(bytes) {}

SharedMemory::~SharedMemory() {
    std::free(data_);
}

int SplitProcess() {
    return -1;
}

bool WaitForProcess(int, int, ProcessEnd& end) {
    end = ProcessEnd{true, 255, 0};
    return true;
}

void KillProcess(int) {}

void ForwardStopSignalsTo(int) {}

int ForwardedSignal() {
    return 0;
}

bool IsInterruptSignal(int) {
    return false;
}

bool IsAccessSignal(int) {
    return false;
}

std::string SignalDescription(int signal) {
    return std::to_string(signal);
}

void EndBySignal(int) {
    std::_Exit(255);
}

}  // namespace sys
