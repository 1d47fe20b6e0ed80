// The stream layer on one end of a socket pair, driven by the real loop.
#include "control/strm_protocol.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/control/link_test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

class Stack : public ProtocolsList {
 public:
  Stack() { add_protocol_tail(strm = new StrmProtocol); }
  void on_message(Packet& p) override {
    reads.emplace_back(p.data(), p.data() + p.length());
    if (onRead) onRead();
  }
  void on_activated(Protocol*) override { active = true; }
  void on_deactivated(Protocol*, Protocol_status s) override {
    statuses.push_back(s->message());
    fdOpenWhenReported = strm->attached();
  }
  void send(const Bytes& bytes) {
    Packet p;
    strm->prepare_head(p);
    std::copy(bytes.begin(), bytes.end(), p.put(static_cast<unsigned>(bytes.size())));
    strm->message(p);
  }

  StrmProtocol* strm;
  std::function<void()> onRead;
  bool active = false;
  bool fdOpenWhenReported = false;
  std::vector<Bytes> reads;
  std::vector<std::string> statuses;
};

struct Pair {
  Pair() {
    int sv[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv);
    ours = Fd(sv[0]);
    theirs = sv[1];
  }
  ~Pair() {
    if (theirs >= 0) ::close(theirs);
  }
  Fd ours;
  int theirs;
};

TEST(StrmProtocol, WhatArrivesGoesUpAndThePeersCloseFailsTheLayerAfterReleasingIt) {
  Pair pair;
  Stack s;
  s.strm->attach(pair.ours);
  s.strm->activate();
  EXPECT_TRUE(s.active);
  ASSERT_EQ(::write(pair.theirs, "\x01\x02\x03", 3), 3);
  ASSERT_TRUE(linktest::pump([&] { return !s.reads.empty(); }));
  EXPECT_EQ(s.reads[0], (Bytes{1, 2, 3}));
  ::shutdown(pair.theirs, SHUT_WR);  // the peer's FIN: the next read gives 0
  ASSERT_TRUE(linktest::pump([&] { return !s.statuses.empty(); }));
  EXPECT_EQ(s.statuses[0].rfind("read error: ", 0), 0u) << s.statuses[0];
  EXPECT_FALSE(s.fdOpenWhenReported);
  EXPECT_FALSE(s.strm->attached());
}

TEST(StrmProtocol, WritesWholePacketsAnEmptyOneWritesNothingAndOnlyTheDebugFlagLogsThem) {
  Pair pair;
  Stack s;
  s.strm->attach(pair.ours);
  s.strm->activate();
  linktest::Capture log(std::clog);
  s.send({});
  s.send({9, 8, 7});
  char buf[16];
  EXPECT_EQ(::read(pair.theirs, buf, sizeof buf), 3);
  EXPECT_EQ(s.strm->write_measure().counter(), 2u);
  EXPECT_EQ(s.strm->write_failures(), 0u);
  EXPECT_EQ(log.str(), "");

  s.strm->set_debug(true);
  s.send({1});
  ASSERT_EQ(::write(pair.theirs, "x", 1), 1);
  ASSERT_TRUE(linktest::pump([&] { return !s.reads.empty(); }));
  EXPECT_EQ(linktest::count(log.str(), "SockStream[]: write success, sendbuf="), 1u) << log.str();
  EXPECT_EQ(linktest::count(log.str(), "SockStream[]: receive success, sendbuf="), 1u) << log.str();
}

TEST(StrmProtocol, WriteToAClosedPeerFailsWithTheQueuesOnTheErrorStream) {
  Pair pair;
  Stack s;
  s.strm->set_connection_name("server");
  s.strm->attach(pair.ours);
  ::close(pair.theirs);
  pair.theirs = -1;
  linktest::Capture err(std::cerr);
  s.send({1});
  EXPECT_EQ(err.str().rfind("SockStream[server]: write error, sendbuf=", 0), 0u) << err.str();
  EXPECT_NE(err.str().find(", error=Broken pipe\n"), std::string::npos) << err.str();
  EXPECT_EQ(s.statuses, (std::vector<std::string>{"write error: Broken pipe"}));
  EXPECT_EQ(s.strm->write_failures(), 1u);
  EXPECT_FALSE(s.strm->attached());
}

