// Priority classes and the named single-instance mutex on Windows.
#include <windows.h>

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

}  // namespace sys
