// The /proc texts the process probe reads, and the machine's texts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sys/machine.h"
#include "sys/process_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    uint64_t a = 0, b = 0;
    sys::ParseProcStatCpu(text, a, b);
    sys::ParseProcSelfStat(text, a, b);
    sys::ProcessMemory memory;
    sys::ParseStatusMemory(text, memory);
    sys::ParseStatusThreads(text);
    sys::ProcessorModelFromCpuInfo(text);
    sys::MemoryMBFromMemInfo(text);
    sys::SystemFromOsRelease(text);
    return 0;
}
