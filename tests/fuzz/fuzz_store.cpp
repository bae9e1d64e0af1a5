// The repository file as an input: qovixd opens whatever file --store names,
// so a damaged or hostile file must be refused with a StoreError, or read
// (and written) without a crash, a leak or undefined behaviour. The input is
// the whole file; each run reads what objects it finds, their history, and
// writes a little. qovix-store reads the same files: its check and info
// must report, never crash.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "admin/store_commands.h"
#include "store/sqlite_store.h"

namespace {

const std::filesystem::path& inputFile() {
  static const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("qovix-fuzz-store-" + std::to_string(getpid()));
  return file;
}

void writeInput(const std::uint8_t* data, std::size_t size) {
  for (const char* end : {"", "-wal", "-shm", "-journal"}) {
    std::filesystem::remove(inputFile().string() + end);
  }
  std::ofstream(inputFile(), std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void readAndWrite(PersistentStore& store) {
  const auto count = static_cast<ObjectId>(std::min<std::size_t>(store.objectCount(), 16));
  for (ObjectId id = 1; id <= count; ++id) {
    const ClassId classId = store.classOf(id);
    store.instancesOf(std::span(&classId, 1));
    for (FeatureId feature = 1; feature <= 8; ++feature) {
      if (const auto value = store.value(id, feature)) store.holdingValue(feature, *value);
      store.reference(id, feature);
      store.members(id, feature);
      store.values(id, feature);
      store.referrers(feature, id);
    }
  }
  for (ObjectId id = 1; id <= count; ++id) store.historyOf(id, 0, 4);
  store.commitAt(store.lastCommit(), 4);
  const ObjectId made = store.create(1);
  store.setValue(made, 1, {1, 2, u"fuzz"});
  store.insertMember(made, 2, 1, 0);
  if (count > 0) store.insertMember(1, 2, made, 0);
  store.commit();
}

}  // namespace

// What qovix-store says of the file, before the store has touched it.
void examine() {
  std::ostringstream said;
  try {
    qovix::admin::checkStore(inputFile().string(), said);
    qovix::admin::printInfo(inputFile().string(), said);
  } catch (const std::exception&) {
    // refused, said
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  writeInput(data, size);
  examine();
  writeInput(data, size);
  try {
    const auto store = openSqliteStore(inputFile());
    try {
      readAndWrite(*store);
    } catch (const std::out_of_range&) {
      store->rollback();
    } catch (const std::invalid_argument&) {
      store->rollback();
    }
  } catch (const StoreError&) {
    // refused, or found damaged while reading: said, not crashed
  }
  return 0;
}
