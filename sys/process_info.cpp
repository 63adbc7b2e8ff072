// Process statistics: the portable rules over the operating system's readings.
#include "sys/process_info.h"

#include <cstring>
#include <limits>

namespace sys {

namespace {

constexpr uint64_t kUpdatePeriodMs = 100;
constexpr uint64_t kThreadCountPeriodMs = 1000;

uint64_t TimerTickMs() {
    return g_timer.GetTickMs();
}

// Skips blanks; reads an unsigned decimal number. False when there is no digit.
bool ReadNumber(const std::string& text, size_t& at, uint64_t& value) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    const size_t start = at;
    value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        const uint64_t digit = static_cast<uint64_t>(text[at] - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
        value = value * 10 + digit;
        ++at;
    }
    return at > start;
}

}  // namespace

ProcessInfoSource SystemProcessInfoSource() {
    return {TimerTickMs, ReadProcessTimes, ReadProcessMemory, CountProcessThreads};
}

uint8_t CpuPercent(uint64_t systemDelta, uint64_t processDelta, uint8_t previous) {
    if (systemDelta == 0) return previous;
    const double percent =
        static_cast<double>(processDelta) * 100.0 / static_cast<double>(systemDelta);
    // Kept in 8 bits as stored; a share above 255 % (a clock that went wrong) shows as such.
    if (!(percent < 256.0)) return 255;
    return static_cast<uint8_t>(percent);
}

uint32_t BytesToMB(uint64_t bytes) {
    const double mb = static_cast<double>(bytes) / 1048576.0 + 0.5;
    if (mb >= static_cast<double>(std::numeric_limits<uint32_t>::max())) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(mb);
}

bool ParseProcStatCpu(const std::string& text, uint64_t& allTicks, uint64_t& userTicks) {
    size_t line = 0;
    while (line < text.size()) {
        if (text.compare(line, 4, "cpu ") == 0) {
            size_t at = line + 3;
            uint64_t fields[8] = {};
            int count = 0;
            const size_t end = text.find('\n', line);
            const std::string row = text.substr(0, end == std::string::npos ? text.size() : end);
            while (count < 8 && ReadNumber(row, at, fields[count]))
                ++count;
            if (count < 4) return false;  // older kernels give four fields
            allTicks = 0;
            for (const uint64_t field : fields) {
                if (allTicks > std::numeric_limits<uint64_t>::max() - field) return false;
                allTicks += field;
            }
            userTicks = fields[0] + fields[1];
            return true;
        }
        const size_t next = text.find('\n', line);
        if (next == std::string::npos) break;
        line = next + 1;
    }
    return false;
}

bool ParseProcSelfStat(const std::string& text, uint64_t& userTicks, uint64_t& systemTicks) {
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return false;
    // After the name: state, ppid, pgrp, session, tty, tpgid, flags, minflt, cminflt,
    // majflt, cmajflt, then utime and stime.
    size_t at = close + 1;
    for (int field = 0; field < 11; ++field) {
        while (at < text.size() && text[at] == ' ')
            ++at;
        while (at < text.size() && text[at] != ' ')
            ++at;
    }
    return ReadNumber(text, at, userTicks) && ReadNumber(text, at, systemTicks);
}

bool ParseStatusNumber(const std::string& text, const char* key, uint64_t& value) {
    const std::string label = std::string(key) + ":";
    size_t line = 0;
    while (line < text.size()) {
        const size_t end = text.find('\n', line);
        const std::string row =
            text.substr(line, end == std::string::npos ? std::string::npos : end - line);
        if (row.compare(0, label.size(), label) == 0) {
            size_t at = label.size();
            if (!ReadNumber(row, at, value)) return false;
            while (at < row.size() && row[at] == ' ')
                ++at;
            if (row.compare(at, 2, "kB") == 0) {
                if (value > std::numeric_limits<uint64_t>::max() / 1024) return false;
                value *= 1024;
            }
            return true;
        }
        if (end == std::string::npos) break;
        line = end + 1;
    }
    return false;
}

bool ParseStatusMemory(const std::string& text, ProcessMemory& memory) {
    return ParseStatusNumber(text, "VmRSS", memory.workingSetBytes) &&
           ParseStatusNumber(text, "VmData", memory.privateBytes);
}

uint16_t ParseStatusThreads(const std::string& text) {
    uint64_t threads = 0;
    if (!ParseStatusNumber(text, "Threads", threads)) return 0;
    return threads > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(threads);
}

}  // namespace sys

CProcessInfo::CProcessInfo(const sys::ProcessInfoSource& source) : source_(source) {
    threadCount = source_.countThreads();
}

CProcessInfo::~CProcessInfo() = default;

void CProcessInfo::Close() {}

void CProcessInfo::Update() {
    // The first call always runs: it records the times the next one measures against.
    const uint64_t now = source_.tickMs();
    if (!firstSample_ && now - lastUpdateMs_ < sys::kUpdatePeriodMs) return;

    const uint8_t raw = SampleCpu();
    firstSample_ = false;
    rawCpu_ = raw;
    // The machine's time comes in clock ticks and the process's in microseconds, so a fully
    // busy process reads a little above 100 now and then: that is 100, not nothing.
    cpuUsage = raw > 100 ? 100 : raw;

    if (source_.tickMs() - lastThreadCountMs_ > sys::kThreadCountPeriodMs) {
        threadCount = source_.countThreads();
        lastThreadCountMs_ = source_.tickMs();
    }

    sys::ProcessMemory memory;
    if (source_.readMemory(memory)) {
        physicalMB = sys::BytesToMB(memory.workingSetBytes);
        virtualMB = sys::BytesToMB(memory.privateBytes);
    }
    lastUpdateMs_ = source_.tickMs();
}

uint8_t CProcessInfo::SampleCpu() {
    // Only the main thread samples; the guard keeps an overlapping call from disturbing the
    // stored times.
    if (busy_) return rawCpu_;
    busy_ = true;
    sys::ProcessTimes now;
    if (source_.readTimes(now)) {
        if (!firstSample_) {
            const uint64_t systemDelta = (now.systemKernel - previous_.systemKernel) +
                                         (now.systemUser - previous_.systemUser);
            const uint64_t processDelta = (now.processKernel - previous_.processKernel) +
                                          (now.processUser - previous_.processUser);
            rawCpu_ = sys::CpuPercent(systemDelta, processDelta, rawCpu_);
            cpuMeasured = cpuMeasured || systemDelta != 0;
        }
        previous_ = now;
    }
    busy_ = false;
    return rawCpu_;
}
