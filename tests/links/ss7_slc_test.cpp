// MTP level 2 link: one link against a scripted peer on the test line, the
// units it writes checked octet by octet, its timers on the test clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asn1/modules/LGCP.h"
#include "links/ss7/slc.h"
#include "tests/links/link_harness.h"
#include "tests/stream_capture.h"

namespace {

using linktest::Bytes;
using linktest::LinkHarness;
using SLC = SS7::SLC;

Bytes unit(unsigned bsn, unsigned bib, unsigned fsn, unsigned fib, const Bytes& payload = {}, int li = -1) {
  Bytes u{std::uint8_t(bib << 7 | bsn), std::uint8_t(fib << 7 | fsn),
          std::uint8_t(li >= 0               ? li
                       : payload.size() > 62 ? 63
                                             : payload.size())};
  for (std::uint8_t o : payload) u.push_back(o);
  return u;
}
const Bytes kFisu = unit(127, 1, 127, 1);
Bytes lssu(unsigned status) { return Bytes{0xFF, 0xFF, 0x01, std::uint8_t(status)}; }

// An MSU of n octets: a service information octet and a routing label that
// tshark reads cleanly, then a counter.
Bytes msu(unsigned n, std::uint8_t tag = 0) {
  Bytes m{0x8F, 0x02, 0x40, 0x00, 0x00};
  m.resize(n);
  for (unsigned i = 5; i < n; ++i) m[i] = std::uint8_t(tag + i);
  return m;
}

// Our link on end a; the test plays the peer on end b, hearing what the
// link writes and writing units of its own.
class SlcTest : public ::testing::Test {
 protected:
  SlcTest() : h(140) {
    slc = new SLC;
    slc->set_transmitter(&h.a());
    slc->set_trunk(1);
    slc->set_slc(3);
    slc->set_dpc(2);
    h.a().bind(slc);
    h.family_a().add_protocol_tail(slc);
    h.b().bind([this](Packet& p) { heard.push_back(linktest::bytes_of(p)); });
  }

  void peer(const Bytes& u) {
    Packet p = linktest::packet_of(u);
    h.b().hdlc_transmit(p);
    h.settle();
  }
  std::vector<Bytes> take() {
    h.settle();
    std::vector<Bytes> t;
    t.swap(heard);
    return t;
  }
  void send(const Bytes& m) {
    Packet p = h.family_a().payload(m);
    h.family_a().message(p);
    h.settle();
  }
  // Activation, the peer's SIN and its first FISU: in service.
  void into_service() {
    h.family_a().activate();
    peer(lssu(SLC::sin));
    peer(kFisu);
    ASSERT_EQ(slc->get_state_id(), SLC::State::worked);
    take();
  }

