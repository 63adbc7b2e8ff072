// The machine's facts: the parsers of the system's texts, the same on every system.
#include "sys/machine.h"

#include <functional>

#include "sys/process_info.h"
#include "sys/utils.h"

namespace sys {

namespace {

// Calls fn with each line of text, its line end removed; stops when fn returns false.
void ForEachLine(const std::string& text, const std::function<bool(const std::string&)>& fn) {
    size_t line = 0;
    while (line < text.size()) {
        const size_t end = text.find('\n', line);
        if (!fn(text.substr(line, end == std::string::npos ? std::string::npos : end - line))) {
            return;
        }
        if (end == std::string::npos) return;
        line = end + 1;
    }
}

// The trimmed value of the first "key : value" line of /proc/cpuinfo text with a value.
std::string CpuInfoValue(const std::string& text, const char* key) {
    std::string found;
    ForEachLine(text, [&](const std::string& row) {
        const size_t colon = row.find(':');
        if (colon == std::string::npos) return true;
        std::string name = row.substr(0, colon);
        CUtils::Trim(name);
        if (name != key) return true;
        found = row.substr(colon + 1);
        CUtils::Trim(found);
        return found.empty();
    });
    return found;
}

// An os-release value as the shell reads it: quotes removed, and the backslash escapes that
// double quotes and bare text allow resolved.
std::string Unquoted(const std::string& value) {
    std::string plain;
    char quote = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const bool hasNext = i + 1 < value.size();
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                plain += c;
            }
        } else if (c == '\\' && hasNext &&
                   (quote == 0 || std::string("$\"\\`").find(value[i + 1]) != std::string::npos)) {
            plain += value[++i];
        } else if (c == '"' || (c == '\'' && quote == 0)) {
            quote = quote == 0 ? c : 0;
        } else {
            plain += c;
        }
    }
    return plain;
}

// The last assignment of key in os-release text, unquoted; "" when there is none.
std::string OsReleaseValue(const std::string& text, const std::string& key) {
    std::string found;
    ForEachLine(text, [&](const std::string& line) {
        std::string row = line;
        CUtils::Trim(row);
        if (row.compare(0, key.size() + 1, key + "=") == 0)
            found = Unquoted(row.substr(key.size() + 1));
        return true;
    });
    CUtils::Trim(found);
    return found;
}

}  // namespace

std::string ProcessorModelFromCpuInfo(const std::string& procCpuinfo) {
    for (const char* key : {"model name", "Hardware", "Model", "cpu model"}) {
        const std::string model = CpuInfoValue(procCpuinfo, key);
        if (!model.empty()) return model;
    }
    return "";
}

uint64_t MemoryMBFromMemInfo(const std::string& procMeminfo) {
    uint64_t bytes = 0;
    return ParseStatusNumber(procMeminfo, "MemTotal", bytes) ? bytes / 1048576 : 0;
}

std::string SystemFromOsRelease(const std::string& osRelease) {
    const std::string pretty = OsReleaseValue(osRelease, "PRETTY_NAME");
    if (!pretty.empty()) return pretty;
    std::string system = OsReleaseValue(osRelease, "NAME");
    const std::string version = OsReleaseValue(osRelease, "VERSION");
    if (!version.empty()) system += (system.empty() ? "" : " ") + version;
    return system;
}

}  // namespace sys
