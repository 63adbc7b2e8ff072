#include "avs/script.h"

#include "avs/cycle.h"
#include "sys/library.h"
#include "sys/timer.h"
#include "sys/utils.h"

namespace avs {
namespace {

constexpr unsigned kPauseBeforeDeleteMs = 100;
constexpr double kPreRunSeconds = 5.0;
constexpr double kShortestPreRunSeconds = 0.5;

}  // namespace

std::string NoFramesText(const std::string& scriptPath) {
    return "\"" + scriptPath + "\":\nScript returned a clip without frames";
}

uint32_t RefreshIntervalFor(double tpf) {
    struct Row {
        double upTo;
        uint32_t interval;
    };
    static const Row rows[] = {{0.001, 50000}, {0.002, 20000}, {0.004, 10000}, {0.01, 5000},
                               {0.02, 2000},   {0.04, 1000},   {0.1, 500},     {0.2, 200},
                               {0.4, 100},     {1, 50},        {2, 20},        {20, 10}};
    for (const Row& row : rows) {
        if (!(tpf > row.upTo)) return row.interval;
    }
    return 1;
}

Value ImportScript(const ScriptSession& session, const std::string& scriptPath,
                   const std::vector<ScriptVariable>& globals) {
    for (const ScriptVariable& variable : globals)
        session.env.SetGlobalVariable(variable);
    return session.env.Invoke("Import", scriptPath);
}

void ApplyMultiThreading(ScriptSession& session, bool invokeDistributor) {
    session.mtAvailable = 1;
    session.mtMode = 0;
    try {
        session.mtValue = session.env.Invoke("GetMTMode", false);
        session.mtMode = session.mtValue.IsInt() ? session.mtValue.AsInt() : 0;
        if (session.mtMode >= 1 && session.mtMode <= 4 && invokeDistributor) {
            session.value = session.env.Invoke("Distributor", session.value);
        }
    } catch (const NotFound&) {
        session.mtAvailable = 0;
    }
}

uint32_t EstimateRefreshInterval(const LoadSettings& settings, const std::string& scriptPath,
                                 std::string& errorText) {
    errorText.clear();
    if (!g_timer.CheckPerformanceCounter()) {
        errorText = "QueryPerformanceCounter() is not supported";
        return 0;
    }
    uint32_t interval = 0;
    const CycleResult cycle =
        RunCycle({settings.dllPath, settings.interfaceVersion, true}, [&](ScriptSession& session) {
            session.value = ImportScript(session, scriptPath, settings.globals);
            if (!session.value.IsClip()) {
                session.env.ThrowError("Script did not return a video clip:\n(%s)",
                                       scriptPath.c_str());
            }
            ApplyMultiThreading(session, settings.invokeDistributor);
            session.clip = session.env.TakeClip(session.value);
            session.videoInfo = session.clip.GetVideoInfo();
            if (!session.videoInfo.HasVideo()) {
                session.env.ThrowError("Script did not return a video clip:\n(%s)",
                                       scriptPath.c_str());
            }
            if (session.videoInfo.raw.num_frames <= 0) {
                session.env.ThrowError("%s", NoFramesText(scriptPath).c_str());
            }

            const int frames = session.videoInfo.raw.num_frames;
            unsigned n = 0;
            double elapsed = 0.0;
            const double t0 = g_timer.GetTickSeconds();
            // Each frame is released by GetFrame itself, so the loop holds none between
            // requests.
            do {
                session.clip.GetFrame(static_cast<int>(n));
                ++n;
                elapsed = g_timer.GetTickSeconds() - t0;
            } while (elapsed < kPreRunSeconds && static_cast<int>(n) != frames);

            double timePerFrame = 0.0;
            if (elapsed > kShortestPreRunSeconds) {
                timePerFrame = elapsed * 1000.0 / n;
            } else {
                errorText = "Script runtime is too short for accurate measurements";
            }
            interval = RefreshIntervalFor(timePerFrame);
        });
    switch (cycle.failure) {
        case CycleFailure::kNone:
            return interval;
        case CycleFailure::kLoad:
            errorText = "Failed to load " + sys::AvisynthLibraryFileName();
            break;
        case CycleFailure::kEnvironment:
            errorText = "Could not create IScriptenvironment";
            break;
        case CycleFailure::kCaught:
            errorText = cycle.caught == Caught::kOther
                            ? (cycle.systemText.empty() ? "Unknown exception" : cycle.systemText)
                            : cycle.text;
            break;
        case CycleFailure::kEntryPoint:
        case CycleFailure::kUnload:
            errorText = cycle.text;
            break;
    }
    return 0;
}

void ReleaseSession(ScriptSession& session) {
    session.clip.Reset();
    session.value.Reset();
    session.mtValue.Reset();
    sys::SleepMs(kPauseBeforeDeleteMs);
    session.env.Delete();
}

void AbandonSession(ScriptSession& session) {
    session.clip.Abandon();
    session.value.Abandon();
    session.mtValue.Abandon();
    session.env.Abandon();
    session.module.Abandon();
}

}  // namespace avs
