// BER coder: the known encodings (checked against Erlang's asn1 and
// unber), lengths and tags, the explicit wrappers, and the decoder on
// hostile input: every length checked before use, nothing sized from an
// announced length, clean refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/ber_decoder.h"
#include "asn1/ber_encoder.h"
#include "tests/asn1/AsnTest.h"
#include "tests/asn1/encodings.h"

using namespace AsnTest;

namespace {

using asn1test::bytes;
using asn1test::connectMessage;
using asn1test::hex;

// The encoding as hex; "FAIL" when the encoder refuses.
std::string enc(const ASN1::AbstractData& v) { return asn1test::encodeHex(v, ASN1::CoderEnv::ber); }

bool dec(const std::string& h, ASN1::AbstractData& v) { return asn1test::decodeHex(h, v, ASN1::CoderEnv::ber); }

}  // namespace

TEST(Ber, ScalarEncodings) {
  EXPECT_EQ("01 01 FF", enc(ASN1::BOOLEAN(true, &ASN1::BOOLEAN::theInfo)));
  EXPECT_EQ("01 01 00", enc(ASN1::BOOLEAN(false, &ASN1::BOOLEAN::theInfo)));
  EXPECT_EQ("05 00", enc(ASN1::Null()));
  EXPECT_EQ("02 01 00", enc(ASN1::INTEGER(0, &ASN1::INTEGER::theInfo)));
  EXPECT_EQ("02 01 7F", enc(ASN1::INTEGER(127, &ASN1::INTEGER::theInfo)));
  EXPECT_EQ("02 02 00 80", enc(ASN1::INTEGER(128, &ASN1::INTEGER::theInfo)));
  EXPECT_EQ("02 01 80", enc(ASN1::INTEGER(-128, &ASN1::INTEGER::theInfo)));
  EXPECT_EQ("02 02 FF 7F", enc(ASN1::INTEGER(-129, &ASN1::INTEGER::theInfo)));
  EXPECT_EQ("02 01 FF", enc(ASN1::INTEGER(-1, &ASN1::INTEGER::theInfo)));
  EXPECT_EQ("02 04 80 00 00 00", enc(ASN1::INTEGER(INT32_MIN, &ASN1::INTEGER::theInfo)));
  ASN1::OBJECT_IDENTIFIER oid;
  oid.arcs() = {2, 100, 3};
  EXPECT_EQ("06 03 81 34 03", enc(oid));
  EXPECT_EQ("16 02 68 69", enc(ASN1::IA5String("hi")));
  EXPECT_EQ("1E 04 00 41 26 3A", enc(ASN1::BMPString(L"A\x263A", &ASN1::BMPString::theInfo)));
  EXPECT_EQ("18 13 32 30 32 34 30 31 33 31 31 32 30 30 30 30 2E 35 30 30 5A",
            enc(ASN1::GeneralizedTime(2024, 1, 31, 12, 0, 0, 500, 0, true)));
}

TEST(Ber, UnsignedValuesFromTwoToThe31ArePositive) {
  // INTEGER (0..4294967295) holds them in a signed word; on the wire they
  // are the positive numbers they are (Erlang writes the same octets).
  Numbers n;
  n.set_u32(0x80000000u);
  EXPECT_EQ("02 05 00 80 00 00 00", enc(n.get_u32()));
  n.set_u32(0xFFFFFFFFu);
  EXPECT_EQ("02 05 00 FF FF FF FF", enc(n.get_u32()));
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> back;
  ASSERT_TRUE(dec("02 05 00 FF FF FF FF", back));
  EXPECT_EQ(0xFFFFFFFFu, back.getValue());
  // -1 is not a value such a type can hold.
  EXPECT_FALSE(dec("02 01 FF", back));
  EXPECT_FALSE(dec("02 05 01 00 00 00 00", back));
}

TEST(Ber, EnumerationsAreSignExtended) {
  Standby s;
  s.setValue(Standby::not_use);
  EXPECT_EQ("0A 01 FF", enc(s));
  Standby back;
  back.setValue(Standby::on);
  ASSERT_TRUE(dec("0A 01 FF", back));
  EXPECT_EQ(-1, back.getValue());
  MsgId id;
  id.setValue(MsgId::ali_server_p1);
  EXPECT_EQ("0A 02 33 00", enc(id));
  ASSERT_TRUE(dec("0A 02 10 01", id));
  EXPECT_EQ(MsgId::gw_get_id, id.getValue());
}

TEST(Ber, SequenceFieldsAreTaggedByPosition) {
  Gain g;
  g.set_id(1);
  g.set_value(2);
  EXPECT_EQ("30 06 80 01 01 81 01 02", enc(g));
  Gain back;
  ASSERT_TRUE(dec("30 06 80 01 01 81 01 02", back));
  EXPECT_EQ(0, g.compare(back));
  // A mandatory field out of its place, or missing, fails.
  EXPECT_FALSE(dec("30 06 81 01 02 80 01 01", back));
  EXPECT_FALSE(dec("30 03 80 01 01", back));
}

