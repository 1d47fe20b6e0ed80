// The listening links on the loopback, with plain TCP peers, through the
// real loop.
#include "control/acceptor_net.h"

#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "runtime/test_clock.h"
#include "tests/control/link_test_support.h"
#include "tests/runtime/test_process.h"

namespace {

using Bytes = std::vector<unsigned char>;
using linktest::Capture;
using linktest::Peer;
using linktest::pump;

struct User : Control::Notify {
  std::vector<std::string> events;
  std::vector<Bytes> messages;
  Control::Service* link = nullptr;
  bool echo = false;
  std::function<void()> onConnect;
  void OnConnect() override {
    events.push_back("connect");
    if (onConnect) onConnect();
  }
  void OnDisconnect() override { events.push_back("disconnect"); }
  void OnMessage(const char* data, int length) override {
    messages.emplace_back(data, data + length);
    if (echo && link) link->Send(data, length);
  }
};

int keepIdle(int fd) {
  int v = -1;
  socklen_t len = sizeof v;
  ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &v, &len);
  return v;
}

class AcceptorTest : public ::testing::Test {
 protected:
  AcceptorTest() : port(linktest::freePort()), link(port) {
    user.link = &link;
    link.Bind(&user);
  }
  void activate() {
    Capture err(std::cerr);
    ASSERT_TRUE(link.Activate());
    ASSERT_TRUE(link.listening()) << err.str();
  }
  // Connects a peer and waits until the link has taken it.
  void connect(Peer& p) {
    ASSERT_TRUE(p.connect(port));
    ASSERT_TRUE(pump([&] { return link.state() == Control::Service::State::Connected; }));
  }

  int port;
  User user;
  Control::AcceptorNetCheckConnection link;
};

TEST_F(AcceptorTest, PeerConnectsExchangesMessagesItsCloseReachesTheUserOnALaterPassAndDeactivateStopsListening) {
  activate();
  Capture out(std::cout), err(std::cerr);
  Peer a;
  connect(a);
  EXPECT_EQ(out.str(), "new connection from 127.0.0.1:" + std::to_string(a.localPort()) + "\n");
  EXPECT_EQ(link.GetName(), "127.0.0.1:" + std::to_string(a.localPort()));
  EXPECT_EQ(user.events, (std::vector<std::string>{"connect"}));

  user.echo = true;
  a.send(linktest::tpkt({0x41, 0x42}));
  std::vector<unsigned char> back;
  ASSERT_TRUE(a.frame(back));
  EXPECT_EQ(back, (Bytes{0x41, 0x42}));
  EXPECT_EQ(user.messages, (std::vector<Bytes>{{0x41, 0x42}}));

  a.close();
  ASSERT_TRUE(pump([&] { return link.state() == Control::Service::State::Deactivating; }));
  // Closed, but the user is told only on the next pass.
  EXPECT_EQ(user.events.size(), 1u);
  EXPECT_EQ(err.str(), "control connection " + link.GetName() + " closed.\n");
  multiplexer.run_once(0);
  EXPECT_EQ(user.events, (std::vector<std::string>{"connect", "disconnect"}));
  EXPECT_EQ(link.state(), Control::Service::State::Connecting);
  EXPECT_EQ(link.checked_fd(), -1);

  link.Deactivate();
  EXPECT_FALSE(link.listening());
  EXPECT_EQ(link.state(), Control::Service::State::Idle);
  EXPECT_FALSE(a.connect(port));
}

TEST_F(AcceptorTest, SecondPeerIsRefusedWhileTheFirstIsServedAndTakenAfterItLeaves) {
  Mux::TestClock clock(5000);
  activate();
  Capture out(std::cout), err(std::cerr);
  Peer a, b;
  connect(a);
  ASSERT_TRUE(b.connect(port));
  ASSERT_TRUE(b.awaitClose());
  EXPECT_EQ(linktest::count(err.str(), "refuse connection from 127.0.0.1:" + std::to_string(b.localPort()) + "\n"), 1u)
      << err.str();
  EXPECT_NE(err.str().find("CheckConnectionState CheckConnection\n"), std::string::npos);
  // The current connection is probed fast until a check finds it healthy.
  EXPECT_EQ(link.check_state(), Control::AcceptorNetCheckConnection::Checking);
  EXPECT_EQ(keepIdle(link.checked_fd()), 1);
  // A healthy one returns to the normal keep-alive at the next check.
  if (!testproc::Emulator()) {  // qemu-user: TCP_INFO comes back as an int, not the record
    clock.advance(1000);
    EXPECT_EQ(link.check_state(), Control::AcceptorNetCheckConnection::Idle);
    EXPECT_EQ(keepIdle(link.checked_fd()), 7200);
    EXPECT_NE(err.str().find("CheckConnectionState Idle\n"), std::string::npos);
    EXPECT_EQ(link.state(), Control::Service::State::Connected);
  }

  user.echo = true;
  a.send(linktest::tpkt({0x01}));
  Bytes back;
  ASSERT_TRUE(a.frame(back));  // the first is unaffected

  a.close();
  ASSERT_TRUE(pump([&] { return user.events.size() == 2; }));
  ASSERT_TRUE(b.connect(port));
  ASSERT_TRUE(pump([&] { return user.events.size() == 3; }));
  EXPECT_EQ(link.GetName(), "127.0.0.1:" + std::to_string(b.localPort()));
}

