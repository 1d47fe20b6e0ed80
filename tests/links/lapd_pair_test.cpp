// Our user side against our network side on the test line: establishment,
// messages both ways in order, idle polls, release, and recovery from lost
// frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "links/isdn/lapd.h"
#include "tests/links/lapd_fixture.h"
#include "tests/links/link_harness.h"
#include "tests/stream_capture.h"

namespace {

using ISDN::Side;
using lapdtest::Bytes;
using lapdtest::q931;

struct Pair {
  linktest::LinkHarness h{203};
  ISDN::LAPD* user = new ISDN::LAPD(Side::user, 0);
  ISDN::LAPD* network = new ISDN::LAPD(Side::network, 0);
  testkit::StreamCapture clog{std::clog};

  Pair() {
    h.a().set_name("user");
    h.b().set_name("network");
    user->set_transmitter(&h.a());
    network->set_transmitter(&h.b());
    user->set_link(1);
    network->set_link(2);
    h.a().bind(user);
    h.b().bind(network);
    h.family_a().add_protocol_tail(user);
    h.family_b().add_protocol_tail(network);
  }
  void send(linktest::RecordingFamily& from, unsigned n) {
    Packet p = from.payload(q931(n));
    from.message(p);
  }
  // Runs the clock until both sides hold no frame to send or to be
  // acknowledged (lost frames are recovered by the timers).
  void drain() {
    for (int i = 0; i < 100 && (user->out_queue() || user->ack_queue() || network->out_queue() ||
                                network->ack_queue());
         ++i)
      ASSERT_TRUE(h.advance(500));
    ASSERT_TRUE(h.settle());
  }
  void establish() {
    h.family_a().activate();
    h.family_b().activate();
    ASSERT_TRUE(h.settle());
    ASSERT_EQ(h.family_a().activations, 1);
    ASSERT_EQ(h.family_b().activations, 1);
  }
  // Ten messages each way every second of the test clock, so that a side
  // in recovery never sees more than its queue holds.
  void exchange(unsigned count) {
    for (unsigned n = 0; n < count; ++n) {
      send(h.family_a(), n);
      send(h.family_b(), n);
      if (n % 10 == 9) {
        ASSERT_TRUE(h.advance(1000));
      }
    }
    drain();
    EXPECT_EQ(user->stats().out_overflows + network->stats().out_overflows, 0u);
  }
};

TEST(LapdPair, EstablishExchangeIdleAndRelease) {
  Pair p;
  p.establish();  // both ask at once: the SABMEs cross
  p.exchange(200);
  EXPECT_EQ(lapdtest::numbers_of(p.h.family_b().received), lapdtest::count_to(200));
  EXPECT_EQ(lapdtest::numbers_of(p.h.family_a().received), lapdtest::count_to(200));
  EXPECT_EQ(p.user->stats().retrains + p.network->stats().retrains, 0u);

  // Idle: each side polls every T203 and stays up.
  const std::size_t frames = p.h.log().frames().size();
  ASSERT_TRUE(p.h.advance(ISDN::LAPD::T203_ms * 3));
  EXPECT_EQ(p.user->stats().t203, 3u);
  EXPECT_EQ(p.network->stats().t203, 3u);
  EXPECT_EQ(p.h.log().frames().size(), frames + 12);  // a poll and its answer, each way, three times
  EXPECT_EQ(p.user->current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  EXPECT_EQ(p.network->current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  EXPECT_TRUE(p.h.family_a().statuses.empty());
  EXPECT_TRUE(p.h.family_b().statuses.empty());

  p.h.family_a().deactivate();
  ASSERT_TRUE(p.h.settle());
  ASSERT_EQ(p.h.family_a().deactivations.size(), 1u);
  EXPECT_EQ(p.h.family_a().deactivations[0].text, "success (UA received)");
  ASSERT_EQ(p.h.family_b().deactivations.size(), 1u);
  EXPECT_EQ(p.h.family_b().deactivations[0].text, "remote error (DISC received)");
  EXPECT_EQ(p.user->current_state(), ISDN::ST_TEI_ASSIGNED);
  EXPECT_EQ(p.network->current_state(), ISDN::ST_TEI_ASSIGNED);
}

TEST(LapdPair, LostFramesAreRecoveredInOrder) {
  Pair p;
  p.establish();
  // I frames and acknowledgements lost both ways, among them the last frame
  // of a burst (recovered by T200 and the poll) and a poll's answer.
  p.h.a().drop({5, 6, 30, 90, 91});
  p.h.b().drop({3, 12, 13, 60, 140});
  p.exchange(200);
  EXPECT_EQ(lapdtest::numbers_of(p.h.family_b().received), lapdtest::count_to(200));
  EXPECT_EQ(lapdtest::numbers_of(p.h.family_a().received), lapdtest::count_to(200));
  EXPECT_GT(p.user->stats().retrains, 0u);
  EXPECT_GT(p.network->stats().retrains, 0u);
  EXPECT_GT(p.user->stats().out_of_sequence + p.network->stats().out_of_sequence, 0u);
  EXPECT_EQ(p.user->current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  EXPECT_EQ(p.network->current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  EXPECT_EQ(p.user->stats().nr_errors + p.network->stats().nr_errors, 0u);
  EXPECT_TRUE(p.h.family_a().deactivations.empty());
  EXPECT_TRUE(p.h.family_b().deactivations.empty());
}

TEST(LapdPair, RefusingLineDelaysButLosesNothing) {
  Pair p;
  p.establish();
  p.h.a().set_filter([&](unsigned n, Bytes&) {
    if (n % 17 == 0) p.h.a().refuse(2);  // refuse the two offers after every 17th frame
    return linktest::FrameLog::Fate::delivered;
  });
  p.exchange(100);
  EXPECT_EQ(lapdtest::numbers_of(p.h.family_b().received), lapdtest::count_to(100));
  EXPECT_EQ(lapdtest::numbers_of(p.h.family_a().received), lapdtest::count_to(100));
  EXPECT_GT(p.h.a().refused(), 0u);
}

}  // namespace
