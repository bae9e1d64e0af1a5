#pragma once

// The repository qovixd serves: created at start-up, registered so clients
// can name it (the host program's procedure 1 answers its handle), and at
// stop released together with every handle clients still hold.

#include <string>

#include "platform/wkm_srv/VORN.h"

class ServedRepository {
 public:
  // Throws HostError when the document folder is given but is no folder.
  ServedRepository(const std::string& name, const std::string& documentFolder);
  // Releases every handle clients still hold, then the repository. It must
  // go while the library that made those objects is still loaded.
  ~ServedRepository();
  ServedRepository(const ServedRepository&) = delete;
  ServedRepository& operator=(const ServedRepository&) = delete;

  unsigned long handle() const { return handle_; }
  VORN& repository() { return repository_; }

 private:
  VORN repository_;
  unsigned long handle_;
};
