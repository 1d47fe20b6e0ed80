// The monitoring service of the real korvend-sim seen from outside: two
// stand-in SNMP agents (Erlang, decoding with Erlang's own asn1), the board
// files and front panel of the simulated board, the status tree, and a
// controller (lgcpctl).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/controller_process.h"
#include "tests/e2e/daemon_harness.h"

namespace {

using namespace std::chrono_literals;

const std::string kTree = sysroot::monitoring_dir;
// A directory beside the tree, outside it.
const std::string kElsewhere = std::filesystem::path(kTree).parent_path().parent_path().string() + "/elsewhere";

std::string beamDir() { return e2e::buildDir() + "/tests/e2e/mon_agent"; }

// One cell an agent received.
struct Cell {
  int connection;
  long uniq;
  std::string section, name;
  int index;
  std::string value;
};

std::string unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// A stand-in agent, listening on a port of its own choosing.
class Agent {
 public:
  Agent(const std::string& dir, const std::string& name)
      : record_(dir + "/" + name + ".rec"), control_(dir + "/" + name + ".ctl") {
    pid_ = testproc::Spawn({"escript", e2e::sourceDir() + "/tests/e2e/mon_agent.escript", beamDir(), record_, control_},
                           {}, dir + "/" + name + ".out", dir + "/" + name + ".err");
  }
  ~Agent() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;

  // The port, once it listens; 0 when it did not come up (an Erlang node
  // starts slowly on a loaded machine).
  int port() const {
    int port = 0;
    e2e::waitFor(
        [&] {
          std::istringstream in(record());
          std::string word;
          return in >> word && word == "listening" && in >> port;
        },
        60s);
    return port;
  }
  std::string record() const { return e2e::readFile(record_); }
  void silent(bool on) const {
    if (on)
      std::ofstream(control_) << "silent\n";
    else
      std::filesystem::remove(control_);
  }

  std::vector<Cell> cells() const {
    std::vector<Cell> out;
    std::istringstream lines(record());
    for (std::string line; std::getline(lines, line);) {
      std::istringstream in(line);
      std::string kind;
      Cell c;
      if (!(in >> kind >> c.connection >> c.uniq >> c.section >> c.name >> c.index) || kind != "set") continue;
      const std::size_t open = line.find('"');
      if (open == std::string::npos || line.back() != '"') continue;
      c.value = unescape(line.substr(open + 1, line.size() - open - 2));
      out.push_back(c);
    }
    return out;
  }
  // The cells of one MIB cell, in arrival order.
  std::vector<Cell> cells(const std::string& section, const std::string& name, int index) const {
    std::vector<Cell> out;
    for (const Cell& c : cells())
      if (c.section == section && c.name == name && c.index == index) out.push_back(c);
    return out;
  }
  std::string last(const std::string& section, const std::string& name, int index) const {
    const std::vector<Cell> c = cells(section, name, index);
    return c.empty() ? "(none)" : c.back().value;
  }
  std::size_t lines(const std::string& head) const { return e2e::count("\n" + record(), "\n" + head); }
  // Every message received, as hex.
  std::vector<std::string> frames() const {
    std::vector<std::string> out;
    std::istringstream lines(record());
    for (std::string line; std::getline(lines, line);) {
      std::istringstream in(line);
      std::string kind, connection, hex;
      if (in >> kind >> connection >> hex && kind == "frame") out.push_back(hex);
    }
    return out;
  }

