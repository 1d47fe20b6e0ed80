#include "runtime/net.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <vector>

#include "runtime/fd.h"

namespace Net {
namespace {

static_assert(SIOCGIFCONF == 0x8912 && SIOCGIFFLAGS == 0x8913 && SIOCGIFADDR == 0x8915,
              "interface requests of the Linux socket layer");

// The listing holds the first 16 interfaces. An entry is sizeof(struct
// ifreq): 32 bytes on the board, 40 on 64-bit hosts.
constexpr int kEntries = 16;

bool inNet(in_addr_t hostOrder, in_addr_t net, int bits) {
  const in_addr_t mask = ~static_cast<in_addr_t>(0) << (32 - bits);
  return (hostOrder & mask) == net;
}

bool selected(const ifreq& entry, ifconfig_mode_t mode) {
  if (mode == ifconfig_all) return true;
  char name[IFNAMSIZ + 1] = {};
  std::memcpy(name, entry.ifr_name, IFNAMSIZ);
  if ((mode & ifconfig_not_loopback) && ::strcasecmp(name, "lo") != 0) return true;
  sockaddr_in sa;
  std::memcpy(&sa, &entry.ifr_addr, sizeof sa);
  const in_addr_t a = ntohl(sa.sin_addr.s_addr);
  if ((mode & ifconfig_link_local) && inNet(a, 0xA9FE0000u, 16)) return true;
  if ((mode & ifconfig_private) &&
      (inNet(a, 0xC0A80000u, 16) || inNet(a, 0xAC100000u, 12) || inNet(a, 0x0A000000u, 8)))
    return true;
  return false;
}

// Lists the interfaces and calls take(socket, entry) for every selected
// IPv4 one; -1 when the socket or the listing fails, else 0.
int walk(ifconfig_mode_t mode, const std::function<void(int, const ifreq&)>& take) {
  Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sock.valid()) return -1;
  std::vector<ifreq> entries(kEntries);
  std::memset(entries.data(), 0, entries.size() * sizeof(ifreq));
  ifconf list;
  std::memset(&list, 0, sizeof list);
  list.ifc_len = static_cast<int>(entries.size() * sizeof(ifreq));
  list.ifc_req = entries.data();
  if (::ioctl(sock.get(), SIOCGIFCONF, &list) < 0) return -1;
  const int n = list.ifc_len / static_cast<int>(sizeof(ifreq));
  for (int i = 0; i < n && i < kEntries; ++i) {
    const ifreq& entry = entries[static_cast<std::size_t>(i)];
    if (entry.ifr_addr.sa_family != AF_INET || !selected(entry, mode)) continue;
    take(sock.get(), entry);
  }
  return 0;
}

ifreq request(const ifreq& entry) {
  ifreq r;
  std::memset(&r, 0, sizeof r);
  std::memcpy(r.ifr_name, entry.ifr_name, IFNAMSIZ);
  r.ifr_name[IFNAMSIZ - 1] = '\0';
  return r;
}

}  // namespace

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode) {
  int count = 0;
  const int rc = walk(mode, [&](int sock, const ifreq& entry) {
    ifreq r = request(entry);
    if (::ioctl(sock, SIOCGIFADDR, &r) < 0) return;
    sockaddr_in sa;
    std::memcpy(&sa, &r.ifr_addr, sizeof sa);
    out.push_back(INet4::Addr(sa));
    ++count;
  });
  return rc < 0 ? -1 : count;
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned flags) {
  int count = 0;
  const int rc = walk(mode, [&](int sock, const ifreq& entry) {
    ifreq r = request(entry);
    if (::ioctl(sock, SIOCGIFADDR, &r) < 0) return;
    if (::ioctl(sock, SIOCGIFFLAGS, &r) < 0) return;
    const unsigned have = static_cast<unsigned short>(r.ifr_flags);
    if ((have & flags) != flags) return;
    out.push_back(r.ifr_name);
    ++count;
  });
  return rc < 0 ? -1 : count;
}

std::string hostname() {
  char name[512];
  if (::gethostname(name, sizeof name) != 0) return std::string();
  name[sizeof name - 1] = '\0';
  return name;
}

int hostname(const std::string& name) { return ::sethostname(name.data(), name.size()); }

}  // namespace Net
