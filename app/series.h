// A script measured again and again, each run a fresh import in a fresh environment, after
// one trial run; the series' statistics, warnings and files.
#pragma once

#include <cstdint>
#include <vector>

#include "app/command_line.h"
#include "app/script_run.h"
#include "app/settings.h"
#include "bench/record.h"
#include "bench/series_statistics.h"

namespace app {

// The runs whose average rate the statistics take: every run up to the first that did not
// complete its range or its time limit. Their rates, in run order.
std::vector<double> RatesOfCountedRuns(const std::vector<bench::RunRecord>& runs);

// Measures the script `runs` times (the trial run already made: job.refreshInterval is set).
// Each run's live block gives way to its line, the last one's to the summary; a run that is
// cancelled, declined or ended by an error ends the series. Empty when the frame server
// could not be started for the first run.
std::vector<bench::RunRecord> MeasureSeries(const ScriptJob& job, uint32_t runs);

// Prints the series' lines and warnings below the summary; its statistics.
bench::SeriesStatistics ReportSeries(const std::vector<bench::RunRecord>& runs);

// The files a series leaves in their series layout, and its exit code, as WriteResults.
int WriteSeriesResults(const std::vector<bench::RunRecord>& runs,
                       const bench::SeriesStatistics& series, const RunSettings& settings,
                       const CommandLineRequest& request, bench::RunMirror* mirror = nullptr);

// -compare of scripts: every script's trial run, then the rounds, each measuring the next run
// of every script in their order; the table and the verdicts, each script's files and the
// comparison's chart. The exit code.
int CompareScripts(const ScriptJob& job, const RunSettings& settings,
                   const CommandLineRequest& request);

// The jobs of a scan: the script's job with each value set before its import, and each value
// naming its run's files.
std::vector<ScriptJob> ScanJobs(const ScriptJob& job,
                                const std::vector<avs::ScriptVariable>& values);

// -scan: the script's variants, one per value, compared as scripts are; the scan's table,
// each value's log and CSV file, one result file and the chart of the scan. The exit code.
int ScanScript(const ScriptJob& job, const RunSettings& settings,
               const CommandLineRequest& request);

}  // namespace app
