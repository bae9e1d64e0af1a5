#include "host/new_store_file.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "store/open_store.h"
#include "store/sqlite_store.h"

NewStoreFile::NewStoreFile(const HostOptions& options) {
  if (storeKindOf(options.storePath) != StoreKind::File) return;
  std::error_code error;
  // symlink_status: a link, even to nothing, is something that was there.
  const auto status = std::filesystem::symlink_status(options.storePath, error);
  if (status.type() == std::filesystem::file_type::not_found) path_ = options.storePath;
}

void NewStoreFile::opened() {
  struct stat file {};
  if (path_.empty() || ::lstat(path_.c_str(), &file) != 0) return;
  made_ = true;
  device_ = file.st_dev;
  inode_ = file.st_ino;
}

NewStoreFile::~NewStoreFile() {
  struct stat file {};
  if (!made_ || ::lstat(path_.c_str(), &file) != 0) return;
  if (file.st_dev == device_ && file.st_ino == inode_) removeRepositoryFile(path_);
}
