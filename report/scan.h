// A scan of a script variable as the user reads it: the table of the values, the verdicts,
// and for thread counts the speed-up, the parallel efficiency and where the gain ends.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bench/record.h"

namespace report {

// One value of a scan.
struct ScanPoint {
    std::string value;                 // as typed
    std::string kind = "int";          // "int", "float" or "string": what the script was given
    std::vector<double> rates;         // the counted runs' average rates
    std::optional<double> cpu;         // their mean CPU use, percent of all processors
    std::optional<double> efficiency;  // their mean efficiency index
};

struct ScanTable {
    std::string script;    // the script's file name
    std::string variable;  // as typed
    std::vector<ScanPoint> points;
    bool threadCounts = false;  // the values are the script's thread counts
    bool namedByScript = true;  // the script's text names the variable
};

// Whether a scan's values count threads: its variable is "threads" (any case) or the script
// passes it to Prefetch, and every value is a whole number above 0.
bool CountsThreads(const std::string& variable, bool passedToPrefetch,
                   const std::vector<std::string>& values);

// The table (value, runs, fps mean +/- deviation, min to max, speed relative to the first value
// with its 95 % interval, CPU use, efficiency index; for thread counts the parallel efficiency),
// then each value's verdict against the first; for thread counts the value beyond which a step
// gains less than 5 %. A script that never names the variable is said to have alike variants.
// Values are shown as TerminalText.
std::string ScanComparisonText(const ScanTable& scan);

// Two scan results value by value: each value both hold, B's speed relative to A's with its
// interval, and the verdicts. Values only one of them holds are named.
std::string ScanResultsComparisonText(const bench::RunRecord& a, const bench::RunRecord& b,
                                      const std::string& nameA, const std::string& nameB);

}  // namespace report
