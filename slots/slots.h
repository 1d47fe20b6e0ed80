#pragma once
// The slot registry, a process-wide singleton and the control service bound
// second, after the heartbeat. It grows into the owner of every slot; until
// slot types exist it answers the slot commands as a registry in which no
// slot exists and no factory can make one, and reports empty resources.
#include "control/ctrl_service.h"

class Slots : public CtrlSrv::Service {
 public:
  static Slots& instance();

  // Reports the resources of every factory to the controller as the signal
  // `query` (on SIGHUP, and after a resource query).
  void UpdateHardwareResources();

  void OnConnect() override;
  // Destroys every slot (none exist yet).
  void OnDisconnect() override;
  // With a slot: connect, disconnect, create, destroy, activate,
  // deactivate, userData, ioctl. Without one: query.
  bool OnCommand(const LGCP::Command& command) override;

 private:
  Slots() = default;
};
