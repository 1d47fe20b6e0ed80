// One LAPD link against a peer played by hand: establishment, release, the
// I-frame procedures, recovery, flow control, refused transmissions,
// statistics and log thresholds, all on the test clock.
#include "links/isdn/lapd.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/links/lapd_fixture.h"

namespace lapd_test {  // named: see "Unity builds" in tests/README.md

using ISDN::Side;
using lapdtest::Bytes;
using lapdtest::LapdFixture;
using lapdtest::q931;

bool contains(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

TEST(Lapd, NewLinkAnswersSabmeAndComesUp) {
  LapdFixture f(Side::user);
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
  f.peer.send(f.peer.sabme(true));
  f.settle();
  ASSERT_EQ(f.peer.heard.size(), 1u);
  EXPECT_EQ(f.peer.heard[0], (Bytes{0x02, 0x01, 0x73}));  // UA F=1, a response from the user side
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  EXPECT_EQ(f.family().activations, 1);
  EXPECT_TRUE(f.vars().T203_running);
}

TEST(Lapd, EstablishmentUnansweredGivesUpAfterFourSabmes) {
  for (Side::type side : {Side::user, Side::network}) {
    LapdFixture f(side);
    f.family().activate();
    f.settle();
    // SABME P=1 is a command: C/R 0 from the user side, 1 from the network side.
    const Bytes sabme = {static_cast<std::uint8_t>(side == Side::user ? 0x00 : 0x02), 0x01, 0x7F};
    ASSERT_EQ(f.peer.take(), std::vector<Bytes>{sabme});
    EXPECT_EQ(f.lapd().current_state(), ISDN::ST_AWAITING_ESTABLISHMENT);
    f.advance(3000);
    EXPECT_EQ(f.peer.take().size(), 3u);
    EXPECT_TRUE(f.family().deactivations.empty());
    f.advance(1000);
    EXPECT_TRUE(f.peer.take().empty());
    EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
    EXPECT_EQ(f.lapd().stats().t200, 4u);
    ASSERT_EQ(f.status_texts(), std::vector<std::string>{"Unsuccessful retransmission (N200 times) - SABME"});
    ASSERT_EQ(f.family().deactivations.size(), 1u);
    const auto& d = f.family().deactivations[0];
    EXPECT_FALSE(d.success);
    EXPECT_EQ(d.printed,
              "link error (T200 expired N200 times)\n"
              "   - state: TEI assigned\n"
              "   - self: TEI=0, SAPI=0, busy=0\n"
              "   - peer: TEI=0, SAPI=0, busy=0\n"
              "   - counters: VS=0, VA=0, VR=0, RC=3\n"
              "   - internal signals: AckRQ=0, RetrRQ=0, QueuedUp=0\n"
              "   - flags: L3Initiated=1, Establishable=1, RejectException=0\n"
              "   - timers: T200 stopped, T202 stopped, T203 stopped");
  }
}

TEST(Lapd, WindowOfSevenAndAcknowledgements) {
  LapdFixture f(Side::network);
  f.establish_by_peer();
  for (unsigned n = 0; n < 10; ++n) f.send_message(q931(n));
  f.settle();
  std::vector<Bytes> sent = f.peer.take();
  ASSERT_EQ(sent.size(), 7u);
  for (unsigned n = 0; n < 7; ++n) EXPECT_EQ(sent[n], f.peer.their_i(n, 0, q931(n)));
  EXPECT_EQ(f.lapd().out_queue(), 3u);
  EXPECT_EQ(f.lapd().ack_queue(), 7u);
  EXPECT_TRUE(f.vars().T200_running);

  // Three acknowledged: three more go, T200 starts again.
  f.peer.send(f.peer.rr(3));
  f.settle();
  sent = f.peer.take();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], f.peer.their_i(7, 0, q931(7)));
  EXPECT_EQ(sent[2], f.peer.their_i(9, 0, q931(9)));
  EXPECT_EQ(f.lapd().ack_queue(), 7u);

