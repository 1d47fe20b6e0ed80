#pragma once
// Runs a piece of a test in a child process inside fresh network and
// host-name namespaces, set up by `ip -batch`, so that interfaces and
// addresses are the test's own. Needs root; the caller skips otherwise.
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>

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
  if (::pipe(p) != 0) {
    skip = "no pipe";
    return "";
  }
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
      out = std::string("SKIP unshare: ") + ::strerror(errno);
    } else {
      std::string batch = ipBatch;
      const std::string type = linkType();
      for (std::size_t at; (at = batch.find("TYPE")) != std::string::npos;) batch.replace(at, 4, type);
      FILE* ip = ::popen("ip -batch - 2>&1 >/dev/null", "w");
      if (ip) ::fputs(batch.c_str(), ip);
      const int st = ip ? ::pclose(ip) : -1;
      out = (st == 0) ? body() : "SKIP ip -batch failed";
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

// Moves the calling process (a test program: ctest runs one case a
// process) into a network namespace of its own with its loopback up, so
// that it and the daemons it starts may bind fixed ports. Empty when done,
// else why not (it needs root).
inline std::string enterFreshNetNamespace() {
  if (::unshare(CLONE_NEWNET) != 0) return std::string("unshare: ") + ::strerror(errno);
  if (std::system("ip link set lo up") != 0) return "ip link set lo up failed";
  return "";
}

}  // namespace testkit
