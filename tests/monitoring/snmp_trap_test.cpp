// The trap builder octet for octet, its build states, value forms and
// limits; the uptime; the OID text reader.
#include "monitoring/snmp_trap.h"

#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::uint32_t name_oid[] = {1, 3, 6, 1, 4, 1, 99999, 1, 0};
const Bytes name_tlv = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x86, 0x8D, 0x1F, 0x01, 0x00};

class Trap : public ::testing::Test {
 protected:
  Trap() {
    snmp_session_seed(&t, 0);
    trap_init(&t, nullptr);
  }
  int add(int type, const void* value, std::size_t length) {
    return trap_pack_add(&t, name_oid, 9, type, value, length);
  }
  // The value element of a message with that one binding, or {} when the
  // builder refused it. The binding's own length must cover it exactly.
  Bytes value_of(int type, const void* value, std::size_t length) {
    trap_init(&t, nullptr);
    if (trap_pack_begin(&t) != 0 || add(type, value, length) != 0 || trap_pack_end(&t) != 0) return {};
    std::uint8_t* binding = t.buffer + t.bindings_start;
    if (std::size_t(binding[2] << 8 | binding[3]) != t.length - t.bindings_start - 4) return {0xEE};
    return Bytes(binding + 4 + name_tlv.size(), t.buffer + t.length);
  }
  Bytes u32(int type, std::uint32_t v) { return value_of(type, &v, 4); }
  Bytes s32(std::int32_t v) { return value_of(snmp_type_integer, &v, 4); }

  snmp_trap t;
};

TEST_F(Trap, OneIntegerBindingIsTheWholeMessageOctetForOctet) {
  const std::int32_t five = 5;
  ASSERT_EQ(trap_pack_begin(&t), 0);
  ASSERT_EQ(add(snmp_type_integer, &five, 4), 0);
  ASSERT_EQ(trap_pack_end(&t), 0);
  Bytes expected = {0x30, 0x82, 0x00, 0x31, 0x02, 0x01, 0x01,            // message, version 1 (v2c)
                    0x04, 0x06, 't',  'a',  'r',  'n',  'e',  'l',        // the default community
                    0xA7, 0x82, 0x00, 0x22, 0x02, 0x03, 0x0F, 0x22, 0x81, // PDU, request id 991873
                    0x02, 0x01, 0x00, 0x02, 0x01, 0x00,                   // error status and index
                    0x30, 0x82, 0x00, 0x13, 0x30, 0x82, 0x00, 0x0F};      // binding list, binding
  expected.insert(expected.end(), name_tlv.begin(), name_tlv.end());
  expected.insert(expected.end(), {0x02, 0x01, 0x05});
  EXPECT_EQ(Bytes(t.buffer, t.buffer + t.length), expected);
}

TEST_F(Trap, RequestIdsStepFromTheSeedAndTheCommunityKeeps31Characters) {
  EXPECT_EQ(t.request_id, 991873u);
  trap_init(&t, nullptr);
  EXPECT_EQ(t.request_id, 1288378715u);
  // 32-bit arithmetic, whatever the width of long; odd and below 2^31.
  snmp_session_seed(&t, 0xFFFFFFFFu);
  trap_init(&t, std::string(40, 'c').c_str());
  EXPECT_EQ(t.request_id, 141865u);
  EXPECT_EQ(std::string(t.community), std::string(31, 'c'));
  EXPECT_EQ(snmp_session_seed(nullptr, 1), -1);
  EXPECT_EQ(trap_init(nullptr, nullptr), -1);
}

TEST_F(Trap, EachStepOnlyInItsBuildStatesAndAFailedBindingSpoilsTheMessage) {
  EXPECT_EQ(add(snmp_type_null, nullptr, 0), -1);
  EXPECT_EQ(trap_pack_end(&t), -1);
  ASSERT_EQ(trap_pack_begin(&t), 0);
  EXPECT_EQ(trap_pack_begin(&t), -1);
  ASSERT_EQ(trap_pack_end(&t), 0);  // no bindings is a message too
  EXPECT_EQ(add(snmp_type_null, nullptr, 0), -1);
  EXPECT_EQ(trap_pack_end(&t), -1);

  trap_init(&t, nullptr);
  ASSERT_EQ(trap_pack_begin(&t), 0);
  ASSERT_EQ(add(snmp_type_null, nullptr, 0), 0);
  EXPECT_EQ(add(70, "v", 1), -1);
  EXPECT_EQ(add(snmp_type_null, nullptr, 0), -1);
  EXPECT_EQ(trap_pack_end(&t), -1);
  EXPECT_EQ(trap_pack_begin(nullptr), -1);
  EXPECT_EQ(trap_pack_end(nullptr), -1);
}

