// The portable half of CTimer; the clocks and the processor binding live in sys/<os>/.
#include "sys/timer.h"

#include <cmath>
#include <cstdio>

CTimer g_timer;

uint64_t TickReader::Next(uint32_t raw) {
    uint64_t result = raw;
    if (raw < previous_) result += uint64_t{1} << 32;
    previous_ = raw;
    return result;
}

bool CounterSpanAcceptable(double t0, double t1, double tickSpan) {
    const double span = t1 - t0;
    if (span > 0.4 && span < 0.6) return true;
    // A busy machine may wake the sleeper late: the counter still works when it agrees with
    // the system's millisecond tick over the same sleep.
    return tickSpan > 0.4 && span > 0.0 && std::fabs(span - tickSpan) <= 0.1 * tickSpan + 0.02;
}

CTimer::~CTimer() = default;

bool CTimer::CheckPerformanceCounter() {
    if (!sys::MonotonicClockWorks()) return false;
    const uint32_t tick0 = sys::TickCount32();
    const double t0 = GetSeconds();
    sys::SleepMs(500);
    const double t1 = GetSeconds();
    const uint32_t ticks = sys::TickCount32() - tick0;  // wraps as the tick does
    return CounterSpanAcceptable(t0, t1, ticks / 1000.0);
}

double CTimer::GetSeconds() {
    // Pinned so that successive readings come from the same processor's counter.
    sys::AffinitySnapshot saved;
    sys::PinToFirstProcessor(saved);
    sys::YieldTimeSlice();
    const double seconds = sys::MonotonicSeconds();
    sys::RestoreAffinity(saved);
    sys::YieldTimeSlice();
    return seconds;
}

double CTimer::GetTickSeconds() {
    return static_cast<double>(GetTickMs()) / 1000.0;
}

uint64_t CTimer::GetTickMs() {
    return tickReader_.Next(sys::TickCount32());
}

std::string CTimer::FormatDuration(uint64_t ms, bool keepBlanks) {
    const unsigned long long hours = ms / 3600000;
    const unsigned minutes = static_cast<unsigned>((ms / 60000) % 60);
    const unsigned seconds = static_cast<unsigned>((ms / 1000) % 60);
    const unsigned millis = static_cast<unsigned>(ms % 1000);
    char buffer[512];
    if (hours < 100) {
        std::snprintf(buffer, sizeof buffer, "   %02llu:%02u:%02u.%03u", hours, minutes, seconds,
                      millis);
    } else {
        std::snprintf(buffer, sizeof buffer, "%5llu:%02u:%02u.%03u", hours, minutes, seconds,
                      millis);
    }
    std::string text = buffer;
    if (!keepBlanks) text.erase(0, text.find_first_not_of(' '));
    return text;
}

namespace sys {

std::string IsoDateTime(int year, int month, int day, int hour, int minute, int second,
                        long offsetMinutes) {
    // An offset is less than a day; the bound also keeps the text's length known.
    const int offset =
        static_cast<int>((offsetMinutes < 0 ? -offsetMinutes : offsetMinutes) % (24 * 60));
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", year % 10000,
                  month % 100, day % 100, hour % 100, minute % 100, second % 100,
                  offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

}  // namespace sys
