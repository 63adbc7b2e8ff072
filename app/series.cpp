#include "app/series.h"

#include <algorithm>
#include "app/console.h"
#include "app/scan.h"
#include "report/chart.h"
#include "report/compare.h"
#include "report/reports.h"
#include "report/results.h"
#include "report/scan.h"
#include "sys/file_info.h"
#include "sys/paths.h"

namespace app {
namespace {

// More script than this is no script; a scan reads only its head for the variable.
constexpr size_t kMostScriptTextBytes = size_t{16} << 20;

bool Counts(const bench::RunRecord& run) {
    return (run.end == bench::RunEnd::kCompleted || run.end == bench::RunEnd::kTimeLimit) &&
           run.figures && run.figures->fpsAverage;
}

}  // namespace

std::vector<double> RatesOfCountedRuns(const std::vector<bench::RunRecord>& runs) {
    std::vector<double> rates;
    for (const bench::RunRecord& run : runs) {
        if (!Counts(run)) break;
        rates.push_back(*run.figures->fpsAverage);
    }
    return rates;
}

std::vector<bench::RunRecord> MeasureSeries(const ScriptJob& job, uint32_t runs) {
    std::vector<bench::RunRecord> records;
    ScriptJob each = job;
    for (uint32_t k = 1; k <= runs; ++k) {
        each.clipReport = k == 1;
        each.runLabel = k < runs ? CUtils::FormatString("Run %u of %u", k, runs) : "";
        std::optional<bench::RunRecord> record = MeasureScript(each);
        if (!record) break;
        records.push_back(std::move(*record));
        const bench::RunRecord& done = records.back();
        if (done.end != bench::RunEnd::kCompleted && done.end != bench::RunEnd::kTimeLimit) break;
        // The range the first run resolved, so that no later run asks about it again.
        if (done.range) each.range = {done.range->first, done.range->last, job.range.text};
    }
    return records;
}

bench::SeriesStatistics ReportSeries(const std::vector<bench::RunRecord>& runs) {
    const std::vector<double> rates = RatesOfCountedRuns(runs);
    const bench::SeriesStatistics series = bench::StatisticsOf(rates);
    const bool con = g_utils.ConsoleIsStdout();
    g_utils.Print(con, kWhite, "\n%s", report::SeriesSummaryText(series).c_str());
    for (const std::string& warning : report::SeriesWarnings(series, rates))
        g_utils.Print(con, kCyan, "\n%s\n", warning.c_str());
    return series;
}

int WriteSeriesResults(const std::vector<bench::RunRecord>& runs,
                       const bench::SeriesStatistics& series, const RunSettings& settings,
                       const CommandLineRequest& request, bench::RunMirror* mirror) {
    const bench::RunRecord& last = runs.back();
    const bool failed = last.end == bench::RunEnd::kError;
    const bool reportOnly = last.end == bench::RunEnd::kDeclined;
    std::vector<std::string> errors;
    const auto written = [&](std::string error) {
        if (mirror != nullptr) ++mirror->progress;
        errors.push_back(std::move(error));
    };
    if (settings.CreateLog || failed) {
        written(report::WriteSeriesLogFile(runs, report::SeriesSummaryText(series)));
    }
    if (settings.CreateCSV && !reportOnly) written(report::WriteSeriesCsvFile(runs));
    if (request.jsonRequested) {
        written(report::WriteSeriesResultFile(runs, series, RatesOfCountedRuns(runs)));
    }
    // The chart shows the last run with samples.
    for (auto it = runs.rbegin(); request.chartRequested && it != runs.rend(); ++it) {
        if (it->samples.empty()) continue;
        written(report::WriteChartFile(*it));
        break;
    }
    return ExitCodeAfterWrites(errors, failed, reportOnly);
}

namespace {

// Runs of a comparison unless told otherwise: one run shows no spread.
uint32_t ComparisonRuns(const RunSettings& settings, const CommandLineRequest& request) {
    return request.runsGiven || settings.Runs != 1 ? static_cast<uint32_t>(settings.Runs) : 5;
}

// The variants' runs in rounds, each measuring the next run of every variant in their order,
// after every variant's trial run. false when a trial run or a start failed (said already);
// stopped when a run ended otherwise than complete.
bool MeasureVariants(std::vector<ScriptJob>& jobs, const std::vector<std::string>& names,
                     uint32_t runs, const ScriptJob& job,
                     std::vector<std::vector<bench::RunRecord>>& records, bool& stopped) {
    for (ScriptJob& one : jobs)
        if (!RunTrial(one)) return false;
    records.assign(jobs.size(), {});
    stopped = false;
    for (uint32_t round = 1; round <= runs && !stopped; ++round) {
        for (size_t i = 0; i < jobs.size() && !stopped; ++i) {
            ScriptJob& one = jobs[i];
            if (job.mirror != nullptr) job.mirror->script = static_cast<uint32_t>(i);
            one.runLabel = CUtils::FormatString("%s, run %u of %u", names[i].c_str(), round, runs);
            std::optional<bench::RunRecord> record = MeasureScript(one);
            if (!record) return false;
            records[i].push_back(std::move(*record));
            const bench::RunRecord& done = records[i].back();
            stopped =
                done.end != bench::RunEnd::kCompleted && done.end != bench::RunEnd::kTimeLimit;
            if (done.range) one.range = {done.range->first, done.range->last, job.range.text};
        }
    }
    return true;
}

// The mean of a figure over the runs the statistics count; empty when none has it.
std::optional<double> CountedMean(const std::vector<bench::RunRecord>& runs,
                                  std::optional<double> bench::SummaryFigures::*figure) {
    double sum = 0;
    size_t count = 0;
    for (const bench::RunRecord& run : runs) {
        if (!Counts(run)) break;
        const std::optional<double>& value = (*run.figures).*figure;
        if (!value) continue;
        sum += *value;
        ++count;
    }
    return count > 0 ? std::optional<double>(sum / static_cast<double>(count)) : std::nullopt;
}

}  // namespace

int CompareScripts(const ScriptJob& job, const RunSettings& settings,
                   const CommandLineRequest& request) {
    const uint32_t runs = ComparisonRuns(settings, request);
    const std::vector<std::string>& scripts = request.comparedScripts;
    std::vector<ScriptJob> jobs;
    for (const std::string& script : scripts) {
        ScriptJob one = job;
        one.setup.scriptPath = script;
        one.clipReport = false;
        jobs.push_back(std::move(one));
    }
    // Named by their files, or by their paths where two files share a name.
    std::vector<std::string> names;
    for (const std::string& script : scripts)
        names.push_back(sys::FileNameOf(script));
    for (size_t i = 0; i < scripts.size(); ++i) {
        if (std::count(names.begin(), names.end(), sys::FileNameOf(scripts[i])) > 1) {
            names[i] = scripts[i];
        }
        names[i] = report::TerminalText(names[i], true);
    }
    std::vector<std::vector<bench::RunRecord>> records;
    bool stopped = false;
    if (!MeasureVariants(jobs, names, runs, job, records, stopped)) return kExitError;
    // Every script measured so far: a stop in the first round leaves the last ones out.
    std::vector<report::ScriptRates> rates;
    std::vector<bench::SeriesStatistics> stats;
    for (size_t i = 0; i < scripts.size() && !records[i].empty(); ++i) {
        rates.push_back({names[i], RatesOfCountedRuns(records[i])});
        stats.push_back(bench::StatisticsOf(rates.back().rates));
    }
    const bool con = g_utils.ConsoleIsStdout();
    if (stopped) g_utils.Print(con, kCyan, "\nThe comparison was stopped.\n");
    g_utils.Print(con, kWhite, "%s", report::ScriptsComparisonText(rates).c_str());

    int exitCode = 0;
    for (size_t i = 0; i < rates.size(); ++i) {
        const int written = WriteSeriesResults(records[i], stats[i], settings, request, job.mirror);
        if (written != 0) exitCode = written;
    }
    const bool measured = std::any_of(
        rates.begin(), rates.end(), [](const report::ScriptRates& r) { return !r.rates.empty(); });
    if (request.chartRequested && measured) {
        std::vector<report::ComparedScript> chart;
        for (size_t i = 0; i < rates.size(); ++i) {
            const double half = bench::MeanHalfWidth(stats[i]);
            chart.push_back({rates[i].name, rates[i].rates, stats[i].mean, stats[i].mean - half,
                             stats[i].mean + half});
        }
        const std::string error =
            report::WriteComparisonChartFile(scripts.front(), chart, "Comparison of scripts");
        if (!error.empty()) exitCode = Stop(error);
    }
    return exitCode;
}

std::vector<ScriptJob> ScanJobs(const ScriptJob& job,
                                const std::vector<avs::ScriptVariable>& values) {
    std::vector<ScriptJob> jobs;
    for (const avs::ScriptVariable& value : values) {
        ScriptJob one = job;
        one.globals = {value};
        one.setup.variable = value.Shown();
        one.clipReport = false;
        jobs.push_back(std::move(one));
    }
    return jobs;
}

int ScanScript(const ScriptJob& job, const RunSettings& settings,
               const CommandLineRequest& request) {
    const uint32_t runs = ComparisonRuns(settings, request);
    const std::vector<avs::ScriptVariable>& values = request.scanValues;
    std::vector<ScriptJob> jobs = ScanJobs(job, values);
    std::vector<std::string> names;
    for (const avs::ScriptVariable& value : values)
        names.push_back(report::TerminalText(value.Shown()));
    std::vector<std::vector<bench::RunRecord>> records;
    bool stopped = false;
    if (!MeasureVariants(jobs, names, runs, job, records, stopped)) return kExitError;

    std::string scriptText;
    sys::ReadFileHead(job.setup.scriptPath, scriptText, kMostScriptTextBytes);
    report::ScanTable scan;
    scan.script = sys::FileNameOf(job.setup.scriptPath);
    scan.variable = values.front().name;
    scan.namedByScript = ScriptNamesVariable(scriptText, scan.variable);
    std::vector<std::string> texts;
    for (size_t i = 0; i < values.size() && !records[i].empty(); ++i) {
        report::ScanPoint point;
        point.value = values[i].text;
        point.kind = values[i].kind == avs::ScriptVariable::Kind::kInt     ? "int"
                     : values[i].kind == avs::ScriptVariable::Kind::kFloat ? "float"
                                                                           : "string";
        point.rates = RatesOfCountedRuns(records[i]);
        point.cpu = CountedMean(records[i], &bench::SummaryFigures::cpuAverage);
        point.efficiency = CountedMean(records[i], &bench::SummaryFigures::efficiency);
        scan.points.push_back(std::move(point));
        texts.push_back(values[i].text);
    }
    records.resize(scan.points.size());
    scan.threadCounts =
        report::CountsThreads(scan.variable, PassesToPrefetch(scriptText, scan.variable), texts);
    const bool con = g_utils.ConsoleIsStdout();
    if (stopped) g_utils.Print(con, kCyan, "\nThe scan was stopped.\n");
    g_utils.Print(con, kWhite, "%s", report::ScanComparisonText(scan).c_str());

    // Each value's log and CSV file by its name; one result file and one chart for the scan.
    CommandLineRequest each = request;
    each.jsonRequested = each.chartRequested = false;
    int exitCode = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const int written = WriteSeriesResults(
            records[i], bench::StatisticsOf(scan.points[i].rates), settings, each, job.mirror);
        if (written != 0) exitCode = written;
    }
    std::vector<std::string> errors;
    if (request.jsonRequested) errors.push_back(report::WriteScanResultFile(scan, records));
    const bool measured = std::any_of(scan.points.begin(), scan.points.end(),
                                      [](const report::ScanPoint& p) { return !p.rates.empty(); });
    if (request.chartRequested && measured) {
        errors.push_back(report::WriteScanChartFile(job.setup.scriptPath, scan));
    }
    for (const std::string& error : errors)
        if (!error.empty()) exitCode = Stop(error);
    return exitCode;
}

}  // namespace app
