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
using asn1test::connectMessage;
using asn1test::hex;
using asn1test::pingMessage;

uint32_t perRule(bool aligned) { return aligned ? ASN1::CoderEnv::per_Aligned : ASN1::CoderEnv::per_Unaligned; }

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

}  // namespace

TEST(Per, ControlMessagesEncodeToTheirKnownBytes) {
  EXPECT_EQ("80 01 05 18", enc(pingMessage()));
  EXPECT_EQ("C0 01 07 00 03 04 00 04", enc(connectMessage()));
  // Unaligned: nothing is aligned, the ranged numbers are bit fields
  // (the bytes Erlang's uper codec writes for the same values).
  EXPECT_EQ("80 41 46 00", enc(pingMessage(), false));
  EXPECT_EQ("C0 41 C0 30 40 20", enc(connectMessage(), false));

  Message reply;
  reply.includeOptionalField(Message::o_seq, Message::e_seq);
  reply.set_seq(5);
  reply.get_pdu().select_response().select_success();
  EXPECT_EQ("80 01 05 40", enc(reply));
  reply.set_seq(7);
  reply.get_pdu().get_response().set_error(ErrorCause::invalidSlot);
  EXPECT_EQ("80 01 07 62", enc(reply));
}

TEST(Per, ControlMessagesDecodeFromTheirKnownBytes) {
  for (bool aligned : {true, false}) {
    Message m;
    ASSERT_TRUE(dec(aligned ? "C0 01 07 00 03 04 00 04" : "C0 41 C0 30 40 20", m, aligned));
    EXPECT_EQ(0, m.compare(connectMessage()));
    Message p;
    ASSERT_TRUE(dec(aligned ? "80 01 05 18" : "80 41 46 00", p, aligned));
    EXPECT_EQ(0, p.compare(pingMessage()));
  }
  // A slot beyond its range is handed to the caller, who judges it.
  Message big;
  ASSERT_TRUE(dec("C0 01 07 FF FF 18", big));
  EXPECT_EQ(65535u, big.get_slot().getValue());
  // Octets after the value are ignored.
  Message junk;
  ASSERT_TRUE(dec("80 01 05 18 DE AD", junk));
  EXPECT_EQ(0, junk.compare(pingMessage()));
}

TEST(Per, ConstrainedIntegersTakeTheirFieldWidths) {
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u> i1023;
  i1023 = 5u;
  EXPECT_EQ("00 05", enc(i1023));
  EXPECT_EQ("01 40", enc(i1023, false));
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 254u> i254;
  i254 = 3u;
  EXPECT_EQ("81 80", encAfterBit(i254));  // 8 bits, not aligned
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 255u> i255;
  i255 = 3u;
  EXPECT_EQ("80 03", encAfterBit(i255));  // one aligned octet
  EXPECT_EQ("81 80", encAfterBit(i255, false));
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 65535u> i65535;
  i65535 = 3u;
  EXPECT_EQ("80 00 03", encAfterBit(i65535));
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 65536u> i65536;
  i65536 = 300u;
  EXPECT_EQ("40 01 2C", enc(i65536));
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 5, 5u> fixed;
  fixed = 5u;
  EXPECT_EQ("", enc(fixed));
  fixed = 6u;
  EXPECT_EQ("FAIL", enc(fixed));
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -128, 127u> i8;
  i8.setValue(-128);
  EXPECT_EQ("00", enc(i8));
  i8.setValue(127);
  EXPECT_EQ("FF", enc(i8));
  i8.setValue(128);
  EXPECT_EQ("FAIL", enc(i8));
}

