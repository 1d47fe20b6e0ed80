#pragma once
// Watches the controller for silence. Bound first, it sees every command
// that reaches the services (not those refused for their slot, nor
// responses and signals from the controller) and restarts a 120000 ms
// timer; `ping` exists only for that and is answered success. When the
// timer runs out the controller link is closed, every service hears that
// the controller has gone, and the controller may connect again. The timer
// is armed as well when a controller connects: a peer that connects and
// never sends a command would otherwise hold the only controller place for
// ever, and every other controller would be refused.
#include <iosfwd>

#include "control/ctrl_service.h"
#include "runtime/timer.h"

class HeartBeatCtl : public CtrlSrv::Service {
 public:
  static constexpr unsigned timeout_ms = 120000;

  // The daemon's instance, built on first use.
  static HeartBeatCtl* instance();
  HeartBeatCtl() = default;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;

  void ResetTimeOut();
  bool armed() const { return timer_.isSet(); }
  // The silence allowed, timeout_ms unless changed; a change applies from
  // the next arming. Only the simulated board's tests shorten it, so that
  // an end-to-end test need not wait two minutes.
  void set_period(unsigned ms) { period_ms_ = ms; }
  unsigned period() const { return period_ms_; }
  void PutHeader(std::ostream& s) const;

 private:
  void OnHeartbeatTimeout(Timer*);

  Timer timer_;
  unsigned period_ms_ = timeout_ms;
};
