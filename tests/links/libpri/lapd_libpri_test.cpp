// Our LAPD against libpri's Q.921 on the test line: on primary rate, our
// user side against libpri's network side and our network side against
// libpri's user side. libpri places 500 calls; our side answers each SETUP
// with RELEASE COMPLETE at once, so 500 messages go each way, while chosen
// frames are lost in both directions.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "links/isdn/lapd.h"
#include "tests/links/libpri/libpri_peer.h"
#include "tests/links/link_harness.h"
#include "tests/stream_capture.h"

namespace {

using ISDN::Side;
using linktest::Bytes;

// The called number of a SETUP (Q.931 4.5.8), or -1.
int called_number(const Bytes& m, unsigned from) {
  unsigned i = from;
  while (i < m.size()) {
    if (m[i] & 0x80) {  // a single-octet element
      ++i;
      continue;
    }
    if (i + 1 >= m.size()) break;
    const unsigned len = m[i + 1];
    if (m[i] == 0x70 && len >= 2 && i + 2 + len <= m.size())
      return std::stoi(std::string(m.begin() + i + 3, m.begin() + i + 2 + len));
    i += 2 + len;
  }
  return -1;
}

struct LibpriRun {
  linktest::LinkHarness h{203};
  ISDN::LAPD* link;
  LibpriPeer peer;
  testkit::StreamCapture clog{std::clog};
  std::vector<int> setups;        // called numbers of the SETUPs we got, in order
  std::vector<int> others;        // message types of anything else we got
  std::vector<q931_call*> calls;  // libpri's calls, in the order placed
  std::vector<q931_call*> ended;  // in the order libpri saw them end
  std::vector<int> libpri_events;

  explicit LibpriRun(Side::type ours)
      : link(new ISDN::LAPD(ours, 0)), peer(h.b(), ours == Side::user ? PRI_NETWORK : PRI_CPE) {
    h.a().set_name(ours == Side::user ? "user" : "network");
    h.b().set_name(ours == Side::user ? "network (libpri)" : "user (libpri)");
    h.a().set_outbound(ours == Side::user);
    h.b().set_outbound(ours != Side::user);
    link->set_transmitter(&h.a());
    h.a().bind(link);
    h.family_a().add_protocol_tail(link);
    h.add_busy([this] { return peer.busy(); });
    h.family_a().on_received = [this](const Bytes& m) { answer(m); };
    peer.on_event = [this](pri_event* e) {
      libpri_events.push_back(e->e);
      if (e->e == PRI_EVENT_HANGUP) {
        ended.push_back(e->hangup.call);
        pri_hangup(peer.pri(), e->hangup.call, e->hangup.cause);
      }
    };
  }

  // Our layer 3: every SETUP is refused at once with RELEASE COMPLETE.
  void answer(const Bytes& m) {
    if (m.size() < 3 || m[0] != 0x08) return others.push_back(-1);
    const unsigned crlen = m[1] & 0x0Fu;
    if (m.size() < 3u + crlen) return others.push_back(-1);
    const unsigned char type = m[2 + crlen];
    if (type != 0x05) return others.push_back(type);
    setups.push_back(called_number(m, 3 + crlen));
    Bytes reply = {0x08, static_cast<std::uint8_t>(crlen)};
    for (unsigned k = 0; k < crlen; ++k) reply.push_back(static_cast<std::uint8_t>(m[2 + k] ^ (k == 0 ? 0x80 : 0)));
    for (std::uint8_t o : {0x5A, 0x08, 0x02, 0x80, 0x90}) reply.push_back(o);  // RELEASE COMPLETE, cause 16
    Packet p = h.family_a().payload(reply);
    h.family_a().message(p);
  }

