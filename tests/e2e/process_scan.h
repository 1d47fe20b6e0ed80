#pragma once
// The processes a daemon has started, read from /proc as an operator
// would: the pids whose parent is the daemon.
#include <signal.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "tests/deadline.h"

namespace e2e {

inline std::vector<pid_t> childrenOf(pid_t parent) {
  std::vector<pid_t> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(sysroot::proc_dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (comm) state ppid ...": the command may hold spaces and ')'.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || close + 4 > line.size()) continue;
    const char* rest = line.c_str() + close + 4;  // past ") S "
    if (std::strtol(rest, nullptr, 10) == parent) out.push_back(static_cast<pid_t>(std::atoi(name.c_str())));
  }
  return out;
}

// Gone, or a zombie that no one has reaped yet (a program's own children
// are reaped by whoever adopts them).
inline bool ended(pid_t pid) {
  std::ifstream stat(std::string(sysroot::proc_dir) + "/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && (line[close + 2] == 'Z' || line[close + 2] == 'X');
}

// Whether every process of tree has ended by `by`. What is left then is
// killed, so that a failing test leaves nothing behind that ignores every
// stop.
inline bool allEndBy(const std::vector<pid_t>& tree, std::chrono::steady_clock::time_point by) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(by - std::chrono::steady_clock::now());
  const bool over = testkit::waitFor([&] { return std::all_of(tree.begin(), tree.end(), ended); },
                                     std::max(left, std::chrono::milliseconds(0)));
  if (!over)
    for (pid_t p : tree)
      if (!ended(p)) ::kill(p, SIGKILL);
  return over;
}

}  // namespace e2e
