// The slot registry as a controller sees it: which commands it takes, how a
// number is created, replaced and destroyed (at once or late), the resource
// report, trunk status handed to the factories, and a lost controller.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/slots/slots_fixture.h"

namespace slots_service_test {  // named: see "Unity builds" in tests/README.md

using namespace slotstest;
using Lines = std::vector<std::string>;

const std::string trunk15 = "trunk : { trunk 1, timeslot 5 }";
const std::string late7 = "usb-tdm : { channel 7 }";

// Sends one trunk status from a service of its own, as the trunk service
// does.
struct TrunkService : CtrlSrv::Service {
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command&) override { return false; }
  void report(unsigned trunk) {
    LGCP::Signal signal;
    signal.select_trunkStatus().set_trunk(trunk);
    SendSignal(signal);
  }
};

using SlotsService = SlotsTest;

TEST_F(SlotsService, QueryIsAnsweredThenTheFactoriesCountsFollow) {
  ASSERT_EQ(exchange(create(1, 4, "spi-tdm : { channel 9 }")).size(), 1u);
  const Lines out = exchange("{ seq 1, pdu command : query : NULL }");
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], "{ seq 1, pdu response : success : NULL }");
  EXPECT_EQ(out[1].rfind("{ pdu signal : query : { boardMajor 0, boardMinor 0, rtp-g729 0,", 0), 0u) << out[1];
  EXPECT_TRUE(contains(out[1], "mux TRUE")) << out[1];
  EXPECT_TRUE(contains(out[1], "lin16 1,")) << out[1];  // the probe factory's count
  // Only a query without a slot is taken; commands without one are not.
  EXPECT_EQ(answer(cmd(5, 0, "query : NULL")), error(5, 0, "unexpectedMsgType"));
  EXPECT_EQ(answer("{ seq 6, pdu command : destroy : NULL }"), "{ seq 6, pdu response : error : unexpectedMsgType }");
  EXPECT_EQ(answer(cmd(7, 4, "ping : NULL")), error(7, 4, "unexpectedMsgType"));
}