  void place_call(int n) {
    q931_call* c = pri_new_call(peer.pri());
    ASSERT_NE(c, nullptr);
    pri_sr* sr = pri_sr_new();
    pri_sr_set_channel(sr, (n - 1) % 30 + 1 + ((n - 1) % 30 >= 15 ? 1 : 0), 1, 0);
    pri_sr_set_bearer(sr, PRI_TRANS_CAP_SPEECH, PRI_LAYER_1_ALAW);
    std::string digits = std::to_string(n);
    pri_sr_set_called(sr, &digits[0], PRI_UNKNOWN, 1);
    ASSERT_EQ(pri_setup(peer.pri(), c, sr), 0);
    pri_sr_free(sr);
    calls.push_back(c);
    peer.poke();
  }
};

void exchange(LibpriRun& r, const std::set<unsigned>& ours_lost, const std::set<unsigned>& theirs_lost) {
  r.h.a().drop(ours_lost);
  r.h.b().drop(theirs_lost);
  r.h.family_a().activate();
  ASSERT_TRUE(r.h.advance(100));
  ASSERT_EQ(r.h.family_a().activations, 1);
  ASSERT_EQ(r.peer.up, 1);
  for (int n = 1; n <= 500; ++n) {
    r.place_call(n);
    if (n % 10 == 0) {
      ASSERT_TRUE(r.h.advance(1000));
    }
  }
  for (int i = 0; i < 20 && r.ended.size() < r.calls.size(); ++i) ASSERT_TRUE(r.h.advance(1000));
}

// What both ends must show after a run: every message once and in order
// both ways, no error at libpri, retransmissions in our statistics and the
// figures of the link's report.
void check(LibpriRun& r) {
  std::vector<int> numbers;
  for (int n = 1; n <= 500; ++n) numbers.push_back(n);
  EXPECT_EQ(r.setups, numbers);
  EXPECT_EQ(r.ended, r.calls);
  EXPECT_TRUE(r.others.empty());
  EXPECT_EQ(LibpriPeer::errors(), std::vector<std::string>());
  EXPECT_EQ(r.peer.up, 1);
  EXPECT_EQ(r.peer.down, 0);
  EXPECT_EQ(r.h.family_a().deactivations.size(), 0u);
  EXPECT_TRUE(r.h.family_a().statuses.empty());
  const ISDN::LAPD::Stats& s = r.link->stats();
  EXPECT_GT(s.retrains, 0u);
  EXPECT_GT(s.out_of_sequence, 0u);
  ACP::IsdnLinkInfo info;
  ASSERT_TRUE(r.link->GetInfo(info));
  EXPECT_EQ(info.get_msuTxCount().getValue(), 500);
  EXPECT_EQ(info.get_msuRxCount().getValue(), 500);
  EXPECT_EQ(info.get_retrains().getValue(), static_cast<int>(s.retrains));
  EXPECT_EQ(info.get_rejected().getValue(), static_cast<int>(s.out_of_sequence));
  EXPECT_EQ(info.get_mT200().getValue(), static_cast<int>(s.t200));
  EXPECT_EQ(info.get_badconfirm().getValue(), 0);
  EXPECT_EQ(info.get_outOverflows().getValue(), 0);
  EXPECT_EQ(info.get_errors().getValue(), 0);
  EXPECT_EQ(info.get_lapdState().getValue(), ACP::LAPDState::multiple_frame_established);
  EXPECT_EQ(info.get_vs().getValue(), 500 % 128);
  EXPECT_EQ(info.get_va().getValue(), 500 % 128);
  EXPECT_EQ(info.get_vr().getValue(), 500 % 128);
  EXPECT_EQ(info.get_queueOut().getValue(), 0);
  EXPECT_EQ(info.get_queueAck().getValue(), 0);
  EXPECT_FALSE(r.link->GetInfo(info));
}

TEST(LapdLibpri, PriUserSideAgainstLibpriNetwork) {
  LibpriPeer::errors().clear();
  LibpriRun r(Side::user);
  // Ordinals of the frames each end sends: I frames and acknowledgements,
  // single and in pairs, early and late.
  exchange(r, {9, 33, 34, 100, 250, 251, 252}, {7, 20, 21, 55, 150, 300, 301});
  check(r);
}

TEST(LapdLibpri, PriNetworkSideAgainstLibpriUser) {
  LibpriPeer::errors().clear();
  LibpriRun r(Side::network);
  exchange(r, {5, 40, 41, 42, 130, 333}, {11, 12, 60, 200, 201, 202, 420});
  check(r);
}

}  // namespace
