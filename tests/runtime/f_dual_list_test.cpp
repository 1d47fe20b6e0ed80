#include "runtime/f_dual_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item : F_dual_list_item<Item> {
  int key = 0;
  int id = 0;
  int compare(const Item* other) const { return key - other->key; }
};

std::vector<int> ids(const F_dual_list<Item>& l) {
  std::vector<int> out;
  for (Item* i = l.head(); i; i = F_dual_list<Item>::next(i)) out.push_back(i->id);
  return out;
}

TEST(FDualList, InsertRemoveKeepsLinksAndCount) {
  Item a, b, c, d;
  a.id = 1, b.id = 2, c.id = 3, d.id = 4;
  F_dual_list<Item> l;
  l.push_back(&a);
  l.insert_to_tail(&c);
  l.insert_after(&a, &b);
  l.insert_to_head(&d);
  EXPECT_EQ(ids(l), (std::vector<int>{4, 1, 2, 3}));
  EXPECT_EQ(l.size(), 4u);
  l.remove(&b);
  l.remove(&c);  // the tail
  EXPECT_EQ(ids(l), (std::vector<int>{4, 1}));
  EXPECT_EQ(l.tail(), &a);
  EXPECT_EQ(l.remove_from_head(), &d);
  EXPECT_EQ(F_dual_list<Item>::prev(l.head()), nullptr);
  EXPECT_EQ(l.remove_from_head(), &a);
  EXPECT_EQ(l.remove_from_head(), nullptr);
  EXPECT_TRUE(l.empty());
  EXPECT_EQ(l.tail(), nullptr);
}

TEST(FDualList, MergeExchangesContents) {
  Item a, b, c;
  a.id = 1, b.id = 2, c.id = 3;
  F_dual_list<Item> x, y;
  x.push_back(&a);
  y.push_back(&b);
  y.push_back(&c);
  x.merge(y);
  EXPECT_EQ(ids(x), (std::vector<int>{2, 3}));
  EXPECT_EQ(ids(y), (std::vector<int>{1}));
}

TEST(FDualList, InitLinksContiguousStorage) {
  Item pool[5];
  for (int i = 0; i < 5; ++i) pool[i].id = i;
  F_dual_list<Item> l;
  l.init(pool, 5);
  EXPECT_EQ(ids(l), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(l.size(), 5u);
}

TEST(FSortedList, EqualKeysKeepInsertionOrderAndEarlierKeysGoFirst) {
  Item a, b, c, d;
  a.id = 1, a.key = 10;
  b.id = 2, b.key = 10;
  c.id = 3, c.key = 5;
  d.id = 4, d.key = 20;
  F_sorted_list<Item> l;
  l.insert_to_tail_by_grown(&a);
  l.insert_to_tail_by_grown(&b);
  l.insert_to_tail_by_grown(&c);
  l.insert_to_tail_by_grown(&d);
  EXPECT_EQ(ids(l), (std::vector<int>{3, 1, 2, 4}));
  EXPECT_EQ(l.count(), 4u);
}

}  // namespace
