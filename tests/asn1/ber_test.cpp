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
using asn1test::hex;

const uint32_t kBer = ASN1::CoderEnv::ber;
const char* const kConnect = "{ seq 7, slot 3, pdu command : connect : 4 }";

// The encoding as hex; "FAIL" when the encoder refuses.
std::string enc(const ASN1::AbstractData& v) { return asn1test::encodeHex(v, kBer); }

bool dec(const std::string& h, ASN1::AbstractData& v) { return asn1test::decodeHex(h, v, kBer); }

}  // namespace

TEST(Ber, PrimitiveEncodings) {
  ASN1::OBJECT_IDENTIFIER oid;
  oid.arcs() = {2, 100, 3};
  const ASN1::BOOLEAN yes(true, &ASN1::BOOLEAN::theInfo), no(false, &ASN1::BOOLEAN::theInfo);
  const ASN1::INTEGER i128(128, &ASN1::INTEGER::theInfo), m129(-129, &ASN1::INTEGER::theInfo),
      lowest(INT32_MIN, &ASN1::INTEGER::theInfo);
  const ASN1::IA5String hi("hi");
  const ASN1::BMPString bmp(L"A\x263A", &ASN1::BMPString::theInfo);
  const ASN1::GeneralizedTime time(2024, 1, 31, 12, 0, 0, 500, 0, true);
  const std::pair<const ASN1::AbstractData*, const char*> cases[] = {
      {&yes, "01 01 FF"}, {&no, "01 01 00"}, {&i128, "02 02 00 80"}, {&m129, "02 02 FF 7F"},
      {&lowest, "02 04 80 00 00 00"}, {&oid, "06 03 81 34 03"}, {&hi, "16 02 68 69"}, {&bmp, "1E 04 00 41 26 3A"},
      {&time, "18 13 32 30 32 34 30 31 33 31 31 32 30 30 30 30 2E 35 30 30 5A"}};
  for (const auto& c : cases) EXPECT_EQ(c.second, enc(*c.first)) << c.first->asValueNotation();
  EXPECT_EQ("05 00", enc(ASN1::Null()));
}

TEST(Ber, ConstructedVectors) {
  asn1test::checkVectors(kBer, {
      // Fields are tagged by position.
      {"Gain", "{ id 1, value 2 }", "30 06 80 01 01 81 01 02"},
      // pdu [2] and command [0] wrap their alternatives, constructed even
      // around a primitive alternative (X.690 8.14); Erlang decodes these.
      {"Message", kConnect, "30 0D 80 01 07 81 01 03 A2 05 A0 03 82 01 04"},
      // A top-level CHOICE has no tag of its own: only its alternative.
      {"PDU", "command : ping : NULL", "A0 02 8C 00"},
      // Enumerations are sign-extended.
      {"Standby", "not-use", "0A 01 FF"},
      {"MsgId", "ali-server-p1", "0A 02 33 00"},
      {"Empty", "{ }", "30 00"},
      // The last addition is beyond the root of an extensible enumeration.
      {"TermParams", "{ a2 TRUE, request-mode emergency, x13 20 }", "30 09 81 01 FF 89 01 05 93 01 14"},
      {"CreateParams", "voice : NULL", "83 00"},
      {"TonecCode", "dtmfDone : NULL", "86 00"},
      {"Packets", "{ { msgID gw-get-id, payload gains : { { id 2, value -6 } }, items { { name \"a\", ok TRUE } } } }",
       "30 1C 30 1A 80 02 10 01 A1 0A A1 08 30 06 80 01 02 81 01 FA A3 08 30 06 80 01 61 81 01 FF"},
      {"Packets", "{ }", "30 00"},
      {"Bits", "'1000000000000001'B", "03 03 00 80 01"},
      {"Bits", "'100000000001'B", "03 03 04 80 10"},
      {"Bits", "''B", "03 01 00"},
  });
}

