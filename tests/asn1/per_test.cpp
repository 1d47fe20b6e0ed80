// PER coder: the known byte strings, aligned and unaligned, the limits of
// the decoder, and the forms the encoder must refuse.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"
#include "tests/asn1/AsnTest.h"
#include "tests/asn1/encodings.h"

using namespace AsnTest;

namespace {

using asn1test::bytes;
using asn1test::hex;

const uint32_t kAligned = ASN1::CoderEnv::per_Aligned;
const uint32_t kUnaligned = ASN1::CoderEnv::per_Unaligned;

uint32_t perRule(bool aligned) { return aligned ? kAligned : kUnaligned; }

// The encoding as hex; "FAIL" when the encoder refuses.
std::string enc(const ASN1::AbstractData& v, bool aligned = true) { return asn1test::encodeHex(v, perRule(aligned)); }

bool dec(const std::string& h, ASN1::AbstractData& v, bool aligned = true) {
  return asn1test::decodeHex(h, v, perRule(aligned));
}

// Encodes one leading 1 bit, then the value, to show its alignment.
std::string encAfterBit(const ASN1::AbstractData& v, bool aligned = true) {
  std::vector<char> out;
  ASN1::PEREncoder e(out, aligned);
  e.encodeSingleBit(true);
  if (!v.accept(e)) return "FAIL";
  return hex(out);
}

// Reads back what encAfterBit wrote and compares.
void checkAfterBit(const std::string& h, const ASN1::AbstractData& want, bool aligned) {
  std::vector<char> in = bytes(h);
  ASN1::PERDecoder d(in.data(), in.data() + in.size(), nullptr, aligned);
  int64_t bit = 0;
  ASSERT_TRUE(d.decodeUnsigned(0, 1, bit));
  std::unique_ptr<ASN1::AbstractData> back(ASN1::typeInfo(want.getInfo())->create(want.getInfo()));
  ASSERT_TRUE(back->accept(d)) << h;
  EXPECT_EQ(0, back->compare(want)) << h;
}

}  // namespace

TEST(Per, AlignedVectors) {
  asn1test::checkVectors(kAligned, {
      // The control messages' envelope is in the module vectors.
      {"Three", "{ b TRUE }", "50"},                // bits 0 1 0, then b
      {"Single", "only : TRUE", "80"},             // no index bits
      {"ExtEnum", "6", "87 C0"},                   // coded by value, past the root
      {"AsnTestBase.Dscp", "cs1", "20"},          // 8 in 6 bits (0..56)
      {"AsnTestBase.Dscp", "57", "FAIL"},
      {"MsgId", "gw-get-id", "10 01"},             // 4097 in 0..13056: two aligned octets
      {"Standby", "not-use", "FAIL"},              // negative values have no root form
      {"Standby", "on", "80"},
      // Extension alternatives are open types.
      {"TonecCode", "dtmfDone : NULL", "80 01 00"},
      {"CreateParams", "voice : NULL", "80 01 00"},
      {"CreateParams", "media : { trunk 5, timeslot 31 }", "81 02 05 F8"},
      // Extension bit, 7 empty optional bits, small number 2, bitmap 001,
      // then the open type: length 1, extension bit 0 and 2 in 0..5.
      {"TermParams", "{ request-mode urgent }", "80 04 40 01 20"},
      {"Packet", "{ msgID gw-get-id, payload raw : ''H }", "00 10 01 00 00"},
      {"Flags", "{ }", "00"},
      {"Packet", "{ msgID gw-get-id, payload raw : ''H, oid { 1 2 3 } }", "40 10 01 00 00 02 2A 03"},
      {"Bits", "'10100000000000000001'B", "14 A0 00 10"},
  });
}

TEST(Per, AlignedReadings) {
  asn1test::checkReadings(kAligned, {
      // Octets after the value are ignored.
      {"Message", "80 01 05 18 DE AD", "{ seq 5, pdu command : ping : NULL }"},
      {"ExtEnum", "80 00", nullptr},  // small number 0 names no value
      // Index 6 through the root path is not the extension alternative, and
      // index 7 is one this system does not know.
      {"TonecCode", "60", nullptr},
      {"TonecCode", "81 01 00", nullptr},
      // Open-type contents are read inside the announced length only.
      {"CreateParams", "81 01 05 F8", nullptr},
      // An unknown extension addition is skipped, and not kept to be sent on.
      {"Packet", "80 10 01 00 00 02 80 02 AA BB", "{ msgID gw-get-id, payload raw : ''H }"},
      {"Packet", "80 10 01 00 00 02 80 05 AA BB", nullptr},  // skip past the end
      {"Packet", "40 10 01 00 00 03 2A 03", nullptr},  // an OID longer than the input
      {"Bits", "14 A0 00 1F", "'10100000000000000001'B"},  // padding bits are dropped
  });
}

