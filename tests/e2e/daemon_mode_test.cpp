// korvend-sim -D: the daemon detaches and its standard streams become
// records of the system log at the root's log socket.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "tests/e2e/daemon_harness.h"
#include "tests/e2e/lgcp_controller.h"
#include "tests/e2e/process_scan.h"
#include "tests/runtime/busybox_syslogd.h"
#include "tests/runtime/syslog_receiver.h"
#include "tests/runtime/test_process.h"

namespace {

const std::string kTag = "STAMP korvend-T250428-2012: ";
using Datagram = std::vector<std::string>;

void WriteConfig(const e2e::Root& root, const std::string& text) {
  std::filesystem::create_directories(root.parent(sysroot::server_conf));
  std::ofstream(root.path(sysroot::server_conf)) << text;
}

// Starts korvend-sim -D with the terminal's streams in files under the root;
// returns the daemon's process id (from its pid file), or -1.
e2e::Process StartDaemon(const e2e::Root& root, int port) {
  const pid_t starter = testproc::Spawn(
      testproc::With(testproc::BuildProgram("runtime/main/korvend-sim"), {"-D", "--port", std::to_string(port)}),
      {"KORVEND_ROOT=" + root.dir()}, root.dir() + "/terminal.out", root.dir() + "/terminal.err");
  if (starter <= 0) return {};
  const int status = testproc::Finish(starter);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  const std::string pidFile = root.path(std::string(sysroot::run_dir) + "server.pid");
  std::string pid;
  if (!testproc::WaitFor([&] {
        pid = e2e::readFile(pidFile);
        return !pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos;
      }))
    return {};
  return e2e::capture(static_cast<pid_t>(std::stol(pid)));
}

// The datagrams (records with masked stamps) that hold any of `mine`, until
// one holds the last of them. Those that hold none come from the daemon's
// own checks (the monitoring's every 2 s), whenever a loaded machine lets
// them fall.
std::vector<Datagram> Until(testlog::Receiver& rx, const Datagram& mine) {
  std::vector<Datagram> out;
  std::string d;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end && rx.receive(d)) {
    Datagram recs;
    for (const std::string& r : testlog::Records(d)) recs.push_back(testlog::MaskStamp(r));
    const auto ours = [&](const std::string& r) { return std::find(mine.begin(), mine.end(), r) != mine.end(); };
    if (std::none_of(recs.begin(), recs.end(), ours)) continue;
    out.push_back(recs);
    if (std::find(recs.begin(), recs.end(), mine.back()) != recs.end()) return out;
  }
  return out;
}

int Say(const e2e::Root& root, const std::string& words) { return e2e::simboardctl(root.dir(), "say " + words).status; }

// The T.38 program: a line on each of its standard descriptors every 0.1 s,
// as long as the daemon that started it runs.
const char kChattyProgram[] =
    "#!/bin/sh\n"
    "[ \"$1\" = --num-of-instances ] && exit 0\n"
    "i=0\n"
    "while kill -0 $PPID 2>/dev/null; do\n"
    "  echo \"program out $i\"; echo \"program err $i\" >&2; i=$((i + 1)); sleep 0.1\n"
    "done\n";

// True once a line the program wrote to its standard output and one it
// wrote to its standard error have arrived by `end`: raw, each a datagram.
// The daemon's own records met on the way are counted in *records.
bool ProgramHeard(testlog::Receiver& rx,
                  std::chrono::steady_clock::time_point end = std::chrono::steady_clock::now() + std::chrono::seconds(10),
                  int* records = nullptr) {
  bool out = false, err = false;
  std::string d;
  const auto left = [&] {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
  };
  while (!(out && err) && left() > 0 && rx.receive(d, left())) {
    out = out || d.rfind("program out ", 0) == 0;
    err = err || d.rfind("program err ", 0) == 0;
    if (records && d.rfind("<", 0) == 0) ++*records;
  }
  return out && err;
}

