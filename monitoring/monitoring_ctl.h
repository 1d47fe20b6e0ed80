#pragma once
// The monitoring service: the control service bound last. It watches the
// board on its own timers, from start to exit, whether a controller is
// connected or not:
//   every 60 s (first 1 s after start)  versions, configuration archive,
//                                        framer status files, temperature
//   every 2 s                            power supply, DIP switch, interfaces
//   every 5 s                            the controller as seen from here
// It keeps what it learns in the data holder (which writes the status tree
// under "/var/monitoring/") and publishes each change to the SNMP agents as
// MIB cells; every value goes again whenever an agent connects and whenever
// a trunk-status signal changed a framer. It answers the controller's
// `display` command, sends it the `power` signal, and lights the framer
// LEDs as the controller reports lines and links.
//
// The board's DIP switch, power supply and LEDs are read and written
// through "/dev/hal", opened on first use (and tried again while it cannot
// be). Trace lines, only with the "monitoring.internal" flag, begin with
// "monitoring: ".
#include <cstdint>
#include <iosfwd>
#include <string>

#include "asn1/modules/LGCP.h"
#include "control/ctrl_service.h"
#include "monitoring/monitoring_data_holder.h"
#include "monitoring/snmp_agent_ctrl.h"
#include "runtime/dpc.h"
#include "runtime/timer.h"

namespace IniFile {
class File;
}

class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
 public:
  static constexpr unsigned first_background_ms = 1000;
  static constexpr unsigned background_ms = 60000;
  static constexpr unsigned power_ms = 2000;
  static constexpr unsigned controller_ms = 5000;

  // The process-wide instance, built on first use (after the fixed-path
  // root is set: the data holder empties the status tree).
  static MonitoringCtl& instance();

  MonitoringCtl();
  // Darkens the framer LEDs.
  ~MonitoringCtl() override;

  // Starts one SNMP agent link per block of the "snmpagent" section. The
  // entry calls it once, before the loop runs.
  void Configure(IniFile::File& file);

  // Checks the power (and sends it to the controller, changed or not) and
  // the controller's state.
  void OnConnect() override;
  // Forgets what the controller reported and checks its state again.
  void OnDisconnect() override;
  // Claims `display` only, and always answers success.
  bool OnCommand(const LGCP::Command& command) override;
  // An E1 trunk-status signal updates the framer it names.
  void OnSignal(const LGCP::Signal& signal) override;
  // Every value goes to the agents again (once per loop pass).
  void OnSnmpAgentConnect(const std::string& name) override;

  // Opens "/dev/hal" unless open; whether it is.
  bool IsOpen();
  void setFramerLed(const LGCP::FramerInfo& info);
  void sendPowerStatus();

  // The checks the timers run.
  void doVersionsCheck();
  void doConfigCheck();
  void doFramerCheck();
  void doTemperatureCheck();
  void doPowerCheck();
  void doDipCheck();
  void doNetIfCheck();
  void doControllerCheck();

  // Publishing: each queues the cells of one value for the agents.
  void sendSnmpDriverBuild();
  void sendSnmpSoftwareBuild();
  void sendSnmpPowerStatus();
  void sendSnmpControllerStatus();
  void sendSnmpGatewayDip();
  void sendSnmpGatewayConfigVersion();
  void sendSnmpTemperature();
  void sendSnmpStatusBuildVersion();
  void sendSnmpStatusFPGAVersion();
  void sendSnmpStatusBootVersion();
  void sendSnmpStatusBoardVersion();
  void sendSnmpBoardStatus(const LGCP::BoardStatusParams& board);
  void sendSnmpBoardStatuses();
  void sendSnmpEmPhoneStatus(const LGCP::EmPhoneStatusParams& phone);
  void sendSnmpEmPhoneStatuses();
  void sendSnmpRouterTermCnt();
  void sendSnmpControllerTermCnt();
  void sendSnmpServerTermCnt();
  void sendSnmpBoardTermCnt();
  void sendSnmpFramerStatus(const FramerDataHolder& framer);
  void sendSnmpFramerStatus();
  void sendSnmpNetIfStatus(const NetIfDataHolder& netIf);
  void sendSnmpNetIfStatus();
  // These two send at once.
  void sendSnmpTrapReceivers();
  void sendSnmpCommands(const MON::SnmpSetCommands& commands);
  void sendSnmpCommands();
  // The full push: every value.
  void OnDpcSend();

  MonitoringDataHolder& holder() { return holder_; }
  SnmpAgentCtrl& agents() { return agents_; }
  std::uint8_t leds() const { return leds_; }
  void PutHeader(std::ostream& s) const;

 private:
  void onBkgCheckTimer(Timer*);
  void onPowerCheckTimer(Timer*);
  void onControllerCheckTimer(Timer*);
  void OnDisplayCMD(const LGCP::DisplayParams& params);
  // One request on "/dev/hal" with one byte; false when it failed.
  bool halRequest(unsigned long code, std::uint8_t& byte);
  void writeLeds();
  // Queues one counter cell for each held counter of the owner.
  void sendTermCounters(int owner, SnmpAgentCtrl::MonitoringItemType item);

  int fd_ = -1;  // "/dev/hal"
  MonitoringDataHolder holder_;
  SnmpAgentCtrl agents_;
  Timer bkgTimer_;
  Timer powerTimer_;
  Timer controllerTimer_;
  std::uint8_t leds_ = 0;
  Dpc push_;
};
