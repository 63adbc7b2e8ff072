// Hardware faults (access violation, division by zero, stack overflow, ...) turned into an
// ordinary C++ exception carrying the Windows structured-exception code, so that one handler
// catches them wherever the fault came from.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

struct SE_Exception {
    uint32_t code;
};

// "Exception 0x%08X\n%s" with the code and its name ("Unknown system exception" for a code
// without one).
std::string GetExceptionText(uint32_t code);

// GetExceptionText into a buffer, without allocating: async-signal-safe. Returns its length.
size_t FormatExceptionText(uint32_t code, char* buffer, size_t size);

// Portable description of a fault, as the signal handler sees it.
enum class FaultKind { kAccess, kArithmetic, kIllegalInstruction };
enum class FaultDetail { kNone, kIntegerDivide, kIntegerOverflow, kFloatDivide, kOtherFloat };

// The Windows code for a fault. onStackGuard marks an access in the stack's guard area (a
// stack overflow). Async-signal-safe.
uint32_t FaultCodeFor(FaultKind kind, FaultDetail detail, bool onStackGuard);

namespace sys {

// FaultCodeFor for a signal number and its si_code; 0 for a signal that is not a fault.
// Async-signal-safe.
uint32_t FaultCodeForSignal(int signalNumber, int signalCode, bool onStackGuard);

}  // namespace sys

// Installs the fault handlers (process-wide, on an alternate stack) and gives the calling
// thread its alternate stack. Installing again changes nothing. The first thread to install
// them is the main thread.
//
// A fault on the main thread outside any RunGuarded restores the terminal and ends the
// process by its signal, as an unhandled fault would. A fault on a thread the tool did not
// start (the frame server's workers) is handed to the main thread: if the main thread is
// inside a RunGuarded, that guard throws SE_Exception with the fault's code, as for a fault
// of its own, and the faulting thread is parked for good. If the main thread does not take
// it within a second, the exception's text is printed, the terminal restored and the
// process ends with 255.
void InstallFaultTranslation();

namespace sys {
// True once a fault of another thread was handed to the main thread. The frame server's
// threads may then hold its locks: the process must end with EndProcessAfterForeignFault,
// without unloading the library or running destructors.
bool ForeignThreadFaulted();
// Around the main thread's own work inside a guard (allocation, output): a fault handed over
// meanwhile is not jumped into but thrown by LeaveOwnCode, as SE_Exception.
void EnterOwnCode();
void LeaveOwnCode();
[[noreturn]] void EndProcessAfterForeignFault(int exitCode);
// Where the fallback writes the exception's text: standard output or standard error.
void SetFaultMessageStream(bool toStdout);
// Every fault seen from now on also leaves its code in slot (the first one only), before
// anything else is done about it: memory shared with a watcher that can report it should
// this process never get as far.
void RecordFaultsIn(std::atomic<uint32_t>* slot);
}  // namespace sys

namespace sys::detail {

// Calls body(context) with a fault guard set for the calling thread (installing the
// handlers first). True when a fault ended the call; faultCode then holds its code.
// Exceptions thrown by body pass through.
bool CallWithFaultGuard(void (*body)(void*), void* context, uint32_t& faultCode);

}  // namespace sys::detail

// Runs f; a fault on this thread while f runs becomes `throw SE_Exception{code}` here.
// Guards nest, exceptions thrown by f pass through unchanged. Objects living in f's frames
// at the moment of a fault are abandoned, not destroyed: set the guard around a whole phase
// of calls into foreign code, never around each small call (it costs a few system calls).
template <class F>
auto RunGuarded(F&& f) -> decltype(f()) {
    using Result = decltype(f());
    using Fn = std::remove_reference_t<F>;
    uint32_t code = 0;
    if constexpr (std::is_void_v<Result>) {
        struct Call {
            Fn* fn;
        } call{std::addressof(f)};
        auto body = [](void* context) { (*static_cast<Call*>(context)->fn)(); };
        if (sys::detail::CallWithFaultGuard(body, &call, code)) throw SE_Exception{code};
    } else if constexpr (std::is_reference_v<Result>) {
        struct Call {
            Fn* fn;
            std::remove_reference_t<Result>* result;
        } call{std::addressof(f), nullptr};
        auto body = [](void* context) {
            auto* c = static_cast<Call*>(context);
            c->result = std::addressof((*c->fn)());
        };
        if (sys::detail::CallWithFaultGuard(body, &call, code)) throw SE_Exception{code};
        return static_cast<Result>(*call.result);
    } else {
        struct Call {
            Fn* fn;
            std::optional<Result> result;
        } call{std::addressof(f), std::nullopt};
        auto body = [](void* context) {
            auto* c = static_cast<Call*>(context);
            c->result.emplace((*c->fn)());
        };
        if (sys::detail::CallWithFaultGuard(body, &call, code)) throw SE_Exception{code};
        return std::move(*call.result);
    }
}
