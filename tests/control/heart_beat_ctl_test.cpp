// The heartbeat bound first to a session with a TCP controller; the loop
// clock is the test clock, the sockets and the loop are real.
#include "control/heart_beat_ctl.h"

#include <gtest/gtest.h>

#include "runtime/test_clock.h"
#include "tests/control/session_test_support.h"

namespace {

using linktest::Capture;

class HeartBeatTest : public linktest::Session {
 protected:
  HeartBeatTest() : clock(100) { server.Bind(&heartbeat); }
  Mux::TestClock clock;
  HeartBeatCtl heartbeat;
};

TEST_F(HeartBeatTest, OneCommandThenSilenceClosesTheConnection) {
  start();
  send("{ seq 3, pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ seq 3, pdu response : success : NULL }");
  Capture log(std::clog), err(std::cerr);
  clock.advance(HeartBeatCtl::timeout_ms - 1);
  EXPECT_EQ(log.str(), "");
  EXPECT_TRUE(connected());
  clock.advance(1);
  EXPECT_EQ(log.str(), "heartbeat timeout!!!\n");
  EXPECT_FALSE(connected());
  EXPECT_FALSE(heartbeat.armed());
  // The controller's connection really ends.
  EXPECT_TRUE(controller.awaitClose());
  clock.advance(HeartBeatCtl::timeout_ms * 2);
  EXPECT_EQ(linktest::count(log.str(), "heartbeat timeout!!!"), 1u);
}

// Rejected requests reach no service (checked with the session), so only
// what the services see counts, claimed or not.
TEST_F(HeartBeatTest, EveryCommandThatReachesTheServicesRestartsTheTimer) {
  start();
  send("{ pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ pdu response : success : NULL }");
  clock.advance(100000);
  send("{ seq 1, pdu command : display : snmpTrapReceivers : { } }");
  EXPECT_EQ(receive(), "{ seq 1, pdu response : error : unexpectedMsgType }");
  clock.advance(100000);
  EXPECT_TRUE(connected());
  Capture log(std::clog), err(std::cerr);
  clock.advance(20000);
  EXPECT_EQ(log.str(), "heartbeat timeout!!!\n");
  EXPECT_FALSE(connected());
}

// The next controller starts fresh: its own silence is counted from its
// connection.
TEST_F(HeartBeatTest, ADisconnectCancelsTheTimerAndTheNextControllerStartsFresh) {
  start();
  send("{ pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ pdu response : success : NULL }");
  EXPECT_TRUE(heartbeat.armed());
  Capture err(std::cerr), out(std::cout), log(std::clog);
  controller.close();
  ASSERT_TRUE(linktest::pump([&] { return !heartbeat.armed(); }));
  clock.advance(HeartBeatCtl::timeout_ms * 2);
  EXPECT_EQ(linktest::count(log.str(), "heartbeat timeout!!!"), 0u);
  ASSERT_TRUE(controller.connect(port));
  ASSERT_TRUE(linktest::pump([&] { return connected(); }));
  clock.advance(HeartBeatCtl::timeout_ms - 1);
  EXPECT_EQ(linktest::count(log.str(), "heartbeat timeout!!!"), 0u);
  EXPECT_TRUE(connected());
}

// A peer that connects and never sends a command cannot hold the only
// controller place: it is closed after the same silence, and a second
// controller, refused meanwhile, is then served.
TEST_F(HeartBeatTest, ConnectionThatSendsNothingIsClosedAndTheNextControllerIsServed) {
  start();
  EXPECT_TRUE(heartbeat.armed());
  Capture err(std::cerr), out(std::cout), log(std::clog);
  linktest::Peer second;
  ASSERT_TRUE(second.connect(port));
  EXPECT_TRUE(second.awaitClose());
  // Half a command does not count: only a whole one restarts the timer.
  controller.send({0x03, 0x00, 0x00, 0x06, 0x06});
  linktest::settle();
  clock.advance(HeartBeatCtl::timeout_ms - 1);
  EXPECT_TRUE(connected());
  EXPECT_EQ(linktest::count(log.str(), "heartbeat timeout!!!"), 0u);
  clock.advance(1);
  EXPECT_EQ(linktest::count(log.str(), "heartbeat timeout!!!"), 1u);
  EXPECT_TRUE(controller.awaitClose());
  ASSERT_TRUE(second.connect(port));
  ASSERT_TRUE(linktest::pump([&] { return connected(); }));
  second.send(linktest::tpkt(linktest::encode("{ seq 9, pdu command : ping : NULL }")));
  std::vector<unsigned char> payload;
  ASSERT_TRUE(second.frame(payload));
  EXPECT_EQ(linktest::decode(payload), "{ seq 9, pdu response : success : NULL }");
}

}  // namespace