// A peer that comes while the close of the last connection is still to be
// reported (here the link drops its first peer while greeting it, as a
// failed write does) is taken once that close has been reported, never
// turned away for a predecessor already gone.
TEST_F(AcceptorTest, APeerComingBeforeTheLastCloseIsReportedIsTakenAfterIt) {
  activate();
  Capture out(std::cout), err(std::cerr);
  Peer a, b;
  bool second = false;
  user.onConnect = [&] {
    if (user.events.size() > 1) return;
    link.Disconnect();
    second = b.connect(port);
  };
  ASSERT_TRUE(a.connect(port));
  ASSERT_TRUE(pump([&] { return user.events.size() == 3; })) << err.str();
  ASSERT_TRUE(second);
  EXPECT_EQ(user.events, (std::vector<std::string>{"connect", "disconnect", "connect"}));
  EXPECT_EQ(link.GetName(), "127.0.0.1:" + std::to_string(b.localPort()));
  EXPECT_EQ(err.str().find("refuse connection"), std::string::npos) << err.str();
}

// When the link drops a connection itself, the peer sees it end at once: the
// descriptor kept for the check goes too.
TEST_F(AcceptorTest, DisconnectEndsThePeersConnection) {
  activate();
  Capture out(std::cout), err(std::cerr);
  Peer a;
  connect(a);
  link.Disconnect();
  EXPECT_EQ(link.state(), Control::Service::State::Deactivating);
  ASSERT_TRUE(a.awaitClose());
  EXPECT_EQ(link.checked_fd(), -1);
  EXPECT_EQ(user.events, (std::vector<std::string>{"connect", "disconnect"}));
}

TEST_F(AcceptorTest, WithoutAConnectionSendIsDroppedAndDisconnectStillRunsTheClosePath) {
  activate();
  Capture err(std::cerr);
  link.Send("x", 1);
  link.Disconnect();
  EXPECT_EQ(err.str(),
            "Control::Service::Send() ignore Send request in Connecting state.\ncontrol connection  closed.\n");
  EXPECT_TRUE(user.events.empty());
  multiplexer.run_once(0);
  EXPECT_EQ(user.events, (std::vector<std::string>{"disconnect"}));
  EXPECT_EQ(link.state(), Control::Service::State::Connecting);
}

// The status timers go on sending while no controller is there: one line
// when the first send is refused, and the count when a peer comes.
TEST_F(AcceptorTest, SendsRefusedWithoutAConnectionAreLoggedOnceAndCountedOnTheNextConnection) {
  activate();
  Capture out(std::cout), err(std::cerr);
  for (int i = 0; i < 1000; ++i) link.Send("x", 1);
  EXPECT_EQ(err.take(), "Control::Service::Send() ignore Send request in Connecting state.\n");
  Peer a;
  connect(a);
  EXPECT_EQ(err.take(), "Control::Service::Send() ignored 1000 Send requests while not connected.\n");
  link.Send("y", 1);
  Bytes back;
  ASSERT_TRUE(a.frame(back));
  a.close();
  ASSERT_TRUE(pump([&] { return user.events.size() == 2; }));
  err.take();
  // A new absence starts a new count.
  link.Send("x", 1);
  EXPECT_EQ(err.take(), "Control::Service::Send() ignore Send request in Connecting state.\n");
  Peer b;
  connect(b);
  EXPECT_EQ(err.take(), "Control::Service::Send() ignored 1 Send request while not connected.\n");
  // Connected, nothing was refused: no line.
  b.close();
  ASSERT_TRUE(pump([&] { return user.events.size() == 4; }));
  err.take();
  Peer c;
  connect(c);
  EXPECT_EQ(err.str(), "");
}

TEST_F(AcceptorTest, LargestPayloadIsSentAndALongerOneIsRefused) {
  activate();
  Capture out(std::cout), err(std::cerr);
  Peer a;
  connect(a);
  const std::string largest(65531, 'q');
  link.Send(largest.data(), static_cast<int>(largest.size()));
  Bytes back;
  ASSERT_TRUE(a.frame(back));
  EXPECT_EQ(back.size(), 65531u);
  const std::string longer(65532, 'q');
  link.Send(longer.data(), static_cast<int>(longer.size()));
  EXPECT_EQ(err.str(), "Control::Service::Send() refuse message of 65532 octets, max 65531.\n");
  linktest::settle();
  a.poll();
  EXPECT_TRUE(a.pending().empty());
  EXPECT_EQ(link.state(), Control::Service::State::Connected);
}

TEST_F(AcceptorTest, PortInUseIsRetriedEveryFiveSecondsUntilFree) {
  Mux::TestClock clock(0);
  // A listener of our own holds the port.
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = testkit::loopback(port);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(s, 1), 0);
  Capture err(std::cerr);
  ASSERT_TRUE(link.Activate());
  EXPECT_FALSE(link.listening());
  EXPECT_EQ(err.str(), "can't bind to socket: \"Address already in use\"  waiting...\n");
  clock.advance(4999);
  EXPECT_EQ(linktest::count(err.str(), "waiting..."), 1u);
  clock.advance(1);
  EXPECT_EQ(linktest::count(err.str(), "waiting..."), 2u);
  ::close(s);
  clock.advance(5000);
  EXPECT_TRUE(link.listening());
  EXPECT_EQ(linktest::count(err.str(), "waiting..."), 2u);
}

}  // namespace
