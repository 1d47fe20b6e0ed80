// The monitoring data holder and the status tree it writes, in a root of
// the test's own.
#include "monitoring/monitoring_data_holder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "runtime/fd.h"
#include "runtime/traces.h"
#include "tests/net_namespace.h"
#include "tests/stream_capture.h"
#include "tests/temp_root.h"

namespace fs = std::filesystem;

namespace {

const std::string kRoot = sysroot::monitoring_dir;
const std::string kVar = fs::path(kRoot).parent_path().parent_path().string();  // the tree's parent
const std::string kFramers = sysroot::framer_dir;

LGCP::DisplayParams display(const std::string& valueNotation) {
  LGCP::DisplayParams v;
  EXPECT_TRUE(v.setFromValueNotation(valueNotation)) << valueNotation;
  return v;
}

LGCP::DisplayParams board(int position, const char* hex, const char* status, const char* type) {
  return display("board : boardStatus : { position " + std::to_string(position) + ", version '" + hex + "'H, status " +
                 status + ", type " + type + " }");
}

LGCP::ControllerInfo controller(const std::string& address, const char* status) {
  return display("controller : { host { iaddr \"" + address + "\", port 0 }, status " + status + " }").get_controller();
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

std::string slurp(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  if (!in) return "(none)";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class StatusTree : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.ok());
    oldMask = ::umask(022);
    fs::create_directory(host(kVar));  // as on the board
  }
  void TearDown() override {
    holder.reset();
    ::umask(oldMask);
    traces.monitoring_internal = false;
  }

  void start() { holder.reset(new MonitoringDataHolder); }
  static std::string host(const std::string& fixed) { return sysroot::path(fixed); }
  static std::string read(const std::string& underRoot) { return slurp(host(kRoot + underRoot)); }
  static void put(const std::string& fixed, const std::string& text = "") {
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
      std::string line = it->path().lexically_relative(top).string();
      if (it->is_symlink()) {
        const std::string target = fs::read_symlink(it->path()).string();
        line += " -> $ROOT" + target.substr(std::min(target.size(), sysroot::root().size()));
      } else if (it->is_directory()) {
        struct stat st;
        ::stat(it->path().c_str(), &st);
        char mode[8];
        std::snprintf(mode, sizeof mode, "/ %o", st.st_mode & 07777);
        line += mode;
      } else {
        line += " = ";
        for (char c : slurp(it->path().string())) line += c == '\n' ? std::string("\\n") : std::string(1, c);
      }
      for (std::size_t at; holder && (at = line.find(own())) != std::string::npos;)
        line.replace(at, own().size(), "OWN");
      lines.push_back(line);
    }
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
  put(kRoot + "term_cnts/router", "12");
  put(kRoot + "controller/10.1.1.1/status", "1");
  put(kRoot + "sys/0/location", "old");
  put(kVar + "/elsewhere/keep", "mine");
  fs::create_directory_symlink(host(kVar + "/elsewhere"), host(kRoot + "controller/self"));
  fs::create_directory_symlink(host(kVar + "/elsewhere"), host(kRoot + "escape"));
  put(kFramers + "0");
  put(kFramers + "2");

  start();
  EXPECT_EQ(listing(kVar + "/"), "elsewhere/ 755\nelsewhere/keep = mine\nmonitoring/ 755\nmonitoring/term_cnts/ 755\n");
  // Framer files found at start, numbered from 1; a missing one leaves a gap.
  std::string framers;
  for (const auto& f : holder->framers()) framers += std::to_string(f.number()) + " " + f.path() + ";";
  EXPECT_EQ(framers, "1 " + kFramers + "0;3 " + kFramers + "2;");

  holder->setDipValue(3);
  MON::SnmpSetCommands set;
  set.get_commands().push_back(byName("sys", "contact", 2, "x"));
  holder->setSnmpCommands(set);
  holder.reset();
  EXPECT_EQ(listing(), "");
  EXPECT_EQ(slurp(host(kVar + "/elsewhere/keep")), "mine");
  EXPECT_EQ(log.str(), "");
}

