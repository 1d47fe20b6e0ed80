#include "runtime/main/signals.h"

#include <unistd.h>

#include <fstream>
#include <iostream>

#include "platform/sysroot.h"
#include "runtime/ipc_signal.h"
#include "runtime/multiplexer.h"
#include "runtime/timestamp.h"
#include "runtime/version.h"
#include "slots/slots.h"

volatile sig_atomic_t doDumpStatus = 0;
volatile sig_atomic_t updateResources = 0;

namespace {

void SigPipeHandler(int, siginfo_t*, void*) {}
void SigTermHandler(int, siginfo_t*, void*) { multiplexer.terminate(); }
void SigUsr2Handler(int, siginfo_t*, void*) { doDumpStatus = 1; }
void SigHupHandler(int, siginfo_t*, void*) { updateResources = 1; }

}  // namespace

void InstallSignalHandlers() {
  IPC::Signal::handle(SIGPIPE, SigPipeHandler, SA_RESTART);
  IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
  IPC::Signal::handle(SIGINT, SigTermHandler, 0);
  IPC::Signal::handle(SIGUSR2, SigUsr2Handler, SA_RESTART);
  IPC::Signal::handle(SIGHUP, SigHupHandler, SA_RESTART);
}

void CheckSignals() {
  CheckDumpStatus();
  CheckUpdateResources();
}

void CheckDumpStatus() {
  if (!doDumpStatus) return;
  doDumpStatus = 0;
  std::ofstream f(sysroot::path(sysroot::status_dump), std::ios::out | std::ios::trunc);
  if (!f) {
    std::cerr << "dump status error" << std::endl;
    return;
  }
  f << "server status information. pid=" << ::getpid() << " time=";
  timestamp(f) << std::endl;
  f << "version : " << Version::current << std::endl;
  multiplexer.dump(f);
  f << std::endl;
}

void CheckUpdateResources() {
  if (!updateResources) return;
  updateResources = 0;
  std::clog << "update hardware resources" << std::endl;
  Slots::instance().UpdateHardwareResources();
}
