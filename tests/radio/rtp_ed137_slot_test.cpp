// An ED-137 radio slot through the slot registry on the simulated board
// with the test clock, for what the end-to-end test does not reach: the
// init record of a session with its own packet size and signalling time,
// and a codec change, after which the extension joins the slot's new RTP
// session and the keep-alive goes on there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "radio/rtp_ed137_factory.h"
#include "tests/loopback_client.h"
#include "tests/slots/slots_fixture.h"

namespace {

using namespace slotstest;
using hwtest::hasLine;
using Lines = std::vector<std::string>;

rtp_ext_init_params initRecord(std::uint32_t word4, std::uint32_t word5) {
  rtp_ext_init_params init{};
  init.etype = rtp_ext::ed137_identifier;
  init.fill[0] = 1;
  init.fill[1] = 123;
  init.fill[2] = word4;
  init.fill[3] = word5;
  return init;
}

class ED137Slots : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    // Built by the process entry in the daemon, in this order.
    RtpFactory::instance();
    RtpED137Factory::instance();
    board().clear_journal();
  }
  static Lines written() {
    settle();
    Lines out;
    for (const std::string& l : command("rtp-ext written last")) out.push_back(l.substr(l.find(' ') + 1));
    command("rtp-ext written last clear");
    return out;
  }
};

// The number the factory's own descriptor had names something else once
// the session has begun again.
TEST_F(ED137Slots, ACodecChangeJoinsTheExtensionToTheSlotsCurrentSessionAndTheKeepAliveGoesOn) {
  // 40 ms a packet and a signalling time of 2: 200 / 40 x 2, and 2.
  ASSERT_EQ(exchange(create(1, 2,
                            "rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port " +
                                std::to_string(testkit::freePort() - 1) +
                                " }, pfactor 4, radio { status ed-137 : { header { ptt ptt-off, squ squ-on, ptt-id "
                                "0, ptt-mute FALSE, ptt-summation FALSE, sct FALSE }, radio-response { type "
                                "radio-txrx, txrxmode txrx, sigtime 2, ptt-id 0 } } } }, txPayload ptG711-Alaw, "
                                "rxPayload ptG711-Alaw }"))
                .size(),
            3u);
  EXPECT_STREQ(at(2)->GetName(), "rtp ext ED137 (GW)");
  EXPECT_EQ(journalWith("(init 359)").at(0).find("rec=" + hwtest::hex(initRecord(10, 2))) != std::string::npos, true);
  const Lines attach = journalWith("0xC0084501");
  ASSERT_EQ(attach.size(), 1u);
  const int factoryFd = std::stoi(attach[0].substr(attach[0].find("(attach fd ") + 11));
  std::vector<int> taken;
  for (int fd = ::open(sysroot::dev_null, O_RDONLY); fd >= 0 && fd <= factoryFd;
       fd = ::open(sysroot::dev_null, O_RDONLY))
    taken.push_back(fd);
  board().clear_journal();
  EXPECT_EQ(answer(cmd(2, 2, "ioctl : encoder-mode : ulaw")), success(2, 2));
  for (int fd : taken) ::close(fd);
  const Lines again = journalWith(sysroot::rtp_ext);
  ASSERT_GE(again.size(), 4u);
  EXPECT_TRUE(hasLine(again[0], "ioctl /dev/rtp_ext 0x20004502", "(detach)"));
  EXPECT_TRUE(hasLine(again[2], "ioctl /dev/rtp_ext 0xC0144500 rec=" + hwtest::hex(initRecord(10, 2)), "(init 359)"));
  EXPECT_TRUE(hasLine(again[3], "ioctl /dev/rtp_ext 0xC0084501", " pid -1 channel 4096)")) << again[3];
  written();
  clock.advance(1000);
  EXPECT_EQ(written(), Lines{"10 00 00 00"});

  // Gone: no abort any more.
  EXPECT_EQ(answer(cmd(3, 2, "destroy : NULL")), success(3, 2));
  clock.advance(5000);
  EXPECT_EQ(drain(), Lines{});
}

}  // namespace
