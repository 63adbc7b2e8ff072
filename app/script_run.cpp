#include "app/script_run.h"

#include <algorithm>
#include <iterator>

#include "app/console.h"
#include "avs/cycle.h"
#include "bench/display.h"
#include "report/chart.h"
#include "report/reports.h"
#include "report/results.h"
#include "sys/gpu.h"
#include "sys/library.h"
#include "sys/terminal.h"

namespace app {
namespace {

bench::CardDescription CardOf(const CGPUInfo& g) {
    return {g.cardName,      g.gpuName,
            g.memSize,       g.openCLVersion,
            g.driverVersion, std::string(sys::GpuSourceName()) + " " + g.gpuzVersion};
}

// An exception ended the run: its message over the live block's lower end (or on a new line
// before the block), and the record says what ended it.
void ReportCaught(const avs::CycleResult& cycle, bool blockShown, bench::RunRecord& record) {
    sys::ReleaseTerminalState();  // a fault skips the destructors that would
    record.end = bench::RunEnd::kError;
    switch (cycle.caught) {
        case avs::Caught::kAvisynthError:
        case avs::Caught::kFault:
            // The log says what ended the run, as it does for AviSynth's errors.
            record.errorText = cycle.text;
            break;
        case avs::Caught::kOther:
        case avs::Caught::kNothing:
            record.errorText = cycle.systemText.empty() ? "Unknown exception" : cycle.systemText;
            break;
    }
    const bool sameLine = blockShown && cycle.caught == avs::Caught::kAvisynthError;
    PrintRunError(record.errorText, blockShown, sameLine);
}

}  // namespace

void PrintRunError(const std::string& text, bool blockShown, bool sameLine) {
    ClearLine("\r");
    if (blockShown) {
        g_utils.CursorUp(2);
        ClearLine("\n");
        ClearLine("\n");
        g_utils.CursorUp(2);
    }
    g_utils.Print(g_utils.ConsoleIsStdout(), kCyan, sameLine ? "\r%s\n" : "\n%s\n", text.c_str());
}

bench::RunRecord RecordFromMirror(const ScriptJob& job, const bench::RunMirror& mirror,
                                  const std::string& errorText) {
    bench::RunRecord record;
    record.setup = job.setup;
    record.refreshInterval = mirror.refreshInterval;
    const uint32_t stage = mirror.stage.load();
    if (stage >= bench::RunMirror::kClipKnown) {
        avs::VideoInfo clip;
        clip.raw = mirror.clip;
        record.clip = clip;
        record.mtAvailable = mirror.mtAvailable != 0;
        record.mtMode = mirror.mtMode;
    }
    if (stage >= bench::RunMirror::kMeasuring) {
        record.range = mirror.range;
        record.refreshInterval = mirror.totals.refreshInterval;
        const size_t count = std::min<size_t>(mirror.totals.recordCount, std::size(mirror.samples));
        record.samples.assign(mirror.samples, mirror.samples + count);
    }
    if (job.gpu != nullptr) {
        record.gpu = bench::GpuRecord{};
        if (record.clip) record.gpu->card = CardOf(*job.gpu);
        record.gpu->last = mirror.lastGpu;
        record.gpu->vpuAvailable = job.gpu->cudaCapable;
    }
    record.end = bench::RunEnd::kError;
    record.errorText = errorText;
    record.rates = bench::DistributionOf(record.samples);
    return record;
}

std::optional<bench::RunRecord> MeasureScript(const ScriptJob& job) {
    return MeasureScript(job,
                         [&job] { return bench::MakeLiveInstruments(job.gpu, job.setup.display); });
}

std::optional<bench::RunRecord> MeasureScript(const ScriptJob& job,
                                              const InstrumentsFactory& makeInstruments) {
    const std::string& scriptPath = job.setup.scriptPath;
    bench::RunRecord record;
    record.setup = job.setup;
    record.refreshInterval = job.refreshInterval;
    if (job.gpu != nullptr) record.gpu = bench::GpuRecord{};
    // Outside the cycle's work, so that what the loop gathered survives an exception; in the
    // mirror when there is one, so that it survives the process too.
    bench::RunMirror* const mirror = job.mirror;
    bench::RunTotals ownTotals;
    bench::GpuFigures ownGpu;
    bench::RunTotals& totals = mirror != nullptr ? mirror->totals : ownTotals;
    if (mirror != nullptr) mirror->refreshInterval = job.refreshInterval;
    bench::GpuFigures& lastGpu = mirror != nullptr ? mirror->lastGpu : ownGpu;
    // Also outside: a fault leaves the work without destructors, and the instruments hold the
    // keyboard mode and the interrupt handler.
    std::unique_ptr<bench::Instruments> instruments;

    const avs::CycleResult cycle =
        avs::RunCycle({job.dllPath, job.interfaceVersion, false}, [&](avs::ScriptSession& s) {
            StatusLine("Loading script...");
            s.value = avs::ImportScript(s, scriptPath, job.globals);
            ClearLine("\r");
            if (!s.value.IsClip()) {
                s.env.ThrowError("\"%s\":\nScript did not return a clip", scriptPath.c_str());
            }
            avs::ApplyMultiThreading(s, job.invokeDistributor);
            s.clip = s.env.TakeClip(s.value);
            s.videoInfo = s.clip.GetVideoInfo();
            record.clip = s.videoInfo;
            record.mtAvailable = s.mtAvailable != 0;
            record.mtMode = s.mtMode;
            if (mirror != nullptr) {
                mirror->clip = s.videoInfo.raw;
                mirror->mtAvailable = record.mtAvailable ? 1 : 0;
                mirror->mtMode = s.mtMode;
                mirror->stage = bench::RunMirror::kClipKnown;
            }

            if (job.clipReport)
                report::PrintClipInfo(s.videoInfo, record.mtAvailable, record.mtMode);
            if (job.gpu != nullptr) record.gpu->card = CardOf(*job.gpu);
            if (job.clipInfoOnly) {
                record.end = bench::RunEnd::kInfo;
                return;
            }
            // The trial run refused such a clip already, unless the script changed since.
            if (s.videoInfo.raw.num_frames <= 0) {
                s.env.ThrowError("%s", avs::NoFramesText(scriptPath).c_str());
            }
            bench::FrameRange range;
            if (!bench::ResolveFrameRange(s.videoInfo, job.range, range)) {
                record.end = bench::RunEnd::kDeclined;
                return;
            }
            record.range = range;
            if (mirror != nullptr) {
                mirror->range = range;
                mirror->stage = bench::RunMirror::kMeasuring;
            }
            // Once for a whole series: between two runs a signal must not find the default.
            if (job.termination != nullptr && !job.termination->has_value()) {
                job.termination->emplace();
            }
            instruments = makeInstruments();
            const bench::RunEnd end = bench::MeasureFrames(
                s.clip, range, job.refreshInterval, job.timeLimitSeconds, *instruments,
                record.samples, totals, lastGpu, mirror != nullptr ? mirror->samples : nullptr,
                mirror != nullptr ? std::size(mirror->samples) : 0);
            instruments.reset();
            record.refreshInterval = totals.refreshInterval;  // widened for long ranges
            avs::ReleaseSession(s);
            // A run that stopped the series shows its summary, as a single run would.
            if (job.runLabel.empty() ||
                (end != bench::RunEnd::kCompleted && end != bench::RunEnd::kTimeLimit)) {
                bench::PrintSummary(totals, job.gpu != nullptr ? &lastGpu : nullptr,
                                    job.setup.display);
            } else {
                bench::PrintRunLine(totals, bench::RunLineText(job.runLabel, totals, end));
            }
            record.totals = totals;
            record.end = end;
        });
    instruments.reset();

    if (mirror != nullptr && record.samples.empty() && totals.recordCount > 0) {
        // An exception left the loop before its samples were copied out of the mirror.
        const size_t count = std::min<size_t>(totals.recordCount, std::size(mirror->samples));
        record.samples.assign(mirror->samples, mirror->samples + count);
    }
    record.samples.resize(totals.recordCount);
    if (record.gpu) {
        record.gpu->last = lastGpu;
        record.gpu->vpuAvailable = job.gpu->cudaCapable;
    }
    const bool con = g_utils.ConsoleIsStdout();
    switch (cycle.failure) {
        case avs::CycleFailure::kLoad:
            g_utils.Print(con, kCyan, "\nCannot load %s\n%s\n",
                          sys::AvisynthLibraryFileName().c_str(), cycle.systemText.c_str());
            return std::nullopt;
        case avs::CycleFailure::kEntryPoint:
            g_utils.Print(con, kCyan, "\n%s\n", cycle.text.c_str());
            return std::nullopt;
        case avs::CycleFailure::kEnvironment:
            g_utils.Print(con, kCyan, "\nCould not create IScriptenvironment\n");
            return std::nullopt;
        case avs::CycleFailure::kCaught:
            ReportCaught(cycle, !totals.firstRefresh, record);
            break;
        case avs::CycleFailure::kNone:
        case avs::CycleFailure::kUnload:  // the program is done with the library either way
            break;
    }
    if (record.totals) record.figures = bench::SummaryFiguresOf(*record.totals);
    record.rates = bench::DistributionOf(record.samples);
    return record;
}

bool RunTrial(ScriptJob& job) {
    StatusLine("Analysing script...");
    std::string errorText;
    job.refreshInterval = avs::EstimateRefreshInterval(
        {job.dllPath, job.interfaceVersion, job.invokeDistributor, job.globals},
        job.setup.scriptPath, errorText);
    ClearLine("\r");
    if (job.refreshInterval != 0 && errorText.empty()) return true;
    // In a scan, the value the script could not take.
    const std::string value =
        job.setup.variable.empty() ? "" : "With " + job.setup.variable + ":\n";
    Stop("\n" + value + errorText + "\n");
    return false;
}

// The files the run leaves, and its exit code. A run that an error ended always leaves its
// log, which says what ended it; a report-only ending (-info, a declined range) leaves no CSV
// file, and a writer's error does not change its exit code.
int WriteResults(const bench::RunRecord& record, const RunSettings& settings,
                 const CommandLineRequest& request, bench::RunMirror* mirror) {
    const bool failed = record.end == bench::RunEnd::kError;
    const bool reportOnly =
        record.end == bench::RunEnd::kInfo || record.end == bench::RunEnd::kDeclined;
    std::vector<std::string> errors;
    const auto write = [&](std::string (*writer)(const bench::RunRecord&)) {
        if (mirror != nullptr) ++mirror->progress;
        errors.push_back(writer(record));
    };
    if (settings.CreateLog || failed) write(report::WriteLogFile);
    // The samples are the run's result: the CSV file is written whatever became of the log.
    if (settings.CreateCSV && !reportOnly) write(report::WriteCsvFile);
    if (request.jsonRequested) write(report::WriteResultFile);
    if (request.chartRequested && !record.samples.empty()) write(report::WriteChartFile);
    return ExitCodeAfterWrites(errors, failed, reportOnly);
}

int ExitCodeAfterWrites(const std::vector<std::string>& errors, bool failed, bool reportOnly) {
    int exitCode = failed ? kExitError : 0;
    for (const std::string& text : errors) {
        if (text.empty()) continue;
        Stop(text);
        if (!reportOnly) exitCode = kExitError;
    }
    return exitCode;
}

}  // namespace app