  LinkHarness h;
  SLC* slc;
  std::vector<Bytes> heard;
};

TEST_F(SlcTest, AlignsOnTheTimersOfTheTestClock) {
  slc->set_traces(SLC::Traces{});
  h.family_a().activate();
  EXPECT_EQ(take(), std::vector<Bytes>{lssu(SLC::sio)});
  // T2: nothing from the peer.
  h.advance(6999);
  EXPECT_EQ(slc->get_state_id(), SLC::State::not_aligned);
  h.advance(1);
  EXPECT_EQ(slc->get_state_id(), SLC::State::idle);
  EXPECT_EQ(take(), std::vector<Bytes>{lssu(SLC::sios)});
  ASSERT_EQ(h.family_a().deactivations.size(), 1u);
  EXPECT_FALSE(h.family_a().deactivations[0].success);
  EXPECT_EQ(h.family_a().deactivations[0].text, "impossible phasing");

  // T3: the peer's SIO, then silence.
  peer(lssu(SLC::sio));
  EXPECT_EQ(slc->get_state_id(), SLC::State::aligned);
  EXPECT_EQ(take(), std::vector<Bytes>{lssu(SLC::sin)});
  h.advance(1499);
  EXPECT_EQ(slc->get_state_id(), SLC::State::aligned);
  h.advance(1);
  EXPECT_EQ(slc->get_state_id(), SLC::State::idle);
  take();

  // T4n then T1: the peer proves but never sends a FISU.
  peer(lssu(SLC::sin));
  EXPECT_EQ(slc->get_state_id(), SLC::State::proving);
  EXPECT_EQ(take(), std::vector<Bytes>{lssu(SLC::sin)});
  h.advance(8199);
  EXPECT_EQ(slc->get_state_id(), SLC::State::proving);
  h.advance(1);
  EXPECT_EQ(slc->get_state_id(), SLC::State::aligned_ready);
  EXPECT_EQ(take(), std::vector<Bytes>{kFisu});
  h.advance(44999);
  EXPECT_EQ(slc->get_state_id(), SLC::State::aligned_ready);
  h.advance(1);
  EXPECT_EQ(slc->get_state_id(), SLC::State::idle);
  take();

  // T4e, and an SIE while proving changes nothing.
  slc->set_emergency(true);
  peer(lssu(SLC::sie));
  EXPECT_EQ(take(), std::vector<Bytes>{lssu(SLC::sie)});
  peer(lssu(SLC::sie));
  h.advance(499);
  EXPECT_EQ(slc->get_state_id(), SLC::State::proving);
  h.advance(1);
  EXPECT_EQ(slc->get_state_id(), SLC::State::aligned_ready);
  // An SIO there ends it.
  peer(lssu(SLC::sio));
  EXPECT_EQ(slc->get_state_id(), SLC::State::idle);
}

TEST_F(SlcTest, LeavesServiceOnTrunkLossLssuOrDeactivationAndIdleRunsItsEntryAgain) {
  into_service();
  EXPECT_EQ(h.family_a().activations, 1);
  h.family_a().activate();  // activation again is answered again
  EXPECT_EQ(h.family_a().activations, 2);
  slc->OnTrunkHardStatus(true);
  EXPECT_EQ(slc->get_state_id(), SLC::State::worked);
  slc->OnTrunkHardStatus(false);
  EXPECT_EQ(slc->get_state_id(), SLC::State::idle);
  EXPECT_EQ(take(), std::vector<Bytes>{lssu(SLC::sios)});
  slc->OnTrunkHardStatus(false);  // nothing more from idle
  EXPECT_TRUE(take().empty());
  h.family_a().deactivate();  // idle again: SIOS and the report again
  EXPECT_EQ(take(), std::vector<Bytes>{lssu(SLC::sios)});
  EXPECT_EQ(h.family_a().deactivations.size(), 2u);

  into_service();
  testkit::StreamCapture err(std::cerr);
  peer(lssu(SLC::sin));
  EXPECT_EQ(slc->get_state_id(), SLC::State::idle);
  EXPECT_NE(err.str().find("(worked): receive lssu: normal alignment  BSN=127 BIB=1 FSN=127 FIB=1"), std::string::npos)
      << err.str();
  into_service();
  peer(lssu(9));
  EXPECT_NE(err.str().find("receive lssu: unknown:0x9 "), std::string::npos) << err.str();

  // A channel closed under the link: out of service at once, reported, and
  // no SIOS for a line the link no longer has (this one is still there).
  into_service();
  const std::size_t reported = h.family_a().deactivations.size();
  slc->channel_closed();
  EXPECT_EQ(slc->get_state_id(), SLC::State::idle);
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(h.family_a().deactivations.size(), reported + 1);
}

TEST_F(SlcTest, WritesLengthIndicatorsAndLssusAsQ703Has) {
  into_service();
  for (unsigned n : {3u, 61u, 62u, 63u, 70u}) send(msu(n));
  const std::vector<Bytes> out = take();
  ASSERT_EQ(out.size(), 5u);
  const unsigned li[] = {3, 61, 62, 63, 63};
  for (unsigned i = 0; i < 5; ++i) {
    EXPECT_EQ(out[i][1], 0x80 | i) << "FSN " << i;
    EXPECT_EQ(out[i][2], li[i]) << out[i].size() - 3 << " octets";
  }
  // Every LSSU carries the reset sequence fields, whatever was sent before.
  slc->OnTrunkHardStatus(false);
  EXPECT_EQ(take(), std::vector<Bytes>{lssu(SLC::sios)});
}

TEST_F(SlcTest, RefusesControllerDataThatWouldLeaveAsAStatusOrFillIn) {
  into_service();
  testkit::StreamCapture err(std::cerr);
  for (unsigned n : {0u, 1u, 2u}) send(Bytes(n, 0x03));
  Packet two = linktest::packet_of({0x01, 0x02}, 3);
  EXPECT_FALSE(slc->send_msu(two));
  EXPECT_TRUE(take().empty());
  EXPECT_NE(err.str().find("msu of 1 octet(s) refused"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("fail to send msu (bad packet)"), std::string::npos) << err.str();
  EXPECT_EQ(slc->get_state_id(), SLC::State::worked);
  // A copy outside the sequence, even without head room for the header.
  Packet m = linktest::packet_of(msu(5));
  EXPECT_TRUE(slc->send_msu(m));
  EXPECT_EQ(take(), std::vector<Bytes>{unit(127, 1, 127, 1, msu(5))});
}

TEST_F(SlcTest, ReceivedLengthsAreCheckedAndRepaired) {
  into_service();
  testkit::StreamCapture err(std::cerr);
  const SLC::Statistics before = slc->statistics();
  for (unsigned n : {0u, 1u, 2u}) peer(Bytes(n, 0xFF));
  EXPECT_EQ(slc->statistics().octetsRx, before.octetsRx + 3);
  EXPECT_EQ(slc->statistics().msuRxCount, before.msuRxCount);
  EXPECT_NE(err.take().find("ignore packet, length too small"), std::string::npos);

  // LI with its spare bits: nothing cut, taken as a 3-octet MSU.
  peer(unit(127, 1, 0, 1, msu(3), 0x43));
  EXPECT_NE(err.take().find("invalid packet length, expected = 67, received = 3"), std::string::npos);
  // LI 0 with 5 octets: cut to a FISU, which acknowledges nothing new.
  peer(unit(127, 1, 0, 1, msu(5), 0));
  EXPECT_NE(err.take().find("truncate 5 octet(s) : "), std::string::npos);
  // 70 octets with LI 5 cannot be repaired; with LI 63 they are in order.
  peer(unit(127, 1, 1, 1, msu(70, 1), 5));
  EXPECT_NE(err.take().find("can't truncate signalling unit."), std::string::npos);
  peer(unit(127, 1, 2, 1, msu(70, 2), 63));
  EXPECT_EQ(err.take(), "");
  ASSERT_EQ(h.family_a().received.size(), 3u);
  EXPECT_EQ(h.family_a().received[0], msu(3));
  EXPECT_EQ(h.family_a().received[1], msu(70, 1));
  EXPECT_EQ(h.family_a().received[2], msu(70, 2));
  EXPECT_EQ(slc->bsn_to_send(), 2u);
  EXPECT_EQ(slc->statistics().badSeqCntr, 0u);
}

TEST_F(SlcTest, AcknowledgesInSequenceAndAsksAgainForAGap) {
  into_service();
  peer(unit(127, 1, 0, 1, msu(5, 0)));
  EXPECT_EQ(take(), std::vector<Bytes>{unit(0, 1, 127, 1)});
  // A repeat of it is dropped, and its BSN acknowledges nothing.
  send(msu(5));
  peer(unit(0, 1, 0, 1, msu(5, 0)));
  EXPECT_EQ(slc->statistics().rtbSize, 1u);
  // FSN 2 after 0: a negative acknowledgement, once.
  peer(unit(127, 1, 2, 1, msu(5, 2)));
  peer(unit(127, 1, 3, 1, msu(5, 3)));
  EXPECT_EQ(slc->statistics().badSeqCntr, 1u);
  // The retransmission starts with the inverted FIB.
  peer(unit(127, 1, 1, 0, msu(5, 1)));
  peer(unit(127, 1, 2, 0, msu(5, 2)));
  ASSERT_EQ(h.family_a().received.size(), 3u);
  EXPECT_EQ(h.family_a().received[1], msu(5, 1));
  std::vector<Bytes> out = take();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), unit(2, 0, 0, 1));  // BIB inverted, BSN 2, our MSU still FSN 0
  // A FISU claiming an MSU we never saw: asked again.
  peer(unit(127, 1, 5, 0));
  EXPECT_EQ(slc->statistics().badSeqCntr, 2u);
  EXPECT_EQ(take(), std::vector<Bytes>{unit(2, 1, 0, 1)});
}