  // All acknowledged: T200 stops and T203 runs.
  f.peer.send(f.peer.rr(10));
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  EXPECT_FALSE(f.vars().T200_running);
  EXPECT_TRUE(f.vars().T203_running);
  EXPECT_EQ(f.lapd().ack_queue(), 0u);
  EXPECT_EQ(unsigned(f.vars().VA), 10u);
}

TEST(Lapd, OutOfSequenceFramesBringOneReject) {
  LapdFixture f(Side::user);
  f.establish_by_peer();
  f.peer.send(f.peer.i(1, 0, q931(1)));
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_s(0x09, 0, false, false)});  // REJ F=P
  EXPECT_TRUE(f.vars().RejectException);
  f.peer.send(f.peer.i(2, 0, q931(2)));
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  f.peer.send(f.peer.i(2, 0, q931(2), true));
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_s(0x01, 0, true, false)});  // RR F=1
  EXPECT_TRUE(f.family().received.empty());
  // The frame in sequence is taken, acknowledged, and clears the exception.
  f.peer.send(f.peer.i(0, 0, q931(0)));
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_s(0x01, 1, false, false)});
  EXPECT_FALSE(f.vars().RejectException);
  EXPECT_EQ(f.family().received, std::vector<Bytes>{q931(0)});
  EXPECT_EQ(f.lapd().stats().out_of_sequence, 3u);
  EXPECT_EQ(f.lapd().stats().accepted, 1u);
}

TEST(Lapd, RejectSendsTheUnacknowledgedFramesAgainInOrder) {
  LapdFixture f(Side::user);
  f.establish_by_peer();
  for (unsigned n = 0; n < 4; ++n) f.send_message(q931(n));
  f.settle();
  f.peer.take();
  f.peer.send(f.peer.rej(2));
  f.settle();
  EXPECT_EQ(f.peer.take(), (std::vector<Bytes>{f.peer.their_i(2, 0, q931(2)), f.peer.their_i(3, 0, q931(3))}));
  EXPECT_EQ(f.lapd().stats().retrains, 2u);
  EXPECT_EQ(unsigned(f.vars().VA), 2u);
  EXPECT_EQ(unsigned(f.vars().VS), 4u);
  EXPECT_TRUE(f.vars().T200_running);
}

TEST(Lapd, TimerRecoveryPollsAndResendsFromTheAnswer) {
  LapdFixture f(Side::user);
  f.establish_by_peer();
  // Idle: T203 polls, the answer ends the recovery.
  f.advance(9999);
  EXPECT_TRUE(f.peer.heard.empty());
  f.advance(1);
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_s(0x01, 0, true, true)});  // RR P=1
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TIMER_RECOVERY);
  EXPECT_EQ(f.lapd().stats().t203, 1u);
  f.peer.send(f.peer.rr(0, true));
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  EXPECT_TRUE(f.vars().T203_running);

  // Two frames unanswered: T200 polls; messages wait during the recovery;
  // the answer acknowledging one brings the rest again.
  f.send_message(q931(0));
  f.send_message(q931(1));
  f.settle();
  f.peer.take();
  f.advance(1000);
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_s(0x01, 0, true, true)});
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TIMER_RECOVERY);
  f.send_message(q931(2));
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  f.peer.send(f.peer.rr(1, true));
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  EXPECT_EQ(f.peer.take(), (std::vector<Bytes>{f.peer.their_i(1, 0, q931(1)), f.peer.their_i(2, 0, q931(2))}));
}

// Any answer to the poll ends the recovery and sends again from its N(R);
// after an RNR answer the peer is busy and T200 goes on polling it.
TEST(Lapd, RecoveryEndsOnEveryKindOfAnswer) {
  for (std::uint8_t kind : {0x01, 0x09, 0x05}) {
    SCOPED_TRACE(int(kind));
    LapdFixture f(Side::network);
    f.establish_by_peer();
    f.send_message(q931(0));
    f.send_message(q931(1));
    f.advance(1000);
    f.peer.take();
    ASSERT_EQ(f.lapd().current_state(), ISDN::ST_TIMER_RECOVERY);
    // Frames that are no answer only move V(A).
    f.peer.send(f.peer.s(kind, 1, false, false));
    f.settle();
    EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TIMER_RECOVERY);
    EXPECT_EQ(unsigned(f.vars().VA), 1u);
    f.peer.send(f.peer.s(kind, 1, true, false));
    f.settle();
    EXPECT_EQ(f.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
    if (kind == 0x05) {
      EXPECT_TRUE(f.peer.take().empty());
      EXPECT_TRUE(f.vars().peer_busy);
      f.advance(1000);
      EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_s(0x01, 0, true, true)});
      f.peer.send(f.peer.rr(1, true));
      f.settle();
    }
    EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_i(1, 0, q931(1))});
    EXPECT_TRUE(f.status_texts().empty());
  }
}

