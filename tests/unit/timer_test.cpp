#include "sys/timer.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <cstdint>
#include <string>

namespace {

TEST(TickReader, CorrectsOnlyTheFirstReadingAfterAWrap) {
    constexpr uint64_t kWrap = uint64_t{1} << 32;
    TickReader reader;
    EXPECT_EQ(reader.Next(1000u), 1000u);
    EXPECT_EQ(reader.Next(0xFFFFFFF0u), 0xFFFFFFF0u);
    EXPECT_EQ(reader.Next(16u), 16u + kWrap);  // so the difference stays 32
    EXPECT_EQ(reader.Next(20u), 20u);          // compared with the raw 16
    EXPECT_EQ(reader.Next(20u), 20u);          // an equal reading is no wrap
    TickReader fresh;                          // starts from 0
    EXPECT_EQ(fresh.Next(0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(fresh.Next(0u), kWrap);
}

// The counter works when its span fits the 500 ms sleep, or, woken late on a busy machine,
// when it agrees with the system's tick; frozen, backwards or far off it does not.
TEST(CounterSpanAcceptable, TheSleepsWindowOrTheTicksAgreement) {
    const struct {
        double span, ticks;
        bool accepted;
    } cases[] = {{0.5, 0.5, true},   {0.401, 0.0, true}, {0.4, 0.4, false},  {0.6, 0.0, false},
                 {0.75, 0.74, true}, {2.0, 2.1, true},   {2.0, 2.5, false},  {0.0, 0.8, false},
                 {-1.0, 0.8, false}, {0.8, 0.39, false}, {0.05, 0.5, false}, {1e6, 0.7, false}};
    for (const auto& c : cases)
        EXPECT_EQ(CounterSpanAcceptable(0.0, c.span, c.ticks), c.accepted)
            << c.span << " " << c.ticks;
}

TEST(FormatDuration, Layouts) {
    const uint64_t hour = 3600000;
    const std::pair<uint64_t, std::string> cases[] = {{0, "   00:00:00.000"},
                                                      {3723004, "   01:02:03.004"},
                                                      {100 * hour - 1, "   99:59:59.999"},
                                                      {100 * hour, "  100:00:00.000"},
                                                      {100000 * hour, "100000:00:00.000"},
                                                      {UINT64_MAX, "5124095576030:25:51.615"}};
    for (const auto& [ms, withBlanks] : cases) {
        EXPECT_EQ(CTimer::FormatDuration(ms, true), withBlanks);
        EXPECT_EQ(CTimer::FormatDuration(ms, false),
                  withBlanks.substr(withBlanks.find_first_not_of(' ')));
    }
}

cpu_set_t Affinity() {
    cpu_set_t set;
    CPU_ZERO(&set);
    EXPECT_EQ(pthread_getaffinity_np(pthread_self(), sizeof set, &set), 0);
    return set;
}

// Pinning picks the first allowed processor; restoring and GetSeconds leave the set as it was.
TEST(CTimer, PinningAndGetSecondsLeaveTheAffinityAsItWas) {
    const cpu_set_t original = Affinity();
    int last = CPU_SETSIZE - 1;
    while (!CPU_ISSET(last, &original))
        --last;
    cpu_set_t lastOnly;
    CPU_ZERO(&lastOnly);
    CPU_SET(last, &lastOnly);
    for (const cpu_set_t& allowed : {original, lastOnly}) {
        ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof allowed, &allowed), 0);
        int first = 0;
        while (!CPU_ISSET(first, &allowed))
            ++first;
        sys::AffinitySnapshot saved;
        EXPECT_TRUE(sys::PinToFirstProcessor(saved));
        const cpu_set_t pinned = Affinity();
        const int cpu = sched_getcpu();
        sys::RestoreAffinity(saved);
        const cpu_set_t restored = Affinity();
        CTimer().GetSeconds();
        const cpu_set_t after = Affinity();
        pthread_setaffinity_np(pthread_self(), sizeof original, &original);
        EXPECT_TRUE(CPU_COUNT(&pinned) == 1 && CPU_ISSET(first, &pinned) && cpu == first);
        EXPECT_TRUE(CPU_EQUAL(&allowed, &restored) && CPU_EQUAL(&allowed, &after));
    }
}

}  // namespace
