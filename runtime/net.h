#pragma once
// Host network queries: the board's IPv4 interface addresses and its name.
#include <list>
#include <string>

#include "runtime/inet4_addr.h"

namespace Net {

// Which interfaces to take. The bits are alternatives: an interface is taken
// when any selected bit matches it; 0 takes every interface.
typedef unsigned ifconfig_mode_t;
enum : ifconfig_mode_t {
  ifconfig_all = 0,
  ifconfig_not_loopback = 1,  // name other than "lo" (any case)
  ifconfig_link_local = 2,    // 169.254.0.0/16
  ifconfig_private = 4,       // 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16
};

// Appends the addresses of the selected IPv4 interfaces (at most the first
// 16 the system lists) and returns how many; -1 when the socket or the
// listing fails.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
// Appends the names of the selected interfaces whose flags (IFF_*) contain
// every bit of flags; returns how many, -1 when the socket or the listing
// fails.
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned flags);

// The host name; empty when it cannot be read.
std::string hostname();
// Sets the host name; sethostname's result.
int hostname(const std::string& name);

}  // namespace Net
