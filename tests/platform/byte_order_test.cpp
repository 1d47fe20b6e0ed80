// Driver records are native structs that neither the daemon nor the drivers
// byte-swap, so their octets are in the build's own order. These tests pin
// that order: big-endian on the board (its toolchain says so, and the
// compiler must agree), the compiler's own on the host.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(KORVEND_TARGET_BIG_ENDIAN) && __BYTE_ORDER__ != __ORDER_BIG_ENDIAN__
#error "the board's toolchain must build big-endian code"
#endif
#if defined(KORVEND_TARGET_ILP32) && (__SIZEOF_LONG__ != 4 || __SIZEOF_POINTER__ != 4)
#error "the board's toolchain must build 32-bit code"
#endif

namespace {

// Shaped like a driver record: a word, a half-word, then octets.
struct Record {
  std::uint32_t word;
  std::uint16_t half;
  std::uint8_t octet[2];
};
static_assert(sizeof(Record) == 8, "no padding in a driver record");
static_assert(offsetof(Record, half) == 4 && offsetof(Record, octet) == 6, "record offsets");

// On the board build the toolchain's word, checked against the compiler
// above, so the octets below prove the board's order in memory.
bool built_big_endian() {
#if defined(KORVEND_TARGET_BIG_ENDIAN)
  return true;
#else
  return __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
#endif
}

TEST(ByteOrder, RecordOctetsFollowTheBuildsOrder) {
  Record rec{};
  rec.word = 0x01020304;
  rec.half = 0x0506;
  rec.octet[0] = 0x07;
  rec.octet[1] = 0x08;
  unsigned char raw[sizeof rec];
  std::memcpy(raw, &rec, sizeof rec);

  const unsigned char big[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  const unsigned char little[] = {0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x07, 0x08};
  const unsigned char* want = built_big_endian() ? big : little;
  for (std::size_t i = 0; i < sizeof raw; ++i) EXPECT_EQ(raw[i], want[i]) << "octet " << i;
}

}  // namespace
