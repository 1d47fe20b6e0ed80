// Validity checks and the invalid-value trace: which values a peer that
// knows the extensions accepts, which keep to the root, and the path and
// message of the first failure.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "asn1/asn1.h"
#include "asn1/invalid_tracer.h"
#include "tests/asn1/AsnTest.h"
#include "tests/asn1/encodings.h"

using namespace AsnTest;

namespace {

struct Expect {
  bool valid, strict;
  std::string trace;  // empty when the trace finds nothing
};

void check(const ASN1::AbstractData& v, const Expect& e) {
  EXPECT_EQ(e.valid, v.isValid());
  EXPECT_EQ(e.strict, v.isStrictlyValid());
  std::ostringstream os;
  EXPECT_EQ(e.trace.empty(), ASN1::trace_invalid(os, "Message", v));
  EXPECT_EQ(e.trace, os.str());
}

const Expect ok{true, true, ""}, beyondRoot{true, false, ""};

Expect bad(const std::string& trace) { return {false, false, trace + "\n"}; }

std::string rtp(const std::string& fields) { return "{ ssrc 0, remote { ip ''H, port 0 }, " + fields + " }"; }

std::string strings(const std::string& sized, const std::string& fixed, const std::string& oid) {
  return "{ ia5 \"\", sized \"" + sized + "\", fixed '" + fixed + "'H, octets ''H, bits ''B, oid { " + oid + " } }";
}

}  // namespace

TEST(Validity, ValuesOfTheModules) {
  const std::string packets = "{ { msgID gw-get-id, payload raw : '78'H }, { msgID gw-get-id, payload ids : { 4095 }, "
                              "items { { name \"a\", ok TRUE }, { name \"b";
  const struct {
    const char* type;
    std::string text;
    Expect want;
  } cases[] = {
      // A dB gain below zero is an ordinary value of an unconstrained INTEGER.
      {"Gain", "{ id 3, value -6 }", ok},
      {"Gain", "{ id 3, value -2147483648 }", ok},
      {"LGCP.Gain", "{ gainDB -6 }", ok},
      // Unsigned ranges hold the values from 2^31.
      {"Numbers", "{ u32 4294967295, i8 0, one 5, b254 0, b255 0, b256 0, w16 0, w17 0, plain 0 }", ok},
      {"TERM.RtpParams", "{ payload ptG711-Alaw, dhost { iaddr \"\", port 0 }, ssrc 2147483648 }", ok},
      {"Message", "{ seq 1, pdu command : connect : 1023 }", ok},
      {"Message", "{ seq 1, pdu command : connect : 1024 }",
       bad("Message.pdu.command.connect The INTEGER value 1024 is greater than upper bound 1023")},
      // A signed range: both bounds written signed.
      {"RtpParams", rtp("gain -129, flags FALSE"),
       bad("Message.gain The INTEGER value -129 is smaller than lower bound -128")},
      {"RtpParams", rtp("gain 128, flags FALSE"), bad("Message.gain The INTEGER value 128 is greater than upper bound 127")},
      {"RtpParams", rtp("gain 0, freq 111999, flags FALSE"),
       bad("Message.freq The INTEGER value 111999 is smaller than lower bound 112000")},
      {"RtpParams", rtp("gain 0, digits \"12*#\", flags FALSE"), ok},
      {"RtpParams", rtp("gain 0, digits \"12a\", flags FALSE"),
       bad("Message.digits The character 'a' is not valid for the string")},
      // Enumerations: above the root of an extensible one, past a closed one.
      {"ErrorCause", "20", {true, false, "Message This ENUMERATED has invalid value 20\n"}},
      {"BpcTestMode", "3", bad("Message This ENUMERATED has invalid value 3")},
      {"BpcTestMode", "2", ok},
      // An extension alternative is valid, not strictly valid; the trace takes it.
      {"CreateParams", "voice : NULL", beyondRoot},
      {"CreateParams", "rtp : " + rtp("gain 200, flags FALSE"),
       bad("Message.rtp.gain The INTEGER value 200 is greater than upper bound 127")},
      // Additions are judged too, when marked present.
      {"TermParams", "{ x1 256 }", bad("Message.x1 The INTEGER value 256 is greater than upper bound 255")},
      {"TermParams", "{ x1 255 }", ok},
      // The path runs through lists and fields.
      {"Message", "{ pdu command : protoList : " + packets + "\xC3\", ok TRUE } } } } }",
       bad("Message.pdu.command.protoList[1].items[1].name The character '\xC3' is not valid for the string")},
      {"Message", "{ pdu command : protoList : " + packets + "\", ok TRUE } } } } }", ok},
      {"Strings", strings("a", "00000000", "1"), ok},
      {"Strings", strings("", "00000000", "1"),
       bad("Message.sized This AbstractString has size 0 smaller than its lower bound 1")},
      {"Strings", strings(std::string(65, 'a'), "00000000", "1"),
       bad("Message.sized This AbstractString has size 65 greater than its upper bound 64")},
      {"Strings", strings("a", "000000", "1"),
       bad("Message.fixed This OCTET STRING has size 3 smaller than its lower bound 4")},
      {"Strings", strings("a", "0000000000", "1"),
       bad("Message.fixed This OCTET STRING has size 5 greater than its upper bound 4")},
      {"Strings", strings("a", "00000000", ""), bad("Message.oid This OBJECT IDENTIFIER is not assigned")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.text);
    std::unique_ptr<ASN1::AbstractData> v = asn1test::value(c.type, c.text);
    ASSERT_TRUE(v);
    check(*v, c.want);
  }
}