// The unaligned vectors are the bytes Erlang's uper codec writes for the
// same values (enumerations with gaps given as their INTEGER ranges).
TEST(Per, UnalignedVariantAlignsNothing) {
  asn1test::checkVectors(kUnaligned, {
      {"Message", "{ seq 5, pdu command : ping : NULL }", "80 41 46 00"},
      {"Message", "{ seq 7, slot 3, pdu command : connect : 4 }", "C0 41 C0 30 40 20"},
      // lengths of unconstrained strings, the OID's octets, a 4-octet fixed
      // and a 3-octet unconstrained OCTET STRING: all at the bit they fall on
      {"Strings", "{ ia5 \"ab\", sized \"a\", fixed '01020304'H, octets '010203'H, bits '101'B, oid { 1 2 3 } }",
       "02 C3 88 0C 20 20 40 60 80 60 20 40 60 74 08 A8 0C"},
      // full 32-bit range in 32 bits, 0..256 in 9 bits, 0..65536 in 17 bits,
      // the unconstrained INTEGER's length and octets unaligned
      {"Numbers", "{ u32 4294967295, i8 -1, one 5, b254 3, b255 3, b256 3, w16 300, w17 300, plain -129 }",
       "FF FF FF FF 7F 03 03 01 80 96 00 4B 00 BF DF C0"},
      {"Message", "{ pdu command : userData : 'AABBCC'H }", "04 01 D5 5D E6 00"},
      {"Message", "{ pdu signal : abort : 128 }", "26 04 01 00"},
      {"Message", "{ pdu signal : number : \"ab\" }", "20 05 87 10"},
      {"Packet", "{ msgID gw-get-id, payload raw : ''H, oid { 1 2 3 } }", "48 00 80 00 45 40 60"},
      // Extension alternatives: the small number, the length and the
      // contents follow straight on from the bits before them.
      {"Message", "{ seq 5, pdu signal : tonec : dtmfDone : NULL }", "80 41 63 00 02 00"},
      {"Message", "{ pdu command : create : media : { trunk 5, timeslot 31 } }", "02 40 81 02 FC 00"},
  });
  // The same with a length of 1: the contents overrun their window.
  asn1test::checkReadings(kUnaligned, {{"Message", "02 40 80 82 FC 00", nullptr}});
}

