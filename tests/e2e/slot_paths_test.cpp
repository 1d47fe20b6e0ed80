// What slots leave on the switching matrix of the real daemon's simulated
// board once they have gone: every kind of slot is switched both ways with
// a trunk or bus slot and destroyed, or taken with its controller; then no
// output may be fed from an input, and no controller channel's receiver
// may be driven at all (the lines may carry the idle byte). A controller
// channel that a new slot gets again must hear, and reach, nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/lgcp_controller.h"
#include "tests/net_namespace.h"

namespace {

using e2e::cmd;
using e2e::Lines;
using e2e::ok;

// A kind of slot: how it is made, and what must exist before it (made at
// slot 3) or be done to it after (sent to slot 2) for it to take streams.
struct Kind {
  std::string create;
  std::string before = "";
  std::string after = "";
};

// The partners, at slot 1: trunk 2 timeslot 7 (channel 71), and bus 1
// channel 5 on both sides (8325).
const std::string trunkPartner = "trunk : { trunk 2, timeslot 7 }";
const std::string busPartner = "map : { transmitter { bus 1, channel 5 }, receiver { bus 1, channel 5 } }";

bool controllerChannel(int channel) { return channel >= 1024 && channel <= 1087; }

// Whether the command's answer among the messages it brought is success.
bool succeeded(const Lines& messages, int seq, int slot) {
  return std::find(messages.begin(), messages.end(), ok(seq, slot)) != messages.end();
}

class SlotPaths : public e2e::ControllerTest {
 protected:
  void SetUp() override {
    if (::geteuid() != 0)
      GTEST_SKIP() << testkit::refused("the fixed ports need a network namespace of its own, which needs root");
    const std::string why = testkit::enterFreshNetNamespace();
    if (!why.empty()) GTEST_SKIP() << testkit::refused("no network namespace here: " + why);
    root.make_parent(sysroot::sim_board_init);
    std::ofstream(root.path(sysroot::sim_board_init)) << "cable 2 3\nmctl modems 2\n";
    const bool emulated = testproc::Emulator() != nullptr;
    if (!emulated) {
      root.make_parent(sysroot::t38);
      std::filesystem::copy_file(e2e::buildDir() + "/tests/slots/t38-standin", root.path(sysroot::t38));
      std::filesystem::create_directories(root.dir() + "/t38/");
    }
    // A phrase for the file player, which plays until it is destroyed.
    root.make_parent(std::string(sysroot::voice_dir) + "one");
    std::ofstream(root.path(std::string(sysroot::voice_dir) + "one"), std::ios::binary) << std::string(800, '\x55');
    start();
    // The mixer's devices are learnt at the first query.
    query();

    const std::string local = "127.0.0.1";
    const std::string closed = "{ iaddr \"" + local + "\", port " + std::to_string(e2e::freePort()) + " }";
    kinds = {
        {"mcc : { type data, mode standard }"},
        {"mcc : { type bri, mode ss7 }"},
        {"mcc : { type transparent, mode standard }"},
        {"isdn : { type pri, trunk 3, log 0, side user : NULL }"},
        {"isdn : { type bri, trunk 3, log 0, side network : NULL }"},
        {"pstn : ss7 : { trunk 3, slc 0, dpc 2, opc 1, emergency TRUE }"},
        {"pstn : isdn : { type pri, trunk 3, log 0, side user : NULL }"},
        {"pstn : isdn : { type bri, trunk 3, log 0, side user : NULL }"},
        {"pstn : isdn : { type bri, trunk 3, log 0, side network : NULL }"},
        {"pstn : cas : { trunk 3 }"},
        {"hdlcParams : { trunk 3, log 0, address 1 }"},
        {"voice : record : " + closed},
        {"voice : player : network : { host " + closed + ", id 1 }"},
        {"voice : player : file : { name { \"one\" }, repeat 0 }"},
        {"rtp : { codecRTP { payload ptG711-Alaw, dhost " + closed +
         " }, txPayload ptG711-Alaw, rxPayload ptG711-Alaw }"},
        {"modem : { cid \"\", cdid \"\" }"},
        {"mixerIn : { unit 0, channel tdm : 1, summator tdm : 3 }",
         "mixerOut : { unit 0, channel tdm : 3, inputs { } }"},
        {"mixerOut : { unit 0, channel tdm : 4, inputs { } }"},
        {"ats-qsig : { side user : NULL, log 0 }"},
        {"ats-qsig-b : { slot 3, subslot 1 }", "ats-qsig : { side user : NULL, log 0 }"},
        {"map : { transmitter { bus 2, channel 0 }, receiver { bus 2, channel 1 } }"},
        {"ext : { transmitter 300, receiver 301 }", "", "activate : empty : NULL"},
        {"trunk : { trunk 0, timeslot 5 }"},
        {"trunk_bri : { trunk 1, timeslot 1 }"},
    };
    if (!emulated) {
      kinds.push_back({"t38soft : { dhost " + closed + ", shost { iaddr \"0.0.0.0\", port 4200 }, rx-packet-size 160, "
                       "rx-threshold 1, tx-threshold 1, args { } }"});
    }
  }

  // The report may follow the answer: the T.38 program's count is read
  // from the loop.
  void query() {
    c.send("{ seq 1, pdu command : query : NULL }");
    for (std::string m; !(m = c.next(std::chrono::seconds(5))).empty();)
      if (m.rfind("{ pdu signal : query : ", 0) == 0) break;
  }

