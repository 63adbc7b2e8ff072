#include "app/series.h"

#include <algorithm>
#include "app/console.h"
#include "report/chart.h"
#include "report/compare.h"
#include "report/reports.h"
#include "report/results.h"
#include "sys/paths.h"

namespace app {
namespace {

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

int CompareScripts(const ScriptJob& job, const RunSettings& settings,
                   const CommandLineRequest& request) {
    // One run shows no spread: a comparison takes five unless told otherwise.
    const uint32_t runs =
        request.runsGiven || settings.Runs != 1 ? static_cast<uint32_t>(settings.Runs) : 5;
    const std::vector<std::string>& scripts = request.comparedScripts;
    std::vector<ScriptJob> jobs;
    for (const std::string& script : scripts) {
        ScriptJob one = job;
        one.setup.scriptPath = script;
        one.clipReport = false;
        if (!RunTrial(one)) return kExitError;
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
    std::vector<std::vector<bench::RunRecord>> records(scripts.size());
    bool stopped = false;
    for (uint32_t round = 1; round <= runs && !stopped; ++round) {
        for (size_t i = 0; i < jobs.size() && !stopped; ++i) {
            ScriptJob& one = jobs[i];
            if (job.mirror != nullptr) job.mirror->script = static_cast<uint32_t>(i);
            one.runLabel = CUtils::FormatString("%s, run %u of %u", names[i].c_str(), round, runs);
            std::optional<bench::RunRecord> record = MeasureScript(one);
            if (!record) return kExitError;
            records[i].push_back(std::move(*record));
            const bench::RunRecord& done = records[i].back();
            stopped =
                done.end != bench::RunEnd::kCompleted && done.end != bench::RunEnd::kTimeLimit;
            if (done.range) one.range = {done.range->first, done.range->last, job.range.text};
        }
    }
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

}  // namespace app
