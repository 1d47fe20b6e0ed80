#include "monitoring/monitoring_ctl.h"

MonitoringCtl& MonitoringCtl::instance() {
  static MonitoringCtl monitoring;
  return monitoring;
}

void MonitoringCtl::Configure(IniFile::File&) {
  // The SNMP agent links arrive with the monitoring service; no agent is
  // started until then.
}
