// The simulated MCC controller driven through raw descriptors: allocation,
// one frame per read and write, the transparent byte stream, pacing at the
// line rate, the mcc commands.
#include "platform/sim/mcc_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/hal_records.h"
#include "platform/mcc_records.h"
#include "runtime/test_clock.h"
#include "tests/sim_board_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class MccTest : public hwtest::SimBoardTest {
 protected:
  void SetUp() override {
    hwtest::SimBoardTest::SetUp();
    sim::Mcc::instance().reset_settings();
  }
  void TearDown() override {
    for (int fd : fds_) ::close(fd);
    hwtest::SimBoardTest::TearDown();
  }
  // A descriptor with a channel of the given driver mode; its number in *m.
  int channel(int mode, int* m, std::int32_t rxSize = 512) {
    const int fd = drv::open(sysroot::mcc_ctl, O_RDWR | O_NONBLOCK);
    EXPECT_GE(fd, 0);
    fds_.push_back(fd);
    mcc::MccAllocate rec{mode, rxSize, 0, 1, 4};
    EXPECT_EQ(drv::ioctl_ptr(fd, MCC_ALLOCATE, &rec, sizeof rec), 0);
    *m = drv::ioctl_val(fd, MCC_TIMESLOT, 0);
    return fd;
  }
  std::string readFrame(int fd) {
    static char buf[65536];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  }
  // The reads waiting on fd, each as its length.
  std::vector<std::size_t> readSizes(int fd) {
    std::vector<std::size_t> sizes;
    for (std::string f = readFrame(fd); !f.empty(); f = readFrame(fd)) sizes.push_back(f.size());
    return sizes;
  }
  std::vector<int> fds_;
};

