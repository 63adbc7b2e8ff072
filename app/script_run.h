// The measuring of one script: the run's own cycle of the frame server, from the import to
// the summary, given back as one record. It prints what the user watches (the clip report,
// the range prompt, the live block, the summary, an error's message) but never pauses or ends
// the program: the run decides what follows.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"
#include "avs/script_variable.h"
#include "bench/record.h"
#include "bench/run_mirror.h"
#include "sys/terminal.h"

class CGPUInfo;

namespace app {

// What the measuring of a script is given, decided before it by the run.
struct ScriptJob {
    bench::RunSetup setup;  // copied into the record; its script is the one measured
    std::string dllPath;    // the frame server's library; "" for the default name
    int interfaceVersion = 0;
    bool invokeDistributor = true;
    bool clipInfoOnly = false;     // -info: the clip report, no measuring
    uint32_t refreshInterval = 0;  // the trial run's
    bench::RangeRequest range;
    int64_t timeLimitSeconds = -1;
    CGPUInfo* gpu = nullptr;  // the monitor, when the GPU is watched
    // Where the run keeps what a watching process needs should this one die; may be null.
    bench::RunMirror* mirror = nullptr;
    // Within a series, what names this run on the one line that replaces its live block (e.g.
    // "Run 2 of 5"); empty: the summary replaces it, as after a single run.
    std::string runLabel;
    bool clipReport = true;  // the clip report is shown (a series shows it once)
    // Set before each import: a scan's variable and its value for this run.
    std::vector<avs::ScriptVariable> globals;
    // Emplaced as the first frame is requested: signals that end the process then wait until
    // the files are written. May be null.
    std::optional<sys::TerminationDeferral>* termination = nullptr;
};

// Makes the instruments of one measurement, just before its first frame.
using InstrumentsFactory = std::function<std::unique_ptr<bench::Instruments>()>;

// Measures the script with the real instruments, or with those the factory makes. Empty when
// the frame server could not be started (its message printed): nothing ran, nothing to record.
std::optional<bench::RunRecord> MeasureScript(const ScriptJob& job);
std::optional<bench::RunRecord> MeasureScript(const ScriptJob& job,
                                              const InstrumentsFactory& makeInstruments);

// What ended a run, printed where the user looks: over the live block's lower end when it
// was shown (sameLine: on its last line), else on a line of its own.
void PrintRunError(const std::string& text, bool blockShown, bool sameLine = false);

// The record of a run whose measuring process died, from what its mirror kept: every sample
// stored, the clip and the range as far as the run got, ended by errorText.
bench::RunRecord RecordFromMirror(const ScriptJob& job, const bench::RunMirror& mirror,
                                  const std::string& errorText);

// The files the run leaves, and its exit code. With a mirror, each file moves its progress
// on, so that a watching process sees the report going.
int WriteResults(const bench::RunRecord& record, const RunSettings& settings,
                 const CommandLineRequest& request, bench::RunMirror* mirror = nullptr);

// Prints each writer's error; the exit code of a run that failed or not, which a writer's
// error makes an error unless the run only reported.
int ExitCodeAfterWrites(const std::vector<std::string>& errors, bool failed, bool reportOnly);

// The trial run: a cycle of its own that chooses the refresh interval. false after printing
// why the script cannot be measured.
bool RunTrial(ScriptJob& job);

}  // namespace app