TEST(DaemonModeE2E, StreamsBecomeDaemonRecordsAndSurviveALogDaemonRestart) {
  e2e::Root root;
  // A bad line is reported on the terminal before the detach and skipped.
  WriteConfig(root, "[traces]\nsignalling.hdlc = on\nmonitoring.internal = yes\n");
  root.make_parent(sysroot::t38);
  std::ofstream(root.path(sysroot::t38)) << kChattyProgram;
  ASSERT_EQ(::chmod(root.path(sysroot::t38).c_str(), 0755), 0);
  auto rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));
  ASSERT_TRUE(rx->ok());
  const int port = e2e::freePort();
  testkit::FixedPortsTurn turn;  // until the daemon the guard ends has gone
  ASSERT_TRUE(turn.held()) << turn.why();
  e2e::EndOnExit guard(root.dir());
  guard.daemon = StartDaemon(root, port);
  ASSERT_GT(guard.daemon.start, 0u) << e2e::readFile(root.dir() + "/terminal.err");
  // Before the detach the log stream is the terminal's too: the echo
  // canceller scan and the matrix report there.
  EXPECT_EQ(e2e::readFile(root.dir() + "/terminal.err"),
            "traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 2. Key will be ignored.\n"
            "Scanning echo channels ...\n"
            "hwMux: init\nhwMux: device opened\n");
  EXPECT_EQ(e2e::readFile(root.dir() + "/terminal.out"), "");

  // The start line: standard output is daemon.notice.
  const std::string start = "Starting server [T250428-2012], port=" + std::to_string(port);
  std::string startRecord;
  std::string d;
  while (startRecord.empty() && rx->receive(d)) {
    for (const std::string& r : testlog::Records(d))
      if (testlog::MaskStamp(r) == "<29>" + kTag + start) startRecord = d;
  }
  ASSERT_FALSE(startRecord.empty()) << "no start line";
  // The line chips are set up right after it; their last line ends the
  // start-up's records, so what follows is the test's own.
  bool started = false;
  while (!started && rx->receive(d)) {
    for (const std::string& r : testlog::Records(d))
      if (testlog::MaskStamp(r) == "<31>" + kTag + "spi: enable channel 6") started = true;
  }
  ASSERT_TRUE(started) << "no end of the start-up";
  // Alone in its datagram, ended by a zero byte, and otherwise the bytes
  // logger(1) writes for the same identity, priority and text.
  ASSERT_EQ(startRecord.back(), '\0');
  EXPECT_EQ(startRecord.find('\0'), startRecord.size() - 1);
  const std::string reference = testlog::LoggerRecord(root.path(sysroot::syslog_socket), "daemon.notice",
                                                      "korvend-T250428-2012", start, *rx);
  ASSERT_FALSE(reference.empty()) << "logger (util-linux) is needed to compare the record bytes";
  EXPECT_EQ(testlog::MaskStamp(startRecord.substr(0, startRecord.size() - 1)), testlog::MaskStamp(reference));

  // Several lines of one flush travel as one datagram of several records;
  // the log stream is daemon.debug.
  ASSERT_EQ(Say(root, "log first second third"), 0);
  const Datagram lines{"<31>" + kTag + "first", "<31>" + kTag + "second", "<31>" + kTag + "third"};
  auto got = Until(*rx, lines);
  ASSERT_EQ(got.size(), 1u) << testing::PrintToString(got);
  EXPECT_EQ(got[0], lines);

  // An error line of the daemon's own is daemon.err.
  std::filesystem::remove_all(root.parent(sysroot::status_dump));
  ASSERT_TRUE(e2e::kill(guard.daemon, SIGUSR2));
  got = Until(*rx, {"<27>" + kTag + "dump status error"});
  ASSERT_EQ(got.size(), 1u) << testing::PrintToString(got);
  EXPECT_EQ(got[0], Datagram{"<27>" + kTag + "dump status error"});

  // A program the daemon started writes to the standard descriptors it
  // inherited: the log socket. From here on what waits for the daemon runs
  // on a thread of its own while the log is read: the daemon waits for room
  // in the log daemon's queue (ten datagrams), which the program fills.
  e2e::Controller c;
  auto created = std::async(std::launch::async, [&] {
    return c.connect(port) ? c.exchange(e2e::cmd(1, 7,
                                                 "create : t38soft : { dhost { iaddr \"192.0.2.9\", port 4100 }, "
                                                 "shost { iaddr \"0.0.0.0\", port 4200 }, rx-packet-size 160, "
                                                 "rx-threshold 1, tx-threshold 1, args { } }"))
                           : e2e::Lines{};
  });
  ASSERT_TRUE(ProgramHeard(*rx));
  const e2e::Lines answer = created.get();
  ASSERT_FALSE(answer.empty());
  EXPECT_EQ(answer.front(), e2e::ok(1, 7));

  // The log daemon restarts. The daemon's first lines after it, whose send
  // finds the old one gone, reach the new one, and so does the program.
  rx.reset();
  rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));
  ASSERT_TRUE(rx->ok());
  auto said = std::async(std::launch::async, Say, std::cref(root), "out restarted");
  got = Until(*rx, {"<29>" + kTag + "restarted"});
  ASSERT_EQ(said.get(), 0);
  ASSERT_EQ(got.size(), 1u) << testing::PrintToString(got);
  EXPECT_EQ(got[0], Datagram{"<29>" + kTag + "restarted"});
  EXPECT_TRUE(ProgramHeard(*rx)) << "the program's lines after the restart";

  // The log daemon stops: what is written meanwhile is lost, and once it is
  // back the next lines arrive again, the program's too.
  rx.reset();
  ASSERT_EQ(Say(root, "err while-stopped"), 0);
  rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));
  ASSERT_TRUE(rx->ok());
  said = std::async(std::launch::async, Say, std::cref(root), "out back again");
  const Datagram back{"<29>" + kTag + "back", "<29>" + kTag + "again"};
  got = Until(*rx, back);
  ASSERT_EQ(said.get(), 0);
  ASSERT_EQ(got.size(), 1u) << testing::PrintToString(got);
  EXPECT_EQ(got[0], back);
  EXPECT_TRUE(ProgramHeard(*rx)) << "the program's lines after the gap";

  ASSERT_TRUE(e2e::kill(guard.daemon, SIGTERM));
  got = Until(*rx, {"<31>" + kTag + "Mux: terminating..."});
  EXPECT_FALSE(got.empty());
  // The line chips are switched off on the way out, with a line each: the
  // log daemon keeps reading them.
  EXPECT_TRUE(testproc::WaitFor([&] {
    while (!rx->empty()) rx->receive(d);
    return e2e::ended(guard.daemon);
  }));
  EXPECT_FALSE(e2e::exists(root.path(std::string(sysroot::run_dir) + "server.pid")));
}

