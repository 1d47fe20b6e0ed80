// Our MTP level 2 link against libss7's, on one test clock: alignment,
// 1,000 MSUs each way through a lossy line, and a peer that stops
// acknowledging. Above our link the test answers libss7's MTP3 (signalling
// link test, traffic restart) and counts ISUP loop-back acknowledgements,
// whose circuit codes number the MSUs.
#include <gtest/gtest.h>
#include <unistd.h>

// libss7's header declares C functions without saying so.
extern "C" {
#include <libss7.h>
}

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "links/ss7/slc.h"
#include "runtime/test_clock.h"
#include "tests/links/libss7/libss7_line.h"
#include "tests/links/tshark.h"

namespace {

using linktest::Bytes;
using SLC = SS7::SLC;

const unsigned kOurPc = 1, kPeerPc = 2;

// The 4-octet ITU routing label.
void put_label(Bytes& m, unsigned dpc, unsigned opc, unsigned sls) {
  const std::uint32_t v = dpc | opc << 14 | std::uint32_t(sls) << 28;
  for (int i = 0; i < 4; ++i) m.push_back(std::uint8_t(v >> (8 * i)));
}

// What stands above our link: a bare MTP3 for the peer's management, and
// the ISUP loop-back acknowledgements counted by circuit code.
class Mtp3Stub : public ProtocolsFamily {
 public:
  void send(const Bytes& m) {
    Packet p;
    prepare_head(p);
    for (std::uint8_t o : m) p.put8(o);
    message(p);
  }
  void send_lpa(unsigned cic) {
    Bytes m{0x85};
    put_label(m, kPeerPc, kOurPc, cic & 15);
    m.push_back(std::uint8_t(cic));
    m.push_back(std::uint8_t(cic >> 8));
    m.push_back(0x24);
    send(m);
  }

  void on_message(Packet& p) override {
    const Bytes m(p.data(), p.data() + p.length());
    if (m.size() < 6) return;
    const unsigned si = m[0] & 0x0F;
    if (si == 1 && m[5] == 0x11) {
      // Signalling link test: the acknowledgement carries the pattern back.
      Bytes a{m[0]};
      put_label(a, kPeerPc, kOurPc, m[4] >> 4);
      a.push_back(0x21);
      a.insert(a.end(), m.begin() + 6, m.end());
      send(a);
      // libss7 routes only over a link tested from both sides.
      Bytes t{m[0]};
      put_label(t, kPeerPc, kOurPc, m[4] >> 4);
      t.insert(t.end(), {0x11, 0x40, 'k', 'o', 'r', 'v'});
      send(t);
    } else if (si == 0 && m[5] == 0x17 && !restarted) {
      restarted = true;
      Bytes t{m[0]};
      put_label(t, kPeerPc, kOurPc, 0);
      t.push_back(0x17);
      send(t);
    } else if (si == 5 && m.size() >= 8 && m[7] == 0x24) {
      lpa_cics.push_back(m[5] | (m[6] & 0x0F) << 8);
    }
  }
  void on_activated(Protocol*) override { ++activations; }
  void on_deactivated(Protocol*, Protocol_status s) override { deactivations.push_back(s->message()); }

  bool restarted = false;
  int activations = 0;
  std::vector<std::string> deactivations;
  std::vector<int> lpa_cics;
};

std::vector<int> one_to(int n) {
  std::vector<int> v;
  for (int i = 1; i <= n; ++i) v.push_back(i);
  return v;
}

class SlcLibss7 : public ::testing::Test {
 protected:
  SlcLibss7() : clock(1000), log(140), line(log) {
    const char* debug = std::getenv("KORVEND_SS7_PEER_DEBUG");
    if (debug && *debug) linktest::Libss7Line::set_peer_debug(true);
    slc = new SLC;
    slc->set_transmitter(&line);
    slc->set_dpc(kPeerPc);
    slc->set_opc(kOurPc);
    line.attach(slc);
    mtp3.add_protocol_tail(slc);
  }
  ~SlcLibss7() override {
    const char* dir = std::getenv("KORVEND_LINK_PCAP_DIR");
    if (dir && *dir)
      log.write_pcapng(std::string(dir) + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                       ".pcapng");
  }

