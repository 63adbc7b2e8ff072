// One cycle against the frame server, the same for every use: load the library, create an
// environment, run the caller's work under the fault guard, then let go of everything in
// order (or abandon it, when the work ended in an exception).
#pragma once

#include <functional>
#include <string>

#include "avs/script.h"

namespace avs {

// Where a cycle stopped short.
enum class CycleFailure {
    kNone,
    kLoad,         // the library did not load
    kEntryPoint,   // a function of the C interface is missing
    kEnvironment,  // the library refused to create an environment
    kCaught,       // the work ended in an exception
    kUnload,       // everything went through, but the library would not unload
};

// The exception that ended the work.
enum class Caught { kNothing, kAvisynthError, kFault, kOther };

struct CycleResult {
    CycleFailure failure = CycleFailure::kNone;
    Caught caught = Caught::kNothing;
    // The missing function's text, the exception's text (AviSynth's message, or the fault's
    // two lines), or the unload text; empty for the other failures.
    std::string text;
    // The system's last error at the failure: why the load failed, or what stood there when
    // an exception of another kind ended the work.
    std::string systemText;

    bool Succeeded() const { return failure == CycleFailure::kNone; }
    // The environment was made, so the work ran (to its end or into an exception).
    bool WorkStarted() const {
        return failure == CycleFailure::kNone || failure == CycleFailure::kCaught ||
               failure == CycleFailure::kUnload;
    }
};

struct CycleOptions {
    std::string library;  // a path, or empty for the platform's default name
    int interfaceVersion = 0;
    // The inspection and trial cycles give the library a moment after unloading it; the
    // run's own cycle, which ends the program's use of the library, does not.
    bool pauseAfterUnload = true;
};

// Runs work with the environment made. Whatever the work leaves held is released and the
// environment deleted after it, unless the work did that itself (ReleaseSession). After an
// exception nothing is handed back to the library: its objects and the library itself are
// abandoned, since its threads may still run. A fault leaves the work without running its
// destructors: what must be released whatever happens is held outside the work.
CycleResult RunCycle(const CycleOptions& options, const std::function<void(ScriptSession&)>& work);

}  // namespace avs
