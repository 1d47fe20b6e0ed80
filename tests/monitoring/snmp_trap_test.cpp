// The trap builder octet for octet, its build states, its value forms and
// limits, the uptime and the OID text reader.
#include "monitoring/snmp_trap.h"

#include <gtest/gtest.h>
#include <time.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "tests/monitoring/ber_walk.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::uint32_t name_oid[] = {1, 3, 6, 1, 4, 1, 99999, 1, 0};
const std::size_t name_count = sizeof name_oid / sizeof name_oid[0];
// The name's OBJECT IDENTIFIER element.
const Bytes name_tlv = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x86, 0x8D, 0x1F, 0x01, 0x00};

Bytes message(const snmp_trap& t) { return Bytes(t.buffer, t.buffer + t.length); }

class Trap : public ::testing::Test {
 protected:
  Trap() {
    snmp_session_seed(&t, 0);
    trap_init(&t, nullptr);
  }

  // A fresh message with one binding of the given value; the value element
  // as the message holds it, or {} when the binding or the end failed.
  Bytes value_of(int type, const void* value, std::size_t length) {
    trap_init(&t, nullptr);
    if (trap_pack_begin(&t) != 0 || trap_pack_add(&t, name_oid, name_count, type, value, length) != 0 ||
        trap_pack_end(&t) != 0)
      return {};
    std::vector<std::pair<bertest::Tlv, bertest::Tlv>> bindings;
    if (!bertest::walk(t.buffer, t.length, &bindings) || bindings.size() != 1) return {0xEE};
    const bertest::Tlv& v = bindings[0].second;
    return Bytes(v.start, v.content + v.length);
  }

  Bytes u32(int type, std::uint32_t v) { return value_of(type, &v, sizeof v); }
  Bytes s32(std::int32_t v) { return value_of(snmp_type_integer, &v, sizeof v); }

  snmp_trap t;
};

TEST_F(Trap, OneIntegerBindingIsTheWholeMessageOctetForOctet) {
  ASSERT_EQ(trap_pack_begin(&t), 0);
  const std::int32_t five = 5;
  ASSERT_EQ(trap_pack_add(&t, name_oid, name_count, snmp_type_integer, &five, sizeof five), 0);
  ASSERT_EQ(trap_pack_end(&t), 0);
  Bytes expected = {0x30, 0x82, 0x00, 0x31,                          // message
                    0x02, 0x01, 0x01,                                // version 1 (v2c)
                    0x04, 0x06, 't',  'a',  'r',  'n',  'e',  'l',   // the default community
                    0xA7, 0x82, 0x00, 0x22,                          // SNMPv2-Trap PDU
                    0x02, 0x03, 0x0F, 0x22, 0x81,                    // request id 991873
                    0x02, 0x01, 0x00, 0x02, 0x01, 0x00,              // error status, index
                    0x30, 0x82, 0x00, 0x13,                          // binding list
                    0x30, 0x82, 0x00, 0x0F};                         // the binding
  expected.insert(expected.end(), name_tlv.begin(), name_tlv.end());
  expected.insert(expected.end(), {0x02, 0x01, 0x05});
  EXPECT_EQ(message(t), expected);
  EXPECT_EQ(t.length, expected.size());
  EXPECT_EQ(t.state, snmp_trap::ended);
}

TEST_F(Trap, RequestIdsStepFromTheSeedOddAndBelowTwoToThe31) {
  EXPECT_EQ(t.request_id, 991873u);
  trap_init(&t, nullptr);
  EXPECT_EQ(t.request_id, 1288378715u);
  trap_init(&t, nullptr);
  EXPECT_EQ(t.request_id, 595532581u);
  // The step is 32-bit arithmetic, whatever the width of long.
  snmp_session_seed(&t, 0xFFFFFFFFu);
  trap_init(&t, "x");
  EXPECT_EQ(t.request_id, 141865u);
  EXPECT_EQ(snmp_session_seed(nullptr, 1), -1);
  EXPECT_EQ(trap_init(nullptr, nullptr), -1);
}

TEST_F(Trap, CommunityKeepsThirtyOneCharactersAndMayBeEmpty) {
  const std::string long_name(40, 'c');
  trap_init(&t, long_name.c_str());
  EXPECT_EQ(std::string(t.community), std::string(31, 'c'));
  ASSERT_EQ(trap_pack_begin(&t), 0);
  ASSERT_EQ(trap_pack_end(&t), 0);
  EXPECT_TRUE(bertest::walk(t.buffer, t.length));
  EXPECT_EQ(Bytes(t.buffer + 7, t.buffer + 9), (Bytes{0x04, 31}));

  trap_init(&t, "");
  ASSERT_EQ(trap_pack_begin(&t), 0);
  ASSERT_EQ(trap_pack_end(&t), 0);
  EXPECT_EQ(Bytes(t.buffer + 7, t.buffer + 9), (Bytes{0x04, 0x00}));
  EXPECT_TRUE(bertest::walk(t.buffer, t.length));
}

