// Faults as structured exceptions: a vectored handler sends the faulting thread to the
// innermost guard of its own (MinGW has no working _set_se_translator), or hands a fault
// of the frame server's threads to the main thread.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "sys/se_exception.h"
#include "sys/terminal.h"

namespace {

struct GuardFrame {
    void* jump[5];  // __builtin_setjmp's buffer: no unwinding through foreign frames
    GuardFrame* previous;
    volatile uint32_t code;
};

thread_local GuardFrame* volatile t_innermost = nullptr;
thread_local volatile bool t_ownCode = false;

enum HandOff : int { kNone = 0, kOffered = 1, kTaken = 2 };
std::atomic<int> g_handOff{kNone};
std::atomic<uint32_t> g_handOffCode{0};
std::atomic<DWORD> g_mainThreadId{0};
// The main thread's guard depth and own-code mark, readable from the faulting thread.
std::atomic<int> g_mainGuards{0};
std::atomic<bool> g_mainOwnCode{false};
std::atomic<bool> g_installed{false};
std::atomic<DWORD> g_faultMessageHandle{STD_ERROR_HANDLE};
constexpr DWORD kWaitForMainMs = 1000;

bool IsMainThread() {
    return GetCurrentThreadId() == g_mainThreadId.load();
}

// The codes of processor faults; anything else (C++ exceptions, debug output) passes on.
bool IsHardwareFault(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_IN_PAGE_ERROR:
        case EXCEPTION_DATATYPE_MISALIGNMENT:
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_INT_OVERFLOW:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_OVERFLOW:
        case EXCEPTION_FLT_STACK_CHECK:
        case EXCEPTION_FLT_UNDERFLOW:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_PRIV_INSTRUCTION:
        case EXCEPTION_STACK_OVERFLOW:
            return true;
        default:
            return false;
    }
}

// Runs in place of the faulting instruction: the thread leaves for its innermost guard.
[[noreturn]] void JumpToGuard() {
    GuardFrame* frame = t_innermost;
    __builtin_longjmp(frame->jump, 1);
}

// Runs on the main thread when a frame server's thread handed it a fault.
void TakeHandOff() {
    int expected = kOffered;
    if (g_handOff.compare_exchange_strong(expected, kTaken) && t_innermost != nullptr) {
        t_innermost->code = g_handOffCode.load();
        JumpToGuard();
    }
    for (;;)
        Sleep(INFINITE);  // not reached: the offer is only made inside a guard
}

// Makes the thread of context continue in target, as if called from where it stopped.
void RedirectTo(CONTEXT& context, void (*target)()) {
#if defined(_WIN64)
    DWORD64 sp = (context.Rsp & ~DWORD64{15}) - 8;
    *reinterpret_cast<DWORD64*>(sp) = context.Rip;
    context.Rsp = sp;
    context.Rip = reinterpret_cast<DWORD64>(target);
#else
    DWORD sp = (context.Esp & ~DWORD{15}) - 4;
    *reinterpret_cast<DWORD*>(sp) = context.Eip;
    context.Esp = sp;
    context.Eip = reinterpret_cast<DWORD>(target);
#endif
}

void WriteText(const char* text, size_t length) {
    DWORD written = 0;
    WriteFile(GetStdHandle(g_faultMessageHandle.load()), text, static_cast<DWORD>(length), &written,
              nullptr);
}

// On a frame server's thread: offer the fault to the main thread and park; if the main
// thread does not take it in time, say what happened and end the process.
[[noreturn]] void HandOffToMainThread(uint32_t code) {
    int expected = kNone;
    if (!g_handOff.compare_exchange_strong(expected, kOffered)) {
        for (;;)
            Sleep(INFINITE);  // one fault is enough
    }
    g_handOffCode.store(code);
    const HANDLE main = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT,
                                   FALSE, g_mainThreadId.load());
    if (main != nullptr && SuspendThread(main) != static_cast<DWORD>(-1)) {
        // Inside the frame server, not in the tool's own code: LeaveOwnCode takes it there.
        if (g_mainGuards.load() > 0 && !g_mainOwnCode.load()) {
            CONTEXT context{};
            context.ContextFlags = CONTEXT_CONTROL;
            if (GetThreadContext(main, &context)) {
                RedirectTo(context, TakeHandOff);
                SetThreadContext(main, &context);
            }
        }
        ResumeThread(main);
    }
    if (main != nullptr) CloseHandle(main);
    for (DWORD waited = 0; waited < kWaitForMainMs; waited += 10) {
        if (g_handOff.load() == kTaken) {
            for (;;)
                Sleep(INFINITE);
        }
        Sleep(10);
    }
    char text[600];
    text[0] = '\n';
    size_t length = 1 + FormatExceptionText(code, text + 1, sizeof text - 2);
    text[length++] = '\n';
    sys::RestoreTerminalFromSignal();
    WriteText(text, length);
    TerminateProcess(GetCurrentProcess(), 255);
    for (;;)
        Sleep(INFINITE);
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (!IsHardwareFault(code)) return EXCEPTION_CONTINUE_SEARCH;
    if (t_innermost != nullptr) {
        t_innermost->code = code;
        RedirectTo(*pointers->ContextRecord, JumpToGuard);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (g_mainThreadId.load() != 0 && !IsMainThread()) HandOffToMainThread(code);
    // Unguarded on the main thread: as an unhandled fault would, after the console is reset.
    sys::RestoreTerminalFromSignal();
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

namespace sys {

uint32_t FaultCodeForSignal(int, int, bool) {
    return 0;  // faults arrive with their Windows codes here
}

namespace detail {

bool CallWithFaultGuard(void (*body)(void*), void* context, uint32_t& faultCode) {
    InstallFaultTranslation();
    GuardFrame frame;
    frame.previous = t_innermost;
    frame.code = 0;
    const bool main = IsMainThread();
    if (__builtin_setjmp(frame.jump) != 0) {
        t_innermost = frame.previous;
        if (main) g_mainGuards.fetch_sub(1);
        faultCode = frame.code;
        if (faultCode == EXCEPTION_STACK_OVERFLOW) _resetstkoflw();  // the guard page again
        return true;
    }
    t_innermost = &frame;
    if (main) g_mainGuards.fetch_add(1);
    try {
        body(context);
    } catch (...) {
        t_innermost = frame.previous;
        if (main) g_mainGuards.fetch_sub(1);
        throw;
    }
    t_innermost = frame.previous;
    if (main) g_mainGuards.fetch_sub(1);
    return false;
}

}  // namespace detail

void EnterOwnCode() {
    t_ownCode = true;
    if (IsMainThread()) g_mainOwnCode = true;
}

void LeaveOwnCode() {
    t_ownCode = false;
    if (IsMainThread()) g_mainOwnCode = false;
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
    // The frame server's threads may hold its locks: no unloading, no destructors.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode & 0xFF));
    for (;;)
        Sleep(INFINITE);
}

// Windows keeps its faults in process: there is no watcher to tell.
void RecordFaultsIn(std::atomic<uint32_t>*) {}

void SetFaultMessageStream(bool toStdout) {
    g_faultMessageHandle = toStdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

}  // namespace sys

void InstallFaultTranslation() {
    DWORD none = 0;
    g_mainThreadId.compare_exchange_strong(none, GetCurrentThreadId());
    if (!g_installed.exchange(true)) AddVectoredExceptionHandler(1, OnException);
}
