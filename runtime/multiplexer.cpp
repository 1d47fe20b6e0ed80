#include "runtime/multiplexer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iostream>

#include "platform/drv.h"
#include "platform/sysroot.h"
#include "runtime/dpc.h"
#include "runtime/ext_table.h"
#include "runtime/mux_clock.h"
#include "runtime/profile.h"

Multiplexer& multiplexer = *new Multiplexer();

namespace {

// Waits above this are taken for a broken clock rather than a real timer.
constexpr std::uint32_t kMaxWaitMs = 7200000;
constexpr int kWatchdogCapMs = 1000;

// The smaller of two waits where -1 means "no limit".
int shorter(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return a < b ? a : b;
}

bool writeAll(int fd, const char* text, size_t n) { return ::write(fd, text, n) == static_cast<ssize_t>(n); }

}  // namespace

Multiplexer::Multiplexer() = default;

// ---- handlers ----

F_dual_list<EventHandler>& Multiplexer::list_of(Where w) {
  switch (w) {
    case Where::pending:
      return pending_;
    case Where::served:
      return served_;
    default:
      return polled_;
  }
}

void Multiplexer::attach(EventHandler* h) {
  if (h->where_ != Where::none) {
    std::cerr << "duplicate multiplexer attach \"" << h->event_name() << "\" ignored." << std::endl;
    return;
  }
  pending_.push_back(h);
  h->where_ = Where::pending;
}

void Multiplexer::detach(EventHandler* h) {
  if (h->where_ == Where::none) {
    std::cerr << "indvalid Multiplexer::detach " << h->event_name() << std::endl;
    return;
  }
  // Its poll entry, if the pass under way has one, no longer belongs to it.
  if (h->entry_ < entryOwners_.size() && entryOwners_[h->entry_] == h) entryOwners_[h->entry_] = nullptr;
  list_of(h->where_).remove(h);
  h->where_ = Where::none;
}

bool Multiplexer::event_exists(const EventHandler* h) const { return h->where_ != Where::none; }

// ---- timers ----

void Multiplexer::set(TimerEvent* t) {
  // A re-armed last event that still sorts last (a timer restarted on every
  // frame) stays where it is: the walk would put it back there.
  if (t->armed_ && t == timers_.tail()) {
    const TimerEvent* before = timers_.prev(t);
    if (!before || before->compare(t) <= 0) return;
  }
  reset(t);
  timers_.insert_to_tail_by_grown(t);
  t->armed_ = true;
}

void Multiplexer::reset(TimerEvent* t) {
  if (!t->armed_) return;
  timers_.remove(t);
  t->armed_ = false;
}

bool Multiplexer::first_expiry(std::uint32_t& expiry) const {
  if (timers_.empty()) return false;
  expiry = timers_.head()->expiry_;
  return true;
}

int Multiplexer::timer_wait(std::uint32_t now) const {
  const TimerEvent* head = timers_.head();
  if (!head) return -1;
  std::int32_t d = static_cast<std::int32_t>(head->expiry_ - now);
  if (d < 0) return 0;
  return d;
}

int Multiplexer::timers_schedule() {
  const std::uint32_t now = Mux::milliseconds();
  while (TimerEvent* t = timers_.head()) {
    if (static_cast<std::int32_t>(now - t->expiry_) < 0) break;
    timers_.remove(t);
    t->armed_ = false;
    timerMeasure_.begin();
    t->fire();
    timerMeasure_.end();
  }
  execute_dpc();
  int wait = timer_wait(now);
  if (wait >= 0 && static_cast<std::uint32_t>(wait) > kMaxWaitMs) {
    std::cerr << "******** RUNTIME ERROR CONDITION *************"
              << "Multiplexer::timers_schedule() invalid wait time detected!" << std::endl
              << "now = " << now << std::endl
              << "first = " << timers_.head()->expiry_ << std::endl
              << "count = " << timers_.count() << std::endl;
    for (TimerEvent* t = timers_.head(); t; t = F_dual_list<TimerEvent>::next(t)) t->expiry_ = now + 1000;
    return 1000;
  }
  return wait;
}

