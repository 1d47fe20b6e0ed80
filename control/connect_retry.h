#pragma once
// What the connecting links share: their retry schedule and the opening of
// their socket. After a failed attempt the next comes after 1000 ms while
// the fast budget lasts (7 from each activation), then after a slower delay
// that depends on where the failure showed; a lost connection is tried
// again after 10000 ms, the budget not refilled.
#include <cstdint>
#include <functional>

#include "runtime/fd.h"
#include "runtime/timer.h"

namespace Control {

class ConnectRetry {
 public:
  // The slower delays: the connect refused, a hang-up reported, a pending
  // socket error reported.
  static constexpr unsigned refused_ms = 20000;
  static constexpr unsigned hangup_ms = 15000;
  static constexpr unsigned error_ms = 12000;

  explicit ConnectRetry(std::function<void()> attempt) : attempt_(std::move(attempt)) {}

  void Refill();
  // The next attempt after a failure whose slow delay is slow_ms.
  void After(unsigned slow_ms);
  void AfterLoss();
  void Cancel() { timer_.reset(); }
  int budget() const { return budget_; }

 private:
  void OnTimer(Timer*) { attempt_(); }

  std::function<void()> attempt_;
  Timer timer_;
  std::int32_t budget_ = 0;
};

// A fresh non-blocking stream socket in sock; false, after the line that
// names the socket ("socket", "domain socket"), when that fails.
bool OpenConnectSocket(Fd& sock, int domain, int protocol, const char* kind);

}  // namespace Control
