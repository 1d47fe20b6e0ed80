#pragma once
// Drives the real loop until a condition holds: passes of at most 20 ms
// until cond() or the deadline (generous: a bound, not a measurement).
#include <chrono>
#include <functional>

#include "runtime/multiplexer.h"
#include "tests/deadline.h"

inline bool runLoopUntil(const std::function<bool()>& cond,
                         std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  return testkit::until(cond, deadline, [] { multiplexer.run_once(20); });
}
