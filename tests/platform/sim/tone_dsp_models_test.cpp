// The simulated tone processor and DSP as a driver test would see them:
// requests through the device seam, events read from the descriptor, and the
// control commands tests drive them with.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "hardware/dsp_records.h"
#include "hardware/tone_records.h"
#include "platform/drv.h"
#include "platform/sim/board.h"
#include "platform/sim/dsp_model.h"
#include "platform/sim/dtmf_model.h"
#include "platform/sysroot.h"
#include "runtime/multiplexer.h"
#include "runtime/test_clock.h"
#include "tests/temp_root.h"

namespace {

namespace tc = Hardware::tonec;
namespace dp = Hardware::dsproc;

class ToneDspModelsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    sim::install_models(board());
    sim::DtmfModel::state().reset();
    sim::DspModel::state().reset();
    board().clear_journal();
    drv::install(&board());
  }
  void TearDown() override {
    for (int fd : fds_) ::close(fd);
    drv::install(nullptr);
    for (int i = 0; i < 3; ++i) multiplexer.run_once(0);
    sim::DtmfModel::state().reset();
    sim::DspModel::state().reset();
  }
  static sim::Board& board() { return sim::Board::instance(); }
  int open(const char* path, int flags) {
    const int fd = drv::open(path, flags);
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  // The reply's error, "" when done.
  static std::string refusal(const std::string& line) { return board().execute(line).error; }
  static std::vector<std::string> lines(const std::string& line) {
    sim::Board::Reply r = board().execute(line);
    EXPECT_EQ(r.error, "") << line;
    return r.lines;
  }

  TempRoot root_;
  std::vector<int> fds_;
};

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
  EXPECT_EQ(drv::ioctl_ptr(fd, tc::DTMF_ENABLE_DETECTOR, &enable, sizeof enable), 0);
  const std::string dev = std::string("ioctl ") + sysroot::dtmf;
  ASSERT_EQ(board().journal().size(), 6u);
  EXPECT_EQ(board().journal()[0], std::string("open ") + sysroot::dtmf + " rdonly|nonblock -> 0");
  EXPECT_EQ(board().journal()[2], dev + " 0x40084203 val=5 -> -1 EFAULT");
  EXPECT_EQ(board().journal()[4], dev + " 0x40044208 val=5 -> -1 ENOTTY");

  const int dsp = open(sysroot::dsp, O_RDWR | O_NONBLOCK);
  ASSERT_GE(dsp, 0);
  EXPECT_EQ(drv::ioctl_val(dsp, dp::DSPROC_VAD_VERSION, 0), 2);
  EXPECT_EQ(drv::ioctl_val(dsp, dp::DSPROC_VAD_VERSION, 1), -1);
  dp::dsproc_configure unknownKind{};
  unknownKind.kind = 3;
  EXPECT_EQ(drv::ioctl_ptr(dsp, dp::DSPROC_CONFIGURE, &unknownKind, sizeof unknownKind), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(drv::ioctl_val(dsp, dp::DSPROC_ENABLE, 5), -1);
  EXPECT_EQ(errno, EFAULT);
}

