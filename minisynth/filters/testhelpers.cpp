// Test helpers, not AviSynth functions (hence the "MS" prefix): MSBusy gives each frame a
// known cost, MSFault makes one frame fail in a chosen way.
#include <chrono>

#include "filters.h"

#if defined(__GNUC__) || defined(__clang__)
// The faults must really happen: no sanitizer may report them first, and the optimiser may
// not drop or replace them.
#define MS_RAW_FAULT __attribute__((noinline, no_sanitize("address", "undefined")))
#else
#define MS_RAW_FAULT __declspec(noinline)
#endif

namespace ms {

namespace {

class Busy final : public Filter {
  public:
    Busy(PClip child, double ms)
        : Filter(child, child->GetVideoInfo()),
          cost_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
              std::chrono::duration<double, std::milli>(ms))) {}

    PFrame GetFrame(int n) override {
        PFrame frame = child_->GetFrame(n);
        // Spins rather than sleeps, so that the time shows as CPU load.
        const auto until = std::chrono::steady_clock::now() + cost_;
        while (std::chrono::steady_clock::now() < until) {
        }
        return frame;
    }

  private:
    std::chrono::steady_clock::duration cost_;
};

MS_RAW_FAULT void WriteThroughNull(int value) {
    volatile int* volatile target = nullptr;
    *target = value;
}

MS_RAW_FAULT int DivideByZero(int value) {
    volatile int divisor = 0;
    volatile int result = value / divisor;
    return result;
}

enum class FaultKind { Error, Access, Divide };

class Fault final : public Filter {
  public:
    Fault(PClip child, int frame, FaultKind kind, std::string message)
        : Filter(child, child->GetVideoInfo()),
          frame_(frame),
          kind_(kind),
          message_(std::move(message)) {}

    PFrame GetFrame(int n) override {
        if (ClampFrame(n, vi_.num_frames) == frame_) {
            switch (kind_) {
                case FaultKind::Error:
                    throw Error(message_);
                case FaultKind::Access:
                    WriteThroughNull(n);
                    break;
                case FaultKind::Divide:
                    n = DivideByZero(n);
                    break;
            }
        }
        return child_->GetFrame(n);
    }

  private:
    int frame_;
    FaultKind kind_;
    std::string message_;
};

Value MakeBusy(const std::vector<Value>& args) {
    const double ms = args[1].AsFloat();
    if (!(ms >= 0.0 && ms <= 60000.0)) throw Error("MSBusy: ms must be between 0 and 60000");
    return Value::FromClip(std::make_shared<Busy>(args[0].AsClip(), ms));
}

Value MakeFault(const std::vector<Value>& args) {
    const int frame = args[1].AsInt();
    const std::string& kindName = args[2].AsString();
    FaultKind kind;
    if (kindName == "error") {
        kind = FaultKind::Error;
    } else if (kindName == "access") {
        kind = FaultKind::Access;
    } else if (kindName == "divide") {
        kind = FaultKind::Divide;
    } else {
        throw Error("MSFault: kind must be \"error\", \"access\" or \"divide\"");
    }
    const std::string message =
        args[3].AsString("MSFault: injected error at frame " + std::to_string(frame));
    return Value::FromClip(std::make_shared<Fault>(args[0].AsClip(), frame, kind, message));
}

}  // namespace

void RegisterTestHelpers(std::vector<Function>& table) {
    table.push_back(
        {"MSBusy", "cf", [](Env&, const std::vector<Value>& args) { return MakeBusy(args); }});
    table.push_back({"MSFault", "cis[message]s",
                     [](Env&, const std::vector<Value>& args) { return MakeFault(args); }});
}

}  // namespace ms
