#include "runtime/mux_clock.h"

#include <sys/time.h>
#include <time.h>

namespace Mux {
namespace {

const std::uint64_t* overrideUs = nullptr;

bool latched = false;
std::uint64_t latchedUs = 0;
timeval latchedTod = {0, 0};

std::uint64_t monotonicUs() {
  if (overrideUs) return *overrideUs;
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

std::uint64_t loopUs() { return latched ? latchedUs : monotonicUs(); }

int readTod(timeval& tv) {
  struct ::timeval now;
  int rc = ::gettimeofday(&now, nullptr);
  tv.tv_sec = static_cast<std::int32_t>(now.tv_sec);
  tv.tv_usec = static_cast<std::int32_t>(now.tv_usec);
  return rc;
}

}  // namespace

std::uint32_t milliseconds() { return static_cast<std::uint32_t>(loopUs() / 1000u); }

std::uint32_t microseconds() { return static_cast<std::uint32_t>(loopUs()); }

int mux_gettimeofday(timeval& tv) {
  if (latched) {
    tv = latchedTod;
    return 0;
  }
  return readTod(tv);
}

int gettimeval(timeval& tv) {
  mux_gettimeofday(tv);
  return 0;
}

std::uint32_t seconds() {
  timeval tv;
  mux_gettimeofday(tv);
  return static_cast<std::uint32_t>(tv.tv_sec);
}

int mux_settimeofday() {
  latched = false;
  latchedUs = monotonicUs();
  int rc = readTod(latchedTod);
  latched = true;
  return rc;
}

void mux_releasetimeofday() { latched = false; }

void mux_override(const std::uint64_t* us) { overrideUs = us; }

}  // namespace Mux