TEST(Lapd, UnansweredPollsReestablishTheLink) {
  LapdFixture f(Side::user);
  f.establish_by_peer();
  f.send_message(q931(0));
  f.settle();
  f.peer.take();
  f.advance(4000);
  const Bytes poll = f.peer.their_s(0x01, 0, true, true);
  EXPECT_EQ(f.peer.take(), (std::vector<Bytes>{poll, poll, poll, f.peer.their_u(0x6F, true, true)}));
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_AWAITING_ESTABLISHMENT);
  EXPECT_FALSE(f.vars().L3Initiated);
  EXPECT_EQ(f.status_texts(),
            std::vector<std::string>{"Unsuccessful retransmission (N200 times) - Status enquiry"});
  EXPECT_TRUE(f.family().deactivations.empty());
}

TEST(Lapd, SequenceErrorsAndPeerFailuresReestablish) {
  struct Case {
    const char* name;
    Bytes (*frame)(const lapdtest::Peer&);
    const char* mdl;
  };
  const Case cases[] = {
      {"N(R) outside V(A)..V(S)", [](const lapdtest::Peer& p) { return p.rr(5); }, "Other - N(R) error"},
      {"FRMR", [](const lapdtest::Peer& p) { return p.frmr(); }, "Other - Receipt of FRMR response"},
      {"DM F=0", [](const lapdtest::Peer& p) { return p.dm(false); }, "Receipt of DM response (F = 0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LapdFixture f(Side::network);
    f.establish_by_peer();
    f.peer.send(c.frame(f.peer));
    f.settle();
    EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x6F, true, true)});
    EXPECT_EQ(f.lapd().current_state(), ISDN::ST_AWAITING_ESTABLISHMENT);
    EXPECT_EQ(f.status_texts(), std::vector<std::string>{c.mdl});
    EXPECT_TRUE(f.family().deactivations.empty());
  }
  LapdFixture f(Side::network);
  f.establish_by_peer();
  f.peer.send(f.peer.rr(1));
  f.settle();
  EXPECT_EQ(f.lapd().stats().nr_errors, 1u);
  // DM F=1 while established is only reported.
  LapdFixture g(Side::network);
  g.establish_by_peer();
  g.peer.send(g.peer.dm(true));
  g.settle();
  EXPECT_TRUE(g.peer.take().empty());
  EXPECT_EQ(g.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  EXPECT_EQ(g.status_texts(), std::vector<std::string>{"DM (F = 1)"});
}

TEST(Lapd, DmAnswersEndEstablishmentAndRelease) {
  LapdFixture f(Side::user);
  f.family().activate();
  f.settle();
  f.peer.send(f.peer.dm(true));
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
  ASSERT_EQ(f.family().deactivations.size(), 1u);
  EXPECT_FALSE(f.family().deactivations[0].success);
  EXPECT_EQ(f.family().deactivations[0].text, "error (DM received)");
  EXPECT_FALSE(f.vars().T200_running);

  f.establish_by_peer();
  f.family().deactivate();
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x43, true, true)});  // DISC P=1
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_AWAITING_RELEASE);
  f.peer.send(f.peer.dm(true));
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
  ASSERT_EQ(f.family().deactivations.size(), 2u);
  EXPECT_EQ(f.family().deactivations[1].text, "error (DM received)");
}

