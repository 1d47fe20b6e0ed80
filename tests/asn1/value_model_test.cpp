// Value model: construction from descriptors, optional fields, CHOICE
// selection, copies, comparison and the helpers the coders share.
#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "asn1/asn1.h"
#include "tests/asn1/AsnTest.h"

using namespace AsnTest;

TEST(ValueModel, OptionalFieldsExistOnlyWhenIncludedAndKeepTheirValue) {
  Message m;
  EXPECT_EQ(nullptr, m.getField(Message::e_slot));
  ASSERT_NE(nullptr, m.getField(Message::e_pdu));
  EXPECT_EQ(-1, m.get_pdu().getSelection());
  m.includeOptionalField(Message::o_slot, Message::e_slot);
  EXPECT_TRUE(m.hasOptionalField(Message::o_slot));
  EXPECT_FALSE(m.hasOptionalField(Message::o_seq));
  m.removeOptionalField(Message::o_slot);
  EXPECT_FALSE(m.hasOptionalField(Message::o_slot));
  m.set_slot(77);
  m.includeOptionalField(Message::o_slot, Message::e_slot);
  EXPECT_EQ(77u, m.get_slot().getValue());
}

TEST(ValueModel, ExtensionAdditionGrowsTheBitmapToItsBitAndNoFurther) {
  // request-mode is the third addition; the wire form of the map is in the
  // coder vectors.
  TermParams t;
  t.includeOptionalField(TermParams::o_request_mode, TermParams::e_request_mode);
  EXPECT_EQ(3u, t.extensionMap().size());
  // An id or index the type does not have changes nothing.
  t.includeOptionalField(40, 3);
  t.includeOptionalField(3, 400);
  EXPECT_EQ(3u, t.extensionMap().size());
  EXPECT_FALSE(t.hasOptionalField(3));
}

TEST(ValueModel, BitmapKeepsToItsCountAndGrowsPastItsInlineStorage) {
  ASN1::SEQUENCE::BitMap map;
  map.resize(10);
  map.set(9);
  map.set(10);  // beyond the count: ignored
  EXPECT_EQ(0x40, map.data()[1]);
  map.resize(9);
  map.resize(10);
  EXPECT_FALSE(map[9]);
  map.resize(300);
  map.set(299);
  ASN1::SEQUENCE::BitMap copy(map);
  EXPECT_TRUE(copy[299]);
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

TEST(ValueModel, CompareIsThreeWay) {
  // Each pair is given smaller first.
  ASN1::INTEGER big(INT_MAX, &ASN1::INTEGER::theInfo), minus(-1, &ASN1::INTEGER::theInfo);
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> u, one;
  u = 4000000000u;  // 2^31 and above are larger than 1
  one = 1u;
  ASN1::OBJECT_IDENTIFIER x, y;
  x.arcs() = {1, 0xFFFFFFFFu};
  y.arcs() = {1, 1};
  ASN1::OCTET_STRING p, q;
  p = std::string("\x01\xff", 2);
  q = std::string("\x01\x02\x03", 3);
  PDU none, four, five;  // by selection, then by value
  four.select_command().set_connect(4);
  five.select_command().set_connect(5);
  TermParams without, with;  // an extension addition present only on one side
  with.includeOptionalField(TermParams::o_x4, TermParams::e_x4);
  // The same clock time at another offset is another time.
  ASN1::GeneralizedTime west(2023, 1, 2, 3, 4, 5, 0, -30, false), east(2023, 1, 2, 3, 4, 5, 0, 60, false);
  const std::pair<const ASN1::AbstractData*, const ASN1::AbstractData*> pairs[] = {
      {&minus, &big}, {&one, &u}, {&y, &x}, {&q, &p}, {&none, &four}, {&four, &five}, {&without, &with}, {&west, &east}};
  for (const auto& c : pairs) {
    EXPECT_LT(c.first->compare(*c.second), 0) << c.first->asValueNotation();
    EXPECT_GT(c.second->compare(*c.first), 0) << c.first->asValueNotation();
    EXPECT_EQ(0, c.first->compare(*c.first));
  }
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
  p.insert(1, 2, five);  // 0 5 5 7 0
  p.erase(p.begin());    // 5 5 7 0
  p.erase(1, 3);         // 5 0
  ASSERT_EQ(2u, p.size());
  EXPECT_EQ(5u, p[0].getValue());
  EXPECT_EQ(0u, p[1].getValue());
}

TEST(ValueModel, ObjectIdentifierContentOctets) {
  ASN1::OBJECT_IDENTIFIER oid;
  std::vector<char> out;
  oid.arcs() = {1, 2, 128};
  ASSERT_TRUE(oid.encodeCommon(out));
  EXPECT_EQ(std::vector<char>({0x2A, char(0x81), 0x00}), out);
  oid.arcs() = {1};
  ASSERT_TRUE(oid.encodeCommon(out));
  EXPECT_TRUE(out.empty());

  const char partial[] = {char(0x81)};
  EXPECT_FALSE(oid.decodeCommon(partial, 1));
  // A subidentifier beyond 32 bits is refused rather than wrapped.
  const char huge[] = {0x2A, char(0x90), char(0x80), char(0x80), char(0x80), 0x00};
  EXPECT_FALSE(oid.decodeCommon(huge, sizeof huge));
  const char max32[] = {0x2A, char(0x8F), char(0xFF), char(0xFF), char(0xFF), 0x7F};
  ASSERT_TRUE(oid.decodeCommon(max32, sizeof max32));
  EXPECT_EQ(std::vector<uint32_t>({1, 2, 0xFFFFFFFFu}), oid.arcs());
}

TEST(ValueModel, GeneralizedTimeText) {
  ASN1::GeneralizedTime u("20230102030405.5+0130");
  EXPECT_EQ(500, u.getMillisec());
  EXPECT_EQ(90, u.getMinDiff());
  EXPECT_EQ("20230102030405.500+0130", u.get());
  ASN1::GeneralizedTime z("19991231235959Z"), back;
  EXPECT_TRUE(z.getUTC());
  EXPECT_EQ(946684799, long(z.get_time_t()));
  back.set_time_t(946684799);
  EXPECT_EQ("19991231235959", back.get());
  // Short or malformed text is refused and changes nothing.
  EXPECT_FALSE(back.set("2023"));
  EXPECT_FALSE(back.set("1999123123595x"));
  EXPECT_EQ("19991231235959", back.get());
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
