// Trunk status, transmit clock and CAS as a control service on the
// simulated board, the status timer on the test clock.
#include "hardware/e1_ctl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/hardware/service_fixture.h"

namespace {

using hwtest::casSignal;
using hwtest::contains;
using hwtest::success;
using Replies = std::vector<std::string>;

std::string casCommand(int seq, int trunk, int timeslot, const std::string& cmd) {
  return "{ seq " + std::to_string(seq) + ", pdu command : ioctl : cas : { channel { path " + std::to_string(trunk) +
         ", timeslot " + std::to_string(timeslot) + " }, cmd " + cmd + " } }";
}

std::string trunkStatus(int trunk, const char* state, int slips) {
  return "{ pdu signal : trunkStatus : { trunk " + std::to_string(trunk) + ", state " + state + ", slips " +
         std::to_string(slips) + ", lossBF 0, lossCarrier 0, lossAIS 0, lossRAI 0, name \"\", clockMaster FALSE, type e1 } }";
}

// The board's journal lines that carry one of the annotations, in order.
std::string requests(const std::vector<std::string>& journal, const std::string& kind) {
  std::string out;
  for (const std::string& l : journal)
    if (contains(l, "(" + kind)) out += l.substr(l.rfind('(')) + (contains(l, "-> -1") ? "!" : "");
  return out;
}

class E1Test : public hwtest::ServiceTest {
 protected:
  E1Ctl e1;
};

TEST_F(E1Test, StatusOnConnectThenEverySecondSkippingTrunksTheDriverRefuses) {
  command("trunk 2 state 1 slips 5 losscarrier 3");
  connect(e1);
  ASSERT_EQ(received.size(), 4u);
  EXPECT_EQ(received[0], trunkStatus(0, "normal", 0));
  EXPECT_EQ(received[2],
            "{ pdu signal : trunkStatus : { trunk 2, state lossBF, slips 5, lossBF 0, lossCarrier 3, lossAIS 0, "
            "lossRAI 0, name \"\", clockMaster FALSE, type e1 } }");
  command("trunk 1 fail EIO");
  command("trunk 3 state 9");  // no state the protocol has: it cannot be sent
  clock.advance(E1Ctl::status_period_ms - 1);
  EXPECT_TRUE(drain().empty());
  clock.advance(1);
  EXPECT_EQ(drain(), (Replies{trunkStatus(0, "normal", 0), received[2]}));
  EXPECT_TRUE(contains(err(), "E1: synchronization status read fail, trunk = 1 cause = Input/output error\n")) << err();
  EXPECT_TRUE(contains(err(), "send fail: encode error!")) << err();
  // The status keeps being read with no controller.
  disconnect();
  board().clear_journal();
  clock.advance(E1Ctl::status_period_ms);
  EXPECT_EQ(requests(journal(), "trunk"), "(trunk 0 state 0 slips 0)(trunk 2 state 1 slips 5)(trunk 3 state 9 slips 0)");
}

TEST_F(E1Test, TransmitClockMaskFollowsTrunkCfgAndStartsAtZeroOnEveryConnection) {
  connect(e1);
  EXPECT_EQ(request("{ seq 1, pdu command : trunkCfg : { trunk 2, mode slave } }"), Replies{success(1)});
  EXPECT_EQ(request("{ seq 2, pdu command : trunkCfg : { trunk 0, mode slave } }"), Replies{success(2)});
  EXPECT_EQ(request("{ seq 3, pdu command : trunkCfg : { trunk 40, mode slave } }"), Replies{success(3)});
  EXPECT_EQ(request("{ seq 4, pdu command : trunkCfg : { trunk -1, mode slave } }"), Replies{success(4)});
  EXPECT_EQ(request("{ seq 5, pdu command : trunkCfg : { trunk 2, mode master } }"), Replies{success(5)});
  EXPECT_TRUE(contains(log(), "E1: TCLT = 0x5\n"));
  disconnect();
  connect(e1);
  EXPECT_EQ(requests(journal(), "tclk"), "(tclk 0x0)(tclk 0x4)(tclk 0x5)(tclk 0x5)(tclk 0x1)(tclk 0x0)");
  command("fail maintenance C0044D0B EIO");
  EXPECT_EQ(request("{ seq 6, pdu command : trunkCfg : { trunk 1, mode slave } }"), Replies{success(6)});
  EXPECT_TRUE(contains(err(), "E1: fail to set TCLK [cause=Input/output error]\n")) << err();
}

TEST_F(E1Test, CasResultsReachTheControllerAsSignals) {
  command("refuse-open e1-cas");
  connect(e1);
  EXPECT_EQ(request(casCommand(1, 0, 5, "open : 10")), Replies{hwtest::error(1, "internal")});
  command("refuse-open e1-cas off");
  // Timeslot 16: the trunk is opened, no channel is switched.
  EXPECT_EQ(request(casCommand(3, 2, 16, "open : 5")), (Replies{casSignal(2, 0, 0, 0), success(3)}));
  EXPECT_TRUE(contains(log(), "E1: cas interface opened!\nE1: open cas signalling on trunk(2) - ok\n")) << log();
  EXPECT_EQ(request(casCommand(4, 2, 5, "open : 26")), (Replies{casSignal(2, 0, 0, 0), casSignal(2, 5, 0, 10), success(4)}));
  // A change of the receive bits; a record too short is dropped.
  command("cas 2 5 rx 9");
  command("cas raw 02 00 00 00 05");
  EXPECT_EQ(drain(), Replies{casSignal(2, 5, 9, 10)});
  EXPECT_EQ(request(casCommand(5, 2, 5, "close : NULL")), (Replies{casSignal(2, 5, -1, 1), success(5)}));
  EXPECT_EQ(request(casCommand(6, 2, 0, "close : NULL")), (Replies{casSignal(2, 0, 1, 0), success(6)}));
  // Closed: nothing is asked, nothing is said, and the command succeeds.
  board().clear_journal();
  EXPECT_EQ(request(casCommand(7, 2, 5, "get : NULL")), Replies{success(7)});
  EXPECT_EQ(request(casCommand(8, 2, 0, "close : NULL")), Replies{success(8)});
  EXPECT_TRUE(journal().empty());
  // Driver refusals: of the trunk, of the channel.
  command("fail e1-cas 80044300 EIO 1");
  EXPECT_EQ(request(casCommand(9, 3, 5, "open : 1")), (Replies{casSignal(3, 0, -1, 0), success(9)}));
  EXPECT_TRUE(contains(log(), "E1: open cas signalling on trunk(3) - fail(-1)\n")) << log();
  command("fail e1-cas C0104304 EIO 1");
  EXPECT_EQ(request(casCommand(10, 3, 5, "open : 1")), (Replies{casSignal(3, 0, 0, 0), casSignal(3, 5, -1, 0), success(10)}));
  // Setting bits directly does not spare timeslots 0 and 16 (the driver
  // refuses them) and does nothing on a closed trunk.
  e1.HandleCasSet(cas::cas_channel{3, 16, 0, 0, {0, 0}}, 7);
  e1.HandleCasSet(cas::cas_channel{1, 5, 0, 0, {0, 0}}, 7);
  EXPECT_EQ(drain(), Replies{casSignal(3, 16, -1, 0)});
  // On an open trunk: the low four bits go out with no receive bits, then
  // what the driver reads back is reported.
  board().clear_journal();
  e1.HandleCasSet(cas::cas_channel{3, 5, 9, 0, {0, 0}}, 0x17);
  EXPECT_EQ(drain(), Replies{casSignal(3, 5, 0, 7)});
  const std::vector<std::string> seen = journal();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], recLine(sysroot::e1_cas, cas::set_bits, cas::cas_channel{3, 5, 0, 7, {0, 0}}) + " (set 3/5 tx 7)");
  EXPECT_TRUE(contains(seen[1], "(get 3/5 rx 0 tx 7)")) << seen[1];
}

