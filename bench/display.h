// The live block rewritten in place during the run, and the summary that replaces it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/measure.h"

namespace bench {

// One line of console output: a figure line (padded, bright white), an empty line (a bare
// line feed), or the Esc hint (three line advances).
struct BlockLine {
    enum class Kind { kFigure, kEmpty, kHint };
    Kind kind;
    std::string text;
};

// The live block's lines for frame n; gpu is null when the GPU is not monitored.
std::vector<BlockLine> LiveBlock(const RunTotals& totals, uint32_t n, uint16_t cpuNow,
                                 const GpuFigures* gpu, const DisplayOptions& options);

// The line advances a block makes: what the next refresh moves up by.
uint32_t LineAdvances(const std::vector<BlockLine>& block);

// Prints the block on the console stream; returns its line advances.
uint32_t PrintBlock(const std::vector<BlockLine>& block);

// "Frames processed:" with the range in its three forms.
std::string FramesLine(uint32_t framesProcessed, uint32_t firstFrame, uint32_t lastFrame);

// averageFps / cpuAverage, or "n/a" when no CPU use was measured.
std::string EfficiencyText(double averageFps, uint32_t cpuAverage);

// What the summary says instead of its figures when the range stored no sample.
constexpr const char* kTooShortText =
    "The specified frame range is too short for accurate measurements.";

// The summary's lines; empty lines are on the console only.
std::vector<BlockLine> SummaryLines(const RunTotals& totals, const GpuFigures* gpu,
                                    const DisplayOptions& options);

// Prints the summary over the live block, or the too-short message.
void PrintSummary(const RunTotals& totals, const GpuFigures* gpu, const DisplayOptions& options);

// The one line that sums up a run of a series: its label, average rate and elapsed time, and
// how it ended when it did not complete.
std::string RunLineText(const std::string& label, const RunTotals& totals, RunEnd end);

// Prints the line over the live block and erases the rest of the block.
void PrintRunLine(const RunTotals& totals, const std::string& text);

}  // namespace bench