TEST(Ber, ChoiceFieldsGetAConstructedExplicitWrapper) {
  // pdu [2] and command [0] wrap their alternatives, constructed even
  // around a primitive alternative (X.690 8.14); Erlang decodes these octets.
  EXPECT_EQ("30 0D 80 01 07 81 01 03 A2 05 A0 03 82 01 04", enc(connectMessage()));
  Message back;
  ASSERT_TRUE(dec("30 0D 80 01 07 81 01 03 A2 05 A0 03 82 01 04", back));
  EXPECT_EQ(0, connectMessage().compare(back));
  // A top-level CHOICE has no tag of its own: only its alternative.
  PDU pdu;
  pdu.select_command().select_ping();
  EXPECT_EQ("A0 02 8C 00", enc(pdu));
  PDU pduBack;
  ASSERT_TRUE(dec("A0 02 8C 00", pduBack));
  EXPECT_EQ(Command::e_ping, pduBack.get_command().getSelection());
  // The wrapper holds exactly one element.
  EXPECT_FALSE(dec("A0 04 8C 00 8C 00", pduBack));
  // An alternative the type does not have fails.
  EXPECT_FALSE(dec("A0 02 94 00", pduBack));
  EXPECT_FALSE(dec("A5 00", pduBack));
  // Wrappers sent with the primitive bit are read all the same.
  ASSERT_TRUE(dec("30 0D 80 01 07 81 01 03 82 05 80 03 82 01 04", back));
  EXPECT_EQ(0, connectMessage().compare(back));
}

TEST(Ber, LengthForms) {
  ASN1::OCTET_STRING s;
  s.resize(127);
  EXPECT_EQ("04 7F", enc(s).substr(0, 5));
  s.resize(200);
  EXPECT_EQ("04 81 C8", enc(s).substr(0, 8));
  s.resize(256);
  EXPECT_EQ("04 82 01 00", enc(s).substr(0, 11));
  s.resize(70000);
  EXPECT_EQ("04 83 01 11 70", enc(s).substr(0, 14));
  ASN1::OCTET_STRING back;
  ASSERT_TRUE(dec(enc(s), back));
  EXPECT_EQ(0, s.compare(back));
  // Long forms with more octets than needed are still BER.
  ASSERT_TRUE(dec("04 84 00 00 00 02 AB CD", back));
  EXPECT_EQ(2u, back.size());
}

TEST(Ber, TagNumbersOf31AndMoreUseTheHighForm) {
  std::vector<char> out;
  ASN1::BEREncoder e(out);
  e.encodeIdentifier(ASN1::ber::contextTag(30), false);
  e.encodeIdentifier(ASN1::ber::contextTag(31), true);
  e.encodeIdentifier(ASN1::ber::contextTag(200), false);
  e.encodeIdentifier(ASN1::ApplicationTagClass | 0xFFFF, false);
  EXPECT_EQ("9E BF 1F 9F 81 48 5F 83 FF 7F", hex(out));
  EXPECT_EQ(4u, ASN1::ber::identifierLength(ASN1::ApplicationTagClass | 0xFFFF));

  const std::vector<char> in = bytes("9F 81 48 00 5F 83 FF 7F 00 9F 84 80 80 00 00");
  ASN1::BERDecoder d(in.data(), in.data() + in.size());
  uint32_t tag, length;
  bool primitive;
  ASSERT_TRUE(d.decodeHeader(tag, primitive, length));
  EXPECT_EQ(ASN1::ber::contextTag(200), tag);
  ASSERT_TRUE(d.decodeHeader(tag, primitive, length));
  EXPECT_EQ(ASN1::ApplicationTagClass | 0xFFFF, tag);
  // A number beyond the 16 bits of a tag word is refused.
  EXPECT_FALSE(d.decodeHeader(tag, primitive, length));
  EXPECT_EQ(9u, d.offset());
}

TEST(Ber, BitStrings) {
  ASN1::BIT_STRING b;
  b.resize(16);
  b.setBit(0, true);
  b.setBit(15, true);
  EXPECT_EQ("03 03 00 80 01", enc(b));
  b.resize(12);
  b.setBit(11, true);
  EXPECT_EQ("03 03 04 80 10", enc(b));
  b.resize(0);
  EXPECT_EQ("03 01 00", enc(b));
  ASN1::BIT_STRING back;
  ASSERT_TRUE(dec("03 03 04 80 1F", back));  // unused bits that are set are dropped
  EXPECT_EQ(12u, back.size());
  EXPECT_EQ(0x10, back.bytes()[1]);
  ASSERT_TRUE(dec("03 01 00", back));
  EXPECT_EQ(0u, back.size());
}

