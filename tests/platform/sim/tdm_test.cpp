// The simulated board's TDM fabric: "/dev/hal" requests, lines, paths, and
// the control commands that show and bend them.
#include "platform/sim/tdm.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/hal_records.h"
#include "tests/sim_board_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class TdmTest : public hwtest::SimBoardTest {
 protected:
  void SetUp() override {
    hwtest::SimBoardTest::SetUp();
    fd_ = drv::open(sysroot::hal, O_RDWR);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    ::close(fd_);
    hwtest::SimBoardTest::TearDown();
  }
  int fd_ = -1;
};

TEST_F(TdmTest, HalRequestsCheckTheirRecordAndChannel) {
  hal::MatrixConnect c{8200, 5};
  EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_connect, &c, sizeof c), 0);
  errno = 0;
  EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_connect, &c, 4), -1);  // short record
  EXPECT_EQ(errno, EFAULT);
  hal::MatrixChannel neg{-3};
  EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_disable, &neg, sizeof neg), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(drv::ioctl_val(fd_, hal::matrix_disable, 8200), -1);  // a record request given a value
  EXPECT_EQ(errno, ENOTTY);
  hal::MatrixValue w{8201, 0x1A5};  // only the low octet counts
  EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_write, &w, sizeof w), 0);
  hal::MatrixValue r{8201, 255};
  EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_read, &r, sizeof r), 0);
  EXPECT_EQ(r.value, 0xA5);
  EXPECT_EQ(command("matrix"), (Lines{"8200 <- 5", "8201 = 0xA5"}));
  EXPECT_EQ(command("matrix 8200 8202"), (Lines{"8200 <- 5", "8202 undriven"}));
}

TEST_F(TdmTest, OnlyDisablesThatChangeAnOutputAreJournalled) {
  hal::MatrixChannel d{8300};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_disable, &d, sizeof d), 0);
  command("matrix write 8300 0x7E");
  EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_disable, &d, sizeof d), 0);
  const Lines& j = board().journal();
  ASSERT_EQ(j.size(), 3u);  // the open, then two disables
  EXPECT_EQ(j[1].substr(j[1].size() - 16), "0 (disable 8300)");
  EXPECT_EQ(j[2], j[1]);
  EXPECT_EQ(command("matrix 8300"), (Lines{"8300 undriven (disabled, 0 more times since)"}));
}

TEST_F(TdmTest, LinesCarryTrunkTimeslotsToTheFarEnd) {
  command("cable 0 1");
  command("loop 3");
  EXPECT_EQ(command("lines"), (Lines{"trunk 0 cable 1", "trunk 1 cable 0", "trunk 2 unplugged", "trunk 3 loop"}));
  EXPECT_EQ(tdm().wire(16), 48);  // trunk 0 timeslot 16 arrives on trunk 1 timeslot 16
  EXPECT_EQ(tdm().wire(100), 100);
  EXPECT_EQ(tdm().wire(70), -1);  // trunk 2: unplugged
  EXPECT_EQ(tdm().wire(9000), 9000);  // a bus wire
  EXPECT_EQ(tdm().wire(1024), -1);

  // Recabling takes the old line off both ends.
  command("cable 1 2");
  EXPECT_EQ(command("lines"), (Lines{"trunk 0 unplugged", "trunk 1 cable 2", "trunk 2 cable 1", "trunk 3 loop"}));
  command("unplug 2");
  EXPECT_EQ(tdm().far_end(1), -1);

  for (const char* bad : {"cable 0 0", "cable 0 4", "cable 0", "loop -1", "unplug x", "lines 1"})
    EXPECT_NE(board().execute(bad).error, "") << bad;
}

TEST_F(TdmTest, ReadHearsConstantsThroughTheMatrixAndTheLines) {
  command("cable 0 1");
  command("matrix write 16 0x42");  // trunk 0 timeslot 16 sends 0x42
  command("matrix connect 8200 48");  // bus 8200 carries what trunk 1 timeslot 16 hears
  EXPECT_EQ(command("matrix read 48"), (Lines{"48 0x42"}));
  EXPECT_EQ(command("matrix read 16"), (Lines{"16 0xFF"}));  // nothing sent back from trunk 1
  command("matrix connect 8201 8202");  // a loop in the matrix reads as undriven
  command("matrix connect 8202 8201");
  EXPECT_EQ(tdm().read(8201), 0xFF);
}

TEST_F(TdmTest, FaultsOnDemandFailRequestsAndOpens) {
  command("fail hal 80084D02 EBUSY 2");
  hal::MatrixConnect c{8200, 5};
  EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_connect, &c, sizeof c), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(command("fail"), (Lines{std::string(sysroot::hal) + " 0x80084D02 EBUSY next 1"}));
  EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_connect, &c, sizeof c), -1);
  EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_connect, &c, sizeof c), 0);
  EXPECT_EQ(tdm().output(8200).source, 5);

  command("fail hal 0x80044D03 5");  // EIO by number, until taken off
  hal::MatrixChannel d{8200};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_disable, &d, sizeof d), -1);
  EXPECT_EQ(errno, EIO);
  command("fail hal 80044D03 off");
  EXPECT_EQ(drv::ioctl_ptr(fd_, hal::matrix_disable, &d, sizeof d), 0);

  command("refuse-open hal EACCES");
  EXPECT_EQ(drv::open(sysroot::hal, O_RDWR), -1);
  EXPECT_EQ(errno, EACCES);
  command("refuse-open hal off");
  const int again = drv::open(sysroot::hal, O_RDWR);
  EXPECT_GE(again, 0);
  ::close(again);

  for (const char* bad : {"fail nodev 1 EIO", "fail hal zz EIO", "fail hal 1 ENOSUCH", "fail hal 1 EIO 0",
                          "refuse-open", "refuse-open nodev", "refuse-open hal EWHAT"})
    EXPECT_NE(board().execute(bad).error, "") << bad;
}

}  // namespace
