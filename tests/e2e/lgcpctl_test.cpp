// lgcpctl, the test controller, against the real korvend-sim: scripted
// steps and messages from standard input.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "tests/e2e/daemon_harness.h"

namespace {

using Result = e2e::Ran;

// Runs lgcpctl; input (no quote, no percent sign) is its standard input.
Result lgcpctl(const std::string& args, const std::string& input = "") {
  return e2e::run((input.empty() ? "" : "printf '" + input + "' | ") + e2e::lgcpctlCommand(args));
}

// The output with each line's time stamp ("12:00:01.412 ") written as "T ".
std::string stamped(const std::string& out) {
  std::istringstream lines(out);
  std::string line, result;
  while (std::getline(lines, line)) {
    int h, m, s, ms, n = 0;
    if (std::sscanf(line.c_str(), "%2d:%2d:%2d.%3d %n", &h, &m, &s, &ms, &n) == 4 && n == 13)
      line = "T " + line.substr(13);
    result += line + "\n";
  }
  return result;
}

class Lgcpctl : public ::testing::Test {
 protected:
  Lgcpctl()
      : port(e2e::freePort()), daemon(e2e::simBinary(), root.dir(), {"--port", std::to_string(port)}, root.dir()) {
    e2e::waitFor([&] { return !daemon.out().empty(); });
  }
  ~Lgcpctl() override {
    daemon.signal(SIGTERM);
    daemon.wait();
  }
  std::string at() const { return "--port " + std::to_string(port) + " "; }
  // Waits until the daemon has let go of n controllers: one that comes
  // while the last is still there is refused. The daemon logs the close
  // first and ends it at the start of its next pass; a request to the
  // board, which it serves in a later pass, comes back after that.
  void letGo(std::size_t n) {
    EXPECT_TRUE(e2e::waitFor([&] { return e2e::count(daemon.err(), " closed.\n") >= n; })) << daemon.err();
    EXPECT_EQ(e2e::simboardctl(root.dir(), "clock").status, 0);
  }

  e2e::Root root;
  int port;
  e2e::Daemon daemon;
};

TEST_F(Lgcpctl, SendThenExpectTheReplyWithinATimeSignalsSkipped) {
  // The query's answer is followed by the resource report, a signal, which
  // the second expectation passes over.
  const Result r = lgcpctl(at() +
                           "send '{ seq 8, pdu command : query : NULL }' "
                           "send '{ seq 7, pdu command : ping : NULL }' "
                           "expect '{ seq 8, pdu response : success : NULL }' "
                           "expect '{seq 7,pdu response:success:NULL}' 3000");
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string text = stamped(r.out);
  EXPECT_NE(text.find("\nT > { seq 7, pdu command : ping : NULL }\n"), std::string::npos) << r.out;
  const std::size_t query =
      text.find("T < { seq 8, pdu response : success : NULL }\nT < { pdu signal : query : { boardMajor 0,");
  ASSERT_NE(query, std::string::npos) << r.out;
  EXPECT_NE(text.find("}\nT < { seq 7, pdu response : success : NULL }\n", query), std::string::npos) << r.out;
}

TEST_F(Lgcpctl, AWrongReplyOrNoneFailsWithStatusOne) {
  Result r = lgcpctl(
      at() +
      "send '{ seq 1, slot 1024, pdu command : ping : NULL }' expect '{ seq 1, pdu response : success : NULL }'");
  EXPECT_EQ(r.status, 2) << r.out;  // the coder refuses slot 1024 before anything is sent
  letGo(1);
  r = lgcpctl(at() + "send '{ seq 2, pdu command : ping : NULL }' expect '{ seq 2, pdu response : error : internal }'");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("lgcpctl: expected { seq 2, pdu response : error : internal }\n"), std::string::npos) << r.out;
  letGo(2);
  r = lgcpctl(at() + "expect '{ pdu response : success : NULL }' 200");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("no response within 200 ms"), std::string::npos) << r.out;
}

TEST_F(Lgcpctl, MessagesFromStandardInputMaySpanLines) {
  const Result r =
      lgcpctl(at(), "{ seq 1,\\n  pdu command : ping : NULL }\\n{ seq 2, slot 5, pdu command : destroy : NULL }\\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(" < { seq 1, pdu response : success : NULL }\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" < { seq 2, slot 5, pdu response : error : slotNotExists }\n"), std::string::npos) << r.out;
}

TEST(LgcpctlAlone, HelpAndRefusals) {
  Result r = lgcpctl("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: lgcpctl [--host ADDR] [--port N] [--wait MS] [STEP...]\n", 0), 0u) << r.out;
  r = lgcpctl("--port 70000");
  EXPECT_EQ(r.status, 2);
  r = lgcpctl("--port " + std::to_string(e2e::freePort()) + " --wait 300 send '{ pdu command : ping : NULL }'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("lgcpctl: no connection to 127.0.0.1:"), std::string::npos) << r.out;
  r = lgcpctl("frobnicate");
  EXPECT_EQ(r.status, 2);
}

}  // namespace