TEST(Lapd, ReleaseByUaByTimeoutAndByThePeer) {
  LapdFixture f(Side::user);
  f.establish_by_peer();
  f.family().deactivate();
  f.peer.send(f.peer.ua(true));
  f.settle();
  ASSERT_EQ(f.family().deactivations.size(), 1u);
  EXPECT_TRUE(f.family().deactivations[0].success);
  EXPECT_EQ(f.family().deactivations[0].text, "success (UA received)");
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);

  f.establish_by_peer();
  f.family().deactivate();
  f.advance(4000);
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>(4, f.peer.their_u(0x43, true, true)));
  ASSERT_EQ(f.family().deactivations.size(), 2u);
  EXPECT_EQ(f.family().deactivations[1].text, "link error (T200 expired N200 times)");
  EXPECT_EQ(f.status_texts().back(), "Unsuccessful retransmission (N200 times) - DISC");

  f.establish_by_peer();
  f.send_message(q931(0));
  f.settle();
  f.peer.take();
  f.peer.send(f.peer.disc(true));
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x63, true, false)});  // UA F=1
  ASSERT_EQ(f.family().deactivations.size(), 3u);
  EXPECT_FALSE(f.family().deactivations[2].success);
  EXPECT_EQ(f.family().deactivations[2].text, "remote error (DISC received)");
  EXPECT_EQ(f.lapd().ack_queue(), 0u);
  EXPECT_FALSE(f.vars().T200_running || f.vars().T203_running);
}

// An unsolicited UA is reported and changes nothing: the frames in flight
// and the sequence numbers survive it.
TEST(Lapd, UnsolicitedUaChangesNothing) {
  LapdFixture f(Side::user);
  f.establish_by_peer();
  f.send_message(q931(0));
  f.send_message(q931(1));
  f.peer.send(f.peer.i(0, 0, q931(10)));
  f.settle();
  f.peer.take();
  f.peer.send(f.peer.ua(true));
  f.peer.send(f.peer.ua(false));
  f.settle();
  EXPECT_EQ(f.status_texts(), (std::vector<std::string>{"UA (F = 1)", "UA (F = 0)"}));
  EXPECT_TRUE(f.peer.take().empty());
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  EXPECT_EQ(unsigned(f.vars().VS), 2u);
  EXPECT_EQ(unsigned(f.vars().VA), 0u);
  EXPECT_EQ(unsigned(f.vars().VR), 1u);
  EXPECT_EQ(f.lapd().ack_queue(), 2u);
  // The peer carries on where it was, and so does the link.
  f.peer.send(f.peer.i(1, 2, q931(11)));
  f.settle();
  EXPECT_EQ(f.family().received, (std::vector<Bytes>{q931(10), q931(11)}));
  EXPECT_EQ(f.lapd().ack_queue(), 0u);
  EXPECT_EQ(f.lapd().stats().nr_errors, 0u);
  // A UA while no link is up is reported the same way.
  LapdFixture g(Side::user);
  g.peer.send(g.peer.ua(true));
  g.settle();
  EXPECT_EQ(g.status_texts(), std::vector<std::string>{"UA (F = 1)"});
  EXPECT_EQ(g.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
}

// Messages given before the link is up go out once it is.
TEST(Lapd, MessagesQueuedBeforeEstablishmentGoOutOnceUp) {
  LapdFixture f(Side::user);
  f.send_message(q931(0));
  f.send_message(q931(1));
  f.family().activate();
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x6F, true, true)});
  f.peer.send(f.peer.ua(true));
  f.settle();
  EXPECT_EQ(f.family().activations, 1);
  EXPECT_EQ(f.peer.take(), (std::vector<Bytes>{f.peer.their_i(0, 0, q931(0)), f.peer.their_i(1, 0, q931(1))}));

  // The same when the peer establishes.
  LapdFixture g(Side::network);
  g.send_message(q931(5));
  g.peer.send(g.peer.sabme());
  g.settle();
  EXPECT_EQ(g.peer.take(), (std::vector<Bytes>{g.peer.their_u(0x63, true, false), g.peer.their_i(0, 0, q931(5))}));

  // And after a re-establishment the link started itself.
  LapdFixture h(Side::user);
  h.establish_by_peer();
  h.peer.send(h.peer.frmr());
  h.settle();
  h.send_message(q931(7));
  h.settle();
  h.peer.take();
  h.peer.send(h.peer.ua(true));
  h.settle();
  EXPECT_EQ(h.peer.take(), std::vector<Bytes>{h.peer.their_i(0, 0, q931(7))});
}

