// The changes feed: a client that asks for the commits after the last one
// it saw gets every commit once, in order, while writers keep committing.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "client_model.h"
#include "model_values.h"
#include "tests/support/call_pipeline.h"
#include "tests/support/reply_values.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/test_postgres.h"

namespace {

using namespace qovix::client;

// Writers pipeline `commits` setters in windows while a follower pages
// through the feed; the follower must see 1, 2, 3, ... with no gap and no
// repeat, each commit by the writers' principal, up to the last.
void followWhileWriting(const std::vector<std::string>& store, int commits) {
  ServerProcess server(store);
  Connection connection("127.0.0.1", server.port());
  const RepositoryRef repository{connection.repository()};
  const TaggedValueRef tagged = TaggedValue::create(connection, repository);
  const std::uint64_t first = connection.changes(UINT64_MAX).last;

  constexpr int kWriters = 2, kWindow = 64;
  std::atomic<int> written{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      CallPipeline pipeline(server.port());
      for (int sent = 0; sent < commits / kWriters; sent += kWindow) {
        std::vector<PipelinedCall> window;
        for (int i = 0; i < kWindow && sent + i < commits / kWriters; ++i) {
          const std::string text = std::to_string(w).append("/").append(std::to_string(sent + i));
          window.push_back(modelCall(
              "QOVIXTaggedValue_set_tag_0",
              words({tagged.handle}) +
                  textValue(QOVIXName::kValueClassId, std::u16string(text.begin(), text.end()))));
        }
        for (const PipelinedReply& reply : pipeline.send(window)) {
          ASSERT_EQ(reply.status, 0u);
          ++written;
        }
      }
    });
  }

  const std::uint64_t expectedLast = first + static_cast<std::uint64_t>(commits);
  std::uint64_t seen = first;
  std::size_t pages = 0;
  while (seen < expectedLast) {
    const qovix::CommitPage page = connection.changes(seen);
    ++pages;
    for (const qovix::WireCommit& commit : page.commits) {
      ASSERT_EQ(commit.sequence, seen + 1) << "after " << seen << ": a gap or a repeat";
      ASSERT_EQ(commit.objects.size(), 1u);
      ASSERT_EQ(commit.objects.front().change, 1) << "changed";
      seen = commit.sequence;
    }
    ASSERT_GE(page.last, seen);
    if (page.commits.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(written.load(), commits);
  EXPECT_TRUE(connection.changes(seen).commits.empty());
  EXPECT_GT(pages, static_cast<std::size_t>(commits) / 1000) << "read a page at a time";
}

TEST(ChangesFeed, PagesThroughEveryCommitOnceWhileWritersCommit) {
  TemporaryFolder folder;
  followWhileWriting({"--store", (folder.path() / "r.sqlite3").string()}, 100'000);
}

TEST(ChangesFeed, PagesThroughEveryCommitOnceOnPostgres) {
  if (!testPostgres()) GTEST_SKIP() << "no test PostgreSQL (QOVIX_TEST_POSTGRES)";
  followWhileWriting({"--store", freshPostgresDatabase()}, 5'000);
}

}  // namespace
