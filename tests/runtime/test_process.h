#pragma once
// Starting and waiting for programs from tests.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sysroot.h"
#include "tests/build_paths.h"
#include "tests/deadline.h"

extern char** environ;

namespace testproc {

// The emulator the build's programs run through (the board's build), or
// null. Set and empty is none: ctest sets it so in the host's builds, over
// one the caller may have exported.
inline const char* Emulator() {
  const char* emulator = std::getenv("KORVEND_EMULATOR");
  return emulator && *emulator ? emulator : nullptr;
}

// argv as the test must run it: through the emulator in the board's build,
// where the test itself runs emulated and cannot exec a PowerPC program.
inline std::vector<std::string> Emulated(std::vector<std::string> argv) {
  if (const char* emulator = Emulator()) argv.insert(argv.begin(), emulator);
  return argv;
}

// The command that starts one of the build's programs, given by its path in
// the build tree ("tests/runtime/log_probe").
inline std::vector<std::string> BuildProgram(const std::string& relPath) {
  return Emulated({testkit::buildDir() + "/" + relPath});
}

// argv with more arguments after it.
inline std::vector<std::string> With(std::vector<std::string> argv, const std::vector<std::string>& more) {
  argv.insert(argv.end(), more.begin(), more.end());
  return argv;
}

// The test's environment with the given "NAME=value" entries in it, each
// in place of an inherited one of the same name: a variable the caller
// exported (KORVEND_ROOT, say) must not stand before the test's own, which
// getenv would not see.
inline std::vector<std::string> Environment(const std::vector<std::string>& env) {
  auto name = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> out;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    bool replaced = false;
    for (const std::string& mine : env) replaced = replaced || name(mine) == name(entry);
    if (!replaced) out.push_back(entry);
  }
  out.insert(out.end(), env.begin(), env.end());
  return out;
}

// Starts argv with extra "NAME=value" entries in its environment (each in
// place of an inherited one of that name) and its output sent to the given
// files ("" keeps the test's own). Returns the process id, or -1.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                   const std::string& out = "", const std::string& err = "") {
  const std::vector<std::string> envStore = Environment(env);
  std::vector<char*> a, en;
  for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (const std::string& s : envStore) en.push_back(const_cast<char*>(s.c_str()));
  en.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (!out.empty()) posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!err.empty()) posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, a[0], &fa, nullptr, a.data(), en.data());
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

// The wait status of a child, or -1 when it did not end within timeoutMs
// (or pid names no child: below 1, waitpid would take any).
inline int WaitExit(pid_t pid, int timeoutMs = 10000) {
  if (pid <= 0) return -1;
  int status = 0;
  pid_t r = 0;
  testkit::until([&] { return (r = ::waitpid(pid, &status, WNOHANG)) != 0; }, std::chrono::milliseconds(timeoutMs),
                 [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); });
  return r == pid ? status : -1;
}

// WaitExit, and a child that has not ended by then is killed and reaped:
// nothing is left of it however the test goes on.
inline int Finish(pid_t pid, int timeoutMs = 10000) {
  const int status = WaitExit(pid, timeoutMs);
  if (status == -1 && pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
  return status;
}

// Polls until pred() holds or timeoutMs passes.
template <class Pred>
bool WaitFor(Pred pred, int timeoutMs = 10000) {
  return testkit::waitFor(pred, std::chrono::milliseconds(timeoutMs));
}

inline std::string ReadFile(const std::string& path);

// True while a process (not necessarily a child) runs; a zombie that its
// adoptive parent has not reaped yet counts as ended.
inline bool Alive(pid_t pid) {
  if (pid <= 0 || ::kill(pid, 0) != 0) return false;
  char stat[64];
  std::snprintf(stat, sizeof stat, sysroot::proc_stat_format, static_cast<int>(pid));
  const std::string text = ReadFile(stat);
  const size_t close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace testproc
