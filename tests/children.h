#pragma once
// Children a test forks itself. Each dies with the test process, and what
// is left of them when the test returns, passed or failed, is killed and
// reaped: a failed assertion leaves nothing running behind it.
#include <errno.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/process_scan.h"

namespace testkit {

class Children {
 public:
  Children() = default;
  ~Children() { end(); }
  Children(const Children&) = delete;
  Children& operator=(const Children&) = delete;

  // Forks a child that runs body and exits with what it returns. The child
  // is captured before anything can reap it (SIGCHLD is held meanwhile, in
  // the parent and, until body runs, in the child). A refused fork gives
  // pid -1, and why() says so.
  template <class Body>
  e2e::Process start(Body&& body) {
    const pid_t parent = ::getpid();
    sigset_t chld, before;
    ::sigemptyset(&chld);
    ::sigaddset(&chld, SIGCHLD);
    ::pthread_sigmask(SIG_BLOCK, &chld, &before);
    const pid_t pid = ::fork();
    if (pid == 0) {
      // A parent that died before this took effect is no longer the parent.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(126);
      ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
      ::_exit(body());
    }
    const int error = errno;
    e2e::Process child;
    if (pid > 0) {
      child = e2e::capture(pid);
      started_.push_back(child);
    } else {
      why_ = std::string("could not fork: ") + std::strerror(error);
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return child;
  }
  const std::string& why() const { return why_; }
  // One the test started otherwise, captured while its pid was its own.
  void hold(const e2e::Process& child) { started_.push_back(child); }

  // Kills every child still running and reaps every one still an unreaped
  // child of the test; within 2 s nothing is left of them.
  void end() {
    e2e::endNow(started_);
    for (const e2e::Process& p : started_)
      if (!e2e::gone(p)) ::waitpid(p.pid, nullptr, WNOHANG);  // still that child: its zombie
    started_.clear();
  }

 private:
  std::vector<e2e::Process> started_;
  std::string why_;
};

}  // namespace testkit
