// The simulated modem driver and point-to-point interfaces, driven through
// the device seam as the modem slots drive them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
// After <net/if.h>: the kernel's header then adds only what glibc lacks.
#include <linux/if.h>
#include <linux/sockios.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/modem_records.h"
#include "runtime/fd.h"
#include "tests/sim_board_fixture.h"

namespace {

using Lines = std::vector<std::string>;
using hwtest::contains;

class ModemModels : public hwtest::SimBoardTest {
 protected:
  int mctl() {
    fds_.emplace_back(drv::open(sysroot::mctl, O_RDONLY | O_CLOEXEC));
    return fds_.back().get();
  }
  static int request(int fd, unsigned long code, std::int32_t modem, std::int32_t arg = -1) {
    mctl::ModemRequest r{modem, arg};
    return drv::ioctl_ptr(fd, code, &r, sizeof r);
  }
  static int failure(int rc) { return rc == -1 ? errno : 0; }

  static ifreq named(const char* name) {
    ifreq r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.ifr_name, name, IFNAMSIZ - 1);
    return r;
  }
  int netif(unsigned long request, ifreq& r) { return drv::netif_ioctl(sock_.get(), request, &r); }
  int wan(const char* name, unsigned type, void* buffer, unsigned size) {
    ifreq r = named(name);
    if_settings s;
    std::memset(&s, 0, sizeof s);
    s.type = type;
    s.size = size;
    s.ifs_ifsu.sync = static_cast<sync_serial_settings*>(buffer);
    std::memcpy(&r.ifr_ifru, &s, sizeof s);
    return netif(SIOCWANDEV, r);
  }

