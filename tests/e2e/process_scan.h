#pragma once
// The processes a daemon has started, read from /proc as an operator
// would: the pids whose parent is the daemon, each told apart from a later
// process under its pid.
#include <errno.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "tests/deadline.h"

namespace e2e {

// A process as a test captured it: its pid and when it started (field 22 of
// its stat file, in clock ticks after boot). The pid alone names whatever
// process holds it now: once the captured one has been reaped, the machine
// may give it to any other. Only what is still the captured process is ever
// looked at or signalled as such.
struct Process {
  pid_t pid = -1;
  unsigned long long start = 0;  // 0: no process held the pid when captured
  bool operator==(const Process& o) const { return pid == o.pid && start == o.start; }
};

namespace detail {

// What the stat file of the process under pid says now ({}: none is there).
struct Stat {
  char state = 0;
  pid_t parent = 0;
  unsigned long long start = 0;
};
inline Stat statOf(pid_t pid) {
  if (pid <= 0) return {};
  std::ifstream file(std::string(sysroot::proc_dir) + "/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(file, line)) return {};
  // "pid (comm) state ppid ...": the command may hold spaces and ')'.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(line.substr(close + 1));
  Stat out;
  std::string skipped;
  fields >> out.state >> out.parent;
  for (int field = 5; field < 22; ++field) fields >> skipped;
  if (!(fields >> out.start)) return {};
  return out;
}

}  // namespace detail

inline Process capture(pid_t pid) { return Process{pid, detail::statOf(pid).start}; }

namespace detail {

// The processes for which keep(pid, stat) holds, captured as they are found.
template <class Keep>
std::vector<Process> scan(Keep keep) {
  std::vector<Process> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(sysroot::proc_dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::atoi(name.c_str()));
    const Stat stat = statOf(pid);
    if (stat.start != 0 && keep(pid, stat)) out.push_back(Process{pid, stat.start});
  }
  return out;
}

}  // namespace detail

// The processes whose parent is `parent`, captured as they are found.
inline std::vector<Process> childrenOf(pid_t parent) {
  return detail::scan([&](pid_t, const detail::Stat& stat) { return stat.parent == parent; });
}

// Reaped: the pid no longer names the captured process, not even as a
// zombie.
inline bool gone(const Process& p) {
  const detail::Stat now = detail::statOf(p.pid);
  return p.start == 0 || now.start != p.start;
}

// Gone, or a zombie that no one has reaped yet (a program's own children
// are reaped by whoever adopts them).
inline bool ended(const Process& p) {
  const detail::Stat now = detail::statOf(p.pid);
  return p.start == 0 || now.start != p.start || now.state == 'Z' || now.state == 'X';
}

// Sends sig to p while its pid still names it; whether it was sent. The
// signal goes through a descriptor of the process opened before it is
// checked, so that it cannot reach one that took the pid in between.
inline bool kill(const Process& p, int sig) {
  if (p.start == 0) return false;
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, p.pid, 0));
  // Where the call is missing, or refused (a seccomp profile), the start
  // time is checked and kill used: a pid is then only taken between the
  // two when a whole cycle of pids has passed within that instant.
  if (fd < 0 && errno != ENOSYS && errno != EPERM) return false;
  bool sent = false;
  if (detail::statOf(p.pid).start == p.start)
    sent = (fd >= 0 ? ::syscall(SYS_pidfd_send_signal, fd, sig, nullptr, 0) : ::kill(p.pid, sig)) == 0;
  if (fd >= 0) ::close(fd);
  return sent;
}

// The processes but this one whose environment holds `entry`
// ("NAME=value"), captured as they are found: those a test started with
// it, and what they started in turn, even once they have detached.
inline std::vector<Process> withEnvironment(const std::string& entry) {
  return detail::scan([&](pid_t pid, const detail::Stat& stat) {
    if (pid == ::getpid()) return false;
    std::ifstream file(std::string(sysroot::proc_dir) + "/" + std::to_string(pid) + "/environ");
    bool holds = false;
    for (std::string e; !holds && std::getline(file, e, '\0');) holds = e == entry;
    return holds && !gone(Process{pid, stat.start});  // still the process whose environment was read
  });
}

// Whether every process of tree has ended by `by`. What is left then is
// killed, so that a failing test leaves nothing behind that ignores every
// stop.
inline bool allEndBy(const std::vector<Process>& tree, std::chrono::steady_clock::time_point by) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(by - std::chrono::steady_clock::now());
  const bool over = testkit::waitFor([&] { return std::all_of(tree.begin(), tree.end(), ended); },
                                     std::max(left, std::chrono::milliseconds(0)));
  if (!over)
    for (const Process& p : tree)
      if (!ended(p)) kill(p, SIGKILL);
  return over;
}

// Kills what is left of `processes` and waits, 2 s at most, for it to end.
inline void endNow(const std::vector<Process>& processes) {
  for (const Process& p : processes)
    if (!ended(p)) kill(p, SIGKILL);
  testkit::waitFor([&] { return std::all_of(processes.begin(), processes.end(), ended); }, std::chrono::seconds(2));
}

// Ends, when the test returns, passed or failed, what it started under a
// root of its own: the detached process it captured, and every process
// whose environment names that root (one that detached before the test
// learnt its pid, and what it started). Within 2 s nothing of it is left.
class EndOnExit {
 public:
  explicit EndOnExit(const std::string& root) : entry_("KORVEND_ROOT=" + root) {}
  ~EndOnExit() {
    std::vector<Process> left = withEnvironment(entry_);
    left.push_back(daemon);
    endNow(left);
  }
  EndOnExit(const EndOnExit&) = delete;
  EndOnExit& operator=(const EndOnExit&) = delete;

  Process daemon;

 private:
  std::string entry_;
};

}  // namespace e2e
