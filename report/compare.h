// Two runs side by side: the text -compare prints for two records read from result files.
#pragma once

#include <string>

#include "bench/record.h"

namespace report {

// The comparison: A and B named, a warning line when the clips or ranges differ, each figure
// with the ratio of B to A, and the closing sentence by average frames per second.
std::string ComparisonText(const bench::RunRecord& a, const bench::RunRecord& b,
                           const std::string& fileA, const std::string& fileB);

}  // namespace report
