// Encodings of the protocol modules that peers and the control link rely
// on, built through the generated classes. Where X.691 gives the same bits,
// each vector was also produced by Erlang's asn1 from the oracle copy.
#include <string>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/modules/ACP.h"
#include "asn1/modules/CCP.h"
#include "asn1/modules/LGCP.h"
#include "asn1/modules/MON.h"
#include "asn1/modules/TERM.h"
#include "asn1/modules/VESKGW.h"
#include "tests/asn1/encodings.h"

namespace {

// Aligned PER as hex, "FAIL" when the value does not encode.
std::string aper(const ASN1::AbstractData& v) { return asn1test::encodeHex(v, ASN1::CoderEnv::per_Aligned); }

bool decode(const std::string& h, ASN1::AbstractData& v) {
  return asn1test::decodeHex(h, v, ASN1::CoderEnv::per_Aligned);
}

LGCP::Message header(int seq) {
  LGCP::Message m;
  m.includeOptionalField(LGCP::Message::o_seq, LGCP::Message::e_seq);
  m.set_seq(seq);
  return m;
}

TEST(LgcpMessage, PingCodesAsFourOctets) {
  LGCP::Message m = header(5);
  m.get_pdu().select_command().select_ping();
  EXPECT_EQ(aper(m), "80 01 05 18");

  LGCP::Message back;
  ASSERT_TRUE(decode("80 01 05 18", back));
  EXPECT_EQ(back, m);
}

TEST(LgcpMessage, SlotAndConnectTargetAreTwoAlignedOctets) {
  LGCP::Message m = header(7);
  m.includeOptionalField(LGCP::Message::o_slot, LGCP::Message::e_slot);
  m.set_slot(3u);
  m.get_pdu().select_command().set_connect(4u);
  EXPECT_EQ(aper(m), "C0 01 07 00 03 04 00 04");

  m.set_slot(1024u);
  EXPECT_EQ(aper(m), "FAIL") << "slot 1024 is out of range";
  m.set_slot(1023u);
  m.get_pdu().select_command().set_connect(1024u);
  EXPECT_EQ(aper(m), "FAIL") << "connect 1024 is out of range";
}

TEST(LgcpMessage, RepliesCarrySuccessOrAnErrorCause) {
  LGCP::Message ok = header(5);
  ok.get_pdu().select_response().select_success();
  EXPECT_EQ(aper(ok), "80 01 05 40");

  LGCP::Message err = header(7);
  err.get_pdu().select_response().set_error(LGCP::ErrorCause::invalidSlot);
  EXPECT_EQ(aper(err), "80 01 07 62");

  // Above the last root value an ErrorCause goes as an extension value:
  // bit 1, small number 14, then 13 in 0..13.
  static_cast<ASN1::ENUMERATED&>(err.get_pdu().select_response().select_error()).setValue(13);
  EXPECT_EQ(aper(err), "80 01 07 71 DA");
  LGCP::Message back;
  ASSERT_TRUE(decode("80 01 07 71 DA", back));
  EXPECT_EQ(back.get_pdu().get_response().get_error().ASN1::ENUMERATED::getValue(), 13);
}

TEST(LgcpMessage, WithoutSeqOrSlotThePduFollowsAtOnce) {
  LGCP::Message m;
  m.get_pdu().select_response().select_success();
  EXPECT_EQ(aper(m), "10");
}

TEST(LgcpMessage, DecoderAcceptsASlotAboveItsRange) {
  // The session answers invalidSlot; the decoder must not refuse it.
  LGCP::Message m;
  ASSERT_TRUE(decode("C0 01 07 FF FF 18", m));
  EXPECT_EQ(m.get_slot().getValue(), 65535u);
}

TEST(LgcpTypes, DtmfDoneIsAnExtensionAlternative) {
  LGCP::TonecCode t;
  t.select_dtmfDone();
  EXPECT_EQ(t.getSelection(), 6);
  EXPECT_EQ(aper(t), "80 01 00");
}

TEST(LgcpTypes, TrunkAndTrunkBriShareATypeAndDifferByIndex) {
  LGCP::CreateParams a, b;
  a.select_trunk().set_trunk(3u);
  a.get_trunk().set_timeslot(4u);
  b.select_trunk_bri() = a.get_trunk();
  EXPECT_EQ(aper(a), "1C 03 20");
  EXPECT_EQ(aper(b), "20 03 20");
  LGCP::CreateParams back;
  ASSERT_TRUE(decode("20 03 20", back));
  EXPECT_EQ(back.getSelection(), LGCP::CreateParams::e_trunk_bri);
}

TEST(LgcpTypes, DrvVersionIsPresenceBitZeroOfResources) {
  LGCP::Resources r;
  r.set_boardMajor(1);
  r.set_boardMinor(2);
  r.includeOptionalField(LGCP::Resources::o_drvVersion, LGCP::Resources::e_drvVersion);
  r.get_drvVersion().set_type(ACP::BuildType::release);
  r.get_drvVersion().set_version("v");
  r.get_drvVersion().set_date("d");
  r.get_drvVersion().set_revision(3);
  EXPECT_EQ(aper(r),
            "40 01 01 01 02 00 01 76 01 64 01 03 01 00 01 00 01 00 01 00 01 00 00 00 01 00 01 00 01 00 00 01 "
            "00 01 00 01 00 01 00");
}

TEST(TermTypes, DnameTakesOneToSixtyFourCharacters) {
  TERM::RtpParams p;
  p.get_dhost().set_iaddr("10.0.0.1");
  p.includeOptionalField(TERM::RtpParams::o_dname, TERM::RtpParams::e_dname);
  for (unsigned n : {0u, 1u, 64u, 65u}) {
    p.get_dname() = std::string(n, 'a');
    EXPECT_EQ(aper(p) == "FAIL", n == 0 || n == 65) << n << " characters";
  }
}

TEST(TermTypes, TraceLevelIsTheFirstExtensionAddition) {
  // Extension bit, seven empty root presence bits, a one-bit extension map
  // (our maps end at the last addition present), then the open type.
  TERM::TermParams p;
  p.includeOptionalField(TERM::TermParams::o_traceLevel, TERM::TermParams::e_traceLevel);
  p.set_traceLevel(5);
  EXPECT_EQ(aper(p), "80 01 02 01 05");
  TERM::TermParams back;
  ASSERT_TRUE(decode("80 01 02 01 05", back));
  EXPECT_EQ(back, p);
}

TEST(TermTypes, EnumerationsAreCodedByValue) {
  TERM::IpQoSDSCP d(TERM::IpQoSDSCP::cs1);
  EXPECT_EQ(aper(d), "20") << "8 in six bits";
  EXPECT_STREQ(d.getName(), "cs1");

  TERM::RadioCommandGWSetStandby s;
  s.set_state(TERM::RadioStandby::standby);
  EXPECT_EQ(aper(s), "80");
  s.set_state(TERM::RadioStandby::not_use);
  EXPECT_EQ(aper(s), "FAIL") << "-1 has no coded form";
}

TEST(VeskgwTypes, MessageCodesAreTheirWireValues) {
  VESKGW::ProtoVeskMsgID id(VESKGW::ProtoVeskMsgID::gw_get_id);
  EXPECT_EQ(aper(id), "00 10 01");
  id = VESKGW::ProtoVeskMsgID::ali_server_p1;
  EXPECT_EQ(aper(id), "00 33 00");
  EXPECT_EQ(VESKGW::ProtoVeskPacketPayload::e_ali_server_p1, 66);
  // Above the largest code: an extension value.
  id.ASN1::ENUMERATED::setValue(20000);
  EXPECT_EQ(aper(id).substr(0, 1), "C") << aper(id);
}

TEST(VeskgwTypes, AnEmptyPacketListIsValid) {
  VESKGW::ProtoVeskPackets p;
  EXPECT_EQ(aper(p), "00 00");
}

TEST(OtherModules, MonMessageStartsWithThePduIndex) {
  MON::Message m;
  m.get_pdu().select_command().select_ping();
  EXPECT_EQ(aper(m), "18");
}

TEST(OtherModules, AcpCommandFromIndexNineIsAnExtensionAlternative) {
  ACP::AcpCommand c;
  c.select_channel_block().set_trunk(1);
  c.get_channel_block().set_timeslot(2);
  EXPECT_EQ(aper(c), "80 05 00 01 01 01 02");
}

TEST(OtherModules, CcpMessageCarriesTheOnlyObjectIdentifier) {
  CCP::Message m;
  m.get_protocolIdentifier().arcs() = {1, 2, 3};
  m.set_seq(7);
  m.get_body().select_media().set_ref(1u);
  m.get_body().get_media().get_pdu().select_command().select_create();
  EXPECT_EQ(aper(m), "02 2A 03 01 07 00 00 01 00 00");
}

}  // namespace
