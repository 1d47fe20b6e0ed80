#pragma once
// A process named "controller" on the host, as the monitoring service's
// controller watch looks for through the real /proc: a link of that name to
// the system's sleep program. The watch sees every process of the host, so
// tests that run one, or expect none, hold ControllerProcessLock while they
// do: two of them never meet in a parallel run.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>

#include "tests/runtime/test_process.h"

namespace testkit {

class ControllerProcessLock {
 public:
  ControllerProcessLock() {
    const std::string path = (std::filesystem::temp_directory_path() / "korvend-controller-process.lock").string();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~ControllerProcessLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  ControllerProcessLock(const ControllerProcessLock&) = delete;
  ControllerProcessLock& operator=(const ControllerProcessLock&) = delete;

 private:
  int fd_ = -1;
};

// Runs "controller" (sleeping) from a link made in dir; ends it when gone,
// and with the test's process, however that ends (a test killed on its
// time-out included): one left behind would be found by every watch on
// the host for its ten minutes, and fail the tests that expect none.
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
    if (pid_ != 0) return;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);  // the test ended before the line above
    ::execv(link.c_str(), argv);
    ::_exit(127);
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
