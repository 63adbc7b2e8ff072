// The measurement loop itself, over any host that renders frames and reads clocks and
// probes, so that its rules can be checked without a frame server.
#pragma once

#include <algorithm>

#include "bench/measure.h"

namespace bench {

constexpr double kRefreshSeconds = 0.25;
constexpr double kShortestDelta = 1e-6;

// Host: Frames() -> a callable that renders frame n (copied into a local, so that the hot
// loop holds it in registers); double Seconds(); ProcessFigures Probe();
// bool Gpu(GpuFigures&) (false when not monitoring); void Refresh(RunTotals&, uint32_t n,
// const ProcessFigures&, const GpuFigures*); bool StopRequested(); EnterOwnCode() and
// LeaveOwnCode() around each sampling, the loop's own work between frames.
// totals must hold the range and interval; records has SampleCapacity entries.
template <class Host>
RunEnd RunLoop(Host& host, int64_t timeLimitSeconds, RunTotals& t, FrameSample* records) {
    const uint32_t interval = t.refreshInterval;
    const auto requestFrame = host.Frames();
    GpuFigures gpu;
    host.Gpu(gpu);
    ProcessFigures probe = host.Probe();
    const double start = host.Seconds();
    double lastSample = start;
    double lastRefresh = start;

    // Between samples only this countdown runs: no division, no clock, no probe. It stops
    // at each multiple of the interval (a stored sample) and at the range's last frame.
    uint32_t countdown = std::min(interval, t.rangeFrames);
    bool storing = countdown == interval;
    for (uint32_t n = t.firstFrame;; ++n) {
        requestFrame(static_cast<int>(n));
        if (--countdown != 0) continue;

        host.EnterOwnCode();
        const double now = host.Seconds();
        probe = host.Probe();
        ++t.probeSamples;
        const bool monitoringGpu = host.Gpu(gpu);
        if (monitoringGpu) {
            t.gpuSum += gpu.gpuLoad;
            t.vpuSum += gpu.vpuLoad;
            t.gpuAverage =
                static_cast<uint32_t>(static_cast<double>(t.gpuSum) / t.probeSamples + 0.5);
            t.vpuAverage =
                static_cast<uint32_t>(static_cast<double>(t.vpuSum) / t.probeSamples + 0.5);
        }
        t.framesProcessed = n - t.firstFrame + 1;
        t.elapsedMs = static_cast<int64_t>((now - start) * 1000.0 + 0.5);
        t.estimatedMs = static_cast<int64_t>(static_cast<double>(t.rangeFrames) *
                                             static_cast<double>(t.elapsedMs) / t.framesProcessed);
        // Samplings before the probe's first period is over carry no reading, not a 0 %.
        if (probe.cpuMeasured) {
            t.cpuSum += probe.cpuUsage;
            ++t.cpuSamples;
            t.cpuAverage =
                static_cast<uint32_t>(static_cast<double>(t.cpuSum) / t.cpuSamples + 0.5);
        }
        t.physicalMB = probe.physicalMB;
        t.virtualMB = probe.virtualMB;
        t.peakPhysicalMB = std::max(t.peakPhysicalMB, probe.physicalMB);
        t.peakVirtualMB = std::max(t.peakVirtualMB, probe.virtualMB);
        t.threadCount = probe.threadCount;
        t.averageFps = t.framesProcessed / std::max(now - start, kShortestDelta);

        const bool last = t.framesProcessed == t.rangeFrames;
        if (storing) {
            double delta = now - lastSample;
            if (!(delta > kShortestDelta)) delta = kShortestDelta;
            t.currentFps = interval / delta;
            if (t.currentFps > t.maxFps) t.maxFps = t.currentFps;
            if (t.currentFps < t.minFps) t.minFps = t.currentFps;
            FrameSample& record = records[t.recordCount++];
            record.frame = n;
            record.currentFps = t.currentFps;
            record.averageFps = t.averageFps;
            record.cpuPercent = probe.cpuUsage;
            record.cpuMeasured = probe.cpuMeasured;
            record.gpuPercent = monitoringGpu ? gpu.gpuLoad : 0;
            record.vpuPercent = monitoringGpu ? gpu.vpuLoad : 0;
            record.threadCount = probe.threadCount;
            record.physicalMB = probe.physicalMB;
            record.virtualMB = probe.virtualMB;
            lastSample = now;

            if (now - lastRefresh >= kRefreshSeconds) {
                lastRefresh = now;
                host.Refresh(t, n, probe, monitoringGpu ? &gpu : nullptr);
                const bool timeUp =
                    timeLimitSeconds != -1 && t.elapsedMs >= timeLimitSeconds * 1000;
                if (timeUp || host.StopRequested()) {
                    t.lastFrame = n;
                    host.LeaveOwnCode();
                    return timeUp ? RunEnd::kTimeLimit : RunEnd::kCancelled;
                }
            }
        }
        host.LeaveOwnCode();
        if (last) return RunEnd::kCompleted;
        countdown = std::min(interval, t.rangeFrames - t.framesProcessed);
        storing = countdown == interval;
    }
}

}  // namespace bench
