// The TPKT tracers with plain TCP observers on the loopback.
#include "control/tpkt_tracer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/control/link_test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;
using linktest::Capture;
using linktest::Peer;
using linktest::pump;
using linktest::tpkt;

struct Frames : TPKTTracer::Receiver {
  std::vector<Bytes> got;
  TPKTTracer* tracer = nullptr;
  bool answer = false;
  void OnFrame(const void* data, unsigned length) override {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    got.emplace_back(p, p + length);
    if (answer) tracer->Send("re", 2);
  }
};

struct P2PLog : TPKTTracerP2P::Receiver {
  std::vector<std::string> events;
  void OnOpen(const INet4::Addr& peer, int fd) override {
    events.push_back("open " + peer.GetString() + (fd >= 0 ? "" : " nofd"));
  }
  void OnClose(const INet4::Addr& peer) override { events.push_back("close " + peer.GetString()); }
  void OnFrame(const INet4::Addr& peer, const void*, unsigned length) override {
    events.push_back("frame " + peer.GetString() + " " + std::to_string(length));
  }
};

Bytes frameOf(unsigned payload) { return tpkt(Bytes(payload, 0x61)); }

class TracerTest : public ::testing::Test {
 protected:
  TracerTest() : port(linktest::freePort()), tracer(&frames) {
    frames.tracer = &tracer;
    EXPECT_TRUE(tracer.Listen(static_cast<unsigned short>(port)));
  }
  void connect(Peer& p) {
    const std::size_t before = tracer.connection_count();
    ASSERT_TRUE(p.connect(port));
    ASSERT_TRUE(pump([&] { return tracer.connection_count() == before + 1; }));
  }
  int port;
  Frames frames;
  TPKTTracer tracer;
  Capture log{std::clog};
};

TEST_F(TracerTest, FramesUpToTheBufferSizeArriveAndALargerOneClosesOnlyItsConnection) {
  Peer a, b;
  connect(a);
  connect(b);
  EXPECT_EQ(linktest::count(log.str(), "ACP connection open from 127.0.0.1:"), 2u);
  Bytes in = {0x03, 0x00, 0x00, 0x04};  // empty: skipped
  const Bytes f508 = frameOf(508), f512 = frameOf(512);
  in.insert(in.end(), f508.begin(), f508.end());
  in.insert(in.end(), f512.begin(), f512.end());
  a.send(in);
  ASSERT_TRUE(pump([&] { return frames.got.size() == 2; }));
  EXPECT_EQ(frames.got[0].size(), 508u);
  EXPECT_EQ(frames.got[1], Bytes(512, 0x61));
  a.send(frameOf(513));
  ASSERT_TRUE(a.awaitClose());
  EXPECT_EQ(tracer.connection_count(), 1u);
  b.send(tpkt({1, 2}));
  ASSERT_TRUE(pump([&] { return frames.got.size() == 3; }));
}

TEST_F(TracerTest, BadHeadersClose) {
  Peer b, c;
  connect(b);
  connect(c);
  b.send({0x03, 0x01, 0x00, 0x05, 0x00});
  c.send({0x03, 0x00, 0x00, 0x03});
  EXPECT_TRUE(b.awaitClose());
  EXPECT_TRUE(c.awaitClose());
  EXPECT_EQ(tracer.connection_count(), 0u);
  EXPECT_TRUE(frames.got.empty());
}

TEST_F(TracerTest, SendReachesEveryObserverOrOnlyTheOneWhoseFrameIsBeingHandled) {
  Peer a, b;
  connect(a);
  connect(b);
  tracer.Send("all", 3);
  Bytes got;
  ASSERT_TRUE(a.frame(got));
  EXPECT_EQ(got, (Bytes{'a', 'l', 'l'}));
  ASSERT_TRUE(b.frame(got));
  frames.answer = true;
  b.send(tpkt({9}));
  ASSERT_TRUE(b.frame(got));
  EXPECT_EQ(got, (Bytes{'r', 'e'}));
  linktest::settle();
  a.poll();
  EXPECT_TRUE(a.pending().empty());
}

TEST(TPKTTracerP2P, TakesLargerFramesAndAddressesPeersByAddress) {
  const int port = linktest::freePort();
  P2PLog receiver;
  TPKTTracerP2P tracer(&receiver);
  ASSERT_TRUE(tracer.Listen(static_cast<unsigned short>(port)));
  Capture log(std::clog);
  Peer a;
  ASSERT_TRUE(a.connect(port));
  ASSERT_TRUE(pump([&] { return tracer.connection_count() == 1; }));
  INet4::Addr peer;
  int p = 0;
  peer.Assign("127.0.0.1:" + std::to_string(a.localPort()), &p);
  EXPECT_TRUE(tracer.IsConnected(peer));
  EXPECT_EQ(log.str(), "TPKT peer-to-peer connection open from " + peer.GetString() + "\n");

  a.send(frameOf(596));
  a.send(frameOf(2048));
  ASSERT_TRUE(pump([&] { return receiver.events.size() == 3; }));
  EXPECT_EQ(receiver.events[1], "frame " + peer.GetString() + " 596");
  EXPECT_EQ(receiver.events[2], "frame " + peer.GetString() + " 2048");

  EXPECT_EQ(tracer.Send(peer, "hi", 2), 6);
  Bytes got;
  ASSERT_TRUE(a.frame(got));
  EXPECT_EQ(got, (Bytes{'h', 'i'}));

  INet4::Addr stranger;
  stranger.Assign("127.0.0.1:1", &p);
  EXPECT_EQ(tracer.Send(stranger, "x", 1), -EFAULT);
  EXPECT_EQ(tracer.Close(stranger), -EFAULT);

  a.send(frameOf(2049));
  ASSERT_TRUE(a.awaitClose());
  EXPECT_FALSE(tracer.IsConnected(peer));
  EXPECT_EQ(receiver.events.back(), "close " + peer.GetString());
  EXPECT_NE(log.str().find("TPKT peer-to-peer connection close for " + peer.GetString() + "\n"), std::string::npos);

  // Closed by address from this side.
  Peer b;
  ASSERT_TRUE(b.connect(port));
  ASSERT_TRUE(pump([&] { return tracer.connection_count() == 1; }));
  peer.Assign("127.0.0.1:" + std::to_string(b.localPort()), &p);
  EXPECT_EQ(tracer.Close(peer), 0);
  EXPECT_TRUE(b.awaitClose());
}

TEST(TPKTTracer, ListenOnAPortInUseFails) {
  const int port = linktest::freePort();
  TPKTTracer first, second;
  ASSERT_TRUE(first.Listen(static_cast<unsigned short>(port)));
  EXPECT_FALSE(second.Listen(static_cast<unsigned short>(port)));
}

}  // namespace
