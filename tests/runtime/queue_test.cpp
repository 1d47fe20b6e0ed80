#include "runtime/clean_queue.h"
#include "runtime/cyclic.h"
#include "runtime/cyclic_list.h"
#include "runtime/packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

Packet frame(unsigned char tag) {
  Packet p;
  p.reserve_head(4);
  p.put8(tag);
  return p;
}

unsigned char tag_of(const Packet& p) { return p[0]; }

TEST(CleanQueueTest, PutGetGetLastAppendAndPreviewKeepTheirEnds) {
  CleanQueue<Packet, 7> q;
  Packet out;
  EXPECT_FALSE(q.get(out));
  EXPECT_FALSE(q.get_last(&out));
  EXPECT_FALSE(q.preview(&out));
  EXPECT_TRUE(out.is_null());

  for (unsigned char i = 1; i <= 3; ++i) ASSERT_TRUE(q.put(frame(i)));
  ASSERT_TRUE(q.preview(&out));
  EXPECT_EQ(1, tag_of(out));
  EXPECT_EQ(3u, q.count());
  ASSERT_TRUE(q.get(&out));
  EXPECT_EQ(1, tag_of(out));
  ASSERT_TRUE(q.get_last(&out));
  EXPECT_EQ(3, tag_of(out));
  ASSERT_TRUE(q.append(frame(4)));
  ASSERT_TRUE(q.get(out));
  EXPECT_EQ(4, tag_of(out));
  ASSERT_TRUE(q.get(out));
  EXPECT_EQ(2, tag_of(out));
  EXPECT_TRUE(q.empty());
}

// Append wraps below slot zero; a full queue refuses at both ends and keeps
// no reference on what it refused.
TEST(CleanQueueTest, AFullQueueRefusesAndStaysUnchanged) {
  CleanQueue<Packet, 4> q;
  ASSERT_TRUE(q.append(frame(2)));
  ASSERT_TRUE(q.append(frame(1)));
  ASSERT_TRUE(q.put(frame(3)));
  ASSERT_TRUE(q.put(frame(4)));
  Packet extra = frame(9);
  EXPECT_FALSE(q.put(extra));
  EXPECT_FALSE(q.append(extra));
  EXPECT_EQ(1u, extra.get()->references());
  Packet out;
  for (unsigned char i = 1; i <= 4; ++i) {
    ASSERT_TRUE(q.get(out));
    EXPECT_EQ(i, tag_of(out));
  }
}

TEST(CleanQueueTest, IndicesWrapAndKeepFifoOrder) {
  CleanQueue<Packet, 7> q;
  Packet out;
  unsigned next_in = 0, next_out = 0;
  // Keep three queued while cycling well past the capacity several times.
  for (unsigned i = 0; i < 3; ++i) ASSERT_TRUE(q.put(frame(static_cast<unsigned char>(next_in++))));
  for (unsigned round = 0; round < 40; ++round) {
    ASSERT_TRUE(q.put(frame(static_cast<unsigned char>(next_in++))));
    ASSERT_TRUE(q.get(out));
    EXPECT_EQ(next_out++, tag_of(out));
  }
  // Fill to capacity across the wrap, then drain.
  while (q.put(frame(static_cast<unsigned char>(next_in)))) ++next_in;
  EXPECT_EQ(7u, q.count());
  while (q.get(out)) EXPECT_EQ(next_out++, tag_of(out));
  EXPECT_EQ(next_in, next_out);
}

TEST(CleanQueueTest, BuffersThatLeftTheQueueOrWereClearedAreNotHeld) {
  const unsigned free_before = packet_pool().available();
  {
    CleanQueue<Packet, 120> q;
    q.put(frame(1));
    q.put(frame(2));
    Packet out;
    q.get(out);
    EXPECT_EQ(1u, out.get()->references());
    q.get_last(&out);
    EXPECT_EQ(1u, out.get()->references());
    out = Packet();
    EXPECT_EQ(free_before, packet_pool().available());

    for (unsigned char i = 0; i < 3; ++i) q.put(frame(i));
    q.append(frame(4));
    Packet kept;
    q.preview(&kept);
    q.clear();
    EXPECT_TRUE(q.empty());
    // Only the handle held outside keeps its buffer.
    EXPECT_EQ(free_before - 1, packet_pool().available());
    EXPECT_EQ(1u, kept.get()->references());
    q.put(frame(7));
    ASSERT_TRUE(q.get(out));
    EXPECT_EQ(7, tag_of(out));
  }
  EXPECT_EQ(free_before, packet_pool().available());
}

TEST(CyclicTest, ValuesStayModulo128AndTheWindowTestHoldsAcrossTheWrap) {
  typedef Cyclic<unsigned int, 127u> Seq;
  EXPECT_EQ(2u, unsigned(Seq(130)));
  Seq z;
  --z;
  EXPECT_EQ(127u, unsigned(z));
  Seq old = z++;
  EXPECT_EQ(127u, unsigned(old));
  EXPECT_EQ(0u, unsigned(z));
  EXPECT_EQ(126u, unsigned(Seq(5) - Seq(7)));
  EXPECT_EQ(1u, unsigned(Seq(120) + Seq(9)));
  EXPECT_TRUE(Seq(3) == Seq(131));

  Seq va(120), vs(3);
  for (unsigned nr : {120u, 127u, 0u, 3u}) EXPECT_TRUE(va <= Seq(nr) <= vs) << nr;
  for (unsigned nr : {4u, 119u}) EXPECT_FALSE(va <= Seq(nr) <= vs) << nr;
  EXPECT_TRUE(Seq(10) <= Seq(10) <= Seq(10));
  EXPECT_FALSE(Seq(10) <= Seq(11) <= Seq(10));
  EXPECT_TRUE(Seq(2) <= Seq(5) <= Seq(9));
  EXPECT_FALSE(Seq(2) <= Seq(1) <= Seq(9));
  EXPECT_FALSE(Seq(2) <= Seq(10) <= Seq(9));
}

struct Receiver {
  explicit Receiver(int n) : number(n) {}
  virtual ~Receiver() = default;
  int number;
  Containers::CyclicList link;
};

std::vector<int> numbers(Containers::CyclicList& list) {
  std::vector<int> out;
  for (Containers::CyclicList::TIterator i = list.begin(); i != list.end(); ++i)
    out.push_back(Containers::offset(*i, &Receiver::link)->number);
  return out;
}

TEST(CyclicListTest, ElementsJoinAtTheEndAndLeaveCleanly) {
  Containers::CyclicList list;
  EXPECT_TRUE(numbers(list).empty());
  Receiver a(1), b(2), c(3);
  a.link.AddTail(list);
  b.link.AddTail(list);
  c.link.AddTail(list);
  EXPECT_EQ((std::vector<int>{1, 2, 3}), numbers(list));

  Containers::CyclicList::InternalDel(b.link.prev, b.link.next);
  EXPECT_EQ((std::vector<int>{1, 3}), numbers(list));

  a.link.Unlink();
  c.link.Unlink();
  a.link.Unlink();  // again: harmless
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(&list, list.next);
  EXPECT_EQ(&a.link, a.link.next);
}

}  // namespace
