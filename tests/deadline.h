#pragma once
// Waiting for a condition with a deadline: the one wait of the tests and the
// benchmarks. Deadlines are bounds, never measurements.
#include <chrono>
#include <functional>
#include <thread>

namespace testkit {

// Tries cond, calling step() between tries, until it holds (true) or the
// deadline has passed (false).
template <class Cond, class Step>
bool until(Cond&& cond, std::chrono::milliseconds deadline, Step&& step) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    step();
  }
  return true;
}

// The same, sleeping 10 ms between tries: for what another process does.
inline bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  return until(cond, deadline, [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
}

}  // namespace testkit
