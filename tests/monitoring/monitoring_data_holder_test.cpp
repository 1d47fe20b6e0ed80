// The monitoring data holder and the status tree it writes, in a root of
// the test's own.
#include "monitoring/monitoring_data_holder.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "runtime/traces.h"
#include "tests/net_namespace.h"
#include "tests/stream_capture.h"
#include "tests/temp_root.h"

namespace fs = std::filesystem;

namespace {

const std::string kRoot = sysroot::monitoring_dir;

template <class T>
T value(const std::string& valueNotation) {
  T v;
  EXPECT_TRUE(v.setFromValueNotation(valueNotation)) << valueNotation;
  return v;
}

LGCP::DisplayParams display(const std::string& valueNotation) { return value<LGCP::DisplayParams>(valueNotation); }

LGCP::ControllerInfo controller(const std::string& address, const char* status) {
  return value<LGCP::ControllerInfo>("{ host { iaddr \"" + address + "\", port 0 }, status " + status + " }");
}

MON::SnmpSetCommand byName(const std::string& section, const std::string& name, int index, const std::string& text) {
  MON::SnmpSetCommand c;
  MON::IniName& id = c.get_id().select_name();
  id.set_section(section);
  id.set_name(name);
  id.set_index(index);
  c.set_value(text);
  return c;
}

class StatusTree : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.ok());
    oldMask = ::umask(022);
    fs::create_directory(host("/var"));  // as on the board
  }
  void TearDown() override {
    holder.reset();
    ::umask(oldMask);
    traces.monitoring_internal = false;
  }

  void start() { holder.reset(new MonitoringDataHolder); }
  std::string host(const std::string& fixed) const { return sysroot::path(fixed); }
  std::string read(const std::string& underRoot) const {
    std::ifstream in(host(kRoot + underRoot), std::ios::binary);
    if (!in) return "(none)";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool exists(const std::string& underRoot) const {
    struct stat st;
    return ::lstat(host(kRoot + underRoot).c_str(), &st) == 0;
  }
  void put(const std::string& fixed, const std::string& text = "") const {
    fs::create_directories(fs::path(host(fixed)).parent_path());
    std::ofstream(host(fixed)) << text;
  }
  // Every entry under dir, sorted: "name/ 755" for a directory, "name ->
  // target" for a link (the test root shown as $ROOT), "name = content"
  // (line ends as \n) for a file; the board's own address shown as OWN.
  std::string listing(const std::string& fixedDir = kRoot) const {
    std::vector<std::string> lines;
    const fs::path top(host(fixedDir));
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(top, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      const std::string name = it->path().lexically_relative(top).string();
      if (it->is_symlink()) {
        std::string target = fs::read_symlink(it->path()).string();
        if (target.compare(0, root.dir().size(), sysroot::root()) == 0) target = "$ROOT" + target.substr(sysroot::root().size());
        lines.push_back(name + " -> " + target);
      } else if (it->is_directory()) {
        struct stat st;
        ::stat(it->path().c_str(), &st);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%o", st.st_mode & 07777);
        lines.push_back(name + "/ " + mode);
      } else {
        std::ifstream in(it->path(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        std::string text;
        for (char c : s.str()) text += c == '\n' ? std::string("\\n") : std::string(1, c);
        lines.push_back(name + " = " + text);
      }
    }
    if (holder)
      for (std::string& l : lines)
        for (std::size_t at; (at = l.find(own())) != std::string::npos;) l.replace(at, own().size(), "OWN");
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
  }
  std::string own() const { return addr2str(holder->own_address()); }

  TempRoot root;
  mode_t oldMask = 022;
  testkit::StreamCapture log{std::clog};
  std::unique_ptr<MonitoringDataHolder> holder;
};

TEST_F(StatusTree, AnEarlierRunsTreeIsClearedAtStartAndAtExitWithoutFollowingLinks) {
  put(kRoot + "dip", "7");
  put(kRoot + "term_cnts/router", "12");
  put(kRoot + "controller/10.1.1.1/status", "1");
  put(kRoot + "sys/0/location", "old");
  put("/var/elsewhere/keep", "mine");
  fs::create_directory_symlink(host("/var/elsewhere"), host(kRoot + "controller/self"));
  fs::create_directory_symlink(host("/var/elsewhere"), host(kRoot + "escape"));
  // Framer status files found at start give framers 1 and 3.
  put("/proc/driver/hdlc/peb22554/0");
  put("/proc/driver/hdlc/peb22554/2");

  start();
  EXPECT_EQ(listing(), "term_cnts/ 755\n");
  EXPECT_EQ(listing("/var/"), "elsewhere/ 755\nelsewhere/keep = mine\nmonitoring/ 755\nmonitoring/term_cnts/ 755\n");
  ASSERT_EQ(holder->framers().size(), 2u);
  EXPECT_EQ(holder->framers()[0].number(), 1);
  EXPECT_EQ(holder->framers()[0].path(), "/proc/driver/hdlc/peb22554/0");
  EXPECT_EQ(holder->framers()[1].number(), 3);
  EXPECT_EQ(holder->framers()[1].path(), "/proc/driver/hdlc/peb22554/2");

  holder->setDipValue(3);
  holder->setSnmpCommands(value<MON::SnmpSetCommands>(
      "{ commands { { uniq 1, id name : { section \"sys\", name \"contact\", index 2 }, value \"x\" } } }"));
  holder.reset();
  EXPECT_EQ(listing(), "");
  EXPECT_EQ(read("../elsewhere/keep"), "mine");
  EXPECT_EQ(log.str(), "");
}

TEST_F(StatusTree, TheBoardsOwnValuesWriteTheirFileOnlyWhenTheyChange) {
  start();
  EXPECT_FALSE(holder->setDipValue(-1));
  EXPECT_TRUE(holder->setDipValue(5));
  EXPECT_EQ(read("dip"), "5");
  fs::remove(host(kRoot + "dip"));
  EXPECT_FALSE(holder->setDipValue(5));
  EXPECT_FALSE(exists("dip"));

  EXPECT_FALSE(holder->setPowerStatus(LGCP::POWERStatus::unknown));
  EXPECT_FALSE(exists("powerstatus"));
  EXPECT_TRUE(holder->setPowerStatus(LGCP::POWERStatus::both));
  EXPECT_EQ(read("powerstatus"), "3");
  LGCP::POWERStatus odd;
  odd.setValue(7);
  EXPECT_TRUE(holder->setPowerStatus(odd));
  EXPECT_EQ(read("powerstatus"), "0");
  EXPECT_EQ(holder->power_status(), 7);

  EXPECT_FALSE(holder->setConfigVersion(0xFFFFFFFFu, ~0ull));
  EXPECT_FALSE(exists("config_version"));
  EXPECT_TRUE(holder->setConfigVersion(0x1A, 0x4D2));
  EXPECT_EQ(read("config_version"), "0000001a-00000000000004d2");
  EXPECT_TRUE(holder->setConfigVersion(0x1A, 0));
  EXPECT_TRUE(holder->setConfigVersion(0, 0));
  EXPECT_EQ(read("config_version"), "00000000-0000000000000000");
  EXPECT_TRUE(holder->setConfigVersion(0xDEADBEEF, 0x0123456789ABCDEFull));
  EXPECT_EQ(read("config_version"), "deadbeef-0123456789abcdef");

  // Texts are held for SNMP only, compared over every byte.
  EXPECT_TRUE(holder->setBuildVersion("1.2\n"));
  EXPECT_FALSE(holder->setBuildVersion("1.2\n"));
  EXPECT_TRUE(holder->setBuildVersion("1.2"));
  EXPECT_TRUE(holder->setTemperature(std::string("4\0002", 3)));
  EXPECT_TRUE(holder->setTemperature("4"));
  EXPECT_EQ(listing(), "config_version = deadbeef-0123456789abcdef\npowerstatus = 0\nterm_cnts/ 755\n");
}

TEST_F(StatusTree, BoardsAndPhonesMergeByPositionAndIdOnceTheirFileIsWritten) {
  start();
  holder->setDisplayStatus(display("board : boardStatus : { position 3, version '31'H, status waitBoard, type isdn }"));
  holder->setDisplayStatus(display("board : boardStatus : { position 5, version ''H, status none, type e0 }"));
  holder->setDisplayStatus(display("board : boardStatus : { position 3, version '322E3462'H, status ready, type fxs }"));
  holder->setDisplayStatus(display("board : boardStatus : { position -3, version '78'H, status ready, type ffe }"));
  holder->setDisplayStatus(display("board : boardChannelStatus : { position 9, channel 1, status { callerID '31'H, calledID '32'H } }"));
  ASSERT_EQ(holder->boards().size(), 3u);
  EXPECT_EQ(holder->boards()[0].asValueNotation(),
            value<LGCP::BoardStatusParams>("{ position 3, version '322E3462'H, status ready, type fxs }").asValueNotation());
  EXPECT_EQ(holder->boards()[1].get_position().getValue(), 5);
  EXPECT_EQ(read("board3"), "3\n2.4b\n2\n");
  EXPECT_EQ(read("board-3"), "3\nx\n3\n");
  EXPECT_FALSE(exists("board9"));

  const char* phone =
      "emPhone : phoneStatus : { id 0, panelSV '50'H, ctrlSV '43'H, fpgaSV '46'H, status ready, "
      "powerStatus main, mode sleep, hookStatus connected, baseStatus disconnected }";
  holder->setDisplayStatus(display(phone));
  holder->setDisplayStatus(display(
      "emPhone : phoneStatus : { id 4, panelSV ''H, ctrlSV ''H, fpgaSV ''H, status none, "
      "powerStatus unknown, mode unknown, hookStatus unknown, baseStatus unknown }"));
  holder->setDisplayStatus(display(std::string(phone).replace(std::string(phone).find("sleep"), 5, "active")));
  holder->setDisplayStatus(display("emPhone : phoneChannelStatus : { phoneId 6, channel 1 }"));
  ASSERT_EQ(holder->phones().size(), 2u);
  EXPECT_EQ(holder->phones()[0].get_mode().getValue(), LGCP::EmPhoneMode::active);
  EXPECT_EQ(read("emphone0"), "P\nC\nF\n2\n2\n1\n1\n2\n");
  EXPECT_FALSE(exists("emphone6"));

  // With the root gone nothing can be written: the record is not held.
  fs::remove_all(host(kRoot));
  holder->setDisplayStatus(display("board : boardStatus : { position 7, version '31'H, status ready, type fxs }"));
  holder->setDisplayStatus(display(std::string(phone).replace(std::string(phone).find("id 0"), 4, "id 8")));
  EXPECT_EQ(holder->boards().size(), 3u);
  EXPECT_EQ(holder->phones().size(), 2u);
  EXPECT_EQ(log.str(),
            "FAIL create temporary file </var/monitoring/board7> with code=2\n"
            "FAIL create temporary file </var/monitoring/emphone8> with code=2\n");
}

TEST_F(StatusTree, TermCountersGoToTheirOwnersFileAndMergeByOwnerAndId) {
  start();
  holder->setDisplayStatus(display("termCounter : { owner router, cnt 5 }"));
  holder->setDisplayStatus(display("termCounter : { owner router, cnt -6 }"));
  holder->setDisplayStatus(display("termCounter : { owner server, cnt 1 }"));
  holder->setDisplayStatus(display("termCounter : { owner extBoard, ownerId 2, cnt 1 }"));
  holder->setDisplayStatus(display("termCounter : { owner extBoard, ownerId 7, cnt 9 }"));
  holder->setDisplayStatus(display("termCounter : { owner extBoard, ownerId 2, cnt 4 }"));
  holder->setDisplayStatus(display("termCounter : { owner none, cnt 3 }"));
  EXPECT_EQ(listing(),
            "term_cnts/ 755\nterm_cnts/board2 = 4\nterm_cnts/board7 = 9\nterm_cnts/router = -6\nterm_cnts/server = 1\n");
  std::string held;
  for (const auto& c : holder->term_counters()) held += c.asValueNotation() + ";";
  EXPECT_EQ(held, value<LGCP::TermCounter>("{ owner router, cnt -6 }").asValueNotation() + ";" +
                      value<LGCP::TermCounter>("{ owner server, cnt 1 }").asValueNotation() + ";" +
                      value<LGCP::TermCounter>("{ owner extBoard, ownerId 2, cnt 4 }").asValueNotation() + ";" +
                      value<LGCP::TermCounter>("{ owner extBoard, ownerId 7, cnt 9 }").asValueNotation() + ";" +
                      value<LGCP::TermCounter>("{ owner none, cnt 3 }").asValueNotation() + ";");
  // An extBoard counter without an id writes nothing.
  holder->setDisplayStatus(display("termCounter : { owner extBoard, cnt 8 }"));
  EXPECT_EQ(read("term_cnts/board"), "(none)");
}

TEST_F(StatusTree, ControllerStatusesGetADirectoryEachAndTheOwnOneALink) {
  start();
  EXPECT_TRUE(holder->setControllerStatus(controller(own(), "ok")));
  EXPECT_EQ(read("controller/" + own() + "/status"), "1");
  EXPECT_EQ(fs::read_symlink(host(kRoot + "controller/self")).string(), host(kRoot + "controller/" + own()));
  fs::remove(host(kRoot + "controller/" + own() + "/status"));
  EXPECT_FALSE(holder->setControllerStatus(controller(own(), "ok")));
  EXPECT_FALSE(exists("controller/" + own() + "/status"));
  EXPECT_EQ(holder->own_controller_status(), HSP::ControllerStatus::ok);

  // Another controller: its files and the list change, the own status not.
  EXPECT_FALSE(holder->setControllerStatus(controller("192.0.2.77", "standby")));
  EXPECT_FALSE(holder->setControllerStatus(controller("192.0.2.77", "notrun")));
  EXPECT_EQ(read("controller/192.0.2.77/status"), "5");
  EXPECT_EQ(holder->controllers().size(), 2u);
  EXPECT_EQ(holder->own_controller_status(), HSP::ControllerStatus::ok);
  // A host text that is no address lands under 0.0.0.0, never elsewhere.
  holder->setControllerStatus(controller("../../x", "active"));
  EXPECT_EQ(read("controller/0.0.0.0/status"), "2");

  traces.monitoring_internal = true;
  EXPECT_TRUE(holder->setControllerStatus(controller(own(), "active")));
  EXPECT_EQ(log.str(), "New controller " + own() + " status - active\n");
}

// The controller's own word on this board is kept apart from the watch's
// verdicts, and forgotten with the controller.
TEST_F(StatusTree, WhatTheControllerReportedIsKeptApartFromTheWatchAndResetWhenItGoes) {
  start();
  EXPECT_EQ(holder->reported_controller_status(), HSP::ControllerStatus::unknown);
  holder->setControllerStatus(controller(own(), "notrun"));  // the watch, no controller yet
  EXPECT_EQ(holder->reported_controller_status(), HSP::ControllerStatus::unknown);
  holder->setDisplayStatus(display("controller : { host { iaddr \"" + own() + "\", port 0 }, status ok }"));
  EXPECT_EQ(holder->reported_controller_status(), HSP::ControllerStatus::ok);
  EXPECT_EQ(holder->own_controller_status(), HSP::ControllerStatus::ok);
  holder->setDisplayStatus(display("controller : { host { iaddr \"192.0.2.1\", port 0 }, status standby }"));
  EXPECT_EQ(holder->reported_controller_status(), HSP::ControllerStatus::ok);
  holder->setControllerStatus(controller(own(), "notconnection"));
  EXPECT_EQ(holder->reported_controller_status(), HSP::ControllerStatus::ok);
  EXPECT_EQ(holder->own_controller_status(), HSP::ControllerStatus::notconnection);
  holder->ClearControllerFiles();
  EXPECT_EQ(holder->reported_controller_status(), HSP::ControllerStatus::unknown);
  EXPECT_EQ(read("controller/" + own() + "/status"), "4");
}

TEST_F(StatusTree, SnmpSetValuesAreWrittenInsideTheRootAndTraversalNamesAreRefused) {
  start();
  MON::SnmpSetCommands set;
  set.get_commands().push_back(byName("sys", "location", 0, "lab"));
  holder->setSnmpCommands(set);
  EXPECT_EQ(read("sys/0/location"), "lab");
  set.get_commands()[0].set_value("lab 2");
  MON::SnmpSetCommand oid;
  oid.get_id().set_oid("1.3.6.1.2.1.1.6.0");
  oid.set_value("by oid");
  set.get_commands().push_back(oid);
  holder->setSnmpCommands(set);
  EXPECT_EQ(read("sys/0/location"), "lab 2");
  ASSERT_EQ(holder->snmp_commands().get_commands().size(), 2u);
  EXPECT_EQ(holder->snmp_commands().get_commands()[0].get_value().str(), "lab 2");

  const std::pair<std::string, std::string> refused[] = {
      {"../../../../../..", "x"}, {"..", "passwd"}, {".", "here"},     {"", "x"},
      {"sys", "../escape"},       {"sys", ".."},    {"sys", ""},       {"a/b", "c"},
      {"sys", std::string("n\0/x", 4)},           {std::string("s\0", 2), "x"}};
  MON::SnmpSetCommands bad;
  for (const auto& r : refused) bad.get_commands().push_back(byName(r.first, r.second, 1, "owned"));
  holder->setSnmpCommands(bad);
  EXPECT_EQ(listing("/"), "var/ 755\nvar/monitoring/ 755\nvar/monitoring/sys/ 755\nvar/monitoring/sys/0/ 755\n"
                          "var/monitoring/sys/0/location = lab 2\nvar/monitoring/term_cnts/ 755\n");
  // Still stored, so they reach the agents.
  EXPECT_EQ(holder->snmp_commands().get_commands().size(), 2u + std::size(refused));
  EXPECT_EQ(log.str(),
            "FAIL save snmp value <../../../../../../1/x>: section and name must be plain file names\n"
            "FAIL save snmp value <../1/passwd>: section and name must be plain file names\n"
            "FAIL save snmp value <./1/here>: section and name must be plain file names\n"
            "FAIL save snmp value </1/x>: section and name must be plain file names\n"
            "FAIL save snmp value <sys/1/../escape>: section and name must be plain file names\n"
            "FAIL save snmp value <sys/1/..>: section and name must be plain file names\n"
            "FAIL save snmp value <sys/1/>: section and name must be plain file names\n"
            "FAIL save snmp value <a/b/1/c>: section and name must be plain file names\n"
            "FAIL save snmp value <sys/1/n\\x00/x>: section and name must be plain file names\n"
            "FAIL save snmp value <s\\x00/1/x>: section and name must be plain file names\n");
}

TEST_F(StatusTree, LosingTheControllerRemovesEveryBoardEntry) {
  start();
  holder->setDisplayStatus(display("board : boardStatus : { position 3, version '31'H, status ready, type fxs }"));
  holder->setDisplayStatus(display("board : boardStatus : { position 5, version '31'H, status ready, type fxs }"));
  holder->setDisplayStatus(display("termCounter : { owner extBoard, ownerId 3, cnt 1 }"));
  MON::SnmpSetCommands set;
  set.get_commands().push_back(byName("boardcfg", "mode", 0, "x"));
  holder->setSnmpCommands(set);
  holder->setDipValue(1);
  traces.monitoring_internal = true;
  holder->ClearControllerFiles();
  EXPECT_EQ(listing(), "dip = 1\nterm_cnts/ 755\nterm_cnts/board3 = 1\n");
  EXPECT_TRUE(holder->boards().empty());
  std::string lines = log.str();
  EXPECT_NE(lines.find("remove monitoring info: board3\n"), std::string::npos);
  EXPECT_NE(lines.find("remove monitoring info: boardcfg\n"), std::string::npos);
  // Without a root nothing is removed and the records stay.
  holder->setDisplayStatus(display("board : boardStatus : { position 1, version '31'H, status ready, type fxs }"));
  fs::remove_all(host(kRoot));
  holder->ClearControllerFiles();
  EXPECT_EQ(holder->boards().size(), 1u);
}

TEST_F(StatusTree, AMissingRootIsLoggedAndWritingGoesOn) {
  start();
  fs::remove_all(host(kRoot));
  EXPECT_TRUE(holder->setDipValue(2));
  MON::SnmpSetCommands set;
  set.get_commands().push_back(byName("sys", "name", 0, "x"));
  holder->setSnmpCommands(set);
  holder->setControllerStatus(controller("192.0.2.1", "ok"));
  EXPECT_EQ(log.str(),
            "FAIL create temporary file </var/monitoring/dip> with code=2\n"
            "FAIL create monitoring catalog </var/monitoring/sys> with code=2\n"
            "FAIL create monitoring catalog </var/monitoring/sys/0> with code=2\n"
            "FAIL create temporary file </var/monitoring/sys/0/name> with code=2\n"
            "FAIL create monitoring catalog </var/monitoring/controller/> with code=2\n"
            "FAIL create temporary file </var/monitoring/controller/192.0.2.1/status> with code=2\n");
  EXPECT_EQ(holder->dip_value(), 2);
}

TEST_F(StatusTree, TrapReceiversAreReplacedWhole) {
  start();
  holder->setDisplayStatus(display("snmpTrapReceivers : { \"10.0.0.1\", \"10.0.0.2:162\" }"));
  traces.monitoring_internal = true;
  holder->setDisplayStatus(display("snmpTrapReceivers : { \"10.0.0.3\" }"));
  EXPECT_EQ(holder->trap_receivers(), std::list<std::string>{"10.0.0.3"});
  EXPECT_EQ(log.str().rfind("Trap receivers:", 0), 0u);
  EXPECT_EQ(listing(), "term_cnts/ 755\n");
}

// The whole tree after a scripted run, against the texts it must hold.
TEST_F(StatusTree, GoldenTreeAfterAScriptedSequence) {
  start();
  holder->setDipValue(5);
  holder->setPowerStatus(LGCP::POWERStatus::main);
  holder->setConfigVersion(0x1F, 0xFF);
  holder->setTemperature("42");
  holder->setDisplayStatus(display("board : boardStatus : { position 2, version '322E3462'H, status ready, type fxs }"));
  holder->setDisplayStatus(display(
      "emPhone : phoneStatus : { id 1, panelSV '312E30'H, ctrlSV '322E31'H, fpgaSV '33'H, status notConfigured, "
      "powerStatus standby, mode active, hookStatus disconnected, baseStatus connected }"));
  holder->setDisplayStatus(display("termCounter : { owner router, cnt 3 }"));
  holder->setDisplayStatus(display("termCounter : { owner controller, cnt 2 }"));
  holder->setDisplayStatus(display("termCounter : { owner server, cnt 1 }"));
  holder->setDisplayStatus(display("termCounter : { owner extBoard, ownerId 12, cnt 4 }"));
  holder->setDisplayStatus(display("controller : { host { iaddr \"" + own() + "\", port 0 }, status ok }"));
  holder->setDisplayStatus(display("controller : { host { iaddr \"192.0.2.8\", port 0 }, status standby }"));
  holder->setDisplayStatus(display(
      "snmp-set : { commands { { uniq 1, id name : { section \"sys\", name \"location\", index 0 }, value \"lab\" },"
      " { uniq 2, id name : { section \"ifAlias\", name \"text\", index 3 }, value \"uplink\n\" } } }"));
  holder->setDisplayStatus(display("framer : { e1 1, info line : TRUE }"));
  holder->setDipValue(6);

  EXPECT_EQ(listing(),
            "board2 = 3\\n2.4b\\n2\\n\n"
            "config_version = 0000001f-00000000000000ff\n"
            "controller/ 755\n"
            "controller/192.0.2.8/ 755\n"
            "controller/192.0.2.8/status = 3\n"
            "controller/OWN/ 755\n"
            "controller/OWN/status = 1\n"
            "controller/self -> $ROOT/var/monitoring/controller/OWN\n"
            "dip = 6\n"
            "emphone1 = 1.0\\n2.1\\n3\\n1\\n1\\n1\\n2\\n1\\n\n"
            "ifAlias/ 755\n"
            "ifAlias/3/ 755\n"
            "ifAlias/3/text = uplink\\n\n"
            "powerstatus = 2\n"
            "sys/ 755\n"
            "sys/0/ 755\n"
            "sys/0/location = lab\n"
            "term_cnts/ 755\n"
            "term_cnts/board12 = 4\n"
            "term_cnts/controller = 2\n"
            "term_cnts/router = 3\n"
            "term_cnts/server = 1\n");
  EXPECT_EQ(log.str(), "");
}

// In a namespace of the test's own: the own address is the first private
// one, and every interface index the kernel knows is watched.
TEST(MonitoringDataHolder, FindsTheOwnPrivateAddressAndTheInterfacesAtStart) {
  if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root; not tested here";
  TempRoot root;
  ASSERT_TRUE(root.ok());
  fs::create_directory(root.path("/var"));
  const std::string batch =
      "link set lo up\n"
      "link add kv0 type veth peer name kv1\n"
      "addr add 192.0.2.10/24 dev kv1\n"
      "addr add 10.77.0.1/24 dev kv0\n"
      "link set kv0 up\nlink set kv1 up\n";
  std::string skip;
  const std::string out = testkit::inFreshNamespaces(
      batch,
      [] {
        MonitoringDataHolder h;
        std::ostringstream s;
        s << addr2str(h.own_address()) << " port " << h.own_address().port();
        for (const NetIfDataHolder& n : h.net_ifs())
          s << " " << n.name() << (static_cast<unsigned>(n.index()) == ::if_nametoindex(n.name().c_str()) ? "" : "?");
        return s.str();
      },
      skip);
  if (!skip.empty()) GTEST_SKIP() << skip;
  // The pair's order follows the kernel's indexes.
  EXPECT_TRUE(out == "10.77.0.1 port 0 lo kv1 kv0" || out == "10.77.0.1 port 0 lo kv0 kv1") << out;
}

}  // namespace
