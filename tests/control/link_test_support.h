#pragma once
// Helpers for the control-link tests: the real loop driven pass by pass,
// plain TCP peers on the loopback, and capture of the daemon's streams.
#include <signal.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "runtime/multiplexer.h"
#include "tests/loopback_client.h"
#include "tests/stream_capture.h"

namespace linktest {

// The daemon catches SIGPIPE; a test program must not die of a write to a
// closed peer either.
inline const bool sigpipe_ignored = (::signal(SIGPIPE, SIG_IGN), true);

using testkit::count;
using testkit::freePort;
using testkit::tpkt;

// Runs loop passes (each waiting at most 10 ms) until cond holds or the
// deadline passes; true when it holds.
inline bool pump(const std::function<bool()>& cond, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
  return testkit::until(cond, deadline, [] { multiplexer.run_once(10); });
}

// A few passes, for what must NOT happen.
inline void settle(int passes = 5) {
  for (int i = 0; i < passes; ++i) multiplexer.run_once(5);
}

using Capture = testkit::StreamCapture;

// A TCP peer on the loopback whose waits are passes of the loop: the code
// under test runs in the same thread.
class Peer : public testkit::Client {
 public:
  Peer() : Client([](int, int) { multiplexer.run_once(10); }) {}
  bool send(const testkit::Bytes& bytes) { return write(bytes); }
};

}  // namespace linktest
