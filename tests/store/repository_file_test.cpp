// The repository file as users meet it: what it keeps across a reopen, what
// plain SQL sees in it, and the files it refuses, each left as it was.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "store/log_checkpointer.h"
#include "store/sqlite_store.h"
#include "store/store_schema.h"
#include "tests/support/temporary_folder.h"

namespace {

std::string contentsOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void runSql(const std::filesystem::path& file, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

// The first column of the first row `sql` answers, asked by another
// process, as the sqlite3 tool would ask; "(error)" when it cannot.
std::string firstAnswer(const std::filesystem::path& file, const char* sql) {
  int ends[2];
  if (pipe(ends) != 0) return "(no pipe)";
  const pid_t child = fork();
  if (child == 0) {
    // A process of its own, not a copy of this one: a copy would inherit
    // what SQLite here knows of the file's locks.
    dup2(ends[1], STDOUT_FILENO);
    execlp("python3", "python3", "-c",
           "import sqlite3, sys\n"
           "try:\n"
           "  db = sqlite3.connect('file:' + sys.argv[1] + '?mode=ro', uri=True)\n"
           "  print(db.execute(sys.argv[2]).fetchone()[0], end='')\n"
           "except Exception:\n"
           "  print('(error)', end='')\n",
           file.c_str(), sql, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ends[1]);
  std::string answer;
  char buffer[256];
  for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;) {
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  close(ends[0]);
  waitpid(child, nullptr, 0);
  return answer;
}

std::string refusal(const std::filesystem::path& file) {
  try {
    openSqliteStore(file);
  } catch (const StoreError& error) {
    return error.what();
  }
  return "(opened)";
}

class RepositoryFile : public ::testing::Test {
 protected:
  TemporaryFolder folder_;
  std::filesystem::path file_ = folder_.path() / "repository.sqlite3";
};

TEST_F(RepositoryFile, KeepsEveryUnitOfTextAndListsOfValuesAndIsReadableWithPlainSql) {
  const std::u16string odd = {u'a', 0xD800, 0, u'\u00e9', 0xDFFF};  // lone surrogates, a NUL
  SqliteStoreOptions options;
  options.classNames = {{10, "Class"}};
  options.featureNames = {{1, 0, "name"}, {2, 10, "isAbstract"}};
  {
    auto store = openSqliteStore(file_, options);
    const ObjectId id = store->create(10);
    store->setValue(id, 1, {7, 0, u"Account"});
    store->create(10);
    store->setValue(2, 1, {7, 0, odd});
    store->setValue(id, 2, {8, 1, {}});
    store->setValues(id, 3, {{7, 0, u"b"}, {8, 4, {}}, {7, 0, u"a"}});
    store->commit();
    store->create(10);  // never committed
  }
  auto store = openSqliteStore(file_, options);
  EXPECT_EQ(store->objectCount(), 2u);
  EXPECT_EQ(store->value(2, 1)->text, odd);
  EXPECT_EQ(store->value(1, 2)->number, 1);
  EXPECT_EQ(store->values(1, 3),
            (std::vector<StoredValue>{{7, 0, u"b"}, {8, 4, {}}, {7, 0, u"a"}}));
  store.reset();
  EXPECT_EQ(firstAnswer(file_, "SELECT class || ' ' || name FROM named_object WHERE id = 1"),
            "Class Account");
  EXPECT_EQ(firstAnswer(file_,
                        "SELECT feature || '=' || number FROM named_attribute "
                        "WHERE object = 1 AND number <> 0"),
            "Class.isAbstract=1");
  EXPECT_EQ(firstAnswer(file_, "PRAGMA user_version"), std::to_string(kStoreSchemaVersion));
}

// A file of the first schema, which had no index of lists of values, is
// brought up to date when it is opened, and keeps what it held.
TEST_F(RepositoryFile, AVersionOneFileGainsTheIndexOfListsOfValues) {
  {
    auto store = openSqliteStore(file_);
    store->create(10);
    store->setValues(1, 3, {{7, 0, u"late return"}});
    store->commit();
  }
  runSql(file_, "DROP INDEX value_item_by_value; PRAGMA user_version = 1");
  auto store = openSqliteStore(file_);
  EXPECT_EQ(store->holdingValue(3, {7, 0, u"late return"}), (std::vector<ObjectId>{1}));
  store.reset();
  EXPECT_EQ(firstAnswer(file_, "PRAGMA user_version"), std::to_string(kStoreSchemaVersion));
  EXPECT_EQ(
      firstAnswer(file_, "SELECT count(*) FROM sqlite_schema WHERE name = 'value_item_by_value'"),
      "1");
}

// A version 7 file's two indexes by target, one led by the feature and one
// by the target alone, become one led by the target, which answers both.
TEST_F(RepositoryFile, AVersionSevenFileHasItsIndexesByTargetMadeAnew) {
  {
    auto store = openSqliteStore(file_);
    const ObjectId a = store->create(10), b = store->create(10), c = store->create(10);
    store->setReference(a, 4, c);
    store->appendMember(b, 5, c);
    store->appendMember(b, 5, a);
    store->commit();
  }
  runSql(file_,
         "DROP INDEX reference_by_target; DROP INDEX member_by_member;"
         "CREATE INDEX reference_by_target ON reference (feature, target, object);"
         "CREATE INDEX reference_to ON reference (target);"
         "CREATE INDEX member_by_member ON member (feature, member, object);"
         "CREATE INDEX member_to ON member (member); PRAGMA user_version = 7");
  auto store = openSqliteStore(file_);
  EXPECT_EQ(store->referrers(4, 3), (std::vector<ObjectId>{1}));
  EXPECT_EQ(store->referrers(5, 3), (std::vector<ObjectId>{2}));
  EXPECT_EQ(store->referencesTo(3), (std::vector<std::pair<FeatureId, ObjectId>>{{4, 1}, {5, 2}}));
  store.reset();
  EXPECT_EQ(firstAnswer(file_, "PRAGMA user_version"), std::to_string(kStoreSchemaVersion));
  EXPECT_EQ(firstAnswer(file_,
                        "SELECT group_concat(name) FROM (SELECT name FROM "
                        "pragma_index_info('member_by_member') ORDER BY seqno)"),
            "member,feature,object");
  EXPECT_EQ(firstAnswer(file_,
                        "SELECT count(*) FROM sqlite_schema WHERE name IN "
                        "('reference_to', 'member_to')"),
            "0");
}

// A removed object's rows are gone from the file, and its number is not
// given again after a restart, nor after an upgrade from version 2.
TEST_F(RepositoryFile, RemovedObjectsLeaveNoRowsAndTheirNumbersStayUsed) {
  {
    auto store = openSqliteStore(file_);
    for (int i = 0; i < 3; ++i) store->create(10);
    store->setValue(3, 1, {7, 0, u"last"});
    store->appendMember(3, 4, 1);
    store->commit();
    store->removeObject(3);
    store->commit();
  }
  for (const char* table : {"object WHERE id = 3", "attribute", "member"}) {
    EXPECT_EQ(firstAnswer(file_, std::string("SELECT count(*) FROM ").append(table).c_str()), "0")
        << table;
  }
  {
    auto store = openSqliteStore(file_);
    EXPECT_EQ(store->objectCount(), 2u);
    EXPECT_EQ(store->create(10), 4u);
    store->commit();
  }
  // A version 2 file knew no next number: it is past every object's.
  runSql(file_, "DROP TABLE object_number; PRAGMA user_version = 2");
  auto store = openSqliteStore(file_);
  EXPECT_EQ(store->create(10), 5u);
}

// One store (one server) at a time; other programs may read the file
// meanwhile, and what one writes there is read anew, never answered from
// what the store read before.
TEST_F(RepositoryFile, IsOneStoresAloneWhileItIsOpenAndSeesWhatOthersWrite) {
  auto first = openSqliteStore(file_);
  const ObjectId made = first->create(10);
  first->setValue(made, 1, {7, 0, u"before"});
  first->commit();
  EXPECT_NE(refusal(file_).find("in use by another qovixd"), std::string::npos) << refusal(file_);
  EXPECT_EQ(firstAnswer(file_, "SELECT count(*) FROM object"), "1") << "readers read";
  first->beginCall({"", false});
  EXPECT_EQ(first->value(made, 1)->text, u"before");
  first->commit();
  runSql(file_,
         "UPDATE attribute SET text = 'after'; INSERT INTO object VALUES (9, 10); "
         "UPDATE object_number SET next = 10");
  first->beginCall({"", true});
  EXPECT_EQ(first->value(made, 1)->text, u"after");
  EXPECT_EQ(first->objectCount(), 2u);
  EXPECT_EQ(first->create(10), 10u) << "past the number the other program used";
  first->commit();
  first.reset();
  EXPECT_EQ(refusal(file_), "(opened)");
}

TEST_F(RepositoryFile, FilesThatAreNotRepositoriesOfThisSchemaAreRefusedAndLeftAsTheyWere) {
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"text", [](const auto& f) { std::ofstream(f) << "not a database at all, but long enough"; },
       "not a repository"},
      {"foreign",
       [](const auto& f) {
         runSql(f, "CREATE TABLE accounts (id INTEGER); PRAGMA user_version = 3");
       },
       "not a QOVIX repository"},
      {"newer",
       [](const auto& f) {
         openSqliteStore(f);
         runSql(f, "PRAGMA user_version = 99");
       },
       "newer than this qovixd reads"},
      {"damaged",
       [](const auto& f) {
         openSqliteStore(f);
         std::string bytes = contentsOf(f);
         for (std::size_t i = 100; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5);
         std::ofstream(f, std::ios::binary) << bytes;
       },
       "damaged"},
      {"folder", [](const auto& f) { std::filesystem::create_directory(f); }, "not a plain file"},
  };
  for (const Case& each : cases) {
    const std::filesystem::path file = folder_.path() / each.name;
    each.make(file);
    const std::string before = std::filesystem::is_regular_file(file) ? contentsOf(file) : "";
    const std::string said = refusal(file);
    EXPECT_NE(said.find(each.says), std::string::npos) << each.name << ": " << said;
    EXPECT_NE(said.find(file.string()), std::string::npos) << each.name << ": names the file";
    if (!before.empty()) {
      EXPECT_EQ(contentsOf(file), before) << each.name << ": left as it was";
    }
    EXPECT_FALSE(std::filesystem::exists(file.string() + "-wal")) << each.name;
  }
}

}  // namespace