TEST(Ber, HostileLengthsFailCleanly) {
  ASN1::OCTET_STRING s;
  // An announced length far beyond the input: refused before any buffer is sized.
  EXPECT_FALSE(dec("04 84 FF FF FF F0 00", s));
  EXPECT_FALSE(dec("04 83 10 00 00", s));
  EXPECT_TRUE(s.empty());
  // Cut short: identifier only, length octets missing, contents missing.
  EXPECT_FALSE(dec("04", s));
  EXPECT_FALSE(dec("04 82 01", s));
  EXPECT_FALSE(dec("04 05 01 02", s));
  EXPECT_FALSE(dec("", s));
  // Five length octets, the reserved FF, the indefinite form.
  EXPECT_FALSE(dec("04 85 00 00 00 00 01 AA", s));
  EXPECT_FALSE(dec("04 FF 01 AA", s));
  EXPECT_FALSE(dec("24 80 04 01 AA 00 00", s));
  Message m;
  EXPECT_FALSE(dec("30 80 80 01 07 A2 80 A0 80 8C 00 00 00 00 00 00 00", m));
  // A constructed (segmented) string is not read as contents.
  EXPECT_FALSE(dec("24 03 04 01 AA", s));
  // An inner length that runs past its SEQUENCE's contents.
  EXPECT_FALSE(dec("30 03 80 05 07 81 01 03 A2 02 A0 00", m));
  // An element after the known fields whose length runs past its SEQUENCE.
  Packet p;
  EXPECT_TRUE(dec("30 08 80 02 10 01 A1 02 80 00", p));
  EXPECT_FALSE(dec("30 0B 80 02 10 01 A1 02 80 00 89 05 00", p));
}

TEST(Ber, BitStringUnusedCountIsChecked) {
  ASN1::BIT_STRING b;
  EXPECT_FALSE(dec("03 02 09 00", b));
  EXPECT_FALSE(dec("03 02 08 00", b));
  EXPECT_FALSE(dec("03 01 01", b));  // an empty string has no unused bits
  EXPECT_FALSE(dec("03 00", b));
  ASSERT_TRUE(dec("03 02 07 80", b));
  EXPECT_EQ(1u, b.size());
  EXPECT_TRUE(b.getBit(0));
}

TEST(Ber, IntegersThatDoNotFitFail) {
  ASN1::INTEGER i;
  EXPECT_FALSE(dec("02 00", i));
  EXPECT_FALSE(dec("02 06 00 00 00 00 00 01", i));
  EXPECT_FALSE(dec("02 05 00 80 00 00 00", i));  // 2^31 in a signed word
  EXPECT_FALSE(dec("02 05 FF 7F FF FF FF", i));  // below -2^31
  ASSERT_TRUE(dec("02 05 FF 80 00 00 00", i));   // -2^31, one redundant octet
  EXPECT_EQ(INT32_MIN, i.getValue());
  ASSERT_TRUE(dec("02 02 FF 7F", i));
  EXPECT_EQ(-129, i.getValue());
  // Out of the type's range but representable: the decoder does not judge it.
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u> slot;
  ASSERT_TRUE(dec("02 03 00 FF FF", slot));
  EXPECT_EQ(65535u, slot.getValue());
  Standby e;
  EXPECT_FALSE(dec("0A 00", e));
  EXPECT_FALSE(dec("0A 05 00 80 00 00 00", e));
  ASN1::BOOLEAN b;
  EXPECT_FALSE(dec("01 00", b));
  ASSERT_TRUE(dec("01 02 00 01", b));
  EXPECT_TRUE(b.getValue());
}

TEST(Ber, EmptySequencesAndTrailingOctets) {
  Empty e;
  EXPECT_EQ("30 00", enc(e));
  EXPECT_TRUE(dec("30 00", e));
  EmptyExt x;
  EXPECT_TRUE(dec("30 00", x));
  // Unknown additions of an extensible type are skipped; a type without an
  // extension marker has none.
  EXPECT_TRUE(dec("30 03 80 01 05", x));
  EXPECT_FALSE(dec("30 03 80 01 05", e));
  // Octets after a complete value are not read.
  EXPECT_TRUE(dec("30 00 FF FF", e));
  Message m;
  EXPECT_TRUE(dec("30 0D 80 01 07 81 01 03 A2 05 A0 03 82 01 04 00", m));
}

