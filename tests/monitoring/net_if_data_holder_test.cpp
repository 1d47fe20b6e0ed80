// The network-interface holder: the judgement of the running samples, and
// the kernel's running flag of a veth pair in a namespace of the test's own.
#include "monitoring/net_if_data_holder.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "runtime/fd.h"
#include "runtime/traces.h"
#include "tests/net_namespace.h"
#include "tests/stream_capture.h"

namespace {

std::string judge(NetIfDataHolder& h, int sample) {
  const bool changed = h.setNetIfStatus(sample);
  return std::string(changed ? "T" : "F") + std::to_string(h.running());
}

TEST(NetIfDataHolder, RunningTakesTwoOfTheLastThreeSamples) {
  NetIfDataHolder a(3, "eth0");
  EXPECT_EQ(a.running(), -1);
  EXPECT_EQ(a.oper_status(), 2);
  // The first sample always reports, whichever it is.
  EXPECT_EQ(judge(a, 1), "T0");
  EXPECT_EQ(judge(a, 0), "F0");
  EXPECT_EQ(judge(a, 1), "T1");
  EXPECT_EQ(a.oper_status(), 1);
  EXPECT_EQ(a.admin_status(), 1);

  NetIfDataHolder b(4, "eth1");
  EXPECT_EQ(judge(b, 0), "T0");
  EXPECT_EQ(judge(b, 1), "F0");
  EXPECT_EQ(judge(b, 1), "T1");
  EXPECT_EQ(judge(b, 0), "F1");
  EXPECT_EQ(judge(b, 0), "T0");  // 1 0 0: the oldest 0 has gone
  EXPECT_EQ(b.samples().size(), 3u);
  EXPECT_EQ(b.oper_status(), 2);
  EXPECT_EQ(b.admin_status(), 2);
}

// Waits (a bounded while) until the kernel shows the interface's running
// flag as wanted: carrier changes reach the flags asynchronously.
bool waitRunning(const char* name, bool wanted) {
  Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  for (int i = 0; i < 500; ++i) {
    ifreq r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.ifr_name, name, IFNAMSIZ - 1);
    if (::ioctl(sock.get(), SIOCGIFFLAGS, &r) == 0 && ((r.ifr_flags & IFF_RUNNING) != 0) == wanted) return true;
    const timespec pause = {0, 10 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
  return false;
}

std::string sample(NetIfDataHolder& h) {
  const bool changed = h.updateNetIf();
  return std::string(changed ? "T" : "F") + std::to_string(h.running());
}

TEST(NetIfDataHolder, VethPeerSetDownIsJudgedNotRunningAfterTwoSamples) {
  if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root; not tested here";
  const std::string batch =
      "link set lo up\n"
      "link add kv0 type veth peer name kv1\n"
      "addr add 10.77.0.1/24 dev kv0\n"
      "link set kv0 up\nlink set kv1 up\n";
  std::string skip;
  const std::string out = testkit::inFreshNamespaces(
      batch,
      [] {
        std::ostringstream s;
        NetIfDataHolder h(static_cast<int>(::if_nametoindex("kv0")), "kv0");
        if (!waitRunning("kv0", true)) return std::string("kv0 never ran");
        s << "up " << sample(h) << " " << sample(h) << " " << sample(h);
        if (std::system("ip link set kv1 down") != 0 || !waitRunning("kv0", false)) return s.str() + " no down";
        s << " | down " << sample(h) << " " << sample(h) << " oper " << h.oper_status();
        if (std::system("ip link set kv1 up") != 0 || !waitRunning("kv0", true)) return s.str() + " no up";
        s << " | up " << sample(h) << " " << sample(h) << " oper " << h.oper_status();

        // An index the kernel does not know: no judgement, and a trace line
        // only with the monitoring trace on.
        NetIfDataHolder gone(15, "gone");
        testkit::StreamCapture log(std::clog);
        s << " | gone " << gone.updateNetIf();
        traces.monitoring_internal = true;
        s << " " << gone.updateNetIf() << " " << gone.running();
        traces.monitoring_internal = false;
        s << " log " << log.str();
        return s.str();
      },
      skip);
  if (!skip.empty()) GTEST_SKIP() << skip;
  EXPECT_EQ(out,
            "up T0 T1 F1 | down F1 T0 oper 2 | up F0 T1 oper 1"
            " | gone 0 0 -1 log Error ioctl socket:  errno=\"No such device\"\n");
}

}  // namespace
