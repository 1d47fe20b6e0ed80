// The VESK radio slots and their factory, through the slot registry on the
// simulated board: which creates the factory takes, the forms of the
// extension session, the radio's DSP settings, requests to the radio, a
// codec change, and the input following the radio's squelch.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "radio/rtp_vesk_factory.h"
#include "radio/rtp_vesk_slot.h"
#include "tests/loopback_client.h"
#include "tests/slots/slots_fixture.h"

namespace {

using namespace slotstest;
using hwtest::hasLine;
using Lines = std::vector<std::string>;

std::string flags(int prio, const char* sql) {
  return "flags { prio " + std::to_string(prio) + ", ptt FALSE, bss FALSE, vad-rx FALSE, vad-tx FALSE, sql " + sql +
         ", sh FALSE, pwr FALSE, rv FALSE, resv FALSE, selcall 0, li 0 }";
}

// A port whose next one is free for the RTCP socket: radio slots do not
// share theirs.
int rtpPort() { return testkit::freePort() - 1; }

std::string vesk(const std::string& radioMore = "", const std::string& codecMore = "", int port = rtpPort()) {
  return "rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port " + std::to_string(port) + " }, " +
         "radio { status vesk : { " + flags(15, "FALSE") +
         ", freq { channel 1, frequency \"145.5\" }, remote { no 0, ch 0 }, squelshe on, rte a1b, "
         "standby-state-channel active, standby-group 0, standby-state-receiver active }" +
         radioMore + " }" + codecMore + " }, txPayload ptG711-Alaw, rxPayload ptG711-Alaw }";
}
std::string rtpExt(const std::string& params) {
  return "ioctl : rtpExt : vesk : { addr { session-addr \"10.0.0.9\", session-ssrc 9 }, params " + params + " }";
}

class VeskSlots : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    // Built by the process entry in the daemon, in this order.
    RtpFactory::instance();
    RtpVESKFactory::instance();
    board().clear_journal();
  }
  static RtpExtSlot* radio(unsigned n) { return dynamic_cast<RtpExtSlot*>(at(n)); }
};

TEST_F(VeskSlots, AVeskRadioCreateGetsAGatewayWithItsOwnExtensionSessionAndStatusTimer) {
  const std::string plain = "rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port " +
                            std::to_string(rtpPort()) + " } }, txPayload ptG711-Alaw, rxPayload ptG711-Alaw }";
  EXPECT_EQ(answer(create(1, 2, plain)), "(3 messages)");
  EXPECT_STREQ(at(2)->GetName(), "rtp");
  ASSERT_EQ(exchange(create(2, 3, vesk())),
            (Lines{success(2, 3), stream(3, "transmitter", 4097), stream(3, "receiver", 4097)}));
  ASSERT_NE(radio(3), nullptr);
  EXPECT_STREQ(at(3)->GetName(), "rtp ext VESK (GW)");
  const Lines ext = journalWith(sysroot::rtp_ext);
  ASSERT_EQ(ext.size(), 3u);
  EXPECT_TRUE(hasLine(ext[1], "ioctl /dev/rtp_ext 0xC0144500", "(init 4919)"));
  EXPECT_TRUE(hasLine(ext[2], "ioctl /dev/rtp_ext 0xC0084501",
                      " pid " + std::to_string(::getpid()) + " channel 4097)"));
  // The RTCP socket is not shared; the channel word carries no BSS.
  EXPECT_TRUE(contains(journalWith("0xC0105202")[1], "rec=" + hwtest::hex(rtp_channel_info{-1, -1, -1, 0})));
  auto* control = dynamic_cast<RTPSignalling::VeskRadioGWControl*>(radio(3)->radio_control());
  ASSERT_NE(control, nullptr);
  EXPECT_TRUE(control->timer_armed());
  EXPECT_EQ(control->radio_state().squelch, 2);  // the create's status, merged after the answer
  clock.advance(1000);
  settle();
  EXPECT_EQ(command("rtp-ext written last").size(), 4u);  // flag, channel, remote control, standby

  // ED-137 radios are not this factory's (another factory of this program
  // may take them).
  LGCP::CreateParams ed137;
  ASSERT_TRUE(ed137.setFromValueNotation(
      "rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port 40002 }, radio "
      "{ status ed-137 : { header { ptt ptt-off, squ squ-off, ptt-id 0, ptt-mute FALSE, "
      "ptt-summation FALSE, sct FALSE } } } }, txPayload ptG711-Alaw, rxPayload ptG711-Alaw }"));
  EXPECT_EQ(RtpVESKFactory::instance().INewSlot(ed137), nullptr);
  for (int n : {2, 3}) EXPECT_EQ(answer(cmd(4, n, "destroy : NULL")), success(4, n));
  EXPECT_EQ(journalWith(sysroot::rtp_ext).back(), "close /dev/rtp_ext");
}

