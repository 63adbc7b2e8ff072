#include "sys/se_exception.h"

#include <fenv.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

constexpr uint32_t kAccessViolation = 0xC0000005u;
constexpr uint32_t kIllegalInstruction = 0xC000001Du;
constexpr uint32_t kFloatDivide = 0xC000008Eu;
constexpr uint32_t kFloatInvalid = 0xC0000090u;
constexpr uint32_t kIntegerDivide = 0xC0000094u;
constexpr uint32_t kIntegerOverflow = 0xC0000095u;
constexpr uint32_t kStackOverflow = 0xC00000FDu;

// ---- Texts -------------------------------------------------------------------------------

TEST(GetExceptionText, KnownUnknownAndZero) {
    EXPECT_EQ(GetExceptionText(0xC0000005u), "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION");
    EXPECT_EQ(GetExceptionText(0x1234ABCDu), "Exception 0x1234ABCD\nUnknown system exception");
    EXPECT_EQ(GetExceptionText(0), "Exception 0x00000000\nUnknown system exception");
    EXPECT_EQ(GetExceptionText(0xFFFFFFFFu), "Exception 0xFFFFFFFF\nUnknown system exception");
    // A neighbour of a known code is not mistaken for it.
    EXPECT_EQ(GetExceptionText(0xC0000007u), "Exception 0xC0000007\nUnknown system exception");
}

struct NamedCode {
    uint32_t code;
    const char* text;
};

std::string Hex(uint32_t code) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(code));
    return buffer;
}

void PrintTo(const NamedCode& entry, std::ostream* out) {
    *out << "0x" << Hex(entry.code);
}

class ExceptionNames : public testing::TestWithParam<NamedCode> {};

