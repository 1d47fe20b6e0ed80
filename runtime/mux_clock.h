#pragma once
// The loop clock.
//
// Timers and duration measures run on a 32-bit millisecond count and a
// 32-bit microsecond count that wrap; they are only ever compared by signed
// difference. Both come from CLOCK_MONOTONIC, so setting the time of day (an
// operator, or NTP's first sync on a board that booted in 1970) neither fires
// every armed timer at once nor stalls them. The time of day is read only for
// time stamps in text (mux_gettimeofday, gettimeval, seconds).
//
// The loop can latch the clock once per pass so that all work of one pass
// sees one time (Multiplexer::run with liveClock false). Tests take the clock
// over with Mux::TestClock (runtime/test_clock.h).
#include <cstdint>

namespace Mux {

// A time of day: seconds and microseconds.
struct timeval {
  std::int32_t tv_sec;
  std::int32_t tv_usec;
};

// Loop clock: milliseconds and microseconds since an arbitrary origin.
std::uint32_t milliseconds();
std::uint32_t microseconds();

// Time of day (wall clock), latched when the loop latched it.
int mux_gettimeofday(timeval& tv);
int gettimeval(timeval& tv);  // same as mux_gettimeofday; returns 0
std::uint32_t seconds();      // seconds of the time of day

// Latches both clocks at the present time; returns 0, or -1 if a clock could
// not be read. mux_releasetimeofday goes back to the live clocks.
int mux_settimeofday();
void mux_releasetimeofday();

// Makes the loop clock read *us (microseconds) instead of CLOCK_MONOTONIC;
// nullptr returns to the real clock. Used by Mux::TestClock.
void mux_override(const std::uint64_t* us);

}  // namespace Mux
