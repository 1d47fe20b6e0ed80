#pragma once
// Starts the real korvend-sim under a fresh root of its own and watches it
// from outside, as an operator would: its standard streams, its files under
// the root, its exit.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "tests/build_paths.h"
#include "tests/e2e/process_scan.h"
#include "tests/loopback_client.h"
#include "tests/net_namespace.h"
#include "tests/runtime/test_process.h"
#include "tests/skip_reason.h"
#include "tests/temp_root.h"

namespace e2e {

using testkit::buildDir;
using testkit::sourceDir;

inline std::string simBinary() { return buildDir() + "/runtime/main/korvend-sim"; }
inline std::string boardBinary() { return buildDir() + "/runtime/main/korvend"; }

using testkit::count;
using testkit::freePort;
using testkit::waitFor;

inline std::string readFile(const std::string& path) { return testproc::ReadFile(path); }

inline bool exists(const std::string& path) { return std::filesystem::exists(path); }

// A process's resident memory in KiB, -1 when it cannot be read.
inline long residentKiB(pid_t pid) {
  std::ifstream status(std::string(sysroot::proc_dir) + "/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// A fresh root with what the board has before the daemon runs: the run and
// log directories and the watchdog device (a plain file).
class Root : public TempRoot {
 public:
  Root() {
    make_parent(std::string(sysroot::run_dir) + "server.pid");
    make_parent(sysroot::status_dump);
    make_parent(sysroot::watchdog);
    std::ofstream(path(sysroot::watchdog)).flush();
  }
};

// The command line that starts a program of the build (through the
// emulator in the board's build).
inline std::vector<std::string> programArgv(const std::string& binary, const std::vector<std::string>& args) {
  return testproc::Emulated(testproc::With({binary}, args));
}

// One run of a daemon binary; killed at destruction if still running.
// Outside a network namespace of its own it waits for its turn on the
// fixed ports first, and holds it until the daemon has gone; one that
// cannot get its turn is not started, and says why on its error stream.
class Daemon {
 public:
  Daemon(const std::string& binary, const std::string& root, const std::vector<std::string>& args,
         const std::string& logDir)
      : Daemon(programArgv(binary, args), root, logDir) {}
  // Runs argv as given (the first word looked up on PATH), for a wrapper
  // that ends by exec'ing the daemon, so the process keeps its pid. An empty
  // root runs it without one.
  Daemon(const std::vector<std::string>& argv, const std::string& root, const std::string& logDir)
      : out_(logDir + "/daemon.out"), err_(logDir + "/daemon.err"), root_(root) {
    const std::vector<std::string> env =
        root.empty() ? std::vector<std::string>{"env", "-u", "KORVEND_ROOT"}
                     : std::vector<std::string>{"env", "KORVEND_ROOT=" + root};
    if (!turn_.held()) {
      std::ofstream(err_) << "not started, the fixed ports not taken: " << turn_.why() << "\n";
      return;
    }
    pid_ = testproc::Spawn(testproc::With(env, argv), {}, out_, err_);
  }
  // A daemon still running is killed, and so is what its programs left
  // under its root, which would otherwise outlive the test (a test starts
  // the next daemon under a root only once the one before has gone).
  ~Daemon() {
    if (!running()) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    if (!root_.empty()) endNow(withEnvironment("KORVEND_ROOT=" + root_));
  }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0 && !exited_; }
  // Only until it has been waited for: its pid may be another's then.
  void signal(int sig) const {
    if (running()) ::kill(pid_, sig);
  }
  std::string out() const { return readFile(out_); }
  std::string err() const { return readFile(err_); }

  // The wait status, or -1 when it has not ended within the deadline.
  int wait(std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    if (exited_) return status_;
    if (pid_ <= 0) return -1;  // never started: waitpid would take any child
    waitFor(
        [this] {
          int st;
          if (::waitpid(pid_, &st, WNOHANG) == pid_) {
            exited_ = true;
            status_ = st;
          }
          return exited_;
        },
        deadline);
    return exited_ ? status_ : -1;
  }
  // Exit code of a normal exit, -1 otherwise.
  int exitCode(std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    int st = wait(deadline);
    return (st != -1 && WIFEXITED(st)) ? WEXITSTATUS(st) : -1;
  }

 private:
  testkit::FixedPortsTurn turn_;
  std::string out_, err_, root_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = 0;
};

// A shell command's exit code (-1 when it did not exit) and what it
// printed on both streams.
struct Ran {
  int status;
  std::string out;
};

inline Ran run(const std::string& command) {
  Ran r{-1, ""};
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[1024];
  while (std::fgets(buf, sizeof buf, p)) r.out += buf;
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// The command line of lgcpctl (through the emulator in the board's build).
inline std::string lgcpctlCommand(const std::string& args) {
  const char* emulator = testproc::Emulator();
  const std::string prefix = emulator ? std::string(emulator) + " " : std::string();
  return prefix + buildDir() + "/tools/lgcpctl/lgcpctl " + args;
}

inline Ran simboardctl(const std::string& root, const std::string& request) {
  return run(sourceDir() + "/tools/simboardctl --root " + root + " " + request);
}

// Asks for status dumps until a complete one holds `row`, and returns it
// (empty if none did). A dump taken in the loop's first pass, before its
// first poll, has no handler in its table yet. A dump written before the
// call is not the one asked for: a line after its end keeps it from
// passing for complete, and a dump written afresh replaces it.
inline std::string statusDumpWith(const Daemon& d, const std::string& path, const std::string& row) {
  const std::string end = "+\n\n\n";
  if (exists(path)) std::ofstream(path, std::ios::app) << "(written before the request)\n";
  std::string text;
  const bool found = waitFor([&] {
    text = readFile(path);
    const bool complete = text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    if (complete && text.find(row) != std::string::npos) return true;
    d.signal(SIGUSR2);
    return false;
  });
  return found ? text : std::string();
}

// The usage text, as the daemon prints it (followed by an empty line).
inline const char* usageText() {
  return "Usage:\n"
         " korvend -Dh\n"
         "  -D --daemon                      run as daemon\n"
         "  -p --port                        use this port\n"
         "     --disable-clock               disable clock control\n"
         "     --version                     print version\n"
         "  -h --help                        display this information\n"
         "\n";
}

}  // namespace e2e
