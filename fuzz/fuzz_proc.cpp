// The /proc texts the process probe reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sys/process_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    uint64_t a = 0, b = 0;
    sys::ParseProcStatCpu(text, a, b);
    sys::ParseProcSelfStat(text, a, b);
    sys::ProcessMemory memory;
    sys::ParseStatusMemory(text, memory);
    sys::ParseStatusThreads(text);
    return 0;
}