// A root that is a link is not used: nothing is emptied, made or written
// through it, and one line says so.
TEST_F(StatusTree, ARootThatIsALinkIsRefusedAndNothingBehindItIsTouched) {
  put(kVar + "/elsewhere/keep", "mine");
  put(kVar + "/elsewhere/sys/0/location", "theirs");
  fs::create_directory_symlink(host(kVar + "/elsewhere"), fs::path(host(kRoot)).parent_path());
  start();
  EXPECT_TRUE(holder->tree_refused());
  EXPECT_TRUE(holder->setDipValue(5));  // held all the same, for SNMP
  holder->setDisplayStatus(board(3, "31", "ready", "fxs"));
  holder->setDisplayStatus(display("termCounter : { owner router, cnt 2 }"));
  holder->setDisplayStatus(display("controller : { host { iaddr \"" + own() + "\", port 0 }, status ok }"));
  MON::SnmpSetCommands set;
  set.get_commands().push_back(byName("sys", "location", 0, "lab"));
  holder->setSnmpCommands(set);
  holder->ClearControllerFiles();
  holder.reset();
  EXPECT_EQ(listing(kVar + "/elsewhere/"), "keep = mine\nsys/ 755\nsys/0/ 755\nsys/0/location = theirs\n");
  EXPECT_EQ(log.str(),
            "FAIL monitoring catalog </var/monitoring/> is a symbolic link: status files are not written\n");
}

// Links, hard links and pipes put into the tree while it runs are never
// written through; the clearing at exit removes the links themselves.
TEST_F(StatusTree, LinksPutIntoTheTreeAreNeverWrittenThrough) {
  start();
  put(kVar + "/elsewhere/target", "77");
  put(kVar + "/elsewhere/hard", "88");
  fs::create_directory(host(kVar + "/elsewhere/dir"));
  fs::create_symlink(host(kVar + "/elsewhere/target"), host(kRoot + "dip"));
  fs::create_hard_link(host(kVar + "/elsewhere/hard"), host(kRoot + "powerstatus"));
  ASSERT_EQ(::mkfifo(host(kRoot + "config_version").c_str(), 0644), 0);
  fs::remove(host(kRoot + "term_cnts"));
  fs::create_directory_symlink(host(kVar + "/elsewhere/dir"), host(kRoot + "term_cnts"));
  fs::create_directory_symlink(host(kVar + "/elsewhere/dir"), host(kRoot + "sys"));
  fs::create_directory_symlink(host(kVar + "/elsewhere/dir"), host(kRoot + "controller"));

  EXPECT_TRUE(holder->setDipValue(5));
  EXPECT_TRUE(holder->setPowerStatus(LGCP::POWERStatus::main));
  EXPECT_TRUE(holder->setConfigVersion(1, 2));  // must not block on the pipe
  holder->setDisplayStatus(display("termCounter : { owner router, cnt 2 }"));
  MON::SnmpSetCommands set;
  set.get_commands().push_back(byName("sys", "location", 0, "lab"));
  holder->setSnmpCommands(set);
  holder->setControllerStatus(controller(own(), "ok"));
  EXPECT_EQ(listing(kVar + "/elsewhere/"), "dir/ 755\nhard = 88\ntarget = 77\n");
  const std::string lines = log.str();
  const auto code = [](int error) { return " with code=" + std::to_string(error) + "\n"; };
  for (const std::string& failed :
       {"FAIL create temporary file </var/monitoring/dip>" + code(ELOOP),
        "FAIL create temporary file </var/monitoring/powerstatus>" + code(EPERM),
        "FAIL create temporary file </var/monitoring/config_version>" + code(ENXIO),  // no reader
        "FAIL create temporary file </var/monitoring/term_cnts/router>" + code(ENOTDIR),
        "FAIL create monitoring catalog </var/monitoring/sys>" + code(EEXIST),
        "FAIL create monitoring catalog </var/monitoring/controller/>" + code(EEXIST)})
    EXPECT_NE(lines.find(failed), std::string::npos) << failed << " in\n" << lines;

  holder.reset();
  EXPECT_EQ(listing(), "");
  EXPECT_EQ(listing(kVar + "/elsewhere/"), "dir/ 755\nhard = 88\ntarget = 77\n");
}

