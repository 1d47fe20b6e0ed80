// The slot base: connections of sources to receivers (the hooks they call,
// the stream signals they send, the matrix they switch) and driver events
// as signals. Slots are quiet probes, numbered through the registry.
#include "slots/slot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <sstream>

#include "tests/slots/slots_fixture.h"

namespace {

using namespace slotstest;

class SlotTest : public SlotsTest {
 protected:
  // Quiet probes on channels 2000 + n as slots n.
  void probes(std::initializer_list<int> numbers) {
    for (int n : numbers)
      ASSERT_EQ(answer(create(1, n, "spi-tdm : { channel " + std::to_string(2000 + n) + " }")), success(1, n));
    ProbeSlot::journal().clear();
  }
  std::vector<std::string> hooks() {
    std::vector<std::string> out;
    out.swap(ProbeSlot::journal());
    return out;
  }
  using Lines = std::vector<std::string>;
};

TEST_F(SlotTest, PutShowsTheNumberWithTwoDigitsAtLeastAndTheTypeName) {
  probes({5});
  ASSERT_EQ(answer(create(2, 1000, "spi-tdm : { channel 7 }")), success(2, 1000));
  std::ostringstream s;
  s << *at(5) << " " << *at(1000) << " " << ProbeSlot(1, false) << std::setw(3) << 7;
  EXPECT_EQ(s.str(), "05:probe 1000:probe na:probe  7");  // the fill is blank again
}

TEST_F(SlotTest, TheFirstReceiverOpensTheSourcesOutputAndAPairIsConnectedOnce) {
  probes({1, 2, 3});
  EXPECT_EQ(exchange(cmd(2, 1, "connect : 2")),
            (Lines{stream(1, "transmitter", 2001), stream(2, "receiver", 2002), success(2, 1)}));
  EXPECT_EQ(hooks(), (Lines{"01:probe IOnOutputStream", "02:probe IOnInputStream", "02:probe IHwConnectReceiver"}));
  EXPECT_EQ(matrix(2002), "2002 <- 2001");
  // A second receiver: only its own input is announced.
  EXPECT_EQ(exchange(cmd(3, 1, "connect : 3")), (Lines{stream(3, "receiver", 2003), success(3, 1)}));
  EXPECT_EQ(exchange(cmd(4, 1, "connect : 3")), Lines{success(4, 1)});
  EXPECT_EQ(hooks(), (Lines{"03:probe IOnInputStream", "03:probe IHwConnectReceiver"}));
  EXPECT_EQ(at(1)->receivers().size(), 2u);
}

TEST_F(SlotTest, TheSlotOfTheHigherPriorityDoesTheHardwareWork) {
  probes({1, 2});
  probe(1)->priority = 1;
  ASSERT_EQ(exchange(cmd(2, 1, "connect : 2")).back(), success(2, 1));
  ASSERT_EQ(exchange(cmd(3, 2, "disconnect : NULL")).back(), success(3, 2));
  EXPECT_EQ(hooks(), (Lines{"01:probe IOnOutputStream", "02:probe IOnInputStream", "01:probe IHwConnectTransmitter",
                            "01:probe IHwDisconnectTransmitter", "02:probe IOnInputRelease",
                            "01:probe IOnOutputRelease"}));
  probe(1)->priority = 0;
  probe(2)->priority = 2;
  ASSERT_EQ(exchange(cmd(4, 1, "connect : 2")).back(), success(4, 1));
  ASSERT_EQ(exchange(cmd(5, 2, "disconnect : NULL")).back(), success(5, 2));
  const Lines h = hooks();
  EXPECT_EQ(h[2], "02:probe IHwConnectReceiver");
  EXPECT_EQ(h[3], "02:probe IHwDisconnectReceiver");
  // Disconnect sends no stream signal: both stay announced.
  EXPECT_TRUE(at(2)->inputActive());
  EXPECT_TRUE(at(1)->outputActive());
}

TEST_F(SlotTest, AMovedReceiverTakesItsNewSourceAndTheOldOneLetsGo) {
  probes({1, 2, 3});
  ASSERT_EQ(exchange(cmd(2, 1, "connect : 3")).back(), success(2, 1));
  hooks();
  EXPECT_EQ(exchange(cmd(3, 2, "connect : 3")), (Lines{stream(2, "transmitter", 2002), success(3, 2)}));
  EXPECT_EQ(hooks(), (Lines{"02:probe IOnOutputStream", "01:probe IHwDisconnectTransmitter",
                            "03:probe IHwConnectReceiver", "01:probe IOnOutputRelease"}));
  EXPECT_EQ(at(3)->source(), at(2));
  EXPECT_TRUE(at(1)->receivers().empty());
  EXPECT_EQ(matrix(2003), "2003 <- 2002");
}

TEST_F(SlotTest, AFailedMoveKeepsTheOldPathOrCutsTheReceiverFromItsOldSource) {
  probes({1, 2, 3});
  ASSERT_EQ(exchange(cmd(2, 1, "connect : 3")).back(), success(2, 1));
  hooks();
  // The new path is refused: the old one is made again.
  command("fail hal 80084D02 EIO 1");
  EXPECT_EQ(exchange(cmd(3, 2, "connect : 3")), (Lines{stream(2, "transmitter", 2002), error(3, 2, "connectFail")}));
  EXPECT_EQ(matrix(2003), "2003 <- 2001");
  EXPECT_EQ(at(3)->source(), at(1));
  EXPECT_EQ(hooks(), (Lines{"02:probe IOnOutputStream", "01:probe IHwDisconnectTransmitter",
                            "03:probe IHwConnectReceiver", "03:probe IHwConnectReceiver",
                            "02:probe IOnOutputRelease"}));
  // Both refused: the receiver is cut from its old source, whose path has
  // gone; the stream flags stay as announced.
  command("fail hal 80084D02 EIO 2");
  EXPECT_EQ(exchange(cmd(4, 2, "connect : 3")), Lines{error(4, 2, "connectFail")});
  EXPECT_EQ(at(3)->source(), nullptr);
  EXPECT_TRUE(at(1)->receivers().empty());
  EXPECT_EQ(matrix(2003), "2003 = 0xD5");
  EXPECT_EQ(hooks(), (Lines{"02:probe IOnOutputStream", "01:probe IHwDisconnectTransmitter",
                            "03:probe IHwConnectReceiver", "03:probe IHwConnectReceiver", "03:probe IOnInputRelease",
                            "01:probe IOnOutputRelease", "02:probe IOnOutputRelease"}));
  EXPECT_TRUE(at(3)->inputActive());
  EXPECT_EQ(answer(cmd(5, 3, "disconnect : NULL")), success(5, 3));
}

TEST_F(SlotTest, AFailedConnectOfAFreshPairKeepsItsAnnouncementsAndReleasesBoth) {
  probes({1, 2});
  command("fail hal 80084D02 EIO 1");
  EXPECT_EQ(exchange(cmd(2, 1, "connect : 2")),
            (Lines{stream(1, "transmitter", 2001), stream(2, "receiver", 2002), error(2, 1, "connectFail")}));
  EXPECT_EQ(hooks(), (Lines{"01:probe IOnOutputStream", "02:probe IOnInputStream", "02:probe IHwConnectReceiver",
                            "02:probe IOnInputRelease", "01:probe IOnOutputRelease"}));
  EXPECT_TRUE(at(1)->outputActive() && at(2)->inputActive());
  // Announced already: the next attempt sends no stream signal.
  EXPECT_EQ(exchange(cmd(3, 1, "connect : 2")), Lines{success(3, 1)});
}

TEST_F(SlotTest, ARefusedDisconnectStillCutsTheLogicalLink) {
  probes({1, 2});
  ASSERT_EQ(exchange(cmd(2, 1, "connect : 2")).back(), success(2, 1));
  command("fail hal C0084D04 EIO 1");
  EXPECT_EQ(answer(cmd(3, 2, "disconnect : NULL")), error(3, 2, "disconnectFail"));
  EXPECT_EQ(at(2)->source(), nullptr);
  EXPECT_EQ(answer(cmd(4, 2, "disconnect : NULL")), success(4, 2));
}

TEST_F(SlotTest, AMissingStreamRefusesTheConnection) {
  probes({1, 2});
  probe(1)->hasOutput = false;
  EXPECT_EQ(answer(cmd(2, 1, "connect : 2")), error(2, 1, "connectFail"));
  EXPECT_TRUE(contains(err(), "slot 01:probe don't have output stream to 02:probe\n")) << err();
  probe(1)->hasOutput = true;
  probe(2)->hasInput = false;
  EXPECT_EQ(exchange(cmd(3, 1, "connect : 2")), (Lines{stream(1, "transmitter", 2001), error(3, 1, "connectFail")}));
  EXPECT_TRUE(contains(err(), "slot 02:probe don't have input stream from 01:probe\n")) << err();
}

TEST_F(SlotTest, StreamsGoingInactiveCutTheirConnections) {
  probes({1, 2, 3, 4});
  for (int r : {2, 3}) ASSERT_EQ(exchange(cmd(2, 1, "connect : " + std::to_string(r))).back(), success(2, 1));
  ASSERT_EQ(exchange(cmd(3, 4, "connect : 1")).back(), success(3, 4));
  hooks();
  at(1)->OnChangeOutputStream(false);
  at(1)->OnChangeInputStream(false);
  EXPECT_EQ(drain(), (Lines{inactive(1, "transmitter"), inactive(1, "receiver")}));
  EXPECT_TRUE(at(1)->receivers().empty());
  EXPECT_EQ(at(1)->source(), nullptr);
  Lines h = hooks();
  for (const char* line : {"02:probe IOnInputRelease", "03:probe IOnInputRelease", "01:probe IOnInputRelease",
                           "04:probe IOnOutputRelease"})
    EXPECT_EQ(std::count(h.begin(), h.end(), line), 1) << line;
  at(1)->OnChangeOutputStream(false);  // announced already
  EXPECT_TRUE(drain().empty());
}

TEST_F(SlotTest, ToneCodesBecomeDigitsFaxTonesAndVoiceCodes) {
  probes({3});
  Slot& s = *at(3);
  for (std::uint32_t code : {17u, 18u, 5u, 127u, 0x0300u, 0x1400u, 0x1500u, 0x1600u, 0x80u, 0xFFFFFF00u})
    s.processTonecEvent({code, 9});
  s.processToneGenEvent();
  const auto tone = [](const std::string& event, int timestamp = 9) {
    return "{ slot 3, pdu signal : tonec : { timestamp " + std::to_string(timestamp) + ", event " + event + " } }";
  };
  EXPECT_EQ(drain(), (Lines{tone("ced : NULL"), tone("cng : NULL"), tone("dtmf : 5"), tone("dtmf : 127"),
                            tone("iva : code : 3"), tone("iva : code : 20"), tone("iva : ringoff : NULL"),
                            tone("dtmfDone : NULL", 0)}));
  EXPECT_EQ(testkit::count(err(), "bad DTMF code, ignored.\n"), 3u) << err();
}

TEST_F(SlotTest, DspEventsBecomeVoiceActivitySelcalToneBssAndDetectorSignals) {
  probes({3});
  Slot& s = *at(3);
  s.processVADEvent({1, -1});
  s.processVADEvent({0, 7});
  s.processVADEvent({-1, -1});
  const dsproc_flags_event selcalOnly{0x80000000u, 0x80000000u}, rxAndSelcal{0x20000000u, 0xA0000000u};
  s.processFlagsEvent(&selcalOnly);
  s.processFlagsEvent(&rxAndSelcal);
  const dsproc_tone_event present{2100, 1, 0}, absent{2100, 0xFFFFFFFFu, 0};
  s.processToneFltEvent(&present);
  s.processToneFltEvent(&absent);
  s.processSDEvent({1});
  s.processSDEvent({0});
  s.processSDEvent({-1});
  rtp_event pd{1, 3, 500, {}}, other{2, 3, 500, {}};
  s.processRtpEvent(pd);
  s.processRtpEvent(other);
  const auto signal = [](const std::string& body) { return "{ slot 3, pdu signal : " + body + " }"; };
  EXPECT_EQ(drain(), (Lines{signal("vad : { vad-rx TRUE }"), signal("vad : { vad-rx FALSE, vad-tx TRUE }"),
                            signal("selcal : { in-progress TRUE }"), signal("vad : { vad-rx TRUE }"),
                            signal("selcal : { in-progress FALSE }"),
                            signal("tonec : { timestamp 0, event tone-presence : { freq 2100, presence TRUE } }"),
                            signal("tonec : { timestamp 0, event tone-presence : { freq 2100, presence FALSE } }"),
                            signal("sd : { sd-rx TRUE }"), signal("sd : { sd-rx FALSE }"),
                            signal("rtp : pd : { value 3, timeout 500 }")}));
  EXPECT_TRUE(contains(err(), "bad VAD event, ignored.\n")) << err();
  EXPECT_TRUE(contains(err(), "bad SD event, ignored.\n")) << err();
}

TEST_F(SlotTest, ABssScoreIsTextOfThirtyOneCharactersAtMost) {
  probes({3});
  for (float score : {0.25f, -3.5f, std::numeric_limits<float>::max(), std::nanf("")}) {
    const dsproc_bss_event e{score};
    at(3)->processBSSEvent(&e);
  }
  const std::string big = "340282346638528859811704183484516925440.000000";
  EXPECT_EQ(drain(), (Lines{"{ slot 3, pdu signal : bss : { score \"0.250000\" } }",
                            "{ slot 3, pdu signal : bss : { score \"-3.500000\" } }",
                            "{ slot 3, pdu signal : bss : { score \"" + big.substr(0, 31) + "\" } }",
                            "{ slot 3, pdu signal : bss : { score \" nan\" } }"}));
}

}  // namespace
