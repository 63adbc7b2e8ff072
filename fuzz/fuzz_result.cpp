// A result file for -compare: any bytes, read and compared with themselves.
#include <cstddef>
#include <cstdint>
#include <string>

#include "report/compare.h"
#include "report/results.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    bench::RunRecord record;
    std::string reason;
    if (report::ReadResultFile(text, record, reason)) {
        report::ComparisonText(record, record, "a.json", "b.json");
    }
    return 0;
}
