// Basic rate against Debian's libpri on the test line: our terminal side
// against libpri's network side (TEI assignment, broadcast SETUP, check,
// removal, denial), and our network side against libpri terminals on a bus
// (TEIs, broadcast, answers, routing by call reference, a silent terminal,
// a ninth terminal). Every frame is read back by tshark (the captures test).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "links/isdn/lapd.h"
#include "links/isdn/lapd_nt.h"
#include "tests/links/libpri/libpri_peer.h"
#include "tests/links/link_harness.h"
#include "tests/links/tshark.h"
#include "tests/stream_capture.h"

namespace {

using ISDN::Side;
using linktest::Bytes;

enum : std::uint8_t { request = 1, assigned = 2, denied = 3, check_request = 4, check_response = 5, remove_tei = 6 };

const Bytes setup = {0x08, 0x01, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x01, 0x89, 0x70, 0x04, 0x80, 0x35, 0x35, 0x35};

bool is_tei(const Bytes& f, std::uint8_t type) { return f.size() == 8 && (f[0] & 0xFC) == 0xFC && f[6] == type; }

// Q.931 message type of a message with a one-octet call reference, or -1.
int message_type(const Bytes& m) { return m.size() >= 4 && m[0] == 0x08 && m[1] == 1 ? m[3] : -1; }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// ------------------------------------------------------------ terminal side

struct Terminal {
  linktest::LinkHarness h{203};
  ISDN::LAPD* link = new ISDN::LAPD(Side::user, 0);
  LibpriPeer network{h.b(), PRI_NETWORK, PRI_SWITCH_EUROISDN_E1, LibpriPeer::basic};
  testkit::StreamCapture clog{std::clog};