// The root is looked up afresh: one removed and made again is written to;
// one swapped for a link is neither written nor emptied through it.
TEST_F(StatusTree, ARootMadeAgainIsWrittenToAndOneSwappedForALinkIsNot) {
  start();
  fs::remove_all(host(kRoot));
  fs::create_directory(host(kRoot));
  EXPECT_TRUE(holder->setDipValue(4));
  EXPECT_EQ(read("dip"), "4");

  put(kVar + "/elsewhere/keep", "mine");
  fs::remove_all(host(kRoot));
  fs::create_directory_symlink(host(kVar + "/elsewhere"), fs::path(host(kRoot)).parent_path());
  EXPECT_TRUE(holder->setDipValue(5));
  holder.reset();
  EXPECT_EQ(listing(kVar + "/elsewhere/"), "keep = mine\n");
  EXPECT_EQ(log.str(), "FAIL create temporary file </var/monitoring/dip> with code=" + std::to_string(ENOTDIR) + "\n");
}

TEST_F(StatusTree, TheBoardsOwnValuesWriteTheirFileOnlyWhenTheyChange) {
  start();
  // The initial values count as held: DIP -1, all ones, unknown power.
  EXPECT_FALSE(holder->setDipValue(-1));
  EXPECT_FALSE(holder->setConfigVersion(0xFFFFFFFFu, ~0ull));
  EXPECT_FALSE(holder->setPowerStatus(LGCP::POWERStatus::unknown));
  EXPECT_EQ(listing(), "term_cnts/ 755\n");
  EXPECT_TRUE(holder->setDipValue(5));
  fs::remove(host(kRoot + "dip"));
  EXPECT_FALSE(holder->setDipValue(5));
  LGCP::POWERStatus odd;
  odd.setValue(7);
  EXPECT_TRUE(holder->setPowerStatus(odd));
  EXPECT_TRUE(holder->setConfigVersion(0x1A, 0x4D2));
  EXPECT_TRUE(holder->setConfigVersion(0x1A, 0));  // the stamp alone
  EXPECT_TRUE(holder->setConfigVersion(0xDEADBEEF, 0x0123456789ABCDEFull));
  // Texts are held for SNMP only, compared over every byte.
  EXPECT_TRUE(holder->setBuildVersion("1.2\n"));
  EXPECT_FALSE(holder->setBuildVersion("1.2\n"));
  EXPECT_TRUE(holder->setTemperature(std::string("4\0002", 3)));
  EXPECT_TRUE(holder->setTemperature("4"));
  EXPECT_EQ(listing(), "config_version = deadbeef-0123456789abcdef\npowerstatus = 0\nterm_cnts/ 755\n");
}

