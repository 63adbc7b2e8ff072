#include "bench/statistics.h"

#include <algorithm>
#include <cmath>

namespace bench {

double NearestRank(const std::vector<double>& ascending, double percent) {
    if (ascending.empty()) return 0.0;
    const double n = static_cast<double>(ascending.size());
    size_t rank = static_cast<size_t>(std::ceil(percent / 100.0 * n));
    rank = std::min(std::max<size_t>(rank, 1), ascending.size());
    return ascending[rank - 1];
}

std::optional<RateDistribution> DistributionOf(const Samples& samples) {
    if (samples.empty()) return std::nullopt;
    std::vector<double> rates(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        rates[i] = samples[i].currentFps;
    std::sort(rates.begin(), rates.end());
    RateDistribution d;
    d.min = rates.front();
    d.p1 = NearestRank(rates, 1);
    d.p5 = NearestRank(rates, 5);
    d.p50 = NearestRank(rates, 50);
    d.p95 = NearestRank(rates, 95);
    d.p99 = NearestRank(rates, 99);
    d.max = rates.back();
    return d;
}

}  // namespace bench
