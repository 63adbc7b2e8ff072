// Process statistics on Windows: GetSystemTimes, GetProcessTimes, GetProcessMemoryInfo
// and a thread snapshot.
#include <windows.h>
// after windows.h
#include <psapi.h>
#include <tlhelp32.h>

#include "sys/process_info.h"

namespace sys {

namespace {

uint64_t Hundreds(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

bool ReadProcessTimes(ProcessTimes& times) {
    FILETIME idle, kernel, user, creation, exit, processKernel, processUser;
    if (!GetSystemTimes(&idle, &kernel, &user) ||
        !GetProcessTimes(GetCurrentProcess(), &creation, &exit, &processKernel, &processUser)) {
        return false;
    }
    times.systemKernel = Hundreds(kernel);  // idle time included, as the system counts it
    times.systemUser = Hundreds(user);
    times.processKernel = Hundreds(processKernel);
    times.processUser = Hundreds(processUser);
    return true;
}

bool ReadProcessMemory(ProcessMemory& memory) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return false;
    memory.workingSetBytes = counters.WorkingSetSize;
    memory.privateBytes = counters.PagefileUsage;
    return true;
}

uint16_t CountProcessThreads() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    const DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    uint32_t count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) ++count;
        entry.dwSize = sizeof entry;
    }
    CloseHandle(snapshot);
    return count > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(count);
}

}  // namespace sys
