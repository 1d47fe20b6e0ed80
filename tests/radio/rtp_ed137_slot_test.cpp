// The ED-137 radio slots and their factory, through the slot registry on
// the simulated board with the test clock: the init record of the
// negotiated session, the keep-alive and the no-reception abort (across the
// loop clock's wrap), the input following the radio's squelch, which
// creates and requests are taken, a codec change and the destroy.
#include "radio/rtp_ed137_slot.h"

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

std::string header(const char* ptt, const char* squ) {
  return std::string("header { ptt ") + ptt + ", squ " + squ +
         ", ptt-id 0, ptt-mute FALSE, ptt-summation FALSE, sct FALSE }";
}

// A create whose RTCP port (the next one) is free: radio slots do not share it.
std::string ed137(const std::string& status, const std::string& codecMore = "", const std::string& radioMore = "") {
  return "rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port " +
         std::to_string(testkit::freePort() - 1) + " }" + codecMore + ", radio { status ed-137 : { " + status + " }" +
         radioMore + " } }, txPayload ptG711-Alaw, rxPayload ptG711-Alaw }";
}
std::string response(const std::string& fields) {
  return ", radio-response { type radio-txrx, txrxmode txrx, " + fields + " }";
}
std::string rtpExt(const char* squ) {
  return "ioctl : rtpExt : ed-137 : { addr { session-addr \"10.0.0.9\", session-ssrc 9 }, params rx : { " +
         header("ptt-off", squ) + " } }";
}
std::string abort151(int slot) { return "{ slot " + std::to_string(slot) + ", pdu signal : abort : 151 }"; }

rtp_ext_init_params initRecord(std::uint32_t word4, std::uint32_t word5) {
  rtp_ext_init_params init{};
  init.etype = 359;
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
  static Lines lines(const std::string& part) {
    Lines out;
    for (const std::string& l : journal())
      if (l.find(part) != std::string::npos) out.push_back(l);
    return out;
  }
  static RTPSignalling::ED137RadioControl* control(unsigned n) {
    auto* slot = dynamic_cast<RtpExtSlot*>(at(n));
    return slot ? dynamic_cast<RTPSignalling::ED137RadioControl*>(slot->radio_control()) : nullptr;
  }
  // The payloads written on the newest extension session since the last call.
  static Lines written() {
    settle();
    Lines out;
    for (const std::string& l : command("rtp-ext written last")) out.push_back(l.substr(l.find(' ') + 1));
    command("rtp-ext written last clear");
    return out;
  }
};

TEST_F(ED137Slots, TheNegotiatedSessionKeepsAliveAtHalfTheSilenceLimitAcrossTheLoopClocksWrap) {
  clock.set(0xFFFFFFFFu - 200);
  ASSERT_EQ(exchange(create(1, 3,
                            ed137(header("ptt-off", "squ-on") +
                                  response("r2s-keepalive-period 100, r2s-keepalive-multiplier 3, ptt-id 0") +
                                  ", sqi { bss-method c-n, bss-quality 20 }"))),
            (Lines{success(1, 3), stream(3, "transmitter", 4096), stream(3, "receiver", 4096)}));
  EXPECT_STREQ(at(3)->GetName(), "rtp ext ED137 (GW)");
  const Lines ext = lines("/dev/rtp_ext");
  ASSERT_EQ(ext.size(), 3u);
  EXPECT_TRUE(hasLine(ext[1], "ioctl /dev/rtp_ext 0xC0144500 rec=" + hwtest::hex(initRecord(5, 1)), "(init 359)"))
      << ext[1];
  EXPECT_TRUE(hasLine(ext[2], "ioctl /dev/rtp_ext 0xC0084501", " pid -1 channel 4096)")) << ext[2];
  ASSERT_NE(control(3), nullptr);
  EXPECT_EQ(control(3)->status_interval(), 150u);
  EXPECT_FALSE(control(3)->params().transmission_depends_on_squ);

  // The create's status at once, then a keep-alive every 150 ms, the quality
  // index 20 first in the SQI; from 300 ms of silence on, an abort per tick.
  EXPECT_EQ(written(), Lines{"10 01 11 A2"});
  for (int tick = 1; tick <= 4; ++tick) {
    clock.advance(150);
    EXPECT_EQ(written(), Lines{"10 01 11 A2"}) << tick;
    EXPECT_EQ(drain(), tick < 2 ? Lines{} : Lines{abort151(3)}) << tick;
  }
  EXPECT_EQ(answer(cmd(2, 3, "destroy : NULL")), success(2, 3));
  EXPECT_EQ(lines("/dev/rtp_ext").back(), "close /dev/rtp_ext");
  clock.advance(1000);
  EXPECT_EQ(drain(), Lines{});
}

