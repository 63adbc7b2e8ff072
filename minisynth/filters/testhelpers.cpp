// Test helpers, not AviSynth functions (hence the "MS" prefix): MSBusy gives each frame a
// known cost, MSFault makes one frame fail in a chosen way.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <utility>

#ifndef _WIN32
#include <dlfcn.h>
#include <sys/resource.h>
#include <time.h>
#endif

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

// The time this thread has run, where the system keeps it finely; else the wall clock.
std::chrono::nanoseconds ThreadTime() {
#ifndef _WIN32
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) == 0) {
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    }
#endif
    return std::chrono::steady_clock::now().time_since_epoch();
}

class Busy final : public Filter {
  public:
    Busy(PClip child, double ms, bool cpu)
        : Filter(child, child->GetVideoInfo()),
          cost_(std::chrono::duration_cast<std::chrono::nanoseconds>(
              std::chrono::duration<double, std::milli>(ms))),
          cpu_(cpu) {}

    PFrame GetFrame(int n) override {
        PFrame frame = child_->GetFrame(n);
        // Spins rather than sleeps, so that the time shows as CPU load. By the thread's own
        // time the cost stays the same however busy the machine is.
        const auto now = [this] {
            return cpu_ ? ThreadTime() : std::chrono::steady_clock::now().time_since_epoch();
        };
        const auto until = now() + cost_;
        while (now() < until) {
        }
        return frame;
    }

  private:
    std::chrono::nanoseconds cost_;
    bool cpu_;
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

volatile bool recursionEnds = false;  // never set: only hides from the compiler that it is endless

MS_RAW_FAULT int Recurse(int depth) {
    // Every 256th byte written: no level can step over a guard page of one page.
    volatile char block[4096];
    for (size_t i = 0; i < sizeof block; i += 256)
        block[i] = static_cast<char>(depth);
    if (recursionEnds) return 0;
    return Recurse(depth + 1) + block[0];  // used after the call: no tail call, no loop
}

MS_RAW_FAULT int OverflowStack() {
#ifndef _WIN32
    // Without a limit the main thread's stack would first grow through all free memory; the
    // kernel checks the limit each time the stack grows, so lowering it now still counts.
    constexpr rlim_t kMostStack = rlim_t{64} << 20;
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) == 0 &&
        (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > kMostStack)) {
        limit.rlim_cur = kMostStack;
        setrlimit(RLIMIT_STACK, &limit);
    }
#endif
    return Recurse(0);
}

// The fault happens inside the allocator with its lock held, as in a heap that is corrupt: any
// later allocation in the process waits for ever. Needs the test interposer preloaded.
MS_RAW_FAULT void FaultInAllocator() {
#ifndef _WIN32
    if (auto arm = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, "malloc_trap_arm"))) {
        arm();
        void* volatile block = std::malloc(64);
        std::free(block);  // not reached when the interposer is the process's allocator
    }
#endif
    throw Error("MSFault: \"malloc\" needs libmalloc_trap.so preloaded");
}

enum class FaultKind { Error, Access, Divide, Overflow, Abort, Exit, QuickExit, Malloc };

constexpr std::pair<const char*, FaultKind> kFaultKinds[] = {
    {"error", FaultKind::Error},       {"access", FaultKind::Access}, {"divide", FaultKind::Divide},
    {"overflow", FaultKind::Overflow}, {"abort", FaultKind::Abort},   {"exit", FaultKind::Exit},
    {"_exit", FaultKind::QuickExit},   {"malloc", FaultKind::Malloc}};

constexpr int kExitCode = 3;

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
                case FaultKind::Overflow:
                    n = OverflowStack();
                    break;
                case FaultKind::Abort:
                    std::abort();
                case FaultKind::Exit:
                    std::exit(kExitCode);
                case FaultKind::QuickExit:
                    std::_Exit(kExitCode);  // _exit: no atexit handlers, no buffers flushed
                case FaultKind::Malloc:
                    FaultInAllocator();
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
    return Value::FromClip(std::make_shared<Busy>(args[0].AsClip(), ms, args[2].AsBool(false)));
}

Value MakeFault(const std::vector<Value>& args) {
    const int frame = args[1].AsInt();
    const std::string& kindName = args[2].AsString();
    const auto* found = std::find_if(std::begin(kFaultKinds), std::end(kFaultKinds),
                                     [&](const auto& k) { return kindName == k.first; });
    if (found == std::end(kFaultKinds)) {
        std::string names;
        for (size_t i = 0; i < std::size(kFaultKinds); ++i) {
            names += i == 0 ? "" : i + 1 < std::size(kFaultKinds) ? ", " : " or ";
            names += std::string("\"") + kFaultKinds[i].first + "\"";
        }
        throw Error("MSFault: kind must be " + names);
    }
    const FaultKind kind = found->second;
    const std::string message =
        args[3].AsString("MSFault: injected error at frame " + std::to_string(frame));
    return Value::FromClip(std::make_shared<Fault>(args[0].AsClip(), frame, kind, message));
}

}  // namespace

void RegisterTestHelpers(std::vector<Function>& table) {
    table.push_back({"MSBusy", "cf[cpu]b",
                     [](Env&, const std::vector<Value>& args) { return MakeBusy(args); }});
    table.push_back({"MSFault", "cis[message]s",
                     [](Env&, const std::vector<Value>& args) { return MakeFault(args); }});
}

}  // namespace ms
