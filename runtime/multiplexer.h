#pragma once
// The event loop: the daemon's only thread runs Multiplexer::run on the
// global `multiplexer` until a stop is requested. Each pass:
//   1. fire the due timers in expiry order, then run the active deferred calls;
//   2. ask the time-out providers;
//   3. move the handlers attached since the last pass to the polled list and
//      fill the poll array;
//   4. abort with "multiplexer: system hang detected!!!" when there is
//      nothing to wait for;
//   5. cut the wait to 1000 ms while the watchdog is open;
//   6. run the active deferred calls again (and shorten the wait if they armed
//      an earlier timer);
//   7. poll;
//   8. ping the watchdog when more than 999 ms have passed since the last ping;
//   9. after a poll that reported any ready descriptor, serve every polled
//      handler in registration order with its own events (0 for idle ones).
// A wait of 0 (a timer armed for 0 ms, or armed by a deferred call) wakes at
// once rather than waiting for unrelated input.
//
// Tests drive single passes with run_once() and the clock with Mux::TestClock.
#include <signal.h>

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "runtime/event.h"
#include "runtime/f_dual_list.h"
#include "runtime/measure.h"
#include "runtime/timer.h"

class Dpc;

class Multiplexer {
 public:
  Multiplexer();
  Multiplexer(const Multiplexer&) = delete;
  Multiplexer& operator=(const Multiplexer&) = delete;

  // Runs passes until terminate(). watchdog: open the hardware watchdog and
  // keep it alive; liveClock false: latch the clock once per pass. The stop
  // flag is cleared when run returns, so a stop requested before run (during
  // start-up) is not lost and run returns at once.
  void run(bool watchdog, bool liveClock);
  // Raises the stop flag; safe in a signal handler. Takes effect at the end
  // of the pass or between two dispatches.
  void terminate() { terminate_ = 1; }
  bool terminating() const { return terminate_ != 0; }

  // One pass of the loop with the poll wait cut to max_wait_ms (0: do not
  // block). Never aborts for lack of something to wait for. For tests and
  // tools that drive the loop themselves.
  void run_once(int max_wait_ms = 0);

  // Writes "PING" to the watchdog when it is open.
  void resetWD();
  // The loop's part of the status dump: its three measures, the profiling
  // points and the table of polled handlers.
  void dump(std::ostream& s) const;

  // Descriptor handlers (EventHandler::mux_attach/mux_detach use these).
  void attach(EventHandler* h);
  void detach(EventHandler* h);
  bool event_exists(const EventHandler* h) const;

  // Timers (TimerEvent::schedule/reset use these).
  void set(TimerEvent* t);
  void reset(TimerEvent* t);
  std::uint32_t timer_count() const { return timers_.count(); }
  // Expiry of the first armed timer; false when none is armed.
  bool first_expiry(std::uint32_t& expiry) const;
  // The timer step of a pass: fires every due timer, runs the deferred calls
  // once, returns the wait to the first timer in ms (-1: none armed).
  int timers_schedule();

  // Deferred calls (Dpc::Activate/Deactivate use these).
  void attach(Dpc* d);
  void dettach(Dpc* d);
  void execute_dpc();

  // Time-out providers (TimerPoolPlugin::timerHook/timerUnhook).
  void hook(TimerPoolPlugin* p);
  void unhook(TimerPoolPlugin* p);
  // Smallest time-out of the providers; 2147483647 when none gives one.
  int timerPoll_schedule();

  const Measure& dpc_measure() const { return dpcMeasure_; }
  const Measure& event_measure() const { return eventMeasure_; }
  const Measure& timer_measure() const { return timerMeasure_; }
  bool watchdog_open() const { return watchdog_ >= 0; }

 private:
  using Where = EventHandler::Where;
  F_dual_list<EventHandler>& list_of(Where w);
  // Wait to the first timer at time now: -1 none, else >= 0.
  int timer_wait(std::uint32_t now) const;
  void open_watchdog();
  void close_watchdog();
  // One pass; cap >= 0 cuts the wait (run_once), else the hang check applies.
  void pass(int cap);
  void dispatch();

  F_sorted_list<TimerEvent> timers_;
  F_dual_list<EventHandler> pending_;
  F_dual_list<EventHandler> served_;
  F_dual_list<EventHandler> polled_;
  std::vector<pollfd> entries_;
  std::vector<EventHandler*> entryOwners_;  // the handler of each poll entry
  std::vector<Dpc*> dpcs_;                  // sorted by address, no duplicates
  std::vector<Dpc*> dpcWork_;               // the run in progress
  volatile sig_atomic_t terminate_ = 0;
  Measure dpcMeasure_;
  Measure eventMeasure_;
  Measure timerMeasure_;
  std::vector<TimerPoolPlugin*> providers_;
  std::vector<TimerPoolPlugin*>* providerWalk_ = nullptr;  // the walk in progress
  int watchdog_ = -1;
  bool pinged_ = false;
  std::uint32_t lastPing_ = 0;
  bool liveClock_ = true;
};

// The daemon's one loop. Never destroyed, so handlers, timers and deferred
// calls in static objects may unregister at exit in any order.
extern Multiplexer& multiplexer;
