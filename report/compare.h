// Two result files side by side: what -compare reads from each, and the text it prints.
#pragma once

#include <optional>
#include <string>

namespace report {

// The figures of one result file that a comparison shows; empty where the file has null.
struct ResultFigures {
    std::string script;
    std::string avisynthVersion;
    std::optional<double> frames, width, height, rangeFirst, rangeLast;
    std::optional<double> fpsAverage, fpsMin, fpsMax, tpfAverage, onePercentLow;
    std::optional<double> cpu, physicalMB, virtualMB, threads, efficiency;
};

// Reads a result file's text. false with the reason ("is not JSON ...", "is not a Trevalo
// result file", ...) when the text is not a Trevalo result of a known format version with a
// summary.
bool ReadResultFigures(const std::string& text, ResultFigures& figures, std::string& reason);

// The comparison: A and B named, a warning line when the clips or ranges differ, each figure
// with the ratio of B to A, and the closing sentence by average frames per second.
std::string ComparisonText(const ResultFigures& a, const ResultFigures& b, const std::string& fileA,
                           const std::string& fileB);

}  // namespace report
