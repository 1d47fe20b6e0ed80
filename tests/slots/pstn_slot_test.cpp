// PSTN signalling slots: links on HDLC channels of the simulated controller,
// two slots on cabled trunks talking to each other.
#include "slots/pstn_slot.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "links/ss7/slc.h"
#include "slots/slots.h"
#include "tests/slots/signalling_fixture.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;

const char setup[] = "'0801010504038090A2'H";
const char callProceeding[] = "'08018102180189'H";

std::string pri(int trunk, const char* side) {
  return std::string("pstn : isdn : { type pri, trunk ") + std::to_string(trunk) + ", log 0, side " + side +
         " : NULL }";
}
std::string ss7(int trunk, int dpc, int opc) {
  return "pstn : ss7 : { trunk " + std::to_string(trunk) + ", slc 0, dpc " + std::to_string(dpc) + ", opc " +
         std::to_string(opc) + ", emergency TRUE }";
}

class PstnSlots : public SignallingTest {
 protected:
  // Trunk slots 1 (trunk 0 timeslot 16) and 2 (trunk 1 timeslot 16), PSTN
  // slots 10 and 20 made from the given parameters, each connected to its
  // trunk slot both ways: the trunk as the source first.
  Lines pair(const std::string& first, const std::string& second) {
    EXPECT_EQ(exchange(create(1, 1, "trunk : { trunk 0, timeslot 16 }")).front(), success(1, 1));
    EXPECT_EQ(exchange(create(2, 2, "trunk : { trunk 1, timeslot 16 }")).front(), success(2, 2));
    EXPECT_EQ(exchange(create(3, 10, first)).front(), success(3, 10));
    EXPECT_EQ(exchange(create(4, 20, second)).front(), success(4, 20));
    Lines out;
    for (const std::string& m : exchange(cmd(5, 1, "connect : 10"))) out.push_back(m);
    for (const std::string& m : exchange(cmd(6, 10, "connect : 1"))) out.push_back(m);
    for (const std::string& m : exchange(cmd(7, 2, "connect : 20"))) out.push_back(m);
    for (const std::string& m : exchange(cmd(8, 20, "connect : 2"))) out.push_back(m);
    return out;
  }
  PstnSlot& pstn(unsigned n) { return dynamic_cast<PstnSlot&>(*at(n)); }
};

TEST_F(PstnSlots, TwoPriLinksComeUpOnCabledTrunksAndCarryLayerThreeBothWays) {
  Lines out = pair(pri(1, "user"), pri(2, "network"));
  // Each channel was allocated in PRI mode and switched both ways on its
  // timeslot when the trunk became its source.
  EXPECT_EQ(allocations(), (std::vector<int>{0, 0}));
  EXPECT_EQ(matrix(16), "16 <- 1024");
  EXPECT_EQ(matrix(1024), "1024 <- 16");
  EXPECT_EQ(matrix(48), "48 <- 1025");
  for (const std::string& m : during(50)) out.push_back(m);
  EXPECT_EQ(kinds(of(10, out)),
            (Lines{"receiver", "transmitter", success(6, 10), "ioctl : isdnLinkInfo", "activated"}))
      << ::testing::PrintToString(out);
  EXPECT_EQ(kinds(of(20, out)),
            (Lines{"receiver", "transmitter", success(8, 20), "ioctl : isdnLinkInfo", "activated"}));
  // Each link reports the side it is.
  EXPECT_TRUE(contains(of(10, out)[3], "isdnLinkInfo : { side user,")) << of(10, out)[3];
  EXPECT_TRUE(contains(of(20, out)[3], "isdnLinkInfo : { side network,")) << of(20, out)[3];

  EXPECT_EQ(answer(cmd(9, 10, std::string("userData : ") + setup)), success(9, 10));
  EXPECT_EQ(during(20), Lines{signal(20, "userData : '08 01 01 05 04 03 80 90 a2'H")});
  EXPECT_EQ(answer(cmd(10, 20, std::string("userData : ") + callProceeding)), success(10, 20));
  EXPECT_EQ(during(20), Lines{signal(10, "userData : '08 01 81 02 18 01 89'H")});

  // An empty message is counted by the link and goes no further.
  const std::size_t sent = written(1024).size();
  EXPECT_EQ(answer(cmd(11, 10, "userData : ''H")), success(11, 10));
  during(20);
  EXPECT_EQ(written(1024).size(), sent);
  EXPECT_EQ(pstn(10).lapd_link()->stats().empty, 1u);
  EXPECT_EQ(pstn(10).lapd_link()->stats().from_above, 2u);
}

