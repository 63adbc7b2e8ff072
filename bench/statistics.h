// The statistics of a run, computed once when it ends: the figures its summary states, and
// the distribution of the interval rates over its stored samples.
#pragma once

#include <optional>
#include <vector>

#include "bench/measure.h"

namespace bench {

// The stored interval rates: extremes and nearest-rank percentiles.
struct RateDistribution {
    double min = 0, p1 = 0, p5 = 0, p50 = 0, p95 = 0, p99 = 0, max = 0;
};

// The figures of a run's summary as a user reads them; empty where the summary shows "n/a"
// (no sample stored, no CPU use measured). Times per frame are in milliseconds.
struct SummaryFigures {
    std::optional<double> fpsAverage, fpsMin, fpsMax;
    std::optional<double> tpfAverage, tpfMin, tpfMax;  // the shortest time is the highest rate's
    std::optional<double> efficiency;                  // average rate per percent of CPU
    std::optional<double> cpuAverage, physicalPeakMB, virtualPeakMB, threads;
};

SummaryFigures SummaryFiguresOf(const RunTotals& totals);

// The value of rank ceil(percent / 100 * n) (at least 1) in the ascending values.
double NearestRank(const std::vector<double>& ascending, double percent);

// Empty without samples.
std::optional<RateDistribution> DistributionOf(const Samples& samples);

}  // namespace bench
