// The ED-137 radio gateway control on the simulated RTP extension driver:
// the controller's messages on the wire (SQI as the dissectors read it),
// read batches and their reports, the radio's type and mode, the keep-alive
// and the no-reception code on the test clock (across the loop clock's
// wrap), the session parameters.
#include "radio/ed137_radio_control.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/test_clock.h"
#include "tests/radio/radio_fixture.h"

namespace {

using namespace RTPSignalling;
using radiotest::Lines;

class Recorder : public IRadioControlNotify {
 public:
  void RadioControlNotify(const TERM::RtpRadioRequest& r) override { reports.push_back(r); }
  void RadioControlNotify(int code) override { codes.push_back(code); }
  // Each report's request: direction, PTT, session.
  Lines summary() const {
    Lines out;
    for (const auto& r : reports) {
      const auto& m = r.get_request().get_ed_137();
      const auto& p = m.get_params();
      const auto& h =
          p.getSelection() == TERM::ED137RadioModifierParams::e_tx ? p.get_tx().get_header() : p.get_rx().get_header();
      out.push_back(std::string(p.getSelectionName()) + " " + std::to_string(h.get_ptt().ASN1::ENUMERATED::getValue()) +
                    " " + m.get_addr().get_session_addr() + " " +
                    std::to_string(m.get_addr().get_session_ssrc().getValue()));
    }
    return out;
  }
  std::vector<TERM::RtpRadioRequest> reports;
  std::vector<int> codes;
};

class Gateway : public ED137RadioGWControl {
 public:
  using ED137RadioGWControl::DecodeProto;
  using ED137RadioGWControl::ED137RadioGWControl;
  using ED137RadioGWControl::ProcessRadioStatus;
};

const char* const header = "ptt-id 5, ptt-mute FALSE, ptt-summation FALSE, sct FALSE";

TERM::RadioStatus status(const std::string& squ, const std::string& sqi = "") {
  TERM::RadioStatus s;
  EXPECT_TRUE(s.setFromValueNotation("ed-137 : { header { ptt ptt-off, squ " + squ + ", " + header + " }" +
                                     (sqi.empty() ? "" : ", sqi { " + sqi + " }") + " }"))
      << squ << sqi;
  return s;
}

TERM::RadioModifier request(const std::string& addr, const std::string& direction, const std::string& ptt) {
  TERM::RadioModifier m;
  EXPECT_TRUE(m.setFromValueNotation("ed-137 : { addr { session-addr \"" + addr + "\", session-ssrc 7 }, params " +
                                     direction + " : { header { ptt " + ptt + ", squ squ-off, " + header + " } } }"));
  return m;
}

class ED137ControlTest : public radiotest::RadioBoardTest {
 protected:
  // A gateway set up as its slot does, on an init record whose words 4
  // and 5 are given.
  std::unique_ptr<Gateway> gateway(const ED137RadioParams& p = {}, bool timer = true, std::uint32_t word4 = 10) {
    rtp_ext_init_params in = init(rtp_ext::ed137_identifier);
    in.fill[0] = 1;
    in.fill[1] = 123;
    in.fill[2] = word4;
    in.fill[3] = 1;
    auto c = std::make_unique<Gateway>(5, attach(), in);
    c->SetParams(p);
    c->SetNotify(&rec);
    c->SetTrace(false);
    c->SetTimerInterval(static_cast<unsigned long>(p.keepalive_period * p.keepalive_multiplier / 2));
    c->SetTimerEnable(timer);
    c->SetWorkstation(false);
    return c;
  }
  static ED137RadioParams params(int radioType, int mode) {
    ED137RadioParams p;
    p.radio_type = radioType;
    p.txrx_mode = mode;
    return p;
  }
  // The payloads written on the newest session, oldest first, each with
  // its loop time when asked.
  Lines written(bool times = false) {
    settle();
    Lines out;
    for (const std::string& l : command("rtp-ext written last")) {
      const std::size_t sp = l.find(' ');
      out.push_back(times ? l.substr(3, sp - 3) + ": " + l.substr(sp + 1) : l.substr(sp + 1));
    }
    command("rtp-ext written last clear");
    return out;
  }
  void inject(const std::string& addr, unsigned ssrc, const std::string& hex) {
    command("rtp-ext inject last " + addr + " " + std::to_string(ssrc) + " " + hex);
  }
  bool reports(std::size_t n) {
    const bool got = pump([&] { return rec.reports.size() >= n; });
    settle();
    return got && rec.reports.size() == n;
  }

