// PSTN signalling slots on HDLC channels of the simulated controller, on
// the loop's test clock: what the end-to-end tests leave out (the exchange
// of two links is there).
#include "slots/pstn_slot.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "links/ss7/slc.h"
#include "slots/slots.h"
#include "tests/slots/signalling_fixture.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;

const char pri[] = "pstn : isdn : { type pri, trunk 1, log 0, side user : NULL }";

class PstnSlots : public SignallingTest {
 protected:
  // Trunk slots 1 and 2 on timeslot 16 of trunks 0 and 1, each the source
  // and receiver of PSTN slot 10 and 20 made from the given parameters.
  void pair(const std::string& first, const std::string& second) {
    for (const auto& s : {std::make_pair(1, "trunk : { trunk 0, timeslot 16 }"),
                          std::make_pair(2, "trunk : { trunk 1, timeslot 16 }"),
                          std::make_pair(10, first.c_str()), std::make_pair(20, second.c_str())})
      ASSERT_EQ(exchange(create(1, s.first, s.second)).front(), success(1, s.first));
    for (const auto& c : {std::make_pair(1, 10), std::make_pair(10, 1), std::make_pair(2, 20), std::make_pair(20, 2)})
      ASSERT_EQ(exchange(cmd(2, c.first, "connect : " + std::to_string(c.second))).back(), success(2, c.first));
    during(1500);
  }
  PstnSlot& pstn(unsigned n) { return dynamic_cast<PstnSlot&>(*at(n)); }
  void ss7Pair() {
    pair("pstn : ss7 : { trunk 1, slc 0, dpc 2, opc 1, emergency TRUE }",
         "pstn : ss7 : { trunk 4, slc 0, dpc 1, opc 2, emergency TRUE }");
    ASSERT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::worked);
  }
};

TEST_F(PstnSlots, ACasSlotHasNoLinkButReportsItsChannelEvery3000msFromItsCreation) {
  EXPECT_EQ(exchange(create(1, 5, "pstn : cas : { trunk 1 }")), Lines{success(1, 5)});
  EXPECT_EQ(during(PstnSlot::update_ms - 1), Lines{});
  EXPECT_EQ(during(1), Lines{signal(5, "ioctl : hdlcLinkInfo : { txSU 0, txDiscard 0, txError 0, txOverflow 0, "
                                       "rxSU 0 }")});
  EXPECT_EQ(kinds(during(PstnSlot::update_ms)), Lines{"ioctl : hdlcLinkInfo"});
  EXPECT_EQ(answer(cmd(2, 5, "ioctl : ss7RqBSN : NULL")), error(2, 5, "unsupported"));
  // Not connected, the slot has no channel to send on.
  EXPECT_EQ(answer(cmd(3, 5, "userData : '0102'H")), error(3, 5, "busError"));
}

// userData goes down the link only while its channel is open: a driver that
// has gone, or a slot cut from its trunk, answers busError, never success.
TEST_F(PstnSlots, UserDataOnALinkWhoseChannelHasGoneIsRefusedBusError) {
  ss7Pair();
  const std::string msu = "userData : '830102030405'H";
  EXPECT_EQ(answer(cmd(3, 10, msu)), success(3, 10));
  command("mcc error 1024");
  during(10);
  EXPECT_EQ(answer(cmd(4, 10, msu)), error(4, 10, "busError"));
  EXPECT_TRUE(contains(err(), "10:pstn: user data of the controller not sent: the link's channel is closed\n"))
      << err();
  // The other end's channel is still there.
  EXPECT_EQ(answer(cmd(5, 20, msu)), success(5, 20));
  // Cut from its trunk, the slot has let its channel and its paths go.
  const int m = pstn(20).channel().channel();
  ASSERT_GE(m, 1024);
  const Lines cut = exchange(cmd(6, 20, "disconnect : NULL"));
  EXPECT_EQ(cut.back(), success(6, 20));
  // The link went out of service offering its channel nothing (no SIOS).
  const std::string said = testing::PrintToString(of(20, cut));
  EXPECT_TRUE(contains(said, "hdlcLinkInfo : { txSU ") && contains(said, "txDiscard 0,")) << said;
  during(10);
  EXPECT_FALSE(pstn(20).channel().is_open());
  EXPECT_EQ(answer(cmd(7, 20, msu)), error(7, 20, "busError"));
  EXPECT_EQ(tdm().output(m).drive, sim::Tdm::Drive::undriven);
}

