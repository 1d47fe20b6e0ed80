#pragma once
// The monitoring service, a process-wide singleton. It grows into the
// status files and the SNMP agent links; for now it holds what the process
// entry needs of it.
namespace IniFile {
class File;
}

class MonitoringCtl {
 public:
  static MonitoringCtl& instance();

  // Takes the "snmpagent" section of the configuration and starts one SNMP
  // agent link per subsection. The entry calls it once, before daemon mode.
  void Configure(IniFile::File& file);

 private:
  MonitoringCtl() = default;
};