TEST_F(MccTest, AllocationBindsOneChannelPerDescriptorUntilNoneIsFree) {
  const int fd = drv::open(sysroot::mcc_ctl, O_RDWR | O_NONBLOCK);
  fds_.push_back(fd);
  errno = 0;
  EXPECT_EQ(drv::ioctl_val(fd, MCC_TIMESLOT, 0), -1);  // nothing allocated yet
  EXPECT_EQ(errno, EINVAL);
  mcc::MccAllocate rec{7, 512, 0, 1, 4};
  EXPECT_EQ(drv::ioctl_ptr(fd, MCC_ALLOCATE, &rec, sizeof rec), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(drv::ioctl_ptr(fd, MCC_ALLOCATE, &rec, 16), -1);
  EXPECT_EQ(errno, EFAULT);
  rec.mode = mcc::ss7;
  EXPECT_EQ(drv::ioctl_ptr(fd, MCC_ALLOCATE, &rec, sizeof rec), 0);
  EXPECT_EQ(drv::ioctl_val(fd, MCC_TIMESLOT, 0), 1024);
  EXPECT_EQ(drv::ioctl_ptr(fd, MCC_ALLOCATE, &rec, sizeof rec), -1);
  EXPECT_EQ(errno, EBUSY);

  int m = 0;
  for (int i = 1; i < sim::Mcc::channel_count; ++i) channel(mcc::hdlc, &m);
  EXPECT_EQ(m, 1087);
  const int last = drv::open(sysroot::mcc_ctl, O_RDWR);
  fds_.push_back(last);
  EXPECT_EQ(drv::ioctl_ptr(last, MCC_ALLOCATE, &rec, sizeof rec), -1);
  EXPECT_EQ(errno, ENOSPC);

  // Closing the last descriptor of an open frees its channel (a dup keeps it).
  const int copy = ::dup(fds_[1]);
  ::close(fds_[1]);
  multiplexer.run_once(0);
  EXPECT_EQ(drv::ioctl_ptr(last, MCC_ALLOCATE, &rec, sizeof rec), -1);
  ::close(copy);
  fds_.erase(fds_.begin() + 1);
  multiplexer.run_once(0);
  multiplexer.run_once(0);
  EXPECT_EQ(drv::ioctl_ptr(last, MCC_ALLOCATE, &rec, sizeof rec), 0);
  EXPECT_EQ(drv::ioctl_val(last, MCC_TIMESLOT, 0), 1025);
}

// 97 octets and three of FCS and flag are 100 octets: 12.5 ms at 64 kbit/s.
TEST_F(MccTest, FramesTravelOneAtATimeAtTheLineRate) {
  Mux::TestClock clock(1000);
  int a, b;
  const int fa = channel(mcc::hdlc, &a);
  const int fb = channel(mcc::hdlc, &b);
  command("loop 2");
  command("matrix connect 64 " + std::to_string(a));  // a sends on trunk 2 timeslot 0
  command("matrix connect " + std::to_string(b) + " 64");  // b hears it
  const std::string one(97, '1'), two(97, '2');
  ASSERT_EQ(::write(fa, one.data(), one.size()), 97);
  ASSERT_EQ(::write(fa, two.data(), two.size()), 97);
  multiplexer.run_once(0);  // the controller takes the first frame
  clock.advance(12);
  EXPECT_EQ(readFrame(fb), "");
  clock.advance(1);
  EXPECT_EQ(readFrame(fb), one);
  multiplexer.run_once(0);  // and the second, which follows back to back
  clock.advance(11);
  EXPECT_EQ(readFrame(fb), "");
  clock.advance(1);  // 25 ms after the first began
  EXPECT_EQ(readFrame(fb), two);
  EXPECT_EQ(command("mcc"), (Lines{"1024 mode 0 sent 2 lost 0 received 0 dropped 0 queued 0",
                                   "1025 mode 0 sent 0 lost 0 received 2 dropped 0 queued 0"}));
}

TEST_F(MccTest, FrameThatReachesNobodyIsLostAndOneReachingTwoIsCopied) {
  int a, b, c;
  const int fa = channel(mcc::hdlc, &a);
  const int fb = channel(mcc::hdlc, &b);
  const int fc = channel(mcc::hdlc, &c);
  ASSERT_EQ(::write(fa, "x", 1), 1);
  for (int i = 0; i < 20 && command("mcc")[0].find("lost 1") == std::string::npos; ++i) multiplexer.run_once(5);
  EXPECT_EQ(command("mcc")[0], "1024 mode 0 sent 1 lost 1 received 0 dropped 0 queued 0");
  // On a bus wire every controller that listens hears it, the sender too.
  command("matrix connect 9000 " + std::to_string(a));
  for (int m : {a, b, c}) command("matrix connect " + std::to_string(m) + " 9000");
  ASSERT_EQ(::write(fa, "yz", 2), 2);
  std::string got[3];
  for (int i = 0; i < 200 && (got[0].empty() || got[1].empty() || got[2].empty()); ++i) {
    multiplexer.run_once(5);
    const int fds[] = {fa, fb, fc};
    for (int k = 0; k < 3; ++k)
      if (got[k].empty()) got[k] = readFrame(fds[k]);
  }
  EXPECT_EQ(got[0], "yz");
  EXPECT_EQ(got[1], "yz");
  EXPECT_EQ(got[2], "yz");
}

TEST_F(MccTest, CommandsCheckTheirArgumentsAndTapsWriteAPcapFile) {
  for (const char* bad : {"mcc stall", "mcc stall 1023", "mcc stall 1088", "mcc bogus 1024", "mcc drop 1024",
                          "mcc drop 1024 -1", "mcc error 1024", "mcc tap 1024", "mcc tap 1024 f.pcap sideways"})
    EXPECT_NE(board().execute(bad).error, "") << bad;
  EXPECT_NE(board().execute("mcc tap 1024 no/such/dir/f.pcap").error.find("cannot write"), std::string::npos);
  command("mcc tap 1031 t.pcap mtp2 rx");
  command("mcc tap 1031 off");
  EXPECT_EQ(command("mcc"), (Lines{}));

  // The file: a pcap header (link type MTP2) and one record per frame.
  command("mcc tap 1024 t.pcap mtp2");
  int a;
  const int fa = channel(mcc::ss7, &a);
  command("loop 0");
  command("matrix connect 5 1024");
  command("matrix connect 1024 5");
  ASSERT_EQ(::write(fa, "\x01\x02\x03", 3), 3);
  std::string back;
  for (int i = 0; i < 200 && back.empty(); ++i) {
    multiplexer.run_once(5);
    back = readFrame(fa);
  }
  EXPECT_EQ(back, "\x01\x02\x03");
  std::FILE* f = std::fopen((root_.dir() + "/t.pcap").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char file[200];
  const std::size_t n = std::fread(file, 1, sizeof file, f);
  std::fclose(f);
  ASSERT_EQ(n, 24u + 2 * (16u + 3u));  // sent and received
  std::uint32_t magic, linktype, len;
  std::memcpy(&magic, file, 4);
  std::memcpy(&linktype, file + 20, 4);
  std::memcpy(&len, file + 24 + 8, 4);
  EXPECT_EQ(magic, 0xA1B2C3D4u);
  EXPECT_EQ(linktype, 140u);
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(std::memcmp(file + 24 + 16, "\x01\x02\x03", 3), 0);
}

// A player writes long runs; a transparent channel takes one whole, sends it
// at 8000 octets a second without frame overhead, and its reader gets it in
// pieces of its receive packet size.
TEST_F(MccTest, TransparentChannelCarriesLongWritesAsAStreamCutToTheReadSize) {
  Mux::TestClock clock(1000);
  int a, b;
  const int fa = channel(mcc::transparent, &a, 1024);
  const int fb = channel(mcc::transparent, &b, 1024);
  command("matrix connect 9000 " + std::to_string(a));
  command("matrix connect " + std::to_string(b) + " 9000");
  command("mcc capture " + std::to_string(a) + " played.raw");
  std::string run(8192, 'x');
  for (std::size_t i = 0; i < run.size(); ++i) run[i] = static_cast<char>(i * 7);
  ASSERT_EQ(::write(fa, run.data(), run.size()), 8192);
  multiplexer.run_once(0);
  clock.advance(1023);  // 8192 octets are 1024 ms on the line
  EXPECT_EQ(readFrame(fb), "");
  clock.advance(1);
  std::string got;
  for (std::string piece = readFrame(fb); !piece.empty(); piece = readFrame(fb)) {
    EXPECT_LE(piece.size(), 1024u);
    got += piece;
  }
  EXPECT_EQ(got, run);
  EXPECT_EQ(command("mcc written " + std::to_string(a)).size(), 1u);
  std::ifstream played(root_.dir() + "/played.raw", std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(played)), std::istreambuf_iterator<char>()), run);
}