TEST_F(StatusTree, BoardsAndPhonesMergeByPositionAndIdOnceTheirFileIsWritten) {
  start();
  holder->setDisplayStatus(board(3, "31", "waitBoard", "isdn"));
  holder->setDisplayStatus(board(5, "", "none", "e0"));
  holder->setDisplayStatus(board(3, "322E3462", "ready", "fxs"));
  holder->setDisplayStatus(board(-3, "78", "ready", "ffe"));
  holder->setDisplayStatus(
      display("board : boardChannelStatus : { position 9, channel 1, status { callerID '31'H, calledID '32'H } }"));
  ASSERT_EQ(holder->boards().size(), 3u);
  EXPECT_EQ(
      holder->boards()[0].asValueNotation(),
      board(3, "322E3462", "ready", "fxs").get_board().asValueNotation().substr(std::string("boardStatus : ").size()));
  EXPECT_EQ(read("board3"), "3\n2.4b\n2\n");
  EXPECT_EQ(read("board-3"), "3\nx\n3\n");
  EXPECT_EQ(read("board9"), "(none)");

  std::string phone =
      "emPhone : phoneStatus : { id 0, panelSV '50'H, ctrlSV '43'H, fpgaSV '46'H, status ready, "
      "powerStatus main, mode sleep, hookStatus connected, baseStatus disconnected }";
  holder->setDisplayStatus(display(phone));
  holder->setDisplayStatus(display(std::string(phone).replace(phone.find("id 0"), 4, "id 4")));
  holder->setDisplayStatus(display(phone.replace(phone.find("sleep"), 5, "active")));
  holder->setDisplayStatus(display("emPhone : phoneChannelStatus : { phoneId 6, channel 1 }"));
  ASSERT_EQ(holder->phones().size(), 2u);
  EXPECT_EQ(holder->phones()[0].get_mode().getValue(), LGCP::EmPhoneMode::active);
  EXPECT_EQ(read("emphone0"), "P\nC\nF\n2\n2\n1\n1\n2\n");

  // With the root gone nothing can be written: the record is not held.
  fs::remove_all(host(kRoot));
  holder->setDisplayStatus(board(7, "31", "ready", "fxs"));
  holder->setDisplayStatus(display(phone.replace(phone.find("id 0"), 4, "id 8")));
  EXPECT_EQ(holder->boards().size(), 3u);
  EXPECT_EQ(holder->phones().size(), 2u);
  EXPECT_EQ(log.str(),
            "FAIL create temporary file </var/monitoring/board7> with code=2\n"
            "FAIL create temporary file </var/monitoring/emphone8> with code=2\n");
}

TEST_F(StatusTree, TermCountersMergeByOwnerAndId) {
  start();
  // Only a board's id tells its counter apart: any other owner keeps one
  // counter, whatever ids its records carry, and the latest count wins.
  for (const char* c : {"owner router, cnt 5", "owner router, cnt -6", "owner extBoard, ownerId 2, cnt 1",
                        "owner extBoard, ownerId 7, cnt 9", "owner extBoard, ownerId 2, cnt 4", "owner none, cnt 3",
                        "owner extBoard, cnt 8", "owner router, ownerId 5, cnt 8", "owner router, cnt 4",
                        "owner server, ownerId 5, cnt 1", "owner server, cnt 2", "owner server, ownerId 6, cnt 7",
                        "owner none, ownerId 1, cnt 6"})
    holder->setDisplayStatus(display(std::string("termCounter : { ") + c + " }"));
  std::string held;
  for (const auto& c : holder->term_counters())
    held += std::to_string(c.get_owner().getValue()) + "/" + std::to_string(c.get_cnt().getValue()) + " ";
  EXPECT_EQ(held, "1/4 4/4 4/9 0/6 4/8 3/7 ");
  EXPECT_EQ(listing(),
            "term_cnts/ 755\nterm_cnts/board2 = 4\nterm_cnts/board7 = 9\nterm_cnts/router = 4\n"
            "term_cnts/server = 7\n");
}

// A counter held without an owner id is no wildcard: the boards' counters
// that follow keep rows of their own, and a later one without an id updates
// only that first one.
TEST_F(StatusTree, ACounterWithoutAnIdNeverSwallowsTheBoardsCounters) {
  start();
  for (const char* c : {"owner extBoard, cnt 4", "owner extBoard, ownerId 12, cnt 9",
                        "owner extBoard, ownerId 13, cnt 2", "owner extBoard, cnt 5",
                        "owner extBoard, ownerId 12, cnt 10"})
    holder->setDisplayStatus(display(std::string("termCounter : { ") + c + " }"));
  std::string held;
  for (const auto& c : holder->term_counters())
    held += (c.hasOptionalField(LGCP::TermCounter::o_ownerId) ? std::to_string(c.get_ownerId().getValue()) : "-") +
            "=" + std::to_string(c.get_cnt().getValue()) + " ";
  EXPECT_EQ(held, "-=5 12=10 13=2 ");
  EXPECT_EQ(listing(), "term_cnts/ 755\nterm_cnts/board12 = 10\nterm_cnts/board13 = 2\n");
}

