#include "runtime/test_clock.h"

#include "runtime/multiplexer.h"
#include "runtime/mux_clock.h"

namespace Mux {

TestClock::TestClock(std::uint32_t startMs) : us_(static_cast<std::uint64_t>(startMs) * 1000u) {
  mux_override(&us_);
}

TestClock::~TestClock() { mux_override(nullptr); }

std::uint32_t TestClock::now() const { return static_cast<std::uint32_t>(us_ / 1000u); }

void TestClock::set(std::uint32_t ms) { us_ = static_cast<std::uint64_t>(ms) * 1000u; }

void TestClock::set_us(std::uint64_t us) { us_ = us; }

void TestClock::advance_us(std::uint32_t us) { us_ += us; }

void TestClock::advance(std::uint32_t ms) {
  const std::uint64_t target = us_ + static_cast<std::uint64_t>(ms) * 1000u;
  std::uint32_t expiry;
  while (multiplexer.first_expiry(expiry)) {
    // Milliseconds from now to the first expiry, by signed difference.
    const std::int32_t ahead = static_cast<std::int32_t>(expiry - now());
    const std::uint64_t at = us_ - us_ % 1000u + static_cast<std::uint64_t>(ahead > 0 ? ahead : 0) * 1000u;
    if (at > target) break;
    if (at > us_) us_ = at;
    multiplexer.timers_schedule();
    std::uint32_t after;
    // A timer due now that the step did not fire (armed for later) ends the walk.
    if (multiplexer.first_expiry(after) && static_cast<std::int32_t>(after - now()) <= 0) break;
  }
  us_ = target;
  multiplexer.timers_schedule();
}

void TestClock::fire() { multiplexer.timers_schedule(); }

}  // namespace Mux
