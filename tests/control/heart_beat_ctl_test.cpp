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

TEST_F(HeartBeatTest, AConnectionThatNeverSendsACommandIsNeverTimedOut) {
  start();
  Capture log(std::clog);
  clock.advance(HeartBeatCtl::timeout_ms * 3);
  EXPECT_EQ(log.str(), "");
  EXPECT_TRUE(connected());
}

TEST_F(HeartBeatTest, EveryCommandThatReachesTheServicesRestartsTheTimerButRejectedOnesDoNot) {
  start();
  send("{ pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ pdu response : success : NULL }");
  clock.advance(100000);
  // Unclaimed, but it reached the services.
  send("{ seq 1, pdu command : display : snmpTrapReceivers : { } }");
  EXPECT_EQ(receive(), "{ seq 1, pdu response : error : unexpectedMsgType }");
  clock.advance(100000);
  EXPECT_TRUE(connected());
  // Refused before any service sees them.
  controller.send(linktest::tpkt({0x40, 0x04, 0x00, 0x18}));
  EXPECT_EQ(receive(), "{ pdu response : error : invalidSlot }");
  send("{ seq 2, pdu response : success : NULL }");
  EXPECT_EQ(receive(), "{ seq 2, pdu response : error : unexpectedMsgType }");
  Capture log(std::clog), err(std::cerr);
  clock.advance(20000);
  EXPECT_EQ(log.str(), "heartbeat timeout!!!\n");
  EXPECT_FALSE(connected());
}

TEST_F(HeartBeatTest, PingWithASlotEchoesIt) {
  start();
  send("{ seq 3, slot 5, pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ seq 3, slot 5, pdu response : success : NULL }");
}

TEST_F(HeartBeatTest, ADisconnectCancelsTheTimerAndTheNextControllerStartsFresh) {
  start();
  send("{ pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ pdu response : success : NULL }");
  EXPECT_TRUE(heartbeat.armed());
  Capture err(std::cerr), out(std::cout), log(std::clog);
  controller.close();
  ASSERT_TRUE(linktest::pump([&] { return !heartbeat.armed(); }));
  ASSERT_TRUE(controller.connect(port));
  ASSERT_TRUE(linktest::pump([&] { return connected(); }));
  clock.advance(HeartBeatCtl::timeout_ms * 2);
  EXPECT_EQ(linktest::count(log.str(), "heartbeat timeout!!!"), 0u);
}

TEST(HeartBeatCtl, TheDaemonsInstanceIsOneAndItsPrefixIsNamed) {
  EXPECT_EQ(HeartBeatCtl::instance(), HeartBeatCtl::instance());
  std::ostringstream s;
  HeartBeatCtl::instance()->PutHeader(s);
  EXPECT_EQ(s.str(), "heartbeat: ");
}

}  // namespace
