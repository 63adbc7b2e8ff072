#include "avs/cycle.h"

#include "sys/se_exception.h"
#include "sys/timer.h"
#include "sys/utils.h"

namespace avs {
namespace {

constexpr unsigned kPauseAfterUnloadMs = 50;

}  // namespace

CycleResult RunCycle(const CycleOptions& options, const std::function<void(ScriptSession&)>& work) {
    CycleResult result;
    ScriptSession session;
    if (!session.module.Load(options.library)) {
        result.failure = CycleFailure::kLoad;
        result.systemText = CUtils::GetLastErrorText();
        return result;
    }
    InstallFaultTranslation();
    try {
        RunGuarded([&] {
            if (!session.module.Resolve(result.text)) {
                result.failure = CycleFailure::kEntryPoint;
                return;
            }
            if (!session.env.Create(session.module, options.interfaceVersion)) {
                result.failure = CycleFailure::kEnvironment;
                return;
            }
            work(session);
            if (session.env) ReleaseSession(session);
        });
    } catch (const AvisynthError& e) {
        result.caught = Caught::kAvisynthError;
        result.text = e.what();
    } catch (const SE_Exception& e) {
        result.caught = Caught::kFault;
        result.text = GetExceptionText(e.code);
    } catch (...) {
        result.caught = Caught::kOther;
        result.systemText = CUtils::GetLastErrorText();
    }

    if (result.caught != Caught::kNothing) {
        result.failure = CycleFailure::kCaught;
        AbandonSession(session);
    } else if (!session.module.Unload() && result.failure == CycleFailure::kNone) {
        result.failure = CycleFailure::kUnload;
        result.text = UnloadErrorText();
    }
    if (options.pauseAfterUnload) sys::SleepMs(kPauseAfterUnloadMs);
    return result;
}

}  // namespace avs