// ---- deferred calls ----

void Multiplexer::attach(Dpc* d) {
  auto at = std::lower_bound(dpcs_.begin(), dpcs_.end(), d);
  if (at == dpcs_.end() || *at != d) dpcs_.insert(at, d);
}

void Multiplexer::dettach(Dpc* d) {
  dpcs_.erase(std::remove(dpcs_.begin(), dpcs_.end(), d), dpcs_.end());
  dpcWork_.erase(std::remove(dpcWork_.begin(), dpcWork_.end(), d), dpcWork_.end());
}

void Multiplexer::execute_dpc() {
  dpcWork_ = dpcs_;
  while (!dpcWork_.empty()) {
    Dpc* d = dpcWork_.front();
    dpcWork_.erase(dpcWork_.begin());
    dpcMeasure_.begin();
    d->Invoke();
    dpcMeasure_.end();
  }
}

// ---- time-out providers ----

void Multiplexer::hook(TimerPoolPlugin* p) { providers_.push_back(p); }

void Multiplexer::unhook(TimerPoolPlugin* p) {
  if (providerWalk_) providerWalk_->erase(std::remove(providerWalk_->begin(), providerWalk_->end(), p), providerWalk_->end());
  providers_.erase(std::remove(providers_.begin(), providers_.end(), p), providers_.end());
}

int Multiplexer::timerPoll_schedule() {
  std::vector<TimerPoolPlugin*> walk;
  walk.swap(providers_);
  providerWalk_ = &walk;
  int result = INT_MAX;
  while (!walk.empty()) {
    TimerPoolPlugin* p = walk.front();
    walk.erase(walk.begin());
    providers_.push_back(p);
    int t = p->timeout();
    if (t >= 0 && t < result) result = t;
  }
  providerWalk_ = nullptr;
  return result;
}

// ---- watchdog ----

void Multiplexer::open_watchdog() {
  int fd = drv::open(sysroot::watchdog, O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    std::cerr << "Mux: fail to open watchdog: " << ::strerror(errno) << std::endl;
    return;
  }
  if (!writeAll(fd, "START", 5)) {
    std::cerr << "Mux: fail to activate watchdog: " << ::strerror(errno) << std::endl;
    ::close(fd);
    return;
  }
  watchdog_ = fd;
}

void Multiplexer::close_watchdog() {
  if (watchdog_ < 0) return;
  if (!writeAll(watchdog_, "STOP", 4)) std::cerr << "Mux: stop watchdog failed: " << ::strerror(errno) << std::endl;
  ::close(watchdog_);
  watchdog_ = -1;
}

void Multiplexer::resetWD() {
  if (watchdog_ < 0) return;
  if (!writeAll(watchdog_, "PING", 4)) std::cerr << "Mux: ping watchdog failed: " << ::strerror(errno) << std::endl;
}

// ---- the loop ----

void Multiplexer::run(bool watchdog, bool liveClock) {
  liveClock_ = liveClock;
  pinged_ = false;
  if (watchdog) open_watchdog();
  if (!liveClock) Mux::mux_settimeofday();
  while (!terminate_) pass(-1);
  std::clog << "Mux: terminating..." << std::endl;
  close_watchdog();
  if (!liveClock) Mux::mux_releasetimeofday();
  liveClock_ = true;
  terminate_ = 0;
}

void Multiplexer::run_once(int max_wait_ms) { pass(max_wait_ms < 0 ? 0 : max_wait_ms); }

