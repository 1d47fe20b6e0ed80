// The controller session: dispatch, the answer rules, signals and the
// connection events, with a TCP controller on the loopback.
#include "control/ctrl_server.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/timer.h"
#include "tests/control/session_test_support.h"

namespace {

using linktest::Capture;

struct Probe : CtrlSrv::Service {
  Probe(const std::string& n, std::vector<std::string>* j) : name(n), journal(j) {}
  void OnConnect() override { journal->push_back(name + " connect"); }
  void OnDisconnect() override { journal->push_back(name + " disconnect"); }
  bool OnCommand(const LGCP::Command& c) override {
    journal->push_back(name + " command " + c.getSelectionName());
    return handle ? handle(c) : false;
  }
  void OnSignal(const LGCP::Signal& s) override { journal->push_back(name + " signal " + s.getSelectionName()); }

  std::string name;
  std::vector<std::string>* journal;
  std::function<bool(const LGCP::Command&)> handle;
};

LGCP::Signal activated() {
  LGCP::Signal s;
  s.select_activated();
  return s;
}

class ServerTest : public linktest::Session {
 protected:
  ServerTest() : a("a", &journal), b("b", &journal), c("c", &journal) {
    server.Bind(&a);
    server.Bind(&b);
    server.Bind(&c);
  }
  std::vector<std::string> journal;
  Probe a, b, c;
};

TEST_F(ServerTest, CommandGoesToTheServicesInBindOrderUntilOneClaimsIt) {
  start();
  EXPECT_EQ(startLog, "ctrl [127.0.0.1:" + std::to_string(controller.localPort()) + "]: controller connect.\n");
  journal.clear();
  b.handle = [&](const LGCP::Command&) {
    b.Success();
    return true;
  };
  send("{ seq 7, pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ seq 7, pdu response : success : NULL }");
  EXPECT_EQ(journal, (std::vector<std::string>{"a command ping", "b command ping"}));
  EXPECT_TRUE(quiet());

  journal.clear();
  b.handle = nullptr;
  send("{ slot 3, pdu command : protoVesk : { } }");
  EXPECT_EQ(receive(), "{ slot 3, pdu response : error : unexpectedMsgType }");
  EXPECT_EQ(journal.size(), 3u);
}

TEST_F(ServerTest, AtMostOneSuccessAndOneErrorAndNoSuccessAfterAnError) {
  start();
  a.handle = [&](const LGCP::Command& cmd) {
    if (cmd.getSelection() == LGCP::Command::e_ping) {
      a.Success();
      a.Success();
      a.Error(LGCP::ErrorCause::busError);
      a.Error(LGCP::ErrorCause::internal);
    } else {
      a.Error(LGCP::ErrorCause::unsupported);
      a.Success();
    }
    return true;
  };
  send("{ seq 1, pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ seq 1, pdu response : success : NULL }");
  EXPECT_EQ(receive(), "{ seq 1, pdu response : error : busError }");
  send("{ pdu command : query : NULL }");
  EXPECT_EQ(receive(), "{ pdu response : error : unsupported }");
  EXPECT_TRUE(quiet());
}

TEST_F(ServerTest, ClaimedButUnansweredIsAnsweredInternalWithTwoLogLines) {
  start();
  a.handle = [](const LGCP::Command&) { return true; };
  Capture err(std::cerr);
  send("{ seq 4, slot 2, pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ seq 4, slot 2, pdu response : error : internal }");
  const std::string prefix = "ctrl [127.0.0.1:" + std::to_string(controller.localPort()) + "]: ";
  EXPECT_EQ(err.str(), prefix +
                           "software error: server do NOT send ack!!!\n"
                           "please contact with techsupport (support@korvend.example)\n");
}

TEST_F(ServerTest, RejectedAndUndecodableRequestsReachNoService) {
  start();
  journal.clear();
  Capture err(std::cerr);
  // Undecodable: logged and unanswered, so the first answer is the next one's.
  controller.send(linktest::tpkt({0xFF, 0x01}));
  controller.send(linktest::tpkt({}));
  controller.send(linktest::tpkt({0x40, 0x04, 0x00, 0x18}));  // slot 1024: the coder would not write it
  EXPECT_EQ(receive(), "{ pdu response : error : invalidSlot }");
  send("{ seq 9, pdu response : success : NULL }");
  EXPECT_EQ(receive(), "{ seq 9, pdu response : error : unexpectedMsgType }");
  send("{ seq 10, slot 4, pdu signal : activated : NULL }");
  EXPECT_EQ(receive(), "{ seq 10, pdu response : error : unexpectedMsgType }");
  EXPECT_TRUE(journal.empty());
  const std::string prefix = "ctrl [127.0.0.1:" + std::to_string(controller.localPort()) + "]: ";
  EXPECT_EQ(err.str(),
            prefix + "receive fail: decode error!\n msg: FF 01 \n" + prefix + "receive fail: decode error!\n msg: \n");
}

// A frame of junk as long as TPKT allows costs a line of 64 octets, not a
// line of 65531; one of 64 is shown whole.
TEST_F(ServerTest, DumpOfAnUndecodableFrameStopsAtSixtyFourOctets) {
  start();
  Capture err(std::cerr);
  std::string sixtyFour;
  for (int i = 0; i < 64; ++i) sixtyFour += "FF ";
  const std::string prefix = "ctrl [127.0.0.1:" + std::to_string(controller.localPort()) + "]: ";
  controller.send(linktest::tpkt(std::vector<unsigned char>(64, 0xFF)));
  ASSERT_TRUE(linktest::pump([&] { return !err.str().empty(); }));
  EXPECT_EQ(err.take(), prefix + "receive fail: decode error!\n msg: " + sixtyFour + "\n");
  controller.send(linktest::tpkt(std::vector<unsigned char>(65531, 0xFF)));
  ASSERT_TRUE(linktest::pump([&] { return !err.str().empty(); }));
  EXPECT_EQ(err.take(), prefix + "receive fail: decode error!\n msg: " + sixtyFour + "... (65531 octets)\n");
  send("{ seq 2, pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ seq 2, pdu response : error : unexpectedMsgType }");
}

TEST_F(ServerTest, DelayedAnswerCarriesTheRequestsSeqOrNone) {
  start();
  CtrlSrv::DelayedSeq handle;
  a.handle = [&](const LGCP::Command&) {
    handle = a.delayResponse();
    return true;
  };
  send("{ seq 21, slot 6, pdu command : destroy : NULL }");
  EXPECT_TRUE(quiet());  // deferred: neither an answer nor the internal error
  ASSERT_TRUE(handle.has_value());
  EXPECT_EQ(*handle, 21u);
  a.delayedSuccess(6, handle);
  EXPECT_EQ(receive(), "{ seq 21, slot 6, pdu response : success : NULL }");

  // A request without seq: the late answer has none either, not the 21 of
  // the request before.
  send("{ slot 7, pdu command : destroy : NULL }");
  EXPECT_TRUE(quiet());
  EXPECT_FALSE(handle.has_value());
  a.delayedSuccess(7, handle);
  EXPECT_EQ(receive(), "{ slot 7, pdu response : success : NULL }");
  // A seq 0 handed over by hand is sent.
  a.delayedSuccess(8, 0u);
  EXPECT_EQ(receive(), "{ seq 0, slot 8, pdu response : success : NULL }");
}

struct Ticker {
  Timer t;
  std::function<void()> f;
  void OnTick() { f(); }
};

TEST_F(ServerTest, SignalsGoToTheOtherServicesFirstAndCarryTheSlotOnlyDuringARequestWithOne) {
  start();
  journal.clear();
  b.handle = [&](const LGCP::Command&) {
    b.SendSignal(activated());
    b.Success();
    return true;
  };
  send("{ seq 2, slot 5, pdu command : deactivate : NULL }");
  EXPECT_EQ(receive(), "{ slot 5, pdu signal : activated : NULL }");
  EXPECT_EQ(receive(), "{ seq 2, slot 5, pdu response : success : NULL }");
  EXPECT_EQ(journal, (std::vector<std::string>{"a command deactivate", "b command deactivate", "a signal activated",
                                               "c signal activated"}));
  send("{ seq 3, pdu command : ping : NULL }");
  EXPECT_EQ(receive(), "{ pdu signal : activated : NULL }");
  EXPECT_EQ(receive(), "{ seq 3, pdu response : success : NULL }");

  // From a timer, after the request: no slot; with a slot given: that one.
  Ticker tick;
  tick.f = [&] {
    c.SendSignal(activated());
    c.SendSignal(12, activated());
  };
  tick.t.set(0, &Ticker::OnTick, &tick);
  EXPECT_EQ(receive(), "{ pdu signal : activated : NULL }");
  EXPECT_EQ(receive(), "{ slot 12, pdu signal : activated : NULL }");
}

TEST_F(ServerTest, ConnectAndDisconnectReachEveryServiceInBindOrder) {
  start();
  EXPECT_EQ(journal, (std::vector<std::string>{"a connect", "b connect", "c connect"}));
  journal.clear();
  Capture err(std::cerr);
  controller.close();
  ASSERT_TRUE(linktest::pump([&] { return journal.size() == 3; }));
  EXPECT_EQ(journal, (std::vector<std::string>{"a disconnect", "b disconnect", "c disconnect"}));
  // Once more when the session is deactivated, with or without a controller.
  journal.clear();
  server.Deactivate();
  EXPECT_EQ(journal, (std::vector<std::string>{"a disconnect", "b disconnect", "c disconnect"}));
  EXPECT_EQ(server.link(), nullptr);
}

TEST_F(ServerTest, LogPrefixFollowsTheLinkAndWithoutOneNothingIsSent) {
  std::ostringstream s;
  server.PutHeader(s);
  EXPECT_EQ(s.str(), "ctrl [null]: ");
  bool connected = true;
  EXPECT_FALSE(a.CheckServerConnection(connected));
  Capture err(std::cerr);
  a.SendSignal(activated());
  EXPECT_EQ(err.str(), "ctrl [null]: send fail: Service not attached!\n");
  ASSERT_TRUE(server.Activate(new Control::AcceptorNetCheckConnection(port)));
  s.str("");
  server.PutHeader(s);
  EXPECT_EQ(s.str(), "ctrl [not connected]: ");
}

TEST(UnboundService, ReportsEveryUseAndAnswersTheDefaults) {
  std::vector<std::string> journal;
  Probe p("p", &journal);
  Capture err(std::cerr);
  p.Success();
  p.SendSignal(3, activated());
  EXPECT_FALSE(p.IsSlotPresent());
  EXPECT_EQ(p.delayResponse(), CtrlSrv::DelayedSeq(0xFFFFFFFFu));
  p.delayedSuccess(1, 2u);
  bool connected = true;
  EXPECT_FALSE(p.CheckServerConnection(connected));
  // One line for each use but the connection query; none of them crashes.
  EXPECT_EQ(linktest::count(err.str(), "CtrlSrv::Service error! service not connected to server.\n"), 5u);
  EXPECT_EQ(linktest::count(err.str(), "\n"), 5u);
}

TEST(ServiceLifetime, AServiceDestroyedFirstLeavesItsSession) {
  std::vector<std::string> journal;
  CtrlSrv::Server server;
  {
    Probe p("gone", &journal);
    server.Bind(&p);
    EXPECT_EQ(server.services().size(), 1u);
  }
  EXPECT_TRUE(server.services().empty());
  Probe q("kept", &journal);
  {
    CtrlSrv::Server shortLived;
    shortLived.Bind(&q);
  }
  EXPECT_EQ(q.server(), nullptr);
}

}  // namespace
