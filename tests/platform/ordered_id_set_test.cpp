#include "store/ordered_id_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace {

using Ids = std::vector<ObjectId>;

TEST(OrderedIdSet, KeepsInsertionOrderWithoutDuplicates) {
  OrderedIdSet set;
  EXPECT_TRUE(set.append(5));
  EXPECT_TRUE(set.append(3));
  EXPECT_FALSE(set.append(5));
  EXPECT_TRUE(set.append(9));
  EXPECT_EQ(set.ids(), (Ids{5, 3, 9}));
  EXPECT_EQ(set.size(), 3);
  EXPECT_TRUE(set.contains(3));
  EXPECT_FALSE(set.contains(4));
}

TEST(OrderedIdSet, RemovalsKeepTheOrderOfTheRest) {
  OrderedIdSet set;
  for (ObjectId id = 1; id <= 10; ++id) set.append(id);
  EXPECT_TRUE(set.remove(4));
  EXPECT_FALSE(set.remove(4));
  EXPECT_TRUE(set.remove(1));
  EXPECT_TRUE(set.remove(10));
  EXPECT_EQ(set.size(), 7);
  EXPECT_EQ(set.at(0), 2u);
  EXPECT_EQ(set.ids(), (Ids{2, 3, 5, 6, 7, 8, 9}));
  set.removeAt(2);
  EXPECT_EQ(set.ids(), (Ids{2, 3, 6, 7, 8, 9}));
  EXPECT_TRUE(set.append(4));
  EXPECT_EQ(set.at(6), 4u);
}

TEST(OrderedIdSet, InsertsAtAPosition) {
  OrderedIdSet set;
  set.append(1);
  set.append(2);
  EXPECT_TRUE(set.insertAt(7, 0));
  EXPECT_TRUE(set.insertAt(8, 2));
  EXPECT_TRUE(set.insertAt(9, 4));
  EXPECT_EQ(set.ids(), (Ids{7, 1, 8, 2, 9}));
  EXPECT_FALSE(set.insertAt(1, 0)) << "already a member";
  EXPECT_TRUE(set.remove(8));
  EXPECT_TRUE(set.insertAt(8, 1));
  EXPECT_EQ(set.ids(), (Ids{7, 8, 1, 2, 9}));
}

TEST(OrderedIdSet, IndexesOutsideTheSetThrow) {
  OrderedIdSet set;
  EXPECT_THROW(set.at(0), std::out_of_range);
  EXPECT_THROW(set.insertAt(1, 1), std::out_of_range);
  EXPECT_THROW(set.insertAt(1, -1), std::out_of_range);
  set.append(1);
  EXPECT_THROW(set.at(1), std::out_of_range);
  EXPECT_THROW(set.at(-1), std::out_of_range);
  EXPECT_THROW(set.removeAt(1), std::out_of_range);
  EXPECT_EQ(set.size(), 1);
}

TEST(OrderedIdSet, ChurnKeepsOrderAndMembership) {
  OrderedIdSet set;
  for (ObjectId id = 1; id <= 100; ++id) set.append(id);
  for (int round = 0; round < 10000; ++round) {
    const ObjectId id = static_cast<ObjectId>(round % 100) + 1;
    ASSERT_TRUE(set.remove(id));
    ASSERT_TRUE(set.append(id));
  }
  EXPECT_EQ(set.size(), 100);
  const Ids ids = set.ids();
  EXPECT_EQ(ids.size(), 100u);
  EXPECT_EQ(ids.front(), 1u);
  EXPECT_EQ(set.at(99), 100u);
}

TEST(OrderedIdSet, ClearEmptiesIt) {
  OrderedIdSet set;
  set.append(1);
  set.append(2);
  set.remove(1);
  set.clear();
  EXPECT_TRUE(set.empty());
  EXPECT_TRUE(set.ids().empty());
  EXPECT_TRUE(set.append(1));
  EXPECT_EQ(set.ids(), (Ids{1}));
}

}  // namespace

// The attack on a treap whose priorities a client can foresee: insert each
// member where its priority ranks among those before it, so that position
// order is priority order and the tree is one long path. Here the foreseen
// priorities are those of a fixed-seed xorshift32; whatever the set draws,
// the tree must stay shallow and the walks must not use the stack.
TEST(OrderedIdSet, NoOrderOfPositionsMakesTheTreeDeep) {
  constexpr ObjectId kMembers = 20000;
  OrderedIdSet set;
  std::vector<std::uint32_t> ranked;
  std::uint32_t random = 0x9E3779B9u;
  for (ObjectId id = 1; id <= kMembers; ++id) {
    random ^= random << 13;
    random ^= random >> 17;
    random ^= random << 5;
    const auto place = std::lower_bound(ranked.begin(), ranked.end(), random);
    const auto position = place - ranked.begin();
    ranked.insert(place, random);
    ASSERT_TRUE(set.insertAt(id, position));
  }
  EXPECT_LT(set.height(), 80u) << "about 2 ln n = 20 expected";
  // Members at the front, one after another, also give no path.
  OrderedIdSet front;
  for (ObjectId id = 1; id <= kMembers; ++id) front.insertAt(id, 0);
  EXPECT_LT(front.height(), 80u);
  EXPECT_EQ(front.at(0), kMembers);
  EXPECT_EQ(front.indexOf(1), static_cast<VornLong>(kMembers - 1));
}