TEST_F(StatusTree, ControllerStatusesGetADirectoryEachAndTheOwnOneALink) {
  start();
  EXPECT_TRUE(holder->setControllerStatus(controller(own(), "ok")));
  EXPECT_EQ(fs::read_symlink(host(kRoot + "controller/self")).string(), host(kRoot + "controller/" + own()));
  fs::remove(host(kRoot + "controller/" + own() + "/status"));
  EXPECT_FALSE(holder->setControllerStatus(controller(own(), "ok")));
  // Another controller: its files and the list change, the own status not.
  EXPECT_FALSE(holder->setControllerStatus(controller("192.0.2.77", "standby")));
  EXPECT_FALSE(holder->setControllerStatus(controller("192.0.2.77", "notrun")));
  EXPECT_EQ(holder->controllers().size(), 2u);
  EXPECT_EQ(holder->own_controller_status(), HSP::ControllerStatus::ok);
  // A host text that is no address lands under 0.0.0.0, never elsewhere.
  holder->setControllerStatus(controller("../../x", "active"));
  EXPECT_EQ(listing(),
            "controller/ 755\ncontroller/0.0.0.0/ 755\ncontroller/0.0.0.0/status = 2\ncontroller/192.0.2.77/ 755\n"
            "controller/192.0.2.77/status = 5\ncontroller/OWN/ 755\n"
            "controller/self -> $ROOT/var/monitoring/controller/OWN\nterm_cnts/ 755\n");
  traces.monitoring_internal = true;
  EXPECT_TRUE(holder->setControllerStatus(controller(own(), "active")));
  EXPECT_EQ(log.str(), "New controller " + own() + " status - active\n");
}

// The controller's own word on this board is kept apart from the watch's
// verdicts, and forgotten with the controller.
TEST_F(StatusTree, WhatTheControllerReportedIsKeptApartFromTheWatchAndResetWhenItGoes) {
  start();
  holder->setControllerStatus(controller(own(), "notrun"));  // the watch, no controller yet
  EXPECT_EQ(holder->reported_controller_status(), HSP::ControllerStatus::unknown);
  holder->setDisplayStatus(display("controller : { host { iaddr \"" + own() + "\", port 0 }, status ok }"));
  holder->setDisplayStatus(display("controller : { host { iaddr \"192.0.2.1\", port 0 }, status standby }"));
  EXPECT_EQ(holder->own_controller_status(), HSP::ControllerStatus::ok);
  holder->setControllerStatus(controller(own(), "notconnection"));
  EXPECT_EQ(holder->reported_controller_status(), HSP::ControllerStatus::ok);
  EXPECT_EQ(holder->own_controller_status(), HSP::ControllerStatus::notconnection);
  holder->ClearControllerFiles();
  EXPECT_EQ(holder->reported_controller_status(), HSP::ControllerStatus::unknown);
}

