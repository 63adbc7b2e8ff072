#include "app/watch.h"

#include <new>

#include "app/console.h"
#include "sys/se_exception.h"

namespace app {
namespace {

// After a fault, the measuring process reports at once; this long without progress means it
// cannot (a fault inside the allocator leaves its lock held).
constexpr int kQuietAfterFaultMs = 5000;

}  // namespace

MeasuringWatch::MeasuringWatch() : memory_(sizeof(bench::RunMirror)) {
    if (memory_.Data() == nullptr) return;
    mirror_ = new (memory_.Data()) bench::RunMirror;
    pid_ = sys::SplitProcess();
    if (pid_ == 0) sys::RecordFaultsIn(&mirror_->faultCode);
}

void MeasuringWatch::Finish() const {
    if (pid_ == 0) mirror_->finished = 1;
}

std::string DeathText(uint32_t faultCode, const sys::ProcessEnd& end) {
    if (faultCode != 0) return GetExceptionText(faultCode);
    if (end.signal != 0) {
        return "The frame server ended the process by signal " +
               sys::SignalDescription(end.signal) +
               (sys::IsAccessSignal(end.signal) ? ", probably a stack overflow in a filter" : "");
    }
    return "The frame server ended the process with exit code " + std::to_string(end.exitCode);
}

int MeasuringWatch::Watch(const ScriptJob& job, const RunSettings& settings,
                          const CommandLineRequest& request, bool& pauseDone) const {
    sys::ForwardStopSignalsTo(pid_);
    sys::ProcessEnd end;
    uint32_t lastProgress = mirror_->progress;
    int quietMs = 0;
    while (!sys::WaitForProcess(pid_, 100, end)) {
        if (mirror_->faultCode == 0 || mirror_->finished != 0) continue;
        const uint32_t progress = mirror_->progress;
        quietMs = progress == lastProgress ? quietMs + 100 : 0;
        lastProgress = progress;
        if (quietMs >= kQuietAfterFaultMs) sys::KillProcess(pid_);
    }
    const int forwarded = sys::ForwardedSignal();
    if (mirror_->finished != 0) {
        pauseDone = true;
        if (end.signal != 0) sys::EndBySignal(end.signal);
        return end.exitCode;
    }
    // Ended as asked (a signal passed on, Ctrl+C twice): as the user wanted, nothing more.
    if (end.signal != 0 && (end.signal == forwarded || sys::IsInterruptSignal(end.signal))) {
        terminal_.Restore(g_utils.ConsoleIsStdout());
        sys::EndBySignal(end.signal);
    }
    terminal_.Restore(g_utils.ConsoleIsStdout());
    const bench::RunMirror& m = *mirror_;
    const std::string text = DeathText(m.faultCode, end);
    const bool measuring = m.stage >= bench::RunMirror::kMeasuring;
    PrintRunError(text, measuring && !m.totals.firstRefresh);
    // The trial run's errors leave no files; the run's own always leave the log.
    if (m.stage == bench::RunMirror::kStarted) return kExitError;
    ScriptJob measured = job;
    if (m.script < request.comparedScripts.size()) {
        measured.setup.scriptPath = request.comparedScripts[m.script];
    }
    if (m.script < request.scanValues.size()) {
        measured.globals = {request.scanValues[m.script]};
        measured.setup.variable = request.scanValues[m.script].Shown();
    }
    WriteResults(RecordFromMirror(measured, m, text), settings, request);
    if (forwarded != 0) sys::EndBySignal(forwarded);
    return kExitError;
}

}  // namespace app
