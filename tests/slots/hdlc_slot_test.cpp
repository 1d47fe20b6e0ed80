// HDLC link slots on the simulated controller, on the test clock: frames
// built from the controller's packages, received frames batched into
// signals that the controller can always decode, the counters report, and
// the channel following the connections. (The send queue is tested end to
// end.)
#include "slots/hdlc_slot.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/mcc_model.h"
#include "slots/hdlc_slot_factory.h"
#include "tests/slots/slots_fixture.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;

const std::string trunk15 = "trunk : { trunk 1, timeslot 5 }";  // TDM channel 37
const std::string link1234 = "hdlcParams : { trunk 2, log 0, address 4660 }";

std::string packages(const std::string& bodies) {
  return "{ slot 2, pdu signal : ioctl : hdlcPackages : { " + bodies + " } }";
}

// How many packages a signal carries.
std::size_t count(const std::string& signal) {
  std::size_t n = 0;
  for (std::size_t at = signal.find("body"); at != std::string::npos; at = signal.find("body", at + 1)) ++n;
  return n;
}

class HdlcSlots : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    HdlcSlotFactory::instance();  // built by the process entry in the daemon
    sim::Mcc::instance().reset_settings();
  }
  // Slot 2, a link for address 0x1234, fed by slot 1 (trunk 1 timeslot 5);
  // the number of its controller channel.
  std::string linkOnTrunk() {
    EXPECT_EQ(exchange(create(1, 1, trunk15)).size(), 3u);
    EXPECT_EQ(answer(create(2, 2, link1234)), success(2, 2));
    EXPECT_EQ(exchange(cmd(3, 1, "connect : 2")), (Lines{stream(2, "receiver", -1), success(3, 1)}));
    const Lines in = command("mcc");
    EXPECT_EQ(in.size(), 1u);
    return in.empty() ? std::string() : in[0].substr(0, in[0].find(' '));
  }
  HdlcSlot* link() { return dynamic_cast<HdlcSlot*>(at(2)); }
  // Loop passes while the test clock runs on ms milliseconds.
  void passTime(unsigned ms) {
    for (unsigned i = 0; i < ms; ++i) {
      multiplexer.run_once(0);
      clock.advance(1);
    }
    multiplexer.run_once(0);
  }
  // The packages ioctl with bodies '00'H, '01'H, ... (n of them, from first).
  static std::string send(int seq, int n, int first = 0) {
    std::string list;
    for (int i = first; i < first + n; ++i) {
      char body[40];
      std::snprintf(body, sizeof body, "%s{ body '%02X'H }", list.empty() ? "" : ", ", i & 0xFF);
      list += body;
    }
    return cmd(seq, 2, "ioctl : hdlcPackages : { " + list + " }");
  }
};

TEST_F(HdlcSlots, FramesCarryTheAddressAndBothCountersWhichWrap) {
  const std::string m = linkOnTrunk();
  EXPECT_EQ(answer(send(4, 3)), success(4, 2));
  passTime(20);
  EXPECT_EQ(command("mcc written " + m), (Lines{"12 34 00 00", "12 34 20 01", "12 34 40 02"}));
  // The peer's counter 5 (control 0xA0) goes back in bits 0-4.
  command("mcc inject " + m + " 12 34 A0 55");
  EXPECT_EQ(drain(), Lines{packages("{ body '55'H }")});
  command("mcc written " + m + " clear");
  EXPECT_EQ(answer(send(5, 6, 3)), success(5, 2));
  passTime(20);
  EXPECT_EQ(command("mcc written " + m),
            (Lines{"12 34 65 03", "12 34 85 04", "12 34 A5 05", "12 34 C5 06", "12 34 E5 07", "12 34 05 08"}));
  // Every 3 s, and at once on deactivate (which starts the period again),
  // the channel's counters.
  clock.advance(3000 - 40);
  const std::string info =
      "{ slot 2, pdu signal : ioctl : hdlcLinkInfo : { txSU 9, txDiscard 0, txError 0, txOverflow 0, rxSU 1 } }";
  EXPECT_EQ(drain(), Lines{info});
  clock.advance(1000);
  EXPECT_EQ(exchange(cmd(6, 2, "deactivate : NULL")), (Lines{info, success(6, 2)}));
  clock.advance(2999);
  EXPECT_EQ(drain(), Lines{});
  clock.advance(1);
  EXPECT_EQ(drain(), Lines{info});
}

