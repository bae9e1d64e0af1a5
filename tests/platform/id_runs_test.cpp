// Sets of object numbers kept as runs: numbers given in any order are
// held once each, and ranked by how many of the set are below them.

#include "store/id_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

TEST(IdRuns, HoldEachNumberOnceInAnyOrderAndRankIt) {
  IdRuns runs;
  std::set<ObjectId> expected;
  std::mt19937 random(11);
  std::vector<ObjectId> order;
  for (ObjectId id = 1; id <= 300; ++id) order.push_back(id * 2 + (id % 7 == 0 ? 1 : 0));
  for (ObjectId id = 1000; id < 1100; ++id) order.push_back(id);  // as one call makes them
  std::shuffle(order.begin(), order.begin() + 300, random);
  for (ObjectId id : order) {
    runs.insert(id);
    runs.insert(id);  // again: nothing more
    expected.insert(id);
  }
  EXPECT_EQ(runs.size(), expected.size());
  for (ObjectId id = 0; id < 1200; ++id) {
    ASSERT_EQ(runs.contains(id), expected.count(id) != 0) << id;
    const auto below =
        static_cast<std::size_t>(std::distance(expected.begin(), expected.lower_bound(id)));
    ASSERT_EQ(runs.rankOf(id), below) << id;
  }
  runs.clear();
  EXPECT_TRUE(runs.empty());
  EXPECT_FALSE(runs.contains(1000));
}
