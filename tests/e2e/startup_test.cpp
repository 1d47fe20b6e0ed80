// The daemon starts, runs its loop and stops: korvend-sim under a fresh root.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/e2e/daemon_harness.h"

namespace {

using namespace std::chrono_literals;
using e2e::Daemon;
using e2e::Root;

std::string startLine(int port) { return "Starting server [T250428-2012], port=" + std::to_string(port) + "\n"; }

TEST(Startup, RunsWithPidFileAndWatchdogThenStopsCleanlyOnSigterm) {
  Root root;
  const int port = e2e::freePort();
  Daemon d(e2e::simBinary(), root.dir(), {"--port", std::to_string(port)}, root.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return d.out() == startLine(port); })) << d.out() << d.err();
  const std::string pidFile = root.path(std::string(sysroot::run_dir) + "server.pid");
  ASSERT_TRUE(e2e::waitFor([&] { return e2e::readFile(pidFile) == std::to_string(d.pid()); }));

  // The watchdog: START once, then PING at most once a second.
  const std::string wd = root.path(sysroot::watchdog);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(e2e::waitFor([&] { return e2e::count(e2e::readFile(wd), "PING") >= 2; }, 10s)) << e2e::readFile(wd);
  const std::string text = e2e::readFile(wd);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  EXPECT_EQ(text.rfind("STARTPINGPING", 0), 0u) << text;
  EXPECT_LE(e2e::count(text, "PING"), static_cast<std::size_t>(seconds.count()) + 2) << text;

  // simboardctl: the board's journal holds the requests of the modelled
  // devices only (the watchdog is a plain file, not one), the matrix's
  // opening first of its requests (factories built before it may have asked
  // their drivers already); unknown requests are refused.
  const e2e::Ran journal = e2e::simboardctl(root.dir(), "journal");
  EXPECT_EQ(journal.status, 0) << journal.out;
  const std::size_t halOpen = journal.out.find(std::string("open ") + sysroot::hal + " rdwr -> 0\n");
  ASSERT_NE(halOpen, std::string::npos) << journal.out;
  EXPECT_EQ(journal.out.find(sysroot::hal), halOpen + 5) << journal.out;
  EXPECT_EQ(journal.out.find(sysroot::watchdog), std::string::npos) << journal.out;
  EXPECT_NE(e2e::simboardctl(root.dir(), "help").out.find("journal [clear]"), std::string::npos);
  const e2e::Ran refused = e2e::simboardctl(root.dir(), "frobnicate");
  EXPECT_EQ(refused.status, 1) << refused.out;
  EXPECT_NE(refused.out.find("unknown command 'frobnicate'"), std::string::npos) << refused.out;

  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
  EXPECT_FALSE(e2e::exists(pidFile));
  EXPECT_EQ(e2e::simboardctl(root.dir(), "journal").status, 2);
  const std::string after = e2e::readFile(wd);
  EXPECT_EQ(after.substr(after.size() - 4), "STOP");
  EXPECT_EQ(e2e::count(after, "START"), 1u);
  EXPECT_NE(d.err().find("Mux: terminating...\n"), std::string::npos) << d.err();
  EXPECT_FALSE(e2e::exists(root.path(sysroot::sim_board_socket)));
}

// The dump's head and its handler table, the board's and the child watch's
// handlers among them, written afresh each time.
TEST(Startup, SigusrTwoDumpsSighupReportsAndSigintStops) {
  Root root;
  const int port = e2e::freePort();
  Daemon d(e2e::simBinary(), root.dir(), {"--port", std::to_string(port)}, root.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return !d.out().empty(); }));
  const std::string dump = root.path(sysroot::status_dump);
  const std::string first =
      e2e::statusDumpWith(d, dump, "|     ChildWaitService::OnChildEvent     |            POLLIN            |");
  ASSERT_NE(first, "") << e2e::readFile(dump) << d.err();
  EXPECT_EQ(first.rfind("server status information.", 0), 0u) << first;
  std::istringstream lines(first);
  std::string l;
  std::getline(lines, l);
  std::getline(lines, l);
  EXPECT_EQ(l, "version : T250428-2012");
  for (const char* what : {"dpc", "event", "timer"}) {
    std::getline(lines, l);
    EXPECT_EQ(l.rfind(std::string(what) + " transition measurement (min/max/cur/counter): min=", 0), 0u) << l;
  }
  EXPECT_NE(first.find("|                  name                  |            events            |  count   "
                       "| handler  | fd  |                          measure                           |\n"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("|          sim::Board::OnAccept          |            POLLIN            |"), std::string::npos)
      << first;

  // A profiling point appears once its code has run: a controller's ping
  // passes the TPKT layer.
  const e2e::Ran ping = e2e::run(e2e::lgcpctlCommand("--port " + std::to_string(port) +
                                                     " send '{ seq 7, pdu command : ping : NULL }'"
                                                     " expect '{ seq 7, pdu response : success : NULL }'"));
  ASSERT_EQ(ping.status, 0) << ping.out;
  std::ofstream(dump, std::ios::app) << "left over from before\n";
  const std::string again = e2e::statusDumpWith(d, dump, "[Tpkt_protocol::message]: min=");
  EXPECT_EQ(again.rfind("server status information.", 0), 0u) << again;
  EXPECT_EQ(again.find("left over"), std::string::npos) << again;
  EXPECT_NE(again.find("sim::Board::OnAccept"), std::string::npos) << again;

  d.signal(SIGHUP);
  ASSERT_TRUE(e2e::waitFor([&] { return d.err().find("update hardware resources\n") != std::string::npos; }));
  d.signal(SIGHUP);
  ASSERT_TRUE(e2e::waitFor([&] { return e2e::count(d.err(), "update hardware resources\n") == 2; })) << d.err();

  // Without the log directory the dump fails, is reported, and the daemon
  // goes on.
  std::filesystem::remove_all(root.parent(sysroot::status_dump));
  d.signal(SIGUSR2);
  ASSERT_TRUE(e2e::waitFor([&] { return d.err().find("dump status error\n") != std::string::npos; })) << d.err();
  EXPECT_TRUE(d.running());
  d.signal(SIGINT);
  EXPECT_EQ(d.exitCode(), 0);
}