TEST_F(ED137Slots, WithoutAResponseTheDefaultsStandAndThePacketSizeAndSigtimeSetTheRepetition) {
  ASSERT_EQ(exchange(create(1, 2, ed137(header("ptt-off", "squ-off"), "", ", bss-enable TRUE"))).size(), 3u);
  EXPECT_EQ(lines("(init 359)").at(0).find("rec=" + hwtest::hex(initRecord(10, 1))) != std::string::npos, true);
  EXPECT_TRUE(contains(lines("0xC0105202").at(0), "rec=" + hwtest::hex(rtp_channel_info{-1, -1, -1, 1})));
  EXPECT_TRUE(contains(command("dsp state 4096").at(0), "enabled=0x10 "));
  const auto* c = control(2);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->status_interval(), 1000u);
  EXPECT_EQ(c->params().radio_type, 2);
  EXPECT_EQ(c->params().txrx_mode, 2);
  written();
  clock.advance(999);
  EXPECT_EQ(written(), Lines{});
  clock.advance(1);
  EXPECT_EQ(written(), Lines{"00 00 00 00"});
  EXPECT_EQ(drain(), Lines{});
  clock.advance(1000);
  EXPECT_EQ(drain(), Lines{abort151(2)});

  // pfactor 4 (40 ms a packet) and sigtime 2: 200 / 40 x 2, and 2.
  board().clear_journal();
  ASSERT_EQ(exchange(create(2, 3, ed137(header("ptt-off", "squ-off") + response("sigtime 2, ptt-id 0"), ", pfactor 4")))
                .size(),
            3u);
  EXPECT_EQ(lines("(init 359)").at(0).find("rec=" + hwtest::hex(initRecord(10, 2))) != std::string::npos, true);
  for (int n : {2, 3}) EXPECT_EQ(answer(cmd(3, n, "destroy : NULL")), success(3, n));
}