TEST_F(SlcTest, RetransmitsTheRtbOnANegativeAcknowledgementInOrder) {
  into_service();
  for (std::uint8_t i = 0; i < 3; ++i) send(msu(5, i));
  take();
  // BSN 0 acknowledges the first; the inverted BIB asks for the rest again.
  peer(unit(0, 0, 127, 1));
  EXPECT_EQ(slc->statistics().repeatCntr, 1u);
  EXPECT_EQ(take(), (std::vector<Bytes>{unit(127, 1, 1, 0, msu(5, 1)), unit(127, 1, 2, 0, msu(5, 2))}));
  EXPECT_EQ(slc->statistics().rtbSize, 2u);
  peer(unit(2, 0, 127, 1));
  EXPECT_EQ(slc->statistics().rtbSize, 0u);
  EXPECT_EQ(slc->get_state_id(), SLC::State::worked);
}

TEST_F(SlcTest, TwoBadAcknowledgementsOrIndicatorsInARowTakeTheLinkDown) {
  into_service();
  send(msu(5));
  take();
  // One BSN outside the window is tolerated; a good one clears it.
  peer(unit(50, 1, 127, 1));
  peer(unit(0, 1, 127, 1));
  peer(unit(50, 1, 127, 1));
  EXPECT_EQ(slc->get_state_id(), SLC::State::worked);
  // The second in a row, in an MSU: out of service, the MSU not taken.
  peer(unit(50, 1, 0, 1, msu(5)));
  EXPECT_EQ(slc->get_state_id(), SLC::State::idle);
  EXPECT_TRUE(h.family_a().received.empty());
  EXPECT_EQ(take(), std::vector<Bytes>{lssu(SLC::sios)});

  into_service();
  peer(unit(127, 1, 127, 0));  // a FIB nobody asked for, tolerated once
  peer(unit(127, 1, 127, 1));
  peer(unit(127, 1, 127, 0));
  EXPECT_EQ(slc->get_state_id(), SLC::State::worked);
  peer(unit(127, 1, 0, 0, msu(5)));
  EXPECT_EQ(slc->get_state_id(), SLC::State::idle);
}