// Status and transmit clock go quiet, without a word, while the maintenance
// device cannot be opened; every use tries it again.
TEST_F(E1Test, MaintenanceDeviceThatWillNotOpenIsTriedAgainAtEachUse) {
  command("refuse-open maintenance");
  connect(e1);
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(request("{ seq 1, pdu command : trunkCfg : { trunk 1, mode slave } }"), Replies{success(1)});
  clock.advance(E1Ctl::status_period_ms);
  EXPECT_TRUE(drain().empty());
  EXPECT_FALSE(contains(err(), "E1: ")) << err();
  EXPECT_FALSE(contains(log(), "TCLT")) << log();
  // The connection's status and mask, the command, the timer.
  const std::string refused = std::string("open ") + sysroot::maintenance + " rdwr|nonblock -> -1 ENODEV";
  const std::vector<std::string> seen = journal();
  EXPECT_EQ(std::count(seen.begin(), seen.end(), refused), 4) << requests(seen, "");
  command("refuse-open maintenance off");
  clock.advance(E1Ctl::status_period_ms);
  EXPECT_EQ(drain(), (Replies{trunkStatus(0, "normal", 0), trunkStatus(1, "normal", 0), trunkStatus(2, "normal", 0),
                              trunkStatus(3, "normal", 0)}));
  EXPECT_EQ(request("{ seq 2, pdu command : trunkCfg : { trunk 2, mode slave } }"), Replies{success(2)});
  EXPECT_EQ(requests(journal(), "tclk"), "(tclk 0x6)");
}

