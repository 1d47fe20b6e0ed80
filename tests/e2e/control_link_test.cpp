// The controller link of the real korvend-sim, driven only over TCP with
// fixed octets: every request and every expected reply below is written
// out in hex, independently of the daemon's coder.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/e2e/daemon_harness.h"
#include "tests/e2e/raw_client.h"

namespace {

using namespace std::chrono_literals;
using e2e::hex;
using e2e::RawClient;

class ControlLink : public ::testing::Test {
 protected:
  ControlLink()
      : port(e2e::freePort()), daemon(e2e::simBinary(), root.dir(), {"--port", std::to_string(port)}, root.dir()) {}
  ~ControlLink() override {
    daemon.signal(SIGTERM);
    daemon.wait();
  }
  // Connects, retrying while the daemon starts (or is still closing the
  // previous controller's connection).
  void connect(RawClient& c) {
    ASSERT_TRUE(e2e::waitFor([&] { return c.connect(port); })) << daemon.err();
  }
  // Connects and proves the connection is served.
  void connectServed(RawClient& c) {
    ASSERT_TRUE(e2e::waitFor([&] {
      return c.connect(port) && c.sendPayload(hex("80 01 63 18")) && c.replyHex(2s) == "80 01 63 40";
    })) << daemon.err();
  }
  std::string prefix(const RawClient& c) const { return "ctrl [127.0.0.1:" + std::to_string(c.localPort()) + "]: "; }

  e2e::Root root;
  int port;
  e2e::Daemon daemon;
};

TEST_F(ControlLink, PingAndTheEnvelopeRulesOctetForOctet) {
  RawClient c;
  connectServed(c);
  // ping, seq 7
  c.sendPayload(hex("80 01 07 18"));
  EXPECT_EQ(c.replyHex(), "80 01 07 40");
  // ping, no seq: answered without seq
  c.sendPayload(hex("06 00"));
  EXPECT_EQ(c.replyHex(), "10");
  // ping, seq 3, slot 5: both echoed
  c.sendPayload(hex("C0 01 03 00 05 18"));
  EXPECT_EQ(c.replyHex(), "C0 01 03 00 05 40");
  // ping, slot 1024: invalidSlot, without slot
  c.sendPayload(hex("40 04 00 18"));
  EXPECT_EQ(c.replyHex(), "18 80");
  // a response from the controller, seq 9: unexpectedMsgType
  c.sendPayload(hex("80 01 09 40"));
  EXPECT_EQ(c.replyHex(), "80 01 09 64");
  // a signal from the controller (activated), seq 10: unexpectedMsgType
  c.sendPayload(hex("80 01 0A 85"));
  EXPECT_EQ(c.replyHex(), "80 01 0A 64");
  // query with slot 0, seq 2: claimed by nobody
  c.sendPayload(hex("C0 01 02 00 00 00"));
  EXPECT_EQ(c.replyHex(), "C0 01 02 00 00 64");
  // Nothing else came but the trunks' status reports (signal trunkStatus,
  // no seq, no slot).
  for (const e2e::Bytes& s : c.signals()) EXPECT_EQ(s.at(0), 0x22) << hex(s);
}

TEST_F(ControlLink, GarbageIsLoggedUnansweredAndTheNextPingIsServed) {
  RawClient c;
  connectServed(c);
  c.write(hex("03 00 00 05 FF"));
  c.sendPayload(hex("80 01 07 18"));
  EXPECT_EQ(c.replyHex(), "80 01 07 40");  // the first frame back: nothing for the garbage
  const std::string line = prefix(c) + "receive fail: decode error!\n msg: FF \n";
  EXPECT_TRUE(e2e::waitFor([&] { return daemon.err().find(line) != std::string::npos; })) << daemon.err();
}

TEST_F(ControlLink, FrameSplitOctetByOctetAndTwoFramesInOneWrite) {
  RawClient c;
  connectServed(c);
  for (unsigned char b : e2e::tpkt(hex("80 01 01 18"))) {
    c.write({b});
    std::this_thread::yield();
  }
  EXPECT_EQ(c.replyHex(), "80 01 01 40");
  e2e::Bytes two = e2e::tpkt(hex("80 01 02 18"));
  const e2e::Bytes second = e2e::tpkt(hex("80 01 03 18"));
  two.insert(two.end(), second.begin(), second.end());
  c.write(two);
  EXPECT_EQ(c.replyHex(), "80 01 02 40");
  EXPECT_EQ(c.replyHex(), "80 01 03 40");
}

TEST_F(ControlLink, StalledPartialFrameIsDroppedAfterThreeSeconds) {
  RawClient c;
  connectServed(c);
  c.write(hex("03 00 00 10 01 02 03 04 05"));
  ASSERT_TRUE(e2e::waitFor([&] { return daemon.err().find(" TPKT packet timeout.\n") != std::string::npos; }, 10s))
      << daemon.err();
  c.sendPayload(hex("80 01 04 18"));
  EXPECT_EQ(c.replyHex(), "80 01 04 40");
}

TEST_F(ControlLink, SecondControllerIsRefusedWhileTheFirstIsUpAndTakenAfterItLeaves) {
  RawClient first, second;
  connectServed(first);
  connect(second);
  EXPECT_TRUE(second.awaitClose(5s));
  EXPECT_TRUE(e2e::waitFor([&] {
    return daemon.err().find("refuse connection from 127.0.0.1:" + std::to_string(second.localPort()) + "\n") !=
           std::string::npos;
  })) << daemon.err();
  first.sendPayload(hex("80 01 05 18"));
  EXPECT_EQ(first.replyHex(), "80 01 05 40");
  first.close();
  connectServed(second);
  EXPECT_NE(daemon.out().find("new connection from 127.0.0.1:" + std::to_string(second.localPort()) + "\n"),
            std::string::npos)
      << daemon.out();
}

// The one test that waits the heartbeat out in real time (about 120 s); the
// timer itself is tested on the test clock.
TEST_F(ControlLink, SlowOneCommandThenSilenceEndsInHeartbeatTimeoutAndAClosedConnection) {
  RawClient c;
  connectServed(c);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(c.awaitClose(150s));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 119s);
  EXPECT_EQ(e2e::count(daemon.err(), "heartbeat timeout!!!\n"), 1u) << daemon.err();
  EXPECT_NE(daemon.err().find("control connection 127.0.0.1:" + std::to_string(c.localPort()) + " closed.\n"),
            std::string::npos);
  RawClient next;
  connectServed(next);
}

}  // namespace
