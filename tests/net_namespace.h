#pragma once
// Runs a piece of a test in a child process inside fresh network and
// host-name namespaces, set up by `ip -batch`, so that interfaces and
// addresses are the test's own. Needs root; the caller skips otherwise.
// The reasons a skip gives say their kind (tests/skip_reason.h).
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "tests/machine_lock.h"
#include "tests/skip_reason.h"

namespace testkit {

// The link type for plain test interfaces: dummy, or a bridge without
// ports where the kernel has no dummy driver (as in some containers).
inline std::string linkType() {
  if (std::system("ip link add kvprobe type dummy >/dev/null 2>&1") == 0) {
    if (std::system("ip link del kvprobe >/dev/null 2>&1") != 0) return "none";
    return "dummy";
  }
  return "bridge";
}

// Runs body in the child after ipBatch (TYPE standing for linkType()) has
// set up the namespaces; returns what body returned. skip is set, with the
// reason, when no namespace could be made.
inline std::string inFreshNamespaces(const std::string& ipBatch, const std::function<std::string()>& body,
                                     std::string& skip) {
  int p[2];
  if (::pipe(p) != 0) return std::string("could not make a pipe: ") + ::strerror(errno);
  const pid_t pid = ::fork();
  if (pid < 0) {
    // A failure, not a skip: what the body would have said is this.
    const std::string why = std::string("could not fork: ") + ::strerror(errno);
    ::close(p[0]);
    ::close(p[1]);
    return why;
  }
  if (pid == 0) {
    ::close(p[0]);
    std::string out;
    if (::unshare(CLONE_NEWNET | CLONE_NEWUTS) != 0) {
      out = "SKIP " + refused(std::string("unshare: ") + ::strerror(errno));
    } else {
      std::string batch = ipBatch;
      const std::string type = linkType();
      for (std::size_t at; (at = batch.find("TYPE")) != std::string::npos;) batch.replace(at, 4, type);
      FILE* ip = ::popen("ip -batch - 2>&1 >/dev/null", "w");
      if (ip) ::fputs(batch.c_str(), ip);
      const int st = ip ? ::pclose(ip) : -1;
      if (st == 0)
        out = body();
      else if (WIFEXITED(st) && WEXITSTATUS(st) == 127)
        out = "SKIP " + missing("ip (iproute2)");
      else
        out = "SKIP " + refused("ip -batch failed in the namespace");
    }
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t n = ::write(p[1], out.data() + done, out.size() - done);
      if (n <= 0) ::_exit(1);
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(p[1]);
  std::string out;
  char buf[512];
  ssize_t n;
  while ((n = ::read(p[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  ::close(p[0]);
  ::waitpid(pid, nullptr, 0);
  if (out.rfind("SKIP ", 0) == 0) skip = out.substr(5);
  return out;
}

// Whether this process has entered a network namespace of its own: the
// fixed ports it and its daemons bind are then its own.
inline bool& ownNetwork() {
  static bool own = false;
  return own;
}

// Moves the calling process (a test program: ctest runs one case a
// process) into a network namespace of its own with its loopback up, so
// that it and the daemons it starts may bind fixed ports. Empty when done,
// else why not (it needs root).
inline std::string enterFreshNetNamespace() {
  if (::unshare(CLONE_NEWNET) != 0) return std::string("unshare: ") + ::strerror(errno);
  if (std::system("ip link set lo up") != 0) return "ip link set lo up failed";
  ownNetwork() = true;
  return "";
}

// The fixed addresses a daemon binds (the modem authentication server's
// 127.0.0.1:52000, a fixed controller port), held by a process that starts
// a daemon outside a network namespace of its own from before the daemon
// starts until it has gone: no two daemons of any suite on the machine
// meet there, they take turns. A process in a namespace of its own holds
// nothing, and its daemons run beside the others'. Taken once per process,
// however many daemons it runs at a time.
class FixedPortsTurn {
 public:
  FixedPortsTurn() : counted_(!ownNetwork()) {
    if (counted_ && holders()++ == 0) lock() = std::make_unique<MachineLock>("korvend-fixed-ports.lock");
  }
  ~FixedPortsTurn() {
    if (counted_ && --holders() == 0) lock().reset();
  }
  FixedPortsTurn(const FixedPortsTurn&) = delete;
  FixedPortsTurn& operator=(const FixedPortsTurn&) = delete;

  bool held() const { return !counted_ || lock()->held(); }
  std::string why() const { return counted_ ? lock()->why() : std::string(); }

 private:
  static int& holders() {
    static int n = 0;
    return n;
  }
  static std::unique_ptr<MachineLock>& lock() {
    static std::unique_ptr<MachineLock> held;
    return held;
  }
  bool counted_;
};

}  // namespace testkit
