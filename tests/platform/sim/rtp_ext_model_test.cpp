// The simulated RTP extension driver through raw descriptors: the order of
// its requests, the origin of each payload, the filter, what the daemon
// wrote and its pcap as tshark reads it.
#include "platform/sim/rtp_ext_model.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/rtp_ext_records.h"
#include "tests/sim_board_fixture.h"
#include "tests/skip_reason.h"

namespace {

using Lines = std::vector<std::string>;

class RtpExtTest : public hwtest::SimBoardTest {
 protected:
  void TearDown() override {
    for (int fd : fds_) ::close(fd);
    hwtest::SimBoardTest::TearDown();
  }
  int keep(int fd) {
    EXPECT_GE(fd, 0);
    fds_.push_back(fd);
    return fd;
  }
  int session(std::uint16_t etype = rtp_ext::vesk_identifier) {
    const int fd = keep(drv::open(sysroot::rtp_ext, O_RDWR | O_NONBLOCK));
    rtp_ext_init_params init{};
    init.etype = etype;
    EXPECT_EQ(drv::ioctl_ptr(fd, rtp_ext::INIT_SESSION, &init, sizeof init), 0);
    return fd;
  }
  static int request(int fd, unsigned long code, rtp_ext_attach_session_params rec) {
    errno = 0;
    return drv::ioctl_ptr(fd, code, &rec, sizeof rec);
  }
  static std::string readPayload(int fd) {
    char buf[2048];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "read " + std::to_string(n);
  }
  std::vector<int> fds_;
};

TEST_F(RtpExtTest, ASessionIsInitialisedFirstAndJoinsOnlyABegunRtpSessionOfTheDaemon) {
  const int fd = keep(drv::open(sysroot::rtp_ext, O_RDWR | O_NONBLOCK));
  const int rtp = keep(drv::open(sysroot::rtp, O_RDONLY));
  const int pid = static_cast<int>(::getpid());
  EXPECT_EQ(request(session(), rtp_ext::ATTACH_SESSION, {rtp, pid}), -1);  // not begun
  EXPECT_EQ(errno, EINVAL);
  rtp_connection_params begin{};
  ASSERT_EQ(drv::ioctl_ptr(rtp, rtpdrv::begin_session, &begin, sizeof begin), 0);
  EXPECT_EQ(request(fd, rtp_ext::ATTACH_SESSION, {rtp, pid}), -1);  // before the init
  EXPECT_EQ(errno, EINVAL);
  rtp_ext_init_params init{};
  ASSERT_EQ(drv::ioctl_ptr(fd, rtp_ext::INIT_SESSION, &init, sizeof init), 0);
  EXPECT_EQ(drv::ioctl_ptr(fd, rtp_ext::INIT_SESSION, &init, sizeof init), -1);
  EXPECT_EQ(errno, EBUSY);
  const std::pair<rtp_ext_attach_session_params, int> refused[] = {
      {{rtp, pid + 1}, ESRCH}, {{fd, pid}, EBADF}, {{rtp + 100, pid}, EBADF}};
  for (const auto& r : refused) {
    EXPECT_EQ(request(fd, rtp_ext::ATTACH_SESSION, r.first), -1);
    EXPECT_EQ(errno, r.second);
  }
  EXPECT_EQ(request(fd, rtp_ext::ATTACH_SESSION, {rtp, rtp_ext::caller_pid}), 0);
  EXPECT_EQ(request(fd, rtp_ext::ATTACH_SESSION, {rtp, pid}), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_TRUE(hwtest::contains(command("rtp-ext")[0], " attach fd=" + std::to_string(rtp) + " pid=-1 "));
  EXPECT_EQ(request(fd, rtp_ext::DETACH_SESSION, {rtp, pid}), 0);
  EXPECT_EQ(request(fd, rtp_ext::DETACH_SESSION, {rtp, pid}), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(RtpExtTest, EachReadGivesOnePayloadAndTheInformationBeforeItNamesItsOrigin) {
  const int fd = session();
  command("rtp-ext inject 1 10.0.0.5 0x1234 03 50 00 00");
  command("rtp-ext inject last 10.0.0.6 7 03 40 00 00 AA , 0102 , 03");
  for (const char* bad : {"rtp-ext inject 1 10.0.0.300 1 01", "rtp-ext inject 1 10.0.0.3 x 01",
                          "rtp-ext inject 1 10.0.0.3 1 0G", "rtp-ext inject 9 10.0.0.3 1 01",
                          "rtp-ext inject 1 10.0.0.3 1 01 , , 02"})
    EXPECT_NE(board().execute(bad).error, "") << bad;
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 0), 1);
  Lines got;
  for (;;) {
    rtp_ext_packet_info info{}, again{};
    const int more = drv::ioctl_ptr(fd, rtp_ext::PACKET_INFO, &info, sizeof info);
    EXPECT_EQ(drv::ioctl_ptr(fd, rtp_ext::PACKET_INFO, &again, sizeof again), more);  // asking twice moves nothing
    const std::string payload = readPayload(fd);
    if (more == 0) {
      EXPECT_EQ(payload, "read -1");
      EXPECT_EQ(errno, EAGAIN);  // never blocks
      break;
    }
    got.push_back(std::string(::inet_ntoa(in_addr{info.addr})) + " " + std::to_string(again.ssrc) + " " +
                  std::to_string(payload.size()));
  }
  EXPECT_EQ(got, (Lines{"10.0.0.5 4660 4", "10.0.0.6 7 5", "10.0.0.6 7 2", "10.0.0.6 7 1"}));
  // Closed: its queue goes, and it takes no more.
  command("rtp-ext inject 1 10.0.0.3 1 01");
  ::close(fd);
  fds_.clear();
  settle();
  EXPECT_TRUE(hwtest::hasLine(command("rtp-ext")[0], "session 1 closed ", " queued=0 read=4 written=0 dropped=0"));
  EXPECT_NE(board().execute("rtp-ext inject 1 10.0.0.3 1 01").error, "");
}

// While a filter is on, only its address gets in; what waits already stays.
TEST_F(RtpExtTest, TheFilterDropsWhatArrivesFromAnotherAddressUntilItIsReset) {
  const int fd = session();
  command("rtp-ext inject last 10.0.0.6 6 01");  // before the filter
  rtp_ext_filter f{::inet_addr("10.0.0.9"), 0};
  ASSERT_EQ(drv::ioctl_ptr(fd, rtp_ext::SET_FILTER, &f, sizeof f), 0);
  command("rtp-ext inject last 10.0.0.5 5 02 , 03");
  command("rtp-ext inject last 10.0.0.9 9 04");
  EXPECT_TRUE(hwtest::contains(command("rtp-ext")[0], " filter 10.0.0.9 queued=2 read=0 written=0 dropped=2"));
  ASSERT_EQ(drv::ioctl_ptr(fd, rtp_ext::RESET_FILTER, &f, sizeof f), 0);
  command("rtp-ext inject last 10.0.0.5 5 05");
  Lines got;
  for (rtp_ext_packet_info info{}; drv::ioctl_ptr(fd, rtp_ext::PACKET_INFO, &info, sizeof info) == 1;)
    got.push_back(std::string(::inet_ntoa(in_addr{info.addr})) + " " + std::to_string(readPayload(fd)[0]));
  EXPECT_EQ(got, (Lines{"10.0.0.6 1", "10.0.0.9 4", "10.0.0.5 5"}));
}

// A board that runs for days opens and closes sessions by the thousand.
TEST_F(RtpExtTest, OnlyTheLatestClosedSessionsAreKept) {
  const std::size_t cycles = sim::RtpExtModel::closed_kept + 50;
  for (std::size_t i = 0; i < cycles; ++i) {
    ::close(drv::open(sysroot::rtp_ext, O_RDWR | O_NONBLOCK));
    ASSERT_TRUE(pump([] { return board().devices(sysroot::rtp_ext).empty(); }));
  }
  const int open = session();
  settle();
  const Lines listing = command("rtp-ext");
  ASSERT_EQ(listing.size(), sim::RtpExtModel::closed_kept + 1);
  EXPECT_EQ(listing.front().rfind("session 51 closed ", 0), 0u) << listing.front();
  EXPECT_EQ(listing.back().rfind("session " + std::to_string(cycles + 1) + " open ", 0), 0u) << listing.back();
  EXPECT_NE(board().execute("rtp-ext written 50").error, "");
  command("rtp-ext reset");
  EXPECT_EQ(command("rtp-ext").size(), 1u);
  ::close(open);
  fds_.clear();
  settle();
  EXPECT_EQ(command("rtp-ext").size(), 1u);  // the one that closed since
}

// Each written payload is the header extension of an RTP packet whose
// profile is the session's identifier: tshark reads both kinds back.
TEST_F(RtpExtTest, WrittenPayloadsAreKeptAndGoToThePcapAsRtpHeaderExtensions) {
  command("rtp-ext pcap ext.pcap");
  const int vesk = session(rtp_ext::vesk_identifier);
  const int ed137 = session(rtp_ext::ed137_identifier);
  ASSERT_EQ(::write(vesk, "\x81\xF0\x00\x00", 4), 4);
  ASSERT_EQ(::write(ed137, "\x31\x40\x00\x00\x00", 5), 5);
  settle();
  const Lines written = command("rtp-ext written 1");
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].substr(written[0].find(' ')), " 81 F0 00 00");
  command("rtp-ext written 1 clear");
  EXPECT_EQ(command("rtp-ext written 1"), Lines{});
  EXPECT_NE(command("rtp-ext")[1].find(" written=1"), std::string::npos);

  if (std::system("tshark -v >/dev/null 2>&1") != 0)
    GTEST_SKIP() << testkit::missing("tshark") << ": no independent check";
  FILE* p = ::popen(("tshark -r " + root_.dir() + "/ext.pcap -d udp.port==5004,rtp -T fields -E separator=, "
                     "-e rtp.ext.profile -e rtp.ext.len -e rtp.hdr_ext -e rtp.ext.ed137a.ptt_type 2>/dev/null")
                        .c_str(),
                    "r");
  ASSERT_NE(p, nullptr);
  std::string text;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) text += buf;
  ASSERT_EQ(::pclose(p), 0) << text;
  EXPECT_EQ(text, "0x1337,1,0x81f00000,\n0x0167,2,,1\n");
}

}  // namespace
