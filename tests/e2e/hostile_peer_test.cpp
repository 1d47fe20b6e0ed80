// A silent or hostile peer on the controller port of the real korvend-sim:
// it must not hold the only controller place, stall the loop or flood the
// log. Octets are written out by hand, independently of the daemon's coder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "tests/e2e/daemon_harness.h"
#include "tests/e2e/raw_client.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using e2e::hex;
using e2e::RawClient;

class HostilePeer : public ::testing::Test {
 protected:
  ~HostilePeer() override {
    if (!daemon) return;
    daemon->signal(SIGTERM);
    daemon->wait();
  }
  // Starts the daemon; `init` holds board commands run before it starts.
  void start(const std::string& init = "") {
    if (!init.empty()) {
      root.make_parent(sysroot::sim_board_init);
      std::ofstream(root.path(sysroot::sim_board_init)) << init;
    }
    daemon = std::make_unique<e2e::Daemon>(e2e::simBinary(), root.dir(),
                                           std::vector<std::string>{"--port", std::to_string(port)}, root.dir());
  }
  // Connects and proves the connection is served (ping, seq 99).
  bool served(RawClient& c) {
    return c.connect(port) && c.sendPayload(hex("80 01 63 18")) && c.replyHex(2s) == "80 01 63 40";
  }
  std::string logs() const { return daemon->out() + daemon->err(); }

  e2e::Root root;
  int port = e2e::freePort();
  std::unique_ptr<e2e::Daemon> daemon;
};

std::size_t lines(const std::string& text) { return e2e::count(text, "\n"); }

// The heartbeat is shortened on this board to 2000 ms (it is 120000 ms, on
// the test clock, in the unit tests): a peer that connects and sends
// nothing is closed after it, and the controller that knocked meanwhile is
// then served.
TEST_F(HostilePeer, SilentConnectionIsClosedAfterTheHeartbeatAndTheWaitingControllerIsServed) {
  start("heartbeat 2000\n");
  RawClient silent, next;
  ASSERT_TRUE(e2e::waitFor([&] { return silent.connect(port); })) << daemon->err();
  const auto connected = Clock::now();
  const std::string accepted = "new connection from 127.0.0.1:" + std::to_string(silent.localPort()) + "\n";
  ASSERT_TRUE(e2e::waitFor([&] { return daemon->out().find(accepted) != std::string::npos; })) << daemon->out();
  ASSERT_TRUE(next.connect(port));
  EXPECT_TRUE(next.awaitClose());  // refused while the silent one holds the place
  EXPECT_TRUE(silent.awaitClose(10s));
  // The loop reads its clock once a pass, so the timer may count from a
  // little before the connection.
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - connected).count(), 1900);
  EXPECT_EQ(e2e::count(daemon->err(), "heartbeat timeout!!!\n"), 1u) << daemon->err();
  EXPECT_TRUE(e2e::waitFor([&] { return served(next); })) << daemon->err();
}

// Junk without a header start: skipping it costs a line, not a line per
// octet, and the ping behind it is answered at once.
TEST_F(HostilePeer, TenMegabytesOfJunkCostAFewLinesAndThePingBehindIsAnsweredWithinASecond) {
  start();
  RawClient c;
  ASSERT_TRUE(e2e::waitFor([&] { return served(c); })) << daemon->err();
  const std::size_t before = lines(logs());
  e2e::Bytes junk(10 * 1024 * 1024);
  for (std::size_t i = 0; i < junk.size(); ++i) {
    junk[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    if (junk[i] == 0x03) junk[i] = 0x30;
  }
  ASSERT_TRUE(c.write(junk));
  const auto lastOctet = Clock::now();
  c.sendPayload(hex("80 01 07 18"));
  EXPECT_EQ(c.replyHex(5s), "80 01 07 40");
  EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastOctet).count(), 1000);
  const std::string log = logs();
  EXPECT_LE(lines(log) - before, 3u) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
  EXPECT_NE(log.find(" bad TPKT packet start. "), std::string::npos) << log;
  EXPECT_EQ(e2e::count(log, " bad TPKT packet start. "), lines(log) - before);
}

// The longest frame TPKT can carry, all junk: its dump is 64 octets long.
TEST_F(HostilePeer, LongestUndecodableFrameLogsSixtyFourOctetsOfIt) {
  start();
  RawClient c;
  ASSERT_TRUE(e2e::waitFor([&] { return served(c); })) << daemon->err();
  ASSERT_TRUE(c.sendPayload(e2e::Bytes(65531, 0xFF)));
  c.sendPayload(hex("80 01 08 18"));
  EXPECT_EQ(c.replyHex(), "80 01 08 40");
  std::string dump = " msg: ";
  for (int i = 0; i < 64; ++i) dump += "FF ";
  dump += "... (65531 octets)\n";
  EXPECT_TRUE(e2e::waitFor([&] { return daemon->err().find(dump) != std::string::npos; })) << daemon->err();
  EXPECT_LT(daemon->err().size(), 4096u);
}

// With no controller the trunk status goes on being sent four times a
// second, to nobody: one line says so, and the next controller's
// connection one line with the count. The one test of it in real time.
TEST_F(HostilePeer, SendsWithNoControllerAreLoggedOnceInTenSecondsAndCountedOnReturn) {
  start();
  RawClient c;
  ASSERT_TRUE(e2e::waitFor([&] { return served(c); })) << daemon->err();
  c.close();
  const std::string closed = "control connection 127.0.0.1:";
  ASSERT_TRUE(e2e::waitFor([&] { return daemon->err().find(closed) != std::string::npos; })) << daemon->err();
  std::this_thread::sleep_for(10s);
  EXPECT_EQ(e2e::count(daemon->err(), "Control::Service::Send() ignore Send request in Connecting state.\n"), 1u)
      << daemon->err();
  ASSERT_TRUE(served(c));
  const std::string err = daemon->err();
  const std::size_t at = err.find("Control::Service::Send() ignored ");
  ASSERT_NE(at, std::string::npos) << err;
  unsigned refused = 0;
  char tail[64] = {};
  ASSERT_EQ(std::sscanf(err.c_str() + at, "Control::Service::Send() ignored %u Send requests %63[^\n]", &refused, tail),
            2);
  EXPECT_EQ(std::string(tail), "while not connected.");
  EXPECT_GE(refused, 20u);  // some 40 in ten seconds
}

// A bus test whose range runs past its bus (here past the matrix) is
// refused, and the matrix sees nothing of it.
TEST_F(HostilePeer, BusTestBeyondTheLastBusIsRefusedAndTheMatrixSeesNoRequest) {
  start();
  RawClient c;
  ASSERT_TRUE(e2e::waitFor([&] { return served(c); })) << daemon->err();
  ASSERT_EQ(e2e::simboardctl(root.dir(), "journal clear").status, 0);
  // testBpc { bus 15, seed 42, write, start 127, length 127 }, seq 11
  c.sendPayload(hex("80 01 0B 03 E0 01 2A 7F FF"));
  EXPECT_EQ(c.replyHex(), "80 01 0B 60");  // invalidParams
  const e2e::Ran journal = e2e::simboardctl(root.dir(), "journal");
  ASSERT_EQ(journal.status, 0);
  for (const char* matrix : {" 0x80084D02 ", " 0x80044D03 ", " 0xC0084D04 ", " 0xC0084D05 "})
    EXPECT_EQ(journal.out.find(matrix), std::string::npos) << journal.out;
}

}  // namespace
