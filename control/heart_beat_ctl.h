#pragma once
// Watches the controller for silence. Bound first, it sees every command
// that reaches the services (not those refused for their slot, nor
// responses and signals from the controller) and restarts a 120000 ms
// timer; `ping` exists only for that and is answered success. When the
// timer runs out the controller link is closed, every service hears that
// the controller has gone, and the controller may connect again. A
// connection that never sends a command is never timed out.
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
  void PutHeader(std::ostream& s) const;

 private:
  void OnHeartbeatTimeout(Timer*);

  Timer timer_;
};
