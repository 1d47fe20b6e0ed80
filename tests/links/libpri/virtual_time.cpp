// The time of day of this test program follows the event loop's clock, so
// that libpri, which schedules its timers by gettimeofday, runs on the test
// clock like the links it talks to. Calls from libpri bind to this
// definition ahead of the C library's.
#include <sys/time.h>

#include <cstdint>

#include "runtime/mux_clock.h"

extern "C" int gettimeofday(struct timeval* __restrict tv, void* __restrict) noexcept {
  // An arbitrary day, plus the loop clock.
  const std::uint64_t ms = 1700000000000ull + Mux::milliseconds();
  tv->tv_sec = static_cast<time_t>(ms / 1000);
  tv->tv_usec = static_cast<suseconds_t>(ms % 1000 * 1000);
  return 0;
}
