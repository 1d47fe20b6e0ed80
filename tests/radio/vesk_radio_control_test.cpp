// The VESK radio controls on the simulated RTP extension driver: read
// batches and their reports, the access rule, the controller's messages,
// the gateway's periodic status on the test clock (across the loop clock's
// wrap), the workstation's mirror, failures.
#include "radio/vesk_radio_control.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/test_clock.h"
#include "tests/radio/radio_fixture.h"

namespace vesk_radio_control_test {  // named: see "Unity builds" in tests/README.md

using namespace RTPSignalling;
using radiotest::Lines;

// Each report as its request's alternative, session and (for the flag
// commands) li.
class Recorder : public IRadioControlNotify {
 public:
  void RadioControlNotify(const TERM::RtpRadioRequest& r) override {
    const auto& m = r.get_request().get_vesk();
    const auto* flags = dynamic_cast<const TERM::RadioCommandGWSetFlags*>(m.get_params().getSelectedValue());
    reports.push_back(std::string(m.get_params().getSelectionName()) + " " + m.get_addr().get_session_addr() +
                      (flags ? " " + std::to_string(flags->get_flags().get_li().getValue()) : ""));
  }
  Lines reports;
};

// The gateway with its protected steps in reach.
class Gateway : public VeskRadioGWControl {
 public:
  using VeskRadioGWControl::Elapsed;
  using VeskRadioGWControl::ProcessRadioStatus;
  using VeskRadioGWControl::VeskRadioGWControl;
};

TERM::RadioStatus status(const std::string& flags, const std::string& standby = "not-use") {
  TERM::RadioStatus s;
  EXPECT_TRUE(s.setFromValueNotation(
      "vesk : { flags { " + flags +
      " }, freq { channel 2, frequency \"145.5\" }, remote { no 1, ch 2 }, squelshe on, rte a1b, "
      "standby-state-channel " +
      standby + ", standby-group 3, standby-state-receiver active }"));
  return s;
}
std::string flags(int prio, bool ptt) {
  return "prio " + std::to_string(prio) + ", ptt " + (ptt ? "TRUE" : "FALSE") +
         ", bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, rv FALSE, resv FALSE, "
         "selcall 0, li 0";
}
TERM::RadioModifier request(const std::string& params) {
  TERM::RadioModifier m;
  EXPECT_TRUE(m.setFromValueNotation("vesk : { addr { session-addr \"10.0.0.9\", session-ssrc 9 }, params " + params +
                                     " }"))
      << params;
  return m;
}

class VeskControlTest : public radiotest::RadioBoardTest {
 protected:
  // A gateway with its own session, as its slot sets it up.
  std::unique_ptr<Gateway> gateway(bool timer = true) {
    auto c = std::make_unique<Gateway>(5, attach(), init());
    c->SetNotify(&rec);
    c->SetTrace(false);
    c->SetTimerEnable(timer);
    c->SetWorkstation(false);
    return c;
  }
  // Queues a packet for the newest session, from a session at addr.
  // (a packet of a type with a payload carries zeros)
  void inject(const std::string& addr, unsigned type, int priority, int ptt, int li = 0) {
    sig_proto r;
    sig_proto_init(&r);
    r.type = static_cast<std::uint32_t>(type);
    sig_proto_set_base(&r, priority, 0, ptt, 0, 0, 0, 0, 0, 0, 0, 0, li);
    unsigned char wire[64];
    injectBytes(addr, wire, sig_proto_pack(&r, wire, sizeof wire));
  }
  void injectBytes(const std::string& addr, const unsigned char* wire, int n) {
    std::string hex;
    char pair[4];
    for (int i = 0; i < n; ++i) hex += std::string(pair, std::snprintf(pair, sizeof pair, " %02X", wire[i]));
    command("rtp-ext inject last " + addr + " " + std::to_string(::inet_addr(addr.c_str()) >> 24) + hex);
  }
  // The types of the packets written on the newest session, oldest first,
  // each with its loop time when asked.
  std::vector<std::string> written(bool times = false) {
    settle();
    std::vector<std::string> out;
    for (const std::string& l : command("rtp-ext written last")) {
      const std::size_t sp = l.find(' ');
      const std::string type = std::to_string(std::stoi(l.substr(sp + 1, 2), nullptr, 16));
      out.push_back(times ? l.substr(3, sp - 3) + ":" + type : type);
    }
    command("rtp-ext written last clear");
    return out;
  }
  bool reports(std::size_t n) {
    return pump([&] { return rec.reports.size() >= n; }) && rec.reports.size() == n;
  }

