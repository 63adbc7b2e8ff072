#include "sys/se_exception.h"

#include <fenv.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>

#include "support/process.h"

namespace {

constexpr uint32_t kAccessViolation = 0xC0000005u;
constexpr uint32_t kIllegalInstruction = 0xC000001Du;
constexpr uint32_t kFloatDivide = 0xC000008Eu;
constexpr uint32_t kIntegerDivide = 0xC0000094u;
constexpr uint32_t kStackOverflow = 0xC00000FDu;

TEST(GetExceptionText, CodeInHexAndItsNameOrUnknown) {
    const std::pair<uint32_t, const char*> cases[] = {
        {kAccessViolation, "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION"},
        {kIntegerDivide, "Exception 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO"},
        {0xC0000007u, "Exception 0xC0000007\nUnknown system exception"},  // a neighbour
        {0, "Exception 0x00000000\nUnknown system exception"}};
    for (const auto& [code, text] : cases)
        EXPECT_EQ(GetExceptionText(code), text);
}

// The other mappings; only an access can be a stack overflow.
TEST(FaultCodeForSignal, SignalsAndTheirCodes) {
    // Signal, its code, on the stack's guard area, the code of the exception.
    const std::tuple<int, int, bool, uint32_t> cases[] = {
        {SIGBUS, BUS_ADRERR, false, kAccessViolation},
        {SIGSEGV, SEGV_ACCERR, true, kStackOverflow},
        {SIGILL, ILL_ILLOPN, true, kIllegalInstruction},
        {SIGFPE, FPE_INTDIV, true, kIntegerDivide},
        {SIGFPE, FPE_INTOVF, false, 0xC0000095u},  // integer overflow
        {SIGFPE, FPE_FLTOVF, false, 0xC0000090u},  // any other float fault: invalid
        {SIGFPE, 0, false, 0xC0000090u},
        {SIGINT, 0, false, 0}};
    for (const auto& [signal, code, onStackGuard, expected] : cases)
        EXPECT_EQ(sys::FaultCodeForSignal(signal, code, onStackGuard), expected) << signal << code;
}

// ---- Real faults: undefined behaviour on purpose, which the sanitizer must not intercept.

__attribute__((no_sanitize("undefined"), noinline)) void WriteThroughNull() {
    volatile int* volatile pointer = nullptr;
    *pointer = 1;
}

__attribute__((no_sanitize("undefined"), noinline)) void DivideByZero() {
    volatile int numerator = 7, denominator = 0;
    numerator = numerator / denominator;
}

__attribute__((noinline)) void ExecuteIllegalInstruction() {
    __builtin_trap();
}

__attribute__((no_sanitize("undefined"), noinline)) void DivideFloatByZero() {
    volatile double numerator = 1.0, denominator = 0.0;
    numerator = numerator / denominator;
}

// Touches every frame, so that the first access past the stack's end lands in its guard area.
__attribute__((noinline)) int Recurse(int depth) {
    volatile int limit = 1 << 30;  // never reached; keeps the recursion finite to the compiler
    if (depth >= limit) return 0;
    volatile char frame[256];
    frame[0] = frame[255] = static_cast<char>(depth);
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

TEST(RunGuarded, HardwareFaultsBecomeTheirCodesAgainAndAgain) {
    const testsupport::SignalStateKept signalsKept;  // a guard installs fault handlers
    const std::pair<void (*)(), uint32_t> cases[] = {
        {WriteThroughNull, kAccessViolation},
        {DivideByZero, kIntegerDivide},
        {ExecuteIllegalInstruction, kIllegalInstruction}};
    for (int round = 0; round < 2; ++round) {
        for (const auto& [fault, code] : cases)
            EXPECT_EQ(FaultCode(fault), code) << round;
    }
    feclearexcept(FE_ALL_EXCEPT);
    const int previous = feenableexcept(FE_DIVBYZERO);
    ASSERT_NE(previous, -1);
    const uint32_t code = FaultCode(DivideFloatByZero);
    fedisableexcept(FE_ALL_EXCEPT);
    feenableexcept(previous);
    feclearexcept(FE_ALL_EXCEPT);
    EXPECT_EQ(code, kFloatDivide);
}

TEST(RunGuarded, StackOverflowOnAThreadAndOnTheMainThread) {
    const testsupport::SignalStateKept signalsKept;  // a guard installs fault handlers
    // A thread gets its own alternate stack.
    uint32_t code = 0;
    std::thread([&] { code = FaultCode([] { return Recurse(0); }); }).join();
    EXPECT_EQ(code, kStackOverflow);

    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_STACK, &limit), 0);
    // Without a modest limit the recursion would eat memory instead of overflowing.
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > (rlim_t{64} << 20)) {
        GTEST_SKIP() << "stack limit too large for the main thread's case";
    }
    EXPECT_EQ(FaultCode([] { return Recurse(0); }), kStackOverflow);
    EXPECT_EQ(FaultCode(WriteThroughNull), kAccessViolation);  // the stack is usable again
}

