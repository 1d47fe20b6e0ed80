// A BRI terminal's TEI management and UI frames, against a network side
// played by hand on the test clock: what libpri's network side cannot be
// made to do (the libpri suite has the rest).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <sstream>
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


// Every state change of the TEI paths is traced with the event that made
// it, the five-times-unanswered request included.
TEST(LapdTei, StateChangesNameTheirEvent) {
  Terminal f;
  f.lapd().set_log(2);
  f.lapd().mdl_remove();
  f.family().activate();
  f.settle();
  std::uint16_t ri = f.requested();
  f.peer.send(f.peer.tei_msg(ri, assigned, 64));
  f.settle();
  f.peer.tei = 64;
  f.peer.take();
  // A call offered to the bus while the link is being set up.
  f.peer.send(f.peer.broadcast(q931(1)));
  f.settle();
  f.peer.send(f.peer.ua(true));
  f.settle();
  f.peer.send(f.peer.tei_msg(0, remove_tei, 64));
  f.settle();
  for (int i = 0; i < 5; ++i) f.advance(2000);
  ASSERT_EQ(f.family().deactivations.size(), 2u);
  EXPECT_EQ(f.family().deactivations[1].text, "link error (T202 expired N202 times)");
  std::string changes;
  std::istringstream lines(f.log_text());
  for (std::string line; std::getline(lines, line);)
    if (contains(line, "change state")) changes += line + "\n";
  EXPECT_EQ(changes,
            "LAPD[7] : change state \"TEI assigned\" -> \"TEI unassigned\" on MDL-REMOVE\n"
            "LAPD[7] : change state \"TEI unassigned\" -> \"Establish awaiting TEI\" on DL-ESTABLISH\n"
            "LAPD[7] : change state \"Establish awaiting TEI\" -> \"Awaiting establishment\" on MDL-ASSIGN\n"
            "LAPD[7] : change state \"Awaiting establishment\" -> \"TEI assigned\" on UI\n"
            "LAPD[7] : change state \"TEI assigned\" -> \"Awaiting establishment\" on DL-ESTABLISH\n"
            "LAPD[7] : change state \"Awaiting establishment\" -> \"Multiple frame established\" on UA\n"
            "LAPD[7] : change state \"Multiple frame established\" -> \"TEI unassigned\" on MDL-REMOVE\n"
            "LAPD[7] : change state \"TEI unassigned\" -> \"Assign awaiting TEI\" on identity remove\n"
            "LAPD[7] : change state \"Assign awaiting TEI\" -> \"TEI unassigned\" on T202\n");
  EXPECT_EQ(f.lapd().current_state(), ISDN::ST_TEI_UNASSIGNED);
}


// The Ri of `count` identity requests of one terminal: five per assignment
// that nobody answers, then it starts again.
std::vector<std::uint16_t> references(unsigned count) {
  Terminal f;
  f.lapd().mdl_remove();
  std::vector<std::uint16_t> ri;
  while (ri.size() < count) {
    f.family().activate();
    f.settle();
    for (int i = 0; i < 5; ++i) {
      for (const Bytes& b : f.peer.take())
        if (b.size() == 8 && b[6] == request) ri.push_back(static_cast<std::uint16_t>(b[4] | b[5] << 8));
      f.advance(2000);
    }
    if (f.lapd().current_state() != ISDN::ST_TEI_UNASSIGNED) break;
  }
  ri.resize(count);
  return ri;
}

// Two boards on one bus are two processes started alike: each terminal runs
// in a child of its own, forked together, and their references must be as
// independent as chance makes them.
TEST(LapdTei, TerminalsStartedTogetherDrawDifferentReferences) {
  constexpr unsigned n = 1000;
  std::vector<std::uint16_t> drawn[2];
  pid_t child[2];
  int fd[2][2];
  for (int t = 0; t < 2; ++t) {
    ASSERT_EQ(::pipe(fd[t]), 0);
    child[t] = ::fork();
    ASSERT_GE(child[t], 0) << "could not fork: " << std::strerror(errno);
    if (child[t] == 0) {
      const std::vector<std::uint16_t> ri = references(n);
      const bool whole = ri.size() == n && ::write(fd[t][1], ri.data(), n * sizeof ri[0]) == ssize_t(n * sizeof ri[0]);
      ::_exit(whole ? 0 : 1);
    }
    ::close(fd[t][1]);
  }
  for (int t = 0; t < 2; ++t) {
    drawn[t].resize(n);
    std::size_t got = 0;
    auto* into = reinterpret_cast<char*>(drawn[t].data());
    for (ssize_t r; got < n * sizeof(std::uint16_t) && (r = ::read(fd[t][0], into + got, n * 2 - got)) > 0;)
      got += static_cast<std::size_t>(r);
    ::close(fd[t][0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child[t], &status, 0), child[t]);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "terminal " << t;
    ASSERT_EQ(got, n * sizeof(std::uint16_t));
  }
  // Request k of one terminal against request k of the other: 1000/65536
  // equal pairs expected; three or more has a chance below one in a million.
  unsigned same = 0;
  for (unsigned k = 0; k < n; ++k) same += drawn[0][k] == drawn[1][k];
  EXPECT_LE(same, 2u);
  // Values of one terminal found anywhere in the other's: about 15 by
  // chance (1000 * 1000 / 65536).
  const std::set<std::uint16_t> other(drawn[1].begin(), drawn[1].end());
  unsigned shared = 0;
  for (std::uint16_t r : drawn[0]) shared += other.count(r) != 0;
  EXPECT_LT(shared, 45u);
}

}  // namespace lapd_tei_test
