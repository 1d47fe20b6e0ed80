#include "runtime/multiplexer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "runtime/dpc.h"
#include "runtime/event.h"
#include "runtime/test_clock.h"
#include "tests/runtime/run_loop.h"
#include "tests/runtime/test_process.h"
#include "tests/temp_root.h"

namespace {

struct Watcher {
  Event ev;
  std::string name;
  std::vector<std::string>* log;
  std::vector<short> seen;
  std::function<void()> onEvent;
  Watcher(const char* n, std::vector<std::string>* l) : name(n), log(l) {
    ev.Bind(n, &Watcher::OnEvent, this);
  }
  void OnEvent(int, short revents) {
    seen.push_back(revents);
    log->push_back(name);
    if (onEvent) onEvent();
  }
};

TEST(Multiplexer, ReadyDescriptorServesEveryPolledHandlerIdleOnesWithZero) {
  std::vector<std::string> log;
  Pipe p1, p2;
  Watcher a("a", &log), b("b", &log);
  a.ev.Schedule(p1.r, POLLIN);
  b.ev.Schedule(p2.r, POLLIN);
  multiplexer.run_once(0);  // registers both; nothing ready, nobody served
  EXPECT_TRUE(log.empty());
  p2.put();
  multiplexer.run_once(1000);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(a.seen, (std::vector<short>{0}));
  EXPECT_EQ(b.seen, (std::vector<short>{POLLIN}));
  EXPECT_EQ(a.ev.hits(), 0u);
  EXPECT_EQ(b.ev.hits(), 1u);
}

TEST(Multiplexer, HandlerAttachedDuringDispatchIsPolledFromTheNextPass) {
  std::vector<std::string> log;
  Pipe p1, p2;
  Watcher a("a", &log), late("late", &log);
  a.onEvent = [&] {
    if (!late.ev.fd().valid()) late.ev.Schedule(p2.r, POLLIN);
  };
  a.ev.Schedule(p1.r, POLLIN);
  p1.put();
  p2.put();
  multiplexer.run_once(1000);
  EXPECT_EQ(log, (std::vector<std::string>{"a"}));
  multiplexer.run_once(1000);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "a", "late"}));
}

// A handler may destroy itself, destroy one later in the list or detach
// itself: the rest of the pass goes on and nobody gone is called.
TEST(Multiplexer, HandlersRemovedDuringDispatchAreNotCalledAfterwards) {
  std::vector<std::string> log;
  Pipe p;
  Pipe q;
  Watcher* self = new Watcher("self", &log);
  auto a = std::make_unique<Watcher>("a", &log);
  auto b = std::make_unique<Watcher>("b", &log);
  auto c = std::make_unique<Watcher>("c", &log);
  self->ev.Schedule(p.r, POLLIN);
  a->ev.Schedule(p.r, POLLIN);
  b->ev.Schedule(p.r, POLLIN);
  c->ev.Schedule(q.r, POLLIN);
  self->onEvent = [&] { delete self; };
  a->onEvent = [&] { c.reset(); };
  b->onEvent = [&] { b->ev.Release(); };
  p.put();
  multiplexer.run_once(1000);
  EXPECT_EQ(log, (std::vector<std::string>{"self", "a", "b"}));
  multiplexer.run_once(1000);
  EXPECT_EQ(log, (std::vector<std::string>{"self", "a", "b", "a"}));
  EXPECT_FALSE(multiplexer.event_exists(&b->ev));
}

// Acts on its second call of a pass: the run just before poll.
struct BeforePoll {
  Dpc dpc;
  std::function<void()> act;
  int calls = 0;
  void OnDpc() {
    if (++calls < 2) return;
    act();
    dpc.Deactivate();
  }
};

// A deferred call that detaches or destroys a handler after the poll array
// was filled: the results must not shift onto the wrong handlers, and the
// destroyed one is not touched (ASan reports any use of it).
TEST(Multiplexer, HandlerDetachedOrDestroyedJustBeforePollGetsNoResult) {
  for (bool destroy : {false, true}) {
    std::vector<std::string> log;
    Pipe p1, p2;
    auto a = std::make_unique<Watcher>("a", &log);
    Watcher b("b", &log);
    a->ev.Schedule(p1.r, POLLIN);
    b.ev.Schedule(p2.r, POLLIN);
    multiplexer.run_once(0);
    BeforePoll d;
    d.act = [&] {
      if (destroy)
        a.reset();
      else
        a->ev.Release();
    };
    d.dpc.Bind(&d, &BeforePoll::OnDpc);
    d.dpc.Activate();
    p1.put();
    p2.put();
    multiplexer.run_once(1000);
    EXPECT_EQ(log, (std::vector<std::string>{"b"})) << (destroy ? "destroyed" : "detached");
    EXPECT_EQ(b.seen, (std::vector<short>{POLLIN}));
  }
}

TEST(Multiplexer, DuplicateAttachAndUnknownDetachAreReported) {
  std::vector<std::string> log;
  Pipe p;
  Watcher a("dup", &log);
  a.ev.Schedule(p.r, POLLIN);
  testing::internal::CaptureStderr();
  multiplexer.attach(&a.ev);
  Watcher b("stranger", &log);
  multiplexer.detach(&b.ev);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "duplicate multiplexer attach \"dup\" ignored.\n"
            "indvalid Multiplexer::detach stranger\n");
}