TEST(RunGuarded, GuardsNestAndOrdinaryExceptionsPassThrough) {
    const testsupport::SignalStateKept signalsKept;  // a guard installs fault handlers
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
    EXPECT_THROW(RunGuarded([] { throw std::runtime_error("plain"); }), std::runtime_error);
    EXPECT_EQ(FaultCode(WriteThroughNull), kAccessViolation);  // a later guard still works

    // Results of every kind come back: values, move-only values and references.
    EXPECT_EQ(RunGuarded([] { return 40 + 2; }), 42);
    auto owned = RunGuarded([] { return std::make_unique<std::string>("moved"); });
    ASSERT_NE(owned, nullptr);
    EXPECT_EQ(*owned, "moved");
    int value = 5;
    EXPECT_EQ(&RunGuarded([&]() -> int& { return value; }), &value);
}

// ---- Faults without a guard end the process by their signal.

// Each in a fresh process, as the fault handling binds to the first thread that installs it.
// The alarm ends a fault that repeats.
class RunGuardedDeathTest : public testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    void TearDown() override { GTEST_FLAG_SET(death_test_style, style_); }

  private:
    const std::string style_ = GTEST_FLAG_GET(death_test_style);
};

TEST_F(RunGuardedDeathTest, UnguardedFaultsKillBySignal) {
    EXPECT_EXIT((alarm(10), InstallFaultTranslation(), DivideByZero()),
                testing::KilledBySignal(SIGFPE), "");
    // A guard that ended by an exception is gone.
    EXPECT_EXIT(
        {
            alarm(10);
            try {
                RunGuarded([] { throw 1; });
            } catch (int) {
            }
            WriteThroughNull();
        },
        testing::KilledBySignal(SIGSEGV), "");
    // After an inner guard has ended, normally or by its fault, a fault belongs to the outer
    // guard. A jump into an ended guard would repeat the fault.
    EXPECT_EXIT(
        {
            alarm(10);
            const uint32_t code = FaultCode([] {
                RunGuarded([] {});
                FaultCode(WriteThroughNull);
                DivideByZero();
            });
            std::exit(code == kIntegerDivide ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// A fault on a foreign thread reaches the main thread's guard, or without one ends with 255.
TEST_F(RunGuardedDeathTest, FaultsOfOtherThreadsReachTheMainThread) {
    EXPECT_EXIT(
        {
            alarm(10);
            const uint32_t code = FaultCode([] { std::thread(WriteThroughNull).join(); });
            _exit(code == kAccessViolation && sys::ForeignThreadFaulted() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            alarm(10);
            InstallFaultTranslation();
            std::thread(DivideByZero).join();
        },
        testing::ExitedWithCode(255), "Exception 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO");
}

}  // namespace
