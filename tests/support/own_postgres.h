#pragma once

// A PostgreSQL server of a benchmark's own (scripts/postgres-server), in a
// folder removed when it goes: started by the constructor, stopped and
// removed by the destructor.

#include <string>

#include "tests/support/temporary_folder.h"

class OwnPostgres {
 public:
  // Throws std::runtime_error when it cannot start (PostgreSQL missing).
  OwnPostgres();
  ~OwnPostgres();
  OwnPostgres(const OwnPostgres&) = delete;
  OwnPostgres& operator=(const OwnPostgres&) = delete;

  // A new, empty database on it, as qovixd's --store names it.
  std::string freshDatabase();

 private:
  TemporaryFolder folder_;
  std::string conninfo_;
};
