// Process statistics on Linux: /proc/stat for the machine's time, getrusage for the
// process's, /proc/self/status for threads and memory.
#include <unistd.h>

#include "sys/file_info.h"
#include "sys/process_info.h"

namespace sys {

namespace {

constexpr size_t kMaxProcText = 1 << 20;

bool ReadProcText(const char* path, std::string& text) {
    return ReadFileHead(path, text, kMaxProcText) && !text.empty();
}

}  // namespace

bool ReadProcessTimes(ProcessTimes& times) {
    std::string stat;
    uint64_t allTicks = 0;
    uint64_t userTicks = 0;
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (ticksPerSecond <= 0 || !ReadProcText("/proc/stat", stat) ||
        !ParseProcStatCpu(stat, allTicks, userTicks)) {
        return false;
    }
    // The process's times from the same tick accounting as the machine's, so that a fully
    // busy process reads 100 % and not a tick more or less.
    std::string self;
    uint64_t processUser = 0;
    uint64_t processKernel = 0;
    if (!ReadProcText("/proc/self/stat", self) ||
        !ParseProcSelfStat(self, processUser, processKernel)) {
        return false;
    }
    const uint64_t unit = 10000000u / static_cast<uint64_t>(ticksPerSecond);
    times.systemUser = userTicks * unit;
    times.systemKernel = (allTicks - userTicks) * unit;  // with idle, as Windows counts it
    times.processKernel = processKernel * unit;
    times.processUser = processUser * unit;
    return true;
}

bool ReadProcessMemory(ProcessMemory& memory) {
    std::string status;
    return ReadProcText("/proc/self/status", status) && ParseStatusMemory(status, memory);
}

uint16_t CountProcessThreads() {
    std::string status;
    return ReadProcText("/proc/self/status", status) ? ParseStatusThreads(status) : 0;
}

}  // namespace sys