  // Milliseconds of line time until cond() holds; false at the limit.
  template <class Cond>
  bool run_until(Cond cond, unsigned limit_ms) {
    for (unsigned t = 0; t < limit_ms; ++t) {
      if (cond()) return true;
      clock.advance(1);
      line.tick();
    }
    return cond();
  }
  // Both links up, and libss7's MTP3 too.
  void into_service() {
    line.start(kOurPc, kPeerPc);
    mtp3.activate();
    ASSERT_TRUE(run_until([&] { return line.mtp3_up > 0 && slc->get_state_id() == SLC::State::worked; }, 20000));
    ASSERT_EQ(mtp3.activations, 1);
  }

  Mux::TestClock clock;
  linktest::FrameLog log;
  linktest::Libss7Line line;
  Mtp3Stub mtp3;
  SLC* slc;
};

TEST_F(SlcLibss7, CarriesAThousandMsusEachWayThroughALossyLine) {
  into_service();
  line.set_loss(20, 7);
  int ours = 0, theirs = 0;
  ASSERT_TRUE(run_until(
      [&] {
        if (ours < 1000) mtp3.send_lpa(++ours);
        if (theirs < 1000) isup_lpa(line.peer(), ++theirs, kOurPc);
        return line.lpa_cics.size() >= 1000 && mtp3.lpa_cics.size() >= 1000;
      },
      120000))
      << "libss7 got " << line.lpa_cics.size() << ", we got " << mtp3.lpa_cics.size();
  line.set_loss(0, 0);
  run_until([] { return false; }, 2000);  // the last acknowledgements
  EXPECT_EQ(line.lpa_cics, one_to(1000));
  EXPECT_EQ(mtp3.lpa_cics, one_to(1000));
  EXPECT_GT(line.lost_to_peer, 0u);
  EXPECT_GT(line.lost_to_us, 0u);
  const SLC::Statistics& s = slc->statistics();
  EXPECT_GT(s.repeatCntr, 0u);
  EXPECT_GT(s.badSeqCntr, 0u);
  EXPECT_EQ(s.rtbSize, 0u);
  EXPECT_EQ(s.overflowCntr, 0u);
  EXPECT_TRUE(mtp3.deactivations.empty());
  EXPECT_EQ(slc->get_state_id(), SLC::State::worked);
  EXPECT_EQ(line.mtp2_down, 0);
  EXPECT_EQ(line.mtp3_down, 0);
  if (linktest::tshark_missing()) GTEST_SKIP() << linktest::tshark_missing();
  EXPECT_EQ(linktest::tshark(log, "-Y 'mtp2.li.bad || _ws.malformed'"), "");
}

TEST_F(SlcLibss7, APeerThatStopsAcknowledgingTakesTheLinkDownAfterT7) {
  into_service();
  run_until([] { return false; }, 1000);
  line.set_peer_deaf(true);
  mtp3.send_lpa(1);
  ASSERT_FALSE(run_until([&] { return slc->get_state_id() != SLC::State::worked; }, SLC::T7.ms - 1));
  ASSERT_TRUE(run_until([&] { return slc->get_state_id() == SLC::State::idle; }, 2));
  ASSERT_EQ(mtp3.deactivations, std::vector<std::string>{"impossible phasing"});
  line.tick();
  const Bytes sios{0xFF, 0xFF, 0x01, 0x03};
  ASSERT_FALSE(log.frames().empty());
  EXPECT_EQ(log.frames().back().from, "ours");
  EXPECT_EQ(log.frames().back().sent, sios);
}

}  // namespace