 private:
  std::string record_, control_;
  pid_t pid_ = -1;
};

// The powerStatus cell of one full push reaches an agent twice (the batch
// of each agent type), under consecutive numbers.
bool pushedTwiceInARow(const std::vector<Cell>& power, std::size_t first) {
  return power.size() >= first + 2 && power[first + 1].uniq == power[first].uniq + 1;
}

// Each message an agent received, decoded by the system's own codec tool
// (the hex goes through a file: a whole frame's is longer than one argument
// may be).
struct Decoded {
  std::string hex;
  e2e::Ran ran;
};
std::vector<Decoded> decodedFrames(const Agent& a, const std::string& dir) {
  const std::string codec = e2e::buildDir() + "/tools/asn1-codec/asn1-codec";
  const char* emulator = testproc::Emulator();
  const std::string file = dir + "/frame.hex";
  std::vector<Decoded> out;
  for (const std::string& hex : a.frames()) {
    std::ofstream(file) << hex << "\n";
    out.push_back({hex, e2e::run((emulator ? std::string(emulator) + " " : std::string()) + codec +
                                 " -r aper decode MON Message < " + file)});
  }
  return out;
}

const char kFramerFile[] =
    "Current state           : %s\n"
    "Loss of Signal          : no\n"
    "Loss of Frame Alignment : no\n"
    "Receive Slip Negative   : 2 events\n"
    "Receive Slip Positive   : 0 events\n";

class Monitoring : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(beamDir() + "/MON.beam"))
      GTEST_SKIP() << testkit::missing("Erlang asn1 (erlang-asn1)") << ": no agent";
    agent1 = std::make_unique<Agent>(root.dir(), "agent1");
    agent2 = std::make_unique<Agent>(root.dir(), "agent2");
    port1 = agent1->port();
    port2 = agent2->port();
    ASSERT_GT(port1, 0) << e2e::readFile(root.dir() + "/agent1.err");
    ASSERT_GT(port2, 0) << e2e::readFile(root.dir() + "/agent2.err");
    write(sysroot::server_conf, "[snmpagent]\nhost = 127.0.0.1:" + std::to_string(port1) +
                                    "\nname = kavrola\n[snmpagent]\nhost = 127.0.0.1:" + std::to_string(port2) +
                                    "\nname = veskgw.tm\n");
    std::filesystem::create_directories(root.path(kTree));
  }
  void TearDown() override {
    if (!daemon) return;
    daemon->signal(SIGTERM);
    daemon->wait();
  }
  void write(const std::string& fixed, const std::string& text) {
    root.make_parent(fixed);
    std::ofstream(root.path(fixed)) << text;
  }
  void framer(int n, const char* state) {
    char text[512];
    std::snprintf(text, sizeof text, kFramerFile, state);
    write(std::string(sysroot::framer_dir) + std::to_string(n), text);
  }
  void start(const std::string& init = "") {
    if (!init.empty()) write(sysroot::sim_board_init, init);
    daemon = std::make_unique<e2e::Daemon>(e2e::simBinary(), root.dir(),
                                           std::vector<std::string>{"--port", std::to_string(port)}, root.dir());
    ASSERT_TRUE(e2e::waitFor([&] { return !daemon->out().empty(); })) << daemon->err();
  }
  std::string tree(const std::string& name) const { return e2e::readFile(root.path(kTree + name)); }
  e2e::Ran lgcpctl(const std::string& steps) const {
    return e2e::run(e2e::lgcpctlCommand("--port " + std::to_string(port) + " " + steps));
  }
  e2e::Ran board(const std::string& request) const { return e2e::simboardctl(root.dir(), request); }

  e2e::Root root;
  int port = e2e::freePort();
  int port1 = 0, port2 = 0;
  std::unique_ptr<Agent> agent1, agent2;
  std::unique_ptr<e2e::Daemon> daemon;
};

