// The daemon starts, runs its loop and stops: korvend-sim under a fresh root.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

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

  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
  EXPECT_FALSE(e2e::exists(pidFile));
  const std::string after = e2e::readFile(wd);
  EXPECT_EQ(after.substr(after.size() - 4), "STOP");
  EXPECT_EQ(e2e::count(after, "START"), 1u);
  EXPECT_NE(d.err().find("Mux: terminating...\n"), std::string::npos) << d.err();
  EXPECT_FALSE(e2e::exists(root.path(sysroot::sim_board_socket)));
}

TEST(Startup, SigintStopsLikeSigterm) {
  Root root;
  Daemon d(e2e::simBinary(), root.dir(), {"--port", std::to_string(e2e::freePort())}, root.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return !d.out().empty(); }));
  d.signal(SIGINT);
  EXPECT_EQ(d.exitCode(), 0);
}

TEST(Startup, SigusrTwoWritesTheStatusDumpEachTimeAfreshAndAFailedOpenIsSurvived) {
  Root root;
  Daemon d(e2e::simBinary(), root.dir(), {"--port", std::to_string(e2e::freePort())}, root.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return !d.out().empty(); }));
  const std::string dump = root.path(sysroot::status_dump);
  const std::string tableEnd = "+\n\n\n";
  // A dump taken in the loop's first pass, before its first poll, has no
  // handler in its table yet: ask again until the loop is polling.
  ASSERT_TRUE(e2e::waitFor([&] {
    const std::string t = e2e::readFile(dump);
    if (t.size() > tableEnd.size() && t.compare(t.size() - tableEnd.size(), tableEnd.size(), tableEnd) == 0 &&
        t.find("sim::Board::OnAccept") != std::string::npos)
      return true;
    d.signal(SIGUSR2);
    return false;
  }));
  const std::string first = e2e::readFile(dump);
  std::istringstream lines(first);
  std::string l;
  std::getline(lines, l);
  EXPECT_EQ(l.rfind("server status information.", 0), 0u) << first;
  std::getline(lines, l);
  EXPECT_EQ(l, "version : T250428-2012");
  std::getline(lines, l);
  EXPECT_EQ(l.rfind("dpc transition measurement (min/max/cur/counter): min=", 0), 0u) << l;
  std::getline(lines, l);
  EXPECT_EQ(l.rfind("event transition measurement (min/max/cur/counter): min=", 0), 0u) << l;
  std::getline(lines, l);
  EXPECT_EQ(l.rfind("timer transition measurement (min/max/cur/counter): min=", 0), 0u) << l;
  EXPECT_NE(first.find("|                  name                  |            events            |  count   "
                       "| handler  | fd  |                          measure                           |\n"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("|          sim::Board::OnAccept          |            POLLIN            |"), std::string::npos)
      << first;

  // A later SIGUSR2 rewrites the file from the start.
  std::ofstream(dump, std::ios::app) << "left over from before\n";
  d.signal(SIGUSR2);
  ASSERT_TRUE(e2e::waitFor([&] {
    const std::string t = e2e::readFile(dump);
    return t.find("left over") == std::string::npos && t.size() > tableEnd.size() &&
           t.compare(t.size() - tableEnd.size(), tableEnd.size(), tableEnd) == 0;
  }));
  EXPECT_EQ(e2e::count(e2e::readFile(dump), "server status information."), 1u);

  // Without the log directory the dump fails, is reported, and the daemon
  // goes on.
  std::filesystem::remove_all(root.parent(sysroot::status_dump));
  d.signal(SIGUSR2);
  ASSERT_TRUE(e2e::waitFor([&] { return d.err().find("dump status error\n") != std::string::npos; })) << d.err();
  EXPECT_TRUE(d.running());
  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
}

TEST(Startup, SighupRequestsTheResourceReport) {
  Root root;
  Daemon d(e2e::simBinary(), root.dir(), {"--port", std::to_string(e2e::freePort())}, root.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return !d.out().empty(); }));
  d.signal(SIGHUP);
  ASSERT_TRUE(e2e::waitFor([&] { return d.err().find("update hardware resources\n") != std::string::npos; }));
  d.signal(SIGHUP);
  ASSERT_TRUE(e2e::waitFor([&] { return e2e::count(d.err(), "update hardware resources\n") == 2; })) << d.err();
  d.signal(SIGTERM);
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

TEST(Startup, VersionPrintsTheTagAndExitsTwoInBothBuilds) {
  Root root;
  for (const std::string& binary : {e2e::simBinary(), e2e::boardBinary()}) {
    Daemon d(binary, root.dir(), {"--version"}, root.dir());
    EXPECT_EQ(d.exitCode(), 2) << binary;
    EXPECT_EQ(d.out(), "server version: T250428-2012\n") << binary;
  }
  Daemon help(e2e::simBinary(), root.dir(), {"--version", "--help"}, root.dir());
  EXPECT_EQ(help.exitCode(), 0);
  EXPECT_EQ(help.out(), e2e::usageText());
}