  Recorder rec;
};

TEST_F(VeskControlTest, ARunOfPacketsOfOneTypeFromOneSessionIsOneReportCarryingTheLast) {
  auto c = gateway(false);
  for (int li : {1, 2, 3}) inject("10.0.0.5", GW_FLAG_PTT, 5, 1, li);
  ASSERT_TRUE(reports(1));
  EXPECT_EQ(rec.reports, Lines{"gw-set-ptt 10.0.0.5 3"});
  EXPECT_EQ(c->chan_state().ptt, 1);
  EXPECT_EQ(c->chan_state().session_addr, ::inet_addr("10.0.0.5"));

  // A, B, A, then another type: four runs; a packet that does not read
  // (6 of WM_CHAN's 16 octets) is skipped and the batch goes on.
  rec.reports.clear();
  inject("10.0.0.5", GW_FLAG_PTT, 5, 1, 4);
  const unsigned char cut[] = {WM_CHAN, 0x50, 0, 0, 1, 2};
  injectBytes("10.0.0.5", cut, sizeof cut);
  inject("10.0.0.6", GW_FLAG_PTT, 5, 1, 5);
  inject("10.0.0.5", GW_FLAG_PTT, 5, 1, 6);
  inject("10.0.0.5", GW_FLAG_BSS, 5, 1, 7);
  ASSERT_TRUE(reports(4));
  EXPECT_EQ(rec.reports,
            (Lines{"gw-set-ptt 10.0.0.5 4", "gw-set-ptt 10.0.0.6 5", "gw-set-ptt 10.0.0.5 6",
                   "gw-set-bss 10.0.0.5 7"}));
  EXPECT_EQ(c->last_unpack_error(), sig_proto_too_short);
  EXPECT_FALSE(c->filter_on());  // nothing from the controller yet
}

TEST_F(VeskControlTest, WhileASessionTransmitsOnlyItOrAPushToTalkOfLowerPriorityNumberGetsThrough) {
  auto c = gateway(false);
  // A push-to-talk at priority 5 the status set, before any session is
  // named: no filter, so the access rule alone decides.
  ASSERT_TRUE(c->SendASNToChan(status(flags(5, true))));
  EXPECT_FALSE(c->filter_on());
  inject("192.0.2.3", GW_FLAG_PTT, 9, 1, 1);  // higher number: held back
  inject("192.0.2.3", GW_FLAG_PTT, 2, 0, 3);  // lower number but no push-to-talk
  inject("192.0.2.3", GW_FLAG_BSS, 2, 1, 4);  // not a push-to-talk command
  inject("192.0.2.3", GW_FLAG_PTT, 2, 1, 5);  // pre-empts
  ASSERT_TRUE(reports(1));
  EXPECT_EQ(rec.reports, Lines{"gw-set-ptt 192.0.2.3 5"});

  // The controller has 192.0.2.1 (not the gateway itself) transmitting at
  // priority 5: the driver's filter lets only that session in.
  rec.reports.clear();
  ASSERT_TRUE(c->SendASNToChan(request("wm-trans : { flags { " + flags(5, true) + " }, ip \"192.0.2.1\", ssrc 4 }")));
  EXPECT_EQ(c->filter().filter_addr, ::inet_addr("192.0.2.1"));
  EXPECT_EQ(written(), Lines{"130"});
  inject("192.0.2.3", GW_FLAG_PTT, 9, 1, 1);  // another position: dropped by the driver
  inject("192.0.2.1", GW_FLAG_BSS, 9, 0, 2);  // the transmitting session itself
  inject("192.0.2.3", GW_FLAG_PTT, 2, 1, 5);  // dropped all the same
  ASSERT_TRUE(pump([&] { return rec.reports.size() >= 1; }));
  settle();
  EXPECT_EQ(rec.reports, (Lines{"gw-set-bss 192.0.2.1 2"}));
  EXPECT_TRUE(hwtest::contains(command("rtp-ext").back(), " dropped=2"));
  EXPECT_EQ(requests(sysroot::rtp_ext, "0xC0084504").size(), 1u);  // the filter follows the controller only
}

// A workstation's value that the controller's types cannot carry would
// make the report impossible to send; the packet's other fields still count.
TEST_F(VeskControlTest, AValueOutsideTheEnumerationsIsNeverTakenAndLoggedOncePerRun) {
  auto c = gateway(false);
  const auto send = [&](unsigned type, int (*set)(sig_proto*, unsigned char), unsigned char value) {
    sig_proto r;
    sig_proto_init(&r);
    r.type = type;
    sig_proto_set_base(&r, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    set(&r, value);
    unsigned char wire[64];
    injectBytes("10.0.0.5", wire, sig_proto_pack(&r, wire, sizeof wire));
  };
  send(GW_ADJUST_RTE, sig_proto_set_gw_adjust_rte, 9);
  send(GW_ADJUST_SQUELSHE, sig_proto_set_gw_adjust_squelsh, 200);
  send(GW_ADJUST_STANDBY, sig_proto_set_gw_adjust_standby, 5);
  send(GW_ADJUST_RTE, sig_proto_set_gw_adjust_rte, 3);
  ASSERT_TRUE(reports(1));
  EXPECT_EQ(rec.reports, Lines{"gw-set-rte 10.0.0.5"});
  EXPECT_EQ(c->chan_state().rte, 3);
  EXPECT_EQ(c->chan_state().squelch, -1);
  EXPECT_EQ(c->chan_state().standby_state, -1);
  EXPECT_EQ(c->bad_values(), 3u);
  std::string e = err();
  EXPECT_EQ(count(e, "\n"), 1) << e;
  EXPECT_TRUE(hwtest::contains(e, ":packet type 12 from 10.0.0.5: rte 9 out of range, packet dropped\n")) << e;
  send(GW_ADJUST_SQUELSHE, sig_proto_set_gw_adjust_squelsh, 200);  // a new run
  settle();
  EXPECT_EQ(count(err(), "out of range"), 2);
  EXPECT_EQ(c->bad_values(), 4u);
  EXPECT_EQ(c->read_errno(), 0);  // every batch ended on an empty driver
}

TEST_F(VeskControlTest, AStatusIsMergedWholeSendsNothingAndTurnsTheFlagIntoTransmissionEverySecond) {
  Mux::TestClock clock(1000000);
  auto c = gateway();
  EXPECT_TRUE(c->SendASNToChan(status(flags(4, true))));
  EXPECT_EQ(c->radio_state().chan_id, 2);
  EXPECT_FALSE(c->filter_on());  // none for a session the status does not name
  EXPECT_EQ(written(), Lines{});
  for (int second = 0; second < 2; ++second) {  // the standby not in use: never sent
    clock.advance(1000);
    EXPECT_EQ(written(), (Lines{"130", "132", "134"}));
  }
  c->SendASNToChan(status(flags(4, false), "active"));
  EXPECT_FALSE(c->filter_on());
  clock.advance(1000);
  EXPECT_EQ(written(), (Lines{"129", "132", "134", "135"}));
}

TEST_F(VeskControlTest, ARequestIsSentAtOnceAndItsPeriodicPacketWaitsUntilItIsASecondOld) {
  Mux::TestClock clock(5000);
  auto c = gateway();
  clock.advance(1000);
  EXPECT_EQ(written(true), (Lines{"6000:129", "6000:132", "6000:134"}));
  clock.advance(500);
  ASSERT_TRUE(c->SendASNToChan(
      request("wm-chan : { freq { channel 9, frequency \"121.5\" }, squelshe percent-10, rte j3e }")));
  EXPECT_EQ(written(true), Lines{"6500:132"});
  clock.advance(500);  // not at 7000: the request's WM_CHAN was only 500 ms old then
  EXPECT_EQ(written(true), (Lines{"7000:129", "7000:134"}));
  clock.advance(1000);
  EXPECT_EQ(written(true), (Lines{"8000:129", "8000:132", "8000:134"}));
}

TEST_F(VeskControlTest, TheNextStepComesWhenTheOldestSendIsASecondOld) {
  Mux::TestClock clock(20000);
  auto c = gateway(false);
  c->SendASNToChan(status(flags(4, false), "active"));
  EXPECT_EQ(c->ProcessRadioStatus(21000, 1000), 1000u);  // everything sent now
  EXPECT_EQ(written(), (Lines{"129", "132", "134", "135"}));
  clock.set(21200);
  c->SendASNToChan(request("wm-chan : { freq { channel 9, frequency \"121.5\" }, squelshe on, rte j3e }"));
  c->SendASNToChan(request("wm-standby : { state-channel active, group 8, state-receiver active }"));
  EXPECT_EQ(c->ProcessRadioStatus(21300, 1000), 710u);  // WM_FLAG 300 ms ago
  EXPECT_EQ(written(), (Lines{"132", "135", "134"}));
  // Across the wrap the time since a send is its true age; a time ahead
  // of now is no age at all.
  EXPECT_EQ(Gateway::Elapsed(0x10, 0xFFFFFFF0u), 0x20u);
  EXPECT_EQ(Gateway::Elapsed(100, 300), 0u);
}

// The loop clock wraps every 49.7 days: the periodic packets keep coming.
TEST_F(VeskControlTest, ThePeriodicStatusKeepsFlowingAcrossTheLoopClocksWrap) {
  Mux::TestClock clock(0xFFFFFFFFu - 2500);
  auto c = gateway();
  for (int second = 1; second <= 6; ++second) {
    clock.advance(1000);
    EXPECT_EQ(written(), (Lines{"129", "132", "134"})) << second << " s";
  }
}

TEST_F(VeskControlTest, WhatIsNotVeskIsRefusedAndAFailedWriteStillCountsAsSent) {
  Mux::TestClock clock(3000);
  auto c = gateway(false);
  TERM::RadioModifier ed;
  ed.select_ed_137();
  EXPECT_FALSE(c->SendASNToChan(ed));
  EXPECT_EQ(written(), Lines{});
  ASSERT_TRUE(c->RtpExtStop());  // every write fails from now on
  clock.set(3400);
  EXPECT_TRUE(c->SendASNToChan(request("wm-flags : { flags { " + flags(4, false) + " } }")));
  EXPECT_EQ(c->write_errno(), EBADF);
  EXPECT_EQ(c->flag_sent_ms(), 3400u);
}

TEST_F(VeskControlTest, AWorkstationSendsTheCommandsAndHearsTheGatewaysStatus) {
  Mux::TestClock clock(7000);
  VeskRadioWSControl ws(6, attach(), init());
  ws.SetNotify(&rec);
  ws.SetWorkstation(true);
  ASSERT_TRUE(ws.SendASNToChan(request("gw-set-freq : { freq { channel 4, frequency \"130.0\" } }")));
  ASSERT_TRUE(ws.SendASNToChan(request("wm-flags : { flags { " + flags(4, true) + " } }")));  // not its to send
  EXPECT_EQ(written(), Lines{"2"});
  EXPECT_EQ(ws.chan_sent_ms(), 7000u);  // a workstation keeps no send times
  inject("10.0.0.5", WM_TRANS, 3, 1);
  clock.advance(3000);  // no status step of its own
  ASSERT_TRUE(reports(1));
  EXPECT_EQ(written(), Lines{});
  EXPECT_EQ(rec.reports, Lines{"wm-trans 10.0.0.5"});
  // The session is where it came from: a WM_TRANS does not set it.
  EXPECT_EQ(ws.chan_state().session_addr, ::inet_addr("10.0.0.5"));
}

}  // namespace vesk_radio_control_test
