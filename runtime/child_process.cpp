#include "runtime/child_process.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <list>
#include <memory>
#include <sstream>

#include "runtime/child_wait.h"
#include "runtime/timer.h"

namespace {

// One abandoned child: watched until its end, killed at the deadline.
class Orphan {
 public:
  Orphan(pid_t pid, unsigned grace_ms, const std::string& what);
  Orphan(const Orphan&) = delete;
  Orphan& operator=(const Orphan&) = delete;

 private:
  void OnEnd(int status);
  void OnDeadline();

  const pid_t pid_;
  const std::string what_;
  // Tells this one from a later one at the same address.
  const unsigned long serial_;
  ChildWait wait_;
  Timer deadline_;
};

std::list<std::unique_ptr<Orphan>>& orphans() {
  static std::list<std::unique_ptr<Orphan>> list;
  return list;
}

unsigned long serials = 0;

void forget(const Orphan* orphan) {
  orphans().remove_if([orphan](const std::unique_ptr<Orphan>& o) { return o.get() == orphan; });
}

Orphan::Orphan(pid_t pid, unsigned grace_ms, const std::string& what) : pid_(pid), what_(what), serial_(++serials) {
  wait_.Bind(this, &Orphan::OnEnd);
  wait_.Attach(pid);
  deadline_.set(grace_ms, &Orphan::OnDeadline, this);
}

void Orphan::OnEnd(int) { forget(this); }

void Orphan::OnDeadline() {
  // An end already reaped but not yet read would leave the pid free for
  // another process: read the pending ends first. One of them may be this
  // child's, which deletes this object.
  const unsigned long serial = serial_;
  const Orphan* self = this;
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Drain();
  bool alive = false;
  for (const auto& o : orphans())
    if (o.get() == self && o->serial_ == serial) alive = true;
  if (!alive) return;
  if (!wait_.attached()) {
    // The child watch has gone (the process is ending): whether the pid
    // is still this child's cannot be told, so it is left alone.
    forget(this);
    return;
  }
  std::ostringstream line;
  line << what_ << "[" << pid_ << "] isn't terminated, killing ...\n";
  std::cerr << line.str() << std::flush;
  ::kill(pid_, SIGKILL);
  // SIGKILL cannot be refused: its end is reaped without anyone waiting.
  forget(this);
}

}  // namespace

pid_t ChildProcess::Fork() {
  sigset_t all, before;
  ::sigfillset(&all);
  ::sigprocmask(SIG_BLOCK, &all, &before);
  const pid_t pid = ::fork();
  if (pid != 0) {
    const int err = errno;
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    errno = err;
    return pid;
  }
  // Only async-signal-safe calls from here on.
  for (int sig = 1; sig < _NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    struct sigaction now;
    if (::sigaction(sig, nullptr, &now) != 0) continue;
    if (now.sa_handler == SIG_DFL || now.sa_handler == SIG_IGN) continue;
    struct sigaction initial;
    std::memset(&initial, 0, sizeof initial);
    initial.sa_handler = SIG_DFL;
    ::sigemptyset(&initial.sa_mask);
    ::sigaction(sig, &initial, nullptr);
  }
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  return 0;
}

void ChildProcess::Abandon(pid_t pid, int sig, unsigned grace_ms, const std::string& what) {
  if (pid < 1) return;
  // Watched before it is told to stop, so its end cannot be missed.
  orphans().push_back(std::make_unique<Orphan>(pid, grace_ms, what));
  ::kill(pid, sig);
}

std::size_t ChildProcess::abandoned() { return orphans().size(); }
