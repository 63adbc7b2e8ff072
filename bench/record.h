// A finished run as one value: what was measured and with what, how it ended, its totals,
// its samples and their statistics. The measuring fills it; the log, the CSV file, the result
// file, the chart and the comparison read it.
#pragma once

#include <optional>
#include <string>

#include "avs/avisynth_info.h"
#include "avs/host.h"
#include "bench/display.h"
#include "bench/measure.h"
#include "bench/statistics.h"
#include "sys/machine.h"

namespace bench {

// The graphics card, as its monitor describes it.
struct CardDescription {
    std::string cardName, gpuName, memorySize, openClVersion, driverVersion, sourceVersion;
};

// The GPU monitor's part of a run.
struct GpuRecord {
    std::optional<CardDescription> card;  // once the clip report has described the run
    GpuFigures last;                      // the last readings, for the memory figures
    bool vpuAvailable = false;            // the card reports its video engine's load
};

// What a run is asked to do and with what, known before it starts.
struct RunSetup {
    std::string programVersion;  // "a.b.c"
    std::string architecture;    // "x64", ...
    std::string date;            // local, ISO 8601 with the offset
    std::string scriptPath;
    std::string switches;  // the recognised switches as typed
    avs::Installation avisynth;
    sys::MachineFacts machine;  // all unknown in a result file that names none
    DisplayOptions display;
    // In a scan, the variable this run set ("threads=4"): it names the run's log and CSV file.
    std::string variable;
};

// "a.b.c (x64)": the program as the banner and the log name it.
inline std::string BannerVersion(const RunSetup& setup) {
    return setup.programVersion + " (" + setup.architecture + ")";
}

// No series measures a script more often than this.
constexpr uint32_t kMostRuns = 1000;

// One value of a scan as its result file keeps it: the value as typed, its counted runs' rates.
struct ScanValueRates {
    std::string value;
    std::vector<double> rates;
};

struct RunRecord {
    RunSetup setup;
    // An empty optional is a part the run never reached.
    std::optional<avs::VideoInfo> clip;
    bool mtAvailable = false;  // the frame server told its multi-threading mode
    int mtMode = 0;
    std::optional<FrameRange> range;
    uint32_t refreshInterval = 0;  // 0: not chosen (-info)
    RunEnd end = RunEnd::kError;
    std::string errorText;            // what ended the run, with kError
    std::optional<RunTotals> totals;  // once the summary was shown
    std::optional<GpuRecord> gpu;     // when the GPU was monitored
    Samples samples;                  // the stored samples
    // The statistics, computed once when the run ends, or read back from a result file.
    std::optional<SummaryFigures> figures;  // with the summary
    std::optional<RateDistribution> rates;  // of the stored samples
    // Read back from the result file of a series: the average rates of its counted runs.
    std::vector<double> seriesRates;
    // Read back from the result file of a scan: its variable and each value's counted rates.
    std::string scanVariable;
    std::vector<ScanValueRates> scanValues;
};

}  // namespace bench
