// Value model: construction from descriptors, optional fields, CHOICE
// selection, copies, comparison and the helpers the coders share.
#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "asn1/asn1.h"
#include "tests/asn1/AsnTest.h"

using namespace AsnTest;

TEST(ValueModel, SequenceFromDescriptorHoldsOnlyMandatoryFields) {
  Message m;
  EXPECT_EQ(nullptr, m.getField(Message::e_seq));
  EXPECT_EQ(nullptr, m.getField(Message::e_slot));
  ASSERT_NE(nullptr, m.getField(Message::e_pdu));
  EXPECT_EQ(-1, m.get_pdu().getSelection());
  for (unsigned id = 0; id < 4; ++id) EXPECT_FALSE(m.hasOptionalField(id));
}

TEST(ValueModel, IncludeRemoveIncludeKeepsTheFieldValue) {
  Message m;
  m.includeOptionalField(Message::o_slot, Message::e_slot);
  EXPECT_TRUE(m.hasOptionalField(Message::o_slot));
  EXPECT_FALSE(m.hasOptionalField(Message::o_seq));
  EXPECT_EQ(0u, m.get_slot().getValue());
  m.removeOptionalField(Message::o_slot);
  EXPECT_FALSE(m.hasOptionalField(Message::o_slot));
  m.set_slot(77);
  m.includeOptionalField(Message::o_slot, Message::e_slot);
  EXPECT_EQ(77u, m.get_slot().getValue());
}

TEST(ValueModel, ExtensionAdditionGrowsTheExtensionBitmapToItsBit) {
  TermParams t;
  EXPECT_EQ(0u, t.extensionMap().size());
  // request-mode is the third addition: optional id 7 + 2.
  ASSERT_EQ(9, TermParams::o_request_mode);
  t.includeOptionalField(TermParams::o_request_mode, TermParams::e_request_mode);
  EXPECT_EQ(3u, t.extensionMap().size());
  EXPECT_TRUE(t.hasOptionalField(9));
  EXPECT_FALSE(t.hasOptionalField(8));
  EXPECT_EQ(0x20, t.extensionMap().data()[0]);
  // An id or index the type does not have changes nothing.
  t.includeOptionalField(40, 3);
  t.includeOptionalField(3, 400);
  EXPECT_EQ(3u, t.extensionMap().size());
  EXPECT_FALSE(t.hasOptionalField(3));
}

TEST(ValueModel, BitmapBitZeroIsTheMostSignificantBitOfTheFirstOctet) {
  ASN1::SEQUENCE::BitMap map;
  map.resize(10);
  map.set(0);
  map.set(9);
  EXPECT_EQ(0x80, map.data()[0]);
  EXPECT_EQ(0x40, map.data()[1]);
  EXPECT_FALSE(map[10]);
  map.set(10);  // beyond the count: ignored
  EXPECT_EQ(0x40, map.data()[1]);
  map.resize(9);
  map.resize(10);
  EXPECT_FALSE(map[9]);
  map.resize(300);  // leaves the inline storage
  map.set(299);
  EXPECT_TRUE(map[0] && map[299]);
  ASN1::SEQUENCE::BitMap copy(map);
  EXPECT_TRUE(copy[299]);
  map.resize(3);
  EXPECT_TRUE(map[0]);
  EXPECT_EQ(3u, map.size());
}

TEST(ValueModel, CreateSelectionOutsideTheAlternativesLeavesMinusTwo) {
  PDU pdu;
  pdu.setSelection(3, nullptr);
  EXPECT_FALSE(pdu.createSelection());
  EXPECT_EQ(-2, pdu.getSelection());
  EXPECT_EQ(nullptr, pdu.getSelectedValue());
  pdu.setSelection(1, nullptr);
  EXPECT_TRUE(pdu.createSelection());
  EXPECT_NE(nullptr, dynamic_cast<Response*>(pdu.getSelectedValue()));
}

TEST(ValueModel, ComponentsAreObjectsOfTheirGeneratedClass) {
  Message m;
  EXPECT_NE(nullptr, dynamic_cast<PDU*>(m.getField(Message::e_pdu)));
  Command& c = m.get_pdu().select_command();
  c.select_testBpc().set_mode(BpcTestMode::walking);
  EXPECT_NE(nullptr, dynamic_cast<BpcTestMode*>(c.get_testBpc().getField(BpcTestParams::e_mode)));
  std::unique_ptr<ASN1::AbstractData> copy(m.clone());
  EXPECT_NE(nullptr, dynamic_cast<Message*>(copy.get()));
  const Message& mc = static_cast<const Message&>(*copy);
  EXPECT_NE(nullptr, dynamic_cast<const BpcTestMode*>(
                         mc.get_pdu().get_command().get_testBpc().getField(BpcTestParams::e_mode)));
  EXPECT_EQ(BpcTestMode::walking, mc.get_pdu().get_command().get_testBpc().get_mode().getValue());

  Packets list;
  list.push_back();
  list.push_back(list[0]);
  EXPECT_NE(nullptr, dynamic_cast<Packet*>(list.at(1)));
}