TEST_F(MccTest, InjectedOctetsArriveAsFramesOrAsStreamPieces) {
  int f, t;
  const int ff = channel(mcc::hdlc, &f);
  const int ft = channel(mcc::transparent, &t, 4);
  const std::string fs = std::to_string(f), ts = std::to_string(t);
  EXPECT_NE(board().execute("mcc inject 1030 01").error.find("not in use"), std::string::npos);
  for (const char* bad : {"mcc inject 1024", "mcc inject 1024 0g", "mcc inject 1024 file", "mcc inject 1024 file x 0",
                          "mcc inject 1024 file no-such-file"})
    EXPECT_NE(board().execute(bad).error, "") << bad;

  // A frame channel: each injection one read, whatever its length; one too
  // long for any read is dropped, and the next still comes.
  command("mcc inject " + fs + " 0102 03");
  command("mcc inject " + fs + " " + std::string(2 * 6000, 'a'));
  command("mcc inject " + fs + " 04");
  multiplexer.run_once(0);
  EXPECT_EQ(readFrame(ff), "\x01\x02\x03");
  EXPECT_EQ(readFrame(ff), "\x04");
  EXPECT_NE(command("mcc")[0].find("received 3 dropped 1"), std::string::npos);

  // A transparent channel reads at most 4 octets at a time here.
  command("mcc inject " + ts + " 00112233445566778899");
  EXPECT_EQ(readSizes(ft), (std::vector<std::size_t>{4, 4, 2}));
  {
    std::ofstream file(root_.dir() + "/in.raw", std::ios::binary);
    file << "abcdefghij";
  }
  command("mcc inject " + ts + " file in.raw 3");  // pieces of 3, each cut to the read size
  EXPECT_EQ(readSizes(ft), (std::vector<std::size_t>{3, 3, 3, 1}));
  command("mcc inject " + fs + " file in.raw");  // the whole file one frame
  EXPECT_EQ(readFrame(ff), "abcdefghij");
}

TEST_F(MccTest, WrittenKeepsTheLatestWritesOfTheCurrentAllocation) {
  int a;
  const int fa = channel(mcc::hdlc, &a);
  const std::string as = std::to_string(a);
  EXPECT_EQ(command("mcc written " + as), (Lines{}));
  Mux::TestClock clock(1000);
  for (unsigned i = 0; i < sim::Mcc::written_writes + 2; ++i) {
    const unsigned char frame[2] = {static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
    ASSERT_EQ(::write(fa, frame, 2), 2) << i;
    multiplexer.run_once(0);
    clock.advance(1);
  }
  Lines w = command("mcc written " + as);
  ASSERT_EQ(w.size(), sim::Mcc::written_writes + 1);
  EXPECT_EQ(w[0], "written: 2 earlier writes dropped");
  EXPECT_EQ(w[1], "00 02");
  EXPECT_EQ(w.back(), "04 01");
  command("mcc written " + as + " clear");
  EXPECT_EQ(command("mcc written " + as), (Lines{}));

  ASSERT_EQ(::write(fa, "\xAB", 1), 1);
  multiplexer.run_once(0);
  EXPECT_EQ(command("mcc written " + as), (Lines{"AB"}));
  // The channel freed and taken again starts with nothing written.
  ::close(fa);
  fds_.clear();
  for (int i = 0; i < 3; ++i) multiplexer.run_once(0);
  int again;
  channel(mcc::hdlc, &again);
  ASSERT_EQ(again, a);
  EXPECT_EQ(command("mcc written " + as), (Lines{}));
}

}  // namespace
