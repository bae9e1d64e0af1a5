// The commit page's count of changes left out travels as a last change of
// kind 7, which a reader of an earlier release decodes as a change: the
// bytes, and the count read back out of them.

#include "wire_filters.h"

#include <gtest/gtest.h>

#include "tests/support/wire_bytes.h"
#include "xdr/xdr_filter.h"

namespace {

using qovix::CommitPage;

TEST(CommitFilters, ChangesLeftOutTravelAsALastChangeEveryReaderDecodes) {
  CommitPage page;
  page.last = 9;
  page.commits.emplace_back().sequence = 9;
  page.changesLeft = 3;
  const Bytes expected = words({0, 9, 1,              // last, one commit
                                0, 9, 0, 0, 0, 0, 0,  // sequence, time, principal, server, objects
                                1,                    // one change:
                                0, 0, 0, 7, 3, 0, 0,  // object, feature, slot, kind 7, position 3
                                0, 0});               // no values before or after
  EXPECT_EQ(encodeWith(toXdrProc(&X_CommitPage), &page), expected);
  EXPECT_EQ(page.changesLeft, 3u);
  EXPECT_TRUE(page.commits.front().changes.empty()) << "the page sent is left as it was";

  CommitPage read;
  ASSERT_TRUE(decodeWith(toXdrProc(&X_CommitPage), &read, expected).decoded);
  EXPECT_EQ(read.changesLeft, 3u);
  ASSERT_EQ(read.commits.size(), 1u);
  EXPECT_TRUE(read.commits.front().changes.empty());

  // Objects left out travel in the same change, as its after_target.
  page.changesLeft = 0;
  page.objectsLeft = 5;
  const auto objects = encodeWith(toXdrProc(&X_CommitPage), &page);
  ASSERT_TRUE(objects);
  EXPECT_EQ(*objects, words({0, 9, 1, 0, 9, 0, 0, 0, 0, 0, 1,  // the page, its commit, one change:
                             0, 0, 0, 7, 0, 0, 5,          // kind 7, position 0, after_target 5
                             0, 0}));
  ASSERT_TRUE(decodeWith(toXdrProc(&X_CommitPage), &read, *objects).decoded);
  EXPECT_EQ(read.objectsLeft, 5u);
  EXPECT_EQ(read.changesLeft, 0u);
  page.objectsLeft = 0;

  // A page that leaves nothing out is as it always was.
  page.changesLeft = 0;
  const auto whole = encodeWith(toXdrProc(&X_CommitPage), &page);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->size(), 4u * 11);
}

}  // namespace
