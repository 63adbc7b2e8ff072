// What a measuring process shares with the process that watches it: all that the files need
// should the measuring process die, kept up to date as the run goes, in memory both can read.
#pragma once

#include <atomic>
#include <cstdint>

#include "avs/c_interface.h"
#include "bench/measure.h"

namespace bench {

struct RunMirror {
    // How far the run got.
    enum Stage : uint32_t { kStarted = 0, kClipKnown = 1, kMeasuring = 2 };

    std::atomic<uint32_t> finished{0};   // the measuring process has done all it had to
    std::atomic<uint32_t> faultCode{0};  // the first fault its handler saw
    std::atomic<uint32_t> progress{0};   // moves on while it reports, after a fault too
    std::atomic<uint32_t> stage{kStarted};
    std::atomic<uint32_t> script{0};  // which script of a comparison is measured

    AVS_VideoInfo clip{};
    uint32_t mtAvailable = 0;
    int32_t mtMode = 0;
    uint32_t refreshInterval = 0;  // the trial run's
    FrameRange range{};
    // The loop writes these as it runs: the totals so far and every sample stored.
    RunTotals totals{};
    GpuFigures lastGpu{};
    FrameSample samples[kMostSamples + 2];
};

}  // namespace bench
