// Clocks and processor binding on Windows: QueryPerformanceCounter read on one processor,
// GetTickCount.
#include <windows.h>

#include <string>

#include "sys/timer.h"

namespace sys {

namespace {

double CounterFrequency() {
    LARGE_INTEGER frequency{};
    return QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0
               ? static_cast<double>(frequency.QuadPart)
               : 0.0;
}

}  // namespace

uint32_t TickCount32() {
    return GetTickCount();
}

double MonotonicSeconds() {
    static const double frequency = CounterFrequency();
    LARGE_INTEGER now{};
    if (frequency <= 0.0 || !QueryPerformanceCounter(&now)) return 0.0;
    return static_cast<double>(now.QuadPart) / frequency;
}

bool MonotonicClockWorks() {
    LARGE_INTEGER now{};
    return CounterFrequency() > 0.0 && QueryPerformanceCounter(&now);
}

bool PinToFirstProcessor(AffinitySnapshot& saved) {
    saved.valid = false;
    const DWORD_PTR previous = SetThreadAffinityMask(GetCurrentThread(), 1);
    if (previous == 0) return false;
    saved.words[0] = previous;
    saved.valid = true;
    return true;
}

void RestoreAffinity(const AffinitySnapshot& saved) {
    if (saved.valid)
        SetThreadAffinityMask(GetCurrentThread(), static_cast<DWORD_PTR>(saved.words[0]));
}

void YieldTimeSlice() {
    Sleep(0);
}

std::string LocalDateTime() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    TIME_ZONE_INFORMATION zone{};
    const DWORD state = GetTimeZoneInformation(&zone);
    long bias = zone.Bias;  // minutes west of UTC
    if (state == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (state == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    return IsoDateTime(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute,
                       local.wSecond, -bias);
}

void SleepMs(unsigned ms) {
    Sleep(ms);
}

}  // namespace sys
