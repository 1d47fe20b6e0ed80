// The link test line itself: delivery through the loop, faults, readiness,
// the clock, the recording family and the pcapng log (read back by tshark).
#include "tests/links/link_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime/timer.h"
#include "tests/links/tshark.h"

namespace {

using linktest::Bytes;
using linktest::LinkHarness;
using Fate = linktest::FrameLog::Fate;

// A station that records what it hears and what it is told.
struct Station : HDLC::Notify {
  std::vector<Bytes> heard;
  int readies = 0;
  int depth = 0;  // > 0 while this station is sending
  bool reentered = false;
  std::function<void(const Bytes&)> answer;
  void on_hdlc_receive(Packet& p) override {
    if (depth) reentered = true;
    heard.push_back(linktest::bytes_of(p));
    if (answer) answer(heard.back());
  }
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {
    if (depth) reentered = true;
    ++readies;
  }
  bool send(GenericHDLC& t, const Bytes& b) {
    ++depth;
    Packet p = linktest::packet_of(b);
    const bool ok = t.hdlc_transmit(p);
    --depth;
    return ok;
  }
};

TEST(LinkHarness, DeliversThroughTheLoopInOrderAndNeverReentrantly) {
  LinkHarness h(203);
  Station sa, sb;
  h.a().bind(&sa);
  h.b().bind(&sb);
  // b answers every frame at once; a must not hear the answer while sending.
  sb.answer = [&](const Bytes& f) { sb.send(h.b(), Bytes{0xAA, f[0]}); };
  for (std::uint8_t i = 1; i <= 5; ++i) EXPECT_TRUE(sa.send(h.a(), Bytes{i}));
  EXPECT_TRUE(sb.heard.empty()) << "delivered inside hdlc_transmit";
  EXPECT_TRUE(h.busy());
  ASSERT_TRUE(h.settle());
  ASSERT_EQ(sb.heard.size(), 5u);
  ASSERT_EQ(sa.heard.size(), 5u);
  for (std::uint8_t i = 0; i < 5; ++i) {
    EXPECT_EQ(sb.heard[i], Bytes{std::uint8_t(i + 1)});
    EXPECT_EQ(sa.heard[i], (Bytes{0xAA, std::uint8_t(i + 1)}));
  }
  EXPECT_FALSE(sa.reentered);
  EXPECT_FALSE(sb.reentered);
  EXPECT_EQ(h.a().sent(), 5u);
  EXPECT_EQ(h.b().received(), 5u);
  EXPECT_EQ(h.log().frames().size(), 10u);
}

TEST(LinkHarness, LosesCutsAndAltersFramesByOrdinal) {
  LinkHarness h(140);
  Station sa, sb;
  h.a().bind(&sa);
  h.b().bind(&sb);
  h.a().drop({2});
  h.a().truncate(4, 1);
  h.a().set_filter([](unsigned n, Bytes& f) {
    if (n == 5) f[0] ^= 0xFF;
    return n == 6 ? Fate::dropped : Fate::delivered;
  });
  for (std::uint8_t i = 1; i <= 6; ++i) sa.send(h.a(), Bytes{i, i});
  ASSERT_TRUE(h.settle());
  ASSERT_EQ(sb.heard.size(), 4u);
  EXPECT_EQ(sb.heard[0], (Bytes{1, 1}));
  EXPECT_EQ(sb.heard[1], (Bytes{3, 3}));
  EXPECT_EQ(sb.heard[2], (Bytes{4}));
  EXPECT_EQ(sb.heard[3], (Bytes{0xFA, 5}));
  const auto& log = h.log().frames();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[1].fate, Fate::dropped);
  EXPECT_EQ(log[3].fate, Fate::truncated);
  EXPECT_EQ(log[3].sent, (Bytes{4, 4}));  // the log keeps what was sent
  EXPECT_EQ(log[4].fate, Fate::altered);
  EXPECT_EQ(log[5].fate, Fate::dropped);
}

TEST(LinkHarness, RefusalsEndInOneReadinessThroughTheLoop) {
  LinkHarness h(203);
  Station sa, sb;
  h.a().bind(&sa);
  h.b().bind(&sb);

  h.a().refuse(2);
  EXPECT_FALSE(h.a().is_ready());
  EXPECT_FALSE(sa.send(h.a(), Bytes{1}));
  EXPECT_FALSE(sa.send(h.a(), Bytes{1}));
  EXPECT_TRUE(h.a().is_ready());
  EXPECT_EQ(sa.readies, 0);
  ASSERT_TRUE(h.settle());
  EXPECT_EQ(sa.readies, 1);
  EXPECT_TRUE(sa.send(h.a(), Bytes{1}));

  h.a().set_refusing(true);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(sa.send(h.a(), Bytes{2}));
  ASSERT_TRUE(h.settle());
  EXPECT_EQ(sa.readies, 1);
  h.a().set_refusing(false);
  ASSERT_TRUE(h.settle());
  EXPECT_EQ(sa.readies, 2);

  // A closed end refuses and never becomes ready by itself.
  h.a().set_open(false);
  EXPECT_FALSE(sa.send(h.a(), Bytes{3}));
  ASSERT_TRUE(h.settle());
  EXPECT_EQ(sa.readies, 2);
  EXPECT_EQ(h.a().refused(), 6u);
  ASSERT_TRUE(h.settle());
  EXPECT_EQ(sb.heard.size(), 1u);
  EXPECT_FALSE(sa.reentered);
}

