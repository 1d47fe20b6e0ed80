#include "runtime/daemon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "tests/e2e/process_scan.h"
#include "tests/runtime/busybox_syslogd.h"
#include "tests/runtime/syslog_receiver.h"
#include "tests/temp_root.h"
#include "tests/runtime/test_process.h"

namespace {

const char kIdent[] = "korvend-T250428-2012";

// Masked records of every datagram until `last` has arrived (or none came
// for a while); one entry per datagram.
std::vector<std::vector<std::string>> Collect(testlog::Receiver& rx, const std::string& last) {
  std::vector<std::vector<std::string>> out;
  for (auto recs = testlog::NextRecords(rx); recs != std::vector<std::string>{"<nothing>"};
       recs = testlog::NextRecords(rx)) {
    out.push_back(recs);
    if (recs.back() == last) break;
  }
  return out;
}

TEST(DaemonMode, StreamsGoToTheSystemLogAndSurviveALogDaemonRestart) {
  TempRoot root;
  e2e::EndOnExit guard(root.dir());  // a detached probe that a failed test left waiting
  root.make_parent(sysroot::syslog_socket);
  auto rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));
  ASSERT_TRUE(rx->ok());
  const pid_t starter =
      testproc::Spawn(testproc::With(testproc::BuildProgram("tests/runtime/log_probe"), {"syslog", kIdent}), {"KORVEND_ROOT=" + root.dir()});
  ASSERT_GT(starter, 0) << "could not start log_probe";
  // The process that was started returns at once; its child carries on.
  const int status = testproc::Finish(starter);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  const std::string tag = std::string("STAMP ") + kIdent + ": ";
  auto got = Collect(*rx, "raw descriptor 2\n<unterminated>");
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], std::vector<std::string>{"<27>" + tag + "abc"});
  EXPECT_EQ(got[1], (std::vector<std::string>{"<31>" + tag + "line1", "<31>" + tag + "line2"}));
  ASSERT_EQ(got[2].size(), 1u);
  const std::string pidRecord = "<31>" + tag + "pid ";
  ASSERT_EQ(got[2][0].compare(0, pidRecord.size(), pidRecord), 0) << got[2][0];
  const pid_t daemonPid = std::stoi(got[2][0].substr(pidRecord.size()));
  guard.daemon = e2e::capture(daemonPid);
  EXPECT_NE(daemonPid, starter);
  // Descriptor 2 is the log socket itself: raw bytes, no record around them.
  EXPECT_EQ(got[3], std::vector<std::string>{"raw descriptor 2\n<unterminated>"});

  // The log daemon restarts; the next lines reach the new one.
  rx.reset();
  rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));
  ASSERT_TRUE(rx->ok());
  ASSERT_TRUE(e2e::kill(guard.daemon, SIGUSR1));
  got = Collect(*rx, "<29>" + tag + "flushed at exit");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], std::vector<std::string>{"<29>" + tag + "marker"});
  EXPECT_EQ(got[1], std::vector<std::string>{"<29>" + tag + "flushed at exit"});
  EXPECT_TRUE(testproc::WaitFor([&] { return e2e::ended(guard.daemon); }));
}

TEST(DaemonMode, LogFilesTakeAllThreeStreams) {
  TempRoot root;
  const pid_t starter = testproc::Spawn(testproc::With(testproc::BuildProgram("tests/runtime/log_probe"), {"files", root.dir()}));
  ASSERT_GT(starter, 0) << "could not start log_probe";
  const int status = testproc::Finish(starter);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::string text;
  // The file is written when the detached process closes it at exit.
  EXPECT_TRUE(testproc::WaitFor([&] {
    for (const auto& e : std::filesystem::directory_iterator(root.dir()))
      if (e.path().extension() == ".log") text = testproc::ReadFile(e.path().string());
    return std::count(text.begin(), text.end(), '\n') >= 3;
  }));
  std::istringstream lines(text);
  std::string line;
  std::vector<std::string> masked;
  while (std::getline(lines, line)) {
    // "mm:ss:" and the microseconds, at least five digits.
    const size_t end = line.find(": ");
    const std::string prefix = line.substr(0, end);
    EXPECT_TRUE(testlog::Fits(prefix, "99:99:99999") || testlog::Fits(prefix, "99:99:999999")) << line;
    masked.push_back(line.substr(end + 2));
  }
  EXPECT_EQ(masked, (std::vector<std::string>{"to standard output", "to standard error", "to the log stream"}))
      << text;
}

TEST(DaemonMode, BusyboxSyslogdReadsTheRecordsAsTheDaemonFacility) {
  TempRoot root;
  e2e::EndOnExit guard(root.dir());
  root.make_parent(sysroot::syslog_socket);
  const std::string messages = root.dir() + "/messages";
  auto syslogd = std::make_unique<testlog::BusyboxSyslogd>(root.dir(), messages);
  if (!syslogd->whyNot().empty()) GTEST_SKIP() << syslogd->whyNot();

  const pid_t starter =
      testproc::Spawn(testproc::With(testproc::BuildProgram("tests/runtime/log_probe"), {"syslog", kIdent}), {"KORVEND_ROOT=" + root.dir()});
  ASSERT_GT(starter, 0) << "could not start log_probe";
  ASSERT_EQ(testproc::Finish(starter), 0);
  // Lines as busybox writes them: "Mmm dd hh:mm:ss host facility.severity text".
  const std::string pidLine = " daemon.debug korvend-T250428-2012: pid ";
  std::string text;
  ASSERT_TRUE(testproc::WaitFor([&] {
    text = testproc::ReadFile(messages);
    return text.find(pidLine) != std::string::npos;
  })) << text;
  guard.daemon = e2e::capture(std::stoi(text.substr(text.find(pidLine) + pidLine.size())));
  // Several records of one datagram come out as lines of their own.
  EXPECT_NE(text.find(" daemon.err korvend-T250428-2012: abc\n"), std::string::npos) << text;
  const size_t line1 = text.find(" daemon.debug korvend-T250428-2012: line1\n");
  ASSERT_NE(line1, std::string::npos) << text;
  const size_t next = text.find('\n', line1) + 1;
  const std::string nextLine = text.substr(next, text.find('\n', next) - next);
  const std::string line2 = " daemon.debug korvend-T250428-2012: line2";
  EXPECT_TRUE(nextLine.size() > line2.size() && nextLine.compare(nextLine.size() - line2.size(), line2.size(), line2) == 0)
      << "line2 follows line1:\n" << text;

  // Restart the log daemon; the next line reaches the new one.
  syslogd.reset();
  syslogd = std::make_unique<testlog::BusyboxSyslogd>(root.dir(), messages);
  ASSERT_EQ(syslogd->whyNot(), "");
  ASSERT_TRUE(e2e::kill(guard.daemon, SIGUSR1));
  EXPECT_TRUE(testproc::WaitFor([&] {
    text = testproc::ReadFile(messages);
    return text.find(" daemon.notice korvend-T250428-2012: flushed at exit\n") != std::string::npos;
  })) << text;
  EXPECT_NE(text.find(" daemon.notice korvend-T250428-2012: marker\n", text.rfind("syslogd started")), std::string::npos)
      << "marker after the restart:\n" << text;
}

}  // namespace
