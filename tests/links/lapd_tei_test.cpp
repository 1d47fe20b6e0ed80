// A BRI terminal's TEI management and UI frames, against a network side
// played by hand on the test clock: assignment, denial and its retries,
// checks, removal, layer-3 broadcasts, and the requests made without a TEI.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "links/isdn/lapd.h"
#include "tests/links/lapd_fixture.h"

namespace {

using ISDN::Side;
using lapdtest::Bytes;
using lapdtest::LapdFixture;
using lapdtest::q931;

enum : std::uint8_t { request = 1, assigned = 2, denied = 3, check_request = 4, check_response = 5, remove_tei = 6 };

bool contains(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

struct Terminal : LapdFixture {
  Terminal() : LapdFixture(Side::user) { lapd().change_to_bri(); }

  // The Ri of the one identity request the link has just sent.
  std::uint16_t requested() {
    const std::vector<Bytes> heard = peer.take();
    if (heard.size() != 1 || heard[0].size() != 8) {
      ADD_FAILURE() << "expected one identity request, heard " << heard.size() << " frames";
      return 0;
    }
    const auto ri = static_cast<std::uint16_t>(heard[0][4] | heard[0][5] << 8);
    EXPECT_EQ(heard[0], peer.their_tei_msg(ri, request, 127));
    return ri;
  }
  // Removes every TEI, answers the request with tei.
  void assign(unsigned tei) {
    peer.send(peer.tei_msg(0, remove_tei, 127));
    settle();
    peer.send(peer.tei_msg(requested(), assigned, tei));
    settle();
    peer.tei = static_cast<std::uint8_t>(tei);
  }
  // Milliseconds, from the first, at which the link sent identity requests.
  std::vector<unsigned> request_times() {
    std::vector<unsigned> t;
    for (const auto& f : h.log().frames())
      if (f.from == "user" && f.sent.size() == 8 && f.sent[0] == 0xFC && f.sent[6] == request)
        t.push_back(static_cast<unsigned>(f.us / 1000));
    for (std::size_t i = t.size(); i-- > 0;) t[i] -= t[0];
    return t;
  }
};

TEST(LapdTei, RemoveAllStartsAnAssignmentThatOnlyTheRightAnswerEnds) {
  Terminal f;
  f.peer.send(f.peer.tei_msg(0, remove_tei, 127));
  f.settle();
  const std::uint16_t ri = f.requested();
  EXPECT_EQ(ri, f.lapd().ri());
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ASSIGN_AWAITING_TEI);
  EXPECT_TRUE(f.vars().T202_running);
  // Another answer, or one to another terminal, changes nothing.
  f.peer.send(f.peer.tei_msg(static_cast<std::uint16_t>(ri + 1), assigned, 64));
  f.peer.send(f.peer.tei_msg(ri, check_request, 127));
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ASSIGN_AWAITING_TEI);
  EXPECT_TRUE(f.peer.take().empty());
  f.peer.send(f.peer.tei_msg(ri, assigned, 65));
  f.settle();
  EXPECT_EQ(f.vars().self_tei, 65u);
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
  EXPECT_TRUE(f.vars().T200_running);
  EXPECT_FALSE(f.vars().T202_running);
  // The shared timer passed from T202 to T200 without a warning.
  EXPECT_TRUE(f.status_texts().empty());
  EXPECT_TRUE(f.peer.take().empty());  // no SABME: nobody asked for the link
  // Frames for the old TEI are no longer ours; the new TEI's are.
  f.peer.tei = 0;
  f.peer.send(f.peer.sabme());
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  f.peer.tei = 65;
  f.peer.send(f.peer.sabme());
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x63, true, false)});
  EXPECT_EQ(f.family().activations, 1);
}

// A network removes all TEIs in bursts: one request is made, the later
// removes leave it standing, and the terminal takes one TEI of the pool.
TEST(LapdTei, RemovesWhileAwaitingTheTeiAskOnlyOnce) {
  Terminal f;
  for (int i = 0; i < 4; ++i) f.peer.send(f.peer.tei_msg(0, remove_tei, 127));
  f.settle();
  const std::uint16_t ri = f.requested();
  f.family().activate();  // state 2 likewise keeps its request
  for (int i = 0; i < 2; ++i) f.peer.send(f.peer.tei_msg(0, remove_tei, 127));
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  EXPECT_EQ(f.lapd().ri(), ri);
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ESTABLISH_AWAITING_TEI);
}

