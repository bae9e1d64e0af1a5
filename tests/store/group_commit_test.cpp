// Calls that reach qovixd together are committed together, and no reply
// leaves before its commit: a client that pipelines sees each call kept or
// undone as if it were alone, and whatever was acknowledged survives the
// server's death and a full disk.

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "client/connection.h"
#include "client_model.h"
#include "model_values.h"
#include "qovix_protocol.h"
#include "tests/support/call_pipeline.h"
#include "tests/support/reply_values.h"
#include "tests/support/server_process.h"
#include "tests/support/test_postgres.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::client;

constexpr std::uint32_t kSystemError = 5, kNoProcedure = 3;

class GroupCommit : public ::testing::Test {
 protected:
  TemporaryFolder folder_;
  std::string file_ = (folder_.path() / "repository.sqlite3").string();
};

PipelinedCall setValue(std::uint32_t tagged, const std::string& text) {
  return modelCall("QOVIXTaggedValue_set_umlValue_0",
                   words({tagged}) + textValue(QOVIXUninterpreted::kValueClassId,
                                               std::u16string(text.begin(), text.end())));
}

std::vector<std::uint32_t> makeTagged(Connection& connection, int count) {
  const RepositoryRef repository{connection.repository()};
  std::vector<std::uint32_t> made;
  for (int i = 0; i < count; ++i) {
    const TaggedValueRef tagged = TaggedValue::create(connection, repository);
    TaggedValue::set_tag(connection, tagged, std::string("t").append(std::to_string(i)));
    made.push_back(tagged.handle);
  }
  return made;
}

std::string valueAfterRestart(Connection& connection, int n) {
  const RepositoryRef repository{connection.repository()};
  const auto found = TaggedValue::find(connection, repository, "tag",
                                       std::string("t").append(std::to_string(n)), 0);
  EXPECT_EQ(connection.size(found.handle), 1) << "t" << n;
  const TaggedValueRef tagged{connection.element(found.handle, 0)};
  return TaggedValue::get_umlValue(connection, tagged);
}

// A window with a call that fails among calls that succeed: the failed one
// is undone alone, and every acknowledged one is on disk the moment its
// reply arrives, so a server killed right after keeps them all.
void failedCallIsUndoneAloneAndAcknowledgedOnesSurviveAKill(const std::string& store) {
  {
    ServerProcess server({"--store", store});
    Connection connection("127.0.0.1", server.port());
    const std::vector<std::uint32_t> tagged = makeTagged(connection, 3);
    const std::uint32_t repository = connection.repository();
    CallPipeline pipeline(server.port());
    PipelinedCall unknown = modelCall("QOVIXTaggedValue_create_1", words({repository}));
    unknown.procedure = 0xFFFF;  // no such procedure: answered, and nothing of it kept
    const auto replies =
        pipeline.send({setValue(tagged[0], "first"), unknown,
                       modelCall("QOVIXTaggedValue_create_1", words({repository})),
                       setValue(tagged[1], "second"), setValue(tagged[2], "third")});
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies[0].status, 0u);
    EXPECT_EQ(replies[1].status, kNoProcedure);
    EXPECT_EQ(replies[2].status, 0u);
    EXPECT_EQ(replies[3].status, 0u);
    EXPECT_EQ(replies[4].status, 0u);
    // More than a round holds: the rest commit as they come.
    std::vector<PipelinedCall> many;
    for (int i = 0; i < 400; ++i) {
      many.push_back(setValue(tagged[static_cast<std::size_t>(i % 2)],
                              std::string("many ").append(std::to_string(i))));
    }
    for (const PipelinedReply& reply : pipeline.send(many)) EXPECT_EQ(reply.status, 0u);
    server.stop(SIGKILL);
  }
  ServerProcess server({"--store", store});
  Connection connection("127.0.0.1", server.port());
  EXPECT_EQ(valueAfterRestart(connection, 0), "many 398");
  EXPECT_EQ(valueAfterRestart(connection, 1), "many 399");
  EXPECT_EQ(valueAfterRestart(connection, 2), "third");
  const RepositoryRef repository{connection.repository()};
  EXPECT_EQ(connection.size(TaggedValue::find(connection, repository, 0).handle), 4)
      << "three made one at a time, one in the window";
}

