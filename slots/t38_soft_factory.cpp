#include "slots/t38_soft_factory.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

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
#include "slots/t38_soft_slot.h"

namespace {

// One write per report: the log streams may be unbuffered.
void Write(std::ostream& stream, const std::ostringstream& text) { stream << text.str() << std::flush; }

// The text as one word of a shell command.
std::string ShellWord(const std::string& text) {
  std::string word = "'";
  for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

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

void T38SoftFactory::Query(LGCP::Resources& resources) { resources.set_t38_instances(QueryNumOfInstances()); }

int T38SoftFactory::QueryNumOfInstances() {
  std::ostringstream log;
  log << ext::header(this);
  const std::string program = sysroot::path(sysroot::t38);
  FILE* pipe = nullptr;
  if (::access(program.c_str(), X_OK) == 0) pipe = ::popen((ShellWord(program) + " --num-of-instances").c_str(), "re");
  if (!pipe) {
    log << "t38 daemon not found!\n";
    Write(std::clog, log);
    return 0;
  }
  char line[33];
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  ::pclose(pipe);
  if (!got) {
    log << "t38: can't detect T38 resources\n";
    Write(std::clog, log);
    return 0;
  }
  return static_cast<int>(std::strtol(line, nullptr, 10));
}