void Multiplexer::pass(int cap) {
  int timeout = timers_schedule();
  int providers = timerPoll_schedule();
  timeout = shorter(timeout, providers == INT_MAX || providers < 0 ? -1 : providers);

  while (EventHandler* h = pending_.remove_from_head()) {
    polled_.push_back(h);
    h->where_ = Where::polled;
  }
  const std::size_t n = polled_.size();
  if (entries_.size() != n) {
    entries_.resize(n);
    entryOwners_.resize(n);
  }
  std::size_t i = 0;
  for (EventHandler* h = polled_.head(); h; h = F_dual_list<EventHandler>::next(h), ++i) {
    h->shedule_event(entries_[i]);
    entryOwners_[i] = h;
    h->entry_ = static_cast<std::uint32_t>(i);
  }

  if (cap >= 0) {
    timeout = shorter(timeout, cap);
  } else if (timeout < 0 && n == 0 && !terminate_) {
    std::cerr << "multiplexer: system hang detected!!!" << std::endl;
    std::abort();
  }
  if (watchdog_ >= 0 && (timeout < 0 || timeout > kWatchdogCapMs)) timeout = kWatchdogCapMs;

  execute_dpc();
  // A deferred call may just have armed a timer due before the wait above.
  timeout = shorter(timeout, timer_wait(Mux::milliseconds()));
  // A stop requested during this pass should not wait for input first.
  if (terminate_) timeout = 0;

  int ready = ::poll(entries_.data(), n, timeout);
  const int pollErrno = errno;
  if (!liveClock_) Mux::mux_settimeofday();

  if (watchdog_ >= 0) {
    std::uint32_t now = Mux::milliseconds();
    if (!pinged_ || now < lastPing_ || now - lastPing_ > 999) {
      resetWD();
      pinged_ = true;
      lastPing_ = now;
    }
  }

  if (ready > 0) {
    dispatch();
  } else if (ready < 0 && pollErrno != EINTR) {
    std::cerr << "multiplexer poll failed: " << ::strerror(pollErrno) << std::endl;
    std::abort();
  }
}

void Multiplexer::dispatch() {
  // Pair each result with the handler whose entry it is; a handler that a
  // deferred call detached (or destroyed) after the entries were filled has
  // lost its entry.
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (EventHandler* h = entryOwners_[i]) h->revents_ = entries_[i].revents;
  }
  while (!terminate_) {
    EventHandler* h = polled_.remove_from_head();
    if (!h) break;
    served_.push_back(h);
    h->where_ = Where::served;
    eventMeasure_.begin();
    h->svc_event();  // may detach or destroy h and others
    eventMeasure_.end();
  }
  // Handlers not served (stop requested) go behind the served ones, so the
  // polled list keeps its order for a later run.
  while (EventHandler* h = polled_.remove_from_head()) served_.push_back(h);
  polled_.merge(served_);
  for (EventHandler* h = polled_.head(); h; h = F_dual_list<EventHandler>::next(h)) h->where_ = Where::polled;
}

// ---- status dump ----

void Multiplexer::dump(std::ostream& s) const {
  s << "dpc transition measurement (min/max/cur/counter): " << dpcMeasure_ << std::endl;
  s << "event transition measurement (min/max/cur/counter): " << eventMeasure_ << std::endl;
  s << "timer transition measurement (min/max/cur/counter): " << timerMeasure_ << std::endl;
  Profile::dump(s);

  ext::Table table(40, 30, 10, 10, 5, 60);
  s << table << ext::delimeter << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count"
    << ext::nextrow << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow
    << ext::delimeter;
  for (const EventHandler* h = polled_.head(); h; h = F_dual_list<EventHandler>::next(h)) {
    if (!h->is_named()) continue;
    const Event* e = dynamic_cast<const Event*>(h);
    if (!e) continue;
    s << table << ext::beginrow << e->event_name() << ext::nextrow << PollEventAsText(e->events()) << ext::nextrow
      << e->hits() << ext::nextrow << (e->bound() ? "attached" : "unattached") << ext::nextrow << e->fd().get()
      << ext::nextrow << e->measure() << ext::nextrow;
  }
  s << table << ext::delimeter;
  s << std::endl;
}