// With no log daemon a program writes into the null device and ends well
// even when it stops at a failed write. A log daemon that appears, or
// restarts, while the daemon has nothing to log is found by the daemon's
// look once a second, for the programs.
TEST(DaemonModeE2E, WithoutALogDaemonProgramsRunAndOneComingOrRestartingIsFoundWhileIdle) {
  e2e::Root root;
  root.make_parent(sysroot::t38);
  // Given "once", the chatty program writes a line as a shell and as Python
  // do, stopping at the first write that fails, and ends.
  std::string program = kChattyProgram;
  program.insert(program.find("i=0\n"),
                 "if [ \"$4\" = once ]; then set -e; echo once; python3 -c 'print(\"once\")'; exit 0; fi\n");
  std::ofstream(root.path(sysroot::t38)) << program;
  ASSERT_EQ(::chmod(root.path(sysroot::t38).c_str(), 0755), 0);
  const int port = e2e::freePort();
  testkit::FixedPortsTurn turn;  // until the daemon the guard ends has gone
  ASSERT_TRUE(turn.held()) << turn.why();
  e2e::EndOnExit guard(root.dir());
  guard.daemon = StartDaemon(root, port);
  ASSERT_GT(guard.daemon.start, 0u) << e2e::readFile(root.dir() + "/terminal.err");
  e2e::Controller c;
  ASSERT_TRUE(c.connect(port));
  const auto create = [](int seq, int slot, const std::string& args) {
    return e2e::cmd(seq, slot,
                    "create : t38soft : { dhost { iaddr \"192.0.2.9\", port 4100 }, shost { iaddr \"0.0.0.0\", "
                    "port 4200 }, rx-packet-size 160, rx-threshold 1, tx-threshold 1, args { " + args + " } }");
  };
  e2e::Lines answer = c.exchange(create(1, 7, "\"once\""));
  ASSERT_FALSE(answer.empty());
  for (std::string m; answer.back().find("abort") == std::string::npos && !(m = c.next()).empty();)
    answer.push_back(m);
  EXPECT_EQ(answer.front(), e2e::ok(1, 7));
  EXPECT_EQ(answer.back(), e2e::signal(7, "abort : 0"));

  // A log daemon comes while the daemon has nothing to log: within two
  // seconds descriptor 1 is the socket again, with no record of the
  // daemon's own sent, and a program started then is heard.
  char fds[64];
  std::snprintf(fds, sizeof fds, sysroot::proc_fd_format, static_cast<int>(guard.daemon.pid));
  const std::string fd1 = std::string(fds) + "/1";
  const auto socketOnFd1 = [&] {
    struct stat st;
    return ::stat(fd1.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
  };
  EXPECT_FALSE(socketOnFd1());
  auto rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));
  ASSERT_TRUE(rx->ok());
  EXPECT_TRUE(testproc::WaitFor(socketOnFd1, 2000));
  EXPECT_TRUE(rx->empty());
  // The daemon waits for room in the log daemon's queue, which the program
  // fills: the log is read meanwhile.
  auto created = std::async(std::launch::async, [&] { return c.exchange(create(2, 8, "")); });
  EXPECT_TRUE(ProgramHeard(*rx));
  EXPECT_EQ(created.get().front(), e2e::ok(2, 8));

  // The log daemon restarts while the daemon has nothing to log: the
  // program running across it is heard by the new one within two seconds,
  // before any record of the daemon's own.
  rx.reset();
  rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));
  ASSERT_TRUE(rx->ok());
  int records = 0;
  EXPECT_TRUE(ProgramHeard(*rx, std::chrono::steady_clock::now() + std::chrono::seconds(2), &records));
  EXPECT_EQ(records, 0);

  ASSERT_TRUE(e2e::kill(guard.daemon, SIGTERM));
  std::string d;
  EXPECT_TRUE(testproc::WaitFor([&] {
    while (!rx->empty()) rx->receive(d);
    return e2e::ended(guard.daemon);
  }));
}