TEST_P(ExceptionNames, TextCarriesCodeAndName) {
    EXPECT_EQ(GetExceptionText(GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExceptionNames,
    testing::Values(NamedCode{0x80000001u, "Exception 0x80000001\nSTATUS_GUARD_PAGE_VIOLATION"},
                    NamedCode{0x80000002u, "Exception 0x80000002\nSTATUS_DATATYPE_MISALIGNMENT"},
                    NamedCode{0x80000003u, "Exception 0x80000003\nSTATUS_BREAKPOINT"},
                    NamedCode{0x80000004u, "Exception 0x80000004\nSTATUS_SINGLE_STEP"},
                    NamedCode{0xC0000005u, "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION"},
                    NamedCode{0xC0000006u, "Exception 0xC0000006\nSTATUS_IN_PAGE_ERROR"},
                    NamedCode{0xC0000008u, "Exception 0xC0000008\nSTATUS_INVALID_HANDLE"},
                    NamedCode{0xC0000017u, "Exception 0xC0000017\nSTATUS_NO_MEMORY"},
                    NamedCode{0xC000001Du, "Exception 0xC000001D\nSTATUS_ILLEGAL_INSTRUCTION"},
                    NamedCode{0xC0000025u, "Exception 0xC0000025\nSTATUS_NONCONTINUABLE_EXCEPTION"},
                    NamedCode{0xC0000026u, "Exception 0xC0000026\nSTATUS_INVALID_DISPOSITION"},
                    NamedCode{0xC000008Cu, "Exception 0xC000008C\nSTATUS_ARRAY_BOUNDS_EXCEEDED"},
                    NamedCode{0xC000008Du, "Exception 0xC000008D\nSTATUS_FLOAT_DENORMAL_OPERAND"},
                    NamedCode{0xC000008Eu, "Exception 0xC000008E\nSTATUS_FLOAT_DIVIDE_BY_ZERO"},
                    NamedCode{0xC000008Fu, "Exception 0xC000008F\nSTATUS_FLOAT_INEXACT_RESULT"},
                    NamedCode{0xC0000090u, "Exception 0xC0000090\nSTATUS_FLOAT_INVALID_OPERATION"},
                    NamedCode{0xC0000091u, "Exception 0xC0000091\nSTATUS_FLOAT_OVERFLOW"},
                    NamedCode{0xC0000092u, "Exception 0xC0000092\nSTATUS_FLOAT_STACK_CHECK"},
                    NamedCode{0xC0000093u, "Exception 0xC0000093\nSTATUS_FLOAT_UNDERFLOW"},
                    NamedCode{0xC0000094u, "Exception 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO"},
                    NamedCode{0xC0000095u, "Exception 0xC0000095\nSTATUS_INTEGER_OVERFLOW"},
                    NamedCode{0xC0000096u, "Exception 0xC0000096\nSTATUS_PRIVILEGED_INSTRUCTION"},
                    NamedCode{0xC00000FDu, "Exception 0xC00000FD\nSTATUS_STACK_OVERFLOW"},
                    NamedCode{0xC0000135u, "Exception 0xC0000135\nSTATUS_DLL_NOT_FOUND"},
                    NamedCode{0xC0000142u, "Exception 0xC0000142\nSTATUS_DLL_INIT_FAILED"},
                    NamedCode{0xC06D007Eu, "Exception 0xC06D007E\nDelay-load module not found"},
                    NamedCode{0xC06D007Fu,
                              "Exception 0xC06D007F\nDelay-load procedure not found"}));

// ---- Fault codes -------------------------------------------------------------------------

TEST(FaultCodeFor, Mapping) {
    EXPECT_EQ(FaultCodeFor(FaultKind::kAccess, FaultDetail::kNone, false), kAccessViolation);
    EXPECT_EQ(FaultCodeFor(FaultKind::kAccess, FaultDetail::kNone, true), kStackOverflow);
    EXPECT_EQ(FaultCodeFor(FaultKind::kIllegalInstruction, FaultDetail::kNone, false),
              kIllegalInstruction);
    EXPECT_EQ(FaultCodeFor(FaultKind::kArithmetic, FaultDetail::kIntegerDivide, false),
              kIntegerDivide);
    EXPECT_EQ(FaultCodeFor(FaultKind::kArithmetic, FaultDetail::kIntegerOverflow, false),
              kIntegerOverflow);
    EXPECT_EQ(FaultCodeFor(FaultKind::kArithmetic, FaultDetail::kFloatDivide, false), kFloatDivide);
    EXPECT_EQ(FaultCodeFor(FaultKind::kArithmetic, FaultDetail::kOtherFloat, false), kFloatInvalid);
    EXPECT_EQ(FaultCodeFor(FaultKind::kArithmetic, FaultDetail::kNone, false), kFloatInvalid);
    // Only an access can be a stack overflow.
    EXPECT_EQ(FaultCodeFor(FaultKind::kArithmetic, FaultDetail::kIntegerDivide, true),
              kIntegerDivide);
    EXPECT_EQ(FaultCodeFor(FaultKind::kIllegalInstruction, FaultDetail::kNone, true),
              kIllegalInstruction);
}

TEST(FaultCodeForSignal, SignalsAndTheirCodes) {
    EXPECT_EQ(sys::FaultCodeForSignal(SIGSEGV, SEGV_MAPERR, false), kAccessViolation);
    EXPECT_EQ(sys::FaultCodeForSignal(SIGSEGV, SEGV_ACCERR, true), kStackOverflow);
    EXPECT_EQ(sys::FaultCodeForSignal(SIGBUS, BUS_ADRERR, false), kAccessViolation);
    EXPECT_EQ(sys::FaultCodeForSignal(SIGILL, ILL_ILLOPN, false), kIllegalInstruction);
    EXPECT_EQ(sys::FaultCodeForSignal(SIGFPE, FPE_INTDIV, false), kIntegerDivide);
    EXPECT_EQ(sys::FaultCodeForSignal(SIGFPE, FPE_INTOVF, false), kIntegerOverflow);
    EXPECT_EQ(sys::FaultCodeForSignal(SIGFPE, FPE_FLTDIV, false), kFloatDivide);
    for (int code : {FPE_FLTOVF, FPE_FLTUND, FPE_FLTRES, FPE_FLTINV, FPE_FLTSUB}) {
        EXPECT_EQ(sys::FaultCodeForSignal(SIGFPE, code, false), kFloatInvalid) << code;
    }
    EXPECT_EQ(sys::FaultCodeForSignal(SIGINT, 0, false), 0u);
}

// ---- Real faults -------------------------------------------------------------------------
// The faults are undefined behaviour on purpose; the sanitizer must not intercept them.

__attribute__((no_sanitize("undefined"), noinline)) void WriteThroughNull() {
    volatile int* volatile pointer = nullptr;
    *pointer = 1;
}

__attribute__((no_sanitize("undefined"), noinline)) int DivideByZero() {
    volatile int numerator = 7;
    volatile int denominator = 0;
    return numerator / denominator;
}

__attribute__((noinline)) void ExecuteIllegalInstruction() {
    __builtin_trap();
}

__attribute__((no_sanitize("undefined"), noinline)) double DivideFloatByZero() {
    volatile double numerator = 1.0;
    volatile double denominator = 0.0;
    return numerator / denominator;
}

// Recursion that touches every frame, so that the first access past the stack's end lands
// in its guard area.
__attribute__((noinline)) int Recurse(int depth) {
    volatile int limit = 1 << 30;  // never reached; keeps the recursion finite to the compiler
    if (depth >= limit) return 0;
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    frame[255] = static_cast<char>(depth);
    return Recurse(depth + 1) + frame[0] + frame[255];
}

// The code of the SE_Exception that running f under a guard throws; 0 when none is thrown.
template <class F>
uint32_t FaultCode(F&& f) {
    try {
        RunGuarded(std::forward<F>(f));
    } catch (const SE_Exception& e) {
        return e.code;
    }
    return 0;
}

bool SignalBlocked(int signalNumber) {
    sigset_t mask;
    sigemptyset(&mask);
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signalNumber) == 1;
}

TEST(RunGuarded, NullWriteBecomesAccessViolationAndTheProcessGoesOn) {
    EXPECT_EQ(FaultCode(WriteThroughNull), kAccessViolation);
    EXPECT_FALSE(SignalBlocked(SIGSEGV));
    // The handler is still in place and the guard works again.
    EXPECT_EQ(FaultCode(WriteThroughNull), kAccessViolation);
    EXPECT_EQ(RunGuarded([] { return 40 + 2; }), 42);
}

TEST(RunGuarded, IntegerDivisionByZero) {
    EXPECT_EQ(FaultCode(DivideByZero), kIntegerDivide);
    EXPECT_FALSE(SignalBlocked(SIGFPE));
    EXPECT_EQ(FaultCode(DivideByZero), kIntegerDivide);
}

TEST(RunGuarded, IllegalInstruction) {
    EXPECT_EQ(FaultCode(ExecuteIllegalInstruction), kIllegalInstruction);
    EXPECT_FALSE(SignalBlocked(SIGILL));
}

TEST(RunGuarded, FloatDivisionByZeroWhenTrapsAreEnabled) {
    feclearexcept(FE_ALL_EXCEPT);
    const int previous = feenableexcept(FE_DIVBYZERO);
    ASSERT_NE(previous, -1);
    const uint32_t code = FaultCode(DivideFloatByZero);
    fedisableexcept(FE_ALL_EXCEPT);
    feenableexcept(previous);
    feclearexcept(FE_ALL_EXCEPT);
    EXPECT_EQ(code, kFloatDivide);
}

TEST(RunGuarded, StackOverflowOnAThread) {
    // A thread with a small stack overflows quickly; it also gets its own alternate stack.
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 512 * 1024);
    uint32_t code = 0;
    pthread_t thread;
    auto body = [](void* result) -> void* {
        *static_cast<uint32_t*>(result) = FaultCode([] { return Recurse(0); });
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, body, &code), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(code, kStackOverflow);
}