  // Makes the partner at 1, the kind's slots at 3 and 2, and connects 1
  // and 2 both ways (a kind that has no stream one way refuses that
  // connection, but every kind takes one of them).
  void make(const Kind& kind, const std::string& partner) {
    ASSERT_EQ(c.exchange(cmd(2, 1, "create : " + partner)).at(0), ok(2, 1));
    if (!kind.before.empty()) {
      ASSERT_EQ(c.exchange(cmd(3, 3, "create : " + kind.before)).at(0), ok(3, 3));
    }
    ASSERT_EQ(c.exchange(cmd(4, 2, "create : " + kind.create)).at(0), ok(4, 2)) << kind.create;
    if (!kind.after.empty()) c.exchange(cmd(5, 2, kind.after));
    const bool in = succeeded(c.exchange(cmd(6, 1, "connect : 2")), 6, 1);
    const bool out = succeeded(c.exchange(cmd(7, 2, "connect : 1")), 7, 2);
    EXPECT_TRUE(in || out) << kind.create << " with " << partner << ": switched neither way";
  }
  // Destroys 2, 1 and 3; a destroy whose answer waits for a release is
  // waited for.
  void destroy() {
    for (int slot : {2, 1, 3}) {
      c.send(cmd(8, slot, "destroy : NULL"));
      const std::string mine = "{ seq 8, slot " + std::to_string(slot) + ", pdu response : ";
      for (std::string m; !(m = c.next(std::chrono::seconds(10))).empty();)
        if (m.rfind(mine, 0) == 0) break;
    }
  }
  // What the matrix shows against the rule.
  Lines leftDriven() const {
    Lines bad;
    std::istringstream in(board("matrix"));
    for (std::string line; std::getline(in, line);)
      if (line.find(" <- ") != std::string::npos || controllerChannel(std::stoi(line))) bad.push_back(line);
    return bad;
  }
  // Waits (a release may end a moment later) until the rule holds.
  Lines settled() const {
    Lines bad;
    e2e::waitFor([&] { return (bad = leftDriven()).empty(); });
    return bad;
  }
  // The controller goes, and another takes its place.
  void drop() {
    letGo();
    ASSERT_TRUE(c.connect(port)) << daemon->err();
  }

  std::vector<Kind> kinds;
};

TEST_F(SlotPaths, EveryKindDestroyedLeavesNoPathWithATrunkOrABusPartner) {
  for (const std::string& partner : {trunkPartner, busPartner}) {
    for (const Kind& kind : kinds) {
      make(kind, partner);
      destroy();
      EXPECT_EQ(settled(), Lines{}) << kind.create << " with " << partner << "\n" << board("matrix");
    }
  }
  // A controller channel taken afresh, connected to nothing, hears nothing.
  ASSERT_EQ(c.exchange(cmd(9, 4, "create : mcc : { type transparent, mode standard }")).at(0), ok(9, 4));
  EXPECT_EQ(board("matrix read 1024"), "1024 0xFF\n");
}

TEST_F(SlotPaths, EveryKindTakenWithItsControllerLeavesNoPath) {
  for (const Kind& kind : kinds) {
    make(kind, trunkPartner);
    drop();
    EXPECT_EQ(settled(), Lines{}) << kind.create << "\n" << board("matrix");
    query();
  }
}

// A PRI link's slot goes; a data slot that gets its controller channel
// sends a frame without being connected: it must reach nobody, least of
// all the slot listening across the cabled trunk.
TEST_F(SlotPaths, ANewSlotOnAReusedControllerChannelReachesNoOtherSlot) {
  ASSERT_EQ(c.exchange(cmd(1, 1, "create : " + trunkPartner)).at(0), ok(1, 1));
  ASSERT_EQ(c.exchange(cmd(2, 2, "create : pstn : isdn : { type pri, trunk 3, log 0, side user : NULL }")).at(0),
            ok(2, 2));
  // Fed by the trunk, the link sends back on the same timeslot: the one
  // connection makes both paths.
  ASSERT_TRUE(succeeded(c.exchange(cmd(3, 1, "connect : 2")), 3, 1));
  ASSERT_EQ(board("matrix 71 1024"), "71 <- 1024\n1024 <- 71\n");
  // The far end: trunk 3 timeslot 7 with a data slot on it, both ways.
  ASSERT_EQ(c.exchange(cmd(5, 5, "create : trunk : { trunk 3, timeslot 7 }")).at(0), ok(5, 5));
  ASSERT_EQ(c.exchange(cmd(6, 6, "create : mcc : { type data, mode standard }")).at(0), ok(6, 6));
  ASSERT_TRUE(succeeded(c.exchange(cmd(7, 5, "connect : 6")), 7, 5));
  ASSERT_TRUE(succeeded(c.exchange(cmd(8, 6, "connect : 5")), 8, 6));
  ASSERT_TRUE(succeeded(c.exchange(cmd(9, 2, "destroy : NULL")), 9, 2));
  // The board frees the channel once it has seen the close.
  ASSERT_TRUE(e2e::waitFor([&] { return board("mcc").find("1024 mode") == std::string::npos; })) << board("mcc");

  ASSERT_EQ(c.exchange(cmd(10, 7, "create : mcc : { type data, mode standard }")).at(0), ok(10, 7));
  ASSERT_NE(board("mcc").find("1024 mode 0 sent 0"), std::string::npos) << board("mcc");
  const Lines sent = c.exchange(cmd(11, 7, "userData : '0102030405'H"));
  EXPECT_EQ(sent, Lines{ok(11, 7)});
  ASSERT_TRUE(e2e::waitFor([&] { return board("mcc").find("1024 mode 0 sent 1 lost 1") != std::string::npos; }))
      << board("mcc");
  for (const std::string& m : c.until()) EXPECT_EQ(m.find("slot 6, pdu signal : userData"), std::string::npos) << m;
}

}  // namespace
