#include "slots/t38_soft_slot.h"

#include <signal.h>
#include <sys/wait.h>

#include <iostream>
#include <sstream>

#include "hardware/hw_mux.h"
#include "runtime/child_process.h"
#include "runtime/ext_out.h"

T38SoftSlot::T38SoftSlot(int pid, int channel) : pid(pid), started(pid), channel(channel) {
  child.Bind(this, &T38SoftSlot::OnT38Terminate);
  child.Attach(pid);
}

void T38SoftSlot::PutHeader(std::ostream& s) const { s << *this << ": "; }

void T38SoftSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy() {
  HwMux::instance().Release(channel);
  // The slot goes at once; the child, which holds the slot's controller
  // channel, and what it started are followed up until they have ended.
  // An ended child has been reaped, so its pid may name another process
  // now (also when its end has been read but not yet passed to the slot):
  // only what it left running is told to stop.
  const bool ended = pid < 1 || child.ended();
  child.Detach();
  std::ostringstream what;
  what << ext::header(this) << "t38 daemon";
  ChildProcess::Abandon(started, SIGTERM, terminate_ms, what.str(), ended);
  pid = -1;
  started = -1;
  return true;
}

void T38SoftSlot::OnT38Terminate(int status) {
  std::ostringstream line;
  line << ext::header(this) << "t38 daemon terminated ";
  if (WIFEXITED(status))
    line << "with code=" << WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    line << "by signal=" << WTERMSIG(status);
  else
    line << "with status=" << status;
  line << '\n';
  std::clog << line.str() << std::flush;
  pid = -1;
  OnAbort(status);
}