TEST(ValueModel, ChoiceComparisonOrdersBySelectionThenValue) {
  PDU a, b;
  EXPECT_EQ(0, a.compare(b));
  b.select_command();
  EXPECT_LT(a.compare(b), 0);
  EXPECT_GT(b.compare(a), 0);
  a.select_command().set_connect(4);
  b.get_command().set_connect(5);
  EXPECT_LT(a.compare(b), 0);
  b.get_command().set_connect(4);
  EXPECT_EQ(0, a.compare(b));
}

TEST(ValueModel, SequencesDifferingOnlyInAnExtensionAdditionCompareUnequal) {
  TermParams a, b;
  a.includeOptionalField(TermParams::o_x4, TermParams::e_x4);
  b.includeOptionalField(TermParams::o_x4, TermParams::e_x4);
  EXPECT_EQ(0, a.compare(b));
  a.set_x4(1);
  EXPECT_NE(0, a.compare(b));
  // Present only on one side.
  b.set_x4(1);
  b.removeOptionalField(TermParams::o_x4);
  EXPECT_GT(a.compare(b), 0);
  EXPECT_LT(b.compare(a), 0);
}

TEST(ValueModel, CompareIsThreeWayAcrossTheWholeRange) {
  ASN1::INTEGER big(INT_MAX, &ASN1::INTEGER::theInfo), minus(-1, &ASN1::INTEGER::theInfo);
  EXPECT_GT(big.compare(minus), 0);
  EXPECT_LT(minus.compare(big), 0);
  // Unsigned range: 2^31 and above are larger than 1.
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> u, one;
  u = 4000000000u;
  one = 1u;
  EXPECT_GT(u.compare(one), 0);
  ASN1::OBJECT_IDENTIFIER x, y;
  x.arcs() = {1, 0xFFFFFFFFu};
  y.arcs() = {1, 1};
  EXPECT_GT(x.compare(y), 0);
  ASN1::OCTET_STRING p, q;
  p = std::string("\x01\xff", 2);
  q = std::string("\x01\x02\x03", 3);
  EXPECT_GT(p.compare(q), 0);
  EXPECT_LT(q.compare(p), 0);
}

TEST(ValueModel, AssignmentCopiesDeeplyAndKeepsTheDescriptor) {
  Message a;
  a.includeOptionalField(Message::o_seq, Message::e_seq);
  a.set_seq(9);
  a.get_pdu().select_response().set_error(ErrorCause::busError);
  Message b;
  b = a;
  EXPECT_EQ(0, a.compare(b));
  a.get_pdu().get_response().set_error(ErrorCause::internal);
  EXPECT_NE(0, a.compare(b));
  EXPECT_EQ(&Message::theInfo, b.getInfo());
}

TEST(ValueModel, ListsResizeInsertAndErase) {
  Pattern p;
  p.resize(3);
  p[1] = 7u;
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 255u> five;
  five = 5u;
  p.insert(1, 2, five);
  ASSERT_EQ(5u, p.size());
  EXPECT_EQ(5u, p[1].getValue());
  EXPECT_EQ(7u, p[3].getValue());
  p.erase(p.begin());
  EXPECT_EQ(4u, p.size());
  Pattern other;
  other.resize(1);
  other[0] = 42u;
  p.insert(4, other.elements().data(), other.elements().data() + 1);
  EXPECT_EQ(42u, p[4].getValue());
  p.erase(4, 5);
  p.erase(1, 3);
  ASSERT_EQ(2u, p.size());
  EXPECT_EQ(5u, p[0].getValue());
  unsigned n = 0;
  for (Pattern::const_iterator it = p.begin(); it != p.end(); ++it) ++n;
  EXPECT_EQ(2u, n);
  p.resize(0);
  EXPECT_TRUE(p.empty());
}