  std::vector<Fd> fds_;
  Fd sock_{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
};

TEST_F(ModemModels, ModemsAreAllocatedOnePerOpenActOnTheirOwnAndAreFreedOnClose) {
  const int a = mctl();
  EXPECT_EQ(failure(drv::ioctl_val(a, mctl::allocate, 0)), ENOSPC);  // no modem at start
  EXPECT_EQ(failure(drv::ioctl_val(a, mctl::enumerate, static_cast<unsigned long>(-1L))), ENODEV);
  command("mctl modems 2");
  EXPECT_EQ(drv::ioctl_val(a, mctl::enumerate, static_cast<unsigned long>(-1L)), 0);
  EXPECT_EQ(drv::ioctl_val(a, mctl::enumerate, 0), 1);
  EXPECT_EQ(failure(drv::ioctl_val(a, mctl::enumerate, 1)), ENODEV);

  EXPECT_EQ(failure(drv::ioctl_val(a, mctl::timeslot, 0)), EINVAL);
  EXPECT_EQ(drv::ioctl_val(a, mctl::allocate, 0), 0);
  EXPECT_EQ(failure(drv::ioctl_val(a, mctl::allocate, 0)), EBUSY);
  EXPECT_EQ(drv::ioctl_val(a, mctl::timeslot, 0), 3584);
  const int b = mctl();
  EXPECT_EQ(drv::ioctl_val(b, mctl::allocate, 0), 1);
  EXPECT_EQ(failure(drv::ioctl_val(mctl(), mctl::allocate, 0)), ENOSPC);

  // Each open acts on its own modem; a record of another size is refused.
  EXPECT_EQ(failure(request(a, mctl::answer, 1)), EINVAL);
  std::int32_t half = 0;
  EXPECT_EQ(failure(drv::ioctl_ptr(a, mctl::answer, &half, sizeof half)), EFAULT);
  EXPECT_EQ(request(a, mctl::set_ddm, 0, mctl::ddm_v110 | mctl::ddm_8bit), 0);
  mctl::DmpParam p{0, 5, 7};
  EXPECT_EQ(drv::ioctl_ptr(a, mctl::set_dmp, &p, sizeof p), 0);
  EXPECT_EQ(request(a, mctl::answer, 0), 0);
  EXPECT_EQ(request(b, mctl::fax_originate, 1), 0);
  EXPECT_EQ(command("mctl"), (Lines{"modem 0 ts 3584 allocated ddm 0x3 dmp 5=7 call answer",
                                    "modem 1 ts 3585 allocated ddm 0x0 dmp none call fax-originate"}));
  EXPECT_EQ(request(a, mctl::reset_dmp, 0), 0);
  EXPECT_TRUE(contains(command("mctl")[0], " dmp none ")) << command("mctl")[0];
  EXPECT_NE(board().execute("mctl modems 1").error, "");  // modem 1 is in use
  EXPECT_TRUE(hwtest::hasLine(journalText(), "ioctl /dev/mctl 0x0000BB03 rec=", "-> 0 (modem 0 answer)"));

  // A dup keeps the modem; the last close frees it.
  const int copy = ::dup(a);
  fds_.front().close();
  settle();
  EXPECT_TRUE(contains(command("mctl")[0], " allocated ")) << command("mctl")[0];
  ::close(copy);
  settle();
  EXPECT_EQ(command("mctl")[0], "modem 0 ts 3584 free");
  EXPECT_EQ(drv::ioctl_val(mctl(), mctl::allocate, 0), 0);
}

TEST_F(ModemModels, InterfacesAnswerForHdlcNamesAndRefuseAProtocolChangeWhileUp) {
  ifreq r = named("hdlc0");
  EXPECT_EQ(failure(netif(SIOCGIFINDEX, r)), ENODEV);
  ifreq lo = named("lo");  // not the board's: the kernel answers
  EXPECT_EQ(netif(SIOCGIFFLAGS, lo), 0);
  EXPECT_TRUE(lo.ifr_flags & IFF_LOOPBACK);

  command("netif add hdlc0");
  command("netif add hdlc1 channel 1100 flags pointopoint|loopback");
  EXPECT_NE(board().execute("netif add eth0").error, "");
  EXPECT_EQ(netif(SIOCGIFINDEX, r), 0);
  EXPECT_EQ(r.ifr_ifindex, 100);
  EXPECT_EQ(netif(SIOCGIFFLAGS, r), 0);
  EXPECT_EQ(r.ifr_flags, IFF_POINTOPOINT);

  wan::IfaceInfo info{};
  EXPECT_EQ(failure(wan("hdlc1", IF_GET_IFACE, &info, 8)), ENOBUFS);
  EXPECT_EQ(wan("hdlc1", IF_GET_IFACE, &info, sizeof info), 0);
  EXPECT_EQ(info.words[wan::channel_word], 1100);

  r.ifr_flags = IFF_UP;
  EXPECT_EQ(netif(SIOCSIFFLAGS, r), 0);
  wan::ProtoSettings settings{};
  EXPECT_EQ(failure(wan("hdlc0", IF_PROTO_PPP, &settings, sizeof settings)), EBUSY);
  r.ifr_flags = 0;
  EXPECT_EQ(netif(SIOCSIFFLAGS, r), 0);
  EXPECT_EQ(wan("hdlc0", IF_PROTO_PPP, &settings, sizeof settings), 0);
  EXPECT_EQ(command("netif"), (Lines{"hdlc0 index 100 channel 3840 flags pointopoint proto ppp",
                                     "hdlc1 index 101 channel 1100 flags pointopoint|loopback proto hdlc"}));

  command("fail netif 8913 EIO 1");
  EXPECT_EQ(failure(netif(SIOCGIFFLAGS, r)), EIO);
  EXPECT_EQ(netif(SIOCGIFFLAGS, r), 0);
  const std::string j = journalText();
  EXPECT_TRUE(contains(j, "ioctl netif hdlc0 0x00008933 -> 0 (index 100)\n")) << j;
  EXPECT_TRUE(contains(j, "ioctl netif hdlc0 0x00008913 -> -1 EIO\n")) << j;
  EXPECT_FALSE(contains(j, "netif lo")) << j;
}

}  // namespace
