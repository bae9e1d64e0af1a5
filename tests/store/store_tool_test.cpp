// qovix-store on real stores: a copy file -> PostgreSQL -> file keeps every
// row; check finds each kind of damage planted in a copy, and none in a
// healthy store; an online backup taken while a writer runs checks clean.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <map>
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

ProgramRun qovixStore(const std::vector<std::string>& arguments) {
  return runProgram(QOVIX_STORE_TOOL_PATH, arguments, std::chrono::seconds(60));
}

// Every row of every table of a repository file, as text, table by table.
std::map<std::string, std::vector<std::string>> rowsOf(const std::string& file) {
  std::map<std::string, std::vector<std::string>> rows;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  for (const char* table :
       {"object", "object_number", "attribute", "reference", "member", "value_item", "commit_log",
        "commit_object", "class", "feature"}) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, (std::string("SELECT * FROM ") + table + " ORDER BY 1, 2").c_str(), -1,
                       &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, i));
        row.append(bytes != nullptr ? std::string(bytes, static_cast<std::size_t>(
                                                             sqlite3_column_bytes(statement, i)))
                                    : "NULL")
            .append("|");
      }
      rows[table].push_back(row);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return rows;
}

void runSql(const std::string& file, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db) << sql;
  sqlite3_close(db);
}

class StoreTool : public ::testing::Test {
 protected:
  // A repository with a history: the demo, a rename, a delete and its undo,
  // and a text no UTF-8 holds (an unpaired surrogate).
  void SetUp() override {
    ServerProcess server({"--store", file_});
    const ProgramRun demo =
        runProgram(QOVIX_TOOL_PATH, {"--port", std::to_string(server.port()), "demo"});
    ASSERT_EQ(demo.status, 0) << demo.err;
    Connection connection("127.0.0.1", server.port());
    const RepositoryRef repository{connection.repository()};
    const TaggedValueRef tagged = TaggedValue::create(connection, repository);
    CallPipeline pipeline(server.port());
    const auto set = pipeline.send(
        {modelCall("QOVIXTaggedValue_set_umlValue_0",
                   words({tagged.handle}) + textValue(QOVIXUninterpreted::kValueClassId,
                                                      std::u16string(u"a\xD800z\tb\\\n")))});
    ASSERT_EQ(set.front().status, 0u);
    const std::uint32_t account = connection.objectByNumber(4);
    ASSERT_NE(account, 0u);
    const std::int32_t deleted = connection.deleteObject(account);
    ASSERT_GT(deleted, 1);
    ASSERT_NE(connection.undo(connection.changes(UINT64_MAX).last).commit, 0u);
  }

  TemporaryFolder folder_;
  std::string file_ = (folder_.path() / "repository.sqlite3").string();
};

TEST_F(StoreTool, CopyToPostgresAndBackKeepsEveryRow) {
  if (!testPostgres()) GTEST_SKIP() << "no test PostgreSQL (QOVIX_TEST_POSTGRES)";
  const std::string database = freshPostgresDatabase();
  const std::string back = (folder_.path() / "back.sqlite3").string();
  const ProgramRun there = qovixStore({"copy", file_, database});
  ASSERT_EQ(there.status, 0) << there.err;
  EXPECT_NE(there.out.find("objects a second"), std::string::npos) << there.out;
  const ProgramRun checked = qovixStore({"check", database});
  EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
  const ProgramRun again = qovixStore({"copy", file_, database});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("holds a repository already"), std::string::npos) << again.err;
  EXPECT_EQ(again.err.find("WARNING"), std::string::npos) << "the server's own noise: " << again.err;
  ASSERT_EQ(qovixStore({"copy", database, back}).status, 0);
  EXPECT_EQ(rowsOf(back), rowsOf(file_));
  // What was copied serves: the history and undo go on in the copy.
  ServerProcess server({"--store", database});
  const ProgramRun log = runProgram(
      QOVIX_TOOL_PATH, {"--port", std::to_string(server.port()), "log", "--object", "4"});
  EXPECT_NE(log.out.find("deleted #4 Class"), std::string::npos) << log.out;
}

