// The INI file as the program reads it: split into lines, version check, every key rule.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = SplitIniLines(text);
    RunSettings settings;
    if (IniIsUpToDate(lines, "0.9.0")) ApplyIniLines(lines, settings);
    ApplyIniLines(lines, settings);
    return 0;
}
