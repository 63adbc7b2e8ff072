// The tool's own process while a script renders: its share of the machine's processor time,
// its thread count (the frame server's threads included) and its memory.
#pragma once

#include <cstdint>
#include <string>

#include "sys/timer.h"

namespace sys {

// What the operating system tells about the process. Times are in 100 ns units; the system's
// kernel time includes its idle time, and both system times cover every processor.
struct ProcessTimes {
    uint64_t systemKernel = 0;
    uint64_t systemUser = 0;
    uint64_t processKernel = 0;
    uint64_t processUser = 0;
};

struct ProcessMemory {
    uint64_t workingSetBytes = 0;
    uint64_t privateBytes = 0;  // private committed memory
};

// Where CProcessInfo takes its readings; the defaults ask the operating system.
struct ProcessInfoSource {
    uint64_t (*tickMs)();
    bool (*readTimes)(ProcessTimes& times);
    bool (*readMemory)(ProcessMemory& memory);
    uint16_t (*countThreads)();  // 0 when the threads cannot be counted
};
ProcessInfoSource SystemProcessInfoSource();

// The operating system's readings (one implementation per system).
bool ReadProcessTimes(ProcessTimes& times);
bool ReadProcessMemory(ProcessMemory& memory);
uint16_t CountProcessThreads();

// processDelta x 100 / systemDelta, truncated and kept in 8 bits as the probe stores it;
// previous when systemDelta is 0.
uint8_t CpuPercent(uint64_t systemDelta, uint64_t processDelta, uint8_t previous);

// Bytes to the nearest megabyte, in 64 bits so that nothing wraps at 4 GB; saturates at the
// largest 32-bit value.
uint32_t BytesToMB(uint64_t bytes);

// ---- /proc text, parsed by pure functions ----

// The first "cpu " line of /proc/stat: the sum of its first eight fields (user, nice,
// system, idle, iowait, irq, softirq, steal) and of the user and nice fields, in clock ticks.
bool ParseProcStatCpu(const std::string& text, uint64_t& allTicks, uint64_t& userTicks);

// The user and system times of /proc/self/stat, in clock ticks: fields 14 and 15, counted
// after the parenthesised command name, which may hold blanks and parentheses itself.
bool ParseProcSelfStat(const std::string& text, uint64_t& userTicks, uint64_t& systemTicks);

// The number after "<key>:" in /proc/self/status text; kB values are given in bytes.
bool ParseStatusNumber(const std::string& text, const char* key, uint64_t& value);

// The process's memory in /proc/self/status text: the resident set (VmRSS) as the working
// set, and the data segment with the heap and private mappings (VmData) as the private
// committed memory.
bool ParseStatusMemory(const std::string& text, ProcessMemory& memory);

// The thread count in /proc/self/status text, saturated at 65535; 0 when it is not there.
uint16_t ParseStatusThreads(const std::string& text);

}  // namespace sys

class CProcessInfo {
  public:
    explicit CProcessInfo(const sys::ProcessInfoSource& source = sys::SystemProcessInfoSource());
    virtual ~CProcessInfo();
    CProcessInfo(const CProcessInfo&) = delete;
    CProcessInfo& operator=(const CProcessInfo&) = delete;

    // Refreshes the readings, at most once per 100 ms; the thread count at most once a
    // second. The first call only records the times: cpuUsage stays 0.
    void Update();
    void Close();

    uint16_t cpuUsage = 0;     // percent of the whole machine, at most 100
    bool cpuMeasured = false;  // a period has been timed: cpuUsage is a reading
    uint16_t threadCount = 0;
    uint32_t physicalMB = 0;
    uint32_t virtualMB = 0;

  private:
    uint8_t SampleCpu();

    sys::ProcessInfoSource source_;
    uint8_t rawCpu_ = 0;
    bool firstSample_ = true;
    bool busy_ = false;
    sys::ProcessTimes previous_;
    uint64_t lastUpdateMs_ = 0;
    uint64_t lastThreadCountMs_ = 0;
};