  Terminal() {
    LibpriPeer::errors().clear();
    h.a().set_name("user");
    h.b().set_name("network (libpri)");
    h.a().set_outbound(true);
    h.b().set_outbound(false);
    link->change_to_bri();
    link->set_transmitter(&h.a());
    h.a().bind(link);
    h.family_a().add_protocol_tail(link);
    h.add_busy([this] { return network.busy(); });
  }
  // What our side sent of one kind of management message.
  std::vector<Bytes> ours(std::uint8_t type) {
    std::vector<Bytes> v;
    for (const auto& f : h.log().frames())
      if (f.from == "user" && is_tei(f.sent, type)) v.push_back(f.sent);
    return v;
  }
  // As the network's management entity: libpri offers no call that makes
  // its network side check or remove a TEI, so these go on the line beside it.
  void network_says(std::uint8_t type, unsigned ai) {
    Packet p = linktest::packet_of({0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, type, static_cast<std::uint8_t>(ai << 1 | 1)});
    h.b().hdlc_transmit(p);
  }
};

TEST(LapdLibpriBri, TerminalSideAgainstLibpriNetwork) {
  Terminal t;
  ASSERT_TRUE(t.h.advance(1000));
  // libpri removes every TEI as it starts; we ask once and get 64, libpri
  // brings the link up.
  ASSERT_EQ(t.ours(request).size(), 1u);
  EXPECT_EQ(t.link->full_state().self_tei, 64u);
  EXPECT_EQ(t.link->current_state(), ISDN::ST_MULTIPLE_FRAME_ESTABLISHED);
  EXPECT_EQ(t.h.family_a().activations, 1);
  const char* noTshark = linktest::tshark_missing();
  if (!noTshark) {
    // Direction (1: from the network), message, reference and action: the
    // assignment echoes the request's Ri octets.
    const auto tei = lines(linktest::tshark(
        t.h.log(), "-Y tei_management -T fields -E separator=';' -e frame.p2p_dir -e tei.msg -e tei.reference "
                   "-e tei.action"));
    const Bytes req = t.ours(request).at(0);
    const std::string ref = std::to_string(req[4] << 8 | req[5]);  // tshark reads it high octet first
    ASSERT_GE(tei.size(), 3u);
    EXPECT_EQ(tei[0], "1;6;0;127");
    EXPECT_NE(std::find(tei.begin(), tei.end(), "0;1;" + ref + ";127"), tei.end());
    EXPECT_EQ(tei.back(), "1;2;" + ref + ";64");
  }

  // A SETUP offered to every terminal arrives in a UI frame and goes up.
  q931_call* c = pri_new_call(t.network.pri());
  pri_sr* sr = pri_sr_new();
  pri_sr_set_channel(sr, 1, 0, 0);
  pri_sr_set_bearer(sr, PRI_TRANS_CAP_SPEECH, PRI_LAYER_1_ALAW);
  char digits[] = "555";
  pri_sr_set_called(sr, digits, PRI_UNKNOWN, 1);
  ASSERT_EQ(pri_setup(t.network.pri(), c, sr), 0);
  pri_sr_free(sr);
  t.network.poke();
  ASSERT_TRUE(t.h.advance(100));
  ASSERT_EQ(t.h.family_a().received.size(), 1u);
  EXPECT_EQ(message_type(t.h.family_a().received[0]), 0x05);
  EXPECT_EQ(t.h.log().frames().back().sent.at(2), 0x03);  // in a UI frame

  // A check is answered with the request's Ri and our TEI.
  const std::uint16_t ri = t.link->ri();
  t.network_says(check_request, 127);
  ASSERT_TRUE(t.h.advance(100));
  ASSERT_EQ(t.ours(check_response).size(), 1u);
  EXPECT_EQ(t.ours(check_response)[0], (Bytes{0xFC, 0xFF, 0x03, 0x0F, static_cast<std::uint8_t>(ri & 0xFF),
                                               static_cast<std::uint8_t>(ri >> 8), check_response, 0x81}));

  // Our TEI removed: the link goes down and asks again.
  t.network_says(remove_tei, 64);
  ASSERT_TRUE(t.h.advance(1000));
  ASSERT_EQ(t.h.family_a().deactivations.size(), 1u);
  EXPECT_EQ(t.h.family_a().deactivations[0].text, "error (MDL-REMOVE received)");
  EXPECT_EQ(t.ours(request).size(), 2u);
  EXPECT_EQ(t.link->full_state().self_tei, 65u);
  EXPECT_EQ(t.h.family_a().activations, 2);
  EXPECT_EQ(LibpriPeer::errors(), std::vector<std::string>());
  if (noTshark) GTEST_SKIP() << noTshark << ": the TEI messages were not read back";
}

// The line turns libpri's every assignment into a denial of all TEIs.
TEST(LapdLibpriBri, TerminalDeniedAsksFiveTimesTwoSecondsApartThenFails) {
  Terminal t;
  t.h.b().set_filter([](unsigned, Bytes& f) {
    if (is_tei(f, assigned)) {
      f[6] = denied;
      f[7] = 0xFF;
    }
    return linktest::FrameLog::Fate::delivered;
  });
  ASSERT_TRUE(t.h.advance(20000));
  std::vector<unsigned> at;
  for (const auto& f : t.h.log().frames())
    if (f.from == "user" && is_tei(f.sent, request)) at.push_back(static_cast<unsigned>(f.us / 1000));
  ASSERT_EQ(at.size(), 5u);
  for (unsigned i = 1; i < 5; ++i) EXPECT_EQ(at[i] - at[i - 1], 2000u);
  ASSERT_EQ(t.h.family_a().deactivations.size(), 1u);
  EXPECT_EQ(t.h.family_a().deactivations[0].text, "link error (T202 expired N202 times)");
  EXPECT_EQ(t.link->current_state(), ISDN::ST_TEI_UNASSIGNED);
  EXPECT_EQ(t.h.family_a().statuses.size(), 5u);
  EXPECT_NE(t.clog.str().find("ASP returned: All TEI's used"), std::string::npos);
}

// ------------------------------------------------------------ network side

struct Bus {
  linktest::LinkHarness h{203};
  ISDN::LAPD_NT* nt = new ISDN::LAPD_NT;
  std::vector<std::unique_ptr<LibpriPeer>> terminals;
  std::vector<linktest::LinkEnd*> ends;
  std::vector<int> rings;
  std::vector<std::vector<int>> events;

