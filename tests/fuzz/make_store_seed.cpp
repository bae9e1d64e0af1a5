// Writes the store fuzzer's seed: a small repository file, made by the store
// itself and then compacted to 512-byte pages so that the fuzzer can afford
// to vary all of it.
//
//   qovix_make_store_seed OUT_FILE

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>

#include "platform/store/sqlite_store.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qovix_make_store_seed OUT_FILE\n");
    return 2;
  }
  std::filesystem::remove(argv[1]);
  {
    const auto store = openSqliteStore(argv[1]);
    for (ObjectId id = 1; id <= 6; ++id) {
      store->create(id % 2 + 1);
      store->setValue(id, 1, {1, static_cast<std::int32_t>(id), u"name"});
      if (id > 1) store->setReference(id, 3, id - 1);
      if (id > 1) store->appendMember(1, 2, id);
    }
    store->setValues(2, 4, {{1, 0, u"a"}, {2, 7, {}}});
    store->commit();
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(argv[1], &db) != SQLITE_OK ||
      sqlite3_exec(db, "PRAGMA journal_mode = DELETE; PRAGMA page_size = 512; VACUUM;", nullptr,
                   nullptr, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "qovix_make_store_seed: %s\n", sqlite3_errmsg(db));
    return 1;
  }
  sqlite3_close(db);
  return 0;
}