TEST(Ber, Readings) {
  asn1test::checkReadings(kBer, {
      {"MsgId", "0A 02 10 01", "gw-get-id"},
      // A mandatory field out of its place, or missing, fails.
      {"Gain", "30 06 81 01 02 80 01 01", nullptr},
      {"Gain", "30 03 80 01 01", nullptr},
      // The wrapper holds exactly one element, of an alternative the type has.
      {"PDU", "A0 04 8C 00 8C 00", nullptr},
      {"PDU", "A0 02 94 00", nullptr},
      {"PDU", "A5 00", nullptr},
      // Wrappers sent with the primitive bit are read all the same.
      {"Message", "30 0D 80 01 07 81 01 03 82 05 80 03 82 01 04", kConnect},
      // Octets after a complete value are not read.
      {"Message", "30 0D 80 01 07 81 01 03 A2 05 A0 03 82 01 04 00", kConnect},
      {"Empty", "30 00 FF FF", "{ }"},
      // Unknown additions of an extensible type are skipped; a type without
      // an extension marker has none.
      {"EmptyExt", "30 00", "{ }"},
      {"EmptyExt", "30 03 80 01 05", "{ }"},
      {"Empty", "30 03 80 01 05", nullptr},
      // Indefinite length.
      {"Message", "30 80 80 01 07 A2 80 A0 80 8C 00 00 00 00 00 00 00", nullptr},
      // An inner length that runs past its SEQUENCE's contents.
      {"Message", "30 03 80 05 07 81 01 03 A2 02 A0 00", nullptr},
      // An element after the known fields whose length runs past its SEQUENCE.
      {"Packet", "30 08 80 02 10 01 A1 02 80 00", "{ msgID gw-get-id, payload raw : ''H }"},
      {"Packet", "30 0B 80 02 10 01 A1 02 80 00 89 05 00", nullptr},
      {"Standby", "0A 00", nullptr},
      {"Standby", "0A 05 00 80 00 00 00", nullptr},
      // An element that fails fails the list.
      {"Packets", "30 04 30 02 80 00", nullptr},
      // The unused-bits count: set unused bits are dropped, counts of 8 and
      // more refused, and an empty string has none.
      {"Bits", "03 03 04 80 1F", "'100000000001'B"},
      {"Bits", "03 02 07 80", "'1'B"},
      {"Bits", "03 02 09 00", nullptr},
      {"Bits", "03 02 08 00", nullptr},
      {"Bits", "03 01 01", nullptr},
      {"Bits", "03 00", nullptr},
  });
}

TEST(Ber, UnsignedValuesFromTwoToThe31ArePositive) {
  // INTEGER (0..4294967295) holds them in a signed word; on the wire they
  // are the positive numbers they are (Erlang writes the same octets).
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> u, back;
  u = 0x80000000u;
  EXPECT_EQ("02 05 00 80 00 00 00", enc(u));
  u = 0xFFFFFFFFu;
  EXPECT_EQ("02 05 00 FF FF FF FF", enc(u));
  ASSERT_TRUE(dec("02 05 00 FF FF FF FF", back));
  EXPECT_EQ(0xFFFFFFFFu, back.getValue());
  // -1 is not a value such a type can hold.
  EXPECT_FALSE(dec("02 01 FF", back));
  EXPECT_FALSE(dec("02 05 01 00 00 00 00", back));
}

TEST(Ber, LengthForms) {
  ASN1::OCTET_STRING s, back;
  for (const auto& c : {std::make_pair(127, "04 7F"), std::make_pair(200, "04 81 C8"),
                        std::make_pair(256, "04 82 01 00"), std::make_pair(70000, "04 83 01 11 70")}) {
    s.resize(size_t(c.first));
    EXPECT_EQ(c.second, enc(s).substr(0, std::string(c.second).size()));
  }
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

TEST(Ber, HostileLengthsFailCleanly) {
  ASN1::OCTET_STRING s;
  for (const char* h : {
           // An announced length far beyond the input: refused before any buffer is sized.
           "04 84 FF FF FF F0 00", "04 83 10 00 00",
           // Cut short: identifier only, length octets missing, contents missing.
           "04", "04 82 01", "04 05 01 02", "",
           // Five length octets, the reserved FF, the indefinite form.
           "04 85 00 00 00 00 01 AA", "04 FF 01 AA", "24 80 04 01 AA 00 00",
           // A constructed (segmented) string is not read as contents.
           "24 03 04 01 AA"}) {
    EXPECT_FALSE(dec(h, s)) << h;
    EXPECT_TRUE(s.empty()) << h;
  }
}

TEST(Ber, IntegersThatDoNotFitFail) {
  ASN1::INTEGER i;
  EXPECT_FALSE(dec("02 00", i));
  EXPECT_FALSE(dec("02 06 00 00 00 00 00 01", i));
  EXPECT_FALSE(dec("02 05 00 80 00 00 00", i));  // 2^31 in a signed word
  EXPECT_FALSE(dec("02 05 FF 7F FF FF FF", i));  // below -2^31
  ASSERT_TRUE(dec("02 05 FF 80 00 00 00", i));   // -2^31, one redundant octet
  EXPECT_EQ(INT32_MIN, i.getValue());
  // Out of the type's range but representable: the decoder does not judge it.
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u> slot;
  ASSERT_TRUE(dec("02 03 00 FF FF", slot));
  EXPECT_EQ(65535u, slot.getValue());
  ASN1::BOOLEAN b;
  EXPECT_FALSE(dec("01 00", b));
  ASSERT_TRUE(dec("01 02 00 01", b));
  EXPECT_TRUE(b.getValue());
}

TEST(Ber, DecodingIntoAFilledSequenceLeavesOnlyWhatWasRead) {
  TermParams t;
  t.includeOptionalField(TermParams::o_x13, TermParams::e_x13);
  t.set_x13(ErrorCause::internal);
  ASSERT_TRUE(dec("30 00", t));
  EXPECT_EQ(0, TermParams().compare(t));
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
  ASN1::TypeConstrainedOpenData t(&tagged), tBack(&tagged);
  static_cast<ASN1::INTEGER&>(t.get_data()).setValue(-2);
  EXPECT_EQ("A3 03 02 01 FE", enc(t));
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
