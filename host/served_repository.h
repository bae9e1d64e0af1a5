#pragma once

// The repository qovixd serves: its store opened at start-up (the file, or
// memory), registered so clients can name it (the host program's procedure
// 1 answers its handle), and at stop released together with every handle
// clients still hold.

#include <cstdint>
#include <string>

#include "host/options.h"
#include "model/wkm_srv/VORN.h"

class ServedRepository {
 public:
  // Throws HostError when the document folder is given but is no folder, or
  // the store cannot be opened.
  explicit ServedRepository(const HostOptions& options);
  // Releases every handle clients still hold, then the repository. It must
  // go while the library that made those objects is still loaded.
  ~ServedRepository();
  ServedRepository(const ServedRepository&) = delete;
  ServedRepository& operator=(const ServedRepository&) = delete;

  // Names this server in the commit log: its host's name and `port`.
  void serveOn(std::uint16_t port);

  unsigned long handle() const { return handle_; }
  VORN& repository() { return repository_; }
  // What qovixd says of its store once ready: the file, or memory.
  const std::string& storeDescription() const { return storeDescription_; }

 private:
  std::string storeDescription_;
  VORN repository_;
  unsigned long handle_;
};
