#pragma once
// A pid namespace of a test's own, where pids are small and a test can
// hand a chosen one to a process of its making, or to whatever process is
// made next: to show that a daemon under test signals nothing that merely
// took over a number of its programs, and takes a new program of its own
// under such a number for what it is. The test process stays outside (it keeps its threads and
// sees the host's /proc); what it starts inside `in()` lands in the
// namespace, whose first process only adopts and reaps orphans (or is
// the daemon itself, for a test of a daemon as the first process). Needs
// root; why() says why there is none.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sysroot.h"

namespace testkit {

class PidNamespace {
 public:
  // first: the namespace gets no first process of its own; the next
  // process the test starts, in in(), is, and the namespace lasts only as
  // long as that one. Until then, this thread's children go there.
  explicit PidNamespace(bool first = false) : first_(first) {
    host_ = ::open(proc("self/ns/pid").c_str(), O_RDONLY | O_CLOEXEC);
    if (host_ < 0 || ::unshare(CLONE_NEWPID) != 0) {
      why_ = std::string("unshare: ") + ::strerror(errno);
      return;
    }
    if (first) return;
    init_ = ::fork();
    if (init_ == 0) {
      // Orphans of the namespace come here and are reaped at once; with
      // this process the kernel ends everything in the namespace.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::signal(SIGCHLD, SIG_IGN);
      for (;;) ::pause();
    }
    const std::string own = proc(std::to_string(init_) + "/ns/pid");
    ns_ = init_ > 0 ? ::open(own.c_str(), O_RDONLY | O_CLOEXEC) : -1;
    // Back to the host's for everything else the test starts (threads
    // cannot be made otherwise).
    if (::setns(host_, CLONE_NEWPID) != 0 || ns_ < 0) why_ = std::string("no namespace made: ") + ::strerror(errno);
    named();
  }
  ~PidNamespace() {
    if (init_ > 0) {
      ::kill(init_, SIGKILL);
      ::waitpid(init_, nullptr, 0);
    }
    if (ns_ >= 0) ::close(ns_);
    if (host_ >= 0) ::close(host_);
  }
  PidNamespace(const PidNamespace&) = delete;
  PidNamespace& operator=(const PidNamespace&) = delete;

  const std::string& why() const { return why_; }

  // Calls start with the processes it starts landing in the namespace.
  template <class Start>
  auto in(Start&& start) {
    struct Back {
      PidNamespace& ns;
      ~Back() {
        // The kernel names a namespace of no process yet to no one.
        if (ns.ns_ < 0 && ns.first_) {
          ns.ns_ = ::open(proc("self/ns/pid_for_children").c_str(), O_RDONLY | O_CLOEXEC);
          ns.named();
        }
        ::setns(ns.host_, CLONE_NEWPID);
      }
    } back{*this};
    if (ns_ >= 0) ::setns(ns_, CLONE_NEWPID);
    return start();
  }

  // argv run with the namespace's /proc mounted in a mount namespace of
  // its own, under the same pid: what reads /proc there sees the
  // namespace's pids, as its own are.
  static std::vector<std::string> withOwnProc(const std::vector<std::string>& argv) {
    std::vector<std::string> out{"unshare", "-m", "sh", "-c", "mount -t proc proc /proc && exec \"$0\" \"$@\""};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
  }

  // The pid the test sees for the namespace's process nsPid; -1 for none.
  pid_t hostPid(pid_t nsPid) const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(sysroot::proc_dir, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream status(entry.path() / "status");
      for (std::string line; std::getline(status, line);) {
        if (line.rfind("NSpid:", 0) != 0) continue;
        std::istringstream fields(line.substr(6));
        pid_t host = 0, inner = 0;
        if (fields >> host >> inner && inner == nsPid &&
            std::filesystem::read_symlink(entry.path() / "ns" / "pid", ec).string() == inode_)
          return host;
        break;
      }
    }
    return -1;
  }

