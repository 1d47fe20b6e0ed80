// MCC data slots: what the driver gives goes up read by read, user data the
// channel could not take is answered as not sent, a channel that fails is
// let go, and the free channels are reported. (A type the schema has no
// name for is tested end to end.)
#include "slots/mcc_factory.h"

#include <gtest/gtest.h>

#include "platform/sim/mcc_model.h"
#include "tests/slots/slots_fixture.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;

class MccSlots : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    MccFactory::instance();  // built by the process entry in the daemon
    sim::Mcc::instance().reset_settings();
  }
  // Slot 1, an MCC data slot of the given kind; its channel.
  std::string channel(const std::string& type) {
    EXPECT_EQ(answer(create(1, 1, "mcc : { type " + type + ", mode standard }")), success(1, 1));
    const Lines in = command("mcc");
    EXPECT_EQ(in.size(), 1u);
    return in.empty() ? std::string() : in[0].substr(0, in[0].find(' '));
  }
};

TEST_F(MccSlots, EachReadIsOneSignalAndUnsentDataIsAnsweredBusError) {
  const std::string m = channel("transparent");
  command("mcc inject " + m + " " + std::string(2 * 1500, '7'));  // two reads of the channel's 512
  command("mcc inject " + m + " 01");
  const Lines up = drain();
  ASSERT_EQ(up.size(), 4u);
  EXPECT_EQ(std::count(up[0].begin(), up[0].end(), '7'), 2 * 512);
  EXPECT_EQ(std::count(up[2].begin(), up[2].end(), '7'), 2 * (1500 - 1024));
  EXPECT_EQ(up[3], "{ slot 1, pdu signal : userData : '01'H }");

  // A stalled channel takes no more once the driver's queue is full: what
  // was answered success is all sent once it runs again, the rest was
  // answered busError.
  command("mcc stall " + m);
  const std::string data = "'" + std::string(2 * 8000, 'A') + "'H";
  int sent = 0;
  std::string last;
  for (int i = 0; i < 20; ++i) {
    last = answer(cmd(2 + i, 1, "userData : " + data));
    if (last != success(2 + i, 1)) break;
    ++sent;
  }
  EXPECT_EQ(last, error(2 + sent, 1, "busError"));
  EXPECT_GT(sent, 0);
  EXPECT_TRUE(contains(err(), "mcc[" + m + "]: 8000 octets of user data not sent: Resource temporarily unavailable\n")) << err();
  command("mcc resume " + m);
  for (int i = 0; i < 200 && command("mcc written " + m).size() < static_cast<std::size_t>(sent); ++i) {
    multiplexer.run_once(0);
    clock.advance(100);  // 8000 octets are a second on the line
  }
  clock.advance(2000);
  settle();
  EXPECT_EQ(command("mcc written " + m).size(), static_cast<std::size_t>(sent));
}

TEST_F(MccSlots, AFailedChannelIsLetGoAndTakesNoMoreData) {
  const std::string m = channel("data");
  command("mcc error " + m);
  settle();
  EXPECT_TRUE(contains(err(), "mcc[" + m + "]: channel hung up\n")) << err();
  EXPECT_EQ(answer(cmd(2, 1, "userData : '0102'H")), error(2, 1, "busError"));
  EXPECT_TRUE(contains(err(), "mcc[" + m + "]: 2 octets of user data not sent: Bad file descriptor\n")) << err();
}

// The driver frees a failed channel, and the next slot to ask gets its
// number: nothing may still be switched to or from it by then.
TEST_F(MccSlots, AFailedChannelEndsItsStreamsAndUndoesItsPathsBeforeItsNumberIsReused) {
  const std::string m = channel("data");
  const int ch = std::stoi(m);
  ASSERT_EQ(exchange(create(2, 2, "trunk : { trunk 2, timeslot 7 }")).front(), success(2, 2));
  ASSERT_EQ(exchange(cmd(3, 2, "connect : 1")).back(), success(3, 2));
  ASSERT_EQ(exchange(cmd(4, 1, "connect : 2")).back(), success(4, 1));
  ASSERT_EQ(tdm().output(ch).source, 71);
  ASSERT_EQ(tdm().output(71).source, ch);
  command("mcc error " + m);
  const Lines said = drain();
  EXPECT_NE(std::find(said.begin(), said.end(), "{ slot 1, pdu signal : transmitter : inactive : NULL }"), said.end());
  EXPECT_NE(std::find(said.begin(), said.end(), "{ slot 1, pdu signal : receiver : inactive : NULL }"), said.end());
  EXPECT_EQ(tdm().output(ch).drive, sim::Tdm::Drive::undriven);
  EXPECT_EQ(tdm().output(71).drive, sim::Tdm::Drive::constant);
  // Connected again, the slot has no channel to switch.
  EXPECT_EQ(exchange(cmd(5, 2, "connect : 1")).back(), error(5, 2, "connectFail"));

  ASSERT_EQ(answer(create(6, 3, "mcc : { type data, mode standard }")), success(6, 3));
  ASSERT_EQ(command("mcc"), Lines{m + " mode 0 sent 0 lost 0 received 0 dropped 0 queued 0"});
  // The old slot's going touches the new one's channel no more.
  EXPECT_EQ(answer(cmd(7, 1, "destroy : NULL")), success(7, 1));
  EXPECT_EQ(tdm().output(ch).drive, sim::Tdm::Drive::undriven);
  EXPECT_EQ(tdm().output(71).drive, sim::Tdm::Drive::constant);
  cerr_.take();
}

TEST_F(MccSlots, TypesAndModesPickTheDriversModeAndTheFreeChannelsAreReported) {
  const struct {
    std::string params;
    int mode;
  } kinds[] = {{"type data, mode standard", 0}, {"type bri, mode standard", 1},
               {"type transparent, mode standard", 2}, {"type bri, mode ss7", 3}};
  for (const auto& k : kinds) {
    ASSERT_EQ(answer(create(1, 1, "mcc : { " + k.params + " }")), success(1, 1)) << k.params;
    EXPECT_TRUE(contains(log(), "mcc: MCC_ALLOCATE type=" + std::to_string(k.mode) + "\n")) << log();
    EXPECT_TRUE(contains(command("mcc").at(0), " mode " + std::to_string(k.mode) + " ")) << k.params;
    ASSERT_EQ(answer(cmd(2, 1, "destroy : NULL")), success(2, 1));
    settle();
  }
  // One pool of the simulated controller serves every kind.
  channel("data");
  const Lines query = exchange("{ seq 4, pdu command : query : NULL }");
  ASSERT_EQ(query.size(), 2u);
  EXPECT_TRUE(contains(query[1], "mcc-data 63, mcc-bri 63, mcc-trans 63")) << query[1];
  command("fail mcc/ctl 80104D03 EIO");
  EXPECT_TRUE(contains(exchange("{ seq 5, pdu command : query : NULL }").at(1), "mcc-data 0, mcc-bri 0, mcc-trans 0"));
}

}  // namespace
