#include "app/run.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/compare.h"
#include "app/config.h"
#include "app/console.h"
#include "app/script_run.h"
#include "app/series.h"
#include "app/settings.h"
#include "app/version.h"
#include "app/watch.h"
#include "avs/avisynth_info.h"
#include "sys/gpu.h"
#include "sys/library.h"
#include "sys/machine.h"
#include "sys/paths.h"
#include "sys/process.h"
#include "sys/se_exception.h"
#include "sys/terminal.h"
#include "sys/timer.h"

namespace app {
namespace {

constexpr const char* kInstanceLockName = "__trevalo__single__instance__lock__";

// Reads the settings, nothing before them. false after printing why they cannot be read.
bool Configure() {
    const std::string configError = ReadConfiguration();
    g_utils.SetUseColor(g_settings.UseColor != 0);
    g_utils.SetConsoleStream(g_settings.ConUseSTDOUT != 0);
    sys::SetFaultMessageStream(g_settings.ConUseSTDOUT != 0);
    if (configError.empty()) return true;
    // Always on standard output, like the usage text.
    g_utils.Print(true, kCyan, "%s", configError.c_str());
    return false;
}

// The system loader never searches the current directory, though a check of the bare name
// finds a file there: such a name is loaded by its full path, so that check and load agree.
// Any other bare name is left to the loader's own search.
std::string LibraryPathFromSetting(const std::string& value) {
    if (value.empty() || !sys::DirectoryOf(value).empty()) return value;
    return CUtils::FileExists(value) ? sys::MakeAbsolute(value) : value;
}

// The installed AviSynth, inspected before anything the command line asks for; its version
// line below the banner. false after printing why it cannot serve.
bool QueryInstallation(const std::string& dllPath) {
    StatusLine("Query Avisynth info...");
    const std::string library = sys::AvisynthLibraryFileName();
    if (!sys::DirectoryOf(dllPath).empty() && !CUtils::FileExists(dllPath)) {
        Stop(CUtils::FormatString("Specified %s does not exist:\n%s\n", library.c_str(),
                                  g_settings.AVSDLL.c_str()));
        return false;
    }
    std::string errorText;
    const int queried = g_avsInfo.QueryAvisynthInfo(errorText, dllPath);
    ClearLine("\r");
    if (!queried) {
        std::string message;
        if (g_avsInfo.loadFailed) {
            message = "\n" + errorText + "\n";
        } else if (g_avsInfo.foreignArchitecture) {
            message = CUtils::FormatString("\nTrevalo (%s) cannot load a %d Bit %s.\n",
                                           ArchitectureName().c_str(), g_avsInfo.is64Bit ? 64 : 32,
                                           library.c_str());
        } else if (!errorText.empty()) {
            message = "\n" + errorText + "\n";
        } else {
            message = CUtils::FormatString("\nCannot load %s\n%s\n", library.c_str(),
                                           CUtils::GetLastErrorText().c_str());
        }
        Stop(message + LibraryLoadHint(ConfigurationPath(ProgramVersion())));
        return false;
    }
    const bool con = g_utils.ConsoleIsStdout();
    g_utils.Print(con, kGreen, "\r%s", g_avsInfo.versionString.c_str());
    g_utils.Print(con, kWhite, " (%s)\n", g_avsInfo.fileVersion.c_str());
    return true;
}

// One instance at a time, when the settings ask for it. false after printing that another
// one runs.
bool TakeInstanceLock() {
    if (g_settings.AllowOnlyOneInstance &&
        sys::AcquireSingleInstanceLock(kInstanceLockName) == sys::InstanceLock::kAlreadyRunning) {
        Stop("\nOne instance of Trevalo is already running\n");
        return false;
    }
    return true;
}

// The installation report takes the place of the short version line.
void ReportInstallation() {
    g_utils.CursorUp(1);
    ClearLine("");
    g_utils.Print(g_utils.ConsoleIsStdout(), kNoColor, "\n");
    g_avsInfo.PrintReport();
    g_utils.Print(g_utils.ConsoleIsStdout(), kNoColor, "\n");
}

// GPU monitoring needs its source: GPU-Z, or NVIDIA's management library. Without it the user
// may go on unmonitored (gpu stays empty). false when the run ends here, its message printed.
bool StartGpuMonitor(std::unique_ptr<CGPUInfo>& gpu) {
    // Only made when asked for: loading the driver's library costs time.
    gpu = std::make_unique<CGPUInfo>();
    if (gpu->gpuzRunning) {
        if (gpu->Open()) return true;
        Stop("\nCannot initialize GPU-Z shared memory:\n" + gpu->openError);
        return false;
    }
    gpu.reset();
    g_utils.Print(g_utils.ConsoleIsStdout(), kCyan, "\n%s\n\n", sys::GpuSourceMissingText());
    g_utils.Print(g_utils.ConsoleIsStdout(), kNoColor, "Continue without GPU monitoring? [y/n]");
    if (sys::AskYesNo(10)) {
        // The prompt, the empty line and the message go; the cursor stands above them.
        for (int i = 0; i < 3; ++i) {
            ClearLine("");
            g_utils.CursorUp(1);
        }
        return true;
    }
    ClearLine("");
    g_utils.CursorUp(1);
    ClearLine("");
    g_utils.CursorUp(1);
    ClearLine("\n");
    return false;
}

ScriptJob JobFor(const RunSettings& settings, const CommandLineRequest& request,
                 const std::string& dllPath, CGPUInfo* gpu) {
    ScriptJob job;
    bench::RunSetup& setup = job.setup;
    setup.programVersion = ProgramVersion();
    setup.architecture = ArchitectureName();
    setup.date = sys::LocalDateTime();
    setup.scriptPath = request.scriptPath;
    setup.switches = request.switchesText;
    setup.avisynth = g_avsInfo.Facts();
    setup.machine = sys::DescribeMachine();
    setup.display.fps = settings.DisplayFPS != 0;
    setup.display.tpf = settings.DisplayTPF != 0;
    setup.display.efficiency = settings.DisplayEfficiencyIndex != 0;
    setup.display.estimatedTime = settings.LogEstimatedTime != 0;
    job.dllPath = dllPath;
    job.interfaceVersion = g_avsInfo.interfaceVersion;
    job.invokeDistributor = settings.InvokeDistributor != 0;
    job.clipInfoOnly = request.clipInfoRequested;
    job.range = {settings.FrameRangeFirst, settings.FrameRangeLast, settings.FrameRangeText};
    job.timeLimitSeconds = settings.TimeLimit;
    job.gpu = gpu;
    // -info of a scan describes the clip of its first value.
    if (!request.scanValues.empty()) {
        job.globals = {request.scanValues.front()};
        if (!request.clipInfoRequested) job.setup.variable = job.globals.front().Shown();
    }
    return job;
}

// The trial run, the measuring and the files; the exit code.
int MeasureAndReport(const ScriptJob& job, const RunSettings& settings,
                     const CommandLineRequest& request) {
    ScriptJob trial = job;
    if (!request.clipInfoRequested && !RunTrial(trial)) return kExitError;
    const uint32_t runs = request.clipInfoRequested ? 1 : static_cast<uint32_t>(settings.Runs);
    const std::vector<bench::RunRecord> records = MeasureSeries(trial, runs);
    if (records.empty()) return kExitError;
    if (runs == 1) return WriteResults(records.front(), settings, request, job.mirror);
    return WriteSeriesResults(records, ReportSeries(records), settings, request, job.mirror);
}

// Every phase of a start in its order; each way out returns its exit code, without the pause.
int RunPhases(const std::vector<std::string>& args, bool& pauseDone) {
    // Help and the version need neither the settings nor AviSynth: they work on a machine
    // where nothing else does yet.
    switch (FindInfoRequest(args)) {
        case InfoRequest::kHelp:
            PrintUsage();
            return 0;
        case InfoRequest::kVersion:
            g_utils.Print(true, kNoColor, "Trevalo %s\n", BannerVersion().c_str());
            return 0;
        case InfoRequest::kNone:
            break;
    }
    if (!Configure()) return kExitError;
    g_utils.Print(g_utils.ConsoleIsStdout(), kRed, "\nTrevalo %s\n", BannerVersion().c_str());
    // Comparing two result files needs no AviSynth, nor the one-instance lock.
    if (IsCompareCommand(args)) return RunCompare(args);

    const std::string scanError = ScanSwitchError(args);
    if (!scanError.empty()) return Stop(scanError);

    const std::string dllPath = LibraryPathFromSetting(g_settings.AVSDLL);
    if (!QueryInstallation(dllPath)) return kExitError;
    if (!TakeInstanceLock()) return kExitError;
    if (args.empty()) {
        PrintUsage();
        return kExitError;
    }
    CommandLineRequest request;
    if (!ParseCommandLine(args, request)) return kExitError;
    // The settings are complete: the run reads them from here on and changes none.
    const RunSettings& settings = g_settings;
    if (request.avisynthInfoRequested) {
        ReportInstallation();
        return 0;
    }
    if (request.scriptPath.empty()) return Stop("\nNo script file specified\n");

    sys::SetProcessPriority(settings.ProcessPriority);
    std::unique_ptr<CGPUInfo> gpu;
    if (settings.MonitorGPULoad && !StartGpuMonitor(gpu)) return kExitError;
    ScriptJob job = JobFor(settings, request, dllPath, gpu.get());
    // From here on the frame server runs the script: in a process of its own where it can.
    const MeasuringWatch watch;
    if (watch.Watching()) return watch.Watch(job, settings, request, pauseDone);
    job.mirror = watch.Mirror();
    // Keys typed during the trial run and the load are neither echoed over the status line
    // nor lost: the loop reads them at its first refresh, so an early Esc stops it there.
    const sys::KeyboardMode keys;
    std::optional<sys::TerminationDeferral> termination;
    job.termination = &termination;
    int exitCode = 0;
    if (request.clipInfoRequested || (!request.compareScripts && request.scanValues.empty())) {
        exitCode = MeasureAndReport(job, settings, request);
    } else if (request.compareScripts) {
        exitCode = CompareScripts(job, settings, request);
    } else {
        exitCode = ScanScript(job, settings, request);
    }
    watch.Finish();
    return exitCode;  // a signal kept since the first frame ends the process now
}

// The pause before exit; does nothing unless PauseBeforeExit is set. A key typed on a
// terminal stays unread.
void ExitPause() {
    if (!g_settings.PauseBeforeExit) return;
    g_utils.Print(g_utils.ConsoleIsStdout(), kNoColor, "\nPress any key to exit...");
    sys::WaitForAnyKey(100);
    ClearLine("");
}

// Output that went nowhere (a full device, a closed stream) fails the run, said on standard
// error while that still works.
int CheckedOutput(int exitCode) {
    const std::string outFailure = g_utils.OutputFailure(true);
    const std::string errFailure = g_utils.OutputFailure(false);
    if (outFailure.empty() && errFailure.empty()) return exitCode;
    if (errFailure.empty()) {
        g_utils.Print(false, kNoColor, "\nCannot write to standard output: %s\n",
                      outFailure.c_str());
    }
    return kExitError;
}

}  // namespace

int Run(int argc, char** argv) {
    sys::EnsureStandardDescriptors();
    sys::InstallTerminalRestoreHandlers();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    bool pauseDone = false;
    const int exitCode = RunPhases(args, pauseDone);
    // The one way out: every ending pauses here, once.
    if (!pauseDone) ExitPause();
    return CheckedOutput(exitCode);
}

}  // namespace app
