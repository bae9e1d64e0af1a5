// The connection's writing thread: jobs in order, a failure thrown once to
// the caller and nothing written after it, a failure forgotten with the
// transaction it was part of.

#include "store/write_behind.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <vector>

namespace {

TEST(WriteBehind, RunsJobsInOrderAndThrowsAFailureOnceWritingNothingAfterIt) {
  WriteBehind behind;
  std::vector<int> ran;  // read only once settled
  for (int i = 0; i < 3 * static_cast<int>(WriteBehind::kMostJobs); ++i) {
    behind.post([&ran, i] { ran.push_back(i); });
  }
  behind.settle();
  ASSERT_EQ(ran.size(), 3 * WriteBehind::kMostJobs);
  for (std::size_t i = 0; i < ran.size(); ++i) EXPECT_EQ(ran[i], static_cast<int>(i));

  ran.clear();
  // The job fails once the next is handed on too, so that the next is
  // waiting when it does.
  std::promise<void> bothPosted;
  behind.post([posted = bothPosted.get_future().share()] {
    posted.wait();
    throw std::runtime_error("the disk is full");
  });
  behind.post([&ran] { ran.push_back(1); });
  bothPosted.set_value();
  behind.wait();  // keeps the failure for settle
  EXPECT_THROW(behind.settle(), std::runtime_error);
  EXPECT_TRUE(ran.empty()) << "a job after the failure was written";
  EXPECT_NO_THROW(behind.settle()) << "thrown once";

  behind.post([] { throw std::runtime_error("I/O error"); });
  behind.drop();  // the transaction is undone
  EXPECT_NO_THROW(behind.settle());
  behind.post([&ran] { ran.push_back(2); });
  behind.settle();
  EXPECT_EQ(ran, std::vector<int>{2});

  behind.post([] { throw std::runtime_error("I/O error"); });
  behind.wait();
  EXPECT_THROW(behind.post([] {}), std::runtime_error) << "the next job is refused";
}

}  // namespace
