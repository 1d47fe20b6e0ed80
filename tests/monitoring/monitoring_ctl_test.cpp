// The monitoring service on the simulated board, with one agent link, a
// controller session and the loop's test clock.
#include "monitoring/monitoring_ctl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/controller_process.h"
#include "tests/hardware/service_fixture.h"
#include "tests/monitoring/agent_peer.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using hwtest::success;

const std::string kTree = sysroot::monitoring_dir;

// How many of the agent's lines hold the text (a cell is
// "SECTION/NAME/INDEX=VALUE"; its number depends on what went before).
long withText(const Lines& lines, const std::string& text) {
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != l.npos; });
}
// The values of one cell, in arrival order.
Lines values(const Lines& lines, const std::string& cell) {
  Lines out;
  for (const std::string& l : lines)
    if (l.find(" " + cell + "=") != l.npos) out.push_back(l.substr(l.find('=') + 1));
  return out;
}

std::string display(int seq, const std::string& params) {
  return "{ seq " + std::to_string(seq) + ", pdu command : display : " + params + " }";
}

class MonitoringTest : public hwtest::ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    fs::create_directories(root_.path(kTree));
  }
  void TearDown() override {
    controller.close();
    server.Deactivate();
    mon.reset();
    ServiceTest::TearDown();
  }
  void write(const std::string& fixed, const std::string& text) {
    root_.make_parent(fixed);
    std::ofstream(root_.path(fixed)) << text;
  }
  // Builds the service with one agent, which takes the first full push.
  void make() {
    IniFile::File file;
    montest::readConfig(file, agent.block("kavrola"));
    mon = std::make_unique<MonitoringCtl>();
    mon->Configure(file);
    ASSERT_TRUE(agent.accept());
    pushed = agent.take();
  }
  std::string tree(const std::string& name) const { return testproc::ReadFile(root_.path(kTree + name)); }
  static Lines leds() { return command("leds"); }

  std::unique_ptr<MonitoringCtl> mon;
  montest::AgentPeer agent;
  Lines pushed;
};

TEST_F(MonitoringTest, PowerDipAndFramerLedsOnTheBoardsPanel) {
  command("refuse-open hal");
  command("power 0");
  command("dip 5");
  make();
  EXPECT_EQ(values(pushed, "gatewayCommon/gatewayDip/0"), Lines(2, "4294967295"));
  EXPECT_EQ(values(pushed, "gatewayCommon/gatewayConfigVersion/0"), Lines(2, "4294967295"));
  // No device: nothing happens, and the next check tries again.
  clock.advance(MonitoringCtl::power_ms);
  EXPECT_FALSE(fs::exists(root_.path(kTree + "dip")));
  command("refuse-open hal off");
  clock.advance(MonitoringCtl::power_ms);
  EXPECT_EQ(tree("dip"), "5");
  EXPECT_EQ(tree("powerstatus"), "3");
  EXPECT_EQ(leds(), Lines{"0x00"});  // dark from the start
  EXPECT_EQ(values(agent.take(), "gatewayCommon/gatewayDip/0"), Lines(2, "5"));
  for (const auto& raw : std::vector<std::pair<const char*, const char*>>{{"1", "1"}, {"4", "0"}, {"2", "2"},
                                                                          {"255", "0"}, {"3", "3"}}) {
    command(std::string("power ") + raw.first);
    clock.advance(MonitoringCtl::power_ms);
    EXPECT_EQ(tree("powerstatus"), raw.second) << raw.first;
  }
  EXPECT_TRUE(err().empty()) << err();  // no controller: no signal tried

  // A controller hears the power state on connecting, changed or not, and
  // of every change while connected.
  connect(*mon);
  EXPECT_EQ(received, Lines{"{ pdu signal : power : both }"});
  command("power 2");
  clock.advance(MonitoringCtl::power_ms);
  EXPECT_EQ(drain(), Lines{"{ pdu signal : power : main }"});

  // Framer 2: the line comes up (both LEDs), its link comes up, the line
  // goes down; a link reported down lights the link LED alone.
  for (const char* info : {"line : TRUE", "link : TRUE", "line : FALSE", "link : FALSE"})
    EXPECT_EQ(request(display(1, std::string("framer : { e1 2, info ") + info + " }")), Lines{success(1)});
  EXPECT_EQ(leds(), (Lines{"0x00", "0x30", "0x20", "0x00", "0x10"}));
  mon.reset();
  EXPECT_EQ(leds().back(), "0x00");
}