// Each value after one leading 1 bit, which shows its field width and
// alignment, and read back from there.
TEST(Per, FieldWidthsAndAlignment) {
  typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u> Slot;
  typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> U32;
  Slot i1023;
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 254u> i254;
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 255u> i255;
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 65535u> i65535;
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 65536u> i65536;
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 5, 5u> fixed, fixed6;
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -128, 127u> i8, i8over;
  U32 umax, u31, u0;
  i1023 = 5u;
  i254 = 3u;
  i255 = 3u;
  i65535 = 3u;
  i65536 = 300u;
  fixed = 5u;
  fixed6 = 6u;
  i8.setValue(-128);
  i8over.setValue(128);
  umax = 4294967295u;
  u31 = 0x80000000u;
  u0 = 0u;
  static const ASN1::ConstrainedInfo upTo2 = {
      {&ASN1::OCTET_STRING::create, 4, &ASN1::OCTET_STRING::make_copy}, ASN1::FixedConstraint, 0, 2};
  static const ASN1::ConstrainedInfo below64K = {
      {&ASN1::OCTET_STRING::create, 4, &ASN1::OCTET_STRING::make_copy}, ASN1::FixedConstraint, 0, 65535};
  static const ASN1::ConstrainedInfo above64K = {
      {&ASN1::OCTET_STRING::create, 4, &ASN1::OCTET_STRING::make_copy}, ASN1::FixedConstraint, 0, 70000};
  const std::vector<char> three{1, 2, 3};
  const ASN1::OCTET_STRING two(std::vector<char>{char(0xAB), char(0xCD)}, &upTo2),
      one(std::vector<char>{char(0xAB)}, &ASN1::OCTET_STRING::theInfo), a(three, &below64K), b(three, &above64K);
  const ASN1::GeneralizedTime time("20230102030405Z");
  static const ASN1::OpenTypeInfo typed = {
      {&ASN1::TypeConstrainedOpenData::create, 0, &ASN1::TypeConstrainedOpenData::make_copy}, &Slot::theInfo};
  ASN1::TypeConstrainedOpenData open(&typed);
  static_cast<Slot&>(open.get_data()) = 5u;
  const ASN1::BMPString bmp(L"A\u00e9", &ASN1::BMPString::theInfo);
  const struct {
    const ASN1::AbstractData* v;
    bool aligned;
    const char* hex;
  } cases[] = {
      {&i1023, true, "80 00 05"},
      {&i1023, false, "80 A0"},
      {&i254, true, "81 80"},  // 8 bits, not aligned
      {&i255, true, "80 03"},  // one aligned octet
      {&i255, false, "81 80"},
      {&i65535, true, "80 00 03"},
      {&i65536, true, "A0 01 2C"},  // length 1..3 in 2 bits, then aligned octets
      {&fixed, true, "80"},         // a single value takes no bits
      {&fixed6, true, "FAIL"},
      {&i8, true, "80 00"},
      {&i8over, true, "FAIL"},
      // The full unsigned range holds values from 2^31.
      {&umax, true, "E0 FF FF FF FF"},
      {&u31, true, "E0 80 00 00 00"},
      {&u0, true, "80 00"},
      {&u0, false, "80 00 00 00 00"},
      {&two, true, "D5 79 A0"},  // at most two octets: 8-bit fields, not aligned
      {&one, true, "80 01 AB"},  // unconstrained: the general length aligns
      {&a, false, "80 01 80 81 01 80"},  // unaligned, upper bound below 64K: 16-bit field
      {&b, false, "81 80 81 01 80"},     // from 64K: the 8-bit general length
      {&b, true, "80 03 01 02 03"},      // aligned: as before
      // A time is the VisibleString of its text: 7-bit characters unaligned.
      {&time, false, "87 B2 60 C9 9B 06 2C 19 30 66 C1 A3 06 B6 80"},
      // An open type holds a complete encoding of its own variant: aligned,
      // 00 05 after the aligned length; unaligned, the ten bits 0000000101
      // as 01 40, right after the leading bit.
      {&open, true, "80 02 00 05"},
      {&open, false, "81 00 A0 00"},
      // Two octets a character, aligned after the length only in the
      // aligned variant.
      {&bmp, true, "80 02 00 41 00 E9"},
      {&bmp, false, "81 00 20 80 74 80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.v->asValueNotation() + (c.aligned ? " aligned" : " unaligned"));
    EXPECT_EQ(c.hex, encAfterBit(*c.v, c.aligned));
    if (std::string(c.hex) != "FAIL") checkAfterBit(c.hex, *c.v, c.aligned);
  }
  EXPECT_EQ("80 0F 32 30", encAfterBit(time).substr(0, 11));  // aligned: octets
  ASN1::GeneralizedTime cut;
  EXPECT_FALSE(dec(enc(time, false).substr(0, 14), cut, false));
  const ASN1::OCTET_STRING long200(std::vector<char>(200, 0x5A), &above64K);
  EXPECT_EQ("C0 64 2D 2D", encAfterBit(long200, false).substr(0, 11));  // two-octet form
  checkAfterBit(encAfterBit(long200, false), long200, false);
}

TEST(Per, UnconstrainedIntegersUseTheShortestTwosComplement) {
  const std::pair<int, const char*> cases[] = {
      {0, "01 00"}, {127, "01 7F"}, {128, "02 00 80"}, {-1, "01 FF"},
      {-128, "01 80"}, {-129, "02 FF 7F"}, {INT32_MIN, "04 80 00 00 00"}, {INT32_MAX, "04 7F FF FF FF"}};
  for (const auto& c : cases) {
    ASN1::INTEGER v(c.first, &ASN1::INTEGER::theInfo), back;
    EXPECT_EQ(c.second, enc(v)) << c.first;
    ASSERT_TRUE(dec(c.second, back)) << c.first;
    EXPECT_EQ(c.first, back.getValue());
  }
  ASN1::INTEGER v;
  EXPECT_FALSE(dec("05 00 00 00 00 01", v));  // more than 32 bits
  EXPECT_FALSE(dec("00", v));                 // no octet of value
}

TEST(Per, GeneralLengthsAndTheirLimit) {
  ASN1::OCTET_STRING s, back;
  for (const auto& c : {std::make_pair(127, "7F 78 78"), std::make_pair(128, "80 80 78"),
                        std::make_pair(16383, "BF FF 78")}) {
    s.assign(size_t(c.first), 'x');
    EXPECT_EQ(c.second, enc(s).substr(0, 8));
  }
  ASSERT_TRUE(dec(enc(s), back));
  EXPECT_EQ(16383u, back.size());
  // 16384 octets would need fragmentation: refused, never masked.
  s.assign(16384, 'x');
  EXPECT_EQ("FAIL", enc(s));
  EXPECT_FALSE(dec("C1 00", back));     // fragment form
  EXPECT_FALSE(dec("05 01 02", back));  // shorter than announced
}

TEST(Per, UnalignedExtensionAdditionsFollowAnyBit) {
  // Additions, one of them long enough for a two-octet length, nine bits
  // into the message. All thirteen bits of the bitmap are sent, as Erlang
  // sends them, because the last addition is present.
  Message m, back;
  m.includeOptionalField(Message::o_slot, Message::e_slot);
  m.set_slot(9);
  TermParams& t = m.get_pdu().select_command().select_activate();
  t.includeOptionalField(TermParams::o_a2, TermParams::e_a2);
  t.set_a2(true);
  t.includeOptionalField(TermParams::o_x7, TermParams::e_x7);
  t.set_x7(std::string(200, '\xAB'));
  t.includeOptionalField(TermParams::o_x13, TermParams::e_x13);
  t.set_x13(ErrorCause::internal);
  std::string h = enc(m, false);
  EXPECT_EQ("40 90 D4 11 80 41 80 CA 80 C8 AB AB", h.substr(0, 35));
  EXPECT_EQ("AB AB 01 28", h.substr(h.size() - 11));  // 212 octets in all
  EXPECT_EQ(212u * 3 - 1, h.size());
  ASSERT_TRUE(dec(h, back, false));
  EXPECT_EQ(0, back.compare(m));
}

TEST(Per, OpenDataIsHeldAsOctetsThenReadIntoItsValue) {
  typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u> Slot;
  for (bool aligned : {true, false}) {
    ASN1::OpenData od;
    Slot* five = new Slot;
    *five = 5u;
    od.grab(five);
    const char* want = aligned ? "80 02 00 05" : "81 00 A0 00";
    EXPECT_EQ(want, encAfterBit(od, aligned));
    std::vector<char> in = bytes(want);
    ASN1::PERDecoder d(in.data(), in.data() + in.size(), nullptr, aligned);
    int64_t bit = 0;
    ASSERT_TRUE(d.decodeUnsigned(0, 1, bit));
    ASN1::OpenData back;
    ASSERT_TRUE(back.accept(d));
    EXPECT_EQ(2u, back.get_buf().size());
    back.grab(new Slot);
    ASSERT_TRUE(d.do_revisit(back));
    EXPECT_EQ(5u, static_cast<const Slot&>(back.get_data()).getValue());
  }
}

TEST(Per, UnalignedSmallNumbersAreBitFields) {
  std::vector<char> out;
  ASN1::PEREncoder e(out, false);
  e.encodeSingleBit(true);
  e.encodeSingleBit(true);
  ASSERT_TRUE(e.encodeSmallUnsigned(99));  // bit 1, length 1, one octet
  EXPECT_EQ("E0 2C 60", hex(out));
  ASN1::PERDecoder d(out.data(), out.data() + out.size(), nullptr, false);
  int64_t lead = 0;
  uint32_t n = 0;
  ASSERT_TRUE(d.decodeUnsigned(0, 3, lead));
  EXPECT_EQ(3, lead);
  ASSERT_TRUE(d.decodeSmallUnsigned(n));
  EXPECT_EQ(99u, n);
}

TEST(Per, RemovedExtensionAdditionLeavesNoExtensionPart) {
  // The bitmap keeps its size but no bit set.
  TermParams t, back;
  t.includeOptionalField(TermParams::o_request_mode, TermParams::e_request_mode);
  t.removeOptionalField(TermParams::o_request_mode);
  EXPECT_EQ("00", enc(t));
  ASSERT_TRUE(dec("00", back));
  EXPECT_FALSE(back.hasOptionalField(TermParams::o_request_mode));
}

TEST(Per, ListAndStringLimits) {
  Pattern p;
  std::string h128 = "80 80";
  for (int i = 0; i < 128; ++i) h128 += " 07";
  ASSERT_TRUE(dec(h128, p));
  EXPECT_EQ(128u, p.size());
  // A list that announces more elements than the input holds fails
  // after the first missing one; it is not filled in advance.
  EXPECT_FALSE(dec("64 07", p));
  EXPECT_LE(p.size(), 1u);
  EXPECT_FALSE(dec("80 81" + h128.substr(5) + " 07", p));

  LongText t, back;
  t.assign(16384, 'a');
  ASSERT_TRUE(dec(enc(t), back));
  EXPECT_EQ(16384u, back.size());
  t.assign(16385, 'a');
  EXPECT_FALSE(dec(enc(t), back));

  Flags f;
  f.resize(201);
  EXPECT_EQ("FAIL", enc(f));  // over its SIZE
}

TEST(Per, SizedStringsAndAlphabets) {
  RtpParams_dname d;
  d = "a";
  EXPECT_EQ("00 61", enc(d));
  RtpParams_digits digits, back;  // "#*0123456789": 12 characters, 4-bit indexes
  digits = "1#";
  EXPECT_EQ("08 30", enc(digits));  // length 2 in 5 bits, align, indexes 3 and 0
  ASSERT_TRUE(dec("08 30", back));
  EXPECT_EQ("1#", back.str());
  digits = "1a";
  EXPECT_EQ("FAIL", enc(digits));
  EXPECT_FALSE(dec("08 3F", back));  // index 15: past the alphabet
}

// The decoder's limits, each just inside and just past: the extension
// bitmap's 128 bits, the string limit on an open type's octets, the four
// octets of a normally small number.
TEST(Per, ExtensionBitmapOpenTypeAndSmallNumberLimits) {
  // Extension bit and the seven optional bits, then a small number of one
  // octet (bit 1, length 01, value), then that many + 1 bits, all 0.
  std::string map128 = "80 80 01 7F", map129 = "80 80 01 80";
  for (int i = 0; i < 16; ++i) map128 += " 00", map129 += " 00";
  map129 += " 00";
  asn1test::checkReadings(kAligned, {{"TermParams", map128.c_str(), "{ }"}, {"TermParams", map129.c_str(), nullptr}});

  // The limit is the runtime's to set, and an open type's octets obey it
  // as a string's do.
  struct Limit {
    explicit Limit(unsigned n) : saved(ASN1::MaximumStringSize) { ASN1::MaximumStringSize = n; }
    ~Limit() { ASN1::MaximumStringSize = saved; }
    unsigned saved;
  } limit(3);
  for (const char* h : {"03 AA BB CC", "04 AA BB CC DD"}) {
    std::vector<char> in = bytes(h);
    ASN1::PERDecoder d(in.data(), in.data() + in.size());
    ASN1::OpenData od;
    EXPECT_EQ(in.size() == 4, od.accept(d)) << h;
  }

  // Bit 1, then a length and that many octets.
  for (const char* h : {"80 04 01 00 00 05", "80 05 01 00 00 00 05"}) {
    std::vector<char> in = bytes(h);
    ASN1::PERDecoder d(in.data(), in.data() + in.size());
    uint32_t n = 0;
    const bool fits = in.size() == 6;
    EXPECT_EQ(fits, d.decodeSmallUnsigned(n)) << h;
    if (fits) {
      EXPECT_EQ(0x01000005u, n);
    }
  }
}

// A value that ends in a CHOICE writing nothing may end the input there:
// the decoder reads back what the encoder wrote.
TEST(Per, ChoiceThatWritesNothingMayEndTheInput) {
  for (uint32_t rule : {kAligned, kUnaligned}) asn1test::checkVectors(rule, {{"Tail", "{ n 5, u none : NULL }", "05"}});
}

// Outside an extensible range, and above a lower bound alone: the octets
// of the value, five for a non-negative value from 2^31 up, never more.
TEST(Per, IntegersOutsideTheirRangeTakeAtMostFiveOctets) {
  typedef ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, 0, 10u> Ext;
  typedef ASN1::Constrained_INTEGER<ASN1::PartiallyConstrained, -10, 0u> Above;
  Ext big, back;
  big = 3000000000u;
  EXPECT_EQ("80 05 00 B2 D0 5E 00", enc(big));
  ASSERT_TRUE(dec("80 05 00 B2 D0 5E 00", back));
  EXPECT_EQ(3000000000u, back.getValue());
  EXPECT_FALSE(dec("80 06 00 00 B2 D0 5E 00", back));
  EXPECT_FALSE(dec("80 05 01 00 00 00 00", back));  // 2^32 does not fit
  Above five, again;
  five = 5;
  EXPECT_EQ("01 0F", enc(five));
  ASSERT_TRUE(dec("05 00 00 00 00 0F", again));
  EXPECT_EQ(5, again.getValue());
  EXPECT_FALSE(dec("06 00 00 00 00 00 0F", again));
}
