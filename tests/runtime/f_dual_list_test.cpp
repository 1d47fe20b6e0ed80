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

TEST(FDualList, InsertRemoveAndMergeKeepLinksAndCount) {
  Item it[5];
  for (int i = 0; i < 5; ++i) it[i].id = i;
  F_dual_list<Item> l, other;
  l.push_back(&it[1]);
  l.insert_to_tail(&it[3]);
  l.insert_after(&it[1], &it[2]);
  l.insert_to_head(&it[4]);
  EXPECT_EQ(ids(l), (std::vector<int>{4, 1, 2, 3}));
  l.remove(&it[2]);
  l.remove(&it[3]);  // the tail
  EXPECT_EQ(l.tail(), &it[1]);
  EXPECT_EQ(l.remove_from_head(), &it[4]);
  EXPECT_EQ(F_dual_list<Item>::prev(l.head()), nullptr);
  EXPECT_EQ(l.size(), 1u);
  other.push_back(&it[0]);
  other.push_back(&it[3]);
  l.merge(other);  // exchanges the contents
  EXPECT_EQ(ids(l), (std::vector<int>{0, 3}));
  EXPECT_EQ(ids(other), (std::vector<int>{1}));
  EXPECT_EQ(other.remove_from_head(), &it[1]);
  EXPECT_EQ(other.remove_from_head(), nullptr);
  EXPECT_EQ(other.tail(), nullptr);

  Item pool[3];
  F_dual_list<Item> linked;
  linked.init(pool, 3);
  EXPECT_EQ(linked.size(), 3u);
  EXPECT_EQ(linked.tail(), &pool[2]);
}

TEST(FSortedList, EqualKeysKeepInsertionOrderAndEarlierKeysGoFirst) {
  Item a, b, c, d;
  a.id = 1, a.key = 10;
  b.id = 2, b.key = 10;
  c.id = 3, c.key = 5;
  d.id = 4, d.key = 20;
  F_sorted_list<Item> l;
  for (Item* i : {&a, &b, &c, &d}) l.insert_to_tail_by_grown(i);
  EXPECT_EQ(ids(l), (std::vector<int>{3, 1, 2, 4}));
}

}  // namespace
