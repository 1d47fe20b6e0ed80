#pragma once
// Arithmetic and text of Mux::timeval (seconds and microseconds of a time of
// day), and a period check built on it.
#include <cstdint>
#include <string>

#include "runtime/mux_clock.h"

namespace Mux {

// Local time "%Y-%m-%d %H:%M:%S" followed by "." and six digits of
// microseconds.
std::string timevaltostring(const timeval& tv);

timeval make_from_usec(unsigned us);
timeval make_from_msec(unsigned ms);
void timevalset(timeval& tv, unsigned long long ms);

// a += b and a -= b, microseconds kept in 0..999999; both return 0.
int timevaladd(timeval& a, const timeval& b);
int timevalsub(timeval& a, const timeval& b);
// out = a + b and out = a - b.
int timevaladd2(const timeval& a, const timeval& b, timeval& out);
int timevalsub2(const timeval& a, const timeval& b, timeval& out);

// Milliseconds from a to b (truncated towards zero); 0 when b is earlier.
std::int64_t timevaldiff(const timeval& a, const timeval& b);
// -1, 0 or 1 by seconds, then microseconds.
int timevalcompare(const timeval& a, const timeval& b);

// A start time and a period in milliseconds.
struct timeval_timer {
  timeval start;
  std::int32_t period;

  void init(const timeval& s, std::int32_t p) {
    start = s;
    period = p;
  }
  void init_now(const timeval& s) { start = s; }
  // More than the period has passed since the start (never for a period
  // below 1).
  bool is_expired(const timeval& now) const;
  // Moves the start on by one period.
  void inc();
};

}  // namespace Mux