TEST_F(GroupCommit, AFailedCallIsUndoneAloneAndEveryAcknowledgedOneSurvivesAKill) {
  failedCallIsUndoneAloneAndAcknowledgedOnesSurviveAKill(file_);
}

// On PostgreSQL too, where the calls of a round wait together in the
// transaction the first writing one began, whose lock keeps other servers'
// writers out meanwhile: each call keeps its own row of the log, and the
// rows of a window share a few transactions, not one each.
TEST_F(GroupCommit, OnPostgresAWindowIsCommittedInFewTransactions) {
  if (!testPostgres()) GTEST_SKIP() << "no test PostgreSQL (QOVIX_TEST_POSTGRES)";
  const std::string store = freshPostgresDatabase();
  failedCallIsUndoneAloneAndAcknowledgedOnesSurviveAKill(store);

  ServerProcess server({"--store", store});
  Connection connection("127.0.0.1", server.port());
  const std::string before = postgresAnswer(store, "SELECT max(sequence) FROM commit_log");
  const std::uint32_t tagged = makeTagged(connection, 1).front();
  // A reading call first, as a client that looks before it writes: it
  // commits alone, and the writes after it still wait together.
  std::vector<PipelinedCall> window{modelCall("QOVIXTaggedValue_get_tag_0", words({tagged}))};
  for (int i = 0; i < 200; ++i) {
    window.push_back(setValue(tagged, std::string("v").append(std::to_string(i))));
  }
  for (const PipelinedReply& reply : CallPipeline(server.port()).send(window)) {
    EXPECT_EQ(reply.status, 0u);
  }
  const std::string since = " FROM commit_log WHERE sequence > " + before;
  EXPECT_EQ(postgresAnswer(store, "SELECT count(*)" + since), "202") << "made, tagged, 200 set";
  const int transactions =
      std::stoi(postgresAnswer(store, "SELECT count(DISTINCT xmin::text)" + since));
  EXPECT_LE(transactions, 2 + 200 / 4) << "calls that arrived together committed together";
  EXPECT_EQ(TaggedValue::get_umlValue(connection, TaggedValueRef{tagged}), "v199");
}

// A call that names what a delete in the same window removed finds nothing
// there, though the delete's commit and the release of its handles wait
// for the round's end: it fails, and the server goes on.
TEST_F(GroupCommit, ACallAfterADeleteInTheSameWindowFindsNothing) {
  ServerProcess server({"--store", file_});
  Connection connection("127.0.0.1", server.port());
  const std::vector<std::uint32_t> tagged = makeTagged(connection, 2);
  CallPipeline pipeline(server.port());
  const auto replies = pipeline.send({{qovix::protocol::kHostProgram, qovix::protocol::kHostVersion,
                                       qovix::protocol::kHostDelete, words({tagged[0]})},
                                      modelCall("QOVIXTaggedValue_get_tag_0", words({tagged[0]})),
                                      setValue(tagged[0], "gone"),
                                      setValue(tagged[1], "kept")});
  ASSERT_EQ(replies.size(), 4u);
  EXPECT_EQ(replies[0].status, 0u);
  EXPECT_EQ(replies[0].result, 1u) << "one object deleted";
  EXPECT_NE(replies[1].status, 0u) << "no tag of a deleted object";
  EXPECT_NE(replies[2].status, 0u) << "no value set on a deleted object";
  EXPECT_EQ(replies[3].status, 0u);
  const RepositoryRef repository{connection.repository()};
  EXPECT_EQ(connection.size(TaggedValue::find(connection, repository, 0).handle), 1);
  EXPECT_EQ(valueAfterRestart(connection, 1), "kept");
}

