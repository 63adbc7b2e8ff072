// Turning the user's script into a checked clip: the timed pre-run that chooses the refresh
// interval, and the run's own load, kept in a ScriptSession until the run releases it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "avs/host.h"

namespace avs {

// The run's AviSynth state. Members are declared in the order they are acquired, so that
// destruction releases the clip and values before the environment, and that before the
// library.
struct ScriptSession {
    AvsLibrary module;
    ScriptEnvironment env;
    Value value;    // the script's value, or Distributor's
    Value mtValue;  // GetMTMode's result
    int mtAvailable = 1;
    int mtMode = 0;
    Clip clip;
    VideoInfo videoInfo;
};

struct LoadSettings {
    std::string dllPath;  // empty: the default library
    int interfaceVersion = 0;
    bool invokeDistributor = true;
    std::vector<ScriptVariable> globals;  // set before the import
};

// The refusal of a clip that has no frame to measure.
std::string NoFramesText(const std::string& scriptPath);

// Maps a time per frame in milliseconds to the number of frames between two samplings.
uint32_t RefreshIntervalFor(double timePerFrameMs);

// The pre-run: a complete cycle of its own that renders for at most five seconds.
// Returns the refresh interval, or 0 with errorText set.
uint32_t EstimateRefreshInterval(const LoadSettings& settings, const std::string& scriptPath,
                                 std::string& errorText);

// Sets the variables, then imports the script; AvisynthError as the import.
Value ImportScript(const ScriptSession& session, const std::string& scriptPath,
                   const std::vector<ScriptVariable>& globals);

// The multi-threading set-up after the import: GetMTMode, then Distributor when a mode of
// 1 to 4 is active. A missing function leaves mtAvailable 0 and the mode 0.
void ApplyMultiThreading(ScriptSession& session, bool invokeDistributor);

// The end of a run that no exception ended: clip and values let go, a pause, the
// environment deleted. The library stays loaded until the run's finish.
void ReleaseSession(ScriptSession& session);

// After an exception: nothing is handed back to the library, which may be in any state,
// and it stays mapped because its threads may still run.
void AbandonSession(ScriptSession& session);

}  // namespace avs
