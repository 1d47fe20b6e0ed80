// The simulated voice driver as the resource report and the mixer's
// enumeration use it: counts answered as the request's result, the version
// record filled in place, and refusals of one kind or of the whole node.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/voice_records.h"
#include "tests/sim_board_fixture.h"

namespace {

class VoiceModelTest : public hwtest::SimBoardTest {
 protected:
  void TearDown() override {
    if (fd_ >= 0) ::close(fd_);
    hwtest::SimBoardTest::TearDown();
  }
  int count(std::uint32_t kind) { return drv::ioctl_ptr(fd_, voicedrv::channel_count, &kind, sizeof kind); }
  static std::string refusal(const std::string& line) { return board().execute(line).error; }

  int fd_ = -1;
};

TEST_F(VoiceModelTest, CountsAreTheResultPerKindAndOneKindFailsAlone) {
  command("voice count 4 30");
  command("voice count 65 2");
  fd_ = drv::open(sysroot::voice, O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd_, 0);
  EXPECT_EQ(count(voicedrv::kind_g729), 30);
  EXPECT_EQ(count(voicedrv::kind_universal), 2);
  EXPECT_EQ(count(voicedrv::kind_g723), 0);  // never set

  command("voice count 65 fail EIO");
  errno = 0;
  EXPECT_EQ(count(voicedrv::kind_universal), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(count(voicedrv::kind_g729), 30);
  command("voice count 65 fail off");
  EXPECT_EQ(count(voicedrv::kind_universal), 2);

  const std::uint32_t kind = voicedrv::kind_g729;
  EXPECT_EQ(journal()[1], recLine(sysroot::voice, voicedrv::channel_count, kind, "30") + " (kind 4 count 30)");
  std::uint64_t wide = 4;
  EXPECT_EQ(drv::ioctl_ptr(fd_, voicedrv::channel_count, &wide, sizeof wide), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(command("voice"), (std::vector<std::string>{"count 4 30", "count 65 2", "version 0 0 0 0 0"}));
}

TEST_F(VoiceModelTest, VersionRecordIsFilledInTheProcessorsOrder) {
  command("voice version 0x01020304 2 3 4 5");
  fd_ = drv::open(sysroot::voice, O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd_, 0);
  voicedrv::Version v{};
  ASSERT_EQ(drv::ioctl_ptr(fd_, voicedrv::get_version, &v, sizeof v), 0);
  EXPECT_EQ(v.words[0], 0x01020304u);
  EXPECT_EQ(v.words[4], 5u);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&v);
#ifdef KORVEND_TARGET_BIG_ENDIAN
  EXPECT_EQ(bytes[0], 1);
#else
  EXPECT_EQ(bytes[0], 4);
#endif
  EXPECT_EQ(journal().back(),  // the record as the daemon passed it
            recLine(sysroot::voice, voicedrv::get_version, voicedrv::Version{}) + " (version 16909060 2 3 4 5)");

  command("fail voice 4014560A ENODEV 1");
  errno = 0;
  EXPECT_EQ(drv::ioctl_ptr(fd_, voicedrv::get_version, &v, sizeof v), -1);
  EXPECT_EQ(errno, ENODEV);
  command("refuse-open voice");
  EXPECT_EQ(drv::open(sysroot::voice, O_RDONLY), -1);

  for (const char* bad : {"voice count 4", "voice count x 3", "voice count 4 -1", "voice count 4 fail EBOGUS",
                          "voice version 1 2 3 4", "voice version 1 2 3 4 -5", "voice bogus"})
    EXPECT_NE(refusal(bad), "") << bad;
  command("voice reset");
  EXPECT_EQ(command("voice"), std::vector<std::string>{"version 0 0 0 0 0"});
}

}  // namespace
