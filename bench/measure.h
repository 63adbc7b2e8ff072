// The timed frame loop and what it records.
#pragma once

#include <cstdint>
#include <vector>

#include "avs/script.h"

namespace bench {

struct FrameSample {
    uint32_t frame = 0;
    double currentFps = 0.0;
    double averageFps = 0.0;
    uint16_t cpuPercent = 0;
    uint16_t gpuPercent = 0;
    uint16_t vpuPercent = 0;
    uint32_t physicalMB = 0;
    uint32_t virtualMB = 0;
    uint16_t threadCount = 0;
};

using Samples = std::vector<FrameSample>;

struct FrameRange {
    uint32_t first = 0;
    uint32_t last = 0;
};

struct RunTotals {
    uint32_t firstFrame = 0;
    uint32_t lastFrame = 0;
    uint32_t rangeFrames = 0;
    uint32_t refreshInterval = 0;
    uint32_t framesProcessed = 0;
    double averageFps = 0.0;
    int64_t elapsedMs = 0;
};

// Resolves the configured range against the clip. An invalid range asks whether to measure
// the whole clip instead; false when the user declines.
bool ResolveFrameRange(const avs::VideoInfo& videoInfo, FrameRange& range);

// Requests every frame of the range once, in ascending order, and times it.
RunTotals MeasureFrames(avs::ScriptSession& session, const FrameRange& range,
                        uint32_t refreshInterval, Samples& samples);

// The figures of the run, on the console and appended to the log text.
void PrintSummary(const RunTotals& totals, std::string& logText);

}  // namespace bench
