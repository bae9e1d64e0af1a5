#pragma once

// Keeps a repository file for one server process: a second one that asks
// for the same file is refused, while readers such as the sqlite3 tool,
// which do not ask, may still read it. The lock goes when its holder exits,
// however it exits.

#include <filesystem>

class FileLock {
 public:
  // Throws StoreError when another process holds the file, or when the path
  // names something other than a plain file.
  explicit FileLock(const std::filesystem::path& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};
