#include "runtime/dpc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "runtime/multiplexer.h"
#include "runtime/test_clock.h"

namespace {

struct Counter {
  Dpc dpc;
  int runs = 0;
  int stopAfter = -1;
  Counter* other = nullptr;  // deactivated by this one's call
  void OnDpc() {
    ++runs;
    if (other) other->dpc.Deactivate();
    if (runs == stopAfter) dpc.Deactivate();
  }
  Counter() { dpc.Bind(this, &Counter::OnDpc); }
};

TEST(Dpc, RunsTwiceEveryPassUntilDeactivated) {
  Counter c;
  c.stopAfter = 5;
  c.dpc.Activate();
  c.dpc.Activate();  // once in the list all the same
  multiplexer.run_once(0);
  EXPECT_EQ(c.runs, 2);
  multiplexer.run_once(0);
  multiplexer.run_once(0);
  EXPECT_EQ(c.runs, 5);
  EXPECT_FALSE(c.dpc.active());
  multiplexer.run_once(0);
  EXPECT_EQ(c.runs, 5);
}

struct Activator {
  Dpc dpc;
  Counter* later;
  void OnDpc() {
    later->dpc.Activate();
    dpc.Deactivate();
  }
};

// One deactivated by an earlier call of the same run does not run; one
// activated during a run waits for the next; a destroyed one is gone.
TEST(Dpc, ChangesDuringARunTakeEffectSafely) {
  Counter pair[2];  // calls run in address order: pair[0] first
  pair[0].other = &pair[1];
  pair[0].dpc.Activate();
  pair[1].dpc.Activate();
  multiplexer.execute_dpc();
  EXPECT_EQ(pair[0].runs, 1);
  EXPECT_EQ(pair[1].runs, 0);
  pair[0].dpc.Deactivate();

  Counter later;
  Activator a;
  a.later = &later;
  a.dpc.Bind(&a, &Activator::OnDpc);
  a.dpc.Activate();
  multiplexer.execute_dpc();
  EXPECT_EQ(later.runs, 0);
  {
    Counter gone;
    gone.dpc.Activate();
  }
  multiplexer.execute_dpc();  // must not touch the destroyed call (ASan)
  EXPECT_EQ(later.runs, 1);
  later.dpc.Deactivate();
}

struct Arming {
  Dpc dpc;
  Timer t;
  int fired = 0;
  void OnDpc() {
    t.set(0, &Arming::OnTimer, this);
    dpc.Deactivate();
  }
  void OnTimer() { ++fired; }
};

// A timer armed for 0 ms by a deferred call wakes the loop at once instead
// of waiting for unrelated input.
TEST(Dpc, ZeroTimerArmedByADeferredCallWakesTheLoopAtOnce) {
  Mux::TestClock clock(100);
  Arming a;
  a.dpc.Bind(&a, &Arming::OnDpc);
  a.dpc.Activate();
  const auto start = std::chrono::steady_clock::now();
  multiplexer.run_once(60000);  // would block for the whole minute
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  multiplexer.run_once(0);
  EXPECT_EQ(a.fired, 1);
}

}  // namespace