// Both agents get the full push on connecting, the board's values as the
// checks find them, and a ping once the link is idle.
TEST_F(Monitoring, BoardValuesReachTheTreeAndBothAgents) {
  write(sysroot::version_file, "4.2.1\n");
  write(sysroot::uboot_version, "2019.1\n");
  write(sysroot::fpga_version, "fpga 7\n");
  write(sysroot::board_version, "rev B\n");
  write(sysroot::temperature, "42 C\n");
  write(std::string(sysroot::etc_dir) + "config.0000001f-00000000000000ff.tar.bz2", "");
  // The board has framers 1 and 3; the trunk of 3 has lost its carrier.
  framer(0, "Synchronized");
  framer(2, "Synchronized");
  start("dip 5\npower 0\ntrunk 2 state 2 slips 2\n");

  // An agent records a batch cell by cell: the second batch's build version
  // comes some cells after its power status.
  for (const Agent* a : {agent1.get(), agent2.get()}) {
    EXPECT_TRUE(e2e::waitFor(
        [&] {
          return pushedTwiceInARow(a->cells("gatewayCommon", "powerStatus", 0), 0) &&
                 !a->cells("statusGeneral", "sgBuildVersion", 0).empty();
        },
        20s))
        << a->record();
  }

  EXPECT_TRUE(e2e::waitFor([&] { return tree("dip") == "5" && tree("powerstatus") == "3"; }, 20s))
      << tree("dip") << "/" << tree("powerstatus");
  EXPECT_EQ(tree("config_version"), "0000001f-00000000000000ff");
  for (const Agent* a : {agent1.get(), agent2.get()}) {
    // Each changed value goes on its own, right after the check that found it.
    EXPECT_TRUE(e2e::waitFor([&] { return a->last("gatewayCommon", "gatewayDip", 0) == "5"; }, 10s)) << a->record();
    EXPECT_EQ(a->last("gatewayCommon", "temperature", 0), "42");
    EXPECT_EQ(a->last("gatewayCommon", "powerStatus", 0), "3");
    EXPECT_EQ(a->last("gatewayCommon", "gatewayConfigVersion", 0), "31");
    EXPECT_EQ(a->last("statusGeneral", "sgBuildVersion", 0), "4.2.1\n");
    EXPECT_EQ(a->last("e1Table", "e1StatusDsc", 1), "Synchronized");
    EXPECT_EQ(a->last("e1Table", "e1StatusDsc", 3), "No Carrier");
    EXPECT_EQ(a->last("e1Table", "e1NegSlipCount", 3), "2");
    EXPECT_TRUE(a->cells("e1Table", "e1StatusDsc", 2).empty()) << a->record();
    // Idle links ping.
    EXPECT_TRUE(e2e::waitFor([&] { return a->lines("ping ") > 0; }, 30s)) << a->record();
  }

  // A controller makes the trunks report their state every second. The
  // framer file said the same at the framer check: nothing changes, nothing
  // is pushed again.
  const std::size_t pushed = agent1->cells("gatewayCommon", "powerStatus", 0).size();
  const e2e::Ran r = lgcpctl("listen 2500");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(agent1->cells("gatewayCommon", "powerStatus", 0).size(), pushed) << agent1->record();
  const std::vector<Cell> framer3 = agent1->cells("e1Table", "e1StatusDsc", 3);
  ASSERT_FALSE(framer3.empty());
  EXPECT_EQ(framer3.back().value, "No Carrier") << agent1->record();
}

