// The TPKT layer alone in a stack whose owner records what leaves it at the
// top (payloads) and at the bottom (frames).
#include "control/tpkt_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/test_clock.h"
#include "tests/control/link_test_support.h"

namespace tpkt_protocol_test {  // named: see "Unity builds" in tests/README.md

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

// Each input, fed in one read and again one octet per read, gives the same
// payloads, log lines and final state.
TEST(TpktReceive, FramingTable) {
  const Bytes junkThenAbc = {0x41, 0x42, 0x03, 0x00, 0x00, 0x07, 0x41, 0x42, 0x43};
  const struct {
    const char* what;
    Bytes in;
    std::vector<Bytes> payloads;
    std::string log;
    Tpkt_protocol::State state;
  } cases[] = {
      {"one frame", abc, {{0x41, 0x42, 0x43}}, "", Tpkt_protocol::idle},
      // The third frame's header is half read: the partial-frame timer runs.
      {"two frames and a half header",
       {0x03, 0x00, 0x00, 0x07, 0x41, 0x42, 0x43, 0x03, 0x00, 0x00, 0x05, 0x44, 0x03, 0x00, 0x00},
       {{0x41, 0x42, 0x43}, {0x44}},
       "",
       Tpkt_protocol::len_2},
      {"a run of garbage is skipped with one line", junkThenAbc, {{0x41, 0x42, 0x43}},
       "(no name) bad TPKT packet start. 2 octets skipped.\n", Tpkt_protocol::idle},
      {"each run has its line", {0x41, 0x03, 0x00, 0x00, 0x05, 0x44, 0x42, 0x03, 0x01, 0x03, 0x00, 0x00, 0x05, 0x45},
       {{0x44}, {0x45}},
       "(no name) bad TPKT packet start. 1 octet skipped.\n(no name) bad TPKT packet start. 1 octet skipped.\n"
       "(no name) bad TPKT reserved.\n",
       Tpkt_protocol::idle},
      {"bad reserved octet restarts the search", {0x03, 0x01, 0x03, 0x00, 0x00, 0x07, 0x41, 0x42, 0x43},
       {{0x41, 0x42, 0x43}}, "(no name) bad TPKT reserved.\n", Tpkt_protocol::idle},
      {"short length restarts the search", {0x03, 0x00, 0x00, 0x03, 0x03, 0x00, 0x00, 0x07, 0x41, 0x42, 0x43},
       {{0x41, 0x42, 0x43}}, "TPKT too small 3\n", Tpkt_protocol::idle},
      // Delivered at once, not when the next octet comes.
      {"empty frame", {0x03, 0x00, 0x00, 0x04}, {{}}, "", Tpkt_protocol::idle},
  };
  for (const auto& c : cases) {
    for (bool oneByOne : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (oneByOne ? ", one octet per read" : ""));
      linktest::Capture log(std::clog);
      Stack s;
      if (oneByOne)
        s.feedOneByOne(c.in);
      else
        s.feed(c.in);
      EXPECT_EQ(s.payloads, c.payloads);
      EXPECT_EQ(log.str(), c.log);
      EXPECT_EQ(s.tpkt->state(), c.state);
      EXPECT_EQ(s.tpkt->timer_armed(), c.state != Tpkt_protocol::idle);
    }
  }
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

// A flood of junk costs a line per 3000 ms, not one per octet: a run is
// reported when a header starts, or 3000 ms after the run began.
TEST(TpktReceive, LongRunOfJunkIsReportedEveryThreeSecondsWithItsCount) {
  Mux::TestClock clock(1000);
  linktest::Capture log(std::clog);
  Stack s;
  const Bytes junk(65536, 0x41);
  for (int i = 0; i < 16; ++i) s.feed(junk);  // 1 MiB
  clock.advance(2000);
  s.feed(junk);
  EXPECT_EQ(log.str(), "");
  clock.advance(999);
  EXPECT_EQ(log.str(), "");
  clock.advance(1);
  EXPECT_EQ(log.take(), "(no name) bad TPKT packet start. 1114112 octets skipped.\n");
  // The run goes on; what follows it starts a new count.
  s.feed(Bytes(10, 0xFF));
  clock.advance(2000);
  s.feed(abc);
  EXPECT_EQ(log.take(), "(no name) bad TPKT packet start. 10 octets skipped.\n");
  EXPECT_EQ(s.payloads.size(), 1u);
  EXPECT_FALSE(s.tpkt->timer_armed());
  clock.advance(10000);
  EXPECT_EQ(log.str(), "");
}

// The end of the connection ends the run too.
TEST(TpktReceive, DeactivationReportsARunNotYetReported) {
  linktest::Capture log(std::clog);
  Stack s;
  s.feed({0x41, 0x42, 0x43});
  EXPECT_EQ(log.str(), "");
  s.tpkt->deactivate();
  EXPECT_EQ(log.str(), "(no name) bad TPKT packet start. 3 octets skipped.\n");
  EXPECT_FALSE(s.tpkt->timer_armed());
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

TEST(TpktSend, LargestPayloadFillsTheLengthAndOneMoreIsRefused) {
  linktest::Capture log(std::clog);
  Stack s;
  s.send(Bytes(Tpkt_protocol::max_payload, 0x55));
  ASSERT_EQ(s.frames.size(), 1u);
  // The length counts the header too.
  EXPECT_EQ(Bytes(s.frames[0].begin(), s.frames[0].begin() + 4), (Bytes{0x03, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(s.frames[0].size(), 0xFFFFu);
  s.send(Bytes(Tpkt_protocol::max_payload + 1, 0x55));
  EXPECT_EQ(s.frames.size(), 1u);
  EXPECT_EQ(log.str(), "TPKT message too long, length = 65532 max = 65531\n");
}

}  // namespace tpkt_protocol_test