// A peer that never reads: the packet's deadline is 1000 ms from its start,
// partial writes in between notwithstanding.
TEST(StrmProtocol, APacketThePeerNeverDrainsTimesOutAfterOneSecond) {
  Pair pair;
  const int small = 4096;
  ::setsockopt(pair.ours.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  Stack s;
  s.strm->attach(pair.ours);
  linktest::Capture err(std::cerr);
  const auto start = std::chrono::steady_clock::now();
  s.send(Bytes(60000, 0x5A));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(990));
  EXPECT_EQ(err.str().rfind("SockStream[]: write timeout, sendbuf=", 0), 0u) << err.str();
  EXPECT_EQ(s.statuses, (std::vector<std::string>{"write timeout"}));
  EXPECT_EQ(s.strm->write_failures(), 1u);
}

TEST(StrmProtocol, ActivationNeedsASocketAndDeactivationReleasesItAndReportsSuccess) {
  Stack none;
  none.strm->activate();
  EXPECT_FALSE(none.active);
  EXPECT_EQ(none.statuses, (std::vector<std::string>{"fd not attached"}));
  Pair pair;
  Stack s;
  s.strm->attach(pair.ours);
  s.strm->activate();
  s.strm->deactivate();
  EXPECT_EQ(s.statuses, (std::vector<std::string>{"success"}));
  EXPECT_FALSE(s.strm->attached());
  pair.ours.close();
  char c;
  EXPECT_EQ(::read(pair.theirs, &c, 1), 0);  // the layer kept no duplicate open
}

TEST(StrmProtocol, AReadWithoutAFreePacketIsDroppedWithOneLineAndTheLinkStaysUp) {
  Pair pair;
  Stack s;
  s.strm->attach(pair.ours);
  s.strm->activate();
  std::vector<Packet> held;
  while (packet_pool().available() > 0) {
    held.emplace_back();
    held.back().reserve_head(0);
  }
  linktest::Capture err(std::cerr);
  ASSERT_EQ(::write(pair.theirs, "abc", 3), 3);
  ASSERT_TRUE(linktest::pump([&] { return !err.str().empty(); }));
  EXPECT_EQ(err.str(), "SockStream[]: receive drop: packet pool empty, 3 octets lost\n");
  held.clear();
  ASSERT_EQ(::write(pair.theirs, "d", 1), 1);
  ASSERT_TRUE(linktest::pump([&] { return !s.reads.empty(); }));
  EXPECT_EQ(s.reads[0], (Bytes{'d'}));
  EXPECT_TRUE(s.statuses.empty());
}

std::size_t pending(int fd) {
  char buf[4096];
  const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT | MSG_PEEK);
  return n < 0 ? 0 : static_cast<std::size_t>(n);
}

// Answers to what one read brought are written together once it has been
// handled; sixteen held go out at once.
TEST(StrmProtocol, AnswersDuringAReadAreHeldUntilItHasBeenHandled) {
  Pair pair;
  Stack s;
  s.strm->attach(pair.ours);
  s.strm->activate();
  std::size_t seenDuringRead = 99;
  s.onRead = [&] {
    for (int i = 0; i < 3; ++i) s.send({static_cast<unsigned char>(i)});
    seenDuringRead = pending(pair.theirs);
  };
  ASSERT_EQ(::write(pair.theirs, "q", 1), 1);
  ASSERT_TRUE(linktest::pump([&] { return pending(pair.theirs) == 3; }));
  EXPECT_EQ(seenDuringRead, 0u);
  EXPECT_EQ(s.strm->write_measure().counter(), 1u);
  char buf[8];
  ASSERT_EQ(::read(pair.theirs, buf, sizeof buf), 3);
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{0, 1, 2}));

  s.onRead = [&] {
    for (int i = 0; i < 17; ++i) s.send({static_cast<unsigned char>(i)});
    seenDuringRead = pending(pair.theirs);
  };
  ASSERT_EQ(::write(pair.theirs, "q", 1), 1);
  ASSERT_TRUE(linktest::pump([&] { return pending(pair.theirs) == 17; }));
  EXPECT_EQ(seenDuringRead, 16u);
}

TEST(StrmProtocol, ADisconnectDuringAReadWritesTheAnswersHeldFirst) {
  Pair pair;
  Stack s;
  s.strm->attach(pair.ours);
  s.strm->activate();
  s.onRead = [&] {
    s.send({7});
    s.strm->deactivate();
  };
  ASSERT_EQ(::write(pair.theirs, "q", 1), 1);
  ASSERT_TRUE(linktest::pump([&] { return !s.statuses.empty(); }));
  pair.ours.close();
  char buf[8];
  ::fcntl(pair.theirs, F_SETFL, 0);
  ASSERT_EQ(::read(pair.theirs, buf, sizeof buf), 1);
  EXPECT_EQ(buf[0], 7);
  EXPECT_EQ(::read(pair.theirs, buf, sizeof buf), 0);
}

}  // namespace