// A stop requested while the daemon is still starting is not lost.
TEST(Startup, SigtermFiftyMillisecondsAfterStartEndsTheProcessWithinThreeSeconds) {
  Root root;
  Daemon d(e2e::simBinary(), root.dir(), {"--port", std::to_string(e2e::freePort())}, root.dir());
  std::this_thread::sleep_for(50ms);
  d.signal(SIGTERM);
  EXPECT_NE(d.wait(3s), -1) << "still running after SIGTERM";
}

// Command lines that end the program at once. A refused one prints the
// usage and a word of why on the error stream.
TEST(Startup, VersionHelpAndRefusedCommandLines) {
  Root root;
  const std::string sim = e2e::simBinary(), version = "server version: T250428-2012\n", usage = e2e::usageText();
  const struct {
    std::string binary;
    std::vector<std::string> args;
    int code;
    std::string out;
  } cases[] = {
      {sim, {"--version"}, 2, version},           {e2e::boardBinary(), {"--version"}, 2, version},
      {sim, {"--version", "--help"}, 0, usage},   {sim, {"-h"}, 0, usage},
      {sim, {"-p", "70000"}, 2, usage},           {sim, {"-p"}, 2, usage},
      {sim, {"-p", "x1"}, 2, usage},              {sim, {"--port", "70000"}, 2, usage},
      {sim, {"--port", "abc"}, 2, usage},         {sim, {"--port", "0"}, 2, usage},
      {sim, {"--port", "12ab"}, 2, usage},        {sim, {"--port", "-5"}, 2, usage},
      {sim, {"--port"}, 2, usage},                {sim, {"--bogus"}, 2, usage},
  };
  for (const auto& c : cases) {
    std::string what = c.binary;
    for (const std::string& a : c.args) what += " " + a;
    SCOPED_TRACE(what);
    Daemon d(c.binary, root.dir(), c.args, root.dir());
    EXPECT_EQ(d.exitCode(), c.code);
    EXPECT_EQ(d.out(), c.out);
    if (c.code == 2 && c.out == usage) {
      EXPECT_NE(d.err(), "");
    }
  }
}

TEST(Startup, HighestPortIsAcceptedAndAMissingWatchdogIsReported) {
  Root root;
  std::filesystem::remove(root.path(sysroot::watchdog));
  Daemon d(e2e::simBinary(), root.dir(), {"--port=65535"}, root.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return d.out() == startLine(65535); })) << d.out() << d.err();
  ASSERT_TRUE(e2e::waitFor(
      [&] { return d.err().find("Mux: fail to open watchdog: No such file or directory\n") != std::string::npos; }))
      << d.err();
  EXPECT_TRUE(d.running());
  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
}

// The short "-p" the usage text offers sets the port like "--port", also
// glued to its value.
TEST(Startup, ShortPortOptionSetsTheControlPort) {
  Root root;
  for (const bool glued : {false, true}) {
    const int port = e2e::freePort();
    const std::vector<std::string> args =
        glued ? std::vector<std::string>{"-p" + std::to_string(port)} : std::vector<std::string>{"-p", std::to_string(port)};
    SCOPED_TRACE(args[0]);
    Daemon d(e2e::simBinary(), root.dir(), args, root.dir());
    ASSERT_TRUE(e2e::waitFor([&] { return d.out() == startLine(port); })) << d.out() << d.err();
    const e2e::Ran ping = e2e::run(e2e::lgcpctlCommand("--port " + std::to_string(port) +
                                                       " send '{ seq 1, pdu command : ping : NULL }'"
                                                       " expect '{ seq 1, pdu response : success : NULL }'"));
    EXPECT_EQ(ping.status, 0) << ping.out;
    d.signal(SIGTERM);
    EXPECT_EQ(d.exitCode(), 0);
  }
}

TEST(Startup, RootThatDoesNotExistIsRefused) {
  Root root;
  Daemon d(e2e::simBinary(), root.dir() + "/missing", {"--port", "3000"}, root.dir());
  EXPECT_EQ(d.exitCode(), 2);
  EXPECT_NE(d.err().find("KORVEND_ROOT"), std::string::npos) << d.err();
  EXPECT_EQ(d.out(), "");
}

}  // namespace
