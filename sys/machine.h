// The machine a run measures on, for the result file: two results from different machines
// (or one machine after a system update) are not comparable figure for figure.
#pragma once

#include <cstdint>
#include <string>

namespace sys {

// Each fact empty or 0 where the system does not tell it.
struct MachineFacts {
    std::string processor;           // the model name, e.g. "AMD EPYC 7B13"
    uint32_t logicalProcessors = 0;  // online logical processors
    uint64_t memoryMB = 0;           // installed physical memory
    std::string system;              // e.g. "Debian GNU/Linux 12 (bookworm)", "Windows 10 Pro"
    std::string systemVersion;       // e.g. the kernel release "6.1.0-18-amd64", "10.0.19045"
};

// Asks the operating system (one implementation per system).
MachineFacts DescribeMachine();

// ---- Pure parsers, shared by the implementations and unit-tested on literal input ----

// The processor's model in /proc/cpuinfo text: the first "model name" (x86); else, as ARM
// and other kernels name it, "Hardware", "Model" or "cpu model", in that order. Trimmed; ""
// when none is there.
std::string ProcessorModelFromCpuInfo(const std::string& procCpuinfo);

// "MemTotal: N kB" of /proc/meminfo text as N / 1024; 0 when it is not there.
uint64_t MemoryMBFromMemInfo(const std::string& procMeminfo);

// The system's name in os-release text: PRETTY_NAME, else NAME and VERSION separated by a
// blank; values unquoted as the shell would ("...", '...', backslash escapes). "" when none
// is there.
std::string SystemFromOsRelease(const std::string& osRelease);

}  // namespace sys
