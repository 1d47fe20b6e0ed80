#include "control/heart_beat_ctl.h"

#include <iostream>

#include "control/ctrl_server.h"

HeartBeatCtl* HeartBeatCtl::instance() {
  static HeartBeatCtl heartbeat;
  return &heartbeat;
}

void HeartBeatCtl::OnConnect() { ResetTimeOut(); }

void HeartBeatCtl::OnDisconnect() { timer_.reset(); }

bool HeartBeatCtl::OnCommand(const LGCP::Command& command) {
  ResetTimeOut();
  if (command.getSelection() != LGCP::Command::e_ping) return false;
  Success();
  return true;
}

void HeartBeatCtl::ResetTimeOut() { timer_.set(period_ms_, &HeartBeatCtl::OnHeartbeatTimeout, this); }

void HeartBeatCtl::PutHeader(std::ostream& s) const { s << "heartbeat: "; }

// The session this service is bound to (in the daemon, ctrlServer) closes
// its link.
void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
  std::clog << "heartbeat timeout!!!" << std::endl;
  if (server()) server()->OnHeartbeatTimeout();
}