// The controller: the power state on connecting, `display` reaching the
// LEDs, the tree and the agents, and the board files gone with it. Then the
// controller watch finds a local process named "controller".
TEST_F(Monitoring, ControllerDisplayAndTheLocalControllerProcess) {
  start("power 2\n");
  testkit::ControllerProcessLock lock;
  ASSERT_TRUE(lock.held()) << lock.why();
  for (const Agent* a : {agent1.get(), agent2.get()})
    ASSERT_TRUE(e2e::waitFor([&] { return pushedTwiceInARow(a->cells("gatewayCommon", "powerStatus", 0), 0); }, 20s))
        << a->record();

  const e2e::Ran r = lgcpctl(
      "send '{ seq 1, pdu command : display : framer : { e1 2, info line : TRUE } }' "
      "expect '{ seq 1, pdu response : success : NULL }' "
      "send '{ seq 2, pdu command : display : snmp-set : { commands { { uniq 7, id name : { section \"sys\", "
      "name \"location\", index 0 }, value \"lab\" } } } }' "
      "expect '{ seq 2, pdu response : success : NULL }' "
      "send '{ seq 3, pdu command : display : board : boardStatus : { position 3, version '\"'\"'3132'\"'\"'H, "
      "status ready, type fxs } }' "
      "expect '{ seq 3, pdu response : success : NULL }' "
      "listen 300");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("< { pdu signal : power : main }"), std::string::npos) << r.out;

  const e2e::Ran leds = board("leds");
  EXPECT_EQ(leds.out.substr(leds.out.rfind("0x")), "0x30\n") << leds.out;
  EXPECT_EQ(tree("sys/0/location"), "lab");
  for (const Agent* a : {agent1.get(), agent2.get()}) {
    EXPECT_TRUE(e2e::waitFor([&] { return a->last("sys", "location", 0) == "lab"; }, 20s)) << a->record();
    // The board's cells go in the next batch, after the commands passed on.
    EXPECT_TRUE(e2e::waitFor([&] { return a->last("extBoardTable", "extBoardSoftVer", 3) == "12"; }, 10s))
        << a->record();
  }
  // The controller has gone: its board records with it; nobody runs a
  // process named "controller".
  EXPECT_TRUE(e2e::waitFor([&] { return !e2e::exists(root.path(kTree + "board3")); }, 20s));
  EXPECT_TRUE(e2e::waitFor([&] { return tree("controller/self/status") == "5"; }, 20s))
      << tree("controller/self/status");

  testkit::ControllerProcess controller(root.dir());
  ASSERT_GT(controller.pid(), 0);
  EXPECT_TRUE(e2e::waitFor([&] { return tree("controller/self/status") == "4"; }, 30s))
      << tree("controller/self/status");
  EXPECT_TRUE(e2e::waitFor([&] { return agent1->last("gatewayCommon", "controllerStatus", 0) == "4"; }, 10s))
      << agent1->record();
  controller.stop();
  EXPECT_TRUE(e2e::waitFor([&] { return tree("controller/self/status") == "5"; }, 30s))
      << tree("controller/self/status");
}

// An agent that stops answering is dropped after 30 s of silence and, once
// it answers again, gets every value again on the new connection.
TEST_F(Monitoring, SilentAgentIsDroppedAndGetsASecondFullPush) {
  start();
  ASSERT_TRUE(e2e::waitFor([&] { return pushedTwiceInARow(agent1->cells("gatewayCommon", "powerStatus", 0), 0); }, 20s))
      << agent1->record();
  agent1->silent(true);
  const std::string timeout = "snmpagent.kavrola 127.0.0.1:" + std::to_string(port1) + ": ping timeout !!!";
  EXPECT_TRUE(e2e::waitFor([&] { return daemon->err().find(timeout) != std::string::npos; }, 45s))
      << daemon->err() << agent1->record();
  agent1->silent(false);
  EXPECT_TRUE(e2e::waitFor([&] { return agent1->lines("connect 2") == 1; }, 40s)) << agent1->record();
  // The push on the new connection, to both agents.
  EXPECT_TRUE(e2e::waitFor(
      [&] {
        std::vector<Cell> power;
        for (const Cell& c : agent1->cells("gatewayCommon", "powerStatus", 0))
          if (c.connection == 2) power.push_back(c);
        return pushedTwiceInARow(power, 0);
      },
      20s))
      << agent1->record();
  EXPECT_TRUE(e2e::waitFor([&] { return agent2->cells("gatewayCommon", "powerStatus", 0).size() >= 4; }, 10s))
      << agent2->record();
  EXPECT_EQ(agent2->lines("connect "), 1u) << agent2->record();
}