TEST_F(PstnSlots, TheSs7LinkHearsOfItsOwnTrunkOnlyAndOnlyOfAChange) {
  ss7Pair();
  const auto report = [&](int trunk, const char* state) {
    LGCP::Signal s;
    ASSERT_TRUE(s.setFromValueNotation("trunkStatus : { trunk " + std::to_string(trunk) + ", state " + state +
                                       ", slips 0, lossBF 0, lossCarrier 0, lossAIS 0, lossRAI 0, name \"\", "
                                       "clockMaster FALSE, type e1 }"));
    Slots::instance().OnSignal(s);
  };
  // Slot 10's link is on trunk 1 of the controller, trunk 0 of the board.
  report(1, "lossCarrier");
  EXPECT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::worked);
  report(0, "lossCarrier");
  EXPECT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::idle);
  EXPECT_EQ(kinds(of(10, during(20))),
            (Lines{"ioctl : ss7LinkInfo", "ioctl : hdlcLinkInfo", "ioctl : ss7LinkInfo", "deactivated"}));
  // Back in service, the same state again is no news.
  for (int n : {10, 20}) EXPECT_EQ(answer(cmd(3, n, "activate : empty : NULL")), success(3, n));
  during(1500);
  ASSERT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::worked);
  report(0, "lossCarrier");
  EXPECT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::worked);

  // The controller's trace switches reach the link; data that would leave
  // as a status unit is refused, and said so.
  EXPECT_EQ(answer(cmd(4, 10, "ioctl : ss7Log : { state TRUE, raw-receive FALSE, raw-transmit TRUE, mtp-transmit "
                              "FALSE, mtp-receive FALSE, mtp-activate FALSE, timers FALSE, msu-processing TRUE }")),
            success(4, 10));
  EXPECT_TRUE(pstn(10).slc_link()->traces().raw_transmit && pstn(10).slc_link()->traces().msu_processing);
  EXPECT_FALSE(pstn(10).slc_link()->traces().timers);
  cerr_.take();
  EXPECT_EQ(answer(cmd(5, 10, "userData : ''H")), error(5, 10, "invalidParams"));
  EXPECT_EQ(answer(cmd(6, 10, "userData : '8102'H")), error(6, 10, "invalidParams"));
  EXPECT_TRUE(contains(err(), "msu of 0 octet(s) refused") && contains(err(), "msu of 2 octet(s) refused")) << err();
}

TEST_F(PstnSlots, AConnectionFromNoTrunkTimeslotIsRefusedAndAChannelNotHadIsReportedDeactivated) {
  ASSERT_EQ(exchange(create(1, 1, "trunk_bri : { trunk 5, timeslot 1 }")).size(), 3u);
  ASSERT_EQ(exchange(create(2, 2, "map : { transmitter { bus 1, channel 5 } }")).size(), 2u);
  ASSERT_EQ(exchange(create(3, 10, pri)).size(), 1u);
  EXPECT_EQ(exchange(cmd(4, 1, "connect : 10")).back(), error(4, 1, "connectFail"));
  EXPECT_EQ(answer(cmd(5, 2, "connect : 10")), error(5, 2, "connectFail"));
  EXPECT_EQ(err(), "pstn-slot: invalid trunk number: 5\npstn-slot: invalid trunk number: -1\n");
  EXPECT_EQ(allocations(), std::vector<int>{});

  ASSERT_EQ(exchange(create(6, 4, "trunk : { trunk 0, timeslot 16 }")).size(), 3u);
  command("fail mcc/ctl 40144D00 ENOSPC 1");
  EXPECT_EQ(exchange(cmd(7, 4, "connect : 10")), (Lines{signal(10, "deactivated : networkError"), success(7, 4)}));
}