TEST(RunGuarded, StackOverflowOnTheMainThread) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_STACK, &limit), 0);
    // Without a modest limit the recursion would eat memory instead of overflowing.
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > (rlim_t{64} << 20)) {
        GTEST_SKIP() << "stack limit too large";
    }
    EXPECT_EQ(FaultCode([] { return Recurse(0); }), kStackOverflow);
    // The stack is usable again.
    EXPECT_EQ(FaultCode(WriteThroughNull), kAccessViolation);
}

TEST(RunGuarded, NestedGuards) {
    int steps = 0;
    const uint32_t outer = FaultCode([&] {
        // The inner guard catches its own fault; the outer one is untouched.
        EXPECT_EQ(FaultCode(WriteThroughNull), kAccessViolation);
        ++steps;
        // An SE_Exception left uncaught crosses the outer guard unchanged.
        RunGuarded(DivideByZero);
        ++steps;
    });
    EXPECT_EQ(outer, kIntegerDivide);
    EXPECT_EQ(steps, 1);

    // After an inner guard has ended, a fault belongs to the outer guard.
    const uint32_t afterInner = FaultCode([] {
        RunGuarded([] {});
        WriteThroughNull();
    });
    EXPECT_EQ(afterInner, kAccessViolation);
}

TEST(RunGuarded, OrdinaryExceptionsPassThrough) {
    EXPECT_THROW(RunGuarded([] { throw std::runtime_error("plain"); }), std::runtime_error);
    try {
        RunGuarded([]() -> int { throw 17; });
        FAIL() << "no exception";
    } catch (int value) {
        EXPECT_EQ(value, 17);
    }
    // The guard left with the exception is gone: a later guard still works normally.
    EXPECT_EQ(FaultCode(WriteThroughNull), kAccessViolation);
}