TEST(Validity, ValuesBuiltDirectly) {
  typedef ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, 0, 7u> Ext;
  typedef ASN1::Constrained_INTEGER<ASN1::PartiallyConstrained, 10, ASN1::UnboundedUpper> AtLeast10;
  // An extensible size constraint, which the test modules do not have.
  typedef ASN1::SEQUENCE_OF<Item, ASN1::SizeConstraint<ASN1::ExtendableConstraint, 1, 4u> > ExtItems;
  typedef ASN1::SEQUENCE_OF<Item, ASN1::SizeConstraint<ASN1::FixedConstraint, 1, 4u> > FixedItems;
  static const ASN1::BMPStringInfo printable = {
      {{&ASN1::BMPString::create, 30, &ASN1::BMPString::make_copy}, ASN1::FixedConstraint, 1, 3}, 32, 126, 7, 8};
  static const ASN1::ConstrainedInfo twelve = {
      {&ASN1::BIT_STRING::create, 3, &ASN1::BIT_STRING::make_copy}, ASN1::FixedConstraint, 12, 12};

  Ext ext;
  ext = 8u;
  AtLeast10 nine, huge;
  nine = 9u;
  huge = 0xFFFFFFFFu;
  Command unselected, unknown;
  unknown.setSelection(-2, nullptr);  // what a decoder leaves for an alternative it does not know
  Response pastRoot;
  pastRoot.setSelection(2, new ASN1::Null);
  FixedItems fixed5;
  ExtItems ext5, none;
  for (int i = 0; i < 5; ++i) {
    fixed5.push_back().set_name("x");
    ext5.push_back().set_name("x");
  }
  ASN1::BMPString ab(L"ab", &printable), smile(L"a\x263A", &printable), abcd(L"abcd", &printable);
  ASN1::BIT_STRING b12(&twelve), b9(&twelve), b13(&twelve);
  b12.resize(12);
  b9.resize(9);
  b13.resize(13);
  ASN1::GeneralizedTime goodTime(2024, 1, 31, 12, 0, 0), badTime(2024, 13, 1, 0, 0, 0);
  ASN1::OpenData empty, octets, held;
  octets.get_buf().push_back(5);
  held.grab(new ErrorCause);
  static_cast<ErrorCause&>(held.get_data()).setValue(13);
  // The IA5 alphabet holds NUL but nothing above 127.
  ASN1::IA5String nul(std::string("\0x", 2)), high(std::string("\x80"));

  const std::pair<const ASN1::AbstractData*, Expect> cases[] = {
      {&ext, beyondRoot},  // above the range of an extensible type the trace finds nothing
      {&nine, bad("Message The INTEGER value 9 is smaller than lower bound 10")},
      {&huge, ok},
      {&unselected, bad("Message This CHOICE is not selected")},
      {&unknown, bad("Message This selection is not understood by this decoder")},
      {&pastRoot, bad("Message This selection is not understood by this decoder")},
      {&fixed5, bad("Message This SEQUENCE OF has size 5 greater than its upper bound 4")},
      {&ext5, beyondRoot},
      {&none, bad("Message This SEQUENCE OF has size 0 smaller than its lower bound 1")},
      {&ab, ok},
      {&smile, bad("Message The character '9786' is not valid for the string")},
      {&abcd, bad("Message This BMPString has size 4 greater than its upper bound 3")},
      {&b12, ok},
      {&b9, bad("Message This BIT STRING has size 9 smaller than its lower bound 12")},
      {&b13, bad("Message This BIT STRING has size 13 greater than its upper bound 12")},
      {&goodTime, ok},
      {&badTime, bad("Message This GeneralizedTime is not valid")},
      {&empty, bad("Message This Open Type does not contain any valid data")},
      {&octets, ok},
      {&held, {true, false, "Message This ENUMERATED has invalid value 13\n"}},
      {&nul, ok},
      {&high, bad("Message The character '\x80' is not valid for the string")},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SCOPED_TRACE(i);
    check(*cases[i].first, cases[i].second);
  }
}
