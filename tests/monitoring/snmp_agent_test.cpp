// The SNMP agent links: configuration, batching by agent type, and the
// keep-alive on the test clock.
#include "monitoring/snmp_agent_ctrl.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "control/connector_net.h"
#include "control/tpkt_protocol.h"
#include "runtime/test_clock.h"
#include "tests/monitoring/agent_peer.h"

namespace {

using Lines = std::vector<std::string>;
using linktest::Capture;
using linktest::count;

// Cell i of a list: number 1000 + i, the name sys/v/i.
void addCell(MON::SnmpSetCommands& list, unsigned i, const std::string& value) {
  MON::SnmpSetCommand& cell = list.get_commands().push_back();
  cell.set_uniq(1000 + i);
  MON::IniName& name = cell.get_id().select_name();
  name.set_section("sys");
  name.set_name("v");
  name.set_index(i);
  cell.set_value(value);
}

struct Connects : ISnmpAgentNotify {
  void OnSnmpAgentConnect(const std::string& name) override { names.push_back(name); }
  Lines names;
};

TEST(SnmpAgentConfig, BadBlocksLeaveTheirAgentInactiveAndTheOthersRun) {
  Capture err(std::cerr), log(std::clog);
  IniFile::File file;
  montest::readConfig(file,
                      "[snmpagent]\nhost = 127.0.0.1:7001\nname = kavrola\n"
                      "[snmpagent]\nhost = 127.0.0.1:7002\nname = 0x4\n"
                      "[snmpagent]\nhost = 127.0.0.1:7003\nname = snmpd\n"
                      "[snmpagent]\nhost = 127.0.0.1\nname = veskgw\n"
                      "[snmpagent]\nhost = 127.0.0.300:7005\nname = veskgw\n"
                      "[snmpagent]\nname = veskgw\n");
  SnmpAgentCtrl agents;
  agents.CreateInstances(file["snmpagent"]);
  const auto& a = agents.instances();
  ASSERT_EQ(a.size(), 6u);
  EXPECT_EQ(a[0]->type(), SnmpAgentInstance::kavrola);
  EXPECT_EQ(a[0]->prefix(), "snmpagent.kavrola 127.0.0.1:7001");
  EXPECT_EQ(a[0]->connector()->service_name(), a[0]->prefix());
  EXPECT_EQ(a[1]->type(), SnmpAgentInstance::veskgw_tm);
  EXPECT_EQ(a[1]->name(), "0x4");
  for (std::size_t i = 2; i < a.size(); ++i) {
    EXPECT_EQ(a[i]->connector(), nullptr) << i;
    EXPECT_EQ(a[i]->state(), SnmpAgentInstance::created) << i;
  }
  // A mistyped address is reported, never dialled as 0.0.0.0; so is a host
  // without a port.
  std::string reports;
  std::istringstream lines(err.str());
  for (std::string line; std::getline(lines, line);)
    if (line.compare(0, 11, "snmpagent: ") == 0) reports += line + "\n";
  EXPECT_EQ(reports,
            "snmpagent: required key \"name\" has invalid value=\"snmpd\", line 9\n"
            "snmpagent: required key \"host\" has invalid value=\"127.0.0.1\", line 11\n"
            "snmpagent: required key \"host\" has invalid value=\"127.0.0.300:7005\", line 14\n"
            "snmpagent: required key \"host\" not present, line 16\n");
}

class SnmpAgents : public testing::Test {
 protected:
  // Two agents of the two types that carry items, connected.
  void SetUp() override {
    IniFile::File file;
    montest::readConfig(file, peer[0].block("kavrola") + peer[1].block("veskgw.tm"));
    agents.Bind(&connects);
    agents.CreateInstances(file["snmpagent"]);
    for (auto& p : peer) ASSERT_TRUE(p.accept());
    ASSERT_TRUE(linktest::pump([&] { return connects.names.size() == 2; }));
  }
  Capture log{std::clog}, err{std::cerr};
  Mux::TestClock clock{5000};
  montest::AgentPeer peer[2];
  Connects connects;
  SnmpAgentCtrl agents;
};

// A port that is missing, out of range or not plain digits is the
// operator's mistake: reported once, never dialled as the port its text
// would wrap or cut to.
TEST(SnmpAgentConfig, BadPortsAreReportedAndNeverDialled) {
  Capture err(std::cerr), log(std::clog);
  testkit::Listener listener(4);
  const std::string wrapped = std::to_string(listener.port + 65536);  // would dial the listener
  const std::vector<std::string> hosts = {"127.0.0.1:" + wrapped,
                                          "127.0.0.1:99999",
                                          "127.0.0.1:0",
                                          "127.0.0.1:",
                                          "127.0.0.1:abc",
                                          "127.0.0.1:" + std::to_string(listener.port) + "x",
                                          "127.0.0.1: 80",
                                          "127.0.0.1:-1",
                                          "127.0.0.1"};
  std::string config, expected;
  int line = 1;
  for (const std::string& host : hosts) {
    config += "[snmpagent]\nhost = " + host + "\nname = kavrola\n";
    expected += "snmpagent: required key \"host\" has invalid value=\"" + host + "\", line " +
                std::to_string(line + 1) + "\n";
    line += 3;
  }
  IniFile::File file;
  montest::readConfig(file, config);
  SnmpAgentCtrl agents;
  agents.CreateInstances(file["snmpagent"]);
  ASSERT_EQ(agents.instances().size(), hosts.size());
  for (const auto& a : agents.instances()) {
    EXPECT_EQ(a->connector(), nullptr) << a->prefix();
    EXPECT_EQ(a->state(), SnmpAgentInstance::created);
  }
  EXPECT_EQ(err.str(), expected);
  linktest::settle();
  EXPECT_FALSE(listener.accept().valid());
}

TEST_F(SnmpAgents, CellsAreBatchedPerAgentTypeAndEveryBatchGoesToEveryAgent) {
  EXPECT_EQ(connects.names, (Lines{"kavrola", "veskgw.tm"}));
  agents.Send(SnmpAgentCtrl::powerStatus, "3");
  agents.Send(SnmpAgentCtrl::sgBuildVersion, "4.2\n");     // veskgw.tm agents only
  agents.Send(SnmpAgentCtrl::extBoardStatus, 3, "2");      // kavrola agents only
  agents.Send(static_cast<SnmpAgentCtrl::MonitoringItemType>(35), "x");  // no such item
  const Lines expected = {"set 1 gatewayCommon/powerStatus/0=3", "set 4 extBoardTable/extBoardStatus/3=2",
                          "set 2 gatewayCommon/powerStatus/0=3", "set 3 statusGeneral/sgBuildVersion/0=4.2\n"};
  for (auto& p : peer) EXPECT_EQ(p.take(), expected);
  EXPECT_EQ(agents.pending(SnmpAgentInstance::kavrola)->get_commands().size(), 0u);

  // Lists go at once; empty ones not at all.
  agents.SendTrapsink({});
  agents.Send(MON::SnmpSetCommands());
  agents.SendTrapsink({"10.0.0.9", "10.0.0.10:1162"});
  for (auto& p : peer) EXPECT_EQ(p.take(), Lines{"trapsinks 10.0.0.9 10.0.0.10:1162"});

  // With no link up, a flush still empties the batches.
  for (auto& p : peer) p.link.close();
  ASSERT_TRUE(linktest::pump([&] { return agents.instances()[1]->state() == SnmpAgentInstance::lost; }));
  agents.Send(SnmpAgentCtrl::gatewayDip, "5");
  linktest::settle();
  EXPECT_EQ(agents.pending(SnmpAgentInstance::veskgw_tm)->get_commands().size(), 0u);
  EXPECT_EQ(agents.uniq(), 7u);
}

// The agents decode with a PER decoder that takes at most 128 elements in a
// list: longer batches and lists go as several commands, cells in order and
// numbered as queued.
TEST_F(SnmpAgents, LongBatchesAndListsGoAsCommandsOfAtMost128Cells) {
  for (int row = 1; row <= 300; ++row) agents.Send(SnmpAgentCtrl::extBoardStatus, row, std::to_string(row));
  agents.Send(SnmpAgentCtrl::powerStatus, "3");
  Lines expected;
  for (int row = 1; row <= 300; ++row)
    expected.push_back("set " + std::to_string(row) + " extBoardTable/extBoardStatus/" + std::to_string(row) + "=" +
                       std::to_string(row));
  expected.push_back("set 301 gatewayCommon/powerStatus/0=3");
  expected.push_back("set 302 gatewayCommon/powerStatus/0=3");
  for (auto& p : peer) {
    EXPECT_EQ(p.take(), expected);
    EXPECT_EQ(p.setSizes, (std::vector<unsigned>{128, 128, 45, 1}));
    p.setSizes.clear();
  }

  // Exactly the limit is one command; one more is two.
  for (unsigned n : {SnmpAgentCtrl::max_cells, SnmpAgentCtrl::max_cells + 1}) {
    MON::SnmpSetCommands list;
    for (unsigned i = 0; i < n; ++i) addCell(list, i, "x");
    agents.Send(list);
    for (auto& p : peer) {
      const Lines cells = p.take();
      ASSERT_EQ(cells.size(), n);
      EXPECT_EQ(cells.back(), "set " + std::to_string(1000 + n - 1) + " sys/v/" + std::to_string(n - 1) + "=x");
      const std::vector<unsigned> sizes =
          n == SnmpAgentCtrl::max_cells ? std::vector<unsigned>{n} : std::vector<unsigned>{n - 1, 1};
      EXPECT_EQ(p.setSizes, sizes);
      p.setSizes.clear();
    }
  }
}

// Every command fits one frame of the link: long values cut a list into
// more commands than the count alone would; a cell too long for any frame
// is named in the log and the others still arrive. Batches and lists (the
// displays passed on, the full push) are cut alike. A list that fills
// exactly one frame goes whole, of 128 cells (whose count takes two octets)
// or of fewer.
TEST_F(SnmpAgents, CommandsAreCutToFitAFrameAndOnlyACellThatFitsNoneIsLeftOut) {
  struct Case {
    const char* what;
    bool batch;
    unsigned cells;
    // The first longCells cells hold values of longLength characters, the others "x".
    unsigned longCells;
    std::size_t longLength;
    const char* log;
    // When not negative, the last cell's value is lengthened until the list,
    // as one command, is one frame and this many octets more.
    int beyondFrame = -1;
    std::vector<unsigned> sizes = {};  // the commands' cells, when given
  };
  const Case cases[] = {
      {"700 cells, 400 of 500 characters", false, 700, 400, 500, ""},
      {"128 cells of 500 characters", false, 128, 128, 500, ""},
      {"a batch of 300 cells of 500 characters", true, 300, 300, 500, ""},
      {"4 cells of 16,000 characters", false, 4, 4, 16000, ""},
      {"one cell of 70,000 characters", false, 3, 1, 70000,
       "snmpagent: cell sys/v/0 does not encode into one frame, not sent\n"},
      {"128 cells that fill one frame", false, 128, 128, 490, "", 0, {128}},
      {"128 cells one octet longer than a frame", false, 128, 128, 490, "", 1, {127, 1}},
      {"5 cells that fill one frame", false, 5, 5, 13000, "", 0, {5}},
      {"5 cells one octet longer than a frame", false, 5, 5, 13000, "", 1, {4, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    err.take();
    Lines expected;
    MON::SnmpSetCommands list;
    std::string value;
    for (unsigned i = 0; i < c.cells; ++i) {
      value = i < c.longCells ? std::string(c.longLength, 'a' + i % 26) : "x";
      if (c.batch) {
        agents.Send(SnmpAgentCtrl::ifDescr, static_cast<int>(i), value);
        continue;
      }
      addCell(list, i, value);
      if (value.size() < 65000)
        expected.push_back("set " + std::to_string(1000 + i) + " sys/v/" + std::to_string(i) + "=" + value);
    }
    if (c.beyondFrame >= 0) {
      // The list as the one command it would be, measured, then lengthened.
      const auto frame = [&] {
        MON::Message whole;
        whole.get_pdu().select_command().select_snmp_set() = list;
        ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
        std::vector<char> out;
        return ASN1::encode(whole, &env, std::back_inserter(out)) ? out.size() : 0;
      };
      const std::size_t before = frame();
      ASSERT_LT(before, Tpkt_protocol::max_payload);
      value += std::string(Tpkt_protocol::max_payload - before + c.beyondFrame, 'z');
      list.get_commands()[c.cells - 1].set_value(value);
      ASSERT_EQ(frame(), Tpkt_protocol::max_payload + c.beyondFrame);
      expected.back() =
          "set " + std::to_string(1000 + c.cells - 1) + " sys/v/" + std::to_string(c.cells - 1) + "=" + value;
    }
    if (!c.batch) agents.Send(list);
    for (auto& p : peer) {
      const Lines got = p.take();
      if (c.batch) {
        // Each batch goes to each agent: twice the cells, in order.
        ASSERT_EQ(got.size(), 2 * c.cells);
        EXPECT_EQ(got.back().substr(got.back().find(' ', 4)), " ifTable/ifDescr/" + std::to_string(c.cells - 1) + "=" + value);
      } else {
        EXPECT_EQ(got, expected);
      }
      unsigned total = 0;
      for (unsigned n : p.setSizes) {
        EXPECT_LE(n, SnmpAgentCtrl::max_cells);
        total += n;
      }
      EXPECT_EQ(total, got.size());
      if (!c.sizes.empty()) {
        EXPECT_EQ(p.setSizes, c.sizes);
      }
      p.setSizes.clear();
    }
    EXPECT_EQ(err.take(), c.log);
  }
}

TEST_F(SnmpAgents, IdleLinksPingAndASilentAgentIsDroppedAtTheNextSend) {
  // The first send arms the ping.
  agents.Send(SnmpAgentCtrl::gatewayDip, "5");
  for (auto& p : peer) EXPECT_EQ(p.take().size(), 2u);
  clock.advance(SnmpAgentInstance::ping_ms - 1);
  EXPECT_TRUE(peer[0].take().empty());
  clock.advance(1);
  EXPECT_EQ(peer[0].take(), Lines{"ping"});
  // Agent 1 answers (any octets count as life, even undecodable ones);
  // agent 0 stays silent.
  for (int i = 0; i < 5; ++i) {
    peer[1].link.send(testkit::tpkt({0xFF}));
    linktest::settle();
    clock.advance(SnmpAgentInstance::ping_ms);
    peer[0].take();
  }
  // 30 s since the connect: not yet more than 30 s of silence.
  EXPECT_EQ(count(log.str(), "ping timeout"), 0u);
  EXPECT_EQ(agents.instances()[0]->state(), SnmpAgentInstance::connected);
  clock.advance(SnmpAgentInstance::ping_ms);
  peer[0].take();
  EXPECT_EQ(count(log.str(), "snmpagent.kavrola 127.0.0.1:" + std::to_string(peer[0].port()) +
                                 ": ping timeout !!! now=40000 stamp=5000\n"),
            1u)
      << log.str();
  EXPECT_TRUE(peer[0].link.awaitClose(std::chrono::seconds(2)));
  ASSERT_TRUE(linktest::pump([&] { return agents.instances()[0]->state() == SnmpAgentInstance::lost; }));
  EXPECT_FALSE(agents.instances()[0]->ping_armed());
  EXPECT_TRUE(log.str().find(": connection lost, reset snmpagent instance\n") != std::string::npos);
  EXPECT_EQ(agents.instances()[1]->state(), SnmpAgentInstance::connected);
  EXPECT_EQ(count(err.str(), "snmpagent.veskgw.tm 127.0.0.1:" + std::to_string(peer[1].port()) +
                                 ": receive : decode error!\n"),
            5u);
  // A command from an agent is reported; the link stays.
  MON::Message m;
  m.get_pdu().select_command().select_ping();
  peer[1].send(m);
  linktest::settle();
  EXPECT_EQ(count(err.str(), ": receive unknown message type\n"), 1u);
  EXPECT_EQ(agents.instances()[1]->state(), SnmpAgentInstance::connected);
}

}  // namespace