TEST(Startup, BadPortsAndUnknownOptionsExitTwoWithTheUsage) {
  Root root;
  const std::vector<std::vector<std::string>> refused = {
      {"-p", "3000"}, {"--port", "70000"}, {"--port", "abc"}, {"--port", "0"},
      {"--port", "12ab"}, {"--port", "-5"}, {"--port"}, {"--bogus"},
  };
  for (const auto& args : refused) {
    Daemon d(e2e::simBinary(), root.dir(), args, root.dir());
    EXPECT_EQ(d.exitCode(), 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_EQ(d.out(), e2e::usageText());
    EXPECT_FALSE(d.err().empty());
  }
  Daemon help(e2e::simBinary(), root.dir(), {"-h"}, root.dir());
  EXPECT_EQ(help.exitCode(), 0);
  EXPECT_EQ(help.out(), e2e::usageText());
}

TEST(Startup, HighestPortIsAccepted) {
  Root root;
  Daemon d(e2e::simBinary(), root.dir(), {"--port=65535"}, root.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return d.out() == startLine(65535); })) << d.out() << d.err();
  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
}

TEST(Startup, RootThatDoesNotExistIsRefused) {
  Root root;
  Daemon d(e2e::simBinary(), root.dir() + "/missing", {"--port", "3000"}, root.dir());
  EXPECT_EQ(d.exitCode(), 2);
  EXPECT_NE(d.err().find("KORVEND_ROOT"), std::string::npos) << d.err();
  EXPECT_EQ(d.out(), "");
}

TEST(Startup, MissingWatchdogIsReportedAndTheDaemonRuns) {
  Root root;
  std::filesystem::remove(root.path(sysroot::watchdog));
  Daemon d(e2e::simBinary(), root.dir(), {"--port", std::to_string(e2e::freePort())}, root.dir());
  ASSERT_TRUE(e2e::waitFor(
      [&] { return d.err().find("Mux: fail to open watchdog: No such file or directory\n") != std::string::npos; }))
      << d.err();
  EXPECT_TRUE(d.running());
  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
}

// Daemon mode detaches: the starting process exits 0 and the pid file holds
// the daemon's own pid; SIGTERM to that pid stops it and removes the file.
TEST(Startup, DaemonModeDetachesAndThePidFileHoldsTheDaemon) {
  Root root;
  Daemon starter(e2e::simBinary(), root.dir(), {"-D", "--port", std::to_string(e2e::freePort())}, root.dir());
  EXPECT_EQ(starter.exitCode(), 0);
  const std::string pidFile = root.path(std::string(sysroot::run_dir) + "server.pid");
  ASSERT_TRUE(e2e::waitFor([&] { return !e2e::readFile(pidFile).empty(); }));
  const pid_t daemon = std::stoi(e2e::readFile(pidFile));
  EXPECT_NE(daemon, starter.pid());
  EXPECT_EQ(::kill(daemon, 0), 0);
  ::kill(daemon, SIGTERM);
  EXPECT_TRUE(e2e::waitFor(
      [&] { return !e2e::exists(pidFile) && !e2e::exists(root.path(sysroot::sim_board_socket)); }));
  const std::string wd = e2e::readFile(root.path(sysroot::watchdog));
  EXPECT_EQ(wd.substr(0, 5), "START");
  EXPECT_EQ(wd.substr(wd.size() - 4), "STOP");
}

// simboardctl against a running daemon: the journal is empty (the watchdog
// is a plain file, not a modelled device), unknown requests are refused.
TEST(SimBoard, SimboardctlReadsTheJournal) {
  Root root;
  Daemon d(e2e::simBinary(), root.dir(), {"--port", std::to_string(e2e::freePort())}, root.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return e2e::exists(root.path(sysroot::sim_board_socket)); }));
  const std::string ctl = e2e::sourceDir() + "/tools/simboardctl --root " + root.dir();
  auto run = [](const std::string& cmd, std::string& out) {
    FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
    char buf[512];
    out.clear();
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    const int st = ::pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  };
  std::string out;
  EXPECT_EQ(run(ctl + " journal", out), 0) << out;
  EXPECT_EQ(out, "");
  EXPECT_EQ(run(ctl + " help", out), 0) << out;
  EXPECT_NE(out.find("journal [clear]"), std::string::npos) << out;
  EXPECT_EQ(run(ctl + " frobnicate", out), 1) << out;
  EXPECT_NE(out.find("unknown command 'frobnicate'"), std::string::npos) << out;
  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
  EXPECT_EQ(run(ctl + " journal", out), 2) << out;
}

}  // namespace