TEST_F(SlcTest, BuffersHoldTheirLimitsAndARetransmissionFits) {
  into_service();
  testkit::StreamCapture err(std::cerr);
  for (unsigned i = 0; i < 127 + 201; ++i) send(msu(5, std::uint8_t(i)));
  EXPECT_EQ(take().size(), 127u);  // the RTB is full; the rest waits
  EXPECT_EQ(slc->statistics().rtbSize, 127u);
  EXPECT_EQ(slc->statistics().overflowCntr, 1u);
  EXPECT_NE(err.str().find("no space in TB buffer, TB=200 RTB=127 ignoring msu: "), std::string::npos);
  // Everything asked again: 127 go back in front of the 200 waiting.
  peer(unit(127, 0, 127, 1));
  std::vector<Bytes> out = take();
  ASSERT_EQ(out.size(), 127u);
  EXPECT_EQ(out.front(), unit(127, 1, 0, 0, msu(5, 0)));
  EXPECT_EQ(out.back(), unit(127, 1, 126, 0, msu(5, 126)));
  // Acknowledged in two steps, the 200 follow, with FSNs wrapping.
  peer(unit(126, 0, 127, 1));
  out = take();
  ASSERT_EQ(out.size(), 127u);
  EXPECT_EQ(out.front(), unit(127, 1, 127, 0, msu(5, 127)));
  EXPECT_EQ(out[1][1], 0x00);  // FSN 0 after 127, FIB 0
  peer(unit(125, 0, 127, 1));
  EXPECT_EQ(take().size(), 73u);
  EXPECT_EQ(slc->statistics().overflowCntr, 1u);
}

