#include "bench/statistics.h"

#include <algorithm>
#include <cmath>

namespace bench {
namespace {

std::optional<double> IfFinite(bool known, double value) {
    return known && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

}  // namespace

SummaryFigures SummaryFiguresOf(const RunTotals& t) {
    const bool extremes = ExtremesKnown(t);
    const bool average = AverageKnown(t);
    SummaryFigures f;
    f.fpsAverage = IfFinite(average, t.averageFps);
    f.fpsMin = IfFinite(extremes, t.minFps);
    f.fpsMax = IfFinite(extremes, t.maxFps);
    f.tpfAverage = IfFinite(average, 1000.0 / t.averageFps);
    f.tpfMin = IfFinite(extremes, 1000.0 / t.maxFps);
    f.tpfMax = IfFinite(extremes, 1000.0 / t.minFps);
    f.efficiency = IfFinite(t.cpuAverage != 0, t.averageFps / t.cpuAverage);
    f.cpuAverage = t.cpuAverage;
    f.physicalPeakMB = t.peakPhysicalMB;
    f.virtualPeakMB = t.peakVirtualMB;
    f.threads = t.threadCount;
    return f;
}

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
