#include "runtime/packet.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <sstream>
#include <vector>

namespace {

Packet make(std::initializer_list<unsigned char> bytes, unsigned head = 16) {
  Packet p;
  p.reserve_head(head);
  for (unsigned char b : bytes) p.put8(b);
  return p;
}

std::string dump_of(const Packet& p) {
  std::ostringstream os;
  EXPECT_TRUE(p.dump(os));
  return os.str();
}

TEST(PacketTest, ReserveSetsTheRoomsOfANewBufferAndMovesTheWindowOfAHeldOne) {
  Packet a, b, c, d;
  a.reserve_head(0);
  b.reserve_head(65536);
  c.reserve_tail(0);
  d.reserve_tail(100);
  EXPECT_EQ("head=0, data=0, tail=65536", dump_of(a));
  EXPECT_EQ("head=65536, data=0, tail=0", dump_of(b));
  EXPECT_EQ("head=65536, data=0, tail=0", dump_of(c));
  EXPECT_EQ("head=65436, data=0, tail=100", dump_of(d));
  Packet p;
  p.reserve_head(10);
  p.reserve_head(6);
  EXPECT_EQ("head=16, data=0, tail=65520", dump_of(p));
  p.reserve_tail(4);
  EXPECT_EQ("head=12, data=0, tail=65524", dump_of(p));
}

TEST(PacketTest, ValuesAreBuiltByteByByteAndShortPullsReadZeros) {
  Packet p = make({});
  p.put16_b(0x1234);
  p.put16(0x1234);
  EXPECT_EQ("12 34 34 12", p.text());
  Packet q = make({}, 2);
  q.push16_b(0x1234);
  EXPECT_EQ("12 34", q.text());
  EXPECT_EQ(0x1234, q.pull16_b());
  Packet r = make({0x34, 0x12});
  EXPECT_EQ(0x1234, r.pull16_l());
  EXPECT_EQ(0u, r.length());

  Packet empty = make({});
  EXPECT_EQ(0, empty.pull8());
  EXPECT_EQ(16u, empty.headroom());
  Packet one = make({0x12});
  EXPECT_EQ(0x1200, one.pull16_b());
  EXPECT_EQ(0u, one.length());
  EXPECT_EQ(0x0012, make({0x12}).pull16_l());
}

TEST(PacketTest, WindowOperationsStringsAndAppendedPackets) {
  Packet p = make({3, 4}, 2);
  unsigned char* h = p.push(2);
  h[0] = 1;
  h[1] = 2;
  std::memcpy(p.put(2), "\x05\x06", 2);
  EXPECT_EQ(0u, p.headroom());
  EXPECT_EQ(2, p.pull(2)[1]);
  p.cut(1);
  EXPECT_EQ("03 04 05", p.text());
  EXPECT_EQ(4, p[1]);

  Packet q = make({});
  q.put(std::string("ab"));
  q.put(std::string());
  EXPECT_EQ("02 61 62 00", q.text());
  EXPECT_EQ("ab", q.pull_string());
  EXPECT_EQ("", q.pull_string());
  EXPECT_EQ(std::string("x\0\0", 3), make({3, 'x'}).pull_string());

  // Appending copies the window, also of the packet itself.
  Packet r = make({1, 2});
  r.put(make({3}));
  r.put(Packet());
  Packet shared = r;
  r.put(r);
  EXPECT_EQ("01 02 03 01 02 03", r.text());
  EXPECT_EQ("01 02 03", shared.text());
}

TEST(PacketTest, DumpFormats) {
  std::ostringstream os;
  EXPECT_FALSE(Packet().dump(os));
  EXPECT_FALSE(Packet().dump_context(os));
  EXPECT_TRUE(make({}).dump_context(os));
  EXPECT_EQ("", os.str());
  EXPECT_TRUE(make({0x01, 0xAB, 0x00}, 3).dump_context(os));
  EXPECT_EQ("dump: 1 ab 0", os.str());
}

TEST(PacketTest, CopyOnWriteKeepsTheSharedBufferIntact) {
  Packet a = make({1, 2, 3});
  Packet b = a;
  EXPECT_EQ(2u, a.get()->references());
  b.put8(4);
  EXPECT_EQ("01 02 03", a.text());
  EXPECT_EQ("01 02 03 04", b.text());
  EXPECT_EQ(1u, a.get()->references());
  EXPECT_EQ(a.headroom(), b.headroom());  // the copy keeps the window's offsets

  // Pulling moves the window, so it copies too.
  Packet c = a;
  EXPECT_EQ(1, c.pull8());
  EXPECT_EQ("01 02 03", a.text());

  // Reading through a shared handle never copies.
  Packet d = a;
  const Packet& cd = d;
  EXPECT_EQ(3u, cd->_length());
  EXPECT_EQ(2, d[1]);
  EXPECT_EQ(a.get(), d.get());

  // Assigning the held buffer to its own handle keeps it.
  const unsigned free_before = packet_pool().available();
  b = b.get();
  b = b;
  EXPECT_EQ(free_before, packet_pool().available());
  EXPECT_EQ(1u, b.get()->references());
  b = Packet();
  EXPECT_EQ(free_before + 1, packet_pool().available());
}

TEST(PacketTest, SubCopiesARangeAtTheSameOffsets) {
  Packet p = make({1, 2, 3, 4, 5}, 8);
  Packet s = p.sub(2, 1);
  EXPECT_EQ("02 03", s.text());
  EXPECT_EQ(9u, s.headroom());
  EXPECT_EQ("", p.sub(0, 5).text());
  EXPECT_EQ("01 02 03 04 05", p.sub(5, 0).text());
}

// A header is pushed in front of a shared message: the message keeps its
// octets whether its buffer had the room or a copy had to be made.
TEST(PacketTest, WithHeadroomSharesABufferThatHasTheRoomAndCopiesOneThatHasNot) {
  const Packet roomy = make({1, 2, 3}, 4);
  Packet same = roomy.with_headroom(4);
  EXPECT_EQ(same.get(), roomy.get());
  const Packet tight = make({1, 2, 3}, 2);
  Packet copy = tight.with_headroom(4);
  EXPECT_NE(copy.get(), tight.get());
  EXPECT_GE(copy.headroom(), 4u);
  copy.push8(9);
  same.push8(9);
  const auto octets = [](const Packet& p) { return std::vector<unsigned char>(p.data(), p.data() + p.length()); };
  const std::vector<unsigned char> message{1, 2, 3}, framed{9, 1, 2, 3};
  EXPECT_EQ(octets(copy), framed);
  EXPECT_EQ(octets(same), framed);
  EXPECT_EQ(octets(roomy), message);
  EXPECT_EQ(octets(tight), message);
}

TEST(PacketPoolTest, ExhaustionThrowsOrFailsAndTheFirstFreedBufferComesBack) {
  ASSERT_EQ(1024u, packet_pool().available());
  std::vector<Packet> held(1024);
  for (Packet& p : held) p.reserve_head(0);
  EXPECT_EQ(0u, packet_pool().available());

  Packet extra;
  EXPECT_THROW(extra.reserve_head(0), std::bad_alloc);
  EXPECT_THROW(extra.reserve_tail(0), std::bad_alloc);
  EXPECT_TRUE(extra.is_null());
  EXPECT_FALSE(extra.try_reserve_head(4));
  EXPECT_TRUE(extra.is_null());

  // Copy on write needs a buffer too; both sharers stay as they were.
  held[0].put8(0x55);
  Packet sharer = held[0];
  EXPECT_THROW(sharer.put8(1), std::bad_alloc);
  EXPECT_FALSE(sharer.try_reserve_head(1));
  EXPECT_EQ(held[0].get(), sharer.get());
  EXPECT_EQ("55", sharer.text());
  EXPECT_EQ("55", held[0].text());
  sharer = Packet();

  _Packet* seventh = held[7].get();
  _Packet* third = held[3].get();
  held[7] = Packet();
  held[3] = Packet();
  EXPECT_EQ(2u, packet_pool().available());

  ASSERT_TRUE(extra.try_reserve_head(4));
  EXPECT_EQ(seventh, extra.get());
  EXPECT_EQ("head=4, data=0, tail=65532", dump_of(extra));
  Packet next;
  next.reserve_head(0);
  EXPECT_EQ(third, next.get());

  held.clear();
  extra = Packet();
  next = Packet();
  EXPECT_EQ(1024u, packet_pool().available());
}

// A renewed handle keeps a buffer nobody else holds, emptied to its start,
// and leaves a shared one to its other holders.
TEST(PacketPoolTest, RenewKeepsAnUnsharedBufferAndLeavesASharedOne) {
  Packet p = make({1, 2, 3}, 8);
  p.pull(1);
  _Packet* own = p.get();
  const std::uint32_t free = packet_pool().available();
  ASSERT_TRUE(p.try_renew());
  EXPECT_EQ(own, p.get());
  EXPECT_EQ("head=0, data=0, tail=65536", dump_of(p));
  EXPECT_EQ(free, packet_pool().available());

  p.put8(0x77);
  Packet keeper = p;
  ASSERT_TRUE(p.try_renew());
  EXPECT_NE(own, p.get());
  EXPECT_EQ("head=0, data=0, tail=65536", dump_of(p));
  EXPECT_EQ("77", keeper.text());
  EXPECT_EQ(1u, keeper.get()->references());

  Packet none;
  ASSERT_TRUE(none.try_renew());
  EXPECT_EQ("head=0, data=0, tail=65536", dump_of(none));
}

TEST(PacketPoolTest, RenewOfASharedBufferFailsWhenThePoolIsEmpty) {
  Packet p = make({9});
  Packet keeper = p;
  std::vector<Packet> held;
  while (packet_pool().available() > 0) held.push_back(make({}));
  EXPECT_FALSE(p.try_renew());
  EXPECT_TRUE(p.is_null());
  EXPECT_EQ("09", keeper.text());
  // Alone, a buffer needs nothing of the pool.
  ASSERT_TRUE(keeper.try_renew());
  EXPECT_EQ(0u, keeper.length());
}

// Fatal reports: the text, the failed condition and the snapshot. The
// wrapping sub range and the overlong string were once accepted.
TEST(PacketDeathTest, ViolationsAreFatalWithTheirCondition) {
  const struct {
    std::function<void()> act;
    const char* report;
  } cases[] = {
      {[] { Packet().reserve_head(65537); }, "PACKET ASSERTION FAILED!\nlength>packet_max_size\n\\(null\\)\n"},
      {[] { Packet().reserve_tail(65537); }, "PACKET ASSERTION FAILED!\nlen>packet_max_size\n"},
      {[] { make({}, 65000).reserve_head(1000); }, "\nnew_len>packet_max_size\n"},
      {[] { make({1, 2}, 0).reserve_tail(1); }, "\nlen<=_headroom\\(\\)\n"},
      {[] { make({1, 2}, 65534).reserve_head(1); }, "\nlen<=_tailroom\\(\\)\n"},
      {[] { make({1, 2}, 0).reserve_tail(3); }, "\n_tailroom\\(\\)\\+len <= packet_max_size\n"},
      {[] {
         Packet p;
         p.reserve_tail(2);
         p.put8(0x01);
         p.put8(0xAB);
         p.put8(0x02);
       },
       "PACKET ASSERTION FAILED!\nlen<=_tailroom\\(\\)\nhead=65534, data=2, tail=0\ndump:\n 1 ab\n\n"},
      {[] { make({7}, 0).push8(1); }, "PACKET ASSERTION FAILED!\nlen<=_headroom\\(\\)\nhead=0, data=1, tail=65535\n"},
      {[] { make({1, 2}).pull(3); }, "PACKET ASSERTION FAILED!\nlen<=_length\\(\\)\n"},
      {[] { make({1, 2}).cut(3); }, "PACKET ASSERTION FAILED!\nlen<=_length\\(\\)\n"},
      {[] { make({1, 2})[2]; }, "PACKET ASSERTION FAILED!\nindex out of range\n"},
      {[] { Packet().put8(1); }, "PACKET ASSERTION FAILED!\nnull packet\n\\(null\\)\n"},
      {[] { Packet().pull8(); }, "PACKET ASSERTION FAILED!\nnull packet\n"},
      {[] { Packet()->_length(); }, "SMART POINTER ASSERTION!\n"},
      {[] { make({1, 2, 3, 4}).sub(1, 5); }, "PACKET ASSERTION FAILED!\nstart<=_length\\(\\)\n"},
      // start + len wraps to 1 in 32 bits; the check must still refuse it.
      {[] { make({1, 2, 3, 4}).sub(0xFFFFFFFFu, 2); }, "PACKET ASSERTION FAILED!\nstart\\+len<=_length\\(\\)\n"},
      // The length octet would wrap.
      {[] { make({}).put(std::string(256, 'x')); }, "PACKET ASSERTION FAILED!\n"},
      {[] { Packet::check_fail("after \"%s\" fdata>ftail", "put"); },
       "packet check fail\nafter \"put\" fdata>ftail\nterminate.\n"},
  };
  for (const auto& c : cases) EXPECT_DEATH(c.act(), c.report);
}

}  // namespace
