// A run's result as data for other programs: the JSON result file beside the script, and the
// statistics it carries. Building the text is pure; only WriteResultFile touches the disk.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "avs/host.h"
#include "bench/measure.h"
#include "report/reports.h"

namespace report {

// The JSON's format marker; the version changes only if a field ever had to change meaning.
constexpr const char* kResultFormat = "trevalo-result";
constexpr int kResultFormatVersion = 1;

// How a run ended, as the result file names it.
namespace end {
constexpr const char* kCompleted = "completed";
constexpr const char* kTimeLimit = "time limit";
constexpr const char* kCancelled = "cancelled";
constexpr const char* kDeclined = "declined";  // an invalid range, the whole clip declined
constexpr const char* kInfo = "info";          // -info: the clip described, nothing measured
constexpr const char* kError = "error";
}  // namespace end

const char* EndName(bench::RunEnd runEnd);

// The stored interval rates: extremes and nearest-rank percentiles.
struct RateDistribution {
    double min = 0, p1 = 0, p5 = 0, p50 = 0, p95 = 0, p99 = 0, max = 0;
};

// The value of rank ceil(percent / 100 * n) (at least 1) in the ascending values.
double NearestRank(const std::vector<double>& ascending, double percent);

// Empty without samples.
std::optional<RateDistribution> DistributionOf(const bench::FrameSample* samples, size_t count);

// The GPU monitor's part: the card and the summary's figures.
struct GpuResult {
    CardDescription card;
    bench::GpuFigures figures;  // the last readings, for the memory figures
    bool vpuAvailable = false;
};

// Everything a result file records. An empty optional is a part the run never reached.
struct RunResult {
    std::string programVersion, architecture, date;
    std::string scriptPath, switches;
    std::string avisynthVersion, avisynthFileVersion;
    int avisynthInterfaceVersion = 0;
    std::optional<avs::VideoInfo> clip;
    std::optional<bench::FrameRange> range;
    uint32_t refreshInterval = 0;  // 0: not chosen (-info)
    std::string end;
    std::string errorText;
    std::optional<bench::RunTotals> summary;  // when the summary was printed
    std::optional<GpuResult> gpu;             // when the GPU was monitored
    const bench::FrameSample* samples = nullptr;
    size_t sampleCount = 0;
};

// The result file's text: pretty-printed JSON, "n/a" figures as null, invalid UTF-8 replaced.
std::string ResultJson(const RunResult& result);

// Writes script.json beside the script. "" on success, else the message to print.
std::string WriteResultFile(const RunResult& result);

}  // namespace report
