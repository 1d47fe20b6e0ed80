#include <gtest/gtest.h>
#include <time.h>

#include "runtime/measure.h"
#include "runtime/mux_clock.h"
#include "runtime/test_clock.h"

namespace {

std::uint64_t monotonicUs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

// The loop clock follows CLOCK_MONOTONIC, not the time of day, so setting
// the time of day can neither fire nor stall timers. Both counts are that
// clock's, in their units, cut to 32 bits: each lies between two readings
// of it taken around it.
TEST(MuxClock, MillisecondsAndMicrosecondsComeFromTheMonotonicClock) {
  const std::uint64_t before = monotonicUs();
  const std::uint32_t ms = Mux::milliseconds();
  const std::uint32_t us = Mux::microseconds();
  const std::uint64_t after = monotonicUs();
  const std::uint32_t beforeMs = static_cast<std::uint32_t>(before / 1000u);
  EXPECT_LE(ms - beforeMs, static_cast<std::uint32_t>(after / 1000u) - beforeMs);
  const std::uint32_t beforeUs = static_cast<std::uint32_t>(before);
  EXPECT_LE(us - beforeUs, static_cast<std::uint32_t>(after) - beforeUs);
}

TEST(MuxClock, LatchedClockHoldsStillUntilReleased) {
  Mux::TestClock clock(500);
  Mux::mux_settimeofday();
  clock.set(900);
  EXPECT_EQ(Mux::milliseconds(), 500u);
  Mux::mux_releasetimeofday();
  EXPECT_EQ(Mux::milliseconds(), 900u);
}

// The test clock drives both counts; 32-bit microseconds wrap, and a
// measured duration across that wrap stays right.
TEST(MuxClock, TestClockWrapsAndDurationsAcrossTheWrapAreRight) {
  Mux::TestClock clock(0xFFFFFFFFu);
  clock.advance_us(1000);
  EXPECT_EQ(Mux::milliseconds(), 0u);
  clock.set_us(0x100000005ull);
  EXPECT_EQ(Mux::microseconds(), 5u);
  clock.set_us(0xFFFFFFF0ull);
  Measure m;
  m.begin();
  clock.advance_us(0x20);
  EXPECT_EQ(m.end(), 0x20u);
}

}  // namespace
