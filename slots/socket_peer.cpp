#include "slots/socket_peer.h"

#include <dirent.h>
#include <errno.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/sysroot.h"
#include "runtime/fd.h"
#include "runtime/process_tree.h"

namespace socket_peer {
namespace {

// ---- the socket tables ----

struct Entry {
  std::string local;
  std::string remote;
  ino_t inode = 0;
};

// A dual-stack socket's v4-mapped address as the IPv4 table prints it: the
// last of the four words, printed as the IPv4 one is. Any other address as
// it is.
std::string plain(const std::string& address) {
  const std::size_t colon = address.find(':');
  if (colon != 32 || address.compare(0, 16, "0000000000000000") != 0) return address;
  const std::string marker = address.substr(16, 8);
  if (marker != "FFFF0000" && marker != "0000FFFF") return address;
  return address.substr(24);
}

// One line of a table: "sl local remote st tx:rx tr:when retrnsmt uid
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
  e.local = plain(e.local);
  e.remote = plain(e.remote);
  return true;
}

void read(std::istream& table, std::vector<Entry>& entries) {
  for (std::string line; std::getline(table, line);) {
    Entry e;
    if (parse(line, e)) entries.push_back(e);
  }
}

ino_t peer(const std::vector<Entry>& entries, ino_t own) {
  if (own == 0) return 0;
  const Entry* self = nullptr;
  for (const Entry& e : entries)
    if (e.inode == own) {
      self = &e;
      break;
    }
  if (!self) return 0;
  // Sockets in TIME_WAIT or orphaned ones show inode 0: no process holds
  // them, so they never answer.
  for (const Entry& e : entries)
    if (e.inode != 0 && e.inode != own && e.local == self->remote && e.remote == self->local) return e.inode;
  return 0;
}

ino_t inode_of(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) ? st.st_ino : 0;
}

// ---- the socket diagnostics ----

enum class Answer { found, absent, failed };

// Sets the request's address fields from a socket address of the given
// family, an IPv4 one mapped when the request is IPv6.
bool put(const sockaddr_storage& a, int family, __be16& port, __be32 (&address)[4]) {
  std::memset(address, 0, sizeof address);
  if (a.ss_family == AF_INET) {
    const sockaddr_in& v4 = reinterpret_cast<const sockaddr_in&>(a);
    port = v4.sin_port;
    if (family == AF_INET) {
      address[0] = v4.sin_addr.s_addr;
    } else {
      address[2] = htonl(0xFFFF);
      address[3] = v4.sin_addr.s_addr;
    }
    return true;
  }
  if (a.ss_family == AF_INET6 && family == AF_INET6) {
    const sockaddr_in6& v6 = reinterpret_cast<const sockaddr_in6&>(a);
    port = v6.sin6_port;
    std::memcpy(address, &v6.sin6_addr, sizeof address);
    return true;
  }
  return false;
}