TEST(Per, FullUnsignedRangeCodesValuesAboveTwoToThe31) {
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> u, back;
  u = 4294967295u;
  EXPECT_EQ("C0 FF FF FF FF", enc(u));
  ASSERT_TRUE(dec("C0 FF FF FF FF", back));
  EXPECT_EQ(4294967295u, back.getValue());
  u = 0x80000000u;
  EXPECT_EQ("C0 80 00 00 00", enc(u));
  ASSERT_TRUE(dec(enc(u), back));
  EXPECT_EQ(0x80000000u, back.getValue());
  u = 0u;
  EXPECT_EQ("00 00", enc(u));
  EXPECT_EQ("00 00 00 00", enc(u, false));
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
  ASN1::OCTET_STRING s;
  s.assign(127, 'x');
  EXPECT_EQ("7F 78 78", enc(s).substr(0, 8));
  s.assign(128, 'x');
  EXPECT_EQ("80 80 78", enc(s).substr(0, 8));
  s.assign(16383, 'x');
  EXPECT_EQ("BF FF 78", enc(s).substr(0, 8));
  ASN1::OCTET_STRING back;
  ASSERT_TRUE(dec(enc(s), back));
  EXPECT_EQ(16383u, back.size());
  // 16384 octets would need fragmentation: refused, never masked.
  s.assign(16384, 'x');
  EXPECT_EQ("FAIL", enc(s));
  EXPECT_FALSE(dec("C1 00", back));  // fragment form
  EXPECT_FALSE(dec("05 01 02", back));  // shorter than announced
}

TEST(Per, ShortOctetStringsAreNotAligned) {
  // OCTET STRING (SIZE (0..2)): one or two octets are 8-bit fields.
  static const ASN1::ConstrainedInfo small = {
      {&ASN1::OCTET_STRING::create, 4, &ASN1::OCTET_STRING::make_copy}, ASN1::FixedConstraint, 0, 2};
  ASN1::OCTET_STRING two(std::vector<char>{char(0xAB), char(0xCD)}, &small);
  EXPECT_EQ("D5 79 A0", encAfterBit(two));
  ASN1::OCTET_STRING back(&small);
  ASSERT_TRUE(dec("AA F3 40", back));
  EXPECT_EQ(0, back.compare(two));
  // Unconstrained: the general length aligns, the octet follows it.
  ASN1::OCTET_STRING one;
  one = std::string("\xAB", 1);
  EXPECT_EQ("80 01 AB", encAfterBit(one));
}

// The unaligned vectors below are the bytes Erlang's uper codec writes for
// the same values (enumerations with gaps given as their INTEGER ranges).
TEST(Per, UnalignedVariantAlignsNothing) {
  Strings s;
  s.set_ia5("ab");
  s.set_sized("a");
  s.set_fixed(std::string("\x01\x02\x03\x04", 4));
  s.set_octets(std::string("\x01\x02\x03", 3));
  s.get_bits().resize(3);
  s.get_bits().setBit(0, true);
  s.get_bits().setBit(2, true);
  s.get_oid().arcs() = {1, 2, 3};
  Numbers n;
  n.set_u32(4294967295u);
  n.set_i8(-1);
  n.set_one(5);
  n.set_b254(3);
  n.set_b255(3);
  n.set_b256(3);
  n.set_w16(300);
  n.set_w17(300);
  n.set_plain(-129);
  Message userData, abort, number;
  userData.get_pdu().select_command().set_userData(std::string("\xAA\xBB\xCC", 3));
  abort.get_pdu().select_signal().set_abort(128);
  number.get_pdu().select_signal().set_number("ab");
  Packet packet;
  packet.set_msgID(MsgId::gw_get_id);
  packet.get_payload().select_raw();
  packet.includeOptionalField(Packet::o_oid, Packet::e_oid);
  packet.get_oid().arcs() = {1, 2, 3};
  const std::pair<const ASN1::AbstractData*, const char*> cases[] = {
      // lengths of unconstrained strings, the OID's octets, a 4-octet fixed
      // and a 3-octet unconstrained OCTET STRING: all at the bit they fall on
      {&s, "02 C3 88 0C 20 20 40 60 80 60 20 40 60 74 08 A8 0C"},
      // full 32-bit range in 32 bits, 0..256 in 9 bits, 0..65536 in 17 bits,
      // the unconstrained INTEGER's length and octets unaligned
      {&n, "FF FF FF FF 7F 03 03 01 80 96 00 4B 00 BF DF C0"},
      {&userData, "04 01 D5 5D E6 00"},
      {&abort, "26 04 01 00"},
      {&number, "20 05 87 10"},
      {&packet, "48 00 80 00 45 40 60"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, enc(*c.first, false)) << c.first->asValueNotation();
    std::unique_ptr<ASN1::AbstractData> back(ASN1::typeInfo(c.first->getInfo())->create(c.first->getInfo()));
    ASSERT_TRUE(dec(c.second, *back, false)) << c.second;
    EXPECT_EQ(0, back->compare(*c.first)) << c.second;
  }
}

