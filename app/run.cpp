#include "app/run.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/compare.h"
#include "app/config.h"
#include "app/settings.h"
#include "app/version.h"
#include "avs/avisynth_info.h"
#include "avs/script.h"
#include "bench/display.h"
#include "bench/measure.h"
#include "report/chart.h"
#include "report/reports.h"
#include "report/results.h"
#include "sys/gpu.h"
#include "sys/paths.h"
#include "sys/process.h"
#include "sys/se_exception.h"
#include "sys/terminal.h"
#include "sys/timer.h"
#include "sys/utils.h"

namespace app {
namespace {

constexpr unsigned short kNoColor = 0;
constexpr unsigned short kWhite = 0x0F;
constexpr unsigned short kCyan = 0x0B;
constexpr unsigned short kRed = 0x0C;
constexpr unsigned short kGreen = 0x0A;
constexpr int kExitError = -1;
constexpr const char* kInstanceLockName = "__trevalo__single__instance__lock__";

// The console stream: standard error unless ConUseSTDOUT is set.
bool Con() {
    return g_settings.ConUseSTDOUT != 0;
}

void StatusLine(const char* text) {
    g_utils.Print(Con(), kNoColor, "\r%s\r", g_utils.PadToConsoleWidth(text).c_str());
}

// Blanks the current line: "\r", the padded empty text, then tail ("\r", "" or "\n").
void ClearLine(const char* tail) {
    g_utils.Print(Con(), kNoColor, "\r%s%s", g_utils.PadToConsoleWidth("").c_str(), tail);
}

// Print the message in the error colour, pause, and end with -1.
int Stop(const std::string& message) {
    g_utils.Print(Con(), kCyan, "%s", message.c_str());
    ExitPause();
    return kExitError;
}

// The system loader never searches the current directory, though a check of the bare name
// finds a file there: such a name is loaded by its full path, so that check and load agree.
// Any other bare name is left to the loader's own search.
std::string LibraryPathFromSetting(const std::string& value) {
    if (value.empty() || !sys::DirectoryOf(value).empty()) return value;
    return CUtils::FileExists(value) ? sys::MakeAbsolute(value) : value;
}

void SetPriority() {
    sys::SetProcessPriority(g_settings.ProcessPriority);
}

// The measured part of a run, from the library load to the summary, under the handlers.
struct RunState {
    avs::ScriptSession session;
    std::string errorText;
    std::string logText;
    std::string graphicsCardText;
    bench::Samples samples;
    bench::RunTotals totals;
    CGPUInfo* gpu = nullptr;  // when GPU monitoring is on
    uint32_t refreshInterval = 0;
    int exitCode = 0;
    // What only the result file and the chart need.
    std::string date;
    std::string end = report::end::kError;  // until a way out says otherwise
    bool clipKnown = false;
    std::optional<bench::FrameRange> range;
    bool summaryShown = false;
    report::CardDescription card;
    bench::GpuFigures gpuFigures;
};

// The live block is on the screen: an error's message goes over its lower end. Before the
// first refresh the lines above are the clip report's, which stay.
bool BlockShown(const RunState& state) {
    return !state.totals.firstRefresh;
}

// Clears the lines the live display had drawn when an exception ends the loop.
void ClearForHandler(const RunState& state) {
    sys::ReleaseTerminalState();  // a fault skips the destructors that would
    ClearLine("\r");
    g_settings.CreateLog = 1;
    if (BlockShown(state)) {
        g_utils.CursorUp(2);
        ClearLine("\n");
        ClearLine("\n");
        g_utils.CursorUp(2);
    }
}

report::RunResult ResultOf(const RunState& state, const CommandLineRequest& request) {
    report::RunResult r;
    r.programVersion = ProgramVersion();
    r.architecture = ArchitectureName();
    r.date = state.date;
    r.scriptPath = request.scriptPath;
    r.switches = request.switchesText;
    r.avisynthVersion = g_avsInfo.versionString;
    r.avisynthFileVersion = g_avsInfo.fileVersion;
    r.avisynthInterfaceVersion = g_avsInfo.interfaceVersion;
    if (state.clipKnown) r.clip = state.session.videoInfo;
    r.range = state.range;
    r.refreshInterval = state.refreshInterval;
    r.end = state.end;
    r.errorText = state.errorText;
    if (state.summaryShown) r.summary = state.totals;
    if (state.gpu != nullptr) {
        r.gpu = report::GpuResult{state.card, state.gpuFigures, state.gpu->cudaCapable};
    }
    r.samples = state.samples.data();
    r.sampleCount = state.samples.size();
    return r;
}

// Step 15: unload, the files, the pause, the exit code. A report-only ending (-info, a
// declined range) writes no CSV file, and a log writer's error does not change its code.
int Finish(RunState& state, const CommandLineRequest& request, bool abandoned, bool measured) {
    const std::string& scriptPath = request.scriptPath;
    if (abandoned) {
        avs::AbandonSession(state.session);
    } else {
        state.session.module.Unload();
    }
    state.samples.resize(state.totals.recordCount);
    std::string logError;
    std::string csvError;
    if (g_settings.CreateLog) {
        report::LogInput log;
        log.scriptPath = scriptPath;
        log.logText = state.logText;
        log.graphicsCardText = state.graphicsCardText;
        log.samples = state.samples.data();
        log.sampleCount = state.samples.size();
        log.errorText = state.errorText;
        log.monitorGpu = state.gpu != nullptr;
        log.vpuAvailable = state.gpu != nullptr && state.gpu->cudaCapable;
        logError = report::WriteLogFile(log);
    }
    // The samples are the run's result: the CSV file is written whatever became of the log.
    if (measured && g_settings.CreateCSV) {
        csvError = report::WriteCsvFile(scriptPath, state.samples.data(), state.samples.size(),
                                        state.gpu != nullptr,
                                        state.gpu != nullptr && state.gpu->cudaCapable);
    }
    // The result file and the chart follow every way out that writes a log.
    std::string jsonError;
    std::string chartError;
    if (request.jsonRequested || request.chartRequested) {
        const report::RunResult result = ResultOf(state, request);
        if (request.jsonRequested) jsonError = report::WriteResultFile(result);
        if (request.chartRequested && result.sampleCount > 0) {
            chartError = report::WriteChartFile(result);
        }
    }
    for (const std::string* text : {&logError, &csvError, &jsonError, &chartError}) {
        if (text->empty()) continue;
        g_utils.Print(Con(), kCyan, "%s", text->c_str());
        if (measured) state.exitCode = kExitError;
    }
    ExitPause();
    return state.exitCode;
}

enum class LoadOutcome { Loaded, Stopped, InfoDone, Measured };

// Steps 13.2 to 14, run under the fault guard. Returns how the phase ended; a Stopped
// outcome has printed its message.
LoadOutcome LoadAndMeasure(RunState& state, const CommandLineRequest& request) {
    avs::ScriptSession& s = state.session;
    std::string missing;
    if (!s.module.Resolve(missing)) {
        g_utils.Print(Con(), kCyan, "\n%s\n", missing.c_str());
        return LoadOutcome::Stopped;
    }
    if (!s.env.Create(s.module, g_avsInfo.interfaceVersion)) {
        g_utils.Print(Con(), kCyan, "\nCould not create IScriptenvironment\n");
        return LoadOutcome::Stopped;
    }
    StatusLine("Loading script...");
    s.value = s.env.Invoke("Import", request.scriptPath);
    ClearLine("\r");
    if (!s.value.IsClip()) {
        s.env.ThrowError("\"%s\":\nScript did not return a clip", request.scriptPath.c_str());
    }
    avs::ApplyMultiThreading(s, g_settings.InvokeDistributor != 0);
    s.clip = s.env.TakeClip(s.value);
    s.videoInfo = s.clip.GetVideoInfo();
    state.clipKnown = true;

    report::PrintClipInfo(s, state.logText);
    if (state.gpu) {
        const CGPUInfo& g = *state.gpu;
        const std::string source = std::string(sys::GpuSourceName()) + " " + g.gpuzVersion;
        state.card = {g.cardName, g.gpuName, g.memSize, g.openCLVersion, g.driverVersion, source};
        state.graphicsCardText = report::GraphicsCardText(state.card);
    }
    if (request.clipInfoRequested) {
        state.end = report::end::kInfo;
        return LoadOutcome::InfoDone;
    }
    // The trial run refused such a clip already, unless the script changed since.
    if (s.videoInfo.raw.num_frames <= 0) {
        s.env.ThrowError("%s", avs::NoFramesText(request.scriptPath).c_str());
    }

    bench::FrameRange range;
    if (!bench::ResolveFrameRange(s.videoInfo, range)) {
        state.end = report::end::kDeclined;
        return LoadOutcome::InfoDone;
    }
    state.range = range;
    const bench::RunEnd runEnd = bench::MeasureFrames(
        s, range, state.refreshInterval, state.samples, state.totals, state.gpu, state.gpuFigures);
    state.refreshInterval = state.totals.refreshInterval;  // widened for long ranges
    avs::ReleaseSession(s);
    bench::PrintSummary(state.totals, state.gpu ? &state.gpuFigures : nullptr, state.logText);
    state.end = report::EndName(runEnd);
    state.summaryShown = true;
    return LoadOutcome::Measured;
}

}  // namespace

void ExitPause() {
    if (!g_settings.PauseBeforeExit) return;
    g_utils.Print(Con(), kNoColor, "\nPress any key to exit...");
    sys::KeyboardMode keyboard;
    while (!sys::KeyPressed())
        sys::SleepMs(100);
    ClearLine("");
}

int Run(int argc, char** argv) {
    sys::EnsureStandardDescriptors();
    sys::InstallTerminalRestoreHandlers();

    // 2. Configuration: nothing else is read before it.
    std::string configError = ReadConfiguration();
    g_utils.SetUseColor(g_settings.UseColor != 0);
    g_utils.SetConsoleStream(Con());
    sys::SetFaultMessageStream(Con());
    if (!configError.empty()) {
        g_utils.Print(true, kCyan, "%s", configError.c_str());
        ExitPause();
        return kExitError;
    }

    // 3. Banner.
    g_utils.Print(Con(), kRed, "\nTrevalo %s\n", BannerVersion().c_str());

    // Comparing two result files needs no AviSynth, nor the one-instance lock.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    if (IsCompareCommand(args)) return RunCompare(args);

    // 4. The installed AviSynth.
    StatusLine("Query Avisynth info...");
    const std::string dllPath = LibraryPathFromSetting(g_settings.AVSDLL);
    if (!sys::DirectoryOf(dllPath).empty() && !CUtils::FileExists(dllPath)) {
        return Stop(CUtils::FormatString("Specified avisynth.dll does not exist:\n%s\n",
                                         g_settings.AVSDLL.c_str()));
    }
    std::string errorText;
    int queried = g_avsInfo.QueryAvisynthInfo(errorText, dllPath);
    ClearLine("\r");
    if (!queried) {
        if (g_avsInfo.loadFailed) return Stop("\n" + errorText + "\n");
        if (g_avsInfo.foreignArchitecture) {
            return Stop(CUtils::FormatString("\nTrevalo (%s) cannot load a %d Bit avisynth.dll.\n",
                                             ArchitectureName().c_str(),
                                             g_avsInfo.is64Bit ? 64 : 32));
        }
        if (!errorText.empty()) return Stop("\n" + errorText + "\n");
        return Stop(CUtils::FormatString("\nCannot load avisynth.dll\n%s\n",
                                         CUtils::GetLastErrorText().c_str()));
    }
    g_utils.Print(Con(), kGreen, "\r%s", g_avsInfo.versionString.c_str());
    g_utils.Print(Con(), kWhite, " (%s)\n", g_avsInfo.fileVersion.c_str());

    // 5. One instance at a time, before anything the command line asks for.
    if (g_settings.AllowOnlyOneInstance &&
        sys::AcquireSingleInstanceLock(kInstanceLockName) == sys::InstanceLock::kAlreadyRunning) {
        return Stop("\nOne instance of Trevalo is already running\n");
    }

    // 6. No arguments: the usage text.
    if (argc < 2) {
        PrintUsage();
        ExitPause();
        return kExitError;
    }

    // 7. The command line on top of the settings.
    CommandLineRequest request;
    if (!ParseCommandLine(argc, argv, request)) {
        ExitPause();
        return kExitError;
    }

    // 8. The installation report replaces the short version line.
    if (request.avisynthInfoRequested) {
        g_utils.CursorUp(1);
        ClearLine("");
        g_utils.Print(Con(), kNoColor, "\n");
        g_avsInfo.PrintReport();
        g_utils.Print(Con(), kNoColor, "\n");
        ExitPause();
        return 0;
    }

    // 9.
    if (request.scriptPath.empty()) return Stop("\nNo script file specified\n");

    // 10.
    SetPriority();

    // 11. GPU monitoring needs its source: GPU-Z, or NVIDIA's management library. The
    // monitor is only made when asked for: loading the driver's library costs time.
    std::unique_ptr<CGPUInfo> gpu;
    if (g_settings.MonitorGPULoad) gpu.reset(new CGPUInfo);
    if (gpu && !gpu->gpuzRunning) {
        g_utils.Print(Con(), kCyan, "\n%s\n\n", sys::GpuSourceMissingText());
        g_utils.Print(Con(), kNoColor, "Continue without GPU monitoring? [y/n]");
        if (sys::AskYesNo(10)) {
            for (int i = 0; i < 3; ++i) {
                ClearLine("");
                g_utils.CursorUp(1);
            }
            g_settings.MonitorGPULoad = 0;
            gpu.reset();
        } else {
            ClearLine("");
            g_utils.CursorUp(1);
            ClearLine("");
            g_utils.CursorUp(1);
            ClearLine("\n");
            ExitPause();
            return kExitError;
        }
    } else if (gpu && !gpu->Open()) {
        return Stop("\nCannot initialize GPU-Z shared memory:\n" + gpu->openError);
    }

    avs::LoadSettings loadSettings;
    loadSettings.dllPath = dllPath;
    loadSettings.interfaceVersion = g_avsInfo.interfaceVersion;
    loadSettings.invokeDistributor = g_settings.InvokeDistributor != 0;

    RunState state;
    state.gpu = gpu.get();
    state.date = sys::LocalDateTime();

    // 12. The trial run chooses the refresh interval.
    if (!request.clipInfoRequested) {
        StatusLine("Analysing script...");
        state.refreshInterval =
            avs::EstimateRefreshInterval(loadSettings, request.scriptPath, state.errorText);
        ClearLine("\r");
        if (state.refreshInterval == 0 || !state.errorText.empty()) {
            return Stop("\n" + state.errorText + "\n");
        }
    }

    // The log carries the general information whatever happens from here on.
    state.logText =
        report::GeneralInfo(BannerVersion(), request.scriptPath, request.switchesText, g_avsInfo);

    // 13. The run's own load.
    if (!state.session.module.Load(dllPath)) {
        return Stop(CUtils::FormatString("\nCannot load avisynth.dll\n%s\n",
                                         CUtils::GetLastErrorText().c_str()));
    }
    InstallFaultTranslation();
    LoadOutcome outcome = LoadOutcome::Loaded;
    bool abandoned = false;
    try {
        outcome = RunGuarded([&] { return LoadAndMeasure(state, request); });
    } catch (const avs::AvisynthError& e) {
        ClearForHandler(state);
        state.errorText = e.what();
        if (BlockShown(state)) {
            g_utils.Print(Con(), kCyan, "\r%s\n", e.what());
        } else {
            g_utils.Print(Con(), kCyan, "\n%s\n", e.what());
        }
        state.exitCode = kExitError;
        abandoned = true;
    } catch (const SE_Exception& e) {
        ClearForHandler(state);
        // The log says what ended the run, as it does for AviSynth's errors.
        state.errorText = GetExceptionText(e.code);
        g_utils.Print(Con(), kCyan, "\n%s\n", state.errorText.c_str());
        state.exitCode = kExitError;
        abandoned = true;
    } catch (...) {
        ClearForHandler(state);
        const std::string system = CUtils::GetLastErrorText();
        state.errorText = system.empty() ? "Unknown exception" : system;
        g_utils.Print(Con(), kCyan, "\n%s\n", state.errorText.c_str());
        state.exitCode = kExitError;
        abandoned = true;
    }

    if (outcome == LoadOutcome::Stopped) {
        ExitPause();
        return kExitError;
    }
    if (outcome == LoadOutcome::InfoDone) {
        // -info, or a declined range: the session is released, no CSV file.
        avs::ReleaseSession(state.session);
        return Finish(state, request, false, false);
    }
    return Finish(state, request, abandoned, true);
}

}  // namespace app
