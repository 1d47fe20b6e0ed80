#pragma once
// A process named "controller" on the host, as the monitoring service's
// controller watch looks for through the real /proc: a link of that name to
// the system's sleep program. The watch sees every process of the host, so
// tests that run one, or expect none, hold ControllerProcessLock while they
// do: two of them never meet, in a parallel run or in two suites that
// different users run at once.
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>

#include "platform/sysroot.h"
#include "tests/deadline.h"
#include "tests/machine_lock.h"
#include "tests/runtime/test_process.h"

namespace testkit {

// A test asserts held(), saying why() it is not, before it goes on.
class ControllerProcessLock : public MachineLock {
 public:
  ControllerProcessLock() : MachineLock("korvend-controller-process.lock") {}
};

// Runs "controller" (sleeping) from a link made in dir; ends it when gone,
// and with the test's process, however that ends (a test killed on its
// time-out included): one left behind would be found by every watch on
// the host for its ten minutes, and fail the tests that expect none.
// Until its exec the child bears the test program's name, and a watch that
// looks at once would not find it: the constructor returns once the
// process table names it "controller", and pid() is -1 when it has not
// within 10 s.
class ControllerProcess {
 public:
  explicit ControllerProcess(const std::string& dir) {
    const std::string sleep = onPath("sleep");
    const std::string link = dir + "/controller";
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(sleep, link, ec);
    if (ec) return;
    const pid_t parent = ::getpid();
    char* const argv[] = {const_cast<char*>(link.c_str()), const_cast<char*>("600"), nullptr};
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(1);  // the test ended before the line above
      ::execv(link.c_str(), argv);
      ::_exit(127);
    }
    if (pid_ > 0 && !(testkit::waitFor([this] { return named() || !testproc::Alive(pid_); }) && named())) stop();
  }
  ~ControllerProcess() { stop(); }
  ControllerProcess(const ControllerProcess&) = delete;
  ControllerProcess& operator=(const ControllerProcess&) = delete;

  pid_t pid() const { return pid_; }
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  // Whether the process table names the child as the watch looks for it.
  bool named() const {
    char path[64];
    std::snprintf(path, sizeof path, sysroot::proc_stat_format, static_cast<int>(pid_));
    const std::string stat = testproc::ReadFile(path);
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    return open != std::string::npos && close != std::string::npos && close > open &&
           stat.compare(open + 1, close - open - 1, "controller") == 0;
  }
  static std::string onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string d; std::getline(dirs, d, ':');) {
      const std::string candidate = d + "/" + program;
      if (!d.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return program;
  }

  pid_t pid_ = -1;
};

}  // namespace testkit