TEST_F(VeskSlots, OnlyRtpAttachesTheGivenSessionAndRunsNoStatusTimer) {
  ASSERT_EQ(exchange(create(1, 2, vesk("", ", rtp-e2m { slot 1, channel 2, mode only-rtp : { fd 7, pid 123 } }")))
                .size(),
            3u);
  EXPECT_EQ(journalWith(sysroot::rtp_ext), Lines{});
  EXPECT_TRUE(hasLine(journalWith("0xC0085209").at(0), "ioctl /dev/rtp 0xC0085209", "-> 0 (attach fd 7 pid 123)"));
  EXPECT_FALSE(radio(2)->radio_control()->timer_armed());
  // A codec change begins the session again and attaches it again: the
  // control has let go of the old session, whose channel is free.
  EXPECT_EQ(answer(cmd(2, 2, "ioctl : encoder-mode : ulaw")), success(2, 2));
  EXPECT_EQ(journalWith("0xC0085209").size(), 2u);
  EXPECT_EQ(journalWith("0xC0105202").back().find("-> 0 (channel 4096)") != std::string::npos, true);

  // Without a mode, or with both, the slot has its own extension session.
  for (const char* e2m : {", rtp-e2m { slot 1, channel 2 }", ", rtp-e2m { slot 1, channel 2, mode "
                                                             "both-rtp-and-rtp-ext : NULL }"}) {
    board().clear_journal();
    ASSERT_EQ(exchange(create(3, 3, vesk("", e2m))).size(), 3u) << e2m;
    EXPECT_EQ(journalWith("(init 4919)").size(), 1u) << e2m;
    EXPECT_TRUE(radio(3)->radio_control()->timer_armed());
    EXPECT_EQ(answer(cmd(4, 3, "destroy : NULL")), success(4, 3));
  }
  EXPECT_EQ(answer(cmd(5, 2, "destroy : NULL")), success(5, 2));
}

TEST_F(VeskSlots, TheRadiosBssNoiseGateAndDelaysGoToTheChannelsDsp) {
  ASSERT_EQ(exchange(create(1, 2, vesk(", bss-enable TRUE, ng-enable TRUE, selcal-delay 40"))).size(), 3u);
  EXPECT_TRUE(contains(journalWith("0xC0105202")[0], "rec=" + hwtest::hex(rtp_channel_info{-1, -1, -1, 1})));
  const std::string dsp = command("dsp state 4096").at(0);
  EXPECT_TRUE(contains(dsp, "enabled=0x90 ")) << dsp;  // BSS and the noise gate
  EXPECT_TRUE(contains(dsp, " delays=0,0,40")) << dsp;
  EXPECT_EQ(answer(cmd(2, 2, "destroy : NULL")), success(2, 2));
}

TEST_F(VeskSlots, RequestsGoToTheRadioAndOnlyVeskOnes) {
  ASSERT_EQ(exchange(create(1, 2, vesk())).size(), 3u);
  command("rtp-ext written last clear");
  EXPECT_EQ(answer(cmd(2, 2, rtpExt("wm-flags : { " + flags(3, "TRUE") + " }"))),
            success(2, 2));
  EXPECT_TRUE(radio(2)->radio_control()->GetSQU());
  EXPECT_EQ(command("rtp-ext written last").size(), 1u);
  EXPECT_EQ(answer(cmd(3, 2,
                       "ioctl : rtpExt : ed-137 : { addr { session-addr \"10.0.0.9\", session-ssrc 9 }, params tx : "
                       "{ header { ptt ptt-off, squ squ-off, ptt-id 0, ptt-mute FALSE, ptt-summation FALSE, sct "
                       "FALSE } } }")),
            error(3, 2, "unsupported"));
  EXPECT_EQ(command("rtp-ext written last").size(), 1u);
  // A failure the control reports reaches the controller as an abort.
  radio(2)->RadioControlNotify(151);
  EXPECT_EQ(drain(), Lines{"{ slot 2, pdu signal : abort : 151 }"});
  EXPECT_EQ(answer(cmd(4, 2, "destroy : NULL")), success(4, 2));
}

// The session is begun again on a new descriptor; the number the factory's
// own descriptor had now names something else.
TEST_F(VeskSlots, ACodecChangeJoinsTheExtensionToTheSlotsCurrentSession) {
  ASSERT_EQ(exchange(create(1, 2, vesk())).size(), 3u);
  const Lines attach = journalWith("0xC0084501");
  ASSERT_EQ(attach.size(), 1u);
  const std::string factoryFd = attach[0].substr(attach[0].find("(attach fd ") + 11);
  std::vector<int> taken;
  for (int fd = ::open(sysroot::dev_null, O_RDONLY); fd >= 0 && fd <= std::stoi(factoryFd);
       fd = ::open(sysroot::dev_null, O_RDONLY))
    taken.push_back(fd);
  board().clear_journal();
  EXPECT_EQ(answer(cmd(2, 2, "ioctl : encoder-mode : ulaw")), success(2, 2));
  EXPECT_EQ(journalWith("(detach)").size(), 1u);
  const Lines again = journalWith("0xC0084501");
  ASSERT_EQ(again.size(), 1u);
  EXPECT_TRUE(contains(again[0], "-> 0 (attach fd ")) << again[0];
  EXPECT_TRUE(contains(again[0], " channel 4096)")) << again[0];
  for (int fd : taken) ::close(fd);
  EXPECT_EQ(answer(cmd(3, 2, "destroy : NULL")), success(3, 2));
}

