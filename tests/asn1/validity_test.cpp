// Validity checks and the invalid-value trace: which values a peer that
// knows the extensions accepts, which keep to the root, and the path and
// message of the first failure.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "asn1/asn1.h"
#include "asn1/invalid_tracer.h"
#include "asn1/modules/LGCP.h"
#include "asn1/modules/TERM.h"
#include "tests/asn1/AsnTest.h"

using namespace AsnTest;

namespace {

// The trace of a value: empty when it passes.
std::string trace(const ASN1::AbstractData& v) {
  std::ostringstream os;
  bool ok = ASN1::trace_invalid(os, "Message", v);
  EXPECT_EQ(ok, os.str().empty());
  return os.str();
}

Message connectMessage(int target) {
  Message m;
  m.includeOptionalField(Message::o_seq, Message::e_seq);
  m.set_seq(1);
  m.get_pdu().select_command().set_connect(target);
  return m;
}

// An extensible size constraint, which the test modules do not have.
typedef ASN1::SEQUENCE_OF<Item, ASN1::SizeConstraint<ASN1::ExtendableConstraint, 1, 4u> > ExtItems;
typedef ASN1::SEQUENCE_OF<Item, ASN1::SizeConstraint<ASN1::FixedConstraint, 1, 4u> > FixedItems;

}  // namespace

TEST(Validity, NegativeUnconstrainedIntegerIsValid) {
  // A dB gain below zero is an ordinary value of an unconstrained INTEGER.
  Gain g;
  g.set_id(3);
  g.set_value(-6);
  EXPECT_TRUE(g.isValid());
  EXPECT_TRUE(g.isStrictlyValid());
  ASN1::INTEGER minusOne(-1, &ASN1::INTEGER::theInfo);
  EXPECT_TRUE(minusOne.isValid());
  EXPECT_TRUE(minusOne.isStrictlyValid());
  EXPECT_EQ("", trace(minusOne));
  ASN1::INTEGER lowest(INT32_MIN, &ASN1::INTEGER::theInfo);
  EXPECT_TRUE(lowest.isStrictlyValid());
}

TEST(Validity, UnsignedRangeHoldsValuesFromTwoToThe31) {
  Numbers n;
  n.set_u32(0x80000000u);
  EXPECT_TRUE(n.get_u32().isStrictlyValid());
  n.set_u32(0xFFFFFFFFu);
  EXPECT_TRUE(n.get_u32().isStrictlyValid());
  EXPECT_EQ("", trace(n.get_u32()));
}

TEST(Validity, IntegerOutsideItsRange) {
  Message m = connectMessage(1024);
  EXPECT_FALSE(m.isValid());
  EXPECT_FALSE(m.isStrictlyValid());
  EXPECT_EQ("Message.pdu.command.connect The INTEGER value 1024 is greater than upper bound 1023\n", trace(m));
  EXPECT_TRUE(connectMessage(1023).isStrictlyValid());
  EXPECT_EQ("", trace(connectMessage(0)));

  // A signed range: both bounds written signed.
  RtpParams r;
  r.set_gain(-129);
  EXPECT_FALSE(r.get_gain().isValid());
  EXPECT_EQ("Message The INTEGER value -129 is smaller than lower bound -128\n", trace(r.get_gain()));
  r.set_gain(128);
  EXPECT_EQ("Message The INTEGER value 128 is greater than upper bound 127\n", trace(r.get_gain()));
  r.set_freq(111999);
  EXPECT_EQ("Message The INTEGER value 111999 is smaller than lower bound 112000\n", trace(r.get_freq()));
}

TEST(Validity, IntegerBeyondAnExtensibleRangeIsValidButNotStrictly) {
  typedef ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, 0, 7u> Ext;
  Ext x;
  x = 8u;
  EXPECT_TRUE(x.isValid());
  EXPECT_FALSE(x.isStrictlyValid());
  // Above the range of an extensible type the trace finds nothing to report.
  EXPECT_EQ("", trace(x));
  typedef ASN1::Constrained_INTEGER<ASN1::PartiallyConstrained, 10, ASN1::UnboundedUpper> AtLeast10;
  AtLeast10 p;
  p = 9u;
  EXPECT_FALSE(p.isValid());
  p = 0xFFFFFFFFu;
  EXPECT_TRUE(p.isStrictlyValid());
}

