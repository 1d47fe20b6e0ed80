#include "slots/t38_soft_factory.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/drv.h"
#include "platform/mcc_records.h"
#include "platform/sysroot.h"
#include "runtime/child_process.h"
#include "runtime/ext_out.h"
#include "runtime/fd.h"
#include "slots/slots.h"
#include "slots/t38_soft_slot.h"

namespace {

// One write per report: the log streams may be unbuffered.
void Write(std::ostream& stream, const std::ostringstream& text) { stream << text.str() << std::flush; }

}  // namespace

void T38SoftFactory::PutHeader(std::ostream& s) const { s << "t38soft: "; }

Slot* T38SoftFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_t38soft) return nullptr;
  const LGCP::T38Soft& t38 = params.get_t38soft();
  std::ostringstream error;
  error << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ";

  Fd mcc(drv::open(sysroot::mcc_ctl, O_RDWR | O_CLOEXEC));
  if (!mcc.valid()) {
    error << "open <" << sysroot::mcc_ctl << "> [" << errno << "]\n";
    Write(std::cerr, error);
    return nullptr;
  }
  mcc::MccAllocate rec{mcc::transparent, t38.get_rx_packet_size().getValue(), 0, t38.get_rx_threshold().getValue(),
                       t38.get_tx_threshold().getValue()};
  if (drv::ioctl_ptr(mcc.get(), MCC_ALLOCATE, &rec, sizeof rec) < 0) {
    error << "ioctl MCC_ALLOCATE [" << errno << "]\n";
    Write(std::cerr, error);
    return nullptr;
  }
  const int channel = drv::ioctl_val(mcc.get(), MCC_TIMESLOT, 0);
  if (channel < 0) {
    error << "ioctl MCC_TIMESLOT [" << errno << "]\n";
    Write(std::cerr, error);
    return nullptr;
  }

  // Everything the child needs is ready before the fork: between fork and
  // exec it may only call what is safe in a signal handler.
  std::vector<std::string> args = {sysroot::t38, "--child", "--remote",
                                   t38.get_dhost().get_iaddr().str() + "/" +
                                       std::to_string(t38.get_dhost().get_port().getValue()) + "/" +
                                       std::to_string(t38.get_shost().get_port().getValue())};
  for (const ASN1::IA5String& arg : t38.get_args()) {
    if (args.size() >= 4 + max_args) break;
    args.push_back(arg.str());
  }
  std::vector<char*> argv;
  std::ostringstream log;
  log << ext::header(this) << "args for run t38 daemon:\n";
  for (std::size_t i = 0; i < args.size(); ++i) {
    argv.push_back(&args[i][0]);
    log << ext::header(this) << "arg[" << i << "]=" << args[i] << '\n';
  }
  argv.push_back(nullptr);
  Write(std::clog, log);
  const std::string program = sysroot::path(sysroot::t38);
  const int fd = mcc.get();

  const pid_t pid = ChildProcess::Fork();
  if (pid == 0) {
    if (fd != 0)
      ::dup2(fd, 0);
    else
      ::fcntl(0, F_SETFD, 0);
    ::execv(program.c_str(), argv.data());
    ::_exit(1005);
  }
  if (pid < 0) return nullptr;
  std::ostringstream started;
  started << ext::header(this) << "t38 daemon[" << pid << "] successfully started\n";
  Write(std::clog, started);
  return new T38SoftSlot(pid, channel);  // our descriptor closes here: the child has its own
}

void T38SoftFactory::Query(LGCP::Resources& resources) { resources.set_t38_instances(instances); }

T38SoftFactory::T38SoftFactory() {
  countEvent.Bind("T38SoftFactory::OnCountInput", &T38SoftFactory::OnCountInput, this);
  countWait.Bind(this, &T38SoftFactory::OnCountEnd);
}

bool T38SoftFactory::PrepareQuery() {
  if (counting()) return false;  // the running count serves this report too
  instances = 0;
  countLine.clear();
  const auto notFound = [this] {
    std::ostringstream log;
    log << ext::header(this) << "t38 daemon not found!\n";
    Write(std::clog, log);
    return true;
  };
  const std::string program = sysroot::path(sysroot::t38);
  int ends[2] = {-1, -1};
  if (::access(program.c_str(), X_OK) != 0 || ::pipe2(ends, O_CLOEXEC) != 0) return notFound();
  Fd readEnd(ends[0]), writeEnd(ends[1]);
  std::string option = "--num-of-instances";
  char* const argv[] = {const_cast<char*>(sysroot::t38), &option[0], nullptr};
  const int out = writeEnd.get();
  const pid_t pid = ChildProcess::Fork();
  if (pid == 0) {
    if (::dup2(out, STDOUT_FILENO) < 0) ::_exit(127);
    ::execv(program.c_str(), argv);
    ::_exit(127);
  }
  if (pid < 0) return notFound();
  countPid = pid;
  countWait.Attach(pid);
  readEnd.NonBlock();
  countPipe = std::move(readEnd);
  countEvent.Schedule(countPipe, POLLIN);
  countTimer.set(count_ms, &T38SoftFactory::OnCountTimeout, this);
  return false;
}

void T38SoftFactory::OnCountInput(int fd, short revents) {
  char buf[64];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && !(revents & (POLLHUP | POLLERR))) return;
    if (n <= 0) break;  // the end of the program's output
    countLine.append(buf, static_cast<std::size_t>(n));
    // One line of at most 32 octets is all the count is.
    if (countLine.find('\n') != std::string::npos || countLine.size() >= 32) break;
  }
  Counted(false);
}

void T38SoftFactory::OnCountEnd(int) {
  countPid = -1;
  // Its output is whole now: what the pipe holds is read before it goes.
  if (countPipe.valid()) OnCountInput(countPipe.get(), POLLIN | POLLHUP);
}

void T38SoftFactory::OnCountTimeout() {
  // An end already reaped, with its line, counts.
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Drain();
  if (counting()) Counted(true);
}

void T38SoftFactory::Counted(bool late) {
  countTimer.reset();
  countEvent.Release();
  countPipe.close();
  std::ostringstream log;
  log << ext::header(this);
  if (late) {
    instances = 0;
    log << "t38: can't detect T38 resources: no answer within " << count_ms << " ms, killed\n";
    Write(std::clog, log);
  } else if (countLine.empty()) {
    instances = 0;
    log << "t38: can't detect T38 resources\n";
    Write(std::clog, log);
  } else {
    instances = static_cast<int>(std::strtol(countLine.substr(0, 32).c_str(), nullptr, 10));
  }
  countLine.clear();
  if (countPid != -1) {
    // A late one is killed now; one that has answered gets its time to end.
    const bool ended = countWait.ended();
    countWait.Detach();
    ChildProcess::Abandon(countPid, late ? SIGKILL : 0, count_ms, "t38 --num-of-instances", ended);
    countPid = -1;
  }
  Slots::instance().OnQueryReady();
}
