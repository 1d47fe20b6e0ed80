// The simulated RTP driver as a session's owner sees it: channels handed
// out and taken back, and the order of requests it insists on. (Its events
// are read by the RTP slots' tests, on both byte orders.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/rtp_records.h"
#include "tests/sim_board_fixture.h"

namespace {

class RtpModelTest : public hwtest::SimBoardTest {
 protected:
  void TearDown() override {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
    hwtest::SimBoardTest::TearDown();
  }
  // A new session, begun; -1 when the open fails.
  int begun() {
    const int fd = drv::open(sysroot::rtp, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    fds_.push_back(fd);
    rtp_connection_params p{};
    EXPECT_EQ(drv::ioctl_ptr(fd, rtpdrv::begin_session, &p, sizeof p), 0);
    return fd;
  }
  // The channel added (the driver's number), or -1 with errno.
  static int add(int fd, int wanted) {
    rtp_channel_info info{wanted, -1, -1, 0};
    return drv::ioctl_ptr(fd, rtpdrv::add_channel, &info, sizeof info) < 0 ? -1 : info.tdm;
  }

  std::vector<int> fds_;
};

TEST_F(RtpModelTest, ChannelsAreTheLowestFreeAndComeBackWhenTheSessionCloses) {
  const int a = begun(), b = begun(), c = begun();
  EXPECT_EQ(add(a, -1), 4096);
  EXPECT_EQ(add(b, -1), 4097);
  EXPECT_EQ(add(c, 4096), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(add(c, 12), -1);  // not the driver's
  EXPECT_EQ(errno, EINVAL);
  ::close(a);
  fds_[0] = -1;
  EXPECT_EQ(add(c, 4096), 4096);  // released at once, as the driver's close does
  const int fresh = drv::open(sysroot::rtp, O_RDONLY | O_NONBLOCK);
  fds_.push_back(fresh);
  EXPECT_EQ(add(fresh, -1), -1);  // not begun
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(drv::ioctl_val(fresh, rtpdrv::input_start, 0), -1);
  EXPECT_EQ(drv::ioctl_val(b, rtpdrv::input_start, 0), 0);
  EXPECT_EQ(command("rtp").size(), 3u);
}

}  // namespace