// Asked for while no TEI is held, the establishment waits for the TEI and
// is then carried out, whether the assignment was already under way or not.
TEST(LapdTei, EstablishmentWithoutTeiIsCarriedOutOnceAssigned) {
  for (bool underWay : {false, true}) {
    Terminal f;
    if (underWay) {
      f.peer.send(f.peer.tei_msg(0, remove_tei, 127));
      f.settle();
      f.requested();
      ASSERT_EQ(f.lapd().current_state(), ISDN::ST_ASSIGN_AWAITING_TEI);
    } else {
      f.lapd().mdl_remove();
      ASSERT_EQ(f.lapd().current_state(), ISDN::ST_TEI_UNASSIGNED);
    }
    f.family().activate();
    f.settle();
    EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ESTABLISH_AWAITING_TEI);
    std::uint16_t ri = f.lapd().ri();
    if (!underWay) ri = f.requested();
    f.advance(2000);  // T202: asked again, the request still remembered
    ri = f.requested();
    EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ESTABLISH_AWAITING_TEI);
    f.peer.send(f.peer.tei_msg(ri, assigned, 66));
    f.settle();
    f.peer.tei = 66;
    EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x6F, true, true)}) << underWay;
    EXPECT_EQ(f.lapd().current_state(), ISDN::ST_AWAITING_ESTABLISHMENT);
    EXPECT_TRUE(f.vars().L3Initiated);
    EXPECT_TRUE(f.status_texts().empty());
    f.peer.send(f.peer.ua(true));
    f.settle();
    EXPECT_EQ(f.family().activations, 1);
    EXPECT_EQ(f.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  }
}

// A message given while no TEI is held asks for one and waits; the link is
// never left awaiting a TEI with no request in flight.
TEST(LapdTei, MessageWithoutTeiAsksForOneAndIsKept) {
  Terminal f;
  f.lapd().mdl_remove();
  f.send_message(q931(1));
  f.settle();
  std::uint16_t ri = f.requested();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ASSIGN_AWAITING_TEI);
  EXPECT_TRUE(f.vars().T202_running);
  EXPECT_EQ(f.lapd().out_queue(), 1u);
  f.send_message(q931(2));  // while awaiting: kept, no second request
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  f.advance(2000);
  ri = f.requested();
  f.peer.send(f.peer.tei_msg(ri, assigned, 67));
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
  EXPECT_EQ(f.lapd().out_queue(), 2u);
  f.peer.tei = 67;
  f.peer.send(f.peer.sabme());
  f.settle();
  EXPECT_EQ(f.peer.take(), (std::vector<Bytes>{f.peer.their_u(0x63, true, false), f.peer.their_i(0, 0, q931(1)),
                                               f.peer.their_i(1, 0, q931(2))}));
}

TEST(LapdTei, DeniedRequestsAreRepeatedFiveTimesTwoSecondsApartThenTheLinkFails) {
  Terminal f;
  f.peer.send(f.peer.tei_msg(0, remove_tei, 127));
  f.settle();
  std::uint16_t ri = f.requested();
  // A denial of another terminal's request is not ours.
  f.peer.send(f.peer.tei_msg(static_cast<std::uint16_t>(ri ^ 0x0101), denied, 127));
  f.settle();
  EXPECT_TRUE(f.status_texts().empty());
  std::vector<std::uint16_t> ris{ri};
  for (int n = 0; n < 5; ++n) {
    f.peer.send(f.peer.tei_msg(ri, denied, n == 0 ? 70 : 127));
    f.settle();
    EXPECT_EQ(f.lapd().stats().t202, unsigned(n));
    f.advance(1999);
    EXPECT_TRUE(f.peer.take().empty());
    f.advance(1);
    if (n < 4) {
      ri = f.requested();
      ris.push_back(ri);
    }
  }
  EXPECT_TRUE(f.peer.take().empty());
  EXPECT_EQ(f.request_times(), (std::vector<unsigned>{0, 2000, 4000, 6000, 8000}));
  EXPECT_NE(ris[0], ris[1]);  // a fresh reference each time
  const std::string log = f.log_text();
  EXPECT_TRUE(contains(log, "LAPD[7] (Assign awaiting TEI): ASP returned: TEI 70 denied\n"));
  EXPECT_TRUE(contains(log, "LAPD[7] (Assign awaiting TEI): ASP returned: All TEI's used\n"));
  EXPECT_EQ(f.status_texts(), std::vector<std::string>(5, "Tei Assign - Tei denied"));
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_UNASSIGNED);
  EXPECT_EQ(f.lapd().stats().t202, 5u);
  ASSERT_EQ(f.family().deactivations.size(), 1u);
  EXPECT_FALSE(f.family().deactivations[0].success);
  EXPECT_EQ(f.family().deactivations[0].text, "link error (T202 expired N202 times)");
  f.advance(10000);
  EXPECT_TRUE(f.peer.take().empty());
}

