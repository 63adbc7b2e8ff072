// The chart of a run: frames per second over the frame number, with the average, the 1 % low
// and the CPU (and GPU) load, as a standalone SVG file beside the script. The chart of a
// comparison: each script's runs and interval on one axis.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bench/record.h"
#include "report/scan.h"

namespace report {

struct ChartPoint {
    double x = 0, y = 0;
};

// Cuts the points into at most `buckets` runs of neighbours and keeps the lowest and the
// highest point of each, in their order, so that a dip narrower than a pixel still shows.
// At most 2 * buckets points come out; fewer points than that are kept as they are.
std::vector<ChartPoint> MinMaxBuckets(const std::vector<ChartPoint>& points, size_t buckets);

// An axis from low to high with ticks every step: 1, 2 or 5 times a power of ten, about
// `ticks` of them, both ends on a tick. The step is at least `minStep` if that is given
// (1 keeps whole numbers such as frames on whole ticks).
struct AxisScale {
    double low = 0, high = 1, step = 1;
};
AxisScale NiceScale(double low, double high, int ticks, double minStep = 0);

// A tick's label: as many decimals as the step needs, thousands grouped with commas. Compact
// labels from 10,000 up count thousands, millions, ... instead ("250k", "1.5M", "12G"), past
// the prefixes a power of ten ("1.2e30"), so that they stay short.
std::string TickLabel(double value, double step, bool compact = false);

// The text safe inside XML: markup characters escaped, control characters and invalid UTF-8
// replaced by U+FFFD.
std::string XmlEscaped(const std::string& text);

// The whole SVG document of a run with samples; "" without them.
std::string ChartSvg(const bench::RunRecord& record);

// Writes script.svg beside the script. "" on success, else the message to print.
std::string WriteChartFile(const bench::RunRecord& record);

// One script of a comparison as its chart shows it.
struct ComparedScript {
    std::string name;            // the script's file name, as given (escape it for XML)
    std::vector<double> runFps;  // each run's average frames per second, in run order
    double mean = 0;             // the centre of its interval (the caller's estimate)
    double low = 0, high = 0;    // its 95 % interval; low == high when the spread is unknown
};

// The SVG document: one row per script in the given order, each run a dot at its rate, the
// interval a bar with the centre marked, on a shared frames-per-second axis. A value that is not
// a finite positive rate is left out. "" when no script has a run.
std::string ComparisonChartSvg(const std::vector<ComparedScript>& scripts,
                               const std::string& title);

// "<directory of first script>/<its stem>.compare.svg"
std::string ComparisonChartPath(const std::string& firstScriptPath);

// Writes it there. "" on success, else the message to print (as WriteChartFile does).
std::string WriteComparisonChartFile(const std::string& firstScriptPath,
                                     const std::vector<ComparedScript>& scripts,
                                     const std::string& title);

// The SVG document of a scan: frames per second against the value (the values evenly apart, in
// their order), each value's mean with its 95 % interval, and its CPU use on a second axis;
// titled with the script and the variable. "" when no value has a run.
std::string ScanChartSvg(const ScanTable& scan);

// Writes "<directory of script>/<its stem>.scan.svg". "" on success, else the message to print.
std::string WriteScanChartFile(const std::string& scriptPath, const ScanTable& scan);

}  // namespace report
