#include "sys/timer.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace {

constexpr uint64_t kWrap = uint64_t{1} << 32;

TEST(TickReader, CorrectsOnlyTheFirstReadingAfterAWrap) {
    TickReader reader;
    EXPECT_EQ(reader.Next(1000u), 1000u);
    EXPECT_EQ(reader.Next(0xFFFFFFF0u), 0xFFFFFFF0u);
    // The counter wrapped: the reading gains 2^32, so the difference stays right.
    const uint64_t afterWrap = reader.Next(16u);
    EXPECT_EQ(afterWrap, 16u + kWrap);
    EXPECT_EQ(afterWrap - 0xFFFFFFF0u, 32u);
    // The next reading is compared with the raw 16, not the corrected value.
    EXPECT_EQ(reader.Next(20u), 20u);
    // An equal reading is no wrap.
    EXPECT_EQ(reader.Next(20u), 20u);

    // A fresh reader starts from 0: its first reading is never corrected.
    TickReader fresh;
    EXPECT_EQ(fresh.Next(0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(fresh.Next(0u), kWrap);
}

struct DurationCase {
    uint64_t ms;
    const char* withBlanks;
    const char* trimmed;
};

TEST(FormatDuration, Layouts) {
    const uint64_t hour = 3600000;
    const DurationCase cases[] = {
        {0, "   00:00:00.000", "00:00:00.000"},
        {3723004, "   01:02:03.004", "01:02:03.004"},
        {100 * hour - 1, "   99:59:59.999", "99:59:59.999"},
        {100 * hour, "  100:00:00.000", "100:00:00.000"},
        {99999 * hour + 59999, "99999:00:59.999", "99999:00:59.999"},
        {100000 * hour, "100000:00:00.000", "100000:00:00.000"},
    };
    for (const DurationCase& c : cases) {
        SCOPED_TRACE(c.ms);
        EXPECT_EQ(CTimer::FormatDuration(c.ms, true), c.withBlanks);
        EXPECT_EQ(CTimer::FormatDuration(c.ms, false), c.trimmed);
    }
}

TEST(FormatDuration, LargestValueKeepsAllHours) {
    const uint64_t ms = UINT64_MAX;
    const std::string expected = std::to_string(ms / 3600000) + ":" +
                                 std::to_string((ms / 60000) % 60) + ":" +
                                 std::to_string((ms / 1000) % 60) + "." + std::to_string(ms % 1000);
    EXPECT_EQ(CTimer::FormatDuration(ms, true), expected);
    EXPECT_EQ(CTimer::FormatDuration(ms, false), expected);
}

TEST(CounterSpanAcceptable, BoundsAreExclusive) {
    EXPECT_TRUE(CounterSpanAcceptable(10.0, 10.5));
    EXPECT_TRUE(CounterSpanAcceptable(10.0, 10.41));
    EXPECT_TRUE(CounterSpanAcceptable(10.0, 10.59));
    // Spans are computed from the same arithmetic as the check, so the bounds hit exactly.
    EXPECT_FALSE(CounterSpanAcceptable(0.0, 0.4));
    EXPECT_FALSE(CounterSpanAcceptable(0.0, 0.6));
    EXPECT_FALSE(CounterSpanAcceptable(10.0, 10.0));
    EXPECT_FALSE(CounterSpanAcceptable(10.5, 10.0));
    EXPECT_FALSE(CounterSpanAcceptable(0.0, 1.0));
}

TEST(CTimer, PerformanceCounterWorksHere) {
    CTimer timer;
    EXPECT_TRUE(timer.CheckPerformanceCounter());
}

bool SameAffinity(const cpu_set_t& a, const cpu_set_t& b) {
    return CPU_EQUAL(&a, &b) != 0;
}

TEST(CTimer, GetSecondsIsMonotonicAndRestoresAffinity) {
    cpu_set_t before;
    CPU_ZERO(&before);
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof before, &before), 0);

    CTimer timer;
    double previous = timer.GetSeconds();
    for (int i = 0; i < 200; ++i) {
        const double now = timer.GetSeconds();
        ASSERT_GE(now, previous);
        previous = now;
    }

    cpu_set_t after;
    CPU_ZERO(&after);
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof after, &after), 0);
    EXPECT_TRUE(SameAffinity(before, after));
}

TEST(CTimer, GetSecondsRestoresANarrowedAffinity) {
    cpu_set_t original;
    CPU_ZERO(&original);
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof original, &original), 0);
    if (CPU_COUNT(&original) < 2) GTEST_SKIP() << "needs two processors";
    // Allow only the highest processor: pinning must pick an allowed one and give it back.
    int highest = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &original)) highest = cpu;
    }
    cpu_set_t narrowed;
    CPU_ZERO(&narrowed);
    CPU_SET(highest, &narrowed);
    ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof narrowed, &narrowed), 0);

    CTimer timer;
    const double t0 = timer.GetSeconds();
    const double t1 = timer.GetSeconds();
    cpu_set_t after;
    CPU_ZERO(&after);
    const int read = pthread_getaffinity_np(pthread_self(), sizeof after, &after);
    pthread_setaffinity_np(pthread_self(), sizeof original, &original);

    ASSERT_EQ(read, 0);
    EXPECT_TRUE(SameAffinity(narrowed, after));
    EXPECT_GE(t1, t0);
}

TEST(Affinity, PinsToTheFirstAllowedProcessorAndRestores) {
    cpu_set_t original;
    CPU_ZERO(&original);
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof original, &original), 0);
    int first = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE && first < 0; ++cpu) {
        if (CPU_ISSET(cpu, &original)) first = cpu;
    }

    sys::AffinitySnapshot saved;
    ASSERT_TRUE(sys::PinToFirstProcessor(saved));
    EXPECT_TRUE(saved.valid);
    cpu_set_t pinned;
    CPU_ZERO(&pinned);
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof pinned, &pinned), 0);
    EXPECT_EQ(CPU_COUNT(&pinned), 1);
    EXPECT_TRUE(CPU_ISSET(first, &pinned));
    EXPECT_EQ(sched_getcpu(), first);

    sys::RestoreAffinity(saved);
    cpu_set_t after;
    CPU_ZERO(&after);
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof after, &after), 0);
    EXPECT_TRUE(SameAffinity(original, after));
}

TEST(CTimer, TickSecondsFollowTheMonotonicClock) {
    CTimer timer;
    const double tick0 = timer.GetTickSeconds();
    const double mono0 = sys::MonotonicSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const double tick1 = timer.GetTickSeconds();
    const double mono1 = sys::MonotonicSeconds();
    // Both come from the same clock; the tick has millisecond steps.
    EXPECT_NEAR(tick1 - tick0, mono1 - mono0, 0.005);
    EXPECT_GE(tick1 - tick0, 0.059);
}

}  // namespace