// In state 2 a denial is reported as in state 1.
TEST(LapdTei, DenialWhileEstablishmentWaitsIsReported) {
  Terminal f;
  f.lapd().mdl_remove();
  f.family().activate();
  f.settle();
  f.peer.send(f.peer.tei_msg(f.requested(), denied, 127));
  f.settle();
  EXPECT_EQ(f.status_texts(), std::vector<std::string>{"Tei Assign - Tei denied"});
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ESTABLISH_AWAITING_TEI);
}

TEST(LapdTei, ChecksAreAnsweredWithTheStoredRiAndTheOwnTei) {
  Terminal f;
  f.assign(64);
  const std::uint16_t ri = f.lapd().ri();
  f.peer.send(f.peer.sabme());
  f.settle();
  f.peer.take();
  ASSERT_EQ(f.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  f.peer.send(f.peer.tei_msg(0, check_request, 127));
  f.peer.send(f.peer.tei_msg(0, check_request, 64));
  f.peer.send(f.peer.tei_msg(0, check_request, 70));
  f.settle();
  const Bytes answer = f.peer.their_tei_msg(ri, check_response, 64);
  EXPECT_EQ(f.peer.take(), (std::vector<Bytes>{answer, answer}));
  // Without a TEI there is nothing to answer for.
  f.peer.send(f.peer.tei_msg(0, remove_tei, 64));
  f.settle();
  f.peer.take();
  f.peer.send(f.peer.tei_msg(0, check_request, 127));
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
}

TEST(LapdTei, RemovalOfTheOwnTeiReleasesTheLinkAndAsksAgain) {
  Terminal f;
  f.assign(64);
  f.peer.send(f.peer.sabme());
  f.settle();
  f.peer.take();
  f.send_message(q931(5));
  f.settle();
  f.peer.take();
  f.peer.send(f.peer.tei_msg(0, remove_tei, 70));  // another terminal's
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  f.peer.send(f.peer.tei_msg(0, remove_tei, 64));
  f.settle();
  ASSERT_EQ(f.family().deactivations.size(), 1u);
  EXPECT_FALSE(f.family().deactivations[0].success);
  EXPECT_EQ(f.family().deactivations[0].text, "error (MDL-REMOVE received)");
  const std::uint16_t ri = f.requested();
  EXPECT_EQ(ri, f.lapd().ri());
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ASSIGN_AWAITING_TEI);
  EXPECT_EQ(f.lapd().out_queue(), 0u);
  EXPECT_EQ(f.lapd().ack_queue(), 0u);
  EXPECT_FALSE(f.vars().T203_running);
  EXPECT_TRUE(f.vars().T202_running);
  EXPECT_TRUE(contains(f.log_text(), "LAPD[7] (Multiple frame established): MDL-REMOVE\n"));
}

// A SETUP offered to every terminal goes up; a terminal without its link
// brings it up to answer.
TEST(LapdTei, LayerThreeBroadcastGoesUpAndBringsTheLinkUp) {
  const Bytes setup = {0x08, 0x01, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA2};
  Terminal f;
  f.assign(64);
  f.peer.send(f.peer.broadcast(setup));
  f.settle();
  EXPECT_EQ(f.family().received, std::vector<Bytes>{setup});
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x6F, true, true)});
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_AWAITING_ESTABLISHMENT);
  // Again while the link comes up: establishment starts over.
  f.advance(500);
  f.peer.send(f.peer.broadcast(setup));
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x6F, true, true)});
  EXPECT_EQ(f.vars().RC, 0);
  f.peer.send(f.peer.ua(true));
  f.settle();
  f.peer.send(f.peer.broadcast(setup));
  // A management message too short to hold an action indicator: ignored.
  Packet cut = linktest::packet_of({0xFE, 0xFF, 0x03, 0x0F, 0x12, 0x34, 0x06});
  f.lapd().on_hdlc_receive(cut);
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  EXPECT_EQ(f.family().received.size(), 3u);
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);

  // The network side of a BRI passes layer 3 up and brings nothing up.
  LapdFixture n(Side::network);
  n.lapd().change_to_bri();
  n.peer.send(n.peer.broadcast(setup));
  n.settle();
  EXPECT_EQ(n.family().received, std::vector<Bytes>{setup});
  EXPECT_TRUE(n.peer.take().empty());
}

// On primary rate, UI frames and TEI management mean nothing.
TEST(LapdTei, PrimaryRateIgnoresUiFrames) {
  LapdFixture f(Side::user);
  f.peer.send(f.peer.broadcast(q931(1)));
  f.peer.send(f.peer.tei_msg(0, remove_tei, 127));
  f.settle();
  EXPECT_TRUE(f.family().received.empty());
  EXPECT_TRUE(f.peer.take().empty());
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
  f.lapd().mdl_remove();
  f.family().activate();
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ESTABLISH_AWAITING_TEI);
}

}  // namespace