TEST_F(ED137Slots, TheInputWaitsForTheRadiosSquelchWhenTheTransmissionDependsOnIt) {
  ASSERT_EQ(exchange(create(1, 1, "trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(
      exchange(
          create(2, 2, ed137(header("ptt-off", "squ-off") + response("ptt-id 0, transmission-depend-on-squ TRUE"))))
          .size(),
      3u);
  board().clear_journal();
  EXPECT_EQ(answer(cmd(3, 1, "connect : 2")), success(3, 1));
  EXPECT_EQ(answer(cmd(4, 2, "connect : 1")), success(4, 2));
  EXPECT_EQ(lines("(input on)"), Lines{});
  for (const char* squ : {"squ-on", "squ-on", "squ-off", "squ-off", "squ-on"})
    EXPECT_EQ(answer(cmd(5, 2, rtpExt(squ))), success(5, 2)) << squ;
  EXPECT_EQ(lines("(input on)").size(), 2u);
  EXPECT_EQ(lines("(input off)").size(), 1u);

  // Without the dependency the input starts with the connection.
  ASSERT_EQ(exchange(create(6, 3, ed137(header("ptt-off", "squ-off") + response("ptt-id 0")))).size(), 3u);
  board().clear_journal();
  EXPECT_EQ(answer(cmd(7, 1, "connect : 3")), success(7, 1));
  EXPECT_EQ(lines("(input on)").size(), 1u);
  for (int n : {1, 2, 3}) EXPECT_EQ(exchange(cmd(8, n, "destroy : NULL")).front(), success(8, n));
}

TEST_F(ED137Slots, OnlyED137RadiosAreTakenAndOnlyED137RequestsGoToTheRadio) {
  LGCP::CreateParams vesk;
  ASSERT_TRUE(vesk.setFromValueNotation(
      "rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port 40000 }, radio { status vesk : { "
      "flags { prio 15, ptt FALSE, bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, rv FALSE, "
      "resv FALSE, selcall 0, li 0 }, freq { channel 1, frequency \"145.5\" }, remote { no 0, ch 0 }, squelshe on, "
      "rte a1b, standby-state-channel active, standby-group 0, standby-state-receiver active } } }, "
      "txPayload ptG711-Alaw, rxPayload ptG711-Alaw }"));
  EXPECT_EQ(RtpED137Factory::instance().INewSlot(vesk), nullptr);
  LGCP::CreateParams plain;
  ASSERT_TRUE(
      plain.setFromValueNotation("rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port 40000 } }, "
                                 "txPayload ptG711-Alaw, rxPayload ptG711-Alaw }"));
  EXPECT_EQ(RtpED137Factory::instance().INewSlot(plain), nullptr);
  EXPECT_EQ(lines("/dev/rtp"), Lines{});
  EXPECT_FALSE(contains(log(), "do create rtp ext ED137"));

  ASSERT_EQ(exchange(create(1, 2, ed137(header("ptt-off", "squ-off")))).size(), 3u);
  EXPECT_TRUE(contains(log(), "rtp ext ED137[0,0,0,0]: do create rtp ext ED137: {"));
  written();
  EXPECT_EQ(answer(cmd(2, 2,
                       "ioctl : rtpExt : vesk : { addr { session-addr \"10.0.0.9\", session-ssrc 9 }, params "
                       "gw-set-remote : { remote { no 4, ch 5 } } }")),
            error(2, 2, "unsupported"));
  EXPECT_EQ(written(), Lines{});
  EXPECT_EQ(answer(cmd(3, 2, rtpExt("squ-on"))), success(3, 2));
  EXPECT_EQ(written(), Lines{"10 00 00 00"});
  EXPECT_EQ(answer(cmd(4, 2, "destroy : NULL")), success(4, 2));
}

// The session begins again on a new descriptor; the number the factory's
// own descriptor had now names something else.
TEST_F(ED137Slots, ACodecChangeJoinsTheExtensionToTheSlotsCurrentSessionAndTheKeepAliveGoesOn) {
  ASSERT_EQ(exchange(create(1, 2, ed137(header("ptt-off", "squ-on")))).size(), 3u);
  const Lines attach = lines("0xC0084501");
  ASSERT_EQ(attach.size(), 1u);
  const int factoryFd = std::stoi(attach[0].substr(attach[0].find("(attach fd ") + 11));
  std::vector<int> taken;
  for (int fd = ::open("/dev/null", O_RDONLY); fd >= 0 && fd <= factoryFd; fd = ::open("/dev/null", O_RDONLY))
    taken.push_back(fd);
  board().clear_journal();
  EXPECT_EQ(answer(cmd(2, 2, "ioctl : encoder-mode : ulaw")), success(2, 2));
  for (int fd : taken) ::close(fd);
  const Lines again = lines("/dev/rtp_ext");
  ASSERT_GE(again.size(), 4u);
  EXPECT_TRUE(hasLine(again[0], "ioctl /dev/rtp_ext 0x20004502", "(detach)"));
  EXPECT_TRUE(hasLine(again[2], "ioctl /dev/rtp_ext 0xC0144500 rec=" + hwtest::hex(initRecord(10, 1)), "(init 359)"));
  EXPECT_TRUE(hasLine(again[3], "ioctl /dev/rtp_ext 0xC0084501", " pid -1 channel 4096)")) << again[3];
  written();
  clock.advance(1000);
  EXPECT_EQ(written(), Lines{"10 00 00 00"});
  EXPECT_EQ(answer(cmd(3, 2, "destroy : NULL")), success(3, 2));
}

}  // namespace