TEST_F(PstnSlots, ALinkWhoseQueueFillsIsReportedCongestedAndNormalOnceItDrains) {
  pair(pri(1, "user"), pri(2, "network"));
  during(50);
  const std::vector<char> message{0x08, 0x01, 0x01, 0x05, 0x04, 0x03, static_cast<char>(0x80), static_cast<char>(0x90),
                                  static_cast<char>(0xA2)};
  // Faster than the line: all but the window's worth wait in the link.
  for (int i = 0; i < 95; ++i) ASSERT_TRUE(pstn(10).IUserData(message));
  EXPECT_EQ(drain(), Lines{signal(10, "ioctl : isdnLinkStatus : congested")});
  const Lines out = during(2000);
  EXPECT_EQ(std::count(out.begin(), out.end(), signal(20, "userData : '08 01 01 05 04 03 80 90 a2'H")), 95);
  EXPECT_EQ(std::count(out.begin(), out.end(), signal(10, "ioctl : isdnLinkStatus : normal")), 1);
}

TEST_F(PstnSlots, ReleaseReportsTheLinkThenAFullReportThatRestartsTheCycleThenDeactivated) {
  pair(pri(1, "user"), pri(2, "network"));
  during(50);
  clock.advance(100);  // away from the statistics cycle of the creation
  drain();
  EXPECT_EQ(answer(cmd(9, 10, "deactivate : NULL")), success(9, 10));
  const Lines out = during(50);
  EXPECT_EQ(kinds(of(10, out)), (Lines{"ioctl : isdnLinkInfo", "ioctl : hdlcLinkInfo", "deactivated"}));
  EXPECT_EQ(kinds(of(20, out)), (Lines{"ioctl : isdnLinkInfo", "ioctl : hdlcLinkInfo", "deactivated"}));
  // The next report of slot 10 comes a whole cycle after the full one,
  // not when the cycle begun at its creation would have ended.
  EXPECT_EQ(of(10, during(2900)), Lines{});
  EXPECT_EQ(kinds(of(10, during(150))), Lines{"ioctl : hdlcLinkInfo"});
}

TEST_F(PstnSlots, ACasSlotHasNoLinkButReportsItsChannelEvery3000msFromItsCreation) {
  EXPECT_EQ(exchange(create(1, 5, "pstn : cas : { trunk 1 }")), Lines{success(1, 5)});
  EXPECT_EQ(during(PstnSlot::update_ms - 1), Lines{});
  EXPECT_EQ(during(1), Lines{signal(5, "ioctl : hdlcLinkInfo : { txSU 0, txDiscard 0, txError 0, txOverflow 0, "
                                       "rxSU 0 }")});
  EXPECT_EQ(kinds(during(PstnSlot::update_ms)), Lines{"ioctl : hdlcLinkInfo"});
  EXPECT_EQ(answer(cmd(2, 5, "ioctl : ss7RqBSN : NULL")), error(2, 5, "unsupported"));
  EXPECT_EQ(answer(cmd(3, 5, "ioctl : ss7Log : { state TRUE, raw-receive FALSE, raw-transmit FALSE, mtp-transmit "
                             "FALSE, mtp-receive FALSE, mtp-activate FALSE, timers FALSE, msu-processing FALSE }")),
            error(3, 5, "unsupported"));
  EXPECT_EQ(answer(cmd(4, 5, "userData : '0102'H")), success(4, 5));
  EXPECT_EQ(answer(cmd(5, 5, "userData : ''H")), success(5, 5));
}

TEST_F(PstnSlots, Ss7LinksAlignAndCarryMsusAndAnswerTheControllersRequests) {
  Lines out = pair(ss7(1, 2, 1), ss7(2, 1, 2));
  EXPECT_EQ(allocations(), (std::vector<int>{3, 3}));
  for (const std::string& m : during(1500)) out.push_back(m);
  const Lines mine = of(10, out);
  ASSERT_GE(mine.size(), 2u);
  EXPECT_EQ(kinds(Lines(mine.end() - 2, mine.end())), (Lines{"ioctl : ss7LinkInfo", "activated"}))
      << ::testing::PrintToString(out);
  EXPECT_TRUE(contains(mine[mine.size() - 2], "ss7state worked }")) << mine[mine.size() - 2];
  EXPECT_EQ(kinds(of(20, out)).back(), "activated");

  // An MSU: SIO, routing label, a test message.
  EXPECT_EQ(answer(cmd(9, 10, "userData : '8102400000117012345678'H")), success(9, 10));
  EXPECT_EQ(during(20), Lines{signal(20, "userData : '81 02 40 00 00 11 70 12 34 56 78'H")});
  EXPECT_EQ(answer(cmd(10, 20, "userData : '8101800000117012345678'H")), success(10, 20));
  EXPECT_EQ(during(20), Lines{signal(10, "userData : '81 01 80 00 00 11 70 12 34 56 78'H")});

  // The BSN slot 10 sends acknowledges the MSU it received.
  EXPECT_EQ(exchange(cmd(11, 10, "ioctl : ss7RqBSN : NULL")),
            (Lines{signal(10, "ioctl : ss7BSN : " + std::to_string(pstn(10).slc_link()->bsn_to_send())),
                   success(11, 10)}));
  EXPECT_EQ(pstn(10).slc_link()->bsn_to_send(), 0u);
  EXPECT_EQ(answer(cmd(12, 10, "ioctl : ss7Log : { state TRUE, raw-receive FALSE, raw-transmit TRUE, mtp-transmit "
                               "FALSE, mtp-receive FALSE, mtp-activate FALSE, timers FALSE, msu-processing TRUE }")),
            success(12, 10));
  EXPECT_TRUE(pstn(10).slc_link()->traces().state);
  EXPECT_TRUE(pstn(10).slc_link()->traces().raw_transmit);
  EXPECT_TRUE(pstn(10).slc_link()->traces().msu_processing);
  EXPECT_FALSE(pstn(10).slc_link()->traces().timers);

  // Fewer than 3 octets would leave as a status unit: refused, and said so.
  const std::size_t sent = written(1024).size();
  cerr_.take();
  EXPECT_EQ(answer(cmd(13, 10, "userData : ''H")), error(13, 10, "invalidParams"));
  EXPECT_EQ(answer(cmd(14, 10, "userData : '8102'H")), error(14, 10, "invalidParams"));
  EXPECT_TRUE(contains(err(), "msu of 0 octet(s) refused")) << err();
  EXPECT_TRUE(contains(err(), "msu of 2 octet(s) refused")) << err();
  during(20);
  EXPECT_EQ(written(1024).size(), sent);
}

