#pragma once
// Drives the real loop until a condition holds: passes of at most 20 ms
// until cond() or the deadline (generous: a bound, not a measurement).
#include <chrono>
#include <functional>

#include "runtime/multiplexer.h"

inline bool runLoopUntil(const std::function<bool()>& cond,
                         std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    multiplexer.run_once(20);
  }
  return true;
}