TEST_F(StoreTool, CheckFindsEachKindOfDamageAndNoneInAHealthyStore) {
  const ProgramRun healthy = qovixStore({"check", file_});
  EXPECT_EQ(healthy.status, 0) << healthy.out;
  EXPECT_NE(healthy.out.find("clean: "), std::string::npos) << healthy.out;
  struct Damage {
    const char* name;
    const char* sql;
    const char* found;
  };
  const Damage damages[] = {
      {"dangling", "INSERT INTO reference VALUES (3, 77, 999)",
       "to object 999: one of them does not exist"},
      {"chain",
       "UPDATE member SET next = member WHERE (object, feature, member) = "
       "(SELECT object, feature, member FROM member LIMIT 1)",
       "first members, not one"},
      {"log gap", "DELETE FROM commit_log WHERE sequence = 5", "the commit log skips commit 5"},
      {"schema", "PRAGMA user_version = 4", "has schema version 4, not 8"},
      {"index",
       "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = "
       "'CREATE INDEX object_by_class ON object (class DESC, id)' WHERE name = 'object_by_class'",
       "SQLite's integrity check"},
      {"index columns",
       "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = "
       "'CREATE INDEX object_by_class ON object (id, class)' WHERE name = 'object_by_class'",
       "index object_by_class has the columns (id, class), not (class, id)"},
      // A view that never ends in a table's place: nothing reads it.
      {"endless view",
       "DROP TABLE object; CREATE VIEW object (id, class) AS WITH RECURSIVE n(i) AS "
       "(SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT i, 3 FROM n",
       "object is a view, not a table"},
      {"trigger",
       "CREATE TRIGGER spy AFTER INSERT ON attribute BEGIN DELETE FROM object; END",
       "it has triggers (spy)"},
  };
  for (const Damage& damage : damages) {
    const std::string copy = (folder_.path() / (std::string(damage.name) + ".sqlite3")).string();
    ASSERT_EQ(qovixStore({"backup", file_, copy}).status, 0);
    runSql(copy, damage.sql);
    const ProgramRun found = qovixStore({"check", copy});
    EXPECT_EQ(found.status, 1) << damage.name << ": " << found.out << found.err;
    EXPECT_NE(found.out.find(damage.found), std::string::npos) << damage.name << ": " << found.out;
  }
  // What check refuses to read, copy and qovixd refuse too, at once.
  const std::string endless = (folder_.path() / "endless view.sqlite3").string();
  const ProgramRun copied = qovixStore({"copy", endless, (folder_.path() / "c.sqlite3").string()});
  EXPECT_EQ(copied.status, 1);
  EXPECT_NE(copied.err.find("object is a view, not a table; nothing was read"), std::string::npos)
      << copied.err;
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "c.sqlite3"));
  const ProgramRun served = runProgram(QOVIXD_PATH, {"--bind", "127.0.0.1", "--port", "0", "--store", endless},
                                       std::chrono::seconds(60));
  EXPECT_EQ(served.status, 1);
  EXPECT_NE(served.err.find("object is a view, not a table; it was left as it is"),
            std::string::npos)
      << served.err;
}

// A backup writes the file its path names, never through a symbolic link,
// even one that leads nowhere yet.
TEST_F(StoreTool, BackupRefusesALink) {
  const std::filesystem::path aim = folder_.path() / "elsewhere.sqlite3";
  const std::filesystem::path link = folder_.path() / "link.sqlite3";
  std::filesystem::create_symlink(aim, link);
  const ProgramRun refused = qovixStore({"backup", file_, link.string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("is a symbolic link"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(aim));
}

// qovixd's name for its store in memory names no file: the tool says there
// is nothing to read, and makes no file of that name.
TEST_F(StoreTool, TheStoreInMemoryHasNothingToRead) {
  const ProgramRun refused = qovixStore({"check", "memory"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("keeps in memory alone"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists("memory"));
}

// Whatever names a PostgreSQL repository's indexes were given, check sends
// them as parameters, never as SQL; and it reads no tables with a trigger.
TEST_F(StoreTool, CheckOnPostgresRunsNoSqlOfTheDatabasesNames) {
  if (!testPostgres()) GTEST_SKIP() << "no test PostgreSQL (QOVIX_TEST_POSTGRES)";
  const std::string database = freshPostgresDatabase();
  ASSERT_EQ(qovixStore({"copy", file_, database}).status, 0);
  postgresAnswer(database,
                 "CREATE INDEX \"x', true); CREATE TABLE planted (); "
                 "SELECT bt_index_check('object_by_class\" ON object (class)");
  const ProgramRun checked = qovixStore({"check", database});
  EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
  EXPECT_EQ(postgresAnswer(database, "SELECT to_regclass('planted') IS NULL"), "t");

  postgresAnswer(database,
                 "CREATE FUNCTION spy() RETURNS trigger LANGUAGE plpgsql AS "
                 "'BEGIN RETURN NEW; END'; "
                 "CREATE TRIGGER spy BEFORE INSERT ON attribute FOR EACH ROW EXECUTE FUNCTION spy()");
  const ProgramRun refused = qovixStore({"check", database});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("table attribute has the trigger spy"), std::string::npos)
      << refused.out;
}

// A writer pipelines changes while the backup is taken; the backup checks
// clean and serves, holding a prefix of the writes.
TEST_F(StoreTool, AnOnlineBackupWhileAWriterRunsChecksClean) {
  ServerProcess server({"--store", file_});
  Connection connection("127.0.0.1", server.port());
  const TaggedValueRef tagged =
      TaggedValue::create(connection, RepositoryRef{connection.repository()});
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::thread writer([&] {
    CallPipeline pipeline(server.port());
    while (!stop) {
      std::vector<PipelinedCall> window;
      for (int i = 0; i < 32; ++i) {
        window.push_back(modelCall("QOVIXTaggedValue_create_1", words({connection.repository()})));
      }
      for (const PipelinedReply& reply : pipeline.send(window)) {
        if (reply.status == 0) ++written;
      }
    }
  });
  while (written < 2000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::string backup = (folder_.path() / "online.sqlite3").string();
  const ProgramRun taken = qovixStore({"backup", file_, backup});
  const int before = written;
  while (written < before + 1000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  stop = true;
  writer.join();
  ASSERT_EQ(taken.status, 0) << taken.err;
  const ProgramRun checked = qovixStore({"check", backup});
  EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
  const ProgramRun info = qovixStore({"info", backup});
  EXPECT_NE(info.out.find("TaggedValue "), std::string::npos) << info.out;
  EXPECT_EQ(qovixStore({"backup", file_, backup}).status, 1) << "never over a file";
  (void)tagged;
}

}  // namespace
