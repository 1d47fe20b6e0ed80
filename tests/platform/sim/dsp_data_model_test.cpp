// The simulated DSP data driver through raw descriptors: one unit per open,
// B channels by index, frames both ways.
#include "platform/sim/dsp_data_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/dsp_data_records.h"
#include "tests/sim_board_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class DspDataTest : public hwtest::SimBoardTest {
 protected:
  void TearDown() override {
    for (int fd : fds_) ::close(fd);
    hwtest::SimBoardTest::TearDown();
  }
  int open() {
    const int fd = drv::open(sysroot::dsp_data, O_RDWR | O_NONBLOCK);
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  void close(int fd) {
    ::close(fd);
    fds_.erase(std::find(fds_.begin(), fds_.end(), fd));
    settle();  // the board hears of it
  }
  static int request(int fd, unsigned long code, int index, int channel, int* out = nullptr) {
    dspdata::BChannel rec{index, channel};
    const int rc = drv::ioctl_ptr(fd, code, &rec, sizeof rec);
    if (out) *out = rec.channel;
    return rc;
  }
  std::vector<int> fds_;
};

TEST_F(DspDataTest, EachOpenIsAUnitWhoseBChannelsOpenOnceByIndex) {
  const int a = open();
  const int b = open();
  EXPECT_EQ(drv::ioctl_val(a, dspdata::d_channel, 0), 5120);
  EXPECT_EQ(drv::ioctl_val(b, dspdata::d_channel, 0), 5124);
  int channel = 0;
  EXPECT_EQ(request(a, dspdata::b_open, 2, -1, &channel), 0);
  EXPECT_EQ(channel, 5123);
  EXPECT_EQ(request(b, dspdata::b_open, 2, -1, &channel), 0);
  EXPECT_EQ(channel, 5127);
  errno = 0;
  EXPECT_EQ(request(a, dspdata::b_open, 2, -1), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(request(a, dspdata::b_open, 3, -1), -1);
  EXPECT_EQ(errno, EINVAL);
  // A release names the channel the open gave.
  EXPECT_EQ(request(a, dspdata::b_release, 2, 5127), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(request(a, dspdata::b_release, 1, 4098), -1);
  EXPECT_EQ(request(a, dspdata::b_release, 2, 5123), 0);
  EXPECT_EQ(command("dspdata"), (Lines{"5120 open sent 0 received 0", "5124 open b2 5127 sent 0 received 0"}));

  // Closing a unit frees it with its B channels; the next open takes it.
  close(b);
  EXPECT_EQ(command("dspdata"), Lines{"5120 open sent 0 received 0"});
  const int c = open();
  EXPECT_EQ(drv::ioctl_val(c, dspdata::d_channel, 0), 5124);
  EXPECT_EQ(request(c, dspdata::b_open, 2, -1), 0);
}

TEST_F(DspDataTest, TheDChannelCarriesFramesBothWays) {
  const int fd = open();
  ASSERT_GE(fd, 0);
  const unsigned char sabme[] = {0x00, 0x01, 0x7F};
  ASSERT_EQ(::write(fd, sabme, sizeof sabme), 3);
  settle();
  EXPECT_EQ(command("dspdata written 5120"), Lines{"00 01 7F"});
  command("dspdata inject 5120 00 01 73");
  char buf[64];
  ASSERT_EQ(::read(fd, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), std::string("\x00\x01\x73", 3));
  EXPECT_EQ(command("dspdata"), Lines{"5120 open sent 1 received 1"});
}

}  // namespace
