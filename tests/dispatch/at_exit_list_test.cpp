#include "dispatch/at_exit_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> ran;

void record(void* context) { ran.push_back(*static_cast<int*>(context)); }

int one = 1, two = 2, three = 3, four = 4;

void registersAnother(void*) {
  ran.push_back(0);
  qovix::registerAtExit(&record, &four);
}

TEST(AtExitList, RunsNewestFirstAndEmptiesTheList) {
  ran.clear();
  ASSERT_TRUE(qovix::registerAtExit(&record, &one));
  ASSERT_TRUE(qovix::registerAtExit(&record, &two));
  ASSERT_TRUE(qovix::registerAtExit(&record, &three));
  qovix::runAtExitList();
  EXPECT_EQ(ran, (std::vector<int>{3, 2, 1}));
  qovix::runAtExitList();
  EXPECT_EQ(ran.size(), 3u) << "each action runs once";
}

TEST(AtExitList, AnActionMayRegisterAnother) {
  ran.clear();
  ASSERT_TRUE(qovix::registerAtExit(&record, &one));
  ASSERT_TRUE(qovix::registerAtExit(&registersAnother, nullptr));
  qovix::runAtExitList();
  EXPECT_EQ(ran, (std::vector<int>{0, 4, 1}));
}

}  // namespace
