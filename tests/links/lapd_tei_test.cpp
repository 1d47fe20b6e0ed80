// A BRI terminal's TEI management and UI frames, against a network side
// played by hand on the test clock: what libpri's network side cannot be
// made to do (the libpri suite has the rest).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "links/isdn/lapd.h"
#include "tests/links/lapd_fixture.h"

namespace lapd_tei_test {  // named: see "Unity builds" in tests/README.md

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
};


// Establishment asked for while no TEI is held waits for the TEI and is
// then carried out.
TEST(LapdTei, EstablishmentWithoutTeiIsCarriedOutOnceAssigned) {
  Terminal f;
  f.lapd().mdl_remove();
  f.family().activate();
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ESTABLISH_AWAITING_TEI);
  std::uint16_t ri = f.requested();
  // Denials and answers to other terminals leave it waiting; T202 asks again.
  f.peer.send(f.peer.tei_msg(static_cast<std::uint16_t>(ri + 1), assigned, 64));
  f.peer.send(f.peer.tei_msg(ri, denied, 127));
  f.advance(2000);
  EXPECT_EQ(f.status_texts(), std::vector<std::string>{"Tei Assign - Tei denied"});
  EXPECT_TRUE(contains(f.log_text(), "LAPD[7] (Establish awaiting TEI): ASP returned: All TEI's used\n"));
  ri = f.requested();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ESTABLISH_AWAITING_TEI);
  f.peer.send(f.peer.tei_msg(ri, assigned, 66));
  f.settle();
  f.peer.tei = 66;
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x6F, true, true)});
  EXPECT_TRUE(f.vars().L3Initiated);
  f.peer.send(f.peer.ua(true));
  f.settle();
  EXPECT_EQ(f.family().activations, 1);
}

// A message given while no TEI is held asks for one and waits; the link is
// never left awaiting a TEI with no request in flight.
TEST(LapdTei, MessageWithoutTeiAsksForOneAndIsKept) {
  Terminal f;
  f.lapd().mdl_remove();
  f.send_message(q931(1));
  f.settle();
  f.requested();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_ASSIGN_AWAITING_TEI);
  f.send_message(q931(2));  // while awaiting: kept, no second request
  f.advance(2000);
  const std::uint16_t ri = f.requested();
  f.peer.send(f.peer.tei_msg(ri, assigned, 67));
  f.settle();
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
  EXPECT_TRUE(f.status_texts().empty());  // T202 handed to T200 without a warning
  f.peer.tei = 67;
  f.peer.send(f.peer.sabme());
  f.settle();
  EXPECT_EQ(f.peer.take(), (std::vector<Bytes>{f.peer.their_u(0x63, true, false), f.peer.their_i(0, 0, q931(1)),
                                               f.peer.their_i(1, 0, q931(2))}));
  // A check for another TEI is not answered; one for ours is.
  f.peer.send(f.peer.tei_msg(0, check_request, 70));
  f.peer.send(f.peer.tei_msg(0, check_request, 67));
  f.settle();
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_tei_msg(ri, check_response, 67)});
}

// A SETUP offered to every terminal goes up; a terminal without its link
// brings it up to answer. The network side passes it up only; a primary
// rate link takes no UI frame at all.
TEST(LapdTei, LayerThreeBroadcasts) {
  const Bytes setup = {0x08, 0x01, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA2};
  Terminal f;
  f.assign(64);
  f.peer.send(f.peer.broadcast(setup));
  f.settle();
  EXPECT_EQ(f.family().received, std::vector<Bytes>{setup});
  EXPECT_EQ(f.peer.take(), std::vector<Bytes>{f.peer.their_u(0x6F, true, true)});
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_AWAITING_ESTABLISHMENT);
  // A management message too short to hold an action indicator: ignored.
  Packet cut = linktest::packet_of({0xFE, 0xFF, 0x03, 0x0F, 0x12, 0x34, 0x06});
  f.lapd().on_hdlc_receive(cut);
  f.settle();
  EXPECT_TRUE(f.peer.take().empty());

  LapdFixture n(Side::network);
  n.lapd().change_to_bri();
  n.peer.send(n.peer.broadcast(setup));
  n.settle();
  EXPECT_EQ(n.family().received, std::vector<Bytes>{setup});
  EXPECT_TRUE(n.peer.take().empty());

  LapdFixture p(Side::user);
  p.peer.send(p.peer.broadcast(setup));
  p.peer.send(p.peer.tei_msg(0, remove_tei, 127));
  p.settle();
  EXPECT_TRUE(p.family().received.empty());
  EXPECT_TRUE(p.peer.take().empty());
  EXPECT_EQ(p.lapd().current_state(), ISDN::ST_TEI_ASSIGNED);
}

}  // namespace lapd_tei_test