// Without a TEI a message waits (and does not wedge the link); once a TEI
// is assigned and the link is up, it goes out.
TEST(Lapd, MessageWithoutTeiWaitsForTheLink) {
  LapdFixture f(Side::user);
  f.establish_by_peer();
  f.lapd().mdl_remove();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_UNASSIGNED);
  ASSERT_EQ(f.family().deactivations.size(), 1u);
  EXPECT_EQ(f.family().deactivations[0].text, "error (MDL-REMOVE received)");
  f.send_message(q931(3));
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_UNASSIGNED);
  EXPECT_EQ(f.lapd().out_queue(), 1u);
  EXPECT_TRUE(f.peer.take().empty());
  // Establishment asked for without a TEI waits for the assignment.
  f.family().activate();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ESTABLISH_AWAITING_TEI);
  f.lapd().mdl_assign(0);
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_AWAITING_ESTABLISHMENT);
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x6F, true, true)});
  f.peer.send(f.peer.ua(true));
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_i(0, 0, q931(3))});
}

// Frames too short for their kind are counted and dropped, never taken as
// I frames with zeros for the missing octets.
TEST(Lapd, ShortFramesAreCountedAndDropped) {
  LapdFixture f(Side::user);
  f.establish_by_peer();
  for (const Bytes& b : {Bytes{0x02, 0x01}, Bytes{0x02, 0x01, 0x00}, Bytes{0x02, 0x01, 0x01}, Bytes{0x02}, Bytes{}}) {
    Packet p = linktest::packet_of(b);
    f.lapd().on_hdlc_receive(p);
  }
  f.settle();
  EXPECT_EQ(f.lapd().stats().errors, 5u);
  EXPECT_EQ(unsigned(f.vars().VR), 0u);
  EXPECT_EQ(f.lapd().stats().accepted, 0u);
  EXPECT_TRUE(f.family().received.empty());
  EXPECT_TRUE(f.peer.take().empty());
  f.peer.send(f.peer.i(0, 0, q931(0)));
  f.settle();
  EXPECT_EQ(f.family().received, std::vector<Bytes>{q931(0)});
  ACP::IsdnLinkInfo info;
  f.lapd().GetInfo(info);
  EXPECT_EQ(info.get_errors().getValue(), 5);
}

