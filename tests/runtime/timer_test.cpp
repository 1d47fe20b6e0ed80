#include "runtime/timer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/dpc.h"
#include "runtime/multiplexer.h"
#include "runtime/mux_clock.h"
#include "runtime/test_clock.h"

namespace timer_test {  // named: see "Unity builds" in tests/README.md

struct Recorder {
  std::vector<std::string> fired;
  Timer a, b, c;
  void OnA() { fired.push_back("a"); }
  void OnB() { fired.push_back("b"); }
  void OnC(Timer*) { fired.push_back("c"); }
};

TEST(Timers, EqualExpiriesFireInArmingOrderAndEarlierOnesFirst) {
  Mux::TestClock clock(1000);
  Recorder r;
  r.a.set(100, &Recorder::OnA, &r);
  r.b.set(100, &Recorder::OnB, &r);
  r.c.set(50, &Recorder::OnC, &r);  // armed last, due first
  clock.advance(99);
  EXPECT_EQ(r.fired, (std::vector<std::string>{"c"}));
  clock.advance(1);
  EXPECT_EQ(r.fired, (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_FALSE(r.a.isSet());
}

// An event re-armed in place, as a link's timer restarted on every frame.
struct Named : TimerEvent {
  Named(const char* n, std::vector<std::string>& log) : name(n), fired(log) {}
  void fire() override { fired.push_back(name); }
  std::string name;
  std::vector<std::string>& fired;
};

// The last event keeps its place while it still sorts last, and moves in
// front of those it now precedes; either way it stays armed once.
TEST(Timers, ReArmedEventSortsByItsNewExpiryAndFiresOnce) {
  Mux::TestClock clock(1000);
  std::vector<std::string> fired;
  Named a("a", fired), b("b", fired), c("c", fired);
  a.schedule(100);
  b.schedule(200);
  b.schedule(100);  // equal to a, armed after it
  c.schedule(300);
  c.schedule(50);  // now the first
  clock.advance(50);
  EXPECT_EQ(fired, (std::vector<std::string>{"c"}));
  clock.advance(50);
  EXPECT_EQ(fired, (std::vector<std::string>{"c", "a", "b"}));
  for (unsigned ms : {10u, 20u, 30u}) a.schedule(ms);
  clock.advance(30);
  clock.advance(1000);
  EXPECT_EQ(fired, (std::vector<std::string>{"c", "a", "b", "a"}));
  EXPECT_FALSE(a.armed());
}

TEST(Timers, FireAtTheRightTimeAcrossThe32BitWrap) {
  Mux::TestClock clock(0xFFFFFFFFu - 50);
  Recorder r;
  r.a.set(100, &Recorder::OnA, &r);  // expires at 49 after the wrap
  r.b.set(20, &Recorder::OnB, &r);   // expires before the wrap
  EXPECT_LT(r.a.expiry(), r.b.expiry());  // as plain numbers a looks earlier
  clock.advance(20);
  EXPECT_EQ(r.fired, (std::vector<std::string>{"b"}));
  clock.advance(79);
  EXPECT_EQ(r.fired, (std::vector<std::string>{"b"}));
  clock.advance(1);
  EXPECT_EQ(r.fired, (std::vector<std::string>{"b", "a"}));
}

struct Periodic {
  Timer t;
  std::vector<std::uint32_t> at;
  void OnTick(Timer* owner) {
    EXPECT_EQ(owner, &t);
    EXPECT_FALSE(t.isSet());  // the firing event no longer belongs to it
    at.push_back(Mux::milliseconds());
    if (at.size() < 3) t.set(45000, &Periodic::OnTick, this);
  }
};

// A 45 s protocol timer, run three times on the test clock in no time.
TEST(Timers, HandlerRearmingItsOwnTimerGetsAFreshEvent) {
  Mux::TestClock clock(0);
  Periodic p;
  p.t.set(45000, &Periodic::OnTick, &p);
  clock.advance(45000 * 4);
  EXPECT_EQ(p.at, (std::vector<std::uint32_t>{45000, 90000, 135000}));
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

struct SelfDestroying {
  Timer t;
  bool* destroyed;
  ~SelfDestroying() { *destroyed = true; }
  void OnTimer() { delete this; }
};

TEST(Timers, DeletingTheOwnerInsideItsCallbackIsSafe) {
  Mux::TestClock clock(0);
  bool destroyed = false;
  auto* s = new SelfDestroying;
  s->destroyed = &destroyed;
  s->t.set(5, &SelfDestroying::OnTimer, s);
  clock.advance(5);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST(Timers, ResetAndDestructionCancel) {
  Mux::TestClock clock(0);
  Recorder r;
  r.a.set(10, &Recorder::OnA, &r);
  r.a.reset();
  {
    Timer scoped;
    scoped.set(10, &Recorder::OnB, &r);
  }
  r.c.set(10, &Recorder::OnC, &r);
  r.c.set(30, &Recorder::OnC, &r);  // re-arming replaces
  EXPECT_EQ(multiplexer.timer_count(), 1u);
  clock.advance(20);
  EXPECT_TRUE(r.fired.empty());
  clock.advance(10);
  EXPECT_EQ(r.fired, (std::vector<std::string>{"c"}));
}

TEST(Timers, AWaitBeyondTwoHoursIsReportedAndEveryTimerMovedToOneSecond) {
  Mux::TestClock clock(5000);
  Recorder r;
  r.a.set(3u * 3600u * 1000u, &Recorder::OnA, &r);
  r.b.set(3u * 3600u * 1000u + 5, &Recorder::OnB, &r);
  testing::internal::CaptureStderr();
  EXPECT_EQ(multiplexer.timers_schedule(), 1000);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "******** RUNTIME ERROR CONDITION *************"
            "Multiplexer::timers_schedule() invalid wait time detected!\n"
            "now = 5000\nfirst = 10805000\ncount = 2\n");
  clock.advance(999);
  EXPECT_TRUE(r.fired.empty());
  clock.advance(1);
  EXPECT_EQ(r.fired, (std::vector<std::string>{"a", "b"}));
}

struct Spec {
  static const TimerSpec<Spec> TUpdatespec;
  TimerSpec<Spec>::SpecTimer<TUpdatespec> update;
  int fired = 0;
  void OnUpdateTimer() { ++fired; }
};
const TimerSpec<Spec> Spec::TUpdatespec = {&Spec::OnUpdateTimer, 3000};

int plainFired = 0;
void plainFunction() { ++plainFired; }

TEST(Timers, SpecTimerTakesItsIntervalFromTheStaticRecordAndPlainFunctionsFire) {
  Mux::TestClock clock(0);
  Spec s;
  s.update.set(&s);
  Timer t;
  t.set(7, &plainFunction);
  clock.advance(2999);
  EXPECT_EQ(plainFired, 1);
  EXPECT_EQ(s.fired, 0);
  clock.advance(1);
  EXPECT_EQ(s.fired, 1);
}


struct Provider : TimerPoolPlugin {
  int value;
  int asked = 0;
  Provider* unhookOther = nullptr;
  explicit Provider(int v) : value(v) {}
  int timeout() override {
    ++asked;
    if (unhookOther) unhookOther->timerUnhook();
    return value;
  }
};

TEST(TimerPoolPlugin, LoopTakesTheSmallestTimeoutAndAProviderMayUnhookAnother) {
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 2147483647);
  Provider none(-1), slow(30), fast(7);
  none.timerHook();
  slow.timerHook();
  fast.timerHook();
  fast.timerHook();  // hooked once all the same
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 7);
  EXPECT_EQ(fast.asked, 1);
  none.unhookOther = &fast;  // asked first, it takes fast out of the walk
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 30);
  EXPECT_EQ(fast.asked, 1);
  EXPECT_FALSE(fast.hooked());
  none.unhookOther = nullptr;
  {
    Provider gone(1);
    gone.timerHook();
  }  // its destructor unhooks it
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 30);
}

}  // namespace timer_test
