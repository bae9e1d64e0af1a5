// Writes the seeds of the fuzzers whose input is a file: a small repository
// file, made by the store itself and compacted to 512-byte pages so that the
// fuzzer can afford to vary all of it; and a package document, written by
// externalize from a small model.
//
//   qovix_make_file_seeds OUT_DIR     # OUT_DIR/store/repository.sqlite3, OUT_DIR/documents/model,
//                                     # OUT_DIR/connections/start

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "model_classes.h"
#include "store/sqlite_store.h"

namespace {

bool writeStoreSeed(const std::filesystem::path& file) {
  std::filesystem::remove(file);
  {
    const auto store = openSqliteStore(file);
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
  const bool compacted =
      sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
      sqlite3_exec(db, "PRAGMA journal_mode = DELETE; PRAGMA page_size = 512; VACUUM;", nullptr,
                   nullptr, nullptr) == SQLITE_OK;
  if (!compacted) std::fprintf(stderr, "qovix_make_file_seeds: %s\n", sqlite3_errmsg(db));
  sqlite3_close(db);
  return compacted;
}

void writeDocumentSeed(const std::filesystem::path& folder) {
  VORN repository("seed");
  repository.store().settings().documentFolder = folder;
  QOVIXPackage package(repository);
  QOVIXModelElement::cast(package, 1).set_name(QOVIXName(u"Bank"));
  QOVIXNamespace space = QOVIXNamespace::cast(package, 1);
  QOVIXClass account(repository), savings(repository);
  account.construct(space, QOVIXName(u"Account"));
  savings.construct(space, QOVIXName(u"Savings \u00e9"));
  QOVIXAttribute balance(repository);
  QOVIXClassifier classifier = QOVIXClassifier::cast(account, 1);
  balance.construct(classifier, QOVIXName(u"balance"));
  QOVIXGeneralization generalization(repository);
  QOVIXGeneralizableElement sub = QOVIXGeneralizableElement::cast(savings, 1);
  QOVIXGeneralizableElement super = QOVIXGeneralizableElement::cast(account, 1);
  generalization.set_subtype(sub);
  generalization.set_supertype(super);
  package.externalize(QOVIXUninterpreted(u""), QOVIXString(u"model"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qovix_make_file_seeds OUT_DIR\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::filesystem::create_directories(out / "store");
  std::filesystem::create_directories(out / "documents");
  if (!writeStoreSeed(out / "store" / "repository.sqlite3")) return 1;
  writeDocumentSeed(out / "documents");
  // The connections fuzzer plays from its own moves; one short game to begin.
  std::filesystem::create_directories(out / "connections");
  std::ofstream(out / "connections" / "start", std::ios::binary) << std::string("\x06\x01\x00\x00", 4);
  return 0;
}
