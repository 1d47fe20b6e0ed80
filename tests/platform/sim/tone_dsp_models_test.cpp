// The simulated tone processor and DSP as a driver test would see them:
// requests through the device seam, events read from the descriptor, and the
// control commands tests drive them with.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hardware/dsp_records.h"
#include "hardware/tone_records.h"
#include "tests/sim_board_fixture.h"

namespace {

namespace tc = Hardware::tonec;
namespace dp = Hardware::dsproc;

class ToneDspModelsTest : public hwtest::SimBoardTest {
 protected:
  void TearDown() override {
    for (int fd : fds_) ::close(fd);
    hwtest::SimBoardTest::TearDown();
  }
  int open(const char* path, int flags) {
    const int fd = drv::open(path, flags);
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  // The reply's error, "" when done.
  static std::string refusal(const std::string& line) { return board().execute(line).error; }

  std::vector<int> fds_;
};

// The receivers' tests drive these models with events and faults; what is
// left here is what they cannot see: the request forms the models insist
// on, the octet order of an event record, and the commands' own checks.
TEST_F(ToneDspModelsTest, RequestsInTheWrongFormAreRefusedAndJournaled) {
  const int fd = open(sysroot::dtmf, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  tc::dtmf_enable enable{5, 1};
  errno = 0;
  EXPECT_EQ(drv::ioctl_ptr(fd, tc::DTMF_DISABLE_DETECTOR, &enable, sizeof enable), -1);  // takes a value
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(drv::ioctl_val(fd, tc::DTMF_ENABLE_DETECTOR, 5), -1);  // takes a record
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(drv::ioctl_ptr(fd, tc::DTMF_DIAL, &enable, sizeof enable), -1);  // 8 bytes for 12
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(drv::ioctl_val(fd, 0x40044208ul, 5), -1);  // no such request
  EXPECT_EQ(errno, ENOTTY);
  const std::string dev = std::string("ioctl ") + sysroot::dtmf;
  ASSERT_EQ(board().journal().size(), 5u);
  EXPECT_EQ(board().journal()[2], dev + " 0x40084203 val=5 -> -1 EFAULT");

  const int dsp = open(sysroot::dsp, O_RDWR | O_NONBLOCK);
  ASSERT_GE(dsp, 0);
  EXPECT_EQ(drv::ioctl_val(dsp, dp::DSPROC_VAD_VERSION, 1), -1);
  dp::dsproc_configure unknownKind{};
  unknownKind.kind = 3;
  EXPECT_EQ(drv::ioctl_ptr(dsp, dp::DSPROC_CONFIGURE, &unknownKind, sizeof unknownKind), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(drv::ioctl_val(dsp, dp::DSPROC_ENABLE, 5), -1);
  EXPECT_EQ(errno, EFAULT);
}

TEST_F(ToneDspModelsTest, EventRecordsAreInTheProcessorsOrderAndCommandsCheckTheirWords) {
  EXPECT_EQ(refusal("dtmf 5 3"), std::string("no open ") + sysroot::dtmf);
  const int fd = open(sysroot::dsp, O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(refusal("dsp 6 vad 2 0 1"), "");
  dp::dsproc_event ev;
  ASSERT_EQ(::read(fd, &ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
  // On the board the first byte of the timeslot is its most significant.
  const auto* bytes = reinterpret_cast<const unsigned char*>(&ev);
#ifdef KORVEND_TARGET_BIG_ENDIAN
  EXPECT_EQ(bytes[3], 6);
#else
  EXPECT_EQ(bytes[0], 6);
#endif
  ASSERT_GE(open(sysroot::dtmf, O_RDONLY | O_NONBLOCK), 0);
  for (const char* bad : {"dtmf 5 3 id", "dtmf 5 3 ident 4", "dtmf 5 -3", "dtmf 5 99999999999", "dtmf bogus",
                          "dtmf raw 0", "dsp 6 vad 2 0", "dsp 6 bss x", "dsp 6 noise 1", "dsp 6 flags 1 2 id",
                          "dsp version -1"})
    EXPECT_NE(refusal(bad), "") << bad;
}

}  // namespace