TEST_F(MonitoringTest, BoardFilesAndTheConfigurationArchive) {
  write(sysroot::version_file, "4.2\n");
  write(sysroot::temperature, "42 C\n");
  write(sysroot::voice_version, "voice driver 1.2 b7\n");
  // One archive among names that are none: they must not read as version 0.
  const std::string etc = sysroot::etc_dir;
  write(etc + "config.notes-for-the-next-shift-x", "");
  write(etc + "config.0000001f-00000000000000ff", "");
  write(etc + "config.2save.tar.bz2", "");
  write(etc + "config.1", "");
  fs::create_directories(root_.path(etc + "config.00000020-0000000000000001"));
  write(std::string(sysroot::framer_dir) + "0", "Current state           : Synchronized\n");
  write(std::string(sysroot::framer_dir) + "2", "Current state           : No Carrier\n");
  make();
  EXPECT_EQ(values(pushed, "gatewayCommon/driverBuild/0"), Lines(2, "driver [1.2 b7]"));
  clock.advance(MonitoringCtl::first_background_ms);
  EXPECT_EQ(tree("config_version"), "0000001f-00000000000000ff");
  const Lines cells = agent.take();
  for (const char* cell : {"gatewayCommon/gatewayConfigVersion/0=31", "gatewayCommon/temperature/0=42",
                           "statusGeneral/sgBuildVersion/0=4.2\n", "e1Table/e1StatusDsc/1=Synchronized",
                           "e1Table/e1StatusDsc/3=No Carrier", "e1Table/e1Connected/3=0"})
    EXPECT_GE(withText(cells, cell), 1) << cell;
  // Nothing changed, nothing sent.
  mon->doVersionsCheck();
  mon->doConfigCheck();
  mon->doFramerCheck();
  mon->doTemperatureCheck();
  EXPECT_TRUE(agent.take().empty());

  write(sysroot::voice_version, "voice driver 1.2\n");
  mon->sendSnmpDriverBuild();
  write(sysroot::voice_version, "voice driver\n");
  mon->sendSnmpDriverBuild();
  fs::remove(root_.path(sysroot::voice_version));
  mon->sendSnmpDriverBuild();
  // One flush: the kavrola batch, then the veskgw.tm one.
  EXPECT_EQ(values(agent.take(), "gatewayCommon/driverBuild/0"),
            (Lines{"driver [1.2]", "none", "driver [1.2]", "none"}));
}