namespace {

// The log is copied into the file beside the writer, never inside a
// commit: past a thousand pages at once, and after a pause from a hundred.
// However fast the writes come, the log stays within its bound, and
// everything is kept.
TEST_F(RepositoryFile, TheLogIsCheckpointedBesideTheWriterAndStaysBounded) {
  auto store = openSqliteStore(file_);
  const std::filesystem::path log = file_.string() + "-wal";
  const std::u16string page(1500, u'x');  // a page or two a value, with its index
  const auto before = std::filesystem::file_size(file_);
  std::uintmax_t largestLog = 0;
  constexpr int kMade = 3000;  // some 6,000 pages, six times the busy bound
  for (int made = 0; made < kMade; ++made) {
    store->setValue(store->create(10), 1, {7, 0, page});
    store->commit();
    largestLog = std::max(largestLog, std::filesystem::file_size(log));
  }
  EXPECT_LE(largestLog, (LogCheckpointer::kMostPages + 2000) * 4096u)
      << "the log outgrew its bound";
  // In the pause after the writes, whatever the log holds is copied.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::filesystem::file_size(file_) < before + 4000 * 4096u &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GE(std::filesystem::file_size(file_), before + 4000 * 4096u)
      << "the log's pages are in the file";
  store->setValue(1, 1, {7, 0, u"after"});
  store->commit();
  store.reset();
  store = openSqliteStore(file_);
  EXPECT_EQ(store->objectCount(), static_cast<std::size_t>(kMade));
  EXPECT_EQ(store->value(1, 1)->text, u"after");
  EXPECT_EQ(store->value(static_cast<ObjectId>(kMade), 1)->text, page);
}

// The writer waits for a lock another connection of this process holds a
// moment, as the log's checkpoint does, instead of failing at once.
TEST_F(RepositoryFile, TheWriterWaitsForALockHeldAMoment) {
  auto store = openSqliteStore(file_);
  store->setValue(store->create(10), 1, {7, 0, u"first"});
  store->commit();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread release([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  EXPECT_NO_THROW({
    store->setValue(1, 1, {7, 0, u"second"});
    store->commit();
  });
  release.join();
  sqlite3_close(other);
  EXPECT_EQ(store->value(1, 1)->text, u"second");
}

}  // namespace
