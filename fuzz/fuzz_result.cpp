// A result file for -compare: any bytes, read and compared with themselves.
#include <cstddef>
#include <cstdint>
#include <string>

#include "report/compare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    report::ResultFigures figures;
    std::string reason;
    if (report::ReadResultFigures(text, figures, reason)) {
        report::ComparisonText(figures, figures, "a.json", "b.json");
    }
    return 0;
}