TEST_F(SlcTest, T7TakesTheLinkDownWhenNothingIsAcknowledged) {
  into_service();
  send(msu(5));
  h.advance(11000);
  peer(unit(0, 1, 127, 1));  // acknowledged: T7 stops
  send(msu(5));
  h.advance(11999);
  peer(unit(0, 1, 127, 1));  // nothing new: T7 runs on
  EXPECT_EQ(slc->get_state_id(), SLC::State::worked);
  h.advance(1);
  EXPECT_EQ(slc->get_state_id(), SLC::State::idle);
  EXPECT_EQ(take().back(), lssu(SLC::sios));
}

TEST_F(SlcTest, WaitsForTheChannelWithoutClaimingTheWaitingFsn) {
  into_service();
  h.a().refuse(1);
  Packet m = h.family_a().payload(msu(5));
  h.family_a().message(m);  // refused: it waits in the TB
  Packet answer = linktest::packet_of(unit(127, 1, 0, 1, msu(5, 9)));
  h.b().hdlc_transmit(answer);
  // The acknowledgement goes first and must not claim FSN 0, which has not
  // left yet; then readiness sends the MSU.
  EXPECT_EQ(take(), (std::vector<Bytes>{unit(0, 1, 127, 1), unit(0, 1, 0, 1, msu(5))}));
  EXPECT_EQ(slc->statistics().msuTxCount, 4u);  // two FISUs on entering service, the acknowledgement, the MSU
}

TEST_F(SlcTest, TracesFollowTheSs7LogSwitchesAndGoToTheirStreams) {
  LGCP::SS7L2Log log;
  log.set_state(true);
  log.set_raw_receive(true);
  log.set_raw_transmit(true);
  log.set_mtp_transmit(true);
  log.set_mtp_receive(true);
  log.set_mtp_activate(true);
  log.set_timers(true);
  log.set_msu_processing(true);
  slc->set_traces(log);
  testkit::StreamCapture out(std::clog), err(std::cerr);
  h.family_a().activate();
  peer(lssu(SLC::sio));
  h.advance(1500);
  EXPECT_EQ(out.take(),
            "SS7/L2 [dpc=2, slc=3, trunk=1] (idle): local_activate: executing...\n"
            "SS7/L2 [dpc=2, slc=3, trunk=1]: change state from \"idle\" to \"not aligned\" on activate\n"
            "SS7/L2 [dpc=2, slc=3, trunk=1] (not aligned):  rx raw 0xFF 0xFF 0x1 0x0\n"
            "SS7/L2 [dpc=2, slc=3, trunk=1]: change state from \"not aligned\" to \"aligned\" on SIO\n"
            "SS7/L2 [dpc=2, slc=3, trunk=1] (aligned): set T3\n"
            "SS7/L2 [dpc=2, slc=3, trunk=1] (aligned): T3 expired\n"
            "SS7/L2 [dpc=2, slc=3, trunk=1]: change state from \"aligned\" to \"idle\" on T3\n");
  into_service();
  out.take();
  send(msu(5));
  peer(unit(127, 1, 1, 1, msu(5)));
  EXPECT_EQ(out.take(),
            "SS7/L2 [dpc=2, slc=3, trunk=1] (worked):  mtp tx 0x8F 0x2 0x40 0x0 0x0\n"
            "SS7/L2 [dpc=2, slc=3, trunk=1] (worked):  tx raw 0xFF 0x80 0x5 0x8F 0x2 0x40 0x0 0x0\n"
            "SS7/L2 [dpc=2, slc=3, trunk=1] (worked):  rx raw 0xFF 0x81 0x5 0x8F 0x2 0x40 0x0 0x0\n"
            "SS7/L2 [dpc=2, slc=3, trunk=1] (worked): discard msu due to 5.2.2/ii Q.702 fsnr=1 fsnx=127\n"
            "SS7/L2 [dpc=2, slc=3, trunk=1] (worked):  tx raw 0x7F 0x80 0x0\n");
  EXPECT_EQ(err.take(), "SS7/L2 [dpc=2, slc=3, trunk=1] (worked): nack!\n");
  slc->set_traces(SLC::Traces{});
  send(msu(5));
  peer(unit(127, 0, 0, 1, msu(5)));
  EXPECT_EQ(out.take() + err.take(), "");
}

}  // namespace