TEST_F(StatusTree, SnmpSetValuesAreWrittenInsideTheRootAndTraversalNamesAreRefused) {
  start();
  MON::SnmpSetCommands set;
  set.get_commands().push_back(byName("sys", "location", 0, "lab"));
  holder->setSnmpCommands(set);
  set.get_commands()[0].set_value("lab 2");
  MON::SnmpSetCommand& oid = set.get_commands().push_back();
  oid.get_id().set_oid("1.3.6.1.2.1.1.6.0");
  oid.set_value("by oid");
  holder->setSnmpCommands(set);
  ASSERT_EQ(holder->snmp_commands().get_commands().size(), 2u);
  EXPECT_EQ(holder->snmp_commands().get_commands()[0].get_value().str(), "lab 2");

  const std::pair<std::string, std::string> refused[] = {{"../../../../../..", "x"},
                                                         {"..", "passwd"},
                                                         {".", "here"},
                                                         {"", "x"},
                                                         {"sys", "../escape"},
                                                         {"sys", ".."},
                                                         {"sys", ""},
                                                         {"a/b", "c"},
                                                         {"sys", std::string("n\0/x", 4)}};
  MON::SnmpSetCommands bad;
  for (const auto& r : refused) bad.get_commands().push_back(byName(r.first, r.second, 1, "owned"));
  holder->setSnmpCommands(bad);
  EXPECT_EQ(listing("/"),
            "var/ 755\nvar/monitoring/ 755\nvar/monitoring/sys/ 755\nvar/monitoring/sys/0/ 755\n"
            "var/monitoring/sys/0/location = lab 2\nvar/monitoring/term_cnts/ 755\n");
  // Still stored, so they reach the agents; one line each, made printable.
  EXPECT_EQ(holder->snmp_commands().get_commands().size(), 2u + std::size(refused));
  const std::string lines = log.str();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), static_cast<long>(std::size(refused)));
  EXPECT_EQ(lines.rfind("FAIL save snmp value <../../../../../../1/x>: section and name must be plain file names\n"),
            0u);
  EXPECT_NE(lines.find("FAIL save snmp value <sys/1/n\\x00/x>:"), std::string::npos);
}

TEST_F(StatusTree, LosingTheControllerRemovesEveryBoardEntry) {
  start();
  holder->setDisplayStatus(board(3, "31", "ready", "fxs"));
  holder->setDisplayStatus(board(5, "31", "ready", "fxs"));
  holder->setDisplayStatus(display("termCounter : { owner extBoard, ownerId 3, cnt 1 }"));
  MON::SnmpSetCommands set;
  set.get_commands().push_back(byName("boardcfg", "mode", 0, "x"));
  holder->setSnmpCommands(set);
  traces.monitoring_internal = true;
  holder->ClearControllerFiles();
  EXPECT_EQ(listing(), "term_cnts/ 755\nterm_cnts/board3 = 1\n");
  EXPECT_TRUE(holder->boards().empty());
  EXPECT_NE(log.str().find("remove monitoring info: boardcfg\n"), std::string::npos);
  // Without a root nothing is removed and the records stay.
  holder->setDisplayStatus(board(1, "31", "ready", "fxs"));
  fs::remove_all(host(kRoot));
  holder->ClearControllerFiles();
  EXPECT_EQ(holder->boards().size(), 1u);
}

// The whole tree after a scripted run, against the texts it must hold.
TEST_F(StatusTree, GoldenTreeAfterAScriptedSequence) {
  start();
  holder->setDipValue(5);
  holder->setPowerStatus(LGCP::POWERStatus::main);
  holder->setConfigVersion(0x1F, 0xFF);
  holder->setTemperature("42");
  holder->setDisplayStatus(board(2, "322E3462", "ready", "fxs"));
  holder->setDisplayStatus(display(
      "emPhone : phoneStatus : { id 1, panelSV '312E30'H, ctrlSV '322E31'H, fpgaSV '33'H, status notConfigured, "
      "powerStatus standby, mode active, hookStatus disconnected, baseStatus connected }"));
  for (const char* c :
       {"owner router, cnt 3", "owner controller, cnt 2", "owner server, cnt 1", "owner extBoard, ownerId 12, cnt 4"})
    holder->setDisplayStatus(display(std::string("termCounter : { ") + c + " }"));
  holder->setDisplayStatus(display("controller : { host { iaddr \"" + own() + "\", port 0 }, status ok }"));
  holder->setDisplayStatus(display("controller : { host { iaddr \"192.0.2.8\", port 0 }, status standby }"));
  holder->setDisplayStatus(display(
      "snmp-set : { commands { { uniq 1, id name : { section \"sys\", name \"location\", index 0 }, value \"lab\" },"
      " { uniq 2, id name : { section \"ifAlias\", name \"text\", index 3 }, value \"uplink\n\" } } }"));
  holder->setDisplayStatus(display("framer : { e1 1, info line : TRUE }"));
  holder->setDisplayStatus(display("snmpTrapReceivers : { \"10.0.0.1\", \"10.0.0.2:162\" }"));
  holder->setDisplayStatus(display("snmpTrapReceivers : { \"10.0.0.3\" }"));
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
  EXPECT_EQ(holder->trap_receivers(), std::list<std::string>{"10.0.0.3"});
  EXPECT_EQ(log.str(), "");
}

