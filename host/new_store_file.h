#pragma once

// A repository file this start of qovixd makes: when the start fails (the
// port is taken, the certificate is unreadable), the file it made goes with
// it, so the next try starts as the first did. A file that was there
// before, a database, or a repository in memory is never touched.

#include <sys/types.h>

#include <string>

#include "host/options.h"

class NewStoreFile {
 public:
  // Notes whether the file is missing: call before the store opens it.
  explicit NewStoreFile(const HostOptions& options);
  ~NewStoreFile();
  NewStoreFile(const NewStoreFile&) = delete;
  NewStoreFile& operator=(const NewStoreFile&) = delete;

  // The store has opened (and so made) the file: it is ours to remove if
  // the start fails. Until then it may be another server's, which made it
  // first and holds it.
  void opened();
  // The server is serving: the file is the repository now, and stays.
  void keep() { made_ = false; }

 private:
  std::string path_;  // empty: the file was there, or is no file
  bool made_ = false;
  dev_t device_ = 0;  // which file it was, so that one made since is left alone
  ino_t inode_ = 0;
};
