// The TPKT layer alone in a stack whose owner records what leaves it at the
// top (payloads) and at the bottom (frames).
#include "control/tpkt_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/test_clock.h"
#include "tests/control/link_test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

class Stack : public ProtocolsList {
 public:
  Stack() { add_protocol_tail(tpkt = new Tpkt_protocol); }
  void on_message(Packet& p) override { payloads.emplace_back(p.data(), p.data() + p.length()); }
  void transmit(Packet& p) override { frames.emplace_back(p.data(), p.data() + p.length()); }
  void on_deactivated(Protocol*, Protocol_status s) override { statuses.push_back(s->message()); }

  void feed(const Bytes& bytes) {
    Packet p;
    p.reserve_head(0);
    std::copy(bytes.begin(), bytes.end(), p.put(static_cast<unsigned>(bytes.size())));
    tpkt->receive(p);
  }
  void feedOneByOne(const Bytes& bytes) {
    for (unsigned char b : bytes) feed({b});
  }
  void send(const Bytes& payload) {
    Packet p;
    tpkt->prepare_head(p);
    std::copy(payload.begin(), payload.end(), p.put(static_cast<unsigned>(payload.size())));
    tpkt->message(p);
  }

  Tpkt_protocol* tpkt;
  std::vector<Bytes> payloads;
  std::vector<Bytes> frames;
  std::vector<std::string> statuses;
};

const Bytes abc = {0x03, 0x00, 0x00, 0x07, 0x41, 0x42, 0x43};

TEST(TpktReceive, WholeFrameAndOneOctetPerReadGiveTheSamePayloadOnce) {
  Stack whole, split;
  whole.feed(abc);
  split.feedOneByOne(abc);
  EXPECT_EQ(whole.payloads, (std::vector<Bytes>{{0x41, 0x42, 0x43}}));
  EXPECT_EQ(split.payloads, whole.payloads);
  EXPECT_EQ(split.tpkt->state(), Tpkt_protocol::idle);
  EXPECT_FALSE(split.tpkt->timer_armed());
}

TEST(TpktReceive, SeveralFramesInOneReadComeOutInOrder) {
  Stack s;
  Bytes two = abc;
  two.insert(two.end(), {0x03, 0x00, 0x00, 0x05, 0x44, 0x03, 0x00, 0x00});
  s.feed(two);
  EXPECT_EQ(s.payloads, (std::vector<Bytes>{{0x41, 0x42, 0x43}, {0x44}}));
  // The third frame's header is half read: the partial-frame timer runs.
  EXPECT_EQ(s.tpkt->state(), Tpkt_protocol::len_2);
  EXPECT_TRUE(s.tpkt->timer_armed());
}

TEST(TpktReceive, GarbageBeforeAHeaderIsLoggedOctetByOctetAndSkipped) {
  linktest::Capture log(std::clog);
  Stack s;
  Bytes in = {0x41, 0x42};
  in.insert(in.end(), abc.begin(), abc.end());
  s.feed(in);
  EXPECT_EQ(log.str(), "(no name) bad TPKT packet start.\n(no name) bad TPKT packet start.\n");
  EXPECT_EQ(s.payloads.size(), 1u);
}

TEST(TpktReceive, BadReservedOctetAndShortLengthRestartTheSearch) {
  linktest::Capture log(std::clog);
  Stack s;
  s.feed({0x03, 0x01});
  EXPECT_EQ(log.str(), "(no name) bad TPKT reserved.\n");
  EXPECT_EQ(s.tpkt->state(), Tpkt_protocol::idle);
  log.clear();
  s.feed({0x03, 0x00, 0x00, 0x03});
  EXPECT_EQ(log.str(), "TPKT too small 3\n");
  EXPECT_EQ(s.tpkt->state(), Tpkt_protocol::idle);
  s.feed(abc);
  EXPECT_EQ(s.payloads.size(), 1u);
}

TEST(TpktReceive, EmptyFrameIsDeliveredAtOnce) {
  Stack s;
  s.feed({0x03, 0x00, 0x00, 0x04});
  ASSERT_EQ(s.payloads.size(), 1u);
  EXPECT_TRUE(s.payloads[0].empty());
  EXPECT_FALSE(s.tpkt->timer_armed());
  s.feed(abc);
  EXPECT_EQ(s.payloads.size(), 2u);
}

TEST(TpktReceive, StalledFrameIsDroppedThreeSecondsAfterItsLastOctet) {
  Mux::TestClock clock(1000);
  linktest::Capture log(std::clog);
  Stack s;
  s.feed({0x03, 0x00, 0x00, 0x10, 1, 2, 3});
  clock.advance(2000);
  s.feed({4, 5});  // re-arms: the count starts again
  clock.advance(2999);
  EXPECT_EQ(log.str(), "");
  clock.advance(1);
  EXPECT_EQ(log.str(), " TPKT packet timeout.\n");
  EXPECT_EQ(s.tpkt->state(), Tpkt_protocol::idle);
  EXPECT_TRUE(s.payloads.empty());
  s.feed(abc);
  EXPECT_EQ(s.payloads.size(), 1u);
}

TEST(TpktReceive, DeactivationFromAboveResetsAPartialFrame) {
  Stack s;
  s.feed({0x03, 0x00, 0x00, 0x10, 1});
  s.tpkt->deactivate();
  EXPECT_EQ(s.tpkt->state(), Tpkt_protocol::idle);
  EXPECT_FALSE(s.tpkt->timer_armed());
  EXPECT_EQ(s.statuses, (std::vector<std::string>{"TPKT deactivated"}));
}

TEST(TpktReceive, PoolExhaustionDropsOneFrameWithOneLineAndTheNextArrives) {
  linktest::Capture log(std::clog);
  Stack s;
  Packet input;
  input.reserve_head(0);
  const Bytes two = {0x03, 0x00, 0x00, 0x06, 0x11, 0x22};
  std::copy(two.begin(), two.end(), input.put(6));
  std::vector<Packet> held;
  while (packet_pool().available() > 0) {
    held.emplace_back();
    held.back().reserve_head(0);
  }
  s.tpkt->receive(input);
  EXPECT_TRUE(s.payloads.empty());
  EXPECT_EQ(log.str(), "TPKT receive drop: packet pool empty, frame of 2 octets lost\n");
  EXPECT_EQ(s.tpkt->state(), Tpkt_protocol::idle);
  held.clear();
  s.feed(abc);
  EXPECT_EQ(s.payloads.size(), 1u);
}

TEST(TpktSend, HeaderCarriesTheLengthIncludingItself) {
  Stack s;
  s.send(Bytes(10, 0xAA));
  ASSERT_EQ(s.frames.size(), 1u);
  Bytes expected = {0x03, 0x00, 0x00, 0x0E};
  expected.insert(expected.end(), 10, 0xAA);
  EXPECT_EQ(s.frames[0], expected);
}

TEST(TpktSend, LargestPayloadFillsTheLengthAndOneMoreIsRefused) {
  linktest::Capture log(std::clog);
  Stack s;
  s.send(Bytes(Tpkt_protocol::max_payload, 0x55));
  ASSERT_EQ(s.frames.size(), 1u);
  EXPECT_EQ(s.frames[0][2], 0xFF);
  EXPECT_EQ(s.frames[0][3], 0xFF);
  EXPECT_EQ(s.frames[0].size(), 0xFFFFu);
  s.send(Bytes(Tpkt_protocol::max_payload + 1, 0x55));
  EXPECT_EQ(s.frames.size(), 1u);
  EXPECT_EQ(log.str(), "TPKT message too long, length = 65532 max = 65531\n");
}

}  // namespace
