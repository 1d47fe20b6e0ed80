#pragma once
// The monitoring service, a process-wide singleton and the control service
// bound last. It grows into the status files, the power check and the SNMP
// agent links; for now it claims `display` and keeps track of whether a
// controller is connected.
#include "control/ctrl_service.h"

namespace IniFile {
class File;
}

class MonitoringCtl : public CtrlSrv::Service {
 public:
  static MonitoringCtl& instance();

  // Takes the "snmpagent" section of the configuration and starts one SNMP
  // agent link per subsection. The entry calls it once, before daemon mode.
  void Configure(IniFile::File& file);

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;

  bool controller_connected() const { return controller_connected_; }

 private:
  MonitoringCtl() = default;

  bool controller_connected_ = false;
};