TEST_F(Trap, EachStepOnlyInItsBuildStates) {
  const std::int32_t v = 1;
  EXPECT_EQ(trap_pack_add(&t, name_oid, name_count, snmp_type_integer, &v, 4), -1);
  EXPECT_EQ(trap_pack_end(&t), -1);
  ASSERT_EQ(trap_pack_begin(&t), 0);
  EXPECT_EQ(trap_pack_begin(&t), -1);
  // A message without bindings ends.
  ASSERT_EQ(trap_pack_end(&t), 0);
  EXPECT_TRUE(bertest::walk(t.buffer, t.length));
  EXPECT_EQ(trap_pack_add(&t, name_oid, name_count, snmp_type_integer, &v, 4), -1);
  EXPECT_EQ(trap_pack_end(&t), -1);
  EXPECT_EQ(trap_pack_begin(&t), -1);
  trap_init(&t, nullptr);
  EXPECT_EQ(trap_pack_begin(&t), 0);
  EXPECT_EQ(trap_pack_begin(nullptr), -1);
  EXPECT_EQ(trap_pack_add(nullptr, name_oid, name_count, snmp_type_null, nullptr, 0), -1);
  EXPECT_EQ(trap_pack_end(nullptr), -1);
}

TEST_F(Trap, AFailedBindingSpoilsTheMessageUntilTheNextInit) {
  ASSERT_EQ(trap_pack_begin(&t), 0);
  ASSERT_EQ(trap_pack_add(&t, name_oid, name_count, snmp_type_null, nullptr, 0), 0);
  const std::int32_t v = 7;
  EXPECT_EQ(trap_pack_add(&t, name_oid, name_count, 70, &v, 4), -1);
  EXPECT_EQ(trap_pack_add(&t, name_oid, name_count, snmp_type_null, nullptr, 0), -1);
  EXPECT_EQ(trap_pack_end(&t), -1);
  trap_init(&t, nullptr);
  ASSERT_EQ(trap_pack_begin(&t), 0);
  EXPECT_EQ(trap_pack_add(&t, name_oid, name_count, snmp_type_null, nullptr, 0), 0);
  EXPECT_EQ(trap_pack_end(&t), 0);
}