TEST(Ber, OptionalFieldsAndExtensionAdditions) {
  TermParams t;
  t.includeOptionalField(TermParams::o_a2, TermParams::e_a2);
  t.set_a2(true);
  t.includeOptionalField(TermParams::o_request_mode, TermParams::e_request_mode);
  t.set_request_mode(RequestMode::emergency);
  t.includeOptionalField(TermParams::o_x13, TermParams::e_x13);
  t.get_x13().setValue(20);  // beyond the root of an extensible enumeration
  EXPECT_EQ("30 09 81 01 FF 89 01 05 93 01 14", enc(t));
  TermParams back;
  ASSERT_TRUE(dec(enc(t), back));
  EXPECT_EQ(0, t.compare(back));
  EXPECT_FALSE(back.hasOptionalField(TermParams::o_a1));
  EXPECT_TRUE(back.hasOptionalField(TermParams::o_x13));
  // Decoding into a value that held other fields leaves only what was read.
  ASSERT_TRUE(dec("30 00", back));
  EXPECT_EQ(0, TermParams().compare(back));
}

TEST(Ber, ExtensionAlternatives) {
  CreateParams c;
  c.select_voice();
  EXPECT_EQ("83 00", enc(c));
  CreateParams back;
  ASSERT_TRUE(dec("83 00", back));
  EXPECT_EQ(CreateParams::e_voice, back.getSelection());
  TonecCode t;
  t.select_dtmfDone();
  EXPECT_EQ("86 00", enc(t));
}

TEST(Ber, ListsOfChoicesAndSequences) {
  Packets list;
  Packet& p = list.push_back();
  p.set_msgID(MsgId::gw_get_id);
  Gain& g = p.get_payload().select_gains().push_back();
  g.set_id(2);
  g.set_value(-6);
  p.includeOptionalField(Packet::o_items, Packet::e_items);
  Item& item = p.get_items().push_back();
  item.set_name("a");
  item.set_ok(true);
  EXPECT_EQ("30 1C 30 1A 80 02 10 01 A1 0A A1 08 30 06 80 01 02 81 01 FA A3 08 30 06 80 01 61 81 01 FF",
            enc(list));
  Packets back;
  ASSERT_TRUE(dec(enc(list), back));
  EXPECT_EQ(0, list.compare(back));
  ASSERT_TRUE(dec("30 00", back));
  EXPECT_EQ(0u, back.size());
  // An element that fails fails the list.
  EXPECT_FALSE(dec("30 04 30 02 80 00", back));
}

TEST(Ber, OpenTypes) {
  // Untagged: the held value is coded whole, and a decoder keeps the whole
  // element, header included, so that it codes again unchanged.
  ASN1::OpenData open;
  open.grab(new ASN1::INTEGER(5, &ASN1::INTEGER::theInfo));
  EXPECT_EQ("02 01 05", enc(open));
  ASN1::OpenData back;
  ASSERT_TRUE(dec("02 01 05 FF", back));
  EXPECT_EQ("02 01 05", hex(back.get_buf()));
  EXPECT_EQ("02 01 05", enc(back));
  back.grab(new ASN1::INTEGER(&ASN1::INTEGER::theInfo));
  ASN1::BERDecoder d(nullptr, nullptr);
  ASSERT_TRUE(d.do_revisit(back));
  EXPECT_EQ(5, static_cast<ASN1::INTEGER&>(back.get_data()).getValue());
  EXPECT_EQ("FAIL", enc(ASN1::OpenData()));

  // Tagged: an explicit, constructed tag around the contained value.
  static const ASN1::OpenTypeInfo tagged = {
      {&ASN1::TypeConstrainedOpenData::create, ASN1::ContextSpecificTagClass | 3,
       &ASN1::TypeConstrainedOpenData::make_copy},
      &ASN1::INTEGER::theInfo};
  ASN1::TypeConstrainedOpenData t(&tagged);
  static_cast<ASN1::INTEGER&>(t.get_data()).setValue(-2);
  EXPECT_EQ("A3 03 02 01 FE", enc(t));
  ASN1::TypeConstrainedOpenData tBack(&tagged);
  ASSERT_TRUE(dec("A3 03 02 01 FE", tBack));
  EXPECT_EQ(0, t.compare(tBack));
  EXPECT_FALSE(dec("A3 04 02 01 FE 00", tBack));
  EXPECT_FALSE(dec("A4 03 02 01 FE", tBack));
}

TEST(Ber, BmpStringsAreTwoOctetsPerCharacter) {
  ASN1::BMPString s;
  ASSERT_TRUE(dec("1E 04 00 41 26 3A", s));
  EXPECT_EQ(std::wstring(L"A\x263A"), std::wstring(s));
  EXPECT_FALSE(dec("1E 03 00 41 26", s));
  ASN1::BMPString wide(std::wstring(1, wchar_t(0x10000)), &ASN1::BMPString::theInfo);
  EXPECT_EQ("FAIL", enc(wide));
}
