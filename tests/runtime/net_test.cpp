#include "runtime/net.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>

#include "tests/net_namespace.h"

namespace {

using testkit::inFreshNamespaces;

std::string addresses(Net::ifconfig_mode_t mode) {
  std::list<INet4::Addr> out;
  const int n = Net::ifconfig(out, mode);
  std::ostringstream s;
  s << n << ":";
  std::set<std::string> sorted;
  for (const auto& a : out) sorted.insert(a.GetString());
  for (const auto& a : sorted) s << " " << a;
  return s.str();
}

std::string names(Net::ifconfig_mode_t mode, unsigned flags) {
  std::list<std::string> out;
  const int n = Net::ifconfig(out, mode, flags);
  std::ostringstream s;
  s << n << ":";
  for (const auto& a : out) s << " " << a;
  return s.str();
}

#define SKIP_WITHOUT_NAMESPACES()                                                         \
  if (::geteuid() != 0) GTEST_SKIP() << testkit::refused("network namespaces need root; not tested here")

TEST(NetIfconfig, ModesSelectByNameLinkLocalAndPrivateRanges) {
  SKIP_WITHOUT_NAMESPACES();
  const std::string batch =
      "link set lo up\n"
      "link add d0 type TYPE\naddr add 172.31.255.1/24 dev d0\nlink set d0 up\n"
      "link add d1 type TYPE\naddr add 172.32.0.1/24 dev d1\nlink set d1 up\n"
      "link add d2 type TYPE\naddr add 10.1.2.3/8 dev d2\nlink set d2 up\n"
      "link add d3 type TYPE\naddr add 192.168.7.7/24 dev d3\n"  // left down
      "link add d4 type TYPE\naddr add 169.254.3.4/16 dev d4\nlink set d4 up\n"
      "link add LO type TYPE\naddr add 192.0.2.10/24 dev LO\nlink set LO up\n";
  std::string skip;
  const std::string out = inFreshNamespaces(
      batch,
      [] {
        std::ostringstream s;
        s << "all " << addresses(Net::ifconfig_all) << "\n";
        s << "notlo " << addresses(Net::ifconfig_not_loopback) << "\n";
        s << "linklocal " << addresses(Net::ifconfig_link_local) << "\n";
        s << "private " << addresses(Net::ifconfig_private) << "\n";
        s << "both " << addresses(Net::ifconfig_link_local | Net::ifconfig_private) << "\n";
        s << "up " << names(Net::ifconfig_private, IFF_UP) << "\n";
        s << "any " << names(Net::ifconfig_private, 0) << "\n";
        s << "set " << Net::hostname("kv-ns-test") << " " << Net::hostname() << "\n";
        return s.str();
      },
      skip);
  if (!skip.empty()) GTEST_SKIP() << skip;
  // "LO" is the loopback's name in capitals: left out; 172.31.255.1 is in
  // 172.16.0.0/12, 172.32.0.1 is not.
  EXPECT_EQ(out,
            "all 7: 10.1.2.3:0 127.0.0.1:0 169.254.3.4:0 172.31.255.1:0 172.32.0.1:0 192.0.2.10:0 192.168.7.7:0\n"
            "notlo 5: 10.1.2.3:0 169.254.3.4:0 172.31.255.1:0 172.32.0.1:0 192.168.7.7:0\n"
            "linklocal 1: 169.254.3.4:0\n"
            "private 3: 10.1.2.3:0 172.31.255.1:0 192.168.7.7:0\n"
            "both 4: 10.1.2.3:0 169.254.3.4:0 172.31.255.1:0 192.168.7.7:0\n"
            "up 2: d0 d2\n"
            "any 3: d0 d2 d3\n"
            "set 0 kv-ns-test\n");
}

// The listing has room for 16 entries of the system's own size, whatever
// that size is on this machine.
TEST(NetIfconfig, OnlyTheFirstSixteenInterfacesAreSeen) {
  SKIP_WITHOUT_NAMESPACES();
  std::string batch = "link set lo up\n";
  for (int i = 1; i <= 20; ++i) {
    const std::string n = std::to_string(i);
    batch += "link add e" + n + " type TYPE\naddr add 10.9.0." + n + "/32 dev e" + n + "\nlink set e" + n + " up\n";
  }
  std::string skip;
  const std::string out = inFreshNamespaces(
      batch,
      [] {
        std::list<INet4::Addr> all;
        std::ostringstream s;
        s << Net::ifconfig(all, Net::ifconfig_all);
        std::list<std::string> named;
        s << " " << Net::ifconfig(named, Net::ifconfig_all, 0);
        return s.str();
      },
      skip);
  if (!skip.empty()) GTEST_SKIP() << skip;
  EXPECT_EQ(out, "16 16");
}

}  // namespace
