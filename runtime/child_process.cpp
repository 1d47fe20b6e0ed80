#include "runtime/child_process.h"

#include <errno.h>
#include <signal.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iostream>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "runtime/child_wait.h"
#include "runtime/process_tree.h"
#include "runtime/timer.h"

namespace {

using Clock = std::chrono::steady_clock;

using process_tree::Process;
using Processes = std::vector<Process>;

// Per program, the processes it started that were found outside its group
// when it was signalled.
std::map<pid_t, Processes>& outsiders() {
  static std::map<pid_t, Processes> known;
  return known;
}

// Programs started here whose end has not been read: their pids are
// theirs (at worst a zombie's) and so are their groups.
std::set<pid_t>& running() {
  static std::set<pid_t> pids;
  return pids;
}

// Per ended program, what it had left running when its end was read
// (none when it left nothing). Only these are its own afterwards: its pid
// and, once its group has emptied, the group's id are anyone's.
std::map<pid_t, Processes>& leftBehind() {
  static std::map<pid_t, Processes> known;
  return known;
}

void forgetProgram(pid_t pid) {
  outsiders().erase(pid);
  leftBehind().erase(pid);
}

bool listed(const Processes& tree, pid_t pid) {
  return std::any_of(tree.begin(), tree.end(), [pid](const Process& t) { return t.pid == pid; });
}

// Adds p to known unless it is there already as the same process.
void remember(Processes& known, const Process& p) {
  if (std::none_of(known.begin(), known.end(), [&](const Process& k) { return k.pid == p.pid && k.start == p.start; }))
    known.push_back(p);
}

// Adds to tree, from its entry `from` on, every process descended from
// one of its own, whatever group it is in, but for members of group
// `skip`.
void addDescendants(Processes& tree, std::size_t from, const Processes& processes, pid_t skip) {
  for (; from < tree.size(); ++from)
    for (const Process& p : processes)
      if (p.ppid == tree[from].pid && p.pgid != skip && !listed(tree, p.pid)) tree.push_back(p);
}

// The remembered processes that are still the same ones now, with what
// they have started since (but for members of group `skip`).
void addSurvivors(Processes& tree, const Processes& remembered, const Processes& processes, pid_t skip) {
  for (const Process& o : remembered) {
    const auto now =
        std::find_if(processes.begin(), processes.end(), [&](const Process& p) { return p.pid == o.pid; });
    if (now == processes.end() || now->start != o.start || listed(tree, o.pid)) continue;
    const std::size_t from = tree.size();
    tree.push_back(*now);
    addDescendants(tree, from, processes, skip);
  }
}

// The processes of a program that is still running (at worst a zombie not
// yet reaped): its group and descendants, and the remembered outsiders
// still alive with theirs.
Processes treeOf(pid_t pid, const Processes& processes) {
  Processes tree = process_tree::of(pid, false, processes);
  const auto it = outsiders().find(pid);
  if (it != outsiders().end()) addSurvivors(tree, it->second, processes, 0);
  return tree;
}

// Whether the daemon adopts what its programs leave (PR_SET_CHILD_SUBREAPER):
// then a process descended from it stays so until it has reaped it, and
// the daemon's descent tells its own processes from anyone else's.
bool& reaper() {
  static bool on = false;
  return on;
}

// Whether every process in group `group` descends from the daemon, and
// some does, while no process holds the pid of that id: the group is then
// what an ended program of the daemon's left, and its members started
// since (a leftover's child that outlived its parent) are that program's
// too. While the pid is held, the group is that process's.
bool ownGroup(pid_t group, const Processes& processes) {
  if (!reaper()) return false;
  std::map<pid_t, pid_t> parent;
  for (const Process& p : processes) {
    if (p.pid == group) return false;
    parent[p.pid] = p.ppid;
  }
  const pid_t self = ::getpid();
  bool any = false;
  for (const Process& p : processes) {
    if (p.pgid != group) continue;
    pid_t up = p.ppid;
    for (std::size_t steps = 0; up > 1 && up != self && steps < processes.size(); ++steps) {
      const auto it = parent.find(up);
      up = it == parent.end() ? 0 : it->second;
    }
    if (up != self) return false;
    any = true;
  }
  return any;
}

// Told of each child's end as it is read. The pid has been reaped, but no
// one has signalled by it since: what is in its group now is what the
// program left, unless the group is another session's (a group of ours
// lies in the daemon's session; an id taken anew by a detached process
// does not).
void onEnd(int pid) {
  if (running().erase(pid) == 0) return;
  Processes remembered;
  const auto it = outsiders().find(pid);
  if (it != outsiders().end()) {
    remembered = std::move(it->second);
    outsiders().erase(it);
  }
  // An empty group and no one seen leaving it: nothing can be left, and
  // /proc need not be read.
  if (remembered.empty() && ::kill(-pid, 0) != 0 && errno == ESRCH) return;
  const Processes processes = process_tree::all();
  Processes left = process_tree::of(pid, true, processes);
  if (!left.empty() && left.front().sid != ::getsid(0)) left.clear();
  addSurvivors(left, remembered, processes, 0);
  if (left.empty()) return;
  // An earlier program under the same pid may have left processes too.
  Processes& known = leftBehind()[pid];
  for (const Process& p : left) remember(known, p);
}

// What is left of an ended program now: what it left when its end was
// read and is still the same process, with what those have started since,
// and its group while one of them is still in it (while one lives, the id
// is no one else's) or while the group is the daemon's own. What has gone
// is forgotten.
Processes leftovers(pid_t pid) {
  const auto it = leftBehind().find(pid);
  if (it == leftBehind().end()) return {};
  const Processes processes = process_tree::all();
  Processes tree;
  addSurvivors(tree, it->second, processes, pid);
  const bool group = std::any_of(tree.begin(), tree.end(), [pid](const Process& p) { return p.pgid == pid; }) ||
                     ownGroup(pid, processes);
  Processes still;
  for (const Process& r : it->second)
    if (std::any_of(tree.begin(), tree.end(), [&](const Process& t) { return t.pid == r.pid && t.start == r.start; }))
      still.push_back(r);
  if (still.empty() && !group) {
    leftBehind().erase(it);
    return tree;
  }
  it->second = still;
  if (group) {
    const std::size_t from = tree.size();
    for (const Process& p : processes)
      if (p.pgid == pid && !listed(tree, p.pid)) tree.push_back(p);
    addDescendants(tree, from, processes, pid);
  }
  return tree;
}

// What is left of the program now.
Processes remains(pid_t pid, bool ended) {
  return ended ? leftovers(pid) : treeOf(pid, process_tree::all());
}

// Holds SIGCHLD while the program's fate is decided and it is signalled:
// a program whose end is not reaped keeps its pid (at worst as a zombie)
// until then. Every end already reaped is read first, so that a program
// that has ended is taken for ended whatever its owner believes.
class EndsRead {
 public:
  EndsRead() {
    sigset_t chld;
    ::sigemptyset(&chld);
    ::sigaddset(&chld, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &chld, &before_);
    if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Collect();
  }
  ~EndsRead() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }
  EndsRead(const EndsRead&) = delete;
  EndsRead& operator=(const EndsRead&) = delete;

