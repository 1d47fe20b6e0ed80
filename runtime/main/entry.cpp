#include "runtime/main/entry.h"

#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>

#include "monitoring/monitoring_ctl.h"
#include "platform/sysroot.h"
#include "radio/rtp_ed137_factory.h"
#include "radio/rtp_vesk_factory.h"
#include "runtime/child_wait.h"
#include "runtime/daemon.h"
#include "runtime/dpc.h"
#include "runtime/ini_file.h"
#include "runtime/linux_run.h"
#include "runtime/main/command_line.h"
#include "runtime/main/signals.h"
#include "runtime/multiplexer.h"
#include "runtime/traces.h"
#include "runtime/version.h"
#include "slots/echo_factory.h"
#include "slots/ext_factory.h"
#include "slots/hdlc_slot_factory.h"
#include "slots/isdn_factory.h"
#include "slots/map_factory.h"
#include "slots/mcc_factory.h"
#include "slots/mixer_factory.h"
#include "slots/modem_factory.h"
#include "slots/pstn_factory.h"
#include "slots/rtp_factory.h"
#include "slots/t38_soft_factory.h"
#include "slots/voice_factory.h"

const char* configFile = sysroot::server_conf;

namespace {

// Each factory links itself at the head of the chain, so the order here
// decides the order in which they are asked: the last built first.
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

// Detaches from the terminal; from here on the standard streams go to the
// system log under the identity "korvend-" and the version tag.
void RunDaemon() {
  std::ostringstream name;
  name << "korvend-";
  Version::current.put(name);
  Daemon::Params params;
  params.name = name.str();
  Daemon::Init(params);
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
  // HwMux::instance() is built here, before the monitoring service.
  MonitoringCtl::instance().Configure(file);

  if (line.daemon) RunDaemon();

  Linux::Run run("server");
  std::cout << "Starting server [" << Version::current << "], port=" << line.port << std::endl;

  // The control services are bound to the controller session here, in this
  // order, which is also the order in which each command is offered to
  // them: HeartBeatCtl, Slots, HwTests, BusCtl, E1Ctl, spiCtrl,
  // MonitoringCtl.

  ChildWait::Activate();

  Dpc signals;
  signals.Bind(new DpcHandler1(CheckSignals));
  signals.Activate();

  // The controller acceptor on line.port is handed to the controller session
  // here (and deactivated with it after the loop).

  multiplexer.run(true, true);

  signals.Deactivate();
  return 0;
}