TEST(Lapd, BriTerminalHearsOnlyItsOwnTeiAndBroadcast) {
  LapdFixture f(Side::user);
  f.lapd().change_to_bri();
  f.peer.tei = 5;
  f.peer.send(f.peer.sabme());
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
  f.peer.tei = 127;
  f.peer.send(f.peer.sabme());
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  // A primary-rate link takes any TEI.
  LapdFixture g(Side::user);
  g.peer.tei = 5;
  g.peer.send(g.peer.sabme());
  g.settle();
  EXPECT_EQ(g.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
}

struct FlowWatch : ISDN::LAPD::Notify {
  std::vector<std::pair<ISDN::LAPD::FlowStatus::Type, unsigned>> changes;  // status, messages waiting
  void OnLAPD_FlowStatusChange(ISDN::LAPD* l) override { changes.emplace_back(l->flow_status(), l->out_queue()); }
};

TEST(Lapd, FlowStatusAndOutQueueLimit) {
  LapdFixture f(Side::user);
  FlowWatch watch;
  f.lapd().set_observer(&watch);
  for (unsigned n = 0; n < 129; ++n) f.send_message(q931(n));
  using FS = ISDN::LAPD::FlowStatus;
  ASSERT_EQ(watch.changes.size(), 1u);
  EXPECT_EQ(watch.changes[0], std::make_pair(FS::busy, 89u));
  EXPECT_EQ(f.lapd().out_queue(), 128u);
  EXPECT_EQ(f.lapd().stats().out_overflows, 1u);
  EXPECT_EQ(f.lapd().stats().from_above, 129u);
  EXPECT_TRUE(contains(f.log_text(), "LAPD[7] (TEI assigned): discard outgoing message: buffer overflow\n"));
  // Drained by the peer's acknowledgements: normal again below 65.
  f.peer.send(f.peer.sabme());
  f.settle();
  while (f.lapd().out_queue() > 0) {
    f.peer.send(f.peer.rr(unsigned(f.vars().VS)));
    f.settle();
    if (watch.changes.size() == 1) {
      EXPECT_GE(f.lapd().out_queue(), 65u);
    }
  }
  ASSERT_EQ(watch.changes.size(), 2u);
  EXPECT_EQ(watch.changes[1].first, FS::normal);
  EXPECT_LT(watch.changes[1].second, 65u);
  // Empty messages are counted and sent nowhere.
  Packet empty;
  f.family().message(empty);
  EXPECT_EQ(f.lapd().stats().empty, 1u);
}

TEST(Lapd, PeerBusyHoldsFramesUntilItRecovers) {
  LapdFixture f(Side::user);
  f.establish_by_peer();
  f.peer.send(f.peer.rnr(0));
  f.settle();
  f.send_message(q931(0));
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  EXPECT_TRUE(f.vars().peer_busy);
  f.advance(1000);
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_s(0x01, 0, true, true)});
  f.peer.send(f.peer.rr(0, true));
  f.settle();
  EXPECT_FALSE(f.vars().peer_busy);
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_i(0, 0, q931(0))});
}

TEST(Lapd, RefusedTransmissionsAreRetried) {
  LapdFixture f(Side::user);
  f.establish_by_peer();
  // An I frame refused stays first in the queue and goes at readiness.
  f.h.a().refuse(1);
  f.send_message(q931(0));
  EXPECT_EQ(f.lapd().out_queue(), 1u);
  EXPECT_TRUE(contains(f.log_text(), "LAPD[7] (Multiple frame established): tx full\n"));
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_i(0, 0, q931(0))});
  EXPECT_EQ(f.lapd().out_queue(), 0u);
  // A refused acknowledgement stays owed and goes at readiness.
  f.h.a().set_refusing(true);
  f.peer.send(f.peer.i(0, 1, q931(9)));
  f.settle();
  EXPECT_TRUE(f.vars().AckRQ);
  f.h.a().set_refusing(false);
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_s(0x01, 1, false, false)});
  EXPECT_FALSE(f.vars().AckRQ);
  // A closed channel never says it is ready: the next event retries.
  f.h.a().set_open(false);
  f.send_message(q931(1));
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  f.h.a().set_open(true);
  f.send_message(q931(2));
  f.settle();
  EXPECT_EQ(f.peer.take(), (std::vector<Bytes>{f.peer.their_i(1, 1, q931(1)), f.peer.their_i(2, 1, q931(2))}));
  // Without a transmitter nothing goes out and nothing is lost.
  f.lapd().set_transmitter(nullptr);
  f.send_message(q931(3));
  EXPECT_EQ(f.lapd().out_queue(), 1u);
}

TEST(Lapd, GetInfoReportsOnlyChanges) {
  LapdFixture f(Side::network);
  ACP::IsdnLinkInfo info;
  EXPECT_TRUE(f.lapd().GetInfo(info));
  EXPECT_FALSE(f.lapd().GetInfo(info));
  f.establish_by_peer();
  f.send_message(q931(0));
  f.peer.send(f.peer.i(0, 0, q931(1)));
  f.settle();
  ASSERT_TRUE(f.lapd().GetInfo(info));
  EXPECT_EQ(info.get_lapdState().getValue(), ACP::LAPDState::multiple_frame_established);
  EXPECT_EQ(info.get_msuTxCount().getValue(), 1);
  EXPECT_EQ(info.get_msuRxCount().getValue(), 1);
  EXPECT_EQ(info.get_vs().getValue(), 1);
  EXPECT_EQ(info.get_va().getValue(), 0);
  EXPECT_EQ(info.get_vr().getValue(), 1);
  EXPECT_EQ(info.get_queueAck().getValue(), 1);
  EXPECT_TRUE(info.get_t200run().getValue());
  EXPECT_FALSE(info.get_t203run().getValue());
  EXPECT_TRUE(info.get_establishable().getValue());
  EXPECT_FALSE(info.get_ackPending().getValue());
  EXPECT_FALSE(f.lapd().GetInfo(info));
}

