#include "slots/socket_peer.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/sysroot.h"

namespace socket_peer {
namespace {

struct Entry {
  std::string local;
  std::string remote;
  ino_t inode = 0;
};

// One line of the table: "sl local remote st tx:rx tr:when retrnsmt uid
// timeout inode ...". False for the heading and anything malformed.
bool parse(const std::string& line, Entry& e) {
  std::istringstream in(line);
  std::string sl, st, queues, timer, retransmits, uid, timeout, inode;
  if (!(in >> sl >> e.local >> e.remote >> st >> queues >> timer >> retransmits >> uid >> timeout >> inode))
    return false;
  if (sl.empty() || sl.back() != ':' || e.local.find(':') == std::string::npos) return false;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(inode.c_str(), &end, 10);
  if (end == inode.c_str() || *end != '\0') return false;
  e.inode = static_cast<ino_t>(n);
  return true;
}

}  // namespace

ino_t peer_inode(std::istream& table, ino_t own) {
  if (own == 0) return 0;
  std::vector<Entry> entries;
  Entry self;
  bool found = false;
  for (std::string line; std::getline(table, line);) {
    Entry e;
    if (!parse(line, e)) continue;
    if (e.inode == own && !found) {
      self = e;
      found = true;
    }
    entries.push_back(e);
  }
  if (!found) return 0;
  // Sockets in TIME_WAIT or orphaned ones show inode 0: no process holds
  // them, so they never answer.
  for (const Entry& e : entries)
    if (e.inode != 0 && e.inode != own && e.local == self.remote && e.remote == self.local) return e.inode;
  return 0;
}

ino_t peer_inode(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return 0;
  std::ifstream table(sysroot::path(sysroot::proc_net_tcp));
  return table ? peer_inode(table, st.st_ino) : 0;
}

bool held_by(pid_t pid, ino_t inode) {
  if (pid <= 0 || inode == 0) return false;
  char dir[64];
  std::snprintf(dir, sizeof dir, sysroot::proc_fd_format, static_cast<int>(pid));
  const std::string path = sysroot::path(dir);
  DIR* d = ::opendir(path.c_str());
  if (!d) return false;
  const std::string want = "socket:[" + std::to_string(static_cast<unsigned long long>(inode)) + "]";
  bool held = false;
  char target[64];
  while (!held) {
    const dirent* entry = ::readdir(d);
    if (!entry) break;
    if (entry->d_name[0] == '.') continue;
    const std::string link = path + "/" + entry->d_name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    held = want.compare(0, std::string::npos, target, static_cast<std::size_t>(n)) == 0;
  }
  ::closedir(d);
  return held;
}

pid_t holder(int fd, const std::vector<pid_t>& candidates) {
  if (candidates.empty()) return -1;
  const ino_t inode = peer_inode(fd);
  if (inode == 0) return -1;
  for (pid_t pid : candidates)
    if (held_by(pid, inode)) return pid;
  return -1;
}

}  // namespace socket_peer
