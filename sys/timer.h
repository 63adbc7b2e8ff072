// The tool's clock: high-resolution seconds, the wrap-corrected millisecond tick, and the
// hours:minutes:seconds.milliseconds text.
#pragma once

#include <cstdint>
#include <string>

// Widens the 32-bit millisecond tick: a raw reading smaller than the previous one is taken
// as one wrap and gets 2^32 added. Only that first reading after a wrap is corrected, so the
// difference between two consecutive readings stays right across a wrap.
class TickReader {
  public:
    uint64_t Next(uint32_t raw);

  private:
    uint32_t previous_ = 0;
};

class CTimer {
  public:
    virtual ~CTimer();

    // Sleeps 500 ms between two GetSeconds readings; true when the counter works and the
    // span is accepted by CounterSpanAcceptable.
    bool CheckPerformanceCounter();

    // High-resolution seconds, read while the thread is pinned to one processor.
    double GetSeconds();

    // GetTickMs in seconds.
    double GetTickSeconds();

    uint64_t GetTickMs();

    // "   HH:MM:SS.mmm" below 100 hours, "%5u:MM:SS.mmm" from there; keepBlanks false strips
    // the leading blanks.
    static std::string FormatDuration(uint64_t ms, bool keepBlanks);

  private:
    TickReader tickReader_;
};

extern CTimer g_timer;

// True when 0.4 < t1 - t0 < 0.6 s, the accepted span of a 500 ms sleep, or, for a sleep that
// took longer, when the span agrees with tickSpan, the system tick's seconds over it.
bool CounterSpanAcceptable(double t0, double t1, double tickSpan);

namespace sys {

// Milliseconds of the monotonic clock cut to 32 bits (it wraps, like GetTickCount).
uint32_t TickCount32();

// The monotonic clock in seconds; arbitrary origin.
double MonotonicSeconds();

// False when the monotonic clock cannot be read.
bool MonotonicClockWorks();

// The calling thread's processor set, saved by PinToFirstProcessor. Room for 1024 CPUs.
struct AffinitySnapshot {
    uint64_t words[16] = {};
    bool valid = false;
};

// Binds the calling thread to its first allowed processor and keeps the previous set in
// saved. False (saved left invalid) when the binding is not possible.
bool PinToFirstProcessor(AffinitySnapshot& saved);

// Puts back a set saved by PinToFirstProcessor; does nothing with an invalid snapshot.
void RestoreAffinity(const AffinitySnapshot& saved);

// Gives up the rest of the time slice.
void YieldTimeSlice();

// Sleeps the calling thread for ms milliseconds, resuming after signals.
void SleepMs(unsigned ms);

// The local date and time now, ISO 8601 with the offset from UTC: "2026-12-06T22:13:37+01:00".
std::string LocalDateTime();

// The ISO 8601 text of a local time; offsetMinutes east of UTC.
std::string IsoDateTime(int year, int month, int day, int hour, int minute, int second,
                        long offsetMinutes);

}  // namespace sys
