#include "runtime/main/entry.h"

#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>

#include "control/acceptor_net.h"
#include "control/ctrl_server.h"
#include "control/heart_beat_ctl.h"
#include "hardware/bus_ctl.h"
#include "hardware/e1_ctl.h"
#include "hardware/hw_mux.h"
#include "hardware/hw_tests.h"
#include "hardware/spi_ctrl.h"
#include "monitoring/monitoring_ctl.h"
#include "platform/sysroot.h"
#include "radio/rtp_ed137_factory.h"
#include "radio/rtp_vesk_factory.h"
#include "runtime/child_process.h"
#include "runtime/child_wait.h"
#include "runtime/daemon.h"
#include "runtime/dpc.h"
#include "runtime/ini_file.h"
#include "runtime/linux_run.h"
#include "runtime/main/command_line.h"
#include "runtime/main/signals.h"
#include "runtime/multiplexer.h"
#include "runtime/syslog_manager.h"
#include "runtime/timer.h"
#include "runtime/traces.h"
#include "runtime/version.h"
#include "slots/echo_factory.h"
#include "slots/ext_factory.h"
#include "slots/hdlc_slot_factory.h"
#include "slots/isdn_slot.h"
#include "slots/map_slot.h"
#include "slots/mcc_factory.h"
#include "slots/mixer_factory.h"
#include "slots/modem_factory.h"
#include "slots/pstn_slot.h"
#include "slots/rtp_factory.h"
#include "slots/slots.h"
#include "slots/t38_soft_factory.h"
#include "slots/voice_factory.h"

const char* configFile = sysroot::server_conf;

namespace {

// Each factory links itself at the head of the chain, so the order here
// decides the order in which they are asked: the last built first. The
// trunk factories, static objects, are in the chain already, at its end.
void BuildSlotFactories() {
  MapFactory::instance();
  PstnFactory::instance();
  RtpFactory::instance();
  ModemFactory::instance();
  Mixer::MixerFactory::instance();
  ExtFactory::instance();
  MccFactory::instance();
  EchoFactory::instance();
  VoiceFactory::instance();
  T38SoftFactory::instance();
  IsdnFactory::instance();
  RtpVESKFactory::instance();
  RtpED137Factory::instance();
  HdlcSlotFactory::instance();
}

// A send connects the log socket again when it finds the log daemon gone,
// but an idle daemon sends nothing, and its programs write on copies of that
// socket: they would miss a log daemon that restarted, or one that came
// after the start. A look once a second, sending nothing, finds it for them.
class SysLogCheck {
 public:
  static constexpr unsigned kPeriodMs = 1000;
  SysLogCheck() { Arm(); }

 private:
  void Arm() { timer_.set(kPeriodMs, &SysLogCheck::OnTimer, this); }
  void OnTimer() {
    syslogManager.check();
    Arm();
  }
  Timer timer_;
};

// Detaches from the terminal; from here on the standard streams go to the
// system log under the identity "korvend-" and the version tag.
void RunDaemon() {
  std::ostringstream name;
  name << "korvend-";
  Version::current.put(name);
  Daemon::Params params;
  params.name = name.str();
  Daemon::Init(params);
  // Armed now, it fires once the loop runs.
  static SysLogCheck sysLogCheck;
}

}  // namespace

int korvend_main(int argc, char** argv) {
  // The configuration is optional: without it every trace is off and the
  // monitoring service sees empty sections. Faults in it are reported and
  // skipped, never fatal.
  IniFile::File file;
  if (file.Open(sysroot::path(configFile))) {
    traces = TraceCtl();
    traces.Configure(file["traces"]);
  }

  InstallSignalHandlers();

  CommandLine line;
  const int status = ParseCommandLine(argc, argv, line, std::cout);
  if (status >= 0) return status;

  BuildSlotFactories();
  // The matrix is opened and every bus output disabled before anything
  // (the monitoring service first) can switch it.
  HwMux::instance();
  MonitoringCtl::instance().Configure(file);

  if (line.daemon) RunDaemon();

  Linux::Run run("server");
  std::cout << "Starting server [" << Version::current << "], port=" << line.port << std::endl;

  // The bind order is the order in which each command is offered.
  ctrlServer.Bind(HeartBeatCtl::instance());
  ctrlServer.Bind(&Slots::instance());
  ctrlServer.Bind(&HwTests::instance());
  ctrlServer.Bind(&BusCtl::instance());
  ctrlServer.Bind(&E1Ctl::instance());
  ctrlServer.Bind(&spiCtrl::instance());
  ctrlServer.Bind(&MonitoringCtl::instance());

  ChildWait::Activate();
  ChildProcess::Adopt();

  Dpc signals;
  signals.Bind(new DpcHandler1(CheckSignals));
  signals.Activate();

  ctrlServer.Activate(new Control::AcceptorNetCheckConnection(line.port));

  multiplexer.run(true, true);

  ctrlServer.Deactivate();
  // What the slots started goes with the daemon, after its grace period.
  ChildProcess::Settle();
  signals.Deactivate();
  return 0;
}