// A bus: what a() sends reaches every station on the other side; what they
// send reaches a() alone, in order, with faults and readiness per station.
TEST(LinkHarness, BusFansOutFramesOfTheFirstEndAndGathersTheOthers) {
  LinkHarness h(203);
  Station sa, sb, sc, sd;
  linktest::LinkEnd& c = h.add_end("c");
  linktest::LinkEnd& d = h.add_end("d");
  h.a().bind(&sa);
  h.b().bind(&sb);
  c.bind(&sc);
  d.bind(&sd);
  EXPECT_FALSE(c.outbound());  // as b() is
  sa.send(h.a(), Bytes{1});
  sc.send(c, Bytes{3});
  sb.send(h.b(), Bytes{2});
  d.drop({1});
  sd.send(d, Bytes{4});
  sd.send(d, Bytes{5});
  c.refuse(1);
  EXPECT_FALSE(sc.send(c, Bytes{6}));
  ASSERT_TRUE(h.settle());
  for (Station* s : {&sb, &sc, &sd}) EXPECT_EQ(s->heard, std::vector<Bytes>{Bytes{1}});
  EXPECT_EQ(sa.heard, (std::vector<Bytes>{Bytes{3}, Bytes{2}, Bytes{5}}));
  EXPECT_EQ(sc.readies, 1);
  EXPECT_EQ(sb.readies + sd.readies + sa.readies, 0);
  EXPECT_EQ(h.b().received() + c.received() + d.received(), 3u);
  const auto& log = h.log().frames();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[1].from, "c");
  EXPECT_EQ(log[3].fate, Fate::dropped);
}

// Sends a frame every second; each frame is heard when it is sent.
struct Ticker {
  Timer t;
  Station s;
  LinkHarness& h;
  explicit Ticker(LinkHarness& hh) : h(hh) { t.set(1000, &Ticker::OnTick, this); }
  void OnTick() {
    s.send(h.a(), Bytes{static_cast<std::uint8_t>(h.now() / 1000)});
    t.set(1000, &Ticker::OnTick, this);
  }
};

TEST(LinkHarness, AdvanceSettlesTheLineAtEveryTimerExpiry) {
  LinkHarness h(203, 0);
  Ticker tick(h);
  Station sb;
  std::vector<std::uint32_t> heardAt;
  sb.answer = [&](const Bytes&) { heardAt.push_back(h.now()); };
  h.a().bind(&tick.s);
  h.b().bind(&sb);
  ASSERT_TRUE(h.advance(3500));
  EXPECT_EQ(h.now(), 3500u);
  EXPECT_EQ(heardAt, (std::vector<std::uint32_t>{1000, 2000, 3000}));
  ASSERT_TRUE(h.advance(500));
  EXPECT_EQ(heardAt.size(), 4u);
}

// A layer that sends what comes down and passes up what comes up.
struct PassThrough : Protocol {
  void message(Packet& p) override { transmit(p); }
  void receive(Packet& p) override { on_message(p); }
  void local_prepare_head(Packet& p) override { p.reserve_head(4); }
};

TEST(LinkHarness, RecordingFamiliesCarryMessagesAndReports) {
  LinkHarness h(203);
  h.family_a().add_protocol_tail(new PassThrough);
  h.family_b().add_protocol_tail(new PassThrough);
  h.b().bind([&](Packet& p) { h.family_b().receive(p); });
  h.family_a().activate();
  EXPECT_EQ(h.family_a().activations, 1);
  Packet p = h.family_a().payload(Bytes{8, 1, 2});
  EXPECT_GE(p.headroom(), 4u);
  h.family_a().message(p);
  ASSERT_TRUE(h.settle());
  ASSERT_EQ(h.family_b().received.size(), 1u);
  EXPECT_EQ(h.family_b().received[0], (Bytes{8, 1, 2}));
  h.family_a().deactivate();
  ASSERT_EQ(h.family_a().deactivations.size(), 1u);
  EXPECT_TRUE(h.family_a().deactivations[0].success);
}

TEST(LinkHarness, PcapngKeepsLinkTypeDirectionAndFateForTshark) {
  if (const char* why = linktest::tshark_missing()) GTEST_SKIP() << why;
  LinkHarness h(203);
  Station sa, sb;
  h.a().bind(&sa);
  h.b().bind(&sb);
  h.a().drop({2});
  sa.send(h.a(), Bytes{0x00, 0x01, 0x7F});  // SABME P from the user side
  sa.send(h.a(), Bytes{0x00, 0x01, 0x7F});
  sb.send(h.b(), Bytes{0x00, 0x01, 0x73});  // UA F from the network side
  ASSERT_TRUE(h.settle());
  EXPECT_EQ(linktest::tshark(h.log(), "-T fields -E separator=';' -e frame.p2p_dir -e lapd.control.u_modifier_cmd "
                                      "-e lapd.control.u_modifier_resp -e frame.comment"),
            "0;0x1b;;\n"
            "0;0x1b;;dropped by the line\n"
            "1;;0x18;\n");
}

}  // namespace
