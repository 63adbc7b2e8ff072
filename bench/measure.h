// The timed frame loop, what it records, and the range it measures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avs/host.h"

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
    bool cpuMeasured = true;  // false before the probe timed its first period: no reading
};

// Allocated once before the first frame, zeroed; RunTotals::recordCount of them are used.
using Samples = std::vector<FrameSample>;

struct FrameRange {
    uint32_t first = 0;
    uint32_t last = 0;
};

// The range the user asked for: the numbers, and the text the range check shows when they do
// not fit the clip.
struct RangeRequest {
    int64_t first = 0;
    int64_t last = -1;  // -1: the clip's last frame
    std::string text;
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

// The figures the summary shows as "n/a" until a sample sets them.
inline bool ExtremesKnown(const RunTotals& t) {
    return t.maxFps > 0.0;
}
inline bool AverageKnown(const RunTotals& t) {
    return t.averageFps > 0.0;
}
// A range shorter than the interval stores no sample: the summary says so instead.
inline bool TooShortToMeasure(const RunTotals& t) {
    return t.framesProcessed < t.refreshInterval;
}

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

// How a run ended.
enum class RunEnd {
    kCompleted,  // the range's last frame
    kTimeLimit,
    kCancelled,  // Esc or Ctrl+C
    kDeclined,   // an invalid range, and the whole clip declined
    kInfo,       // -info: the clip described, nothing measured
    kError,      // an error of AviSynth's, a fault, or another exception
};

// The loop's view of the machine: its clock, the probes, the console's refresh and the keys.
// The program's reads the real ones; tests give fakes.
class Instruments {
  public:
    virtual ~Instruments() = default;
    virtual double Seconds() = 0;
    virtual ProcessFigures Probe() = 0;
    // The card's readings; false when the GPU is not monitored.
    virtual bool Gpu(GpuFigures& figures) = 0;
    // Redraws the live block for frame n.
    virtual void Refresh(RunTotals& totals, uint32_t n, const ProcessFigures& probe,
                         const GpuFigures* gpu) = 0;
    virtual bool StopRequested() = 0;
    // Around each sampling, the loop's own work between frames.
    virtual void EnterOwnCode() {}
    virtual void LeaveOwnCode() {}
};

// What the live block shows besides the figures that are always there.
struct DisplayOptions {
    bool fps = true;
    bool tpf = false;
    bool efficiency = true;
    bool estimatedTime = false;  // the summary of an early stop shows the estimated total
};

// The instruments of a real run: the high-resolution clock, the process probe, the GPU monitor
// (when given), the live block on a terminal, and Esc or Ctrl+C to stop. Made just before the
// loop: while they live, keys are read without echo and Ctrl+C only asks to stop.
std::unique_ptr<Instruments> MakeLiveInstruments(CGPUInfo* gpu, const DisplayOptions& display);

// No run stores more than this many samples: longer ranges sample less often.
constexpr uint32_t kMostSamples = 500000;

// The interval multiplied by 10 until rangeFrames / interval is at most kMostSamples.
uint32_t WidenedInterval(uint32_t rangeFrames, uint32_t interval);

// Room for every sample a range can store, and one to spare.
size_t SampleCapacity(uint32_t rangeFrames, uint32_t interval);

// Resolves the requested range against the clip. An invalid range asks whether to measure
// the whole clip instead; false when the user declines.
bool ResolveFrameRange(const avs::VideoInfo& videoInfo, const RangeRequest& request,
                       FrameRange& range);

// The measurement: every frame of the range once, in ascending order, sampled every
// refresh interval, until the range ends, the time limit (seconds, -1 for none) passes, or
// the instruments ask to stop. samples is allocated here; totals hold the figures so far
// even when a frame request throws, with totals.recordCount of the samples stored. gpu holds
// the card's last readings afterwards, for the summary.
// With a mirror of room enough, the loop stores the samples there as it goes (memory another
// process watches), and they are copied into samples afterwards.
RunEnd MeasureFrames(const avs::Clip& clip, const FrameRange& range, uint32_t refreshInterval,
                     int64_t timeLimitSeconds, Instruments& instruments, Samples& samples,
                     RunTotals& totals, GpuFigures& gpu, FrameSample* mirror = nullptr,
                     size_t mirrorCapacity = 0);

}  // namespace bench
