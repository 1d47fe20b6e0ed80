// RTP slots on the simulated RTP and voice drivers, with a real UDP peer on
// the loopback for their RTCP: the session record the driver is given, the
// packets the peer receives, codec changes, driver events, refusals, and
// the counts of the resource report.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/command_words.h"
#include "slots/rtp_factory.h"
#include "tests/slots/slots_fixture.h"
#include "tests/udp_peer.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;
using testkit::rtcpSsrc;

// The create parameters: codecRTP's fields given whole.
std::string rtp(const std::string& codec, const std::string& tx = "ptG711-Alaw",
                const std::string& rx = "ptG711-Alaw") {
  return "rtp : { codecRTP { " + codec + " }, txPayload " + tx + ", rxPayload " + rx + " }";
}
std::string alaw(int remotePort, const std::string& more = "") {
  return "payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port " + std::to_string(remotePort) + " }" + more;
}
std::string rtpSignal(int slot, const std::string& body) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : rtp : " + body + " }";
}

class RtpSlots : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    RtpFactory::instance();  // built by the process entry in the daemon
    board().clear_journal();
  }
  // Creates slot n on the peer: its answer and stream signals.
  Lines make(int n, const std::string& codec, const std::string& tx = "ptG711-Alaw",
             const std::string& rx = "ptG711-Alaw") {
    return exchange(create(1, n, rtp(codec, tx, rx)));
  }
  // The journal lines of a device.
  static Lines lines(const std::string& device) {
    Lines out;
    for (const std::string& l : journal())
      if (l.find(" " + device + " ") != std::string::npos || l.rfind("close " + device, 0) == 0) out.push_back(l);
    return out;
  }
  static std::string rtpLine(unsigned long code, const std::string& tail) {
    char c[16];
    std::snprintf(c, sizeof c, "0x%08lX", code);
    return std::string("ioctl ") + sysroot::rtp + " " + c + " val=0 -> 0 (" + tail + ")";
  }

  testkit::UdpPeer peer{true};
};

TEST_F(RtpSlots, TheSessionRecordCarriesTheCreateAndRtcpGoesFromAndToTheRtpPortsPlusOne) {
  const int remote = peer.port() - 1;
  EXPECT_EQ(make(2,
                 "payload ptG729, dhost { iaddr \"127.0.0.1\", port " + std::to_string(remote) +
                     " }, pfactor 65538, crate 5, vad TRUE, ssrc 287454020, ttl 64, qos-dscp ef",
                 "ptG711-Ulaw", "ptG729"),
            (Lines{success(1, 2), stream(2, "transmitter", 4096), stream(2, "receiver", 4096)}));
  rtp_connection_params expected{};
  expected.remote_addr = htonl(INADDR_LOOPBACK);
  expected.remote_port = static_cast<std::uint16_t>(remote);
  expected.local_port = static_cast<std::uint16_t>(remote);  // no shost
  expected.rx_pt = 18;
  expected.tx_pt = 0;
  expected.packet_factor = 2;
  expected.vad = 1;
  expected.crate = 1;
  expected.ssrc = 0x11223344;
  expected.ttl = 64;
  expected.tos = 184;  // ef (46) in the DSCP bits
  const Lines rtpLines = lines(sysroot::rtp);
  ASSERT_EQ(rtpLines.size(), 3u);
  EXPECT_EQ(rtpLines[0], std::string("open ") + sysroot::rtp + " rdonly|nonblock -> 0");
  EXPECT_EQ(rtpLines[1].rfind(recLine(sysroot::rtp, rtpdrv::begin_session, expected), 0), 0u) << rtpLines[1];
  EXPECT_EQ(rtpLines[2],
            recLine(sysroot::rtp, rtpdrv::add_channel, rtp_channel_info{-1, -1, -1, 0}) + " (channel 4096)");
  int from = 0;
  const testkit::UdpPeer::Datagram sdes = peer.next(0, &from);
  ASSERT_GE(sdes.size(), 8u);
  EXPECT_EQ(sdes[1], 202);
  EXPECT_EQ(rtcpSsrc(sdes), 0x11223344u);
  EXPECT_EQ(from, peer.port());  // bound to the local RTP port + 1

  board().clear_journal();
  EXPECT_EQ(answer(cmd(2, 2, "destroy : NULL")), success(2, 2));
  const testkit::UdpPeer::Datagram bye = peer.next(0);
  EXPECT_EQ(bye.size(), 20u);
  EXPECT_EQ(bye[1], 203);
  EXPECT_EQ(rtcpSsrc(bye), 0x11223344u);
  EXPECT_EQ(lines(sysroot::rtp), (Lines{rtpLine(rtpdrv::stop_session, "stop"), rtpLine(rtpdrv::end_session, "end"),
                                        rtpLine(rtpdrv::remove_channel, "channel 4096 free"),
                                        recLine(sysroot::rtp, rtpdrv::pd_reset, std::uint32_t{1}) + " (pd off)",
                                        std::string("close ") + sysroot::rtp}));
  EXPECT_TRUE(journalHas(recLine(sysroot::hal, 0x80044D03ul, std::int32_t{4096}))) << "channel not disabled";
}