// The file may grow to 2 MiB (RLIMIT_FSIZE, a quota) while a client keeps
// sending windows of writes. When a round's commit meets the full disk,
// every call it held answers the system error and none is kept; every
// call acknowledged before is. So after a restart, each value is the last
// one acknowledged for it.
TEST_F(GroupCommit, AFullDiskFailsTheHeldCallsTogetherAndLosesNoAcknowledgedOne) {
  constexpr int kValues = 16;
  std::vector<std::string> acknowledged(kValues);
  {
    ServerProcess server = fileSizeLimitedServer({"--store", file_}, 2048);
    Connection connection("127.0.0.1", server.port());
    const std::vector<std::uint32_t> tagged = makeTagged(connection, kValues);
    CallPipeline pipeline(server.port());
    int failed = 0;
    for (int window = 0; window < 5000 && failed == 0; ++window) {
      std::vector<PipelinedCall> calls;
      std::vector<std::string> texts;
      for (int i = 0; i < kValues; ++i) {
        texts.push_back(
            std::to_string(window).append("/").append(std::to_string(i)).append(1500, 'x'));
        calls.push_back(setValue(tagged[static_cast<std::size_t>(i)], texts.back()));
      }
      const auto replies = pipeline.send(calls);
      for (int i = 0; i < kValues; ++i) {
        const std::uint32_t status = replies[static_cast<std::size_t>(i)].status;
        ASSERT_TRUE(status == 0 || status == kSystemError) << status;
        if (status == 0)
          acknowledged[static_cast<std::size_t>(i)] = texts[static_cast<std::size_t>(i)];
        failed += status == kSystemError ? 1 : 0;
      }
    }
    ASSERT_GT(failed, 0) << "the file never filled";
    EXPECT_NE(server.standardError().find("changes were not kept"), std::string::npos)
        << server.standardError();
    connection.ping();  // still serving
    EXPECT_EQ(server.stop(SIGTERM), 0) << server.standardError();
  }
  ServerProcess server({"--store", file_});
  Connection connection("127.0.0.1", server.port());
  for (int i = 0; i < kValues; ++i) {
    EXPECT_EQ(valueAfterRestart(connection, i).substr(0, 12),
              acknowledged[static_cast<std::size_t>(i)].substr(0, 12))
        << "value " << i;
  }
}

// A client pipelines 100,000 writes in windows of 1,000, each a value of
// a few hundred bytes, so that the log's checkpoint runs on its thread again and
// again beside the writer: every call succeeds, and what was written last
// is what a restart reads.
TEST_F(GroupCommit, PipelinedWritesNeverFailBecauseTheCheckpointHoldsTheFile) {
  constexpr int kWindows = 100, kWindow = 1000, kValues = 8;
  std::vector<std::string> last(kValues);
  ServerProcess server({"--store", file_});
  Connection connection("127.0.0.1", server.port());
  const std::vector<std::uint32_t> tagged = makeTagged(connection, kValues);
  CallPipeline pipeline(server.port());
  std::size_t failed = 0;
  for (int window = 0; window < kWindows; ++window) {
    std::vector<PipelinedCall> calls;
    for (int i = 0; i < kWindow; ++i) {
      const int n = (window * kWindow + i) % kValues;
      last[n] = std::string(300, static_cast<char>('a' + i % 26)) + std::to_string(window);
      calls.push_back(setValue(tagged[n], last[n]));
    }
    for (const PipelinedReply& reply : pipeline.send(calls)) failed += reply.status != 0;
  }
  EXPECT_EQ(failed, 0u) << "writes failed while the log was checkpointed";
  EXPECT_EQ(server.standardError().find("locked"), std::string::npos) << server.standardError();
  ASSERT_EQ(server.stop(SIGTERM), 0);
  ServerProcess again({"--store", file_});
  Connection reader("127.0.0.1", again.port());
  for (int n = 0; n < kValues; ++n) EXPECT_EQ(valueAfterRestart(reader, n), last[n]) << n;
}

}  // namespace