TEST(Validity, EnumerationAboveItsRoot) {
  ErrorCause e;  // extensible
  e.setValue(20);
  EXPECT_TRUE(e.isValid());
  EXPECT_FALSE(e.isStrictlyValid());
  EXPECT_EQ("Message This ENUMERATED has invalid value 20\n", trace(e));
  BpcTestMode b;  // not extensible
  b.setValue(3);
  EXPECT_FALSE(b.isValid());
  EXPECT_EQ("Message This ENUMERATED has invalid value 3\n", trace(b));
  b.setValue(2);
  EXPECT_TRUE(b.isStrictlyValid());
}

TEST(Validity, ChoiceSelections) {
  Command c;
  EXPECT_FALSE(c.isValid());
  EXPECT_EQ("Message This CHOICE is not selected\n", trace(c));

  // What a decoder leaves for an alternative it does not know.
  c.setSelection(-2, nullptr);
  EXPECT_FALSE(c.isValid());
  EXPECT_FALSE(c.isStrictlyValid());
  EXPECT_EQ("Message This selection is not understood by this decoder\n", trace(c));

  // An extension alternative is valid, not strictly valid; the trace takes it.
  CreateParams p;
  p.select_voice();
  EXPECT_TRUE(p.isValid());
  EXPECT_FALSE(p.isStrictlyValid());
  EXPECT_EQ("", trace(p));
  p.select_rtp();
  p.get_rtp().set_gain(200);
  EXPECT_FALSE(p.isValid());
  EXPECT_EQ("Message.rtp.gain The INTEGER value 200 is greater than upper bound 127\n", trace(p));

  // Past the root of a CHOICE that is not extensible.
  Response r;
  r.setSelection(2, new ASN1::Null);
  EXPECT_FALSE(r.isValid());
}

TEST(Validity, ListSizes) {
  FixedItems fixed;
  for (int i = 0; i < 5; ++i) fixed.push_back().set_name("x");
  EXPECT_FALSE(fixed.isValid());
  EXPECT_EQ("Message This SEQUENCE OF has size 5 greater than its upper bound 4\n", trace(fixed));
  ExtItems ext;
  for (int i = 0; i < 5; ++i) ext.push_back().set_name("x");
  EXPECT_TRUE(ext.isValid());
  EXPECT_FALSE(ext.isStrictlyValid());
  EXPECT_EQ("", trace(ext));
  ExtItems none;
  EXPECT_FALSE(none.isValid());
  EXPECT_EQ("Message This SEQUENCE OF has size 0 smaller than its lower bound 1\n", trace(none));
}

TEST(Validity, PathThroughListsAndFields) {
  Message m;
  Packets& packets = m.get_pdu().select_command().select_protoList();
  packets.push_back().get_payload().set_raw("x");
  Packet& p = packets.push_back();
  p.get_payload().select_ids().push_back() = 4095u;
  p.includeOptionalField(Packet::o_items, Packet::e_items);
  p.get_items().push_back().set_name("a");
  p.get_items().push_back().set_name(std::string("b\xC3", 2));
  EXPECT_FALSE(m.isValid());
  EXPECT_EQ("Message.pdu.command.protoList[1].items[1].name The character '\xC3' is not valid for the string\n",
            trace(m));
  p.get_items()[1].set_name("b");
  EXPECT_TRUE(m.isStrictlyValid());
  EXPECT_EQ("", trace(m));
}

TEST(Validity, StringSizesAndAlphabets) {
  Strings s;
  s.set_sized("a");
  s.get_fixed().resize(4);
  s.get_oid().arcs().push_back(1);
  EXPECT_TRUE(s.isStrictlyValid());
  s.set_sized("");
  EXPECT_EQ("Message.sized This AbstractString has size 0 smaller than its lower bound 1\n", trace(s));
  s.set_sized(std::string(65, 'a'));
  EXPECT_EQ("Message.sized This AbstractString has size 65 greater than its upper bound 64\n", trace(s));
  s.set_sized("a");
  s.get_fixed().resize(3);
  EXPECT_FALSE(s.isValid());
  EXPECT_EQ("Message.fixed This OCTET STRING has size 3 smaller than its lower bound 4\n", trace(s));
  s.get_fixed().resize(5);
  EXPECT_EQ("Message.fixed This OCTET STRING has size 5 greater than its upper bound 4\n", trace(s));
  s.get_fixed().resize(4);
  s.get_oid().arcs().clear();
  EXPECT_FALSE(s.isValid());
  EXPECT_EQ("Message.oid This OBJECT IDENTIFIER is not assigned\n", trace(s));

  RtpParams r;
  r.set_digits("12*#");
  EXPECT_TRUE(r.get_digits().isStrictlyValid());
  r.set_digits("12a");
  EXPECT_FALSE(r.get_digits().isValid());
  EXPECT_EQ("Message The character 'a' is not valid for the string\n", trace(r.get_digits()));
  // The IA5 alphabet holds NUL but nothing above 127.
  ASN1::IA5String ia5(std::string("\0x", 2));
  EXPECT_TRUE(ia5.isStrictlyValid());
  ia5 = std::string("\x80");
  EXPECT_FALSE(ia5.isValid());
}