TEST_F(PstnSlots, TrunkStatusReachesTheSs7LinkOfItsTrunkOnlyAndOnlyWhenItChanges) {
  pair(ss7(1, 2, 1), ss7(4, 1, 2));
  during(1500);
  ASSERT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::worked);
  const auto report = [&](int trunk, const char* state) {
    LGCP::Signal s;
    ASSERT_TRUE(s.setFromValueNotation("trunkStatus : { trunk " + std::to_string(trunk) + ", state " + state +
                                       ", slips 0, lossBF 0, lossCarrier 0, lossAIS 0, lossRAI 0, name \"\", "
                                       "clockMaster FALSE, type e1 }"));
    Slots::instance().OnSignal(s);
  };
  // Slot 10's link counts trunk 1 of the controller as trunk 0 of the
  // board; no link here has trunk 1 of the board.
  report(1, "lossCarrier");
  report(0, "normal");
  EXPECT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::worked);
  report(0, "lossCarrier");
  EXPECT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::idle);
  EXPECT_EQ(kinds(of(10, during(20))), (Lines{"ioctl : ss7LinkInfo", "ioctl : hdlcLinkInfo", "ioctl : ss7LinkInfo",
                                             "deactivated"}));
  // Back in service, the same state again is no news to the link.
  EXPECT_EQ(answer(cmd(20, 10, "activate : empty : NULL")), success(20, 10));
  EXPECT_EQ(answer(cmd(21, 20, "activate : empty : NULL")), success(21, 20));
  during(1500);
  ASSERT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::worked);
  report(0, "lossCarrier");
  EXPECT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::worked);
}

TEST_F(PstnSlots, ABriSlotTakesItsChannelOnlyOnceBothDirectionsAreConnectedInEitherOrder) {
  ASSERT_EQ(exchange(create(1, 1, "trunk : { trunk 0, timeslot 16 }")).size(), 3u);
  ASSERT_EQ(exchange(create(2, 2, "trunk : { trunk 1, timeslot 16 }")).size(), 3u);
  ASSERT_EQ(answer(create(3, 10, "pstn : isdn : { type bri, trunk 1, log 0, side user : NULL }")), success(3, 10));
  ASSERT_EQ(answer(create(4, 20, "pstn : isdn : { type bri, trunk 2, log 0, side network : NULL }")),
            success(4, 20));
  // The terminal side: its transmitter first.
  ASSERT_EQ(exchange(cmd(5, 10, "connect : 1")).back(), success(5, 10));
  EXPECT_EQ(allocations(), std::vector<int>{});
  ASSERT_EQ(exchange(cmd(6, 1, "connect : 10")).back(), success(6, 1));
  EXPECT_EQ(allocations(), std::vector<int>{1});
  EXPECT_EQ(matrix(16), "16 <- 1024");
  EXPECT_EQ(matrix(1024), "1024 <- 16");
  // The network side: its receiver first.
  ASSERT_EQ(exchange(cmd(7, 2, "connect : 20")).back(), success(7, 2));
  EXPECT_EQ(allocations(), std::vector<int>{1});
  ASSERT_EQ(exchange(cmd(8, 20, "connect : 2")).back(), success(8, 20));
  EXPECT_EQ(allocations(), (std::vector<int>{1, 1}));

  // The terminal asks for its TEI and brings its link up; the network side
  // is up at once and keeps no statistics of its own.
  const Lines out = during(3000);
  const Lines terminal = kinds(of(10, out));
  EXPECT_NE(std::find(terminal.begin(), terminal.end(), "activated"), terminal.end())
      << ::testing::PrintToString(out);
  for (const std::string& m : of(20, out)) EXPECT_FALSE(contains(m, "isdnLinkInfo")) << m;
  // A SETUP from the network goes to the terminal, whose answer comes back.
  EXPECT_EQ(answer(cmd(9, 20, std::string("userData : ") + setup)), success(9, 20));
  EXPECT_EQ(during(50), Lines{signal(10, "userData : '08 01 01 05 04 03 80 90 a2'H")});
  EXPECT_EQ(answer(cmd(10, 10, std::string("userData : ") + callProceeding)), success(10, 10));
  EXPECT_EQ(of(20, during(50)), Lines{signal(20, "userData : '08 01 81 02 18 01 89'H")});
}

