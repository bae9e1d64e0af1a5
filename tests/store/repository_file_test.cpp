// The repository file as users meet it: what it keeps across a reopen, what
// plain SQL sees in it, and the files it refuses, each left as it was.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "platform/store/sqlite_store.h"
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

std::string firstAnswer(const std::filesystem::path& file, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  std::string answer = "(error)";
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    answer = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
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

TEST_F(RepositoryFile, IsOneStoresAloneWhileItIsOpen) {
  auto first = openSqliteStore(file_);
  first->create(10);
  first->commit();
  EXPECT_NE(refusal(file_).find("in use by another qovixd"), std::string::npos) << refusal(file_);
  EXPECT_EQ(firstAnswer(file_, "SELECT count(*) FROM object"), "(error)") << "locked";
  first.reset();
  EXPECT_EQ(firstAnswer(file_, "SELECT count(*) FROM object"), "1");
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

// The log's checkpoint waits for a pause between calls: due once the log
// holds a few hundred pages, it copies them into the file when done.
TEST_F(RepositoryFile, ACheckpointWaitsForAPauseAndKeepsEverything) {
  auto store = openSqliteStore(file_);
  EXPECT_EQ(store->upkeepDue(), PersistentStore::Upkeep::None);
  const std::u16string page(1500, u'x');  // a page or two a value, with its index
  int made = 0;
  while (store->upkeepDue() == PersistentStore::Upkeep::None && made < 1000) {
    store->setValue(store->create(10), 1, {7, 0, page});
    store->commit();
    ++made;
  }
  EXPECT_EQ(store->upkeepDue(), PersistentStore::Upkeep::WhenIdle);
  EXPECT_GT(made, 5) << "due after a few hundred pages, not at once";
  const auto before = std::filesystem::file_size(file_);
  store->upkeep();
  EXPECT_EQ(store->upkeepDue(), PersistentStore::Upkeep::None);
  EXPECT_GT(std::filesystem::file_size(file_), before + 50 * 4096)
      << "the log's pages are in the file";
  store->setValue(1, 1, {7, 0, u"after"});
  store->commit();
  store.reset();
  store = openSqliteStore(file_);
  EXPECT_EQ(store->objectCount(), static_cast<std::size_t>(made));
  EXPECT_EQ(store->value(1, 1)->text, u"after");
  EXPECT_EQ(store->value(static_cast<ObjectId>(made), 1)->text, page);
}

}  // namespace