  static bool ended(pid_t pid) { return running().count(pid) == 0; }

 private:
  sigset_t before_;
};

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
  forgetProgram(pid);
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
  // Every end already reaped is read first: the new program cannot then
  // take the pid of one whose end is still to be read, and be taken for it.
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Collect();
  const pid_t pid = ::fork();
  if (pid != 0) {
    const int err = errno;
    // Also here: a stop sent before the child has got this far reaches
    // the group all the same.
    if (pid > 0) {
      ::setpgid(pid, pid);
      outsiders().erase(pid);
      running().insert(pid);
      ChildWaitService::Listen(&onEnd);
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
  const EndsRead read;
  ended = ended || EndsRead::ended(pid);
  // A program whose end has not been read is this daemon's child: its
  // group is its own. It is held still while its processes are read, so
  // that nothing it starts meanwhile escapes the signal.
  if (!ended) ::kill(-pid, SIGSTOP);
  const Processes tree = remains(pid, ended);
  if (sig == SIGKILL) {
    forgetProgram(pid);
  } else if (!tree.empty()) {
    // Remembered, since they become init's children once their parent has
    // ended: of a running program those outside its group, of an ended one
    // every process found to be its own now.
    Processes& known = ended ? leftBehind()[pid] : outsiders()[pid];
    for (const Process& p : tree)
      if (ended || p.pgid != pid) remember(known, p);
  }
  // Its pid is its own, whatever /proc said a moment ago.
  if (!ended && !listed(tree, pid)) ::kill(pid, sig);
  process_tree::signal(pid, ended, tree, sig);
  if (!ended) ::kill(-pid, SIGCONT);
}

void ChildProcess::Abandon(pid_t pid, int sig, unsigned grace_ms, const std::string& what, bool ended) {
  if (pid < 1) return;
  const EndsRead read;
  ended = ended || EndsRead::ended(pid);
  if (ended && remains(pid, true).empty()) {
    forgetProgram(pid);
    return;
  }
  // Watched before it is told to stop, so its end cannot be missed.
  orphans().push_back(std::make_unique<Orphan>(pid, grace_ms, what, ended));
  if (sig != 0) Signal(pid, sig, ended);
}

std::size_t ChildProcess::abandoned() { return orphans().size(); }

void ChildProcess::Adopt() {
  // As the first process of its namespace every orphan there is the
  // daemon's child: descent would tell nothing.
  if (::getpid() == 1) return;
  reaper() = ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
}

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
