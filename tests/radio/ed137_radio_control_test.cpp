// The ED-137 radio gateway control on the simulated RTP extension driver,
// for what the end-to-end test does not reach: the state on the wire and
// when it is sent again, a tx request, the timer's arithmetic and the loop
// clock's wrap on the test clock, the SQI of a received rx payload.
#include "radio/ed137_radio_control.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/test_clock.h"
#include "tests/radio/radio_fixture.h"

namespace {

using namespace RTPSignalling;
using radiotest::Lines;

class Codes : public IRadioControlNotify {
 public:
  void RadioControlNotify(int code) override { codes.push_back(code); }
  // Each report as its session and PTT id.
  void RadioControlNotify(const TERM::RtpRadioRequest& r) override {
    const TERM::ED137RadioModifier& m = r.get_request().get_ed_137();
    reports.push_back(m.get_addr().get_session_addr() + " " +
                      std::to_string(m.get_params().get_tx().get_header().get_ptt_id().getValue()));
  }
  std::vector<int> codes;
  Lines reports;
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
                                     (sqi.empty() ? "" : ", sqi { " + sqi + " }") + " }"));
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
  // A gateway set up as its slot does, on an init record whose fourth word
  // is given.
  std::unique_ptr<Gateway> gateway(const ED137RadioParams& p = {}, bool timer = true, std::uint32_t word4 = 10) {
    rtp_ext_init_params in = init(rtp_ext::ed137_identifier);
    in.fill[2] = word4;
    in.fill[3] = 1;
    auto c = std::make_unique<Gateway>(5, attach(), in);
    c->SetParams(p);
    c->SetNotify(&rec);
    c->SetTimerInterval(static_cast<unsigned long>(p.keepalive_period * p.keepalive_multiplier / 2));
    c->SetTimerEnable(timer);
    return c;
  }
  // The payloads written on the newest session since the last call.
  Lines written() {
    settle();
    Lines out;
    for (const std::string& l : command("rtp-ext written last")) out.push_back(l.substr(l.find(' ') + 1));
    command("rtp-ext written last clear");
    return out;
  }

  Codes rec;
};

TEST_F(ED137ControlTest, AStateGoesOutWithTheQualityIndexFirstInItsSqiAndOnlyWhenItChanged) {
  auto c = gateway({}, false);
  ASSERT_TRUE(c->SendASNToChan(status("squ-on", "bss-method c-n, bss-quality 20")));
  // The index 20 in bits 7-3, the method C/N (2) in bits 2-0.
  EXPECT_EQ(written(), Lines{"11 41 11 A2"});
  EXPECT_TRUE(c->GetSQU());
  // Without SQI: no block, and the quality the radio had stays.
  ASSERT_TRUE(c->SendASNToChan(status("squ-off")));
  ASSERT_TRUE(c->SendASNToChan(status("squ-off")));  // the driver repeats it: not sent again
  EXPECT_EQ(written(), Lines{"01 40 00 00"});
  EXPECT_EQ(c->radio_state().bss_quality, 20u);
  c.reset();

  auto every = gateway({}, false, 0);  // the driver repeats nothing
  every->SendASNToChan(status("squ-on"));
  every->SendASNToChan(status("squ-on"));
  EXPECT_EQ(written(), (Lines{"11 40 00 00", "11 40 00 00"}));
}

TEST_F(ED137ControlTest, ARequestNamesTheSessionTheFilterFollowsAndATxStateIsNotKeptAlive) {
  Mux::TestClock clock(50000);
  auto c = gateway();
  ASSERT_TRUE(c->SendASNToChan(request("10.1.2.3", "rx", "normal-ptt-on")));
  EXPECT_EQ(written(), Lines{"21 40 00 00"});
  EXPECT_EQ(c->filter().filter_addr, ::inet_addr("10.1.2.3"));
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
  EXPECT_FALSE(c->filter_on());
  clock.advance(1000);
  EXPECT_EQ(written(), (Lines{"01 40 00 00", "01 40 00 00"}));
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
  for (int tick = 1; tick <= 16; ++tick) {
    clock.advance(150);
    EXPECT_EQ(written().size(), 1u) << tick;
    EXPECT_EQ(rec.codes.size(), static_cast<std::size_t>(tick - 1)) << tick;  // from 300 ms of silence on
  }
}

// A tx payload of an operator position, in hex for the board.
std::string txPayload(unsigned pttId) {
  r2s_proto r;
  r2s_proto_init(&r, r2s_proto_type_tx);
  r2s_proto_set_tx_header(&r, 1, pttId, 0, 0);
  unsigned char wire[64];
  const int n = r2s_proto_pack(&r, wire, sizeof wire);
  std::string hex;
  char pair[4];
  for (int i = 0; i < n; ++i) hex += std::string(pair, std::snprintf(pair, sizeof pair, " %02X", wire[i]));
  return hex;
}

TEST_F(ED137ControlTest, OneBatchGivesOneReportPerRunOfASessionCarryingItsLastPayload) {
  auto c = gateway({}, false);
  command("rtp-ext inject last 10.1.2.3 7" + txPayload(1) + " ," + txPayload(2));
  command("rtp-ext inject last 10.1.2.4 8" + txPayload(3));  // queued behind, read in the same batch
  ASSERT_TRUE(pump([&] { return rec.reports.size() >= 2; }));
  settle();
  EXPECT_EQ(rec.reports, (Lines{"10.1.2.3 2", "10.1.2.4 3"}));
  EXPECT_EQ(c->read_errno(), 0);  // the batch ended on an empty driver, which is no error
  EXPECT_EQ(c->chan_state().session_addr, ::inet_addr("10.1.2.4"));
}

TEST_F(ED137ControlTest, AnRxPayloadReadsItsSqiWithTheQualityFirstAndTheLastSqiCounts) {
  r2s_proto r;
  r2s_proto_init(&r, r2s_proto_type_rx);
  r2s_proto_set_rx_header(&r, 1, 1, 5, 0, 1, 1);
  r2s_proto_add_rx_sqi(&r, 7, 1);
  r2s_proto_add_rx_sqi(&r, 20, 2);
  ED137RadioState s;
  Gateway::DecodeProto(r, s);
  EXPECT_EQ(s.flags, 0x1003u);
  EXPECT_EQ(s.bss_quality, 20u);
  EXPECT_EQ(s.bss_method, 2u);
  EXPECT_EQ(s.sct, 1u);
}

}  // namespace