TEST(Validity, BmpStringCharacters) {
  static const ASN1::BMPStringInfo printable = {
      {{&ASN1::BMPString::create, 30, &ASN1::BMPString::make_copy}, ASN1::FixedConstraint, 1, 3}, 32, 126, 7, 8};
  ASN1::BMPString s(L"ab", &printable);
  EXPECT_TRUE(s.isStrictlyValid());
  s.assign(L"a\x263A");
  EXPECT_FALSE(s.isValid());
  EXPECT_EQ("Message The character '9786' is not valid for the string\n", trace(s));
  s.assign(L"abcd");
  EXPECT_EQ("Message This BMPString has size 4 greater than its upper bound 3\n", trace(s));
}

TEST(Validity, BitStringSizes) {
  static const ASN1::ConstrainedInfo twelve = {
      {&ASN1::BIT_STRING::create, 3, &ASN1::BIT_STRING::make_copy}, ASN1::FixedConstraint, 12, 12};
  ASN1::BIT_STRING b(&twelve);
  b.resize(12);
  EXPECT_TRUE(b.isStrictlyValid());
  b.resize(9);
  EXPECT_EQ("Message This BIT STRING has size 9 smaller than its lower bound 12\n", trace(b));
  b.resize(13);
  EXPECT_FALSE(b.isValid());
  EXPECT_EQ("Message This BIT STRING has size 13 greater than its upper bound 12\n", trace(b));
}

TEST(Validity, GeneralizedTimeFields) {
  ASN1::GeneralizedTime good(2024, 1, 31, 12, 0, 0);
  EXPECT_TRUE(good.isValid());
  EXPECT_EQ("", trace(good));
  ASN1::GeneralizedTime bad(2024, 13, 1, 0, 0, 0);
  EXPECT_FALSE(bad.isValid());
  EXPECT_FALSE(bad.isStrictlyValid());
  EXPECT_EQ("Message This GeneralizedTime is not valid\n", trace(bad));
}

TEST(Validity, OpenTypes) {
  ASN1::OpenData empty;
  EXPECT_FALSE(empty.isValid());
  EXPECT_EQ("Message This Open Type does not contain any valid data\n", trace(empty));
  ASN1::OpenData octets;
  octets.get_buf().push_back(5);
  EXPECT_TRUE(octets.isStrictlyValid());
  ASN1::OpenData held;
  held.grab(new ErrorCause);
  static_cast<ErrorCause&>(held.get_data()).setValue(13);
  EXPECT_TRUE(held.isValid());
  EXPECT_FALSE(held.isStrictlyValid());
}

TEST(Validity, ExtensionAdditionsAreJudgedToo) {
  TermParams t;
  t.includeOptionalField(TermParams::o_x1, TermParams::e_x1);
  t.set_x1(256);
  EXPECT_FALSE(t.isValid());
  EXPECT_EQ("Message.x1 The INTEGER value 256 is greater than upper bound 255\n", trace(t));
  // An addition that is not marked present is not looked at.
  t.removeOptionalField(TermParams::o_x1);
  EXPECT_TRUE(t.isStrictlyValid());
}

TEST(Validity, ProtocolMessagesWithNegativeGainsAndHighSsrcs) {
  // The schemas carry negative dB values in unconstrained INTEGERs and RTP
  // sources of 2^31 and above.
  LGCP::Gain gain;
  gain.set_gainDB(-6);
  EXPECT_TRUE(gain.isStrictlyValid());
  TERM::RtpParams rtp;
  rtp.includeOptionalField(TERM::RtpParams::o_ssrc, TERM::RtpParams::e_ssrc);
  rtp.set_ssrc(0x80000000u);
  EXPECT_TRUE(rtp.get_ssrc().isStrictlyValid());
  EXPECT_EQ("", trace(rtp.get_ssrc()));
}