TEST(DaemonModeE2E, BusyboxSyslogdFilesTheRecordsByFacilityAndSeverity) {
  e2e::Root root;
  const std::string messages = root.dir() + "/messages";
  auto syslogd = std::make_unique<testlog::BusyboxSyslogd>(root.dir(), messages);
  if (!syslogd->whyNot().empty()) GTEST_SKIP() << syslogd->whyNot();
  const int port = e2e::freePort();
  testkit::FixedPortsTurn turn;  // until the daemon the guard ends has gone
  ASSERT_TRUE(turn.held()) << turn.why();
  e2e::EndOnExit guard(root.dir());
  guard.daemon = StartDaemon(root, port);
  ASSERT_GT(guard.daemon.start, 0u) << e2e::readFile(root.dir() + "/terminal.err");

  std::string text;
  auto logged = [&](const std::string& line) {
    return testproc::WaitFor([&] {
      text = e2e::readFile(messages);
      return text.find(line) != std::string::npos;
    });
  };
  EXPECT_TRUE(logged(" daemon.notice korvend-T250428-2012: Starting server [T250428-2012], port=" +
                     std::to_string(port) + "\n"))
      << text;
  ASSERT_EQ(Say(root, "log one two"), 0);
  EXPECT_TRUE(logged(" daemon.debug korvend-T250428-2012: one\n")) << text;
  EXPECT_TRUE(logged(" daemon.debug korvend-T250428-2012: two\n")) << text;
  ASSERT_EQ(Say(root, "err bad"), 0);
  EXPECT_TRUE(logged(" daemon.err korvend-T250428-2012: bad\n")) << text;

  // Restarted, it gets the daemon's next lines.
  syslogd.reset();
  ASSERT_EQ(Say(root, "err while-stopped"), 0);
  syslogd = std::make_unique<testlog::BusyboxSyslogd>(root.dir(), messages);
  ASSERT_EQ(syslogd->whyNot(), "");
  ASSERT_EQ(Say(root, "out after-restart"), 0);
  EXPECT_TRUE(logged(" daemon.notice korvend-T250428-2012: after-restart\n")) << text;
  EXPECT_NE(text.find(" daemon.notice korvend-T250428-2012: after-restart\n", text.rfind("syslogd started")),
            std::string::npos)
      << text;
  e2e::kill(guard.daemon, SIGTERM);
  EXPECT_TRUE(testproc::WaitFor([&] { return e2e::ended(guard.daemon); }));
}

}  // namespace