  explicit Bus(unsigned count) {
    LibpriPeer::errors().clear();
    h.a().set_name("network");
    h.a().set_outbound(false);
    h.family_a().add_protocol_tail(nt);
    h.a().bind([this](Packet& p) { h.family_a().receive(p); });
    rings.resize(count);
    events.resize(count);
    for (unsigned i = 0; i < count; ++i) {
      const std::string name = "terminal " + std::to_string(i + 1) + " (libpri)";
      linktest::LinkEnd& end = i == 0 ? h.b() : h.add_end(name);
      end.set_name(name);
      end.set_outbound(true);
      ends.push_back(&end);
      terminals.push_back(std::make_unique<LibpriPeer>(end, PRI_CPE, PRI_SWITCH_EUROISDN_E1, LibpriPeer::basic));
      LibpriPeer* te = terminals.back().get();
      te->on_event = [this, i, te](pri_event* e) {
        events[i].push_back(e->e);
        if (e->e == PRI_EVENT_RING) {
          ++rings[i];
          pri_proceeding(te->pri(), e->ring.call, e->ring.channel, 0);
        }
      };
    }
    h.add_busy([this] {
      for (const auto& t : terminals)
        if (t->busy()) return true;
      return false;
    });
    h.family_a().activate();
  }
  void down(const Bytes& m) {
    Packet p = h.family_a().payload(m);
    h.family_a().message(p);
  }
  // The TEIs of the I frames the network side sent from frame `from` on.
  std::vector<unsigned> i_frame_teis(std::size_t from) {
    std::vector<unsigned> v;
    const auto& frames = h.log().frames();
    for (std::size_t k = from; k < frames.size(); ++k)
      if (frames[k].from == "network" && frames[k].sent.size() > 4 && (frames[k].sent[2] & 1) == 0)
        v.push_back(frames[k].sent[1] >> 1);
    return v;
  }
};

TEST(LapdLibpriBri, NetworkSideAgainstTwoLibpriTerminals) {
  Bus b(2);
  ASSERT_TRUE(b.h.advance(1000));
  EXPECT_EQ(b.nt->user(0).tei(), 64u);
  EXPECT_EQ(b.nt->user(1).tei(), 65u);
  EXPECT_EQ(b.terminals[0]->up, 1);
  EXPECT_EQ(b.terminals[1]->up, 1);

  // A SETUP for every terminal: both ring, and each answer comes up.
  b.down(setup);
  ASSERT_TRUE(b.h.advance(2000));
  EXPECT_EQ(b.rings, (std::vector<int>{1, 1}));
  std::vector<int> answers;
  for (const Bytes& m : b.h.family_a().received) answers.push_back(message_type(m));
  EXPECT_EQ(answers, (std::vector<int>{0x02, 0x02}));  // CALL PROCEEDING from each

  // Terminal 1 places two calls: its last call reference is then its own,
  // while terminal 2's is still the broadcast call's. A message for each
  // reaches that terminal alone.
  for (char n : {'6', '7'}) {
    q931_call* c = pri_new_call(b.terminals[0]->pri());
    pri_sr* sr = pri_sr_new();
    pri_sr_set_channel(sr, n - '5', 0, 0);
    pri_sr_set_bearer(sr, PRI_TRANS_CAP_SPEECH, PRI_LAYER_1_ALAW);
    char digits[] = {n, n, n, 0};
    pri_sr_set_called(sr, digits, PRI_UNKNOWN, 1);
    ASSERT_EQ(pri_setup(b.terminals[0]->pri(), c, sr), 0);
    pri_sr_free(sr);
  }
  b.terminals[0]->poke();
  // A terminal's window on a BRI is one frame: the second SETUP follows the
  // acknowledgement of the first, which this side gives when polled.
  for (int i = 0; i < 30 && b.h.family_a().received.size() < 4; ++i) ASSERT_TRUE(b.h.advance(100));
  ASSERT_EQ(b.h.family_a().received.size(), 4u);
  const Bytes last = b.h.family_a().received.back();
  ASSERT_EQ(message_type(last), 0x05);
  const std::uint8_t theirs = last[2] & 0x7F;
  ASSERT_EQ(b.nt->user(0).call_reference(), theirs);
  ASSERT_EQ(b.nt->user(1).call_reference(), setup[2]);
  ASSERT_NE(theirs, setup[2]);
  const std::size_t mark = b.h.log().frames().size();
  b.down({0x08, 0x01, static_cast<std::uint8_t>(theirs | 0x80), 0x02, 0x18, 0x01, 0x8A});  // CALL PROCEEDING
  b.down({0x08, 0x01, setup[2], 0x4D, 0x08, 0x02, 0x80, 0x90});                          // RELEASE
  ASSERT_TRUE(b.h.advance(100));
  EXPECT_EQ(b.i_frame_teis(mark), (std::vector<unsigned>{64, 65}));
  EXPECT_EQ(std::count(b.events[0].begin(), b.events[0].end(), PRI_EVENT_PROCEEDING), 1);
  EXPECT_EQ(std::count(b.events[1].begin(), b.events[1].end(), PRI_EVENT_PROCEEDING), 0);
  EXPECT_EQ(std::count(b.events[0].begin(), b.events[0].end(), PRI_EVENT_HANGUP), 0);
  EXPECT_EQ(std::count(b.events[1].begin(), b.events[1].end(), PRI_EVENT_HANGUP), 1);
  const char* noTshark = linktest::tshark_missing();
  if (!noTshark) {
    // The same, as tshark reads the I frames the network side sent.
    const auto sent = lines(linktest::tshark(
        b.h.log(), "-Y 'frame.number > " + std::to_string(mark) +
                       " && lapd.control.ftype == 0 && frame.p2p_dir == 1' -T fields -e lapd.tei -e q931.message_type"));
    EXPECT_EQ(sent, (std::vector<std::string>{"64\t0x02", "65\t0x4d"}));
  }

  // Terminal 2 goes silent (the line loses all it sends): polled once it
  // has been idle 10 s, every second, and unassigned 4 s after.
  ASSERT_TRUE(b.h.settle());
  b.ends[1]->set_filter([](unsigned, Bytes&) { return linktest::FrameLog::Fate::dropped; });
  std::uint64_t lastHeard = 0;
  for (const auto& f : b.h.log().frames())
    if (f.from == b.ends[1]->name()) lastHeard = f.us / 1000;
  const std::uint32_t quiet = static_cast<std::uint32_t>(lastHeard) + 14000 - b.h.now();
  ASSERT_TRUE(b.h.advance(quiet - 1));
  EXPECT_EQ(b.nt->user(1).link_state(), ISDN::LAPD_NT_user::wait_answer);
  ASSERT_TRUE(b.h.advance(1));
  EXPECT_EQ(b.nt->user(1).link_state(), ISDN::LAPD_NT_user::unassigned);
  EXPECT_NE(b.nt->user(0).link_state(), ISDN::LAPD_NT_user::unassigned);
  std::vector<unsigned> polls;
  for (const auto& f : b.h.log().frames())
    if (f.from == "network" && f.sent.size() == 4 && f.sent[1] == 0x83 && f.sent[2] == 0x01 && (f.sent[3] & 1) &&
        f.us / 1000 > lastHeard)
      polls.push_back(static_cast<unsigned>(f.us / 1000 - lastHeard));
  EXPECT_EQ(polls, (std::vector<unsigned>{10000, 11000, 12000, 13000}));
  EXPECT_EQ(LibpriPeer::errors(), std::vector<std::string>());
  if (noTshark) GTEST_SKIP() << noTshark << ": the I frames were not read back";
}

TEST(LapdLibpriBri, NinthTerminalIsDeniedWithAi127) {
  Bus b(9);
  ASSERT_TRUE(b.h.advance(1000));
  std::vector<unsigned> teis;
  for (unsigned i = 0; i < ISDN::LAPD_NT::users; ++i) teis.push_back(b.nt->user(i).tei());
  EXPECT_EQ(teis, (std::vector<unsigned>{64, 65, 66, 67, 68, 69, 70, 71}));
  unsigned up = 0;
  for (const auto& t : b.terminals) up += t->up;
  EXPECT_EQ(up, 8u);
  unsigned denials = 0;
  for (const auto& f : b.h.log().frames())
    if (f.from == "network" && is_tei(f.sent, denied)) {
      EXPECT_EQ(f.sent[7], 0xFF);
      ++denials;
    }
  EXPECT_EQ(denials, 1u);
}

}  // namespace