// Waits (a bounded while) until the kernel shows the interface's running
// flag as wanted: carrier changes reach the flags asynchronously.
bool waitRunning(const char* name, bool wanted) {
  Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  for (int i = 0; i < 500; ++i) {
    ifreq r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.ifr_name, name, IFNAMSIZ - 1);
    if (::ioctl(sock.get(), SIOCGIFFLAGS, &r) == 0 && ((r.ifr_flags & IFF_RUNNING) != 0) == wanted) return true;
    const timespec pause = {0, 10 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
  return false;
}

// In a namespace of the test's own: the own address is the first private
// one, every interface the kernel knows is watched, and a veth whose peer
// goes down is judged not running two samples later.
TEST(MonitoringDataHolder, InANamespaceFindsTheOwnAddressAndJudgesAVethPair) {
  if (::geteuid() != 0) GTEST_SKIP() << testkit::refused("network namespaces need root; not tested here");
  TempRoot root;
  ASSERT_TRUE(root.ok());
  fs::create_directory(root.path(kVar));
  const std::string batch =
      "link set lo up\nlink add kv0 type veth peer name kv1\n"
      "addr add 192.0.2.10/24 dev kv1\naddr add 10.77.0.1/24 dev kv0\nlink set kv0 up\nlink set kv1 up\n";
  std::string skip;
  const std::string out = testkit::inFreshNamespaces(
      batch,
      [] {
        MonitoringDataHolder h;
        std::ostringstream s;
        s << addr2str(h.own_address()) << ":" << h.own_address().port();
        NetIfDataHolder* kv0 = nullptr;
        for (NetIfDataHolder& n : h.net_ifs()) {
          if (static_cast<unsigned>(n.index()) == ::if_nametoindex(n.name().c_str())) s << " " << n.name();
          if (n.name() == "kv0") kv0 = &n;
        }
        if (!kv0 || !waitRunning("kv0", true)) return s.str() + " no kv0";
        auto sample = [&] {
          const bool changed = kv0->updateNetIf();
          return std::string(changed ? " T" : " F") + std::to_string(kv0->running());
        };
        s << " |" << sample() << sample() << sample();
        if (std::system("ip link set kv1 down") != 0 || !waitRunning("kv0", false)) return s.str() + " no down";
        s << " |" << sample();
        // The packet socket may get descriptor 0 like any other, and it is
        // closed again.
        ::close(0);
        s << sample() << " " << ::fcntl(0, F_GETFD) << " oper " << kv0->oper_status();
        return s.str();
      },
      skip);
  if (!skip.empty()) GTEST_SKIP() << skip;
  // The pair's order follows the kernel's indexes.
  EXPECT_TRUE(out.rfind("10.77.0.1:0 lo kv1 kv0 |", 0) == 0 || out.rfind("10.77.0.1:0 lo kv0 kv1 |", 0) == 0) << out;
  EXPECT_EQ(out.substr(out.find('|')), "| T0 T1 F1 | F1 T0 -1 oper 2");
}

}  // namespace