TEST_F(RtpSlots, WithoutSsrcEachSessionDrawsItsOwnAndKeepsIt) {
  std::uint32_t drawn[2] = {};
  for (int n : {1, 2}) {
    std::srand(1);  // as another part of the daemon may: the source does not follow it
    ASSERT_EQ(make(n, alaw(peer.port() - 1,
                           ", shost { iaddr \"0.0.0.0\", port " + std::to_string(testkit::freePort()) + " }"))
                  .front(),
              success(1, n));
    drawn[n - 1] = rtcpSsrc(peer.next(0));
    const std::string sessions = command("rtp").back();
    EXPECT_TRUE(contains(sessions, "ssrc " + sim::words::hex(drawn[n - 1], 8))) << sessions;
  }
  EXPECT_NE(drawn[0], drawn[1]);
  EXPECT_EQ(answer(cmd(2, 1, "destroy : NULL")), success(2, 1));
  EXPECT_EQ(rtcpSsrc(peer.next(0)), drawn[0]);
  EXPECT_EQ(answer(cmd(3, 2, "destroy : NULL")), success(3, 2));
}

TEST_F(RtpSlots, ACreateThatCannotBeServedLeavesNothingOpen) {
  const std::string refused = error(1, 3, "insufficientResources");
  const int remote = peer.port() - 1;
  const auto to = [&](const std::string& address) {
    return "payload ptG711-Alaw, dhost { iaddr \"" + address + "\", port " + std::to_string(remote) + " }";
  };
  // Addresses that do not parse as a dotted quad, and the broadcast: no
  // media and no RTCP may go there.
  for (const char* address : {"gateway.example", "10.1.2", "255.255.255.255", ""})
    EXPECT_EQ(answer(create(1, 3, rtp(to(address)))), refused) << address;
  EXPECT_EQ(answer(create(1, 3, rtp(alaw(remote, ", shost { iaddr \"10.0.0.256\", port 4000 }")))), refused);
  EXPECT_TRUE(contains(log(), "rtp do not created: bad address \"10.0.0.256\""));
  EXPECT_EQ(answer(create(1, 3, rtp("payload reserv-1, dhost { iaddr \"127.0.0.1\", port 4000 }"))), refused);
  EXPECT_TRUE(contains(log(), "rtp[0,0,0,0]: rtp do not created: payload reserv-1not found"));
  // A radio field is for the radio factories.
  EXPECT_EQ(answer(create(1, 3,
                          rtp(alaw(remote,
                                   ", radio { status ed-137 : { header { ptt ptt-off, squ squ-off, "
                                   "ptt-id 0, ptt-mute FALSE, ptt-summation FALSE, sct FALSE } } }")))),
            refused);
  EXPECT_TRUE(lines(sysroot::rtp).empty());  // nothing was opened

  // Driver refusals: the session is closed again and the RTCP port free.
  command("fail rtp C02C5200 EIO 1");
  EXPECT_EQ(answer(create(1, 3, rtp(alaw(remote)))), refused);
  command("fail rtp C0105202 ENOSPC 1");
  EXPECT_EQ(answer(create(1, 3, rtp(alaw(remote)))), refused);
  command("refuse-open rtp");
  EXPECT_EQ(answer(create(1, 3, rtp(alaw(remote)))), refused);
  command("refuse-open rtp off");
  EXPECT_TRUE(contains(err(), "begin session fail !!!"));
  EXPECT_TRUE(contains(err(), "add channel fail !!!"));
  EXPECT_TRUE(contains(err(), std::string("device \"") + sysroot::rtp + "\" open fail: "));
  const Lines rtpLines = lines(sysroot::rtp);
  EXPECT_EQ(std::count(rtpLines.begin(), rtpLines.end(), std::string("close ") + sysroot::rtp), 2);
  EXPECT_TRUE(command("rtp").empty());
  // The RTCP port taken by another socket.
  const int squatter = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = testkit::loopback(0);
  ::bind(squatter, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(squatter, reinterpret_cast<sockaddr*>(&a), &len);
  const int taken = ntohs(a.sin_port);
  EXPECT_EQ(answer(create(1, 3, rtp(alaw(taken - 1)))), refused);
  EXPECT_TRUE(contains(log(), ", port=" + std::to_string(taken) + "]")) << log();
  ::close(squatter);
  EXPECT_EQ(at(3), nullptr);
}

TEST_F(RtpSlots, ALocalPortOf65535GivesRtcpAPortOfTheSystemsChoice) {
  ASSERT_EQ(make(4, alaw(peer.port() - 1, ", shost { iaddr \"0.0.0.0\", port 65535 }")).front(), success(1, 4));
  int from = 0;
  EXPECT_EQ(peer.next(0, &from).at(1), 202);
  EXPECT_NE(from, 0);
  EXPECT_TRUE(contains(command("rtp").back(), "local 0.0.0.0:65535 "));
}

TEST_F(RtpSlots, ACodecChangeRestartsTheSessionOnlyForANewPayloadAndKeepsItsEventsAndInput) {
  ASSERT_EQ(exchange(create(1, 1, "trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(make(2, "payload ptG729, dhost { iaddr \"127.0.0.1\", port " + std::to_string(peer.port() - 1) + " }",
                 "ptG729", "ptG729")
                .size(),
            3u);
  EXPECT_EQ(answer(cmd(2, 1, "connect : 2")), success(2, 1));
  EXPECT_TRUE(contains(command("rtp").back(), "input on"));
  board().clear_journal();
  EXPECT_EQ(answer(cmd(3, 2, "ioctl : encoder-mode : lbrc")), success(3, 2));  // 18 already
  EXPECT_TRUE(lines(sysroot::rtp).empty());
  EXPECT_TRUE(contains(log(), " - Nothing to do"));

  EXPECT_EQ(answer(cmd(4, 2, "ioctl : encoder-mode : ulaw")), success(4, 2));
  const Lines restart = lines(sysroot::rtp);
  ASSERT_EQ(restart.size(), 5u);
  EXPECT_EQ(restart[0], std::string("close ") + sysroot::rtp);
  EXPECT_EQ(restart[1], std::string("open ") + sysroot::rtp + " rdonly|nonblock -> 0");
  EXPECT_TRUE(contains(restart[2], "rx_pt 18 tx_pt 0 ")) << restart[2];
  EXPECT_EQ(restart[3],
            recLine(sysroot::rtp, rtpdrv::add_channel, rtp_channel_info{4096, -1, -1, 0}) + " (channel 4096)");
  EXPECT_EQ(restart[4], rtpLine(rtpdrv::input_start, "input on"));  // still fed by the trunk
  EXPECT_TRUE(contains(log(), "ulaw - OK"));
  // The events of the new session reach the controller.
  command("rtp 4096 pd 3 500");
  EXPECT_EQ(drain(), Lines{rtpSignal(2, "pd : { value 3, timeout 500 }")});
  // Either direction's lbrc is the receive payload the slot began with.
  EXPECT_EQ(answer(cmd(5, 2, "ioctl : decoder-mode : alaw")), success(5, 2));
  EXPECT_EQ(answer(cmd(6, 2, "ioctl : encoder-mode : lbrc")), success(6, 2));
  EXPECT_TRUE(contains(command("rtp").back(), "rx_pt 8 tx_pt 18 ")) << command("rtp").back();

  // A restart that fails leaves the slot without a session, but it can go.
  command("fail rtp C02C5200 EIO 1");
  EXPECT_EQ(answer(cmd(7, 2, "ioctl : decoder-mode : lbrc")), error(7, 2, "unsupported"));
  EXPECT_TRUE(contains(err(), "fail to restart RTP session!"));
  EXPECT_TRUE(command("rtp").empty());
  EXPECT_EQ(answer(cmd(8, 2, "destroy : NULL")), success(8, 2));
}

TEST_F(RtpSlots, DriverEventsAreReadInBurstsAndAFailedSessionIsNoLongerWatched) {
  ASSERT_EQ(make(2, alaw(peer.port() - 1)).size(), 3u);
  for (const char* e : {"rtp 4096 pd 1 10", "rtp 4096 event 2 7 7", "rtp 4096 raw 01 02", "rtp 4096 pd 2 20"})
    command(e);
  EXPECT_EQ(drain(),
            (Lines{rtpSignal(2, "pd : { value 1, timeout 10 }"), rtpSignal(2, "pd : { value 2, timeout 20 }")}));
  EXPECT_TRUE(contains(log(), "rtp[4096]: rtp event:  type=2"));
  command("rtp 4096 hangup");
  settle();
  settle();
  EXPECT_EQ(testkit::count(err(), "rtp[4096]: fail to read from rtp:"), 1u) << err();
  EXPECT_EQ(answer(cmd(2, 2, "destroy : NULL")), success(2, 2));
}

TEST_F(RtpSlots, ControllerRequestsReachTheDriversOrAreRefused) {
  ASSERT_EQ(make(2, alaw(peer.port() - 1)).size(), 3u);
  board().clear_journal();
  EXPECT_EQ(answer(cmd(2, 2, "ioctl : pd-enable : { timeout 250 }")), success(2, 2));
  rtp_pd_params pd{};
  pd.type = 1;
  pd.timeout = pd.timeout_again = 250;
  EXPECT_EQ(journal().at(0), recLine(sysroot::rtp, rtpdrv::pd_enable, pd) + " (pd on timeout 250)");
  EXPECT_EQ(answer(cmd(3, 2, "ioctl : pd-disable : NULL")), success(3, 2));
  command("fail rtp C024520C EIO 1");
  EXPECT_EQ(answer(cmd(4, 2, "ioctl : pd-enable : { timeout 250 }")), error(4, 2, "unsupported"));
  EXPECT_TRUE(contains(err(), "RTP SET EVENT PD fail: errno=\"Input/output error\""));
  for (const char* ok : {"dtmf-enable : TRUE", "rx-gain : { gainDB -6 }", "vad-enable : TRUE",
                         "tone-filter : { freq 2100, enable TRUE, duration-th-msec 100, det-level-dB -20 }"})
    EXPECT_EQ(answer(cmd(5, 2, std::string("ioctl : ") + ok)), success(5, 2)) << ok;
  // One device at a time: the two drivers' events have no order between them.
  command("dtmf 4096 5 time 77");
  EXPECT_EQ(drain(), (Lines{"{ slot 2, pdu signal : tonec : { timestamp 77, event dtmf : 5 } }"}));
  command("dsp 4096 tone 2100 1");
  EXPECT_EQ(drain(), (Lines{"{ slot 2, pdu signal : tonec : { timestamp 0, event tone-presence : { freq 2100, presence "
                            "TRUE } } }"}));
  for (const char* refused : {"dtmf-disable : NULL", "dtmf-reject-disable : NULL", "mute-disable : NULL",
                              "iva-enable : TRUE", "delays : { rx 1 }", "tone-gen-disable : NULL"})
    EXPECT_EQ(answer(cmd(6, 2, std::string("ioctl : ") + refused)), error(6, 2, "unsupported")) << refused;
  EXPECT_EQ(answer(cmd(7, 2, "destroy : NULL")), success(7, 2));
}

TEST_F(RtpSlots, TheReportCarriesTheVoiceDriversCountsAndNothingStale) {
  for (const char* set :
       {"voice count 4 30", "voice count 2 20", "voice count 1 60", "voice count 8 4", "voice count 65 2"})
    command(set);
  const auto report = [&] { return exchange("{ seq 1, pdu command : query : NULL }").at(1); };
  EXPECT_TRUE(contains(report(), "rtp-g729 30, rtp-g723 20, rtp-g711 60, rtp-g711mcc 4,")) << report();
  EXPECT_TRUE(contains(report(), "universal 2 }"));
  EXPECT_EQ(make(2, "payload ptG711-Alaw, dhost { iaddr \"nowhere\", port 4000 }").size(), 1u);
  EXPECT_TRUE(contains(log(), "rtp[20,30,60,2]: rtp do not created"));
  command("voice count 65 fail EIO");
  command("voice count 8 0");
  EXPECT_TRUE(contains(report(), "rtp-g711mcc 0,"));
  EXPECT_TRUE(contains(report(), "universal 0 }"));
  command("refuse-open voice");
  EXPECT_TRUE(contains(report(), "rtp-g729 0, rtp-g723 0, rtp-g711 0, rtp-g711mcc 0,"));
  EXPECT_TRUE(contains(err(), std::string("device \"") + sysroot::voice + "\" open fail: "));
}

}  // namespace

namespace {

// A factory built on the RTP factory's steps, as the radio factories are:
// it takes the creates that carry a radio field, asks for its channel with
// the fourth word set, and makes slots whose input stream is held.
class HeldRtpSlot : public RtpSlot {
 public:
  HeldRtpSlot(int channel, Fd session, const rtp_connection_params& params) : RtpSlot(channel, session, params) {
    input_held = true;
  }
  const char* GetName() const override { return "rtp held"; }
};

class HeldRtpFactory : public RtpFactoryBase {
 public:
  HeldRtpFactory() : RtpFactoryBase("rtp held") {}
  const char* GetName() const override { return "RTP held"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override {
    if (params.getSelection() != LGCP::CreateParams::e_rtp ||
        !params.get_rtp().get_codecRTP().hasOptionalField(TERM::RtpParams::o_radio))
      return nullptr;
    Opening o;
    if (!OpenSession(params.get_rtp(), false, 1, o)) return nullptr;
    auto* slot = new HeldRtpSlot(o.channel, o.session, o.params);
    StartSlot(*slot, o, params.get_rtp().get_codecRTP());
    return slot;
  }
};

TEST_F(RtpSlots, AFactoryOnTheSameStepsMakesSlotsWhoseInputStaysHeld) {
  HeldRtpFactory factory;
  ASSERT_EQ(exchange(create(1, 1, "trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  board().clear_journal();
  // Without SO_REUSEADDR the RTCP socket cannot share the peer's port.
  const std::string shost = ", shost { iaddr \"0.0.0.0\", port " + std::to_string(testkit::freePort()) + " }";
  EXPECT_EQ(
      make(2, alaw(peer.port() - 1, shost + ", echo { suppressor TRUE, canceller TRUE }, radio { status ed-137 : { "
                                            "header { ptt ptt-off, squ squ-off, ptt-id 0, ptt-mute FALSE, "
                                            "ptt-summation FALSE, sct FALSE } } }")),
      (Lines{success(1, 2), stream(2, "transmitter", 4096), stream(2, "receiver", 4096)}));
  EXPECT_EQ(lines(sysroot::rtp).at(2),
            recLine(sysroot::rtp, rtpdrv::add_channel, rtp_channel_info{-1, -1, -1, 1}) + " (channel 4096)");
  EXPECT_EQ(peer.next(0).at(1), 202);
  EXPECT_TRUE(contains(command("dtmf state 4096").at(0), "lms=on")) << command("dtmf state 4096").at(0);
  EXPECT_EQ(answer(cmd(2, 1, "connect : 2")), success(2, 1));
  EXPECT_TRUE(contains(command("rtp").back(), "input off"));
  EXPECT_EQ(answer(cmd(3, 2, "destroy : NULL")), success(3, 2));
}

}  // namespace