TEST_F(PstnSlots, AChannelThatFailsTakesItsLinkOutOfService) {
  ss7Pair();
  command("mcc error 1024");
  EXPECT_EQ(kinds(of(10, during(10))).back(), "deactivated");
  EXPECT_EQ(pstn(10).slc_link()->get_state_id(), SS7::SLC::State::idle);
  EXPECT_FALSE(pstn(10).channel().is_open());
}

// Destroyed with its link running, a slot releases the link at once: one
// "deactivated" where there is a link, and not a frame more on its line.
TEST_F(PstnSlots, DestroyingEachKindWithItsLinkRunningFreesTheLinkBeforeItsChannel) {
  pair(pri, "pstn : isdn : { type pri, trunk 2, log 0, side network : NULL }");
  const struct {
    int slot;
    const char* create;  // with its trunk slot, at slot - 8, as source and receiver
    const char* trunk;
    long deactivated;
  } cases[] = {
      {10, nullptr, nullptr, 1},
      {20, nullptr, nullptr, 1},
      {11, "pstn : ss7 : { trunk 3, slc 0, dpc 2, opc 1, emergency TRUE }", "trunk : { trunk 2, timeslot 16 }", 1},
      {12, "pstn : isdn : { type bri, trunk 4, log 0, side network : NULL }", "trunk : { trunk 3, timeslot 16 }", 1},
      {13, "pstn : cas : { trunk 3 }", "trunk : { trunk 2, timeslot 17 }", 0},
  };
  for (const auto& k : cases) {
    if (!k.create) continue;
    ASSERT_EQ(exchange(create(1, k.slot - 8, k.trunk)).front(), success(1, k.slot - 8));
    ASSERT_EQ(exchange(create(1, k.slot, k.create)).size(), 1u);
    for (const auto& c : {std::make_pair(k.slot - 8, k.slot), std::make_pair(k.slot, k.slot - 8)})
      ASSERT_EQ(exchange(cmd(2, c.first, "connect : " + std::to_string(c.second))).back(), success(2, c.first));
  }
  during(20);
  board().clear_journal();
  for (const auto& k : cases) {
    const int m = pstn(static_cast<unsigned>(k.slot)).channel().channel();
    ASSERT_GE(m, 1024) << k.slot;
    const std::size_t sent = written(m).size();
    const Lines out = exchange(cmd(3, k.slot, "destroy : NULL"));
    EXPECT_EQ(std::count(out.begin(), out.end(), success(3, k.slot)), 1) << k.slot;
    const Lines mine = kinds(of(k.slot, out));
    EXPECT_EQ(std::count(mine.begin(), mine.end(), "deactivated"), k.deactivated) << k.slot;
    during(20);
    EXPECT_EQ(written(m).size(), sent) << k.slot;
  }
  const Lines j = journal();
  EXPECT_EQ(std::count(j.begin(), j.end(), "close /dev/mcc/ctl"), 5);
}

TEST_F(PstnSlots, ALapdLinkCountsAnEmptyMessageAndReportsAFullQueueCongested) {
  pair(pri, "pstn : isdn : { type pri, trunk 2, log 0, side network : NULL }");
  EXPECT_EQ(answer(cmd(1, 10, "userData : ''H")), success(1, 10));
  EXPECT_EQ(pstn(10).lapd_link()->stats().empty, 1u);
  const std::vector<char> message{0x08, 0x01, 0x01, 0x05};
  // Faster than the line: all but the window's worth wait in the link.
  for (int i = 0; i < 95; ++i) ASSERT_TRUE(pstn(10).IUserData(message));
  EXPECT_EQ(drain(), Lines{signal(10, "ioctl : isdnLinkStatus : congested")});
  const Lines out = during(2000);
  EXPECT_EQ(std::count(out.begin(), out.end(), signal(20, "userData : '08 01 01 05'H")), 95);
  EXPECT_EQ(std::count(out.begin(), out.end(), signal(10, "ioctl : isdnLinkStatus : normal")), 1);
}

}  // namespace
