// Clocks and processor binding on POSIX systems.
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "sys/timer.h"

namespace sys {

namespace {

bool ReadMonotonic(timespec& now) {
    return clock_gettime(CLOCK_MONOTONIC, &now) == 0;
}

}  // namespace

uint32_t TickCount32() {
    timespec now{};
    if (!ReadMonotonic(now)) return 0;
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

double MonotonicSeconds() {
    timespec now{};
    if (!ReadMonotonic(now)) return 0.0;
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool MonotonicClockWorks() {
    timespec now{};
    return ReadMonotonic(now);
}

#if defined(__linux__)

static_assert(sizeof(cpu_set_t) <= sizeof(AffinitySnapshot::words),
              "AffinitySnapshot is too small for cpu_set_t");

bool PinToFirstProcessor(AffinitySnapshot& saved) {
    saved.valid = false;
    cpu_set_t current;
    CPU_ZERO(&current);
    if (pthread_getaffinity_np(pthread_self(), sizeof current, &current) != 0) return false;
    // CPU 0 may be outside the allowed set (containers, taskset): the lowest allowed one
    // serves the same purpose.
    int first = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &current)) {
            first = cpu;
            break;
        }
    }
    if (first < 0) return false;
    cpu_set_t pinned;
    CPU_ZERO(&pinned);
    CPU_SET(first, &pinned);
    if (pthread_setaffinity_np(pthread_self(), sizeof pinned, &pinned) != 0) return false;
    std::memcpy(saved.words, &current, sizeof current);
    saved.valid = true;
    return true;
}

void RestoreAffinity(const AffinitySnapshot& saved) {
    if (!saved.valid) return;
    cpu_set_t previous;
    std::memcpy(&previous, saved.words, sizeof previous);
    pthread_setaffinity_np(pthread_self(), sizeof previous, &previous);
}

#else

// No thread binding elsewhere (macOS): the monotonic clock is system-wide anyway.
bool PinToFirstProcessor(AffinitySnapshot& saved) {
    saved.valid = false;
    return false;
}

void RestoreAffinity(const AffinitySnapshot&) {}

#endif

void YieldTimeSlice() {
    sched_yield();
}

std::string LocalDateTime() {
    const time_t now = time(nullptr);
    tm local{};
    if (localtime_r(&now, &local) == nullptr) return "";
    return IsoDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec, local.tm_gmtoff / 60);
}

void SleepMs(unsigned ms) {
    timespec left{};
    left.tv_sec = static_cast<time_t>(ms / 1000);
    left.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace sys
