#include "runtime/process_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/sysroot.h"

namespace process_tree {

bool parse(const char* stat, std::size_t length, Process& out) {
  const std::string line(stat, length);
  // "pid (comm) state ppid pgrp session tty tpgid flags minflt cminflt
  // majflt cmajflt utime stime cutime cstime priority nice threads
  // itrealvalue starttime ...": the command may hold spaces and ')'.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return false;
  char* end = nullptr;
  const long pid = std::strtol(line.c_str(), &end, 10);
  if (end == line.c_str() || pid <= 0) return false;
  const char* rest = line.c_str() + close + 1;
  unsigned long long field[20];
  int n = 0;
  for (const char* p = rest; n < 20;) {
    while (*p == ' ') ++p;
    if (*p == '\0' || *p == '\n') break;
    if (n == 0) {
      field[n++] = 0;  // the state letter
      while (*p && *p != ' ') ++p;
      continue;
    }
    char* after = nullptr;
    const long long v = std::strtoll(p, &after, 10);
    if (after == p) return false;
    field[n++] = static_cast<unsigned long long>(v);
    p = after;
  }
  if (n < 20) return false;
  out.pid = static_cast<pid_t>(pid);
  out.ppid = static_cast<pid_t>(field[1]);
  out.pgid = static_cast<pid_t>(field[2]);
  out.sid = static_cast<pid_t>(field[3]);
  out.start = field[19];
  return true;
}

bool read(pid_t pid, Process& out) {
  if (pid <= 0) return false;
  char name[64];
  std::snprintf(name, sizeof name, sysroot::proc_stat_format, static_cast<int>(pid));
  const int fd = ::open(sysroot::path(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[512];
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  return parse(buf, static_cast<std::size_t>(n), out) && out.pid == pid;
}

std::vector<Process> all() {
  std::vector<Process> out;
  DIR* dir = ::opendir(sysroot::path(sysroot::proc_dir).c_str());
  if (!dir) return out;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    Process p;
    if (read(static_cast<pid_t>(std::atol(entry->d_name)), p)) out.push_back(p);
  }
  ::closedir(dir);
  return out;
}

std::vector<Process> of(pid_t leader, bool ended, const std::vector<Process>& processes) {
  std::vector<Process> tree;
  if (leader <= 0) return tree;
  const auto it = std::find_if(processes.begin(), processes.end(), [&](const Process& p) { return p.pid == leader; });
  const bool present = it != processes.end();
  // A group outlives its leader while it has members, and its id is no
  // one else's meanwhile; once someone else holds the pid, the group that
  // was the program's has emptied.
  if (ended && present) return tree;
  if (present) tree.push_back(*it);
  for (const Process& p : processes)
    if (p.pgid == leader && p.pid != leader) tree.push_back(p);
  // Descendants of any of them, whatever group they are in now.
  for (std::size_t i = 0; i < tree.size(); ++i)
    for (const Process& p : processes)
      if (p.ppid == tree[i].pid && p.pgid != leader &&
          std::none_of(tree.begin(), tree.end(), [&](const Process& t) { return t.pid == p.pid; }))
        tree.push_back(p);
  return tree;
}

bool same(const Process& p) {
  Process now;
  return read(p.pid, now) && now.start == p.start;
}

std::size_t signal(pid_t leader, bool ended, const std::vector<Process>& tree, int sig) {
  std::size_t sent = 0;
  bool group = false;
  for (const Process& p : tree) {
    if (p.pgid == leader) {
      group = true;
    } else if (same(p) && ::kill(p.pid, sig) == 0) {
      ++sent;
    }
  }
  // The group: what is in it now, including members started since the
  // tree was read. After the leader's end its pid is only safe to name
  // while the group lives on, which the read showed.
  if (leader > 0 && (group || !ended) && ::kill(-leader, sig) == 0) {
    for (const Process& p : tree)
      if (p.pgid == leader) ++sent;
  }
  return sent;
}

}  // namespace process_tree
