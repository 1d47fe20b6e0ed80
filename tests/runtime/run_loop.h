#pragma once
// Helpers of the loop tests: a non-blocking pipe, and driving the real loop
// until a condition holds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "runtime/fd.h"
#include "runtime/multiplexer.h"
#include "tests/deadline.h"

// Both ends close-on-exec and non-blocking.
struct Pipe {
  Fd r, w;
  Pipe() {
    int p[2];
    EXPECT_EQ(::pipe2(p, O_CLOEXEC | O_NONBLOCK), 0);
    r.reset(p[0]);
    w.reset(p[1]);
  }
  // One octet in, making the read end readable.
  void put() { ASSERT_EQ(::write(w.get(), "x", 1), 1); }
};

// Passes of at most 20 ms until cond() or the deadline (generous: a bound,
// not a measurement).
inline bool runLoopUntil(const std::function<bool()>& cond,
                         std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  return testkit::until(cond, deadline, [] { multiplexer.run_once(20); });
}
