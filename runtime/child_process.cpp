#include "runtime/child_process.h"

#include <errno.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iostream>
#include <list>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "runtime/child_wait.h"
#include "runtime/process_tree.h"
#include "runtime/timer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Per program, the processes it started that were found outside its group
// when it was signalled.
std::map<pid_t, std::vector<process_tree::Process>>& outsiders() {
  static std::map<pid_t, std::vector<process_tree::Process>> known;
  return known;
}

// What is left of the program now: its group and descendants, and the
// remembered outsiders still alive with theirs.
std::vector<process_tree::Process> remains(pid_t pid, bool ended) {
  const std::vector<process_tree::Process> processes = process_tree::all();
  std::vector<process_tree::Process> tree = process_tree::of(pid, ended, processes);
  const auto it = outsiders().find(pid);
  if (it == outsiders().end()) return tree;
  const auto listed = [&](pid_t p) {
    return std::any_of(tree.begin(), tree.end(), [p](const process_tree::Process& t) { return t.pid == p; });
  };
  for (const process_tree::Process& o : it->second) {
    const auto now = std::find_if(processes.begin(), processes.end(),
                                  [&](const process_tree::Process& p) { return p.pid == o.pid; });
    if (now == processes.end() || now->start != o.start || listed(o.pid)) continue;
    std::size_t from = tree.size();
    tree.push_back(*now);
    for (; from < tree.size(); ++from)
      for (const process_tree::Process& p : processes)
        if (p.ppid == tree[from].pid && !listed(p.pid)) tree.push_back(p);
  }
  return tree;
}

// One abandoned program: watched until its end, killed at the deadline
// with what it started.
class Orphan {
 public:
  Orphan(pid_t pid, unsigned grace_ms, const std::string& what, bool ended);
  Orphan(const Orphan&) = delete;
  Orphan& operator=(const Orphan&) = delete;

  void OnDeadline();
  bool due() const { return Clock::now() >= due_; }

 private:
  void OnEnd(int status);

  const pid_t pid_;
  const std::string what_;
  // Tells this one from a later one at the same address.
  const unsigned long serial_;
  bool ended_;
  const Clock::time_point due_;
  ChildWait wait_;
  Timer deadline_;
};

std::list<std::unique_ptr<Orphan>>& orphans() {
  static std::list<std::unique_ptr<Orphan>> list;
  return list;
}

unsigned long serials = 0;

void forget(const Orphan* orphan, pid_t pid) {
  outsiders().erase(pid);
  orphans().remove_if([orphan](const std::unique_ptr<Orphan>& o) { return o.get() == orphan; });
}

Orphan::Orphan(pid_t pid, unsigned grace_ms, const std::string& what, bool ended)
    : pid_(pid),
      what_(what),
      serial_(++serials),
      ended_(ended),
      due_(Clock::now() + std::chrono::milliseconds(grace_ms)) {
  wait_.Bind(this, &Orphan::OnEnd);
  if (!ended) wait_.Attach(pid);
  deadline_.set(grace_ms, &Orphan::OnDeadline, this);
}

void Orphan::OnEnd(int) {
  ended_ = true;
  // What it started may still run: that waits for the deadline.
  if (remains(pid_, true).empty()) forget(this, pid_);
}

void Orphan::OnDeadline() {
  // An end already reaped but not yet read would leave the pid free for
  // another process: read the pending ends first. One of them may be this
  // child's, which may delete this object.
  const unsigned long serial = serial_;
  const Orphan* self = this;
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Drain();
  bool alive = false;
  for (const auto& o : orphans())
    if (o.get() == self && o->serial_ == serial) alive = true;
  if (!alive) return;
  const pid_t pid = pid_;
  if (!ended_ && !wait_.attached()) {
    // The child watch has gone (the process is ending): whether the pid
    // is still this child's cannot be told, so it is left alone.
    forget(this, pid);
    return;
  }
  std::ostringstream line;
  if (!ended_) {
    line << what_ << "[" << pid << "] isn't terminated, killing ...\n";
  } else {
    const std::size_t left = remains(pid, true).size();
    if (left == 0) return forget(this, pid);
    line << what_ << "[" << pid << "]: " << left << " of the processes it started "
         << (left == 1 ? "isn't" : "aren't") << " terminated, killing ...\n";
  }
  std::cerr << line.str() << std::flush;
  // SIGKILL cannot be refused: its end is reaped without anyone waiting.
  ChildProcess::Signal(pid, SIGKILL, ended_);
  forget(this, pid);
}

}  // namespace

pid_t ChildProcess::Fork() {
  sigset_t all, before;
  ::sigfillset(&all);
  ::sigprocmask(SIG_BLOCK, &all, &before);
  const pid_t pid = ::fork();
  if (pid != 0) {
    const int err = errno;
    // Also here: a stop sent before the child has got this far reaches
    // the group all the same.
    if (pid > 0) {
      ::setpgid(pid, pid);
      outsiders().erase(pid);
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    errno = err;
    return pid;
  }
  // Only async-signal-safe calls from here on.
  ::setpgid(0, 0);
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

void ChildProcess::Signal(pid_t pid, int sig, bool ended) {
  if (pid < 1) return;
  // A program not yet seen to end is this daemon's child: its group is
  // its own. It is held still while its processes are read, so that
  // nothing it starts meanwhile escapes the signal.
  if (!ended) ::kill(-pid, SIGSTOP);
  const std::vector<process_tree::Process> tree = remains(pid, ended);
  if (sig == SIGKILL) {
    outsiders().erase(pid);
  } else {
    std::vector<process_tree::Process>& known = outsiders()[pid];
    for (const process_tree::Process& p : tree)
      if (p.pgid != pid && std::none_of(known.begin(), known.end(), [&](const process_tree::Process& k) {
            return k.pid == p.pid && k.start == p.start;
          }))
        known.push_back(p);
  }
  // A program not yet seen to end is this daemon's child: its pid is its
  // own, whatever /proc said a moment ago.
  if (!ended && std::none_of(tree.begin(), tree.end(), [pid](const process_tree::Process& p) { return p.pid == pid; }))
    ::kill(pid, sig);
  process_tree::signal(pid, ended, tree, sig);
  if (!ended) ::kill(-pid, SIGCONT);
}

void ChildProcess::Abandon(pid_t pid, int sig, unsigned grace_ms, const std::string& what, bool ended) {
  if (pid < 1) return;
  if (ended && remains(pid, true).empty()) {
    outsiders().erase(pid);
    return;
  }
  // Watched before it is told to stop, so its end cannot be missed.
  orphans().push_back(std::make_unique<Orphan>(pid, grace_ms, what, ended));
  if (sig != 0) Signal(pid, sig, ended);
}

std::size_t ChildProcess::abandoned() { return orphans().size(); }

void ChildProcess::Settle() {
  while (!orphans().empty()) {
    if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Drain();
    const auto due = std::find_if(orphans().begin(), orphans().end(),
                                  [](const std::unique_ptr<Orphan>& o) { return o->due(); });
    if (due != orphans().end()) {
      (*due)->OnDeadline();
      continue;
    }
    if (orphans().empty()) break;
    struct timespec step = {0, 20 * 1000 * 1000};
    ::nanosleep(&step, nullptr);
  }
}