TEST_F(MonitoringTest, DisplayRecordsReachTheAgentsAndTrunkStatusPushesEverything) {
  write(std::string(sysroot::framer_dir) + "0", "Current state           : Synchronized\n");
  make();
  connect(*mon);
  const Lines commands = {
      "board : boardStatus : { position 3, version '3132'H, status ready, type fxs }",
      "emPhone : phoneStatus : { id 0, panelSV '41'H, ctrlSV ''H, fpgaSV ''H, status ready, powerStatus main, "
      "mode active, hookStatus connected, baseStatus disconnected }",
      "termCounter : { owner extBoard, ownerId 7, cnt 5 }", "termCounter : { owner extBoard, cnt 4 }",
      "termCounter : { owner router, cnt -1 }",
      "snmp-set : { commands { { uniq 70, id name : { section \"..\", name \"x\", index 0 }, value \"v\" } } }"};
  for (const std::string& c : commands) EXPECT_EQ(request(display(2, c)), Lines{success(2)}) << c;
  Lines cells = agent.take();
  for (const char* cell : {"extBoardTable/extBoardStatus/3=3", "extBoardTable/extBoardSoftVer/3=12",
                           "extBoardTable/extBoardType/3=2", "emPhoneTable/emPhonePanelSoftVer/1=A",
                           "emPhoneTable/emPhoneBaseStatus/1=2", "extBoardTermCntTable/extBoardTermCnt/7=5",
                           "gatewayTermCounters/routerTermCnt/0=4294967295", "set 70 ../x/0=v"})
    EXPECT_GE(withText(cells, cell), 1) << cell;
  // Each counter display publishes every held counter; the one without an
  // owner id has no row.
  EXPECT_EQ(withText(cells, "extBoardTermCnt/7=5"), 3);
  EXPECT_EQ(withText(cells, "extBoardTermCnt/0="), 0);
  EXPECT_EQ(withText(cells, "routerTermCnt/0="), 2);
  EXPECT_FALSE(fs::exists(root_.path(kTree + "../0")));  // refused as a file, still forwarded
  EXPECT_EQ(tree("board3"), "3\n12\n2\n");

  // A trunk without a framer, or a BRI line of framer 1's number, changes
  // nothing; framer 1's trunk pushes every value, the phones' twice.
  LGCP::Signal signal;
  ASSERT_TRUE(signal.setFromValueNotation(
      "trunkStatus : { trunk 1, state lossBF, slips 0, lossBF 0, lossCarrier 0, lossAIS 0, lossRAI 0, name \"\", "
      "clockMaster FALSE, type e1 }"));
  mon->OnSignal(signal);
  signal.get_trunkStatus().get_trunk().setValue(0);
  signal.get_trunkStatus().get_type().setValue(ACP::TrunkType::bri);
  mon->OnSignal(signal);
  EXPECT_TRUE(agent.take().empty());
  signal.get_trunkStatus().get_type().setValue(ACP::TrunkType::e1);
  mon->OnSignal(signal);
  cells = agent.take();
  EXPECT_EQ(withText(cells, "emPhoneTable/emPhoneStatus/1=2"), 2);
  EXPECT_EQ(withText(cells, "e1Table/e1StatusDsc/1=FAS Loss"), 1);
  EXPECT_EQ(withText(cells, "extBoardTable/extBoardStatus/3=3"), 1);
  // The stored set list goes at once, ahead of the batches.
  ASSERT_FALSE(cells.empty());
  EXPECT_EQ(cells.front(), "set 70 ../x/0=v");

  // Two agent connects in one pass: one push.
  mon->OnSnmpAgentConnect("a");
  mon->OnSnmpAgentConnect("b");
  EXPECT_EQ(withText(agent.take(), "gatewayCommon/powerStatus/0="), 2);
  // The controller's board records go with it.
  disconnect();
  EXPECT_FALSE(fs::exists(root_.path(kTree + "board3")));
}

TEST_F(MonitoringTest, ControllerStatusFromTheLinkOrTheLocalProcess) {
  testkit::ControllerProcessLock lock;
  ASSERT_TRUE(lock.held()) << lock.why();
  make();
  const std::string own = addr2str(mon->holder().own_address());
  connect(*mon);
  EXPECT_EQ(tree("controller/self/status"), "0");  // nothing reported yet
  EXPECT_EQ(request(display(1, "controller : { host { iaddr \"" + own + "\", port 0 }, status ok }")),
            Lines{success(1)});
  EXPECT_EQ(tree("controller/self/status"), "1");
  EXPECT_EQ(values(agent.take(), "gatewayCommon/controllerStatus/0"), (Lines{"0", "0", "1", "1"}));
  // Connected, the watch keeps what the controller said.
  clock.advance(MonitoringCtl::controller_ms);
  EXPECT_EQ(tree("controller/self/status"), "1");
  disconnect();
  EXPECT_EQ(tree("controller/self/status"), "5");
  testkit::ControllerProcess local(root_.dir());
  ASSERT_GT(local.pid(), 0);
  clock.advance(MonitoringCtl::controller_ms);
  EXPECT_EQ(tree("controller/self/status"), "4");
  local.stop();
  clock.advance(MonitoringCtl::controller_ms);
  EXPECT_EQ(tree("controller/self/status"), "5");
}

}  // namespace
