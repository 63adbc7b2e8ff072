// The machine on Linux: /proc/cpuinfo, /proc/meminfo, os-release and the kernel's release.
#include <sys/utsname.h>
#include <unistd.h>

#include "sys/file_info.h"
#include "sys/machine.h"

namespace sys {

namespace {

// /proc/cpuinfo of a machine with hundreds of processors is some hundred KB; ARM's
// "Hardware" line comes after all of them.
constexpr size_t kMaxMachineText = 1 << 20;

std::string ReadText(const char* path) {
    std::string text;
    return ReadFileHead(path, text, kMaxMachineText) ? text : "";
}

}  // namespace

MachineFacts DescribeMachine() {
    MachineFacts machine;
    machine.processor = ProcessorModelFromCpuInfo(ReadText("/proc/cpuinfo"));
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    machine.logicalProcessors = online > 0 ? static_cast<uint32_t>(online) : 0;
    machine.memoryMB = MemoryMBFromMemInfo(ReadText("/proc/meminfo"));
    // The administrator's file first, then the distribution's.
    machine.system = SystemFromOsRelease(ReadText("/etc/os-release"));
    if (machine.system.empty())
        machine.system = SystemFromOsRelease(ReadText("/usr/lib/os-release"));
    if (machine.system.empty()) machine.system = "Linux";
    struct utsname names;
    if (uname(&names) == 0) machine.systemVersion = names.release;
    return machine;
}

}  // namespace sys
