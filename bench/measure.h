// The timed frame loop, what it records, and the range it measures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "avs/script.h"

class CGPUInfo;

namespace bench {

// One stored sample.
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

// Allocated once before the first frame, zeroed; RunTotals::recordCount of them are used.
using Samples = std::vector<FrameSample>;

struct FrameRange {
    uint32_t first = 0;
    uint32_t last = 0;
};

// The running aggregates of one run, read by the live display and the summary.
struct RunTotals {
    uint32_t firstFrame = 0;
    uint32_t lastFrame = 0;  // after an early stop, the frame at which it stopped
    uint32_t rangeFrames = 0;
    uint32_t refreshInterval = 0;
    uint32_t framesProcessed = 0;
    uint32_t probeSamples = 0;
    uint32_t recordCount = 0;
    double currentFps = 0.0;
    double averageFps = 0.0;
    double minFps = 1e20;
    double maxFps = 0.0;
    uint32_t cpuSamples = 0;  // probe samplings that carried a CPU reading
    uint32_t cpuSum = 0, gpuSum = 0, vpuSum = 0;
    uint32_t cpuAverage = 0, gpuAverage = 0, vpuAverage = 0;
    uint32_t physicalMB = 0, virtualMB = 0;
    uint32_t peakPhysicalMB = 0, peakVirtualMB = 0;
    uint16_t threadCount = 0;
    int64_t elapsedMs = 0;
    int64_t estimatedMs = 0;
    uint32_t displayLines = 0;
    bool firstRefresh = true;
};

// The probe readings of one sampling.
struct ProcessFigures {
    uint16_t cpuUsage = 0;
    uint16_t threadCount = 0;
    uint32_t physicalMB = 0;
    uint32_t virtualMB = 0;
    bool cpuMeasured = true;  // false until the probe has timed a first period
};

// The graphics card's readings, when GPU monitoring is on.
struct GpuFigures {
    uint16_t gpuLoad = 0;
    uint16_t vpuLoad = 0;
    uint32_t memoryUsedMB = 0;
    uint32_t dedicatedMB = 0;
    uint32_t dynamicMB = 0;
    bool vpuAvailable = false;
    bool memoryUsedAvailable = false;
    bool dedicatedAvailable = false;
    bool dynamicAvailable = false;
};

enum class RunEnd { kRangeDone, kTimeLimit, kCancelled };

// No run stores more than this many samples: longer ranges sample less often.
constexpr uint32_t kMostSamples = 500000;

// The interval multiplied by 10 until rangeFrames / interval is at most kMostSamples.
uint32_t WidenedInterval(uint32_t rangeFrames, uint32_t interval);

// Room for every sample a range can store, and one to spare.
size_t SampleCapacity(uint32_t rangeFrames, uint32_t interval);

// Resolves the configured range against the clip. An invalid range asks whether to measure
// the whole clip instead; false when the user declines.
bool ResolveFrameRange(const avs::VideoInfo& videoInfo, FrameRange& range);

// The measurement: every frame of the range once, in ascending order, sampled every
// refresh interval, with the live block on a terminal, until the range ends, the time limit
// passes, or Esc or Ctrl+C stops it. samples is allocated here; totals hold the figures so
// far even when a frame request throws. With a GPU monitor, gpu holds its last figures
// afterwards, for the summary.
RunEnd MeasureFrames(avs::ScriptSession& session, const FrameRange& range, uint32_t refreshInterval,
                     Samples& samples, RunTotals& totals, CGPUInfo* monitor, GpuFigures& gpu);

}  // namespace bench