TEST(Multiplexer, StopRequestedBeforeRunIsNotLost) {
  multiplexer.terminate();
  testing::internal::CaptureStderr();
  multiplexer.run(false, true);  // would hang (abort) if the request were lost
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(multiplexer.terminating());
}

TEST(MultiplexerDeathTest, NothingToWaitForAborts) {
  EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");
}

class WatchdogTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    wd_ = root_.path(sysroot::watchdog);
    root_.make_parent(sysroot::watchdog);
  }
  std::string contents() { return testproc::ReadFile(wd_); }
  TempRoot root_;
  std::string wd_;
};

// Re-arms a 0 ms timer, so runs once per pass: moves the test clock (if
// any) to the next step, and stops the loop after the last.
struct Stepper {
  Timer t;
  Mux::TestClock* clock = nullptr;
  std::vector<std::uint32_t> steps;
  std::size_t i = 0;
  void start() { t.set(0, &Stepper::OnTick, this); }
  void OnTick() {
    if (i == steps.size()) {
      multiplexer.terminate();
      return;
    }
    if (clock) clock->set(steps[i]);
    ++i;
    start();
  }
};

TEST_F(WatchdogTest, PingsAtMostOncePerSecondAndAtOnceWhenTheClockGoesBack) {
  { std::ofstream(wd_).flush(); }
  Mux::TestClock clock(10000);
  Stepper s;
  s.clock = &clock;
  // passes at 10000 (first ping), 10500 (none), 10999 (none), 11001 (ping),
  // 11500 (none), then the clock goes back to 5000 (ping).
  s.steps = {10500, 10999, 11001, 11500, 5000};
  s.start();
  testing::internal::CaptureStderr();
  multiplexer.run(true, true);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(contents(), "STARTPINGPINGPINGSTOP");
}

TEST_F(WatchdogTest, MissingWatchdogIsReportedAndTheLoopRunsWithoutIt) {
  Stepper s;
  s.steps = {0, 0};
  s.start();
  testing::internal::CaptureStderr();
  multiplexer.run(true, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Mux: fail to open watchdog: No such file or directory\nMux: terminating...\n");
  EXPECT_EQ(s.i, 2u);
  EXPECT_FALSE(multiplexer.watchdog_open());
  EXPECT_FALSE(multiplexer.terminating());
}

// Stops the loop in the timer step of the second pass.
struct StopOnSecondPass {
  Dpc dpc;
  int calls = 0;
  void OnDpc() {
    if (++calls == 3) multiplexer.terminate();
  }
};

TEST_F(WatchdogTest, WaitIsCutToOneSecondWhileTheWatchdogIsOpen) {
  { std::ofstream(wd_).flush(); }
  // One idle descriptor and no timer: without the watchdog poll would wait
  // for ever; with it, poll wakes within 1000 ms and the loop goes on.
  std::vector<std::string> log;
  Pipe idle;
  Watcher w("idle", &log);
  w.ev.Schedule(idle.r, POLLIN);
  StopOnSecondPass s;
  s.dpc.Bind(&s, &StopOnSecondPass::OnDpc);
  s.dpc.Activate();
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  multiplexer.run(true, true);
  const auto took = std::chrono::steady_clock::now() - start;
  testing::internal::GetCapturedStderr();
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::seconds(20));
  EXPECT_EQ(contents(), "STARTPINGSTOP");
}

TEST(Multiplexer, DumpListsPolledEventsInATable) {
  std::vector<std::string> log;
  Pipe p;
  Watcher a("probe::OnPipe", &log);
  a.ev.Schedule(p.r, POLLIN | POLLPRI);
  multiplexer.run_once(0);
  std::ostringstream s;
  multiplexer.dump(s);
  const std::string text = s.str();
  std::istringstream lines(text);
  for (const char* step : {"dpc", "event", "timer"}) {
    std::string l;
    std::getline(lines, l);
    EXPECT_EQ(l.rfind(std::string(step) + " transition measurement (min/max/cur/counter): min=", 0), 0u) << l;
  }
  const std::string delim = "+" + std::string(40, '-') + "+" + std::string(30, '-') + "+" + std::string(10, '-') +
                            "+" + std::string(10, '-') + "+" + std::string(5, '-') + "+" + std::string(60, '-') +
                            "+\n";
  const std::string header =
      "|                  name                  |            events            |  count   "
      "| handler  | fd  |                          measure                           |\n";
  EXPECT_NE(text.find(delim + header + delim), std::string::npos) << text;
  std::string fd = std::to_string(a.ev.fd().get());
  fd = fd.size() == 1 ? "  " + fd + "  " : " " + fd + "  ";
  const std::string row =
      "|             probe::OnPipe              |        POLLIN|POLLPRI        |    0     "
      "| attached |" + fd + "|                min=0 max=0 avg=0 counter=0                 |\n";
  EXPECT_NE(text.find(row), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - delim.size() - 1), delim + "\n");
}

}  // namespace