TEST(RunGuarded, ReturnsResults) {
    auto owned = RunGuarded([] { return std::make_unique<std::string>("moved"); });
    ASSERT_NE(owned, nullptr);
    EXPECT_EQ(*owned, "moved");
    int value = 5;
    int& reference = RunGuarded([&]() -> int& { return value; });
    EXPECT_EQ(&reference, &value);
    const auto constCallable = [] { return std::string("const"); };
    EXPECT_EQ(RunGuarded(constCallable), "const");
}

// ---- Faults without a guard end the process ----------------------------------------------

using RunGuardedDeathTest = testing::Test;

TEST(RunGuardedDeathTest, FaultOutsideAnyGuardKillsBySignal) {
    EXPECT_EXIT(
        {
            InstallFaultTranslation();
            WriteThroughNull();
        },
        testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(
        {
            InstallFaultTranslation();
            DivideByZero();
        },
        testing::KilledBySignal(SIGFPE), "");
}

TEST(RunGuardedDeathTest, SentSignalOutsideAnyGuardKillsBySignal) {
    EXPECT_EXIT(
        {
            InstallFaultTranslation();
            raise(SIGBUS);
        },
        testing::KilledBySignal(SIGBUS), "");
}

TEST(RunGuardedDeathTest, GuardsEndedNormallyOrByExceptionAreGone) {
    EXPECT_EXIT(
        {
            RunGuarded([] {});
            WriteThroughNull();
        },
        testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(
        {
            try {
                RunGuarded([] { throw 1; });
            } catch (int) {
            }
            WriteThroughNull();
        },
        testing::KilledBySignal(SIGSEGV), "");
}

TEST(RunGuardedDeathTest, FaultOnAnotherThreadIsNotTranslated) {
    EXPECT_EXIT(
        {
            RunGuarded([] {
                std::thread other(WriteThroughNull);
                other.join();
            });
        },
        testing::KilledBySignal(SIGSEGV), "");
}

}  // namespace