// A board counter displayed after one without an owner id keeps its own
// row, now and in the full pushes that follow; the router's counter is one,
// and the agent hears the count the status file holds.
TEST_F(Monitoring, BoardCountersReachTheAgentAndEveryLaterFullPush) {
  framer(0, "Synchronized");
  start();
  ASSERT_TRUE(e2e::waitFor([&] { return pushedTwiceInARow(agent1->cells("gatewayCommon", "powerStatus", 0), 0); }, 20s))
      << agent1->record();
  const e2e::Ran r = lgcpctl(
      "send '{ seq 1, pdu command : display : termCounter : { owner extBoard, cnt 4 } }' "
      "expect '{ seq 1, pdu response : success : NULL }' "
      "send '{ seq 2, pdu command : display : termCounter : { owner extBoard, ownerId 12, cnt 9 } }' "
      "expect '{ seq 2, pdu response : success : NULL }' "
      // The router has one counter, whatever id a record of it carries.
      "send '{ seq 3, pdu command : display : termCounter : { owner router, cnt 3 } }' "
      "expect '{ seq 3, pdu response : success : NULL }' "
      "send '{ seq 4, pdu command : display : termCounter : { owner router, ownerId 5, cnt 8 } }' "
      "expect '{ seq 4, pdu response : success : NULL }' "
      "send '{ seq 5, pdu command : display : termCounter : { owner router, cnt 4 } }' "
      "expect '{ seq 5, pdu response : success : NULL }'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(tree("term_cnts/board12"), "9");
  EXPECT_EQ(tree("term_cnts/router"), "4");
  EXPECT_TRUE(e2e::waitFor([&] { return agent1->last("gatewayTermCounters", "routerTermCnt", 0) == "4"; }, 10s))
      << agent1->record();
  EXPECT_TRUE(e2e::waitFor([&] { return agent1->last("extBoardTermCntTable", "extBoardTermCnt", 12) == "9"; }, 10s))
      << agent1->record();
  EXPECT_TRUE(agent1->cells("extBoardTermCntTable", "extBoardTermCnt", 0).empty()) << agent1->record();

  // A trunk state change, reported once a controller is connected, makes a
  // full push: the counter goes again.
  const std::size_t before = agent1->cells("extBoardTermCntTable", "extBoardTermCnt", 12).size();
  ASSERT_EQ(board("trunk 0 state 1").status, 0);
  ASSERT_EQ(lgcpctl("listen 1500").status, 0);
  EXPECT_TRUE(e2e::waitFor([&] { return agent1->last("e1Table", "e1StatusDsc", 1) == "FAS Loss"; }, 20s))
      << agent1->record();
  const std::vector<Cell> after = agent1->cells("extBoardTermCntTable", "extBoardTermCnt", 12);
  ASSERT_GT(after.size(), before) << agent1->record();
  EXPECT_EQ(after.back().value, "9");
  EXPECT_EQ(agent1->last("gatewayTermCounters", "routerTermCnt", 0), "4") << agent1->record();
}

// Ten phones make a full push of more cells than one message may carry:
// every cell arrives, and every message decodes with the system's own
// decoder, none above 128 cells.
TEST_F(Monitoring, TenPhonesPushEveryCellInMessagesTheOwnDecoderTakes) {
  framer(0, "Synchronized");
  start();
  ASSERT_TRUE(e2e::waitFor([&] { return pushedTwiceInARow(agent1->cells("gatewayCommon", "powerStatus", 0), 0); }, 20s))
      << agent1->record();
  // An octet string in value notation, inside the single quotes of a shell word.
  const auto octets = [](const std::string& hex) { return "'\"'\"'" + hex + "'\"'\"'H"; };
  std::string steps;
  for (int id = 0; id < 10; ++id)
    steps += "send '{ seq " + std::to_string(id + 1) + ", pdu command : display : emPhone : phoneStatus : { id " +
             std::to_string(id) + ", panelSV " + octets("41") + ", ctrlSV " + octets("42") + ", fpgaSV " + octets("43") +
             ", status ready, "
             "powerStatus main, mode active, hookStatus connected, baseStatus disconnected } }' "
             "expect '{ seq " + std::to_string(id + 1) + ", pdu response : success : NULL }' ";
  const e2e::Ran r = lgcpctl(steps);
  ASSERT_EQ(r.status, 0) << r.out;
  // A trunk state change, reported once a controller is connected: a full
  // push.
  ASSERT_EQ(board("trunk 0 state 1").status, 0);
  ASSERT_EQ(lgcpctl("listen 1500").status, 0);
  // The push ends with the veskgw.tm batch, which both agents get (an agent
  // records each command's cells at once).
  for (const Agent* a : {agent1.get(), agent2.get()})
    EXPECT_TRUE(e2e::waitFor([&] { return a->cells("gatewayCommon", "powerStatus", 0).size() >= 4; }, 20s))
        << a->record();

  for (const Agent* a : {agent1.get(), agent2.get()}) {
    // Each phone's cells: once on its display, twice in the push.
    for (int row = 1; row <= 10; ++row)
      EXPECT_EQ(a->cells("emPhoneTable", "emPhoneBaseStatus", row).size(), 3u) << row << "\n" << a->record();
    // Every batch goes to every agent, so each gets every number once.
    std::vector<long> uniqs;
    for (const Cell& c : a->cells()) uniqs.push_back(c.uniq);
    std::sort(uniqs.begin(), uniqs.end());
    for (std::size_t i = 0; i < uniqs.size(); ++i) ASSERT_EQ(uniqs[i], static_cast<long>(i) + 1) << a->record();
    EXPECT_GT(uniqs.size(), 200u);

    // The agent may hear a later push while this reads: the frames are
    // checked against their own numbering, and they hold at least what the
    // cells above held.
    std::vector<long> decoded;
    for (const Decoded& f : decodedFrames(*a, root.dir())) {
      const e2e::Ran& d = f.ran;
      ASSERT_EQ(d.status, 0) << f.hex << "\n" << d.out;
      EXPECT_LE(e2e::count(d.out, "uniq "), 128u) << d.out;
      for (std::size_t at = d.out.find("uniq "); at != std::string::npos; at = d.out.find("uniq ", at + 5))
        decoded.push_back(std::strtol(d.out.c_str() + at + 5, nullptr, 10));
    }
    std::sort(decoded.begin(), decoded.end());
    for (std::size_t i = 0; i < decoded.size(); ++i) ASSERT_EQ(decoded[i], static_cast<long>(i) + 1);
    EXPECT_GE(decoded.size(), uniqs.size());
  }
}

// Displayed values longer than 128 cells of them fit a frame: the displays
// passed on and every later full push deliver each cell whole, in messages
// that fit one frame and decode with the system's own codec.
TEST_F(Monitoring, HeldValuesOfAnyLengthReachTheAgentsWholeInEveryPush) {
  framer(0, "Synchronized");
  start();
  ASSERT_TRUE(e2e::waitFor([&] { return pushedTwiceInARow(agent1->cells("gatewayCommon", "powerStatus", 0), 0); }, 20s))
      << agent1->record();
  // 700 cells in seven displays; the first 400 hold 500 characters.
  const int kCells = 700;
  const auto value = [](int i) { return i < 400 ? std::string(500, static_cast<char>('a' + i % 26)) : "x"; };
  std::string displays;
  for (int d = 0; d < 7; ++d) {
    displays += "{ seq " + std::to_string(d + 1) + ", pdu command : display : snmp-set : { commands {";
    for (int i = d * 100; i < d * 100 + 100; ++i)
      displays += std::string(i % 100 ? "," : "") + " { uniq " + std::to_string(i + 1) +
                  ", id name : { section \"lab\", name \"v\", index " + std::to_string(i) + " }, value \"" + value(i) +
                  "\" }";
    displays += " } } }\n";
  }
  const std::string file = root.dir() + "/displays.txt";
  std::ofstream(file) << displays;
  const e2e::Ran r = e2e::run(e2e::lgcpctlCommand("--port " + std::to_string(port) + " --wait 10000 < " + file));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(e2e::count(r.out, "response : success"), 7u) << r.out;
  // A trunk state change, reported once a controller is connected: a full push.
  ASSERT_EQ(board("trunk 0 state 1").status, 0);
  ASSERT_EQ(lgcpctl("listen 1500").status, 0);

  for (const Agent* a : {agent1.get(), agent2.get()}) {
    // Once on its display, once in the push.
    EXPECT_TRUE(e2e::waitFor([&] { return a->cells("lab", "v", kCells - 1).size() >= 2; }, 20s)) << a->lines("set ");
    for (int i = 0; i < kCells; ++i) {
      const std::vector<Cell> got = a->cells("lab", "v", i);
      ASSERT_EQ(got.size(), 2u) << i;
      EXPECT_EQ(got[0].value, value(i)) << i;
      EXPECT_EQ(got[1].value, value(i)) << i;
    }
    for (const Decoded& f : decodedFrames(*a, root.dir())) {
      EXPECT_EQ(f.ran.status, 0) << f.hex.substr(0, 200) << "\n" << f.ran.out.substr(0, 2000);
      EXPECT_LE(e2e::count(f.ran.out, "uniq "), 128u);
    }
  }
  EXPECT_EQ(daemon->err().find("refuse message"), std::string::npos) << daemon->err();
}

// The status tree follows no link: neither a root that is one, nor one put
// into the tree while the daemon runs. (No agents: nothing but the tree.)
class MonitoringTree : public ::testing::Test {
 protected:
  void TearDown() override { stop(); }
  void start() {
    daemon = std::make_unique<e2e::Daemon>(e2e::simBinary(), root.dir(),
                                           std::vector<std::string>{"--port", std::to_string(port)}, root.dir());
    ASSERT_TRUE(e2e::waitFor([&] { return !daemon->out().empty(); })) << daemon->err();
  }
  void stop() {
    if (!daemon) return;
    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->wait(), 0);
    daemon.reset();
  }
  void put(const std::string& fixed, const std::string& text) {
    root.make_parent(fixed);
    std::ofstream(root.path(fixed)) << text;
  }
  std::string linkName() const { return std::filesystem::path(root.path(kTree)).parent_path().string(); }

  e2e::Root root;
  int port = e2e::freePort();
  std::unique_ptr<e2e::Daemon> daemon;
};

