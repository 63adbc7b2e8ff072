// Figures over a run's stored samples: the distribution of the interval rates.
#pragma once

#include <optional>
#include <vector>

#include "bench/measure.h"

namespace bench {

// The stored interval rates: extremes and nearest-rank percentiles.
struct RateDistribution {
    double min = 0, p1 = 0, p5 = 0, p50 = 0, p95 = 0, p99 = 0, max = 0;
};

// The value of rank ceil(percent / 100 * n) (at least 1) in the ascending values.
double NearestRank(const std::vector<double>& ascending, double percent);

// Empty without samples.
std::optional<RateDistribution> DistributionOf(const Samples& samples);

}  // namespace bench