TEST(ValueModel, CountBits) {
  EXPECT_EQ(32u, ASN1::CountBits(0));
  EXPECT_EQ(0u, ASN1::CountBits(1));
  EXPECT_EQ(1u, ASN1::CountBits(2));
  EXPECT_EQ(2u, ASN1::CountBits(3));
  EXPECT_EQ(8u, ASN1::CountBits(256));
  EXPECT_EQ(9u, ASN1::CountBits(257));
  EXPECT_EQ(32u, ASN1::CountBits(0x80000001u));
}

TEST(ValueModel, ObjectIdentifierContentOctets) {
  ASN1::OBJECT_IDENTIFIER oid;
  std::vector<char> out;
  oid.arcs() = {1, 2, 3};
  ASSERT_TRUE(oid.encodeCommon(out));
  EXPECT_EQ(std::vector<char>({0x2A, 0x03}), out);
  oid.arcs() = {2, 100, 3};
  ASSERT_TRUE(oid.encodeCommon(out));
  EXPECT_EQ(std::vector<char>({char(0x81), 0x34, 0x03}), out);
  oid.arcs() = {1, 2, 128};
  ASSERT_TRUE(oid.encodeCommon(out));
  EXPECT_EQ(std::vector<char>({0x2A, char(0x81), 0x00}), out);
  oid.arcs() = {1};
  ASSERT_TRUE(oid.encodeCommon(out));
  EXPECT_TRUE(out.empty());

  const char partial[] = {char(0x81)};
  EXPECT_FALSE(oid.decodeCommon(partial, 1));
  const char good[] = {char(0x81), 0x34, 0x03};
  ASSERT_TRUE(oid.decodeCommon(good, 3));
  EXPECT_EQ(std::vector<uint32_t>({2, 100, 3}), oid.arcs());
  // A subidentifier beyond 32 bits is refused rather than wrapped.
  const char huge[] = {0x2A, char(0x90), char(0x80), char(0x80), char(0x80), 0x00};
  EXPECT_FALSE(oid.decodeCommon(huge, sizeof huge));
  const char max32[] = {0x2A, char(0x8F), char(0xFF), char(0xFF), char(0xFF), 0x7F};
  ASSERT_TRUE(oid.decodeCommon(max32, sizeof max32));
  EXPECT_EQ(0xFFFFFFFFu, oid.arcs()[2]);
}

TEST(ValueModel, GeneralizedTimeText) {
  ASN1::GeneralizedTime t;
  EXPECT_EQ("00010101000000", t.get());
  ASN1::GeneralizedTime u("20230102030405.5+0130");
  EXPECT_EQ(500, u.getMillisec());
  EXPECT_EQ(90, u.getMinDiff());
  EXPECT_EQ("20230102030405.500+0130", u.get());
  ASN1::GeneralizedTime w(2023, 1, 2, 3, 4, 5, 0, -30, false);
  EXPECT_EQ("20230102030405-0030", w.get());
  // The same clock time at another offset is another time.
  ASN1::GeneralizedTime east(2023, 1, 2, 3, 4, 5, 0, 60, false);
  EXPECT_LT(w.compare(east), 0);
  EXPECT_GT(east.compare(w), 0);
  ASN1::GeneralizedTime z("19991231235959Z");
  EXPECT_TRUE(z.getUTC());
  EXPECT_EQ(946684799, long(z.get_time_t()));
  ASN1::GeneralizedTime back;
  back.set_time_t(946684799);
  EXPECT_EQ("19991231235959", back.get());
  // Short or malformed text is refused and changes nothing.
  ASN1::GeneralizedTime s;
  EXPECT_FALSE(s.set("2023"));
  EXPECT_FALSE(s.set("2023010203040x"));
  EXPECT_EQ("00010101000000", s.get());
}

TEST(ValueModel, EnumerationNamesFollowValuesNotPositions) {
  AsnTestBase::Dscp d;
  d.setValue(AsnTestBase::Dscp::cs1);
  EXPECT_STREQ("cs1", d.getName());
  d.setValue(9);  // a gap
  EXPECT_EQ(nullptr, d.getName());
  d.setValue(1000);  // far past the table
  EXPECT_EQ(nullptr, d.getName());
  d.setValue(-5);
  EXPECT_EQ(nullptr, d.getName());
  ASSERT_TRUE(d.setFromName("cs7"));
  EXPECT_EQ(56, d.ASN1::ENUMERATED::getValue());
  EXPECT_FALSE(d.setFromName("cs9"));
  EXPECT_EQ(56, d.ASN1::ENUMERATED::getValue());
  MsgId id(MsgId::ali_server_p1);
  EXPECT_STREQ("ali-server-p1", id.getName());
}
