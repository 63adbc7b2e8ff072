// The statistics of repeated runs: the spread of one script's runs, and how much faster one
// script renders than another with an interval that the runs' noise allows.
#pragma once

#include <cstddef>
#include <vector>

namespace bench {

// The runs' average frame rates of one script, summarised.
struct SeriesStatistics {
    size_t runs = 0;
    double mean = 0, standardDeviation = 0;  // sample deviation (n - 1); 0 with one run
    double min = 0, max = 0;
    double coefficientOfVariation = 0;  // standardDeviation / mean, a fraction
    std::vector<size_t> outliers;       // indices of the runs far from the others
    bool noisy = false;                 // coefficientOfVariation above 5 %
};

// An outlier (with 3 runs or more) lies further from the median than 3 scaled median absolute
// deviations and than 1 % of the median. A value that is no rate (not above 0, not finite)
// leaves every figure but runs unknown: 0, no outlier, not noisy.
SeriesStatistics StatisticsOf(const std::vector<double>& averageFps);

// The quantile of Student's t distribution: P(T <= t) = probability, for any real
// degreesOfFreedom > 0 (Welch's are fractional); infinity degrees: the normal quantile.
// -infinity and infinity for probabilities 0 and 1; NaN for a probability outside [0, 1] or
// degrees of freedom not above 0.
double StudentTQuantile(double probability, double degreesOfFreedom);

// Half the width of the t-interval of the series' mean rate at that confidence; 0 with fewer
// than two runs.
double MeanHalfWidth(const SeriesStatistics& series, double confidence = 0.95);

// B's speed relative to A: the ratio of the geometric means of the runs' average fps, with
// Welch's t-interval on their logarithms.
struct RatioEstimate {
    bool spreadKnown = false;  // both sides have at least two runs
    double ratio = 0;          // geometric mean of b / geometric mean of a
    double low = 0, high = 0;  // the interval (equal to ratio when the spread is unknown)
    double degreesOfFreedom = 0;
};

// Runs identical on both sides: the interval is the ratio, with infinite degrees of freedom.
// An empty side, a value that is no rate, a confidence outside (0, 1) or a ratio beyond a
// double: unknown (spreadKnown false, every figure 0).
RatioEstimate CompareRates(const std::vector<double>& a, const std::vector<double>& b,
                           double confidence = 0.95);

}  // namespace bench