// A radio that could not talk to its radio must not pass for one that can.
TEST_F(VeskSlots, ACreateWithoutAnExtensionSessionFailsAndLeavesNothingOpen) {
  for (const char* fault : {"refuse-open rtp_ext", "fail rtp_ext C0144500 EIO 1", "fail rtp_ext C0084501 EINVAL 1"}) {
    command(fault);
    EXPECT_EQ(answer(create(1, 2, vesk())), error(1, 2, "insufficientResources")) << fault;
    EXPECT_EQ(at(2), nullptr) << fault;
    command("refuse-open rtp_ext off");
    settle();
    for (const std::string& l : command("rtp-ext")) EXPECT_FALSE(contains(l, " open ")) << fault << ": " << l;
    EXPECT_EQ(command("rtp"), Lines{}) << fault;  // the RTP session went too
  }
  EXPECT_EQ(testkit::count(err(), "rtp ext VESK do not created: no extension session"), 3u) << err();
  // An attach to another process's RTP session that the driver refuses.
  command("fail rtp C0085209 EINVAL 1");
  EXPECT_EQ(answer(create(2, 3, vesk("", ", rtp-e2m { slot 1, channel 2, mode only-rtp : { fd 7, pid 123 } }"))),
            error(2, 3, "insufficientResources"));
  settle();
  EXPECT_EQ(command("rtp"), Lines{});
}

// Without a session (its restart after a codec change failed) the channel
// takes no radio request: nothing would reach the radio.
TEST_F(VeskSlots, ARadioRequestOnAChannelThatLostItsSessionIsAnError) {
  ASSERT_EQ(exchange(create(1, 2, vesk())).size(), 3u);
  command("refuse-open rtp_ext");
  EXPECT_EQ(answer(cmd(2, 2, "ioctl : encoder-mode : ulaw")), error(2, 2, "unsupported"));
  command("refuse-open rtp_ext off");
  EXPECT_EQ(answer(cmd(3, 2, rtpExt("wm-flags : { " + flags(3, "TRUE") + " }"))), error(3, 2, "unsupported"));
  EXPECT_FALSE(radio(2)->radio_control()->GetSQU());  // not taken either
  EXPECT_EQ(answer(cmd(4, 2, "destroy : NULL")), success(4, 2));
}

// Port 0 lets the system choose: the RTCP socket too, for every such slot.
TEST_F(VeskSlots, RadiosOnPortZeroBothGetTheirSockets) {
  for (int slot : {2, 3}) EXPECT_EQ(exchange(create(slot, slot, vesk("", "", 0))).size(), 3u) << slot;
  EXPECT_EQ(err().find("can not bind"), std::string::npos) << err();
  EXPECT_EQ(log().find("can not bind"), std::string::npos) << log();
  for (int slot : {2, 3}) EXPECT_EQ(answer(cmd(9, slot, "destroy : NULL")), success(9, slot));
}

// A slot whose input follows the radio's squelch, as the ED-137 slot sets it.
class HeldInput : public RtpVESKRadioGWSlot {
 public:
  using RtpVESKRadioGWSlot::RtpVESKRadioGWSlot;
  void hold() { input_held = true; }
};

TEST_F(VeskSlots, AHeldInputStartsOnceWithTheSquelchAndStopsWithoutIt) {
  rtp_channel_info info{-1, -1, -1, 0};
  Fd session = BeginRtpSession(rtp_connection_params{}, info, "");
  ASSERT_TRUE(session.valid());
  rtp_ext_init_params init{};
  HeldInput slot(info.tdm, session, rtp_connection_params{}, {session.get(), ::getpid()}, init, false);
  slot.hold();
  const auto request = [](const char* sql) {
    LGCP::IoctlParams p;
    EXPECT_TRUE(p.setFromValueNotation(rtpExt("wm-flags : { " + flags(3, sql) + " }").substr(8)));
    return p;
  };
  for (const char* sql : {"TRUE", "TRUE", "FALSE", "FALSE"}) EXPECT_TRUE(slot.Ioctl(request(sql)));
  EXPECT_EQ(journalWith("(input on)").size(), 1u);
  EXPECT_EQ(journalWith("(input off)").size(), 1u);
  EXPECT_TRUE(slot.IBeforeDestroy());
}

}  // namespace
