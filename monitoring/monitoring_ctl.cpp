#include "monitoring/monitoring_ctl.h"

MonitoringCtl& MonitoringCtl::instance() {
  static MonitoringCtl monitoring;
  return monitoring;
}

void MonitoringCtl::Configure(IniFile::File&) {
  // The SNMP agent links arrive with the monitoring service; no agent is
  // started until then.
}

// The power check and its `power` signal to the controller come with the
// board checks of the monitoring service.
void MonitoringCtl::OnConnect() { controller_connected_ = true; }

// The controller status files are cleared here once they exist.
void MonitoringCtl::OnDisconnect() { controller_connected_ = false; }

bool MonitoringCtl::OnCommand(const LGCP::Command& command) {
  if (command.getSelection() != LGCP::Command::e_display) return false;
  Success();
  return true;
}
