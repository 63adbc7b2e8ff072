// A run's result as data for other programs: the JSON result file beside the script, written
// from a run's record and read back into one. Building and reading the text is pure; only
// WriteResultFile touches the disk.
#pragma once

#include <string>
#include <string_view>

#include <vector>

#include "bench/record.h"
#include "bench/series_statistics.h"
#include "report/scan.h"

namespace report {

// The JSON's format marker; the version changes only if a field ever had to change meaning.
constexpr const char* kResultFormat = "trevalo-result";
constexpr int kResultFormatVersion = 1;

// How a run ended, as the result file and the chart name it.
const char* EndName(bench::RunEnd end);

// The result file's text: pretty-printed JSON, "n/a" figures as null, invalid UTF-8 replaced.
std::string ResultJson(const bench::RunRecord& record);

// A series of runs of one script, however many it has: the series' facts as for one run,
// "end" as its last run ended, then "series" (its statistics, runs numbered from 1) and
// "runs", each with its number, end, error, summary, gpu, distribution and samples. rates:
// the counted runs' average rates, which the statistics took, kept as series.runRates.
std::string SeriesResultJson(const std::vector<bench::RunRecord>& runs,
                             const bench::SeriesStatistics& series,
                             const std::vector<double>& rates);

// A scan: the facts of the script as for a series, "end" as the scan ended, then "scan": the
// variable, whether its values count threads, and each value (as typed, with its kind) with its
// CPU use, efficiency index, statistics and runs; the values' texts, counted runs and their
// rates also as flat arrays (valueTexts, runCounts, runRates) for a comparison to read. runs[i]
// holds the runs of scan.points[i].
std::string ScanResultJson(const ScanTable& scan,
                           const std::vector<std::vector<bench::RunRecord>>& runs);
std::string WriteScanResultFile(const ScanTable& scan,
                                const std::vector<std::vector<bench::RunRecord>>& runs);

// Writes script.json beside the script. "" on success, else the message to print.
std::string WriteResultFile(const bench::RunRecord& record);
std::string WriteSeriesResultFile(const std::vector<bench::RunRecord>& runs,
                                  const bench::SeriesStatistics& series,
                                  const std::vector<double>& rates);

// The end a result file names; an unknown name is an error's.
bench::RunEnd EndOfName(const std::string& name);

// Reads what a comparison needs of a result file's text into a record: the script, the
// AviSynth version, the clip's size and frames, the range, the summary's figures as the file
// states them and the rates' distribution (not the samples). false with the reason ("is not JSON
// ...", "is not a Trevalo result file", ...) when the text is not a Trevalo result of a known
// format version with a summary, or a figure of it is one that no run writes there (a rate not
// above 0, a percentage above 100, a count that is not whole or beyond its type, a range whose
// first frame is after its last: "is not a Trevalo result file (summary.fpsAverage is not a
// figure a run can produce)"). Only those fields are kept while the text is parsed, each text
// of them at most 1 MiB: whatever else the text holds, at any depth and of any size, costs no
// memory. The machine is read as well where the file names one, and how the run ended. A
// series' file gives its mean, lowest and highest run rate as the average, minimum and maximum
// rate, and its counted runs' rates (series.runRates, at most kMostRuns) as seriesRates. A
// scan's file gives its variable and each value's counted rates (scanVariable, scanValues),
// and no summary figures.
bool ReadResultFile(std::string_view text, bench::RunRecord& record, std::string& reason);

}  // namespace report