// A family whose counts come later, from the loop.
struct LateFactory : SlotFactory {
  const char* GetName() const override { return "Late"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  bool PrepareQuery() override {
    ++asked;
    return false;
  }
  void Query(LGCP::Resources& r) override { r.set_digital_modems(count); }
  int asked = 0;
  unsigned count = 0;
};

// The reports wait for the counts; queries meanwhile ask no second time and
// each get their report; a controller that went is owed none.
TEST_F(SlotsService, ReportsWaitForCountsThatComeLater) {
  LateFactory late;
  EXPECT_EQ(exchange("{ seq 1, pdu command : query : NULL }"), Lines{"{ seq 1, pdu response : success : NULL }"});
  EXPECT_EQ(exchange("{ seq 2, pdu command : query : NULL }"), Lines{"{ seq 2, pdu response : success : NULL }"});
  EXPECT_EQ(late.asked, 1);
  late.count = 7;
  Slots::instance().OnQueryReady();
  const Lines reports = drain();
  ASSERT_EQ(reports.size(), 2u);
  for (const std::string& r : reports) EXPECT_TRUE(contains(r, "digital-modems 7,")) << r;
  Slots::instance().OnQueryReady();  // nothing owed, nothing sent
  EXPECT_EQ(drain(), Lines{});

  EXPECT_EQ(exchange("{ seq 3, pdu command : query : NULL }").size(), 1u);
  disconnect();
  connect(Slots::instance());
  Slots::instance().OnQueryReady();
  EXPECT_EQ(drain(), Lines{});
  EXPECT_EQ(late.asked, 2);
}

TEST_F(SlotsService, CommandsToAFreeNumberAndCreatesNoFactoryServes) {
  for (const char* body : {"destroy : NULL", "disconnect : NULL", "activate : empty : NULL", "deactivate : NULL",
                           "userData : '01'H", "ioctl : dtmf-enable : TRUE", "connect : 3"})
    EXPECT_EQ(answer(cmd(3, 5, body)), error(3, 5, "slotNotExists")) << body;
  EXPECT_EQ(answer(create(4, 5,
                          "rtpOnMixer : { unit 0, tdm 1, rtp 2, params { payload ptG711-Alaw, dhost { iaddr "
                          "\"127.0.0.1\", port 4000 } } }")),
            error(4, 5, "insufficientResources"));
  EXPECT_EQ(Slots::instance().slot(5), nullptr);
  // A target of 1024 (which the coder would not write) is refused before
  // any slot is looked up.
  controller.send(linktest::tpkt({0xC0, 0x01, 0x04, 0x00, 0x05, 0x04, 0x04, 0x00}));
  std::vector<unsigned char> reply;
  ASSERT_TRUE(controller.frame(reply));
  EXPECT_EQ(linktest::decode(reply), error(4, 5, "invalidSlot"));
}

TEST_F(SlotsService, HooksATypeLacksAnswerUnsupportedAndASlotMayFeedItself) {
  ASSERT_EQ(exchange(create(1, 2, trunk15)).size(), 3u);
  for (const char* body : {"activate : empty : NULL", "deactivate : NULL", "userData : '01'H", "ioctl : dtmf-enable : TRUE"})
    EXPECT_EQ(answer(cmd(2, 2, body)), error(2, 2, "unsupported")) << body;
  EXPECT_EQ(answer(cmd(3, 2, "connect : 2")), success(3, 2));
  EXPECT_EQ(at(2)->source(), at(2));
  EXPECT_EQ(matrix(37), "37 <- 37");
}

TEST_F(SlotsService, ACreateOnAUsedNumberReplacesTheSlotBeforeTheNewOneIsAnnounced) {
  ASSERT_EQ(exchange(create(1, 4, "spi-tdm : { channel 9 }")).size(), 1u);
  EXPECT_EQ(exchange(create(2, 4, trunk15)),
            (Lines{success(2, 4), stream(4, "transmitter", 37), stream(4, "receiver", 37)}));
  EXPECT_EQ(ProbeSlot::journal(), (Lines{"04:probe IAfterCreate", "04:probe IBeforeDestroy"}));
  EXPECT_STREQ(at(4)->GetName(), "trunk");
  EXPECT_TRUE(probeFactory.slots().empty());
}

TEST_F(SlotsService, ANumberStillReleasingIsBusyUntilTheReleaseHasFinished) {
  ASSERT_EQ(exchange(create(1, 7, late7)).size(), 3u);
  EXPECT_EQ(answer(create(2, 7, trunk15)), error(2, 7, "slotIdBusy"));
  EXPECT_TRUE(at(7)->releasing());
  EXPECT_EQ(answer(create(3, 7, trunk15)), error(3, 7, "destroyInProgress"));
  EXPECT_EQ(answer(cmd(4, 7, "destroy : NULL")), error(4, 7, "destroyInProgress"));
  // Still releasing, it can be connected; the connection goes with it.
  ASSERT_EQ(exchange(create(5, 1, trunk15)).size(), 3u);
  EXPECT_EQ(answer(cmd(5, 1, "connect : 7")), success(5, 1));
  EXPECT_EQ(matrix(7), "7 <- 37");
  // Nobody asked for this destroy: its end is not answered.
  EXPECT_EQ(exchange(cmd(5, 7, "userData : '00'H")), Lines{success(5, 7)});
  EXPECT_EQ(at(7), nullptr);
  EXPECT_TRUE(at(1)->receivers().empty());
  EXPECT_EQ(matrix(7), "7 = 0xD5");
  EXPECT_EQ(exchange(create(6, 7, trunk15)).front(), success(6, 7));
}

TEST_F(SlotsService, ALateDestroyIsAnsweredOnceWithItsOwnSeqOrWithoutOne) {
  ASSERT_EQ(exchange(create(1, 7, late7)).size(), 3u);
  ASSERT_EQ(exchange(create(1, 8, "usb-tdm : { channel 8 }")).size(), 3u);
  ASSERT_EQ(exchange(create(1, 9, "usb-tdm : { channel 9 }")).size(), 3u);
  EXPECT_EQ(unanswered(cmd(20, 7, "destroy : NULL")), Lines{});
  EXPECT_EQ(unanswered("{ slot 8, pdu command : destroy : NULL }"), Lines{});
  EXPECT_EQ(unanswered(cmd(0, 9, "destroy : NULL")), Lines{});
  // Another request with seq comes between: the late answers keep their own.
  EXPECT_EQ(answer(cmd(30, 5, "destroy : NULL")), error(30, 5, "slotNotExists"));
  for (int n : {7, 8, 9}) probe(n)->on_release();
  EXPECT_EQ(drain(), (Lines{success(20, 7), "{ slot 8, pdu response : success : NULL }", success(0, 9)}));
  // A destroy done at once is answered once.
  ASSERT_EQ(exchange(create(2, 4, trunk15)).size(), 3u);
  EXPECT_EQ(exchange(cmd(3, 4, "destroy : NULL")), Lines{success(3, 4)});
}

TEST_F(SlotsService, TrunkStatusReachesEachFactoryOnce) {
  TrunkService trunks;
  server.Bind(&trunks);
  ASSERT_EQ(exchange(create(1, 1, "spi-tdm : { channel 1 }")).size(), 1u);
  ASSERT_EQ(exchange(create(1, 2, "spi-tdm : { channel 2 }")).size(), 1u);
  trunks.report(3);
  EXPECT_EQ(drain().size(), 1u);  // the signal itself, for the controller
  EXPECT_EQ(probe(1)->trunkReports, 1);
  EXPECT_EQ(probe(2)->trunkReports, 1);
}

TEST_F(SlotsService, ALostControllerTakesEverySlotAndNoFactoryKeepsOne) {
  TrunkService trunks;
  server.Bind(&trunks);
  ASSERT_EQ(exchange(create(1, 1, trunk15)).size(), 3u);
  ASSERT_EQ(exchange(create(2, 2, "map : { receiver { bus 1, channel 5 } }")).size(), 2u);
  ASSERT_EQ(exchange(cmd(3, 1, "connect : 2")).back(), success(3, 1));
  ASSERT_EQ(exchange(create(4, 3, late7)).size(), 3u);
  ASSERT_EQ(exchange(create(5, 4, "usb-tdm : { channel 40 }")).size(), 3u);
  EXPECT_EQ(unanswered(cmd(6, 3, "destroy : NULL")), Lines{});
  const auto start = std::chrono::steady_clock::now();
  disconnect();
  // The releases got their moment, then the stragglers went without them.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(Slots::instance().slots().empty());
  for (unsigned n = 0; n < Slots::table_size; ++n) ASSERT_EQ(Slots::instance().slot(n), nullptr) << n;
  EXPECT_TRUE(probeFactory.slots().empty());
  EXPECT_TRUE(MapFactory::instance().slots().empty());
  EXPECT_EQ(MapFactory::instance().owner(133), nullptr);
  EXPECT_TRUE(contains(matrix(8325), "8325 undriven (disabled")) << matrix(8325);
  trunks.report(0);  // reaches no dead slot
  // A new controller starts afresh.
  connect(Slots::instance());
  EXPECT_EQ(exchange(create(7, 3, late7)).front(), success(7, 3));
  EXPECT_EQ(unanswered(cmd(8, 3, "destroy : NULL")), Lines{});
  EXPECT_EQ(exchange(cmd(9, 3, "userData : '00'H")), (Lines{success(9, 3), success(8, 3)}));
}

}  // namespace slots_service_test
