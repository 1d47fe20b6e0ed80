// Two MTP level 2 links on the test line, one aligning normally and one in
// emergency, read back by tshark's MTP2 dissector.
#include <gtest/gtest.h>

#include <string>

#include "links/ss7/slc.h"
#include "tests/links/link_harness.h"
#include "tests/links/tshark.h"

namespace ss7_pair_test {  // named: see "Unity builds" in tests/README.md

using linktest::Bytes;
using SLC = SS7::SLC;

Bytes msu(unsigned n, std::uint8_t tag) {
  Bytes m{0x8F, 0x02, 0x40, 0x00, 0x00};
  m.resize(n, tag);
  return m;
}

TEST(Ss7Pair, NormalAgainstEmergencyAlignsCarriesAndStopsCleanInTshark) {
  linktest::LinkHarness h(140);
  h.a().set_name("normal");
  h.b().set_name("emergency");
  for (int side = 0; side < 2; ++side) {
    linktest::LinkEnd& end = side ? h.b() : h.a();
    auto* slc = new SLC;
    slc->set_transmitter(&end);
    slc->set_emergency(side == 1);
    end.bind(slc);
    (side ? h.family_b() : h.family_a()).add_protocol_tail(slc);
  }
  auto* a = static_cast<SLC*>(h.family_a().tail());
  auto* b = static_cast<SLC*>(h.family_b().tail());

  h.family_a().activate();
  h.family_b().activate();
  ASSERT_TRUE(h.settle());
  EXPECT_EQ(a->get_state_id(), SLC::State::proving);
  EXPECT_EQ(b->get_state_id(), SLC::State::proving);
  // The emergency side proves for 500 ms; its first FISU ends the other's
  // proving at once.
  h.advance(499);
  EXPECT_EQ(b->get_state_id(), SLC::State::proving);
  h.advance(1);
  EXPECT_EQ(a->get_state_id(), SLC::State::worked);
  EXPECT_EQ(b->get_state_id(), SLC::State::worked);
  EXPECT_EQ(h.family_a().activations, 1);
  EXPECT_EQ(h.family_b().activations, 1);

  // MSUs both ways, the longest ones around the LI limit.
  for (unsigned n : {5u, 62u, 63u, 64u, 200u}) {
    Packet p = h.family_a().payload(msu(n, std::uint8_t(n)));
    h.family_a().message(p);
    Packet q = h.family_b().payload(msu(n, std::uint8_t(n + 1)));
    h.family_b().message(q);
  }
  ASSERT_TRUE(h.settle());
  ASSERT_EQ(h.family_b().received.size(), 5u);
  ASSERT_EQ(h.family_a().received.size(), 5u);
  EXPECT_EQ(h.family_b().received[1], msu(62, 62));
  EXPECT_EQ(h.family_a().received[4], msu(200, 201));
  EXPECT_EQ(a->statistics().rtbSize, 0u);
  // What the normal side handed to the channel: two FISUs when it went into
  // service, the five MSUs with their 3 header octets, a FISU acknowledging
  // each of the peer's MSUs. LSSUs are not counted.
  EXPECT_EQ(a->statistics().msuTxCount, 2u + 5u + 5u);
  EXPECT_EQ(a->statistics().octetsTx, 2 * 3u + (3 + 5) + (3 + 62) + (3 + 63) + (3 + 64) + (3 + 200) + 5 * 3u);

  // Deactivation sends SIOS; the peer takes the link out of service.
  h.family_a().deactivate();
  ASSERT_TRUE(h.settle());
  EXPECT_EQ(b->get_state_id(), SLC::State::idle);
  ASSERT_EQ(h.family_b().deactivations.size(), 1u);
  EXPECT_EQ(h.family_b().deactivations[0].text, "impossible phasing");

  // A trunk lost under a link in service does the same from its side.
  h.family_a().activate();
  h.family_b().activate();
  h.advance(500);
  ASSERT_EQ(a->get_state_id(), SLC::State::worked);
  b->OnTrunkHardStatus(false);
  ASSERT_TRUE(h.settle());
  EXPECT_EQ(a->get_state_id(), SLC::State::idle);

  if (linktest::tshark_missing()) GTEST_SKIP() << linktest::tshark_missing();
  EXPECT_EQ(linktest::tshark(h.log(), "-Y 'mtp2.li.bad || _ws.malformed || _ws.expert.severity >= \"Warning\"'"), "");
  // Who sent what (0 the normal side, 1 the emergency one): the status of
  // each LSSU, the LI of the other units.
  const std::string units =
      linktest::tshark(h.log(), "-T fields -E separator=, -e frame.p2p_dir -e mtp2.sf -e mtp2.li");
  const std::string first =
      "0,0,1\n1,0,1\n"              // SIO both
      "1,2,1\n0,1,1\n"              // aligned: SIE, SIN
      "0,1,1\n1,2,1\n"              // proving: SIN, SIE
      "1,,0\n"                      // emergency side aligned ready: FISU
      "0,,0\n0,,0\n"                // normal side in service: FISU, FISU
      "1,,0\n1,,0\n"                // emergency side in service
      "0,,5\n1,,5\n0,,62\n1,,62\n"  // MSUs of 5 and 62 octets
      "0,,63\n1,,63\n";             // and of 63: LI 62 is the last exact one
  const std::string rest =
      "0,,63\n1,,63\n0,,63\n1,,63\n"  // longer MSUs: LI 63
      "1,,0\n0,,0\n1,,0\n0,,0\n1,,0\n0,,0\n1,,0\n0,,0\n1,,0\n0,,0\n"  // acknowledgements
      "0,3,1\n1,3,1\n"                    // deactivation: SIOS both
      + first.substr(0, first.find("0,,5")) +  // aligned again
      "1,3,1\n0,3,1\n";                   // trunk down: SIOS both
  EXPECT_EQ(units, first + rest);
  EXPECT_NE(units.find(",3,1\n"), std::string::npos) << "no SIOS on the line";
}

}  // namespace ss7_pair_test
