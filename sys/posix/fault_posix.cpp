// Faults as signals: handlers for SIGSEGV, SIGBUS, SIGFPE and SIGILL on an alternate stack
// jump back (siglongjmp) to the innermost guard of the faulting thread.
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
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
// Set while the main thread runs the tool's own code inside a guard (it may hold the heap's
// lock): a fault handed over then waits for LeaveOwnCode instead of a jump.
thread_local volatile sig_atomic_t t_ownCode = 0;
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

// The hand-over of a fault from a thread the tool did not start to the main thread.
enum HandOff : int { kNone = 0, kOffered = 1, kTaken = 2 };
std::atomic<int> g_handOff{kNone};
std::atomic<uint32_t> g_handOffCode{0};
std::atomic<bool> g_mainKnown{false};
pthread_t g_mainThread;
volatile sig_atomic_t g_faultMessageFd = STDERR_FILENO;
std::atomic<std::atomic<uint32_t>*> g_faultSlot{nullptr};

void Record(uint32_t code) {
    std::atomic<uint32_t>* slot = g_faultSlot.load();
    uint32_t none = 0;
    if (slot != nullptr && code != 0) slot->compare_exchange_strong(none, code);
}
constexpr int kWaitForMainMs = 1000;

int HandOffSignal() {
    return SIGRTMIN + 3;
}

[[noreturn]] void Park() {
    for (;;)
        pause();
}

void WriteAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        const ssize_t put = write(fd, text, length);
        if (put <= 0) return;
        text += put;
        length -= static_cast<size_t>(put);
    }
}

// On a frame server's thread: offer the fault to the main thread and park; if the main
// thread does not take it in time, say what happened and end the process.
[[noreturn]] void HandOffToMainThread(uint32_t code) {
    int expected = kNone;
    if (!g_handOff.compare_exchange_strong(expected, kOffered)) Park();  // one fault is enough
    g_handOffCode.store(code);
    pthread_kill(g_mainThread, HandOffSignal());
    for (int waited = 0; waited < kWaitForMainMs; waited += 10) {
        if (g_handOff.load() == kTaken) Park();
        struct timespec tenMs = {0, 10 * 1000 * 1000};
        nanosleep(&tenMs, nullptr);
    }
    sys::RestoreTerminalFromSignal();
    // A watching process has the fault's code and every sample: it reports, with the files.
    if (g_faultSlot.load() == nullptr) {
        char text[600];
        text[0] = '\n';
        size_t length = 1 + FormatExceptionText(code, text + 1, sizeof text - 2);
        text[length++] = '\n';
        WriteAll(g_faultMessageFd, text, length);
    }
    _exit(255);
}

// On the main thread, sent by HandOffToMainThread: leave the guard as for a fault of its own.
void OnHandOff(int) {
    GuardFrame* frame = t_innermost;
    if (frame == nullptr) return;  // not inside the frame server: the offer times out
    if (t_ownCode) return;         // taken by LeaveOwnCode
    int expected = kOffered;
    if (!g_handOff.compare_exchange_strong(expected, kTaken)) return;
    frame->code = g_handOffCode.load();
    siglongjmp(frame->jump, 1);
}

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
        Record(frame->code);
        siglongjmp(frame->jump, 1);
    }
    if (info->si_code > 0) Record(sys::FaultCodeForSignal(signalNumber, info->si_code, false));
    // A fault of the processor on another thread (one kill or raise sends is not a fault).
    if (info->si_code > 0 && g_mainKnown.load() && !pthread_equal(pthread_self(), g_mainThread)) {
        HandOffToMainThread(sys::FaultCodeForSignal(signalNumber, info->si_code, false));
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

namespace sys {

void EnterOwnCode() {
    t_ownCode = 1;
}

void LeaveOwnCode() {
    t_ownCode = 0;
    if (g_handOff.load() != kOffered || t_innermost == nullptr) return;
    int expected = kOffered;
    if (g_handOff.compare_exchange_strong(expected, kTaken))
        throw SE_Exception{g_handOffCode.load()};
}

bool ForeignThreadFaulted() {
    return g_handOff.load() == kTaken;
}

void EndProcessAfterForeignFault(int exitCode) {
    std::fflush(nullptr);
    RestoreTerminalFromSignal();
    _exit(exitCode & 0xFF);
}

void SetFaultMessageStream(bool toStdout) {
    g_faultMessageFd = toStdout ? STDOUT_FILENO : STDERR_FILENO;
}

void RecordFaultsIn(std::atomic<uint32_t>* slot) {
    g_faultSlot.store(slot);
}

}  // namespace sys

void InstallFaultTranslation() {
    if (!g_mainKnown.load()) {
        g_mainThread = pthread_self();
        g_mainKnown.store(true);
    }
    t_altStack.Ensure();
    FindStackGuardArea();
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        sigaction(signalNumber, &action, nullptr);
    }
    struct sigaction handOff {};
    handOff.sa_handler = OnHandOff;
    handOff.sa_flags = SA_ONSTACK;
    sigemptyset(&handOff.sa_mask);
    sigaction(HandOffSignal(), &handOff, nullptr);
}
