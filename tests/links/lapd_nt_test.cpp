// The network side of a BRI bus against terminals played by hand on the
// test line's bus, for what libpri's terminals cannot be made to do (the
// libpri suite has the rest): TEI denial, adoption and checks, the idle
// poll's retries, the window and retransmission, invalid frames.
#include "links/isdn/lapd_nt.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/ext_out.h"
#include "tests/links/lapd_fixture.h"
#include "tests/stream_capture.h"

namespace {

using lapdtest::Bytes;
using lapdtest::Peer;
using lapdtest::q931;

enum : std::uint8_t { request = 1, assigned = 2, denied = 3, check_request = 4, check_response = 5, remove_tei = 6 };
enum : std::uint8_t { verify = 7 };

bool contains(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

// A Q.931 message of the given call reference (one octet, flag included)
// and number, for routing tests.
Bytes message(std::uint8_t callref, unsigned n) {
  Bytes m = q931(n);
  m[2] = callref;
  return m;
}

struct Bus {
  linktest::LinkHarness h{203};
  ISDN::LAPD_NT* nt = new ISDN::LAPD_NT;
  std::vector<std::unique_ptr<Peer>> terminals;
  testkit::StreamCapture clog{std::clog};

  explicit Bus(unsigned count = 2, unsigned log = 2) {
    h.a().set_name("network");
    h.a().set_outbound(false);
    nt->set_log(log);
    h.family_a().add_protocol_tail(nt);
    h.a().bind([this](Packet& p) { h.family_a().receive(p); });
    for (unsigned i = 0; i < count; ++i) {
      const std::string name = "terminal " + std::to_string(i + 1);
      linktest::LinkEnd& end = i == 0 ? h.b() : h.add_end(name);
      end.set_name(name);
      end.set_outbound(true);
      terminals.push_back(std::make_unique<Peer>(false));
      terminals.back()->out = &end;
      end.bind(terminals.back().get());
    }
    h.family_a().activate();
    settle();
    take_all();
    sent();
  }
  Peer& t(unsigned i) { return *terminals[i]; }
  void settle() { ASSERT_TRUE(h.settle()); }
  void advance(std::uint32_t ms) { ASSERT_TRUE(h.advance(ms)); }
  void take_all() {
    for (auto& t : terminals) t->take();
  }
  void down(const Bytes& m) {
    Packet p = h.family_a().payload(m);
    h.family_a().message(p);
  }
  // Terminal i asks for a TEI and gets it; its frames then use it.
  unsigned assign(unsigned i, std::uint16_t ri) {
    take_all();
    t(i).send(t(i).tei_msg(ri, request, 127));
    settle();
    const std::vector<Bytes> heard = t(i).take();
    take_all();
    if (heard.size() != 2 || heard[0].size() != 8) {
      ADD_FAILURE() << "no assignment";
      return 0;
    }
    t(i).tei = static_cast<std::uint8_t>(heard[0][7] >> 1);
    EXPECT_EQ(heard[0], t(i).their_tei_msg(ri, assigned, t(i).tei));
    EXPECT_EQ(heard[1], t(i).their_u(0x6F, true, true));  // SABME P=1
    return t(i).tei;
  }
  // Terminal i, assigned, calls with call reference 1 (its first I frame),
  // so that the messages for that call go to it.
  void call(unsigned i) {
    assign(i, static_cast<std::uint16_t>(i + 1));
    t(i).send(t(i).i(0, 0, message(0x81, 0)));
    settle();
    sent();
  }
  // An I frame as the network side sends it to terminal i (P = 1).
  Bytes i_frame(unsigned i, unsigned ns, unsigned nr, const Bytes& info) {
    Bytes f = {0x02, t(i).tei_octet(), static_cast<std::uint8_t>(ns << 1), static_cast<std::uint8_t>(nr << 1 | 1)};
    f.insert(f.end(), info.begin(), info.end());
    return f;
  }
  // The frames the network side sent since the log was last read.
  std::vector<Bytes> sent() {
    std::vector<Bytes> v;
    const auto& frames = h.log().frames();
    for (; read_ < frames.size(); ++read_)
      if (frames[read_].from == "network") v.push_back(frames[read_].sent);
    return v;
  }
  std::size_t read_ = 0;
};

// TEIs a terminal picks itself: one in the automatic range is denied, one
// below it is not for this procedure; a frame from an unknown TEI is
// adopted while a user is free, and makes the TEI removed when none is.
TEST(LapdNt, TeisChosenByTerminals) {
  Bus b(1, 1);
  b.t(0).send(b.t(0).tei_msg(0x0101, request, 70));
  b.t(0).send(b.t(0).tei_msg(0x0202, request, 10));
  b.t(0).tei = 70;
  b.t(0).send(b.t(0).i(0, 0, message(0x81, 7)));
  b.settle();
  EXPECT_EQ(b.sent(), (std::vector<Bytes>{Peer::tei_message(true, 0x0101, denied, 70), b.t(0).their_u(0x6F, true, true)}));
  EXPECT_EQ(b.h.family_a().received, std::vector<Bytes>{message(0x81, 7)});
  EXPECT_EQ(b.nt->user(0).tei(), 70u);
  EXPECT_EQ(b.nt->user(0).vr(), 1u);
  EXPECT_TRUE(contains(b.clog.str(), "LAPD(NT BRI): Warning:recieved packet with unassigned TEI=70\n"));
  for (unsigned n = 1; n < 8; ++n) b.assign(0, static_cast<std::uint16_t>(n));
  b.sent();
  b.t(0).tei = 100;
  b.t(0).send(b.t(0).sabme());
  b.settle();
  const Bytes remove = Peer::tei_message(true, 0, remove_tei, 100);
  EXPECT_EQ(b.sent(), (std::vector<Bytes>{remove, remove}));
}

// A poll retried with nothing outstanding polls again, so one lost answer
// does not cost a terminal its TEI.
TEST(LapdNt, IdlePollRetriesPoll) {
  Bus b(1);
  b.assign(0, 1);
  b.sent();
  const Bytes poll = b.t(0).their_s(0x01, 0, true, true);
  int polls = 0;
  b.t(0).on_answer = [&](const Bytes& f) {
    if (f == poll && ++polls == 4) b.t(0).send(b.t(0).rr(0, true, false));
  };
  b.advance(14000);
  EXPECT_EQ(b.sent(), std::vector<Bytes>(4, poll));
  EXPECT_EQ(b.nt->user(0).link_state(), ISDN::LAPD_NT_user::assigned);
}

TEST(LapdNt, TeiChecksKeepAnsweringTerminalsAndRemoveDuplicates) {
  Bus b(3);
  b.assign(0, 1);
  b.assign(1, 2);
  b.assign(2, 3);
  b.sent();
  // A verify request has every TEI checked; terminal 2 stays silent.
  b.t(0).send(b.t(0).tei_msg(0x0707, verify, 64));
  b.settle();
  EXPECT_EQ(b.sent(), std::vector<Bytes>{Peer::tei_message(true, 0, check_request, 127)});
  EXPECT_TRUE(b.nt->user(1).check());
  b.t(0).send(b.t(0).tei_msg(0x1111, check_response, 64));
  b.t(2).send(b.t(2).tei_msg(0x3333, check_response, 66));
  b.settle();
  EXPECT_FALSE(b.nt->user(0).check());
  EXPECT_EQ(b.nt->user(0).ri(), 0x1111u);
  b.advance(2000);
  EXPECT_EQ(b.nt->user(0).link_state(), ISDN::LAPD_NT_user::assigned);
  EXPECT_EQ(b.nt->user(1).link_state(), ISDN::LAPD_NT_user::unassigned);
  EXPECT_EQ(b.nt->user(2).link_state(), ISDN::LAPD_NT_user::assigned);
  b.sent();
  // The same answer again is the same terminal; another one is a second
  // terminal on the same TEI, and the TEI is taken from both.
  b.t(0).send(b.t(0).tei_msg(0x1111, check_response, 64));
  b.settle();
  EXPECT_TRUE(b.sent().empty());
  b.t(0).send(b.t(0).tei_msg(0x2222, check_response, 64));
  b.settle();
  const Bytes remove64 = Peer::tei_message(true, 0, remove_tei, 64);
  EXPECT_EQ(b.sent(), (std::vector<Bytes>{remove64, remove64}));
  EXPECT_EQ(b.nt->user(0).link_state(), ISDN::LAPD_NT_user::unassigned);
  EXPECT_TRUE(contains(b.clog.str(), "recieved check response with dublicated Ai=64,removed\n"));
  // An answer for a TEI nobody holds is adopted; one for the group TEI
  // removes every TEI, from the bus and from this side's table.
  b.t(0).send(b.t(0).tei_msg(0x5555, check_response, 80));
  b.t(0).send(b.t(0).tei_msg(0x5555, check_response, 127));
  b.settle();
  b.t(0).tei = 80;
  const Bytes remove127 = Peer::tei_message(true, 0, remove_tei, 127);
  EXPECT_EQ(b.sent(), (std::vector<Bytes>{b.t(0).their_u(0x6F, true, true), remove127, remove127}));
  for (unsigned u = 0; u < 8; ++u)
    EXPECT_EQ(b.nt->user(u).link_state(), ISDN::LAPD_NT_user::unassigned) << "user " << u;
}

// Once every TEI has been removed, the terminals asking again are served at
// once, even when all eight places were taken.
TEST(LapdNt, RemovalOfEveryTeiFreesTheTableForTheNextRequest) {
  Bus b(2);
  for (unsigned n = 0; n < 8; ++n) EXPECT_EQ(b.assign(0, static_cast<std::uint16_t>(0x100 + n)), 64 + n);
  b.t(1).send(b.t(1).tei_msg(0x0909, request, 127));
  b.settle();
  EXPECT_EQ(b.t(1).take(), std::vector<Bytes>{b.t(1).their_tei_msg(0x0909, denied, 127)});
  b.t(1).send(b.t(1).tei_msg(0x0A0A, check_response, 127));
  b.settle();
  b.take_all();
  b.sent();
  b.t(1).send(b.t(1).tei_msg(0x0B0B, request, 127));
  b.settle();
  const std::vector<Bytes> heard = b.t(1).take();
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard[0], b.t(1).their_tei_msg(0x0B0B, assigned, 64));
  // The old holders' timers went with their TEIs: nothing polls them.
  b.advance(15000);
  for (const Bytes& f : b.sent()) EXPECT_NE(f[1], 0x83) << "frame to the removed TEI 65";
}

// No more than 7 I frames are outstanding to a terminal; the others wait,
// and every frame sent is kept until acknowledged, so a lost one comes
// again.
TEST(LapdNt, WindowOfSevenAndEveryFrameKeptUntilAcknowledged) {
  Bus b(1);
  b.call(0);
  b.h.a().drop({b.h.a().sent() + 9});  // the 9th I frame is lost
  for (unsigned n = 1; n <= 10; ++n) b.down(message(0x01, n));
  b.settle();
  std::vector<Bytes> frames;
  for (unsigned n = 0; n < 7; ++n) frames.push_back(b.i_frame(0, n, 1, message(0x01, n + 1)));
  EXPECT_EQ(b.sent(), frames);
  EXPECT_EQ(b.nt->user(0).ack_queue(), 7u);
  EXPECT_EQ(b.nt->user(0).out_queue(), 3u);
  b.t(0).send(b.t(0).rr(3, true, false));
  b.settle();
  frames.clear();
  for (unsigned n = 7; n < 10; ++n) frames.push_back(b.i_frame(0, n, 1, message(0x01, n + 1)));
  EXPECT_EQ(b.sent(), frames);
  EXPECT_EQ(b.nt->user(0).ack_queue(), 7u);
  EXPECT_EQ(b.nt->user(0).out_queue(), 0u);
  // The terminal took up to the lost frame (N(S) 8); after a second without
  // more, all it has not acknowledged goes again, in order.
  b.t(0).send(b.t(0).rr(8, false, false));
  b.settle();
  EXPECT_TRUE(b.sent().empty());
  b.advance(1000);
  EXPECT_EQ(b.sent(), (std::vector<Bytes>{b.i_frame(0, 8, 1, message(0x01, 9)), b.i_frame(0, 9, 1, message(0x01, 10))}));
  b.t(0).send(b.t(0).rr(10, true, false));
  b.settle();
  EXPECT_EQ(b.nt->user(0).ack_queue(), 0u);
  EXPECT_EQ(b.nt->user(0).link_state(), ISDN::LAPD_NT_user::assigned);
  // An acknowledgement of frames never sent is refused: the TEI goes.
  b.t(0).send(b.t(0).rr(12, false, false));
  b.settle();
  EXPECT_EQ(b.nt->user(0).link_state(), ISDN::LAPD_NT_user::unassigned);
}

// A message with the dummy call reference is three octets long: it goes up
// like any other, its N(R) acknowledges, and the terminal's call keeps its
// routing.
TEST(LapdNt, ShortInSequenceFrameIsDeliveredAndAcknowledges) {
  Bus b(1);
  b.call(0);
  b.h.family_a().received.clear();
  b.down(message(0x01, 1));
  b.settle();
  EXPECT_EQ(b.nt->user(0).ack_queue(), 1u);
  const Bytes facility = {0x08, 0x00, 0x62};
  b.t(0).send(b.t(0).i(1, 1, facility));
  b.settle();
  EXPECT_EQ(b.h.family_a().received, std::vector<Bytes>{facility});
  EXPECT_EQ(b.nt->user(0).ack_queue(), 0u);
  EXPECT_EQ(b.nt->user(0).link_state(), ISDN::LAPD_NT_user::assigned);
  b.sent();
  b.down(message(0x01, 2));
  b.settle();
  EXPECT_EQ(b.sent(), std::vector<Bytes>{b.i_frame(0, 1, 2, message(0x01, 2))});
}

// A frame sent again carries the present V(R): an N(R) behind what the
// terminal has since been told would be an N(R) error there.
TEST(LapdNt, RetransmissionsCarryThePresentReceiveState) {
  Bus b(1);
  b.call(0);
  b.down(message(0x01, 1));  // N(S) 0, N(R) 1
  b.t(0).send(b.t(0).i(1, 0, message(0x81, 2), true));
  b.settle();
  EXPECT_EQ(b.sent(), (std::vector<Bytes>{b.i_frame(0, 0, 1, message(0x01, 1)), b.t(0).their_s(0x01, 2, true, false)}));
  b.advance(1000);
  EXPECT_EQ(b.sent(), std::vector<Bytes>{b.i_frame(0, 0, 2, message(0x01, 1))});
  // REJ: what comes before its N(R) is acknowledged, the rest goes again.
  b.down(message(0x01, 3));
  b.down(message(0x01, 4));
  b.settle();
  b.sent();
  b.t(0).send(b.t(0).rej(2, false, false));
  b.settle();
  EXPECT_EQ(b.sent(), (std::vector<Bytes>{b.i_frame(0, 2, 2, message(0x01, 4))}));
  EXPECT_EQ(b.nt->user(0).ack_queue(), 1u);
}

TEST(LapdNt, InvalidFramesChangeNothing) {
  Bus b(1);
  b.assign(0, 1);
  b.sent();
  const std::vector<Bytes> bad = {
      {0x00, 0x81, 0x00},                    // I frame without its second control octet
      {0x00, 0x81, 0x01},                    // RR likewise
      {0x02, 0x81, 0x00, 0x00, 8, 1, 1, 1},  // I frame as a response
      {0x01, 0x81, 0x00, 0x00},              // address of three octets
      {0x00, 0x80, 0x00, 0x00},
      {0x00, 0x81},
      {0x02, 0xFF, 0x13, 8, 1, 1, 5},  // UI with P set
      {0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x01},  // management message cut short
      {0x00, 0x81, 0x63},                          // UA
  };
  // Handed in directly: the frames are not for the line's capture.
  for (const Bytes& f : bad) {
    Packet p = linktest::packet_of(f);
    b.h.family_a().receive(p);
  }
  b.settle();
  EXPECT_TRUE(b.sent().empty());
  EXPECT_TRUE(b.h.family_a().received.empty());
  EXPECT_EQ(b.nt->user(0).vr(), 0u);
  EXPECT_EQ(b.nt->user(0).link_state(), ISDN::LAPD_NT_user::assigned);
  EXPECT_EQ(b.nt->user(1).link_state(), ISDN::LAPD_NT_user::unassigned);
}

TEST(LapdNt, DeactivationUnassignsEveryTerminalAndCompletes) {
  Bus b(2);
  b.assign(0, 1);
  b.assign(1, 2);
  b.h.family_a().deactivate();
  ASSERT_EQ(b.h.family_a().deactivations.size(), 1u);
  EXPECT_TRUE(b.h.family_a().deactivations[0].success);
  for (unsigned i = 0; i < ISDN::LAPD_NT::users; ++i)
    EXPECT_EQ(b.nt->user(i).link_state(), ISDN::LAPD_NT_user::unassigned);
  b.sent();
  b.advance(120000);  // no check, no poll
  EXPECT_TRUE(b.sent().empty());
}

}  // namespace
