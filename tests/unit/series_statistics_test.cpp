// Repeated runs: the spread of a series, t quantiles, the ratio of two series with its interval,
// and the verdict in words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "bench/series_statistics.h"
#include "report/compare.h"

namespace bench {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Published table values (4 decimals), and for fractional degrees values found by integrating
// the density numerically (Simpson, 20000 steps) and bisecting: 6 decimals.
TEST(StudentTQuantile, TableValuesAndFractionalDegrees) {
    const struct {
        double probability, degrees, expected, tolerance;
    } cases[] = {
        {0.975, 1, 12.7062, 6e-5},     {0.975, 2, 4.3027, 6e-5},
        {0.975, 4, 2.7764, 6e-5},      {0.975, 8, 2.3060, 6e-5},
        {0.975, 30, 2.0423, 6e-5},     {0.975, kInfinity, 1.95996, 6e-6},
        {0.025, 8, -2.3060, 6e-5},     {0.995, 10, 3.1693, 6e-5},
        {0.975, 2.5, 3.574655, 2e-6},  {0.975, 5.5, 2.501859, 2e-6},
        {0.9, 3.7, 1.557566, 2e-6},    {0.5, 3, 0, 1e-9},
        {0.975, 1e6, 1.9599664, 3e-7},  // z + (z^3 + z) / 4n: 1.9599640 + 2.4e-6
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(StudentTQuantile(c.probability, c.degrees), c.expected, c.tolerance)
            << c.probability << " with " << c.degrees << " degrees";
    }
    EXPECT_EQ(StudentTQuantile(1, 5), kInfinity);
    EXPECT_EQ(StudentTQuantile(0, 5), -kInfinity);
    EXPECT_TRUE(std::isnan(StudentTQuantile(0.975, 0)));
    EXPECT_TRUE(std::isnan(StudentTQuantile(1.5, 5)));
}

// Means and deviations from python3's statistics.mean and stdev.
TEST(SeriesStatistics, SpreadOutliersAndNoise) {
    const struct {
        std::vector<double> fps;
        double mean, deviation;
        std::vector<size_t> outliers;
        bool noisy;
    } cases[] = {
        {{60}, 60, 0, {}, false},
        {{50, 50, 50, 50}, 50, 0, {}, false},
        // MAD 0: a difference within 1 % of the median is no outlier, one beyond it is.
        {{50, 50, 50, 50.4}, 50.1, 0.2, {}, false},
        {{50, 50, 50, 50.6}, 50.15, 0.3, {3}, false},
        // MAD 1: 4 from the median is within 3 scaled MADs (4.45), though beyond 3 MADs.
        {{100, 102, 98, 101, 105}, 101.2, 2.588436, {}, false},
        {{100, 101, 99, 100.5, 80}, 96.1, 9.030504, {4}, true},
        {{100, 100, 102, 130}, 108, 14.696938, {3}, true},
        // Noisy by the sample deviation (6.4 %), not by the population's (4.5 %).
        {{95.5, 104.5}, 100, 6.363961, {}, true},
    };
    for (const auto& c : cases) {
        const SeriesStatistics s = StatisticsOf(c.fps);
        EXPECT_EQ(s.runs, c.fps.size());
        EXPECT_NEAR(s.mean, c.mean, 1e-9);
        EXPECT_NEAR(s.standardDeviation, c.deviation, 1e-6);
        EXPECT_NEAR(s.coefficientOfVariation, c.deviation / c.mean, 1e-8);
        EXPECT_EQ(s.min, *std::min_element(c.fps.begin(), c.fps.end()));
        EXPECT_EQ(s.max, *std::max_element(c.fps.begin(), c.fps.end()));
        EXPECT_EQ(s.outliers, c.outliers) << c.mean;
        EXPECT_EQ(s.noisy, c.noisy) << c.mean;
    }
    for (const double bad : {0.0, -5.0, std::nan(""), kInfinity}) {
        const SeriesStatistics s = StatisticsOf({50, bad, 51});
        EXPECT_EQ(s.runs, 3u);
        EXPECT_EQ(s.mean, 0);
        EXPECT_EQ(s.standardDeviation, 0);
        EXPECT_TRUE(s.outliers.empty());
    }
    // The mean's interval: 4.3027 (t, 2 degrees) * 2 / sqrt(3) = 4.9683; none for one run.
    EXPECT_NEAR(MeanHalfWidth(StatisticsOf({10, 12, 14})), 4.9683, 1e-4);
    EXPECT_EQ(MeanHalfWidth(StatisticsOf({10})), 0.0);
}

TEST(CompareRates, WelchIntervalOnTheLogarithms) {
    const struct {
        std::vector<double> a, b;
        bool spreadKnown;
        double ratio, low, high, degrees;
    } cases[] = {
        // B = 1.25 A, equal spreads: df 2 (n - 1) = 8, se 0.0196177, t 2.3060 (table).
        {{50, 52, 49, 51, 53}, {62.5, 65, 61.25, 63.75, 66.25}, true, 1.25, 1.194712, 1.307847, 8},
        // python3: d 0.1251783, se 0.0199120, df 7.749701, t 2.319033 (integrated density).
        {{40, 41, 39, 40.5},
         {44, 47, 43, 48, 45, 46},
         true,
         1.133350,
         1.082206,
         1.186912,
         7.749701},
        {{50, 50, 50}, {60, 60, 60}, true, 1.2, 1.2, 1.2, kInfinity},
        {{50}, {60, 60}, false, 1.2, 1.2, 1.2, 0},
        {{50, 51}, {}, false, 0, 0, 0, 0},
        {{50, 0}, {60, 61}, false, 0, 0, 0, 0},
        {{50, 51}, {60, std::nan("")}, false, 0, 0, 0, 0},
        {{50, 51}, {60, -kInfinity}, false, 0, 0, 0, 0},
        {{1e-300}, {1e300}, false, 0, 0, 0, 0},  // a ratio beyond a double
    };
    for (const auto& c : cases) {
        const RatioEstimate e = CompareRates(c.a, c.b);
        EXPECT_EQ(e.spreadKnown, c.spreadKnown) << c.ratio;
        EXPECT_NEAR(e.ratio, c.ratio, 2e-6);
        EXPECT_NEAR(e.low, c.low, 5e-6);
        EXPECT_NEAR(e.high, c.high, 5e-6);
        if (std::isinf(c.degrees))
            EXPECT_EQ(e.degreesOfFreedom, kInfinity);
        else
            EXPECT_NEAR(e.degreesOfFreedom, c.degrees, 1e-6);
    }
}

TEST(VerdictSentence, ThreeFormsAndTheDecimalsThatKeepOneApart) {
    const struct {
        size_t runsA, runsB;
        RatioEstimate estimate;
        const char* expected;
    } cases[] = {
        {5,
         5,
         {true, 1.27, 1.22, 1.32, 8},
         "b.avs rendered 1.27 times as fast as a.avs (95 % interval 1.22 to 1.32; 5 runs each)"},
        {5,
         4,
         {true, 0.8, 0.751, 0.849, 7},
         "b.avs rendered 0.80 times as fast as a.avs (95 % interval 0.75 to 0.85; 5 and 4 runs)"},
        {5,
         5,
         {true, 1.01, 0.97, 1.05, 8},
         "b.avs and a.avs rendered equally fast within the noise of these runs (ratio 1.01, 95 % "
         "interval 0.97 to 1.05)"},
        {1,
         1,
         {false, 1.43, 1.43, 1.43, 0},
         "b.avs rendered 1.43 times as fast as a.avs in a single run each; the spread is unknown: "
         "measure with -runs=5 or more to tell a real difference from noise"},
        {5,
         1,
         {false, 0.7, 0.7, 0.7, 0},
         "b.avs rendered 0.70 times as fast as a.avs in 5 runs and a single run; the spread is "
         "unknown: measure with -runs=5 or more to tell a real difference from noise"},
        {5,
         5,
         {true, 1.004, 1.0004, 1.0071, 8},
         "b.avs rendered 1.004 times as fast as a.avs (95 % interval 1.0004 to 1.01; 5 runs each)"},
        {3,
         3,
         {true, 0.998, 0.996, 0.99996, 4},
         "b.avs rendered 0.998 times as fast as a.avs (95 % interval 0.996 to 1.0000; 3 runs "
         "each)"},
        {5,
         5,
         {true, 1.003, 0.99, 1.016, 8},
         "b.avs and a.avs rendered equally fast within the noise of these runs (ratio 1.003, 95 % "
         "interval 0.99 to 1.02)"},
        {2,
         2,
         {true, 1, 1, 1, kInfinity},
         "b.avs and a.avs rendered equally fast within the noise of these runs (ratio 1.00, 95 % "
         "interval 1.00 to 1.00)"},
        {1, 1, {}, "The average frame rates of b.avs and a.avs cannot be compared"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(report::VerdictSentence("a.avs", "b.avs", c.runsA, c.runsB, c.estimate),
                  c.expected);
}

}  // namespace
}  // namespace bench