TEST_F(HdlcSlots, MarkedFramesWaitForTheirBatchWhichAnyUnmarkedFrameEnds) {
  const std::string m = linkOnTrunk();
  // The fifth octet's top bit set: three frames within 100 ms, one signal
  // 100 ms after the first. A frame for another address is not reported and
  // does not restart the wait.
  command("mcc inject " + m + " 12 34 00 01 80");
  passTime(40);
  command("mcc inject " + m + " 12 34 00 02 FF 09");
  command("mcc inject " + m + " 43 21 00 00 80");
  passTime(40);
  command("mcc inject " + m + " 12 34 00 03 80");
  passTime(19);
  EXPECT_EQ(drain(), Lines{});
  clock.advance(1);
  EXPECT_EQ(drain(), Lines{packages("{ body '01 80'H }, { body '02 ff 09'H }, { body '03 80'H }")});
  // Unmarked frames end the batch at once, a foreign one included; one too
  // short for the mark to be read ends it too.
  command("mcc inject " + m + " 12 34 00 04 80");
  command("mcc inject " + m + " 12 34 00 05 00");
  EXPECT_EQ(drain(), Lines{packages("{ body '04 80'H }, { body '05 00'H }")});
  command("mcc inject " + m + " 12 34 00 06 80");
  command("mcc inject " + m + " 43 21 00 00 00");
  EXPECT_EQ(drain(), Lines{packages("{ body '06 80'H }")});
  command("mcc inject " + m + " 12 34");
  EXPECT_EQ(drain(), Lines{packages("{ body ''H }")});
  // A frame without an address is dropped with a word; nothing pends.
  command("mcc inject " + m + " 12");
  EXPECT_EQ(drain(), Lines{});
  EXPECT_TRUE(contains(log(), "HdlcSlot[1/*]: frame of 1 octets without an address dropped\n")) << log();
  clock.advance(100);
  EXPECT_EQ(drain(), Lines{});
}

// The controller decodes no list longer than 128 and no message longer
// than a control-link frame: a batch is sent before it would grow past
// either, so every frame arrives.
TEST_F(HdlcSlots, ABatchNeverOutgrowsWhatTheControllerDecodes) {
  const std::string m = linkOnTrunk();
  for (int i = 0; i < 300; ++i) command("mcc inject " + m + " 12 34 00 00 80");
  ASSERT_TRUE(pump([&] { return link()->link().counters().received == 300; }));
  Lines got = drain();
  clock.advance(100);
  for (const std::string& more : drain()) got.push_back(more);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(count(got[0]), 128u);
  EXPECT_EQ(count(got[1]), 128u);
  EXPECT_EQ(count(got[2]), 44u);

  // Bodies of 4000 octets: sixteen fill a frame of the control link.
  const std::string body = " 00 80" + std::string(2 * 3998, 'A');
  for (int i = 0; i < 20; ++i) command("mcc inject " + m + " 12 34 00" + body);
  ASSERT_TRUE(pump([&] { return link()->link().counters().received == 320; }));
  got = drain();
  clock.advance(100);
  for (const std::string& more : drain()) got.push_back(more);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(count(got[0]), 16u);
  EXPECT_EQ(count(got[1]), 4u);
}

TEST_F(HdlcSlots, TheChannelFollowsTheConnectionsAndIdlesTheLineItDrove) {
  // A peer without a channel: nothing to bind, nothing reported.
  ASSERT_EQ(answer(create(1, 3, "spi-tdm : { channel -1 }")), success(1, 3));
  ASSERT_EQ(answer(create(2, 2, link1234)), success(2, 2));
  board().clear_journal();
  EXPECT_EQ(exchange(cmd(3, 2, "connect : 3")),
            (Lines{stream(2, "transmitter", -1), stream(3, "receiver", -1), success(3, 2)}));
  EXPECT_FALSE(link()->link().is_open());
  for (const std::string& line : journal()) EXPECT_FALSE(contains(line, "mcc")) << line;
  ASSERT_EQ(answer(cmd(4, 3, "destroy : NULL")), success(4, 3));

  // Fed by the trunk, then feeding it: either way the channel drives
  // timeslot 37, which is idle again once the connection goes.
  const std::string m = linkOnTrunk();
  EXPECT_EQ(matrix(37), "37 <- " + m);
  EXPECT_EQ(answer(cmd(5, 2, "disconnect : NULL")), success(5, 2));
  EXPECT_FALSE(link()->link().is_open());
  EXPECT_EQ(matrix(37), "37 = 0xD5");
  EXPECT_FALSE(contains(log(), "failed")) << log();
  ASSERT_EQ(exchange(cmd(6, 2, "connect : 1")), (Lines{stream(2, "transmitter", -1), success(6, 2)}));
  EXPECT_TRUE(link()->link().is_open());
  EXPECT_EQ(matrix(37), "37 <- " + m);
  EXPECT_EQ(answer(cmd(7, 1, "disconnect : NULL")), success(7, 1));
  EXPECT_EQ(matrix(37), "37 = 0xD5");

  // An activation the driver refuses still answers success, and says so.
  command("refuse-open mcc/ctl");
  EXPECT_EQ(exchange(cmd(8, 2, "activate : empty : NULL")),
            (Lines{"{ slot 2, pdu signal : deactivated : networkError }", success(8, 2)}));
}

}  // namespace