// What each log level shows, on one exchange: establishment, T203 poll.
TEST(Lapd, LogThresholds) {
  const char* const marks[] = {
      "T203.",                                                                    // every level
      "LAPD[7] (TEI assigned): DL-ESTABLISH\n",                                   // above 0
      "LAPD[7] : change state \"TEI assigned\" -> \"Awaiting establishment\" on DL-ESTABLISH\n",  // above 1
      "LAPD[7] (TEI assigned): tx:  00 01 7F\nframe user->network SFrame tei = 0 (7F )\n",  // above 2
      "LAPD[7] (Awaiting establishment): UA response\n",                                             // above 3
  };
  for (unsigned level = 0; level <= 4; ++level) {
    LapdFixture f(Side::user, level);
    f.family().activate();
    f.peer.send(f.peer.ua(true));
    f.settle();
    f.advance(10000);
    f.peer.send(f.peer.rr(0, true));
    f.settle();
    const std::string log = f.log_text();
    for (unsigned m = 0; m < 5; ++m)
      EXPECT_EQ(contains(log, marks[m]), m <= level) << "level " << level << ": " << marks[m] << "\n" << log;
    // Recovery after an idle poll is not news at level 2 and 3.
    EXPECT_EQ(contains(log, "-> \"Timer recovery\""), level > 3) << level;
    EXPECT_EQ(contains(log, "rx: 00 01 01 01\nframe network->user SFrame tei = 0 (01 01 )\n"), level > 2) << level;
  }
}

// The three timers share one event: starting one while another is flagged
// is reported, and the event then serves the last one started.
struct TimerProbe : ISDN::LAPD {
  using LAPD::LAPD;
  using LAPD::start_T200;
  using LAPD::start_T202;
  using LAPD::start_T203;
  using LAPD::stop_T203;
};

TEST(Lapd, SharedTimerWarnings) {
  linktest::LinkHarness h(203);
  testkit::StreamCapture quiet(std::clog);
  auto* probe = new TimerProbe(Side::user, 0);
  h.family_a().add_protocol_tail(probe);
  Packet sabme = linktest::packet_of({0x02, 0x01, 0x7F});
  probe->on_hdlc_receive(sabme);  // established: T203 runs
  probe->start_T200();
  probe->start_T202();
  // The event serves T202 (2000 ms), the last one armed.
  ASSERT_TRUE(h.advance(1999));
  EXPECT_EQ(probe->stats().t200 + probe->stats().t202 + probe->stats().t203, 0u);
  ASSERT_TRUE(h.advance(1));
  EXPECT_EQ(probe->stats().t202, 1u);
  EXPECT_EQ(probe->stats().t200, 0u);
  probe->stop_T203();
  std::vector<std::string> texts;
  for (const auto& r : h.family_a().statuses) texts.push_back(r.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"trying to start T200 while T203 running",
                                             "trying to start T202 while T200 running",
                                             "trying to start T202 while T203 running",
                                             "trying to stop T203 while T200 running"}));
}

// A restart moves the one pending event: it is reported as a stop and a
// start, and the timer then fires once, at its new time.
TEST(Lapd, RestartedTimerWarnsAsStopAndStartAndFiresOnce) {
  linktest::LinkHarness h(203);
  testkit::StreamCapture quiet(std::clog);
  auto* probe = new TimerProbe(Side::user, 0);
  h.family_a().add_protocol_tail(probe);
  Packet sabme = linktest::packet_of({0x02, 0x01, 0x7F});
  probe->on_hdlc_receive(sabme);  // established: T203 runs
  ASSERT_TRUE(h.advance(5000));
  probe->start_T203();  // alone: nothing to report
  probe->start_T200();
  probe->start_T203();  // the event now serves T203, 10 s from here
  ASSERT_TRUE(h.advance(9999));
  EXPECT_EQ(probe->stats().t200 + probe->stats().t203, 0u);
  ASSERT_TRUE(h.advance(1));
  EXPECT_EQ(probe->stats().t203, 1u);
  EXPECT_EQ(probe->stats().t200, 0u);
  std::vector<std::string> texts;
  for (const auto& r : h.family_a().statuses) texts.push_back(r.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"trying to start T200 while T203 running",
                                             "trying to start T203 while T200 running",
                                             "trying to stop T203 while T200 running"}));
}