TEST_F(MonitoringTree, ARootThatIsALinkIsLeftAloneForAWholeRun) {
  put(kElsewhere + "/keep", "mine");
  std::filesystem::create_directory_symlink(root.path(kElsewhere), linkName());
  put(sysroot::sim_board_init, "dip 5\n");
  start();
  const std::string refused = "FAIL monitoring catalog </var/monitoring/> is a symbolic link";
  EXPECT_TRUE(e2e::waitFor([&] { return daemon->err().find(refused) != std::string::npos; }, 20s)) << daemon->err();
  const e2e::Ran r = e2e::run(e2e::lgcpctlCommand(
      "--port " + std::to_string(port) +
      " send '{ seq 1, pdu command : display : termCounter : { owner router, cnt 3 } }' "
      "expect '{ seq 1, pdu response : success : NULL }'"));
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string err = daemon->err();
  stop();
  EXPECT_EQ(e2e::count(err, refused), 1u) << err;
  EXPECT_EQ(e2e::readFile(root.path(kElsewhere + "/keep")), "mine");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(root.path(kElsewhere)))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"keep"});
}

TEST_F(MonitoringTree, ALinkPutAtDipIsNotWrittenThrough) {
  put(sysroot::sim_board_init, "dip 5\n");
  put(kElsewhere + "/target", "mine");
  std::filesystem::create_directories(root.path(kTree));
  start();
  ASSERT_TRUE(e2e::waitFor([&] { return e2e::readFile(root.path(kTree + "dip")) == "5"; }, 20s)) << daemon->err();
  std::filesystem::remove(root.path(kTree + "dip"));
  std::filesystem::create_symlink(root.path(kElsewhere + "/target"), root.path(kTree + "dip"));
  ASSERT_EQ(e2e::simboardctl(root.dir(), "dip 77").status, 0);
  EXPECT_TRUE(e2e::waitFor(
      [&] { return daemon->err().find("FAIL create temporary file </var/monitoring/dip>") != std::string::npos; }, 20s))
      << daemon->err();
  EXPECT_EQ(e2e::readFile(root.path(kElsewhere + "/target")), "mine");
  stop();
  EXPECT_EQ(e2e::readFile(root.path(kElsewhere + "/target")), "mine");
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(root.path(kTree + "dip"))));
}

}  // namespace
