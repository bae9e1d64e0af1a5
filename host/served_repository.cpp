#include "host/served_repository.h"

#include <unistd.h>

#include <array>
#include <filesystem>

#include "host/host_error.h"
#include "model_classes.h"
#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/reading.h"
#include "model/vorn_os/handle_registry.h"
#include "store/open_store.h"
#include "store/postgres_store.h"

namespace {

bool inMemory(const HostOptions& options) {
  return storeKindOf(options.storePath) == StoreKind::Memory;
}

std::unique_ptr<PersistentStore> openServedStore(const HostOptions& options) {
  StoreOptions store;
  store.sync = options.sync;
  for (const ClassInfo& each : modelClasses()) store.classNames.push_back({each.id, each.name});
  for (const FeatureInfo& each : modelFeatures()) {
    store.featureNames.push_back({each.id, each.owner, each.name});
  }
  store.searchedName = feature::name;  // what search by name finds
  store.roots = model::packageRoots();   // the top-level packages
  try {
    return openStore(options.storePath, store);
  } catch (const StoreError& error) {
    throw HostError(error.what());
  }
}

std::string syncNote(const HostOptions& options) {
  switch (options.sync) {
    case StoreOptions::Sync::Full:
      return " (sync full)";
    case StoreOptions::Sync::Relaxed:
      return namesPostgres(options.storePath)
                 ? " (sync relaxed: the last changes acknowledged may be lost if PostgreSQL "
                   "stops at once)"
                 : "";
    case StoreOptions::Sync::Normal:
      break;
  }
  return "";
}

std::string describe(const HostOptions& options) {
  if (inMemory(options)) return "memory (not kept when qovixd stops)";
  if (namesPostgres(options.storePath))
    return describePostgres(options.storePath) + syncNote(options);
  std::error_code error;
  const auto path = std::filesystem::absolute(options.storePath, error);
  return (error ? options.storePath : path.string()) + syncNote(options);
}

}  // namespace

ServedRepository::ServedRepository(const HostOptions& options)
    : storeDescription_(describe(options)),
      repository_(options.repositoryName, openServedStore(options)) {
  if (!options.documentFolder.empty()) {
    std::error_code error;
    const auto folder = std::filesystem::canonical(options.documentFolder, error);
    if (error || !std::filesystem::is_directory(folder)) {
      throw HostError("--documents: '" + options.documentFolder + "' is no folder");
    }
    repository_.store().settings().documentFolder = folder;
  }
  StoreSettings& settings = repository_.store().settings();
  settings.limits.mostObjects = options.maxObjects;
  settings.mostDocumentBytes = std::uint64_t{options.maxDocumentMib} << 20;
  settings.cacheBytes = options.cacheMib << 20;
  settings.history = options.history;
  vorn_os::setMostHandlesPerCaller(options.maxHandlesPerClient);
  handle_ = getHandle(&repository_, static_cast<VornObject*>(&repository_), nullptr);
  if (handle_ == 0) throw HostError("cannot register the repository");
}

void ServedRepository::serveOn(std::uint16_t port) {
  std::array<char, 256> host{};
  if (gethostname(host.data(), host.size() - 1) != 0) host[0] = '\0';
  repository_.store().settings().server =
      std::string(host.data()).append(":").append(std::to_string(port));
}

ServedRepository::~ServedRepository() {
  deleteHandle(handle_);  // the repository is ours, not the registry's to delete
  vorn_os::releaseAll();
}