TEST_F(Trap, UnsignedNumbersTakeTheShortestNonNegativeForm) {
  for (int type : {snmp_type_counter32, snmp_type_gauge32, snmp_type_timeticks, snmp_type_uinteger32}) {
    const std::uint8_t tag = static_cast<std::uint8_t>(type);
    SCOPED_TRACE(type);
    EXPECT_EQ(u32(type, 2147483648u), (Bytes{tag, 5, 0x00, 0x80, 0x00, 0x00, 0x00}));
    EXPECT_EQ(u32(type, 16744448u), (Bytes{tag, 4, 0x00, 0xFF, 0x80, 0x00}));
    EXPECT_EQ(u32(type, 5), (Bytes{tag, 1, 0x05}));
    EXPECT_EQ(u32(type, 0x7F00), (Bytes{tag, 2, 0x7F, 0x00}));
    EXPECT_EQ(u32(type, 0xFFFFFFFFu), (Bytes{tag, 5, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
    // Zero keeps one content byte: an INTEGER has at least one.
    EXPECT_EQ(u32(type, 0), (Bytes{tag, 1, 0x00}));
    // Anything but four bytes is refused, not read past.
    const std::uint16_t two = 5;
    EXPECT_EQ(value_of(type, &two, sizeof two), Bytes{});
    EXPECT_EQ(value_of(type, nullptr, 4), Bytes{});
  }
}

TEST_F(Trap, IntegersTakeTheShortestTwosComplementForm) {
  EXPECT_EQ(s32(0), (Bytes{0x02, 1, 0x00}));
  EXPECT_EQ(s32(-1), (Bytes{0x02, 1, 0xFF}));
  EXPECT_EQ(s32(127), (Bytes{0x02, 1, 0x7F}));
  EXPECT_EQ(s32(128), (Bytes{0x02, 2, 0x00, 0x80}));
  EXPECT_EQ(s32(-128), (Bytes{0x02, 1, 0x80}));
  EXPECT_EQ(s32(-129), (Bytes{0x02, 2, 0xFF, 0x7F}));
  EXPECT_EQ(s32(INT32_MAX), (Bytes{0x02, 4, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(s32(INT32_MIN), (Bytes{0x02, 4, 0x80, 0x00, 0x00, 0x00}));
  const std::int64_t wide = 5;
  EXPECT_EQ(value_of(snmp_type_integer, &wide, sizeof wide), Bytes{});
}

TEST_F(Trap, OctetValuesTakeTheShortestLengthForm) {
  const std::string text(256, 'x');
  auto head = [&](int type, std::size_t n) {
    const Bytes v = value_of(type, text.data(), n);
    return v.size() < n ? Bytes{} : Bytes(v.begin(), v.end() - static_cast<long>(n));
  };
  EXPECT_EQ(head(snmp_type_octet_string, 127), (Bytes{0x04, 0x7F}));
  EXPECT_EQ(head(snmp_type_octet_string, 128), (Bytes{0x04, 0x81, 0x80}));
  EXPECT_EQ(head(snmp_type_opaque, 255), (Bytes{0x44, 0x81, 0xFF}));
  EXPECT_EQ(head(snmp_type_nsap_address, 256), (Bytes{0x45, 0x82, 0x01, 0x00}));
  const std::uint8_t ip[] = {10, 0, 0, 7};
  EXPECT_EQ(value_of(snmp_type_ip_address, ip, 4), (Bytes{0x40, 4, 10, 0, 0, 7}));
  EXPECT_EQ(value_of(snmp_type_octet_string, nullptr, 9), (Bytes{0x04, 0x00}));
  EXPECT_EQ(value_of(snmp_type_octet_string, "", 0), (Bytes{0x04, 0x00}));
  EXPECT_EQ(value_of(snmp_type_null, "ignored", 7), (Bytes{0x05, 0x00}));
  const std::uint8_t bits[] = {0x00, 0xA5};
  EXPECT_EQ(value_of(snmp_type_bit_string, bits, 2), (Bytes{0x03, 2, 0x00, 0xA5}));
  EXPECT_EQ(value_of(snmp_type_bit_string, bits, 0), Bytes{});
  EXPECT_EQ(value_of(snmp_type_bit_string, nullptr, 2), Bytes{});
}

TEST_F(Trap, ObjectIdentifiersFollowTheFirstTwoComponentRules) {
  auto oid = [&](std::vector<std::uint32_t> c) {
    return value_of(snmp_type_object_id, c.empty() ? nullptr : c.data(), c.size() * 4);
  };
  EXPECT_EQ(oid({1, 3, 6, 1}), (Bytes{0x06, 3, 0x2B, 0x06, 0x01}));
  EXPECT_EQ(oid({2, 999, 3}), (Bytes{0x06, 3, 0x88, 0x37, 0x03}));
  EXPECT_EQ(oid({0, 39}), (Bytes{0x06, 1, 0x27}));
  EXPECT_EQ(oid({2, 40}), (Bytes{0x06, 1, 0x78}));
  EXPECT_EQ(oid({1}), (Bytes{0x06, 1, 0x28}));
  EXPECT_EQ(oid({}), (Bytes{0x06, 1, 0x00}));
  EXPECT_EQ(oid({1, 3, 0xFFFFFFFFu}), (Bytes{0x06, 6, 0x2B, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}));
  // The first two combined exceed 32 bits.
  EXPECT_EQ(oid({2, 0xFFFFFFFFu}), (Bytes{0x06, 5, 0x90, 0x80, 0x80, 0x80, 0x4F}));
  EXPECT_EQ(oid({3, 1}), Bytes{});
  EXPECT_EQ(oid({1, 40}), Bytes{});
  EXPECT_EQ(oid({0, 40}), Bytes{});
  std::vector<std::uint32_t> most(128, 1);
  const Bytes longest = oid(most);
  ASSERT_EQ(longest.size(), 2u + 127u);
  EXPECT_EQ(Bytes(longest.begin(), longest.begin() + 4), (Bytes{0x06, 0x7F, 0x29, 0x01}));
  most.push_back(1);
  EXPECT_EQ(oid(most), Bytes{});

  // The binding's name follows the same rules.
  const std::uint32_t bad_name[] = {4, 1};
  trap_init(&t, nullptr);
  ASSERT_EQ(trap_pack_begin(&t), 0);
  EXPECT_EQ(trap_pack_add(&t, bad_name, 2, snmp_type_null, nullptr, 0), -1);
  trap_init(&t, nullptr);
  ASSERT_EQ(trap_pack_begin(&t), 0);
  EXPECT_EQ(trap_pack_add(&t, nullptr, 3, snmp_type_null, nullptr, 0), -1);
}

TEST_F(Trap, FillsTheBufferToItsLastByteAndRefusesOneMore) {
  ASSERT_EQ(trap_pack_begin(&t), 0);
  const std::string chunk(100, 'v');
  const std::size_t chunk_binding = 4 + name_tlv.size() + 2 + chunk.size();
  // The last binding below: its value takes 128 bytes at least, so its
  // length takes the 0x81 form.
  const std::size_t last_binding_least = 4 + name_tlv.size() + 3 + 128;
  int added = 0;
  while (t.room >= chunk_binding + last_binding_least) {
    ASSERT_EQ(trap_pack_add(&t, name_oid, name_count, snmp_type_octet_string, chunk.data(), chunk.size()), 0);
    ++added;
  }
  // One binding that takes exactly what is left.
  const std::size_t last = t.room - 4 - name_tlv.size() - 3;
  ASSERT_GT(last, 127u);
  ASSERT_LE(last, 255u);
  ASSERT_EQ(trap_pack_add(&t, name_oid, name_count, snmp_type_octet_string, chunk.data(), last), 0);
  EXPECT_EQ(t.room, 0u);
  snmp_trap full = t;
  ASSERT_EQ(trap_pack_end(&full), 0);
  EXPECT_EQ(full.length, snmp_trap::buffer_size);
  std::vector<std::pair<bertest::Tlv, bertest::Tlv>> bindings;
  ASSERT_TRUE(bertest::walk(full.buffer, full.length, &bindings));
  EXPECT_EQ(bindings.size(), static_cast<std::size_t>(added + 1));
  EXPECT_EQ(bindings.back().second.length, last);

  EXPECT_EQ(trap_pack_add(&t, name_oid, name_count, snmp_type_null, nullptr, 0), -1);
  EXPECT_EQ(trap_pack_end(&t), -1);
}

TEST(TrapUptime, IsTheBootTimeClockInHundredths) {
  auto boot = [] {
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 100 + static_cast<std::uint64_t>(ts.tv_nsec) / 10000000;
  };
  for (int i = 0; i < 1000; ++i) {
    const std::uint32_t before = static_cast<std::uint32_t>(boot());
    const std::uint32_t up = get_uptime();
    const std::uint32_t after = static_cast<std::uint32_t>(boot());
    ASSERT_LE(up - before, after - before) << "uptime " << up << " outside [" << before << ", " << after << "]";
  }
}

TEST(ParseOid, ReadsWholeDottedTextsOnly) {
  std::uint32_t oid[16];
  ASSERT_EQ(parse_oid(oid, 16, "1.3.6.1.2.1.1.3.0"), 9);
  EXPECT_EQ(std::vector<std::uint32_t>(oid, oid + 9), (std::vector<std::uint32_t>{1, 3, 6, 1, 2, 1, 1, 3, 0}));
  ASSERT_EQ(parse_oid(oid, 16, ".1.3.6.1.6.3.1.1.4.1.0"), 11);
  EXPECT_EQ(oid[10], 0u);
  ASSERT_EQ(parse_oid(oid, 16, "7"), 1);
  EXPECT_EQ(oid[0], 7u);
  ASSERT_EQ(parse_oid(oid, 2, "1.4294967295"), 2);
  EXPECT_EQ(oid[1], 4294967295u);

  for (const char* bad : {"", ".", "1..3", "1.3.", "..1", "1.x.3", "1.3a", "-1.3", "1 .3", "1.4294967296",
                          "1.99999999999999999999", "+1"})
    EXPECT_EQ(parse_oid(oid, 16, bad), 0) << '"' << bad << '"';
  EXPECT_EQ(parse_oid(oid, 2, "1.3.6"), 0);
  EXPECT_EQ(parse_oid(nullptr, 16, "1.3"), 0);
  EXPECT_EQ(parse_oid(oid, 16, nullptr), 0);
  EXPECT_EQ(parse_oid(oid, 0, "1.3"), 0);
  EXPECT_EQ(parse_oid(oid, -1, "1.3"), 0);

  // 127 characters are read; a longer text is not cut to a different OID.
  std::string text = "1.3";
  while (text.size() < 127) text += ".1";
  ASSERT_EQ(text.size(), 127u);
  std::uint32_t many[128];
  EXPECT_EQ(parse_oid(many, 128, text.c_str()), 64);
  EXPECT_EQ(parse_oid(many, 128, (text + "2").c_str()), 0);
}

}  // namespace
