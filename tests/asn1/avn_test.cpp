// Value notation: the printed layout, reading it back, and the log stream.
#include <gtest/gtest.h>

#include <sstream>

#include "asn1/asn1.h"
#include "tests/asn1/AsnTest.h"
#include "tests/asn1/encodings.h"

using namespace AsnTest;

TEST(ValueNotation, PrintedLayoutReadsBack) {
  const std::pair<const char*, const char*> cases[] = {
      {"Message", "{\n  seq 5,\n  pdu command : query : NULL\n}"},
      {"RtpParams",
       "{\n"
       "  ssrc 4294967295,\n"
       "  qos-dscp cs1,\n"
       "  remote {\n"
       "    ip '01 0a ff'H,\n"
       "    port 20001\n"
       "  },\n"
       "  gain -3,\n"
       "  flags FALSE\n"
       "}"},
      {"Empty", "{\n}"},
      {"Pattern", "{\n}"},
      {"Pattern", "{\n  0,\n  9\n}"},
      {"Bits", "'1010'B"},
      {"Bits", "''B"},
      {"Strings", "{\n  ia5 \"say \"\"hi\"\"\",\n  sized \"a\",\n  fixed ''H,\n  octets ''H,\n  bits ''B,\n  oid { 1 3 6 1 }\n}"},
      // Enumerations print their names, values without a name their numbers.
      {"Packet", "{\n  msgID ali-server-p1,\n  payload raw : ''H\n}"},
      {"Packet", "{\n  msgID 5000,\n  payload raw : ''H\n}"},
      {"Level", "high"},
      {"Level", "4"},
      {"Gain", "{\n  id 0,\n  value -1\n}"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<ASN1::AbstractData> v = asn1test::value(c.first, c.second);
    ASSERT_TRUE(v) << c.second;
    EXPECT_EQ(c.second, v->asValueNotation());
    std::ostringstream os;
    os << *v;
    EXPECT_EQ(c.second, os.str());
  }
  ASN1::GeneralizedTime t(2023, 1, 2, 3, 4, 5, 0, -45, false);
  EXPECT_EQ("\"20230102030405-0045\"", t.asValueNotation());
}

TEST(ValueNotation, ReadsEveryPrimitiveForm) {
  ASN1::OCTET_STRING o;
  ASSERT_TRUE(o.setFromValueNotation("'01 0a\n FF'H"));
  EXPECT_EQ(std::string("\x01\x0a\xff", 3), std::string(o));
  ASSERT_TRUE(o.setFromValueNotation("'1000000111'B"));  // completed with 0 bits
  EXPECT_EQ(std::string("\x81\xc0", 2), std::string(o));
  ASN1::BIT_STRING b;
  ASSERT_TRUE(b.setFromValueNotation("'A'H"));
  EXPECT_EQ("'1010'B", b.asValueNotation());
  ASN1::OBJECT_IDENTIFIER oid;
  ASSERT_TRUE(oid.setFromValueNotation("{ iso(1) 3 dod(6) 1 }"));
  EXPECT_EQ(std::vector<uint32_t>({1, 3, 6, 1}), oid.arcs());
  ASN1::GeneralizedTime t;
  ASSERT_TRUE(t.setFromValueNotation("\"20230102030405.5+0130\""));
  EXPECT_EQ(90, t.getMinDiff());
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> u;
  ASSERT_TRUE(u.setFromValueNotation("4294967295"));
  EXPECT_EQ(4294967295u, u.getValue());
  EXPECT_FALSE(u.setFromValueNotation("-1"));
  EXPECT_FALSE(u.setFromValueNotation("4294967296"));
  ASN1::INTEGER i;
  EXPECT_FALSE(i.setFromValueNotation("2147483648"));
  ASSERT_TRUE(i.setFromValueNotation("-2147483648"));
  ASN1::BOOLEAN f;
  EXPECT_FALSE(f.setFromValueNotation("maybe"));
  ASN1::Null n;
  EXPECT_TRUE(n.setFromValueNotation("NULL"));
  EXPECT_FALSE(n.setFromValueNotation("NIL"));
  ASN1::BMPString w;
  ASSERT_TRUE(w.setFromValueNotation("\"say \"\"hi\"\"\""));
  EXPECT_EQ(L"say \"hi\"", static_cast<const std::wstring&>(w));
  EXPECT_EQ("\"say \"\"hi\"\"\"", w.asValueNotation());
  // Outside the character set of the C locale: each character by its row
  // and cell.
  const ASN1::BMPString wide(L"A\u0101", &ASN1::BMPString::theInfo);
  EXPECT_EQ("{{ 0, 0, 0, 65}, { 0, 0, 1, 1}}", wide.asValueNotation());
  // An open type of known type reads and prints its contained value.
  static const ASN1::OpenTypeInfo typed = {
      {&ASN1::TypeConstrainedOpenData::create, 0, &ASN1::TypeConstrainedOpenData::make_copy}, &decltype(u)::theInfo};
  ASN1::TypeConstrainedOpenData open(&typed);
  ASSERT_TRUE(open.setFromValueNotation("70000"));
  EXPECT_EQ("70000", open.asValueNotation());
  EXPECT_FALSE(open.setFromValueNotation("-1"));
  ASN1::IA5String s;
  EXPECT_FALSE(s.setFromValueNotation("\"unterminated"));
  Level l;
  ASSERT_TRUE(l.setFromValueNotation("low"));
  EXPECT_EQ(1, l.getValue());
  EXPECT_FALSE(l.setFromValueNotation("middle"));
}

TEST(ValueNotation, SequenceReadingRules) {
  const std::pair<const char*, bool> cases[] = {
      // Optional fields may be left out; a mandatory one may not.
      {"{ slot 3, pdu command : connect : 4 }", true},
      // A closing brace ends the value: fields after it are not required.
      {"{ seq 1 }", true},
      {"{ pdu command : ping : NULL, seq 1 }", false},
      {"{ seq 1, pdu command : nothing : NULL }", false},
      {"{ pdu command : ping : NULL, extra 1 }", false},
      {"{ slot 1 seq 2 }", false},
      // The colon after an alternative name may be left out.
      {"{ seq 5, pdu command : ping NULL }", true},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, bool(asn1test::value("Message", c.first))) << c.first;
  EXPECT_FALSE(asn1test::value("Packet", "{ msgID no-such-name, payload raw : ''H }"));
  // Extension additions are read by name like root fields.
  TermParams t;
  ASSERT_TRUE(t.setFromValueNotation("{ a1 3, request-mode emergency, x13 busError }"));
  EXPECT_TRUE(t.hasOptionalField(TermParams::o_x13));
  EXPECT_EQ(RequestMode::emergency, t.get_request_mode().getValue());
}

TEST(ValueNotation, UnprintableValueLeavesTheLogStreamUsable) {
  Message m;  // pdu not selected: cannot be printed whole
  std::ostringstream log;
  log << "first " << m << "\n";
  EXPECT_TRUE(log.good());
  log << "second line\n";
  EXPECT_NE(std::string::npos, log.str().find("second line"));
  std::ostringstream direct;
  EXPECT_NE(0, m.print_on(direct));
}

TEST(ValueNotation, StreamExtractionSetsFailbitOnBadText) {
  std::istringstream good("{ seq 5, pdu response : success : NULL } trailing");
  Message m;
  good >> m;
  EXPECT_FALSE(good.fail());
  std::string rest;
  good >> rest;
  EXPECT_EQ("trailing", rest);
  std::istringstream bad("{ seq x }");
  bad >> m;
  EXPECT_TRUE(bad.fail());
}