  Recorder rec;
};

TEST_F(ED137ControlTest, AStatusGoesOutAsAnRxHeaderWhoseSqiCarriesTheQualityIndexFirst) {
  auto c = gateway({}, false);
  ASSERT_TRUE(c->SendASNToChan(status("squ-on", "bss-method c-n, bss-quality 20")));
  // The index 20 in bits 7-3, the method C/N (2) in bits 2-0.
  EXPECT_EQ(written(), Lines{"11 41 11 A2"});
  EXPECT_TRUE(c->GetSQU());
  EXPECT_EQ(c->radio_state().flags, 0x1003u);

  // Without SQI: no block, and the quality the radio had stays.
  ASSERT_TRUE(c->SendASNToChan(status("squ-off")));
  EXPECT_EQ(written(), Lines{"01 40 00 00"});
  EXPECT_FALSE(c->GetSQU());
  EXPECT_EQ(c->radio_state().flags, 0x1001u);
  EXPECT_EQ(c->radio_state().bss_quality, 20u);
}

TEST_F(ED137ControlTest, AnUnchangedStateIsSentAgainOnlyWhenTheSessionDoesNotRepeatItself) {
  auto repeats = gateway({}, false);
  repeats->SendASNToChan(status("squ-on"));
  repeats->SendASNToChan(status("squ-on"));
  EXPECT_EQ(written(), Lines{"11 40 00 00"});
  repeats.reset();

  auto every = gateway({}, false, 0);
  every->SendASNToChan(status("squ-on"));
  every->SendASNToChan(status("squ-on"));
  EXPECT_EQ(written(), (Lines{"11 40 00 00", "11 40 00 00"}));
}

TEST_F(ED137ControlTest, OnlyED137IsTakenAndARequestNamesTheSessionTheFilterFollows) {
  Mux::TestClock clock(50000);
  auto c = gateway();
  TERM::RadioStatus vesk;
  vesk.select_vesk();
  EXPECT_FALSE(c->SendASNToChan(vesk));
  TERM::RadioModifier veskRequest;
  veskRequest.select_vesk();
  EXPECT_FALSE(c->SendASNToChan(veskRequest));
  EXPECT_EQ(written(), Lines{});

  ASSERT_TRUE(c->SendASNToChan(request("10.1.2.3", "rx", "normal-ptt-on")));
  EXPECT_EQ(written(), Lines{"21 40 00 00"});
  EXPECT_TRUE(c->filter_on());
  EXPECT_EQ(c->filter().filter_addr, ::inet_addr("10.1.2.3"));
  EXPECT_EQ(c->radio_state().session_ssrc, 7u);
  clock.advance(1000);
  EXPECT_EQ(written(), Lines{"21 40 00 00"});  // the keep-alive

  // A tx request goes out as such; its state then has both directions and
  // the keep-alive sends nothing until the controller sets rx again.
  ASSERT_TRUE(c->SendASNToChan(request("10.1.2.4", "tx", "priority-ptt-on")));
  EXPECT_EQ(written(), Lines{"61 40 00 00"});
  EXPECT_EQ(c->filter().filter_addr, ::inet_addr("10.1.2.4"));
  clock.advance(2000);
  EXPECT_EQ(written(), Lines{});
  EXPECT_EQ(c->radio_state().flags, 0x3001u);

  ASSERT_TRUE(c->SendASNToChan(status("squ-off")));  // PTT off
  EXPECT_EQ(written(), Lines{"01 40 00 00"});
  EXPECT_FALSE(c->filter_on());
  clock.advance(1000);
  EXPECT_EQ(written(), Lines{"01 40 00 00"});
}

TEST_F(ED137ControlTest, EachRunOfPayloadsFromOneSessionIsOneReportAndARepeatWithinAnIntervalIsNone) {
  Mux::TestClock clock(9000);
  auto c = gateway({}, false);
  c->SendASNToChan(status("squ-on", "bss-method agc, bss-quality 9"));
  inject("10.0.0.5", 5, "20 00 00 00");
  inject("10.0.0.5", 5, "40 00");  // coupling PTT, the header alone
  inject("10.0.0.5", 5, "40");     // too short: skipped
  inject("10.0.0.6", 6, "20 00 00 00");
  ASSERT_TRUE(reports(2));
  EXPECT_EQ(rec.summary(), (Lines{"tx 2 10.0.0.5 5", "tx 1 10.0.0.6 6"}));
  EXPECT_EQ(c->rx_packets(), 3u);
  EXPECT_EQ(c->last_unpack_error(), r2s_proto_too_short);
  // The status part is the radio's, with its SQI.
  const auto& st = rec.reports[0].get_status().get_ed_137();
  EXPECT_EQ(st.get_header().get_squ().ASN1::ENUMERATED::getValue(), 1);
  EXPECT_EQ(st.get_sqi().get_bss_quality().getValue(), 9);
  EXPECT_EQ(st.get_sqi().get_bss_method().ASN1::ENUMERATED::getValue(), 1);
  EXPECT_EQ(c->chan_state().session_addr, ::inet_addr("10.0.0.6"));

  // The same state again: not within the interval, again after it.
  rec.reports.clear();
  clock.set(9999);
  inject("10.0.0.6", 6, "20 00 00 00");
  EXPECT_TRUE(reports(0));
  clock.set(10000);
  inject("10.0.0.6", 6, "20 00 00 00");
  ASSERT_TRUE(reports(1));
  // A changed state is reported at once.
  inject("10.0.0.6", 6, "00 00 00 00");
  ASSERT_TRUE(reports(2));
  EXPECT_EQ(rec.summary(), (Lines{"tx 1 10.0.0.6 6", "tx 0 10.0.0.6 6"}));
}

TEST_F(ED137ControlTest, OnlyARadioThatTransmitsInATransmittingModeReportsAPTT) {
  using T = TERM::ED137RadioType;
  using M = TERM::ED137RadioTxRxMode;
  const struct {
    int type, mode;
    bool reported;
  } cases[] = {{T::radio_idle, M::txrx, false}, {T::radio_rxonly, M::txrx, false}, {T::radio_txrx, M::rx, false},
               {T::radio_txrx, M::tx, true},    {T::radio, M::txrx, true},         {T::coupling, M::tx, true}};
  for (const auto& k : cases) {
    rec.reports.clear();
    auto c = gateway(params(k.type, k.mode), false);
    inject("10.0.0.5", 5, "20 00 00 00");
    EXPECT_TRUE(reports(k.reported ? 1 : 0)) << k.type << " " << k.mode;
    EXPECT_EQ(c->rx_packets(), 1u);
  }
}

TEST_F(ED137ControlTest, NothingReceivedForTheLimitIsToldOnEveryTickUntilAPayloadComes) {
  Mux::TestClock clock(100000);
  auto c = gateway();
  clock.advance(1000);
  EXPECT_EQ(rec.codes, std::vector<int>{});
  EXPECT_EQ(written(true), Lines{"101000: 00 00 00 00"});  // the keep-alive of an untouched radio
  clock.advance(1000);
  EXPECT_EQ(rec.codes, std::vector<int>{151});
  EXPECT_EQ(written(true), Lines{"102000: 00 00 00 00"});
  clock.advance(1000);
  EXPECT_EQ(rec.codes, (std::vector<int>{151, 151}));

  inject("10.0.0.5", 5, "20 00 00 00");
  ASSERT_TRUE(reports(1));
  EXPECT_EQ(c->last_receive_ms(), 103000u);
  clock.advance(1999);
  EXPECT_EQ(rec.codes.size(), 2u);
  clock.advance(1000);
  EXPECT_EQ(rec.codes.size(), 3u);
}

TEST_F(ED137ControlTest, TheNextTickIsDueWhenTheLastSendIsAnIntervalOld) {
  Mux::TestClock clock(20000);
  auto c = gateway({}, false);
  c->SendASNToChan(status("squ-on"));
  written();
  EXPECT_EQ(c->ProcessRadioStatus(20300, 1000), 710u);
  EXPECT_EQ(written(), Lines{});
  EXPECT_EQ(c->ProcessRadioStatus(21000, 1000), 1000u);  // a keep-alive now
  EXPECT_EQ(written(), Lines{"11 40 00 00"});
  EXPECT_EQ(c->last_keepalive_ms(), 21000u);
  // A send time ahead of now is no age: nothing sent, a whole interval.
  EXPECT_EQ(c->ProcessRadioStatus(20500, 1000), 1000u);
  EXPECT_EQ(written(), Lines{});
}

// The loop clock wraps every 49.7 days: the keep-alives and the code go on.
TEST_F(ED137ControlTest, KeepAlivesAndTheNoReceptionCodeGoOnAcrossTheLoopClocksWrap) {
  ED137RadioParams p;
  p.keepalive_period = 100;
  p.keepalive_multiplier = 3;
  Mux::TestClock clock(0xFFFFFFFFu - 1000);
  auto c = gateway(p);
  EXPECT_EQ(c->status_interval(), 150u);
  for (int tick = 1; tick <= 16; ++tick) {
    clock.advance(150);
    EXPECT_EQ(written().size(), 1u) << tick;
    EXPECT_EQ(rec.codes.size(), tick < 2 ? 0u : static_cast<std::size_t>(tick - 1)) << tick;
  }
}

TEST_F(ED137ControlTest, AnRxPayloadReadsItsSqiWithTheQualityFirstAndTheLastSqiCounts) {
  r2s_proto r;
  r2s_proto_init(&r, r2s_proto_type_rx);
  r2s_proto_set_rx_header(&r, 1, 1, 5, 0, 1, 1);
  r2s_proto_add_rx_sqi(&r, 7, 1);
  r2s_proto_add_rx_sqi(&r, 20, 2);
  r.source_addr = ::inet_addr("10.0.0.5");
  r.source_ssrc = 9;
  ED137RadioState s;
  Gateway::DecodeProto(r, s);
  EXPECT_EQ(s.flags, 0x1003u);
  EXPECT_EQ(s.bss_quality, 20u);
  EXPECT_EQ(s.bss_method, 2u);
  EXPECT_EQ(s.ptt_summation, 1u);
  EXPECT_EQ(s.sct, 1u);
  EXPECT_EQ(s.session_ssrc, 9u);
}

TEST_F(ED137ControlTest, TheSessionParametersTakeWhatTheResponseHas) {
  TERM::ED137RadioResponse r;
  ASSERT_TRUE(r.setFromValueNotation("{ type radio-rxonly, txrxmode rx, ptt-id 0 }"));
  ED137RadioParams p;
  p.Init(r);
  EXPECT_EQ(p.radio_type, 1);
  EXPECT_EQ(p.txrx_mode, 1);
  EXPECT_EQ(p.sigtime, 1);
  EXPECT_EQ(p.keepalive_period, 200);
  EXPECT_EQ(p.keepalive_multiplier, 10);
  EXPECT_FALSE(p.transmission_depends_on_squ);

  ASSERT_TRUE(
      r.setFromValueNotation("{ type coupling, txrxmode tx, sigtime 2, r2s-keepalive-period 100, "
                             "r2s-keepalive-multiplier 3, ptt-id 0, transmission-depend-on-squ TRUE }"));
  p.Init(r);
  EXPECT_EQ(p.radio_type, 4);
  EXPECT_EQ(p.txrx_mode, 0);
  EXPECT_EQ(p.sigtime, 2);
  EXPECT_EQ(p.keepalive_period, 100);
  EXPECT_EQ(p.keepalive_multiplier, 3);
  EXPECT_TRUE(p.transmission_depends_on_squ);
}

TEST_F(ED137ControlTest, TheTraceShowsEachControllerMessageAndEachReport) {
  auto c = gateway({}, false);
  c->SetTrace(true);
  c->SendASNToChan(status("squ-on"));
  inject("10.0.0.5", 5, "20 00 00 00");
  ASSERT_TRUE(reports(1));
  const std::string l = log();
  EXPECT_TRUE(hwtest::contains(l, ":command=0x1001 receive extension from controller: {")) << l;
  EXPECT_TRUE(hwtest::hasLine(l, "rtp_ext[5] ", ":receive extension packet(s)!"));
  EXPECT_TRUE(hwtest::contains(l, ": command=0x2001 send extension to controller: {"));
}

}  // namespace