// The socket of the given family whose own address is `local` and whose
// peer is `remote`: its inode when found.
Answer ask(int family, const sockaddr_storage& local, const sockaddr_storage& remote, ino_t& inode) {
  Fd s(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!s.valid()) return Answer::failed;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } q;
  std::memset(&q, 0, sizeof q);
  static std::uint32_t sequence = 0;
  q.header.nlmsg_len = sizeof q;
  q.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  q.header.nlmsg_flags = NLM_F_REQUEST;
  q.header.nlmsg_seq = ++sequence;
  q.request.sdiag_family = static_cast<std::uint8_t>(family);
  q.request.sdiag_protocol = IPPROTO_TCP;
  q.request.idiag_states = ~0u;
  q.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  q.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  if (!put(local, family, q.request.id.idiag_sport, q.request.id.idiag_src) ||
      !put(remote, family, q.request.id.idiag_dport, q.request.id.idiag_dst))
    return Answer::failed;
  sockaddr_nl kernel;
  std::memset(&kernel, 0, sizeof kernel);
  kernel.nl_family = AF_NETLINK;
  if (::sendto(s.get(), &q, sizeof q, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof q))
    return Answer::failed;
  // The kernel answers within the send: an answer not there now is none.
  alignas(nlmsghdr) unsigned char buffer[1024];
  const ssize_t n = ::recv(s.get(), buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < static_cast<ssize_t>(sizeof(nlmsghdr))) return Answer::failed;
  nlmsghdr header;
  std::memcpy(&header, buffer, sizeof header);
  if (header.nlmsg_len < sizeof header || header.nlmsg_len > static_cast<std::size_t>(n) ||
      header.nlmsg_seq != q.header.nlmsg_seq)
    return Answer::failed;
  if (header.nlmsg_type == NLMSG_ERROR && header.nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr))) {
    nlmsgerr error;
    std::memcpy(&error, buffer + NLMSG_HDRLEN, sizeof error);
    return error.error == -ENOENT ? Answer::absent : Answer::failed;
  }
  if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY || header.nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
    return Answer::failed;
  inet_diag_msg m;
  std::memcpy(&m, buffer + NLMSG_HDRLEN, sizeof m);
  // An answer about another socket is nonsense.
  if (m.id.idiag_sport != q.request.id.idiag_sport || m.id.idiag_dport != q.request.id.idiag_dport)
    return Answer::failed;
  // A socket that its process has closed (orphaned, or in TIME_WAIT) is
  // still found, with inode 0: an answer as good as any, since no process
  // holds it.
  inode = static_cast<ino_t>(m.idiag_inode);
  return Answer::found;
}

// Whether the diagnostics have once found a socket as they should: until
// then "no such socket" may only mean that the kernel has none of them.
bool trusted = false;

}  // namespace

ino_t peer_inode(std::istream& table, ino_t own) {
  std::vector<Entry> entries;
  read(table, entries);
  return peer(entries, own);
}

ino_t peer_inode(std::istream& tcp, std::istream& tcp6, ino_t own) {
  std::vector<Entry> entries;
  read(tcp, entries);
  read(tcp6, entries);
  return peer(entries, own);
}

bool diag_peer_inode(int fd, ino_t& inode) {
  inode = 0;
  sockaddr_storage local, remote;
  socklen_t localLength = sizeof local, remoteLength = sizeof remote;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
      ::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteLength) != 0)
    return false;
  // The peer's own address is this socket's remote one.
  const int first = remote.ss_family == AF_INET6 ? AF_INET6 : AF_INET;
  Answer a = ask(first, remote, local, inode);
  if (a == Answer::absent && first == AF_INET) a = ask(AF_INET6, remote, local, inode);
  if (a == Answer::found) {
    trusted = true;
    return true;
  }
  if (a == Answer::failed) return false;
  if (!trusted) {
    // Asked once: does the kernel find this very socket?
    ino_t self = 0;
    if (ask(local.ss_family == AF_INET6 ? AF_INET6 : AF_INET, local, remote, self) != Answer::found ||
        self != inode_of(fd))
      return false;
    trusted = true;
  }
  inode = 0;
  return true;
}

ino_t table_peer_inode(int fd) {
  const ino_t own = inode_of(fd);
  if (own == 0) return 0;
  std::ifstream tcp(sysroot::path(sysroot::proc_net_tcp));
  std::ifstream tcp6(sysroot::path(sysroot::proc_net_tcp6));
  return peer_inode(tcp, tcp6, own);
}

ino_t peer_inode(int fd) {
  ino_t inode = 0;
  return diag_peer_inode(fd, inode) ? inode : table_peer_inode(fd);
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
  for (pid_t program : candidates)
    if (held_by(program, inode)) return program;
  // Read after the programs: one that gives its copy away has started the
  // process that keeps it by then.
  const std::vector<process_tree::Process> processes = process_tree::all();
  for (pid_t program : candidates)
    for (const process_tree::Process& p : process_tree::of(program, false, processes))
      if (p.pid != program && held_by(p.pid, inode)) return program;
  return -1;
}

}  // namespace socket_peer