TEST_F(Trap, NumbersTakeTheirShortestForms) {
  for (int type : {snmp_type_counter32, snmp_type_gauge32, snmp_type_timeticks, snmp_type_uinteger32}) {
    const std::uint8_t tag = static_cast<std::uint8_t>(type);
    EXPECT_EQ(u32(type, 2147483648u), (Bytes{tag, 5, 0x00, 0x80, 0x00, 0x00, 0x00}));
    EXPECT_EQ(u32(type, 16744448u), (Bytes{tag, 4, 0x00, 0xFF, 0x80, 0x00}));
    EXPECT_EQ(u32(type, 5), (Bytes{tag, 1, 0x05}));
    EXPECT_EQ(u32(type, 0), (Bytes{tag, 1, 0x00}));  // an INTEGER has one content byte at least
    const std::uint16_t narrow = 5;
    EXPECT_EQ(value_of(type, &narrow, 2), Bytes{});  // refused, not read past
  }
  EXPECT_EQ(s32(127), (Bytes{0x02, 1, 0x7F}));
  EXPECT_EQ(s32(128), (Bytes{0x02, 2, 0x00, 0x80}));
  EXPECT_EQ(s32(-128), (Bytes{0x02, 1, 0x80}));
  EXPECT_EQ(s32(-129), (Bytes{0x02, 2, 0xFF, 0x7F}));
  EXPECT_EQ(s32(INT32_MIN), (Bytes{0x02, 4, 0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(value_of(snmp_type_integer, "12345678", 8), Bytes{});
}

TEST_F(Trap, OctetsTakeTheShortestLengthFormAndOidsFollowTheFirstTwoComponentRules) {
  const std::string text(256, 'x');
  auto head = [&](int type, std::size_t n) {  // tag and length of an n-byte value
    const Bytes v = value_of(type, text.data(), n);
    return v.size() < n ? Bytes{} : Bytes(v.begin(), v.end() - static_cast<long>(n));
  };
  EXPECT_EQ(head(snmp_type_octet_string, 127), (Bytes{0x04, 0x7F}));
  EXPECT_EQ(head(snmp_type_opaque, 128), (Bytes{0x44, 0x81, 0x80}));
  EXPECT_EQ(head(snmp_type_nsap_address, 256), (Bytes{0x45, 0x82, 0x01, 0x00}));
  EXPECT_EQ(value_of(snmp_type_octet_string, nullptr, 9), (Bytes{0x04, 0x00}));
  EXPECT_EQ(value_of(snmp_type_null, "ignored", 7), (Bytes{0x05, 0x00}));
  EXPECT_EQ(value_of(snmp_type_bit_string, "", 0), Bytes{});

  auto oid = [&](std::vector<std::uint32_t> c) { return value_of(snmp_type_object_id, c.data(), c.size() * 4); };
  EXPECT_EQ(oid({2, 999, 3}), (Bytes{0x06, 3, 0x88, 0x37, 0x03}));
  EXPECT_EQ(oid({1}), (Bytes{0x06, 1, 0x28}));
  EXPECT_EQ(oid({}), (Bytes{0x06, 1, 0x00}));
  EXPECT_EQ(oid({1, 3, 0xFFFFFFFFu}), (Bytes{0x06, 6, 0x2B, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(oid({2, 0xFFFFFFFFu}), (Bytes{0x06, 5, 0x90, 0x80, 0x80, 0x80, 0x4F}));  // beyond 32 bits
  EXPECT_EQ(oid({3, 1}), Bytes{});
  EXPECT_EQ(oid({1, 40}), Bytes{});
  EXPECT_EQ(oid(std::vector<std::uint32_t>(128, 1)).size(), 2u + 127u);
  EXPECT_EQ(oid(std::vector<std::uint32_t>(129, 1)), Bytes{});
}

TEST_F(Trap, FillsTheBufferToItsLastByteAndRefusesOneMore) {
  ASSERT_EQ(trap_pack_begin(&t), 0);
  const std::string chunk(255, 'v');
  // Bindings of 100 value bytes while one of 128 or more still fits behind.
  while (t.room >= (4 + 12 + 2 + 100) + (4 + 12 + 3 + 128))
    ASSERT_EQ(add(snmp_type_octet_string, chunk.data(), 100), 0);
  const std::size_t last = t.room - (4 + 12 + 3);
  ASSERT_EQ(add(snmp_type_octet_string, chunk.data(), last), 0);
  EXPECT_EQ(t.room, 0u);
  snmp_trap full = t;
  ASSERT_EQ(trap_pack_end(&full), 0);
  EXPECT_EQ(full.length, snmp_trap::buffer_size);
  EXPECT_EQ(full.buffer[2] << 8 | full.buffer[3], 2044);
  EXPECT_EQ(add(snmp_type_null, nullptr, 0), -1);
  EXPECT_EQ(trap_pack_end(&t), -1);
}

TEST(TrapUptime, IsTheBootTimeClockInHundredths) {
  auto boot = [] {
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<std::uint32_t>(std::uint64_t(ts.tv_sec) * 100 + std::uint64_t(ts.tv_nsec) / 10000000);
  };
  for (int i = 0; i < 1000; ++i) {
    const std::uint32_t before = boot(), up = get_uptime(), after = boot();
    ASSERT_LE(up - before, after - before) << up << " outside [" << before << ", " << after << "]";
  }
}

TEST(ParseOid, ReadsWholeDottedTextsOnly) {
  std::uint32_t oid[128];
  ASSERT_EQ(parse_oid(oid, 16, ".1.3.6.1.6.3.1.1.4.1.0"), 11);
  EXPECT_EQ(std::vector<std::uint32_t>(oid, oid + 11), (std::vector<std::uint32_t>{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}));
  ASSERT_EQ(parse_oid(oid, 2, "1.4294967295"), 2);
  EXPECT_EQ(oid[1], 4294967295u);
  for (const char* bad : {"", ".", "1..3", "1.3.", "1.x.3", "-1.3", "1 .3", "1.4294967296", "1.99999999999999999999"})
    EXPECT_EQ(parse_oid(oid, 16, bad), 0) << '"' << bad << '"';
  EXPECT_EQ(parse_oid(oid, 2, "1.3.6"), 0);
  EXPECT_EQ(parse_oid(nullptr, 16, "1.3"), 0);
  EXPECT_EQ(parse_oid(oid, 16, nullptr), 0);
  EXPECT_EQ(parse_oid(oid, 0, "1.3"), 0);
  // 127 characters are read; a longer text is not cut to a different OID.
  std::string text = "1.3";
  while (text.size() < 127) text += ".1";
  EXPECT_EQ(parse_oid(oid, 128, text.c_str()), 64);
  EXPECT_EQ(parse_oid(oid, 128, (text + "2").c_str()), 0);
}

}  // namespace