// A channel that may keep the frames it is given, as one that queues them.
struct KeepingChannel : GenericHDLC {
  bool keep = false;
  std::vector<Packet> kept;
  std::vector<const _Packet*> buffers;
  bool hdlc_transmit(Packet& frame) override {
    buffers.push_back(frame.get());
    if (keep) kept.push_back(frame);
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return true; }
};

// The link writes its S and U frames into one buffer while the channel lets
// them go; a frame the channel kept is never written over.
TEST(Lapd, AnswersReuseABufferTheChannelLetGoAndNeverOneItKept) {
  linktest::LinkHarness h(203);
  testkit::StreamCapture quiet(std::clog);
  KeepingChannel channel;
  auto* link = new ISDN::LAPD(Side::user, 0);
  link->set_transmitter(&channel);
  h.family_a().add_protocol_tail(link);
  Packet sabme = linktest::packet_of({0x02, 0x01, 0x7F});
  link->on_hdlc_receive(sabme);
  // I frames with P = 1, N(S) 0..5: each answered by RR F = 1, N(R) one on.
  for (unsigned ns = 0; ns < 6; ++ns) {
    if (ns == 3) channel.keep = true;
    Packet i = linktest::packet_of({0x02, 0x01, static_cast<std::uint8_t>(ns << 1), 0x01, 0x08, 0x01});
    link->on_hdlc_receive(i);
  }
  ASSERT_EQ(channel.buffers.size(), 7u);  // UA, then six RRs
  for (std::size_t k = 1; k < 5; ++k) EXPECT_EQ(channel.buffers[k], channel.buffers[0]) << k;
  EXPECT_NE(channel.buffers[5], channel.buffers[4]);
  EXPECT_NE(channel.buffers[6], channel.buffers[5]);
  // RR responses with F = 1 (C/R 1 from the user side), N(R) 4, 5, 6.
  ASSERT_EQ(channel.kept.size(), 3u);
  for (unsigned k = 0; k < 3; ++k)
    EXPECT_EQ(linktest::bytes_of(channel.kept[k]), (Bytes{0x02, 0x01, 0x01, static_cast<std::uint8_t>((k + 4) << 1 | 1)}))
        << k;
  EXPECT_EQ(h.family_a().received.size(), 6u);
}

TEST(Lapd, ProtocolInfoAndStatusText) {
  LapdFixture f(Side::network);
  f.establish_by_peer();
  std::ostringstream s;
  f.lapd().protocol_info(s);
  EXPECT_TRUE(contains(s.str(), "LAPD[7] (Multiple frame established): side network\n   - state: Multiple frame "
                                "established\n"));
  EXPECT_TRUE(contains(s.str(), "   - timers expire count: T200: 0, T202: 0, T203: 0\n   - errors: 0, retrains: 0\n"
                                "   - queue overflows: out: 0, ack: 0\n"));
  Protocol_status st = f.lapd().status();
  EXPECT_FALSE(st->success());
  EXPECT_EQ(st->message(), "current status");
  EXPECT_STREQ(f.lapd().name().name(), "ISDN::LAPD");
  std::ostringstream side;
  side << Side::user << ' ' << Side::network << ' ' << static_cast<Side::type>(5);
  EXPECT_EQ(side.str(), "user network network");
  EXPECT_STREQ(ISDN::statetext(8), "(unknown)");
  EXPECT_STREQ(ISDN::LAPD::mdl_error_text(12), "Other - Unknown");
}

}  // namespace lapd_test