TEST(Per, UnalignedOpenTypesHoldUnalignedEncodingsAtAnyBit) {
  // Extension alternatives: the small number, the length and the contents
  // follow straight on from the bits before them.
  Message done;
  done.includeOptionalField(Message::o_seq, Message::e_seq);
  done.set_seq(5);
  done.get_pdu().select_signal().select_tonec().select_dtmfDone();
  EXPECT_EQ("80 41 63 00 02 00", enc(done, false));  // empty contents: one octet 0
  Message media;
  media.get_pdu().select_command().select_create().select_media().set_trunk(5);
  media.get_pdu().get_command().get_create().get_media().set_timeslot(31);
  EXPECT_EQ("02 40 81 02 FC 00", enc(media, false));
  Message back;
  ASSERT_TRUE(dec("02 40 81 02 FC 00", back, false));
  EXPECT_EQ(0, back.compare(media));
  // The same with a length of 1: the contents overrun their window.
  EXPECT_FALSE(dec("02 40 80 82 FC 00", back, false));

  // Extension additions, one of them long enough for a two-octet length,
  // nine bits into the message. All thirteen bits of the bitmap are sent,
  // as Erlang sends them, because the last addition is present.
  Message m;
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

TEST(Per, OpenDataHoldsAnEncodingOfItsOwnVariantAtAnyBit) {
  typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u> Slot;
  static const ASN1::OpenTypeInfo typed = {
      {&ASN1::TypeConstrainedOpenData::create, 0, &ASN1::TypeConstrainedOpenData::make_copy}, &Slot::theInfo};
  for (bool aligned : {true, false}) {
    ASN1::OpenData od;
    Slot* five = new Slot;
    *five = 5u;
    od.grab(five);
    // Aligned: 00 05 after the aligned length; unaligned: the ten bits
    // 0000000101 as a complete encoding, 01 40, right after the leading bit.
    const char* want = aligned ? "80 02 00 05" : "81 00 A0 00";
    EXPECT_EQ(want, encAfterBit(od, aligned));
    ASN1::TypeConstrainedOpenData tod(&typed);
    static_cast<Slot&>(tod.get_data()) = 5u;
    EXPECT_EQ(want, encAfterBit(tod, aligned));

    std::vector<char> in = bytes(want);
    // Held as octets, then read into the value it is known to hold.
    ASN1::PERDecoder d(in.data(), in.data() + in.size(), nullptr, aligned);
    int64_t bit = 0;
    ASSERT_TRUE(d.decodeUnsigned(0, 1, bit));
    ASN1::OpenData back;
    ASSERT_TRUE(back.accept(d));
    EXPECT_EQ(2u, back.get_buf().size());
    back.grab(new Slot);
    ASSERT_TRUE(d.do_revisit(back));
    EXPECT_EQ(5u, static_cast<const Slot&>(back.get_data()).getValue());
    // Decoded in place, inside its length.
    ASN1::PERDecoder t(in.data(), in.data() + in.size(), nullptr, aligned);
    ASSERT_TRUE(t.decodeUnsigned(0, 1, bit));
    ASN1::TypeConstrainedOpenData tback(&typed);
    ASSERT_TRUE(tback.accept(t));
    EXPECT_EQ(0, tback.compare(tod));
    EXPECT_EQ(in.size() * 8, t.position() + t.getBitsLeft());
  }
}

TEST(Per, UnalignedLengthsFromAnUpperBoundOf64KTakeTheGeneralForm) {
  static const ASN1::ConstrainedInfo below = {
      {&ASN1::OCTET_STRING::create, 4, &ASN1::OCTET_STRING::make_copy}, ASN1::FixedConstraint, 0, 65535};
  static const ASN1::ConstrainedInfo above = {
      {&ASN1::OCTET_STRING::create, 4, &ASN1::OCTET_STRING::make_copy}, ASN1::FixedConstraint, 0, 70000};
  const std::vector<char> three{1, 2, 3};
  ASN1::OCTET_STRING a(three, &below), b(three, &above);
  EXPECT_EQ("80 01 80 81 01 80", encAfterBit(a, false));  // 16-bit field
  EXPECT_EQ("81 80 81 01 80", encAfterBit(b, false));     // 8-bit general length
  EXPECT_EQ("80 03 01 02 03", encAfterBit(b));            // aligned: as before
  ASN1::OCTET_STRING long200(std::vector<char>(200, 0x5A), &above);
  EXPECT_EQ("C0 64 2D 2D", encAfterBit(long200, false).substr(0, 11));  // two-octet form
  for (const ASN1::OCTET_STRING* v : {&a, &b, &long200}) {
    std::vector<char> in;
    ASN1::PEREncoder e(in, false);
    ASSERT_TRUE(v->accept(e));
    ASN1::OCTET_STRING back(v->getInfo());
    ASN1::PERDecoder d(in.data(), in.data() + in.size(), nullptr, false);
    ASSERT_TRUE(back.accept(d));
    EXPECT_EQ(0, back.compare(*v));
  }
}

TEST(Per, UnalignedSmallNumbersAndTimesAreBitFields) {
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

  // A time is the VisibleString of its text: 7-bit characters.
  ASN1::GeneralizedTime t("20230102030405Z");
  EXPECT_EQ("87 B2 60 C9 9B 06 2C 19 30 66 C1 A3 06 B6 80", encAfterBit(t, false));
  EXPECT_EQ("80 0F 32 30", encAfterBit(t).substr(0, 11));  // aligned: octets
  std::vector<char> in;
  ASN1::PEREncoder te(in, false);
  ASSERT_TRUE(t.accept(te));
  ASN1::GeneralizedTime tb;
  ASN1::PERDecoder td(in.data(), in.data() + in.size(), nullptr, false);
  ASSERT_TRUE(tb.accept(td));
  EXPECT_EQ(0, tb.compare(t));
  ASN1::PERDecoder cut(in.data(), in.data() + 5, nullptr, false);
  EXPECT_FALSE(tb.accept(cut));
}

TEST(Per, OptionalBitmapAndSingleAlternative) {
  Three t;
  t.includeOptionalField(1, 1);
  t.set_b(true);
  EXPECT_EQ("50", enc(t));  // bits 0 1 0, then b
  Single s;
  s.select_only().setValue(true);
  EXPECT_EQ("80", enc(s));  // no index bits
  Single back;
  ASSERT_TRUE(dec("80", back));
  EXPECT_TRUE(back.get_only().getValue());
}

TEST(Per, EnumerationsAreCodedByValue) {
  ExtEnum e;
  e.setValue(6);
  EXPECT_EQ("87 C0", enc(e));
  ExtEnum back;
  ASSERT_TRUE(dec("87 C0", back));
  EXPECT_EQ(6, back.ASN1::ENUMERATED::getValue());
  EXPECT_FALSE(dec("80 00", back));  // small number 0 names no value

  AsnTestBase::Dscp d(AsnTestBase::Dscp::cs1);
  EXPECT_EQ("20", enc(d));  // 8 in 6 bits (0..56)
  d.setValue(57);
  EXPECT_EQ("FAIL", enc(d));
  MsgId id(MsgId::gw_get_id);
  EXPECT_EQ("10 01", enc(id));  // 4097 in 0..13056: two aligned octets
  Standby sb(Standby::not_use);
  EXPECT_EQ("FAIL", enc(sb));  // negative values have no root form
  sb = Standby::on;
  EXPECT_EQ("80", enc(sb));
}

TEST(Per, ExtensionAlternativeIsAnOpenType) {
  TonecCode t;
  t.select_dtmfDone();
  EXPECT_EQ("80 01 00", enc(t));
  TonecCode back;
  ASSERT_TRUE(dec("80 01 00", back));
  EXPECT_EQ(TonecCode::e_dtmfDone, back.getSelection());
  // Index 6 through the root path is not the extension alternative.
  EXPECT_FALSE(dec("60", back));
  // An extension alternative this system does not know.
  EXPECT_FALSE(dec("81 01 00", back));
  // Its contents are read inside the announced length only.
  CreateParams c;
  c.select_voice();
  EXPECT_EQ("80 01 00", enc(c));
  c.select_media().set_trunk(5);
  c.get_media().set_timeslot(31);
  EXPECT_EQ("81 02 05 F8", enc(c));
  ASSERT_TRUE(dec("81 02 05 F8", c));
  EXPECT_FALSE(dec("81 01 05 F8", c));
}

TEST(Per, ExtensionAdditionsRoundTripAndAnEmptyBitmapWritesNothing) {
  TermParams t;
  t.includeOptionalField(TermParams::o_request_mode, TermParams::e_request_mode);
  t.set_request_mode(RequestMode::urgent);
  // extension bit, 7 empty optional bits, small number 2, bitmap 001, then
  // the open type: length 1, extension bit 0 and 2 in 0..5.
  EXPECT_EQ("80 04 40 01 20", enc(t));
  TermParams back;
  ASSERT_TRUE(dec("80 04 40 01 20", back));
  EXPECT_EQ(0, back.compare(t));
  EXPECT_EQ(RequestMode::urgent, back.get_request_mode().getValue());

  // Removed again: the bitmap keeps its size but no bit, so no extension part.
  t.removeOptionalField(TermParams::o_request_mode);
  EXPECT_EQ("00", enc(t));
  ASSERT_TRUE(dec(enc(t), back));
  EXPECT_FALSE(back.hasOptionalField(TermParams::o_request_mode));
}

TEST(Per, UnknownExtensionAdditionsAreSkippedAndNotSentOnAgain) {
  // Packet has no known addition; this one announces two, the second set.
  // msgID gw-get-id, payload raw (empty), no oid, no items.
  Packet p;
  p.set_msgID(MsgId::gw_get_id);
  p.get_payload().select_raw();
  std::string plain = enc(p);
  ASSERT_EQ("00 10 01 00 00", plain);
  Packet back;
  ASSERT_TRUE(dec("80 10 01 00 00 02 80 02 AA BB", back));
  EXPECT_EQ(0, back.compare(p));
  EXPECT_EQ(plain, enc(back));
  EXPECT_FALSE(dec("80 10 01 00 00 02 80 05 AA BB", back));  // skip past the end
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
  std::string h129 = "80 81";
  for (int i = 0; i < 129; ++i) h129 += " 07";
  EXPECT_FALSE(dec(h129, p));

  LongText t;
  t.assign(16384, 'a');
  std::string ok = enc(t);
  ASSERT_NE("FAIL", ok);
  LongText back;
  ASSERT_TRUE(dec(ok, back));
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
  RtpParams_digits digits;  // "#*0123456789": 12 characters, 4-bit indexes
  digits = "1#";
  EXPECT_EQ("08 30", enc(digits));  // length 2 in 5 bits, align, indexes 3 and 0
  RtpParams_digits back;
  ASSERT_TRUE(dec("08 30", back));
  EXPECT_EQ("1#", back.str());
  digits = "1a";
  EXPECT_EQ("FAIL", enc(digits));
  EXPECT_FALSE(dec("08 3F", back));  // index 15: past the alphabet
  // Unaligned IA5String: 7-bit codes.
  ASN1::IA5String s("ab", &ASN1::IA5String::theInfo);
  EXPECT_EQ("02 C3 88", enc(s, false));
  ASN1::IA5String sb;
  ASSERT_TRUE(dec("02 C3 88", sb, false));
  EXPECT_EQ("ab", sb.str());
}

TEST(Per, ObjectIdentifierAndBitString) {
  ASN1::OBJECT_IDENTIFIER oid;
  oid.arcs() = {1, 2, 3};
  EXPECT_EQ("02 2A 03", enc(oid));
  ASN1::OBJECT_IDENTIFIER oback;
  ASSERT_TRUE(dec("02 2A 03", oback));
  EXPECT_EQ(0, oback.compare(oid));
  EXPECT_FALSE(dec("03 2A 03", oback));
  ASN1::BIT_STRING b;
  b.resize(4);
  b.setBit(0, true);
  b.setBit(2, true);
  EXPECT_EQ("04 A0", enc(b));
  b.resize(20);
  b.setBit(19, true);
  EXPECT_EQ("14 A0 00 10", enc(b));
  ASN1::BIT_STRING bback;
  ASSERT_TRUE(dec("14 A0 00 1F", bback));  // padding bits are dropped
  EXPECT_EQ(0, bback.compare(b));
}

TEST(Per, UnselectedChoiceFailsToEncode) {
  Message m;
  EXPECT_EQ("FAIL", enc(m));
  std::vector<char> out{'k'};
  ASN1::CoderEnv env;
  EXPECT_FALSE(ASN1::encode(m, &env, std::back_inserter(out)));
  EXPECT_EQ(1u, out.size());  // nothing reached the output
}
