// Software T.38 slots of the real daemon with a stand-in of the board's
// T.38 program (tests/slots/t38_standin.cpp) installed under its root: the
// program's argv and standard input as it saw them, its end as the
// controller hears it, and the instances the resource report counts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/sysroot.h"
#include "tests/e2e/lgcp_controller.h"
#include "tests/e2e/process_scan.h"

namespace {

using e2e::cmd;
using e2e::Lines;
using e2e::ok;
using e2e::signal;
using namespace std::chrono_literals;

std::string create(int seq, int slot) {
  return cmd(seq, slot,
             "create : t38soft : { dhost { iaddr \"192.0.2.9\", port 4100 }, shost { iaddr \"0.0.0.0\", port 4200 "
             "}, rx-packet-size 160, rx-threshold 1, tx-threshold 1, args { } }");
}

class T38SoftSlots : public e2e::ControllerTest {
 protected:
  void SetUp() override {
    if (std::getenv("KORVEND_EMULATOR")) GTEST_SKIP() << "qemu-user: an emulated daemon cannot start a target program";
    root.make_parent(sysroot::t38);
    std::filesystem::copy_file(e2e::buildDir() + "/tests/slots/t38-standin", root.path(sysroot::t38));
    std::filesystem::create_directories(records());
  }
  std::string records() const { return root.dir() + "/t38/"; }
  // Channels the board has handed out and not yet taken back.
  std::string channelsInUse() const {
    std::string out;
    std::istringstream lines(board("mcc"));
    for (std::string line; std::getline(lines, line);)
      if (line.find(" free") == std::string::npos) out += line + "\n";
    return out;
  }
  // Nothing the daemon started still runs, and no channel is held.
  bool nothingLeft() const { return e2e::childrenOf(daemon->pid()).empty() && channelsInUse().empty(); }
  void tell(const std::string& name, const std::string& text) const { std::ofstream(records() + name) << text; }
  // A record of the one child the stand-in ran ("" before it exists).
  std::string record(const std::string& suffix) const {
    for (const auto& entry : std::filesystem::directory_iterator(records()))
      if (entry.path().extension() == suffix) return e2e::readFile(entry.path().string());
    return "";
  }
};

TEST_F(T38SoftSlots, TheProgramGetsItsArgumentsAndTheChannelAndItsExitCodeComesBack) {
  tell("exit", "5 3");  // after 5 octets of input, exit 3
  tell("instances", "6");
  start();
  // 30 extra arguments, of which the program gets the first 27.
  std::string args, expected = std::string(sysroot::t38) + "\n--child\n--remote\n192.0.2.9/4100/4200\n";
  for (int i = 0; i < 30; ++i) {
    args += (i ? ", \"-a" : "\"-a") + std::to_string(i) + "\"";
    if (i < 27) expected += "-a" + std::to_string(i) + "\n";
  }
  EXPECT_EQ(c.exchange(cmd(1, 7,
                           "create : t38soft : { dhost { iaddr \"192.0.2.9\", port 4100 }, shost { iaddr "
                           "\"0.0.0.0\", port 4200 }, rx-packet-size 160, rx-threshold 1, tx-threshold 1, "
                           "args { " +
                               args + " } }")),
            (Lines{ok(1, 7), signal(7, "transmitter : active : 1024"), signal(7, "receiver : active : 1024")}));
  ASSERT_TRUE(e2e::waitFor([&] { return !record(".argv").empty(); })) << daemon->err();
  EXPECT_EQ(record(".argv"), expected);
  ASSERT_EQ(e2e::simboardctl(root.dir(), "mcc inject 1024 0A 0B 0C 0D 0E").status, 0);
  EXPECT_EQ(c.next(), signal(7, "abort : 768"));
  EXPECT_EQ(record(".in"), "\x0A\x0B\x0C\x0D\x0E");
  const Lines report = c.exchange("{ seq 2, pdu command : query : NULL }");
  ASSERT_EQ(report.size(), 2u);
  EXPECT_NE(report[1].find("t38-instances 6,"), std::string::npos) << report[1];
  EXPECT_EQ(c.exchange(cmd(3, 7, "destroy : NULL")), Lines{ok(3, 7)});
}

// A controller that drops right after its creates: the programs started
// for them end, however early the stop reaches them, and give their
// channels back.
TEST_F(T38SoftSlots, ControllerResetsRightAfterTwoCreatesLeaveNoProgramAndNoChannel) {
  start();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    c.send(create(1, 1));
    c.send(create(2, 2));
    c.close();
    ASSERT_TRUE(c.connect(port)) << daemon->err();
  }
  EXPECT_TRUE(e2e::waitFor([&] { return nothingLeft(); }, 3s))
      << e2e::childrenOf(daemon->pid()).size() << " programs left\n"
      << channelsInUse();
  EXPECT_NE(e2e::count(daemon->err(), "t38 daemon["), 0u) << "no program was started";
}

// A program that does not end on SIGTERM is killed once the grace period
// is over, with one line in the log, and its channel comes back.
TEST_F(T38SoftSlots, AProgramIgnoringTheStopIsKilledAfterTheGracePeriod) {
  tell("ignore-term", "");
  start();
  ASSERT_EQ(c.exchange(create(1, 7)).front(), ok(1, 7));
  ASSERT_TRUE(e2e::waitFor([&] { return !record(".argv").empty(); })) << daemon->err();
  const std::vector<pid_t> children = e2e::childrenOf(daemon->pid());
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(c.exchange(cmd(2, 7, "destroy : NULL")), Lines{ok(2, 7)});
  // Still there well inside the grace period: SIGTERM did not end it.
  EXPECT_FALSE(e2e::waitFor([&] { return nothingLeft(); }, 500ms));
  EXPECT_TRUE(e2e::waitFor([&] { return nothingLeft(); }, 5s)) << channelsInUse();
  const std::string line =
      "07:t38 soft: t38 daemon[" + std::to_string(children[0]) + "] isn't terminated, killing ...\n";
  EXPECT_EQ(e2e::count(daemon->err(), line), 1u) << daemon->err();
}

}  // namespace
