#pragma once
// A loop clock for tests: while a TestClock exists, Mux::milliseconds() and
// Mux::microseconds() read its time, and timer logic is tested without
// sleeping:
//
//   Mux::TestClock clock(0xFFFFFF00u);   // just before the 32-bit wrap
//   obj.Start();                         // arms a 45000 ms timer
//   clock.advance(44999);  EXPECT_FALSE(obj.fired);
//   clock.advance(1);      EXPECT_TRUE(obj.fired);
//
// advance() stops at every timer expiry on the way and runs the loop's
// timer step there (due timers in order, then the active deferred calls),
// so periodic timers and timers armed by callbacks fire at their own times.
#include <cstdint>

namespace Mux {

class TestClock {
 public:
  explicit TestClock(std::uint32_t startMs = 0);
  ~TestClock();  // the real clock again
  TestClock(const TestClock&) = delete;
  TestClock& operator=(const TestClock&) = delete;

  std::uint32_t now() const;  // milliseconds
  // Sets the clock; fires nothing.
  void set(std::uint32_t ms);
  void set_us(std::uint64_t us);
  // Moves the clock by us microseconds; fires nothing.
  void advance_us(std::uint32_t us);
  // Moves the clock forward by ms, firing what falls due on the way.
  void advance(std::uint32_t ms);
  // Runs the loop's timer step at the present time.
  void fire();

 private:
  std::uint64_t us_;
};

}  // namespace Mux
