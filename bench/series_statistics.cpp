#include "bench/series_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace bench {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Keeps the continued fraction's terms off zero.
constexpr double kTiny = 1e-300;
// Beyond this many degrees of freedom the t quantile is the normal one to 1e-6 and the
// continued fraction grows slow.
constexpr double kNormalDegrees = 1e7;

bool AllRates(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(),
                       [](double v) { return v > 0 && std::isfinite(v); });
}

struct Moments {
    double mean = 0, variance = 0;  // sample variance (n - 1); 0 with one value
};

// Summed as distances from the first value: equal values give exactly their value and 0.
Moments MomentsOf(const std::vector<double>& values) {
    Moments m;
    if (values.empty()) return m;
    const double n = static_cast<double>(values.size());
    double shift = 0;
    for (const double v : values)
        shift += (v - values.front()) / n;
    m.mean = values.front() + shift;
    if (values.size() < 2) return m;
    double squares = 0;
    for (const double v : values)
        squares += (v - m.mean) * (v - m.mean);
    m.variance = squares / (n - 1);
    return m;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

std::vector<double> Logarithms(const std::vector<double>& values) {
    std::vector<double> logs(values.size());
    std::transform(values.begin(), values.end(), logs.begin(),
                   [](double v) { return std::log(v); });
    return logs;
}

double Guarded(double v) {
    return std::fabs(v) < kTiny ? kTiny : v;
}

// The continued fraction of the incomplete beta function I_x(a, b), by Lentz's method; it
// converges fast for x below (a + 1) / (a + b + 2).
double BetaFraction(double a, double b, double x) {
    double c = 1, d = 1 / Guarded(1 - (a + b) * x / (a + 1));
    double fraction = d;
    for (int m = 1; m <= 100000; ++m) {
        const double twice = 2.0 * m;
        const double even = m * (b - m) * x / ((a + twice - 1) * (a + twice));
        d = 1 / Guarded(1 + even * d);
        c = Guarded(1 + even / c);
        fraction *= d * c;
        const double odd = -(a + m) * (a + b + m) * x / ((a + twice) * (a + twice + 1));
        d = 1 / Guarded(1 + odd * d);
        c = Guarded(1 + odd / c);
        fraction *= d * c;
        if (std::fabs(d * c - 1) < 1e-15) break;
    }
    return fraction;
}

// The regularised incomplete beta function I_x(a, b), with y = 1 - x and the logarithms of both
// given apart: x may be too small for a double where its logarithm is not.
double RegularisedBeta(double a, double b, double x, double y, double logX, double logY) {
    const double front =
        std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * logX + b * logY);
    if (x < (a + 1) / (a + b + 2)) return front * BetaFraction(a, b, x) / a;
    return 1 - front * BetaFraction(b, a, y) / b;
}

// P(T > t) for t >= 0: falls from 1/2 at 0.
double UpperTail(double t, double degreesOfFreedom) {
    if (degreesOfFreedom > kNormalDegrees) return 0.5 * std::erfc(t / std::sqrt(2.0));
    // By df / t^2 rather than t^2 / df: t^2 overflows long before the tail is 0 at small df.
    const double inverse = std::sqrt(degreesOfFreedom) / t;
    const double squared = inverse * inverse;
    if (!std::isfinite(squared)) return 0.5;
    const double x = squared / (1 + squared), y = 1 / (1 + squared);
    const double logY = -std::log1p(squared);
    const double logX = std::log(degreesOfFreedom) - 2 * std::log(t) + logY;
    return 0.5 * RegularisedBeta(degreesOfFreedom / 2, 0.5, x, y, logX, logY);
}

}  // namespace

SeriesStatistics StatisticsOf(const std::vector<double>& averageFps) {
    SeriesStatistics s;
    s.runs = averageFps.size();
    if (averageFps.empty() || !AllRates(averageFps)) return s;
    const Moments moments = MomentsOf(averageFps);
    s.mean = moments.mean;
    s.standardDeviation = std::sqrt(moments.variance);
    const auto extremes = std::minmax_element(averageFps.begin(), averageFps.end());
    s.min = *extremes.first;
    s.max = *extremes.second;
    s.coefficientOfVariation = s.standardDeviation / s.mean;
    s.noisy = s.coefficientOfVariation > 0.05;
    if (averageFps.size() < 3) return s;
    // Median and MAD, which one stray run cannot drag along as it drags mean and deviation.
    const double median = Median(averageFps);
    std::vector<double> distances(averageFps.size());
    for (size_t i = 0; i < averageFps.size(); ++i)
        distances[i] = std::fabs(averageFps[i] - median);
    const double limit = std::max(3 * 1.4826 * Median(distances), 0.01 * median);
    for (size_t i = 0; i < distances.size(); ++i)
        if (distances[i] > limit) s.outliers.push_back(i);
    return s;
}

double StudentTQuantile(double probability, double degreesOfFreedom) {
    if (!(probability >= 0 && probability <= 1) || !(degreesOfFreedom > 0))
        return std::numeric_limits<double>::quiet_NaN();
    if (probability == 0) return -kInfinity;
    if (probability == 1) return kInfinity;
    // Solved on the smaller tail, where the probability keeps its digits.
    const double tail = std::min(probability, 1 - probability);
    const double sign = probability < 0.5 ? -1 : 1;
    double low = 0, high = 1;
    while (UpperTail(high, degreesOfFreedom) > tail) {
        low = high;
        high *= 2;
        if (!std::isfinite(high)) return sign * kInfinity;
    }
    for (int i = 0; i < 200 && high - low > 1e-12 * high; ++i) {
        const double middle = low + (high - low) / 2;
        if (UpperTail(middle, degreesOfFreedom) > tail)
            low = middle;
        else
            high = middle;
    }
    return sign * (low + (high - low) / 2);
}

RatioEstimate CompareRates(const std::vector<double>& a, const std::vector<double>& b,
                           double confidence) {
    RatioEstimate e;
    if (a.empty() || b.empty() || !AllRates(a) || !AllRates(b) ||
        !(confidence > 0 && confidence < 1))
        return e;
    const Moments logA = MomentsOf(Logarithms(a)), logB = MomentsOf(Logarithms(b));
    const double difference = logB.mean - logA.mean;
    const double ratio = std::exp(difference);
    if (!(ratio > 0) || !std::isfinite(ratio)) return e;
    e.ratio = e.low = e.high = ratio;
    if (a.size() < 2 || b.size() < 2) return e;
    e.spreadKnown = true;
    const double nA = static_cast<double>(a.size()), nB = static_cast<double>(b.size());
    const double shareA = logA.variance / nA, shareB = logB.variance / nB;
    const double squaredError = shareA + shareB;
    if (squaredError == 0) {
        e.degreesOfFreedom = kInfinity;
        return e;
    }
    // Welch-Satterthwaite.
    const double spread = shareA * shareA / (nA - 1) + shareB * shareB / (nB - 1);
    e.degreesOfFreedom = spread > 0 ? squaredError * squaredError / spread : kInfinity;
    const double margin =
        StudentTQuantile((1 + confidence) / 2, e.degreesOfFreedom) * std::sqrt(squaredError);
    e.low = std::exp(difference - margin);
    e.high = std::exp(difference + margin);
    return e;
}

double MeanHalfWidth(const SeriesStatistics& series, double confidence) {
    if (series.runs < 2) return 0.0;
    const double runs = static_cast<double>(series.runs);
    return StudentTQuantile((1.0 + confidence) / 2.0, runs - 1.0) * series.standardDeviation /
           std::sqrt(runs);
}

}  // namespace bench
