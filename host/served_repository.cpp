#include "host/served_repository.h"

#include <filesystem>

#include "host/host_error.h"
#include "platform/qovix_srv/model_metadata.h"
#include "platform/store/sqlite_store.h"
#include "platform/vorn_os/handle_registry.h"

namespace {

bool inMemory(const HostOptions& options) { return options.storePath == kMemoryStore; }

std::unique_ptr<PersistentStore> openStore(const HostOptions& options) {
  if (inMemory(options)) return makeMemoryStore();
  SqliteStoreOptions store;
  store.sync = options.syncFull ? SqliteStoreOptions::Sync::Full : SqliteStoreOptions::Sync::Normal;
  for (const ClassInfo& each : modelClasses()) store.classNames.push_back({each.id, each.name});
  for (const FeatureInfo& each : modelFeatures()) {
    store.featureNames.push_back({each.id, each.owner, each.name});
  }
  try {
    return openSqliteStore(options.storePath, store);
  } catch (const StoreError& error) {
    throw HostError(error.what());
  }
}

std::string describe(const HostOptions& options) {
  if (inMemory(options)) return "memory (not kept when qovixd stops)";
  std::error_code error;
  const auto path = std::filesystem::absolute(options.storePath, error);
  return (error ? options.storePath : path.string()) + (options.syncFull ? " (sync full)" : "");
}

}  // namespace

ServedRepository::ServedRepository(const HostOptions& options)
    : storeDescription_(describe(options)),
      repository_(options.repositoryName, openStore(options)) {
  if (!options.documentFolder.empty()) {
    std::error_code error;
    const auto folder = std::filesystem::canonical(options.documentFolder, error);
    if (error || !std::filesystem::is_directory(folder)) {
      throw HostError("--documents: '" + options.documentFolder + "' is no folder");
    }
    repository_.store().settings().documentFolder = folder;
  }
  StoreLimits limits;
  limits.mostObjects = options.maxObjects;
  repository_.store().settings().limits = limits;
  vorn_os::setMostHandlesPerCaller(options.maxHandlesPerClient);
  handle_ = getHandle(&repository_, static_cast<VornObject*>(&repository_), nullptr);
  if (handle_ == 0) throw HostError("cannot register the repository");
}

ServedRepository::~ServedRepository() {
  deleteHandle(handle_);  // the repository is ours, not the registry's to delete
  vorn_os::releaseAll();
}