TEST_F(PstnSlots, AConnectionFromNoTrunkTimeslotIsRefusedAndAChannelNotHadIsReportedDeactivated) {
  ASSERT_EQ(exchange(create(1, 1, "trunk_bri : { trunk 5, timeslot 1 }")).size(), 3u);
  ASSERT_EQ(exchange(create(2, 2, "map : { transmitter { bus 1, channel 5 } }")).size(), 2u);
  ASSERT_EQ(exchange(create(3, 10, pri(1, "user"))).size(), 1u);
  EXPECT_EQ(exchange(cmd(4, 1, "connect : 10")).back(), error(4, 1, "connectFail"));
  EXPECT_TRUE(contains(err(), "pstn-slot: invalid trunk number: 5\n")) << err();
  EXPECT_EQ(answer(cmd(5, 2, "connect : 10")), error(5, 2, "connectFail"));
  EXPECT_TRUE(contains(err(), "pstn-slot: invalid trunk number: -1\n")) << err();
  EXPECT_EQ(allocations(), std::vector<int>{});

  ASSERT_EQ(exchange(create(6, 4, "trunk : { trunk 0, timeslot 16 }")).size(), 3u);
  command("fail mcc/ctl 40144D00 ENOSPC 1");
  const Lines out = exchange(cmd(7, 4, "connect : 10"));
  EXPECT_EQ(kinds(of(10, out)), (Lines{"deactivated"}));
  EXPECT_EQ(out.back(), success(7, 4));
  EXPECT_TRUE(contains(err(), "MCC_ALLOCATE fail: No space left on device")) << err();
}

TEST_F(PstnSlots, AChannelThatFailsTakesItsSs7LinkOutOfServiceAtOnce) {
  pair(ss7(1, 2, 1), ss7(2, 1, 2));
  during(1500);
  ASSERT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::worked);
  command("mcc error 1024");
  EXPECT_EQ(kinds(of(10, during(10))).back(), "deactivated");
  EXPECT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::idle);
  EXPECT_FALSE(pstn(10).channel().is_open());
}

TEST_F(PstnSlots, AChannelThatFailsTakesItsLapdLinkDownOnTheLinksTimers) {
  // The link would not notice by itself: nothing it sends would go out.
  pair(pri(1, "user"), pri(2, "network"));
  during(50);
  ASSERT_EQ(pstn(10).lapd_link()->current_state(), 6u);
  command("mcc error 1024");
  EXPECT_EQ(kinds(of(10, during(5000))).back(), "deactivated");
}

TEST_F(PstnSlots, DestroyingEveryKindWithItsLinkRunningFreesTheLinkAndThenTheChannel) {
  pair(pri(1, "user"), pri(2, "network"));
  during(50);
  ASSERT_EQ(exchange(create(9, 11, ss7(1, 2, 1))).size(), 1u);
  ASSERT_EQ(exchange(create(10, 12, "pstn : isdn : { type bri, trunk 3, log 0, side network : NULL }")).size(), 1u);
  ASSERT_EQ(exchange(create(11, 13, "pstn : cas : { trunk 1 }")).size(), 1u);
  for (int n : {11, 12}) ASSERT_EQ(exchange(cmd(20 + n, n, "activate : empty : NULL")).back(), success(20 + n, n));
  during(20);
  board().clear_journal();
  for (int n : {10, 20, 11, 12, 13}) EXPECT_EQ(answer(cmd(30 + n, n, "destroy : NULL")), success(30 + n, n));
  during(20);
  int closed = 0;
  for (const std::string& l : journal()) closed += l == "close /dev/mcc/ctl";
  EXPECT_EQ(closed, 4);
  // The last frame slot 10 sent is its DISC, before its channel went.
  EXPECT_EQ(written(1024).back(), "00 01 53");
}

}  // namespace