// A CAS device that will not open is tried again by the status timer, so
// the driver's change records flow once it opens, before any command.
TEST_F(E1Test, StatusTimerOpensTheCasDeviceOnceItCan) {
  command("refuse-open e1-cas");
  connect(e1);
  clock.advance(E1Ctl::status_period_ms);
  EXPECT_FALSE(contains(log(), "cas interface opened!")) << log();
  command("refuse-open e1-cas off");
  drain();
  clock.advance(E1Ctl::status_period_ms);
  EXPECT_TRUE(contains(log(), "E1: cas interface opened!\n")) << log();
  command("cas raw 00 00 00 00 00 00 00 00 09 03 00 00");  // trunk 0, timeslot 0: either byte order
  EXPECT_EQ(drain().back(), casSignal(0, 0, 9, 3));
}

// A CAS device that fails like a broken driver (readable and hung up,
// hung up alone, in error alone) is closed rather than polled for ever, and
// opened again by the status timer: the records of the new open reach the
// controller.
TEST_F(E1Test, CasDeviceThatFailsIsClosedAndOpenedAgain) {
  connect(e1);
  EXPECT_EQ(request(casCommand(1, 0, 5, "open : 10")), (Replies{casSignal(0, 0, 0, 0), casSignal(0, 5, 0, 10), success(1)}));
  const std::pair<const char*, const char*> ways[] = {
      {"", "Broken pipe"}, {" hup", "Broken pipe"}, {" err", "Bad file descriptor"}};
  int bits = 0;
  for (const auto& way : ways) {
    SCOPED_TRACE(way.first);
    command(std::string("hang-up e1-cas") + way.first);
    drain();
    EXPECT_TRUE(contains(err(), std::string("E1: cas interface lost: ") + way.second + "\n")) << err();
    clock.advance(E1Ctl::status_period_ms);
    drain();
    EXPECT_EQ(journal().back(), std::string("open ") + sysroot::e1_cas + " rdwr|nonblock -> 0");
    command("cas 0 5 rx " + std::to_string(++bits));
    EXPECT_EQ(drain(), Replies{casSignal(0, 5, bits, 10)});
    cerr_.take();
  }
}

}  // namespace