TEST_F(ToneDspModelsTest, DtmfEventsCarryTheTimeslotsLatestIdUnlessOneIsGiven) {
  EXPECT_EQ(refusal("dtmf 5 3"), std::string("no open ") + sysroot::dtmf);
  const int fd = open(sysroot::dtmf, O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  tc::dtmf_enable enable{5, 42};
  ASSERT_EQ(drv::ioctl_ptr(fd, tc::DTMF_ENABLE_DETECTOR, &enable, sizeof enable), 0);
  Mux::TestClock clock(777);
  EXPECT_EQ(refusal("dtmf 5 3"), "");
  EXPECT_EQ(refusal("dtmf 5 0x0B id 7 time 99"), "");
  EXPECT_EQ(refusal("dtmf 6 1"), "");
  tc::tonec_event ev[3];
  for (auto& e : ev) ASSERT_EQ(::read(fd, &e, sizeof e), static_cast<ssize_t>(sizeof e));
  EXPECT_EQ(ev[0].code, 3u);
  EXPECT_EQ(ev[0].timeslot, 5u);
  EXPECT_EQ(ev[0].timestamp, 777u);
  EXPECT_EQ(ev[0].id, 42u);
  EXPECT_EQ(ev[1].code, 11u);
  EXPECT_EQ(ev[1].timestamp, 99u);
  EXPECT_EQ(ev[1].id, 7u);
  EXPECT_EQ(ev[2].id, 0u);  // never enabled

  EXPECT_NE(refusal("dtmf 5 3 id"), "");
  EXPECT_NE(refusal("dtmf 5 3 ident 4"), "");
  EXPECT_NE(refusal("dtmf 5 -3"), "");
  EXPECT_NE(refusal("dtmf 5 99999999999"), "");
  EXPECT_NE(refusal("dtmf bogus"), "");
  EXPECT_NE(refusal("dtmf raw 0"), "");
  EXPECT_EQ(refusal("dtmf raw 0102 03"), "");
  unsigned char raw[16];
  EXPECT_EQ(::read(fd, raw, sizeof raw), 3);
  EXPECT_EQ(raw[2], 0x03);
}

TEST_F(ToneDspModelsTest, DspEventsCarryTheirPayloadAndTheFeaturesId) {
  const int fd = open(sysroot::dsp, O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  dp::dsproc_feature vad{6, 9, dp::FEATURE_VAD | dp::FEATURE_BSS};
  ASSERT_EQ(drv::ioctl_ptr(fd, dp::DSPROC_ENABLE, &vad, sizeof vad), 0);
  EXPECT_EQ(refusal("dsp 6 vad 2 0 1"), "");
  EXPECT_EQ(refusal("dsp 6 sd -5 id 3"), "");
  EXPECT_EQ(refusal("dsp 6 bss 0.25"), "");
  EXPECT_EQ(refusal("dsp 6 flags 0x80000001 3"), "");
  EXPECT_EQ(refusal("dsp 6 tone 2100 1"), "");
  dp::dsproc_event ev[5];
  for (auto& e : ev) ASSERT_EQ(::read(fd, &e, sizeof e), static_cast<ssize_t>(sizeof e));
  EXPECT_EQ(ev[0].type, dp::EVENT_VAD);
  EXPECT_EQ(ev[0].id, 9u);
  EXPECT_EQ(ev[0].payload.vad.dir_mask, 2u);
  EXPECT_EQ(ev[0].payload.vad.tx, 1);
  EXPECT_EQ(ev[1].type, dp::EVENT_SD);
  EXPECT_EQ(ev[1].id, 3u);
  EXPECT_EQ(ev[1].payload.sd.value, -5);
  EXPECT_EQ(ev[2].type, dp::EVENT_BSS);
  EXPECT_EQ(ev[2].id, 9u);
  EXPECT_FLOAT_EQ(ev[2].payload.bss.score, 0.25f);
  EXPECT_EQ(ev[3].type, dp::EVENT_FLAGS);
  EXPECT_EQ(ev[3].id, 0u);
  EXPECT_EQ(ev[3].payload.flags.flags, 0x80000001u);
  EXPECT_EQ(ev[4].type, dp::EVENT_TONE);
  EXPECT_EQ(ev[4].payload.tone.frequency, 2100u);
  // The words of a record are the processor's own: on the board the first
  // byte of the timeslot is its most significant.
  const auto* bytes = reinterpret_cast<const unsigned char*>(&ev[0]);
#ifdef KORVEND_TARGET_BIG_ENDIAN
  EXPECT_EQ(bytes[3], 6);
#else
  EXPECT_EQ(bytes[0], 6);
#endif

  EXPECT_NE(refusal("dsp 6 vad 2 0"), "");
  EXPECT_NE(refusal("dsp 6 bss x"), "");
  EXPECT_NE(refusal("dsp 6 noise 1"), "");
  EXPECT_NE(refusal("dsp 6 flags 1 2 id"), "");
  EXPECT_NE(refusal("dsp version -1"), "");
}

TEST_F(ToneDspModelsTest, FailuresOnDemandUntilCleared) {
  EXPECT_EQ(refusal("fail dtmf 400C4205 EIO"), "");
  EXPECT_EQ(refusal("refuse-open dtmf 19"), "");
  EXPECT_EQ(open(sysroot::dtmf, O_RDONLY), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(refusal("refuse-open dtmf off"), "");
  const int fd = open(sysroot::dtmf, O_RDONLY);
  ASSERT_GE(fd, 0);
  tc::dtmf_dial dial{4, 697, 1209, 100, 100};
  EXPECT_EQ(drv::ioctl_ptr(fd, tc::DTMF_DIAL, &dial, sizeof dial), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(refusal("fail clear"), "");
  Mux::TestClock clock(50);
  EXPECT_EQ(drv::ioctl_ptr(fd, tc::DTMF_DIAL, &dial, sizeof dial), 0);
  EXPECT_EQ(lines("dtmf tones 4"), std::vector<std::string>{"at=50 freq1=697 freq2=1209 amp1=100 amp2=100"});
  EXPECT_EQ(lines("dtmf state 4"),
            std::vector<std::string>{"ts=4 detector=off id=0 lms=off reject=off iva=off tone=697,1209,100,100"});

  EXPECT_EQ(refusal("fail dsp 40046404 EPERM"), "");
  const int dsp = open(sysroot::dsp, O_RDWR);
  ASSERT_GE(dsp, 0);
  EXPECT_EQ(drv::ioctl_val(dsp, dp::DSPROC_VAD_VERSION, 0), -1);
  EXPECT_EQ(errno, EPERM);
  EXPECT_EQ(refusal("fail clear"), "");
  EXPECT_EQ(refusal("dsp reset"), "");
  EXPECT_EQ(drv::ioctl_val(dsp, dp::DSPROC_VAD_VERSION, 0), 2);
  EXPECT_TRUE(lines("dsp state").empty());
  EXPECT_TRUE(lines("help").size() >= 4u);  // help, journal, dtmf, dsp
}

}  // namespace