  // A process of the namespace under pid nsPid that writes to the file
  // notes the number of every SIGTERM, SIGHUP and SIGCONT it gets, one a
  // line. group: instead, a process whose group and session have that
  // id, with no process under the pid, as a daemon detached the usual way
  // (fork, setsid, fork, the middle one exits) leads. Its pid as the test
  // sees it; -1 when the pid could not be had.
  pid_t impostor(pid_t nsPid, bool group, const std::string& notes) {
    int ready[2];
    if (nsPid < 2 || ::pipe(ready) != 0) return -1;
    nextTick();
    const int out = ::open(notes.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const std::string lastPid = proc("sys/kernel/ns_last_pid");
    const pid_t first = in([&] { return out >= 0 ? ::fork() : -1; });
    if (first == 0) {
      ::close(ready[0]);
      if (!handOut(lastPid.c_str(), nsPid)) ::_exit(1);
      const pid_t taker = ::fork();
      if (taker != 0) ::_exit(0);
      if (::getpid() != nsPid) ::_exit(2);
      if (group) {
        ::setsid();
        if (::fork() != 0) ::_exit(0);
      }
      noter(out, ready[1]);
    }
    ::close(ready[1]);
    if (out >= 0) ::close(out);
    if (first > 0) ::waitpid(first, nullptr, 0);
    pid_t inner = -1;
    pollfd p{ready[0], POLLIN, 0};
    if (first > 0 && ::poll(&p, 1, 10000) == 1 && ::read(ready[0], &inner, sizeof inner) != sizeof inner) inner = -1;
    ::close(ready[0]);
    return inner > 0 ? hostPid(inner) : -1;
  }

  // The next process made in the namespace (by anyone) gets pid nsPid,
  // if it is free then.
  bool handNext(pid_t nsPid) {
    nextTick();
    const std::string lastPid = proc("sys/kernel/ns_last_pid");
    const pid_t writer = in([] { return ::fork(); });
    if (writer == 0) ::_exit(handOut(lastPid.c_str(), nsPid) ? 0 : 1);
    int status = -1;
    return writer > 0 && ::waitpid(writer, &status, 0) == writer && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  void named() {
    struct stat st;
    if (ns_ >= 0 && ::fstat(ns_, &st) == 0) inode_ = "pid:[" + std::to_string(st.st_ino) + "]";
  }
  static std::string proc(const std::string& rest) { return std::string(sysroot::proc_dir) + "/" + rest; }
  // Returns once the clock has moved on to its next tick. A process is
  // told from a later one under its pid by its start time, in ticks: one
  // handed the pid of a process that started in the same tick would pass
  // for it (to the daemon as to the tests), which no pid that comes round
  // again by itself can do.
  static void nextTick() {
    const long hz = ::sysconf(_SC_CLK_TCK);
    const auto tick = [hz] {
      timespec t;
      ::clock_gettime(CLOCK_BOOTTIME, &t);
      return static_cast<long long>(t.tv_sec) * hz + t.tv_nsec / (1000000000L / hz);
    };
    for (const long long now = tick(); tick() == now;) ::usleep(1000);
  }
  // In a process of the namespace (the counter is the writer's own
  // namespace's): the next pid handed out is one more than the last.
  static bool handOut(const char* lastPid, pid_t nsPid) {
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%d", nsPid - 1);
    const int last = ::open(lastPid, O_WRONLY);
    const bool written = last >= 0 && ::write(last, text, static_cast<std::size_t>(n)) == n;
    if (last >= 0) ::close(last);
    return written;
  }
  [[noreturn]] static void noter(int notes, int ready) {
    static int fd;
    fd = notes;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = [](int sig) {
      char line[8];
      const int n = std::snprintf(line, sizeof line, "%d\n", sig);
      if (::write(fd, line, static_cast<std::size_t>(n)) < 0) {
      }
    };
    for (int sig : {SIGTERM, SIGHUP, SIGCONT}) ::sigaction(sig, &sa, nullptr);
    const pid_t me = ::getpid();
    if (::write(ready, &me, sizeof me) != sizeof me) ::_exit(3);
    ::close(ready);
    for (;;) ::pause();
  }

  bool first_;
  int host_ = -1;
  int ns_ = -1;
  pid_t init_ = -1;
  std::string inode_;
  std::string why_;
};

}  // namespace testkit
