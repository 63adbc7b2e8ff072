// Faults as signals: handlers for SIGSEGV, SIGBUS, SIGFPE and SIGILL on an alternate stack
// jump back (siglongjmp) to the innermost guard of the faulting thread.
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "sys/se_exception.h"
#include "sys/terminal.h"

namespace {

struct GuardFrame {
    sigjmp_buf jump;
    GuardFrame* previous;
    volatile uint32_t code;
};

// The range of addresses taken as the calling thread's stack guard area.
struct StackGuardArea {
    uintptr_t low = 0;
    uintptr_t high = 0;
};

// Below the lowest stack address the kernel keeps a gap before the next mapping (the guard
// page of a thread stack, the stack guard gap of the main thread); a frame can step that
// far past the end before it touches memory.
constexpr uintptr_t kGuardSpan = uintptr_t{1} << 20;

// Per-thread state read by the handler: plain values, constant-initialised, so reading
// them needs no initialisation code inside the handler.
thread_local GuardFrame* volatile t_innermost = nullptr;
thread_local StackGuardArea t_stackGuard;

// An alternate signal stack that this code set up for its thread.
class AltStack {
  public:
    AltStack() = default;
    AltStack(const AltStack&) = delete;
    AltStack& operator=(const AltStack&) = delete;
    ~AltStack() {
        if (!memory_) return;
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == memory_.get()) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
        }
    }

    void Ensure() {
        stack_t current{};
        if (sigaltstack(nullptr, &current) != 0) return;
        // Keep a stack that is already set (ours, or one of a sanitizer runtime, which
        // would unmap it itself at thread exit).
        if ((current.ss_flags & SS_DISABLE) == 0) return;
        const size_t size = std::max<size_t>(64 * 1024, static_cast<size_t>(SIGSTKSZ));
        memory_.reset(new char[size]);
        stack_t stack{};
        stack.ss_sp = memory_.get();
        stack.ss_size = size;
        if (sigaltstack(&stack, nullptr) != 0) memory_.reset();
    }

  private:
    std::unique_ptr<char[]> memory_;
};

thread_local AltStack t_altStack;

void FindStackGuardArea() {
#if defined(__linux__)
    if (t_stackGuard.high != 0) return;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* address = nullptr;
    size_t size = 0;
    size_t guard = 0;
    if (pthread_attr_getstack(&attr, &address, &size) == 0) {
        pthread_attr_getguardsize(&attr, &guard);
        const uintptr_t low = reinterpret_cast<uintptr_t>(address);
        const uintptr_t span = std::max<uintptr_t>(guard, kGuardSpan);
        const long page = sysconf(_SC_PAGESIZE);
        t_stackGuard.low = low > span ? low - span : 0;
        t_stackGuard.high = low + static_cast<uintptr_t>(page > 0 ? page : 4096);
    }
    pthread_attr_destroy(&attr);
#endif
}

bool OnStackGuard(const void* address) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(address);
    return value >= t_stackGuard.low && value < t_stackGuard.high;
}

void OnFault(int signalNumber, siginfo_t* info, void*) {
    GuardFrame* frame = t_innermost;
    if (frame != nullptr) {
        frame->code =
            sys::FaultCodeForSignal(signalNumber, info->si_code, OnStackGuard(info->si_addr));
        siglongjmp(frame->jump, 1);
    }
    sys::RestoreTerminalFromSignal();
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signalNumber, &fallback, nullptr);
    // A fault of the processor repeats when the handler returns and then meets the default
    // action; a signal sent by kill or raise has to be sent again.
    if (info->si_code <= 0) raise(signalNumber);
}

}  // namespace

namespace sys {

uint32_t FaultCodeForSignal(int signalNumber, int signalCode, bool onStackGuard) {
    switch (signalNumber) {
        case SIGSEGV:
            return FaultCodeFor(FaultKind::kAccess, FaultDetail::kNone, onStackGuard);
        case SIGBUS:
            return FaultCodeFor(FaultKind::kAccess, FaultDetail::kNone, false);
        case SIGILL:
            return FaultCodeFor(FaultKind::kIllegalInstruction, FaultDetail::kNone, false);
        case SIGFPE: {
            FaultDetail detail = FaultDetail::kOtherFloat;
            if (signalCode == FPE_INTDIV) detail = FaultDetail::kIntegerDivide;
            if (signalCode == FPE_INTOVF) detail = FaultDetail::kIntegerOverflow;
            if (signalCode == FPE_FLTDIV) detail = FaultDetail::kFloatDivide;
            return FaultCodeFor(FaultKind::kArithmetic, detail, false);
        }
        default:
            return 0;
    }
}

namespace detail {

bool CallWithFaultGuard(void (*body)(void*), void* context, uint32_t& faultCode) {
    InstallFaultTranslation();
    GuardFrame frame;
    frame.previous = t_innermost;
    frame.code = 0;
    if (sigsetjmp(frame.jump, 1) != 0) {
        // Back from the handler, with the signal mask of the guard's entry.
        t_innermost = frame.previous;
        faultCode = frame.code;
        return true;
    }
    t_innermost = &frame;
    try {
        body(context);
    } catch (...) {
        t_innermost = frame.previous;
        throw;
    }
    t_innermost = frame.previous;
    return false;
}

}  // namespace detail
}  // namespace sys

void InstallFaultTranslation() {
    t_altStack.Ensure();
    FindStackGuardArea();
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        sigaction(signalNumber, &action, nullptr);
    }
}
