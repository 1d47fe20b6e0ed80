// The connecting links: retry schedule on the test clock, and links of both
// kinds talking to each other through the real loop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "control/acceptor_net.h"
#include "control/acceptor_unix.h"
#include "control/connector_net.h"
#include "control/connector_unix.h"
#include "runtime/test_clock.h"
#include "tests/control/link_test_support.h"

namespace connector_test {  // named: see "Unity builds" in tests/README.md

using Bytes = std::vector<unsigned char>;
using linktest::Capture;
using linktest::pump;

struct User : Control::Notify {
  std::vector<std::string> events;
  std::vector<std::string> messages;
  void OnConnect() override { events.push_back("connect"); }
  void OnDisconnect() override { events.push_back("disconnect"); }
  void OnMessage(const char* data, int length) override { messages.emplace_back(data, length); }
};

std::size_t attempts(const std::string& err) {
  return linktest::count(err, "can't connect to ") + linktest::count(err, "fail to connect to ");
}

// Waits (in real time) until the attempt under way has failed, so that the
// test clock decides only when the next one starts.
void awaitAttempts(const Capture& err, std::size_t n) {
  ASSERT_TRUE(pump([&] { return attempts(err.str()) >= n; })) << err.str();
}

TEST(ConnectorNet, RetriesEverySecondSevenTimesThenSlowlyConnectsOnceHeardAndExchangesMessages) {
  Mux::TestClock clock(0);
  const int port = linktest::freePort();
  User user;
  Control::ConnectorNet link("127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(link.host(), "127.0.0.1");
  EXPECT_EQ(link.port(), port);
  link.Bind(&user);
  Capture out(std::cout), err(std::cerr), log(std::clog);
  ASSERT_TRUE(link.Activate());
  awaitAttempts(err, 1);
  for (std::size_t n = 2; n <= 8; ++n) {
    clock.advance(1000);
    awaitAttempts(err, n);
  }
  EXPECT_EQ(link.retry_budget(), 0);
  // Then 20 s after a refused connect, 15 s after a reported hang-up: not
  // within 11 s anyway.
  clock.advance(11000);
  linktest::settle();
  EXPECT_EQ(attempts(err.str()), 8u) << err.str();
  EXPECT_NE(err.str().find("connect to 127.0.0.1:" + std::to_string(port)), std::string::npos) << err.str();

  User far;
  Control::AcceptorNet server(port, false);
  server.Bind(&far);
  ASSERT_TRUE(server.Activate());
  clock.advance(9000);
  ASSERT_TRUE(pump([&] { return !user.events.empty(); }));
  EXPECT_EQ(link.state(), Control::Service::State::Connected);
  EXPECT_TRUE(out.str() == "connected to 127.0.0.1:" + std::to_string(port) + ".\n" ||
              log.str() == "already connected to 127.0.0.1:" + std::to_string(port) + "\n")
      << out.str() << log.str();
  ASSERT_TRUE(pump([&] { return server.state() == Control::Service::State::Connected; }));
  link.Send("ping", 4);
  server.Send("pong", 4);
  link.Send("", 0);
  ASSERT_TRUE(pump([&] { return far.messages.size() == 2 && user.messages.size() == 1; }));
  EXPECT_EQ(far.messages, (std::vector<std::string>{"ping", ""}));
  EXPECT_EQ(user.messages, (std::vector<std::string>{"pong"}));

  // The far end drops the connection: tried again 10 s later.
  server.Disconnect();
  ASSERT_TRUE(pump([&] { return user.events.size() == 2; }));
  EXPECT_EQ(user.events[1], "disconnect");
  const std::size_t before = attempts(err.str());
  clock.advance(9999);
  linktest::settle();
  EXPECT_EQ(link.state(), Control::Service::State::Connecting);
  clock.advance(1);
  ASSERT_TRUE(pump([&] { return user.events.size() == 3; })) << err.str();
  EXPECT_EQ(attempts(err.str()), before);
  link.Deactivate();
  EXPECT_EQ(link.state(), Control::Service::State::Idle);
}

class UnixLinks : public ::testing::Test {
 protected:
  UnixLinks() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kvu.XXXXXX").string();
    dir = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~UnixLinks() override { std::filesystem::remove_all(dir); }
  std::string dir;
};

TEST_F(UnixLinks, ConnectorRetriesUntilTheAcceptorListensAndASecondPeerIsRefused) {
  Mux::TestClock clock(0);
  const std::string path = dir + "/ctl.sock";
  User far, near, other;
  Capture out(std::cout), err(std::cerr), log(std::clog);
  Control::ConnectorUnix link(path, dir + "/me.sock");
  link.Bind(&near);
  link.Activate();
  EXPECT_EQ(err.str(), "can't connect to " + path + " : No such file or directory\n");
  Control::AcceptorUnix server(path);
  server.Bind(&far);
  ASSERT_TRUE(server.Activate());
  ASSERT_TRUE(server.listening()) << err.str();
  clock.advance(1000);
  EXPECT_EQ(log.str(), "connected to " + path + "\n");
  ASSERT_TRUE(pump([&] { return !far.events.empty() && !near.events.empty(); }));
  EXPECT_EQ(server.GetName(), dir + "/me.sock");
  EXPECT_EQ(out.str(), "new connection from " + dir + "/me.sock\n");
  link.Send("up", 2);
  server.Send("down", 4);
  ASSERT_TRUE(pump([&] { return far.messages.size() == 1 && near.messages.size() == 1; }));
  EXPECT_EQ(far.messages[0], "up");
  EXPECT_EQ(near.messages[0], "down");

  Control::ConnectorUnix second(path);
  second.Bind(&other);
  second.Activate();
  ASSERT_TRUE(pump([&] { return !other.events.empty() && other.events.back() == "disconnect"; })) << err.str();
  EXPECT_NE(err.str().find("refuse connection from \n"), std::string::npos) << err.str();
  second.Deactivate();
}

// Deactivated while the close of a refused connection is still to be
// reported: the user hears nothing more and no attempt follows.
TEST_F(UnixLinks, DeactivatedBetweenCloseAndItsReportStaysQuiet) {
  Mux::TestClock clock(0);
  const std::string path = dir + "/ctl.sock";
  User far, near, other;
  Capture out(std::cout), err(std::cerr), log(std::clog);
  Control::AcceptorUnix server(path);
  server.Bind(&far);
  ASSERT_TRUE(server.Activate());
  Control::ConnectorUnix link(path);
  link.Bind(&near);
  link.Activate();
  ASSERT_TRUE(pump([&] { return !far.events.empty(); }));

  Control::ConnectorUnix second(path);
  second.Bind(&other);
  second.Activate();
  ASSERT_TRUE(pump([&] { return second.state() == Control::Service::State::Deactivating; })) << err.str();
  second.Deactivate();
  EXPECT_EQ(second.state(), Control::Service::State::Idle);
  linktest::settle();
  clock.advance(60000);
  linktest::settle();
  EXPECT_EQ(other.events, std::vector<std::string>{"connect"});
  EXPECT_EQ(linktest::count(err.str(), "refuse connection from "), 1u) << err.str();
  EXPECT_EQ(second.state(), Control::Service::State::Idle);
}

TEST_F(UnixLinks, DeactivatedConnectorTriesNoMore) {
  Mux::TestClock clock(0);
  Control::ConnectorUnix link(dir + "/nobody.sock");
  Capture err(std::cerr);
  link.Activate();
  link.Deactivate();
  clock.advance(60000);
  EXPECT_EQ(linktest::count(err.str(), "can't connect to "), 1u);
}

}  // namespace connector_test
