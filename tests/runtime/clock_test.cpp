#include <gtest/gtest.h>
#include <time.h>

#include "runtime/measure.h"
#include "runtime/mux_clock.h"
#include "runtime/test_clock.h"

namespace {

std::uint64_t monotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

// The loop clock follows CLOCK_MONOTONIC, not the time of day, so setting
// the time of day can neither fire nor stall timers.
TEST(MuxClock, MillisecondsComeFromTheMonotonicClock) {
  const std::uint32_t before = static_cast<std::uint32_t>(monotonicMs());
  const std::uint32_t ms = Mux::milliseconds();
  const std::uint32_t after = static_cast<std::uint32_t>(monotonicMs());
  EXPECT_LE(static_cast<std::int32_t>(before - ms), 0);
  EXPECT_LE(static_cast<std::int32_t>(ms - after), 0);
  const std::uint32_t us = Mux::microseconds();
  EXPECT_LE(static_cast<std::int32_t>(us / 1000u - (ms & 0xFFFFFFu)), 1 << 24);
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
