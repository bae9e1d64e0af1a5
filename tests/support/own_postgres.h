#pragma once

// A PostgreSQL server of a benchmark's own (scripts/postgres-server), in a
// folder removed when it goes: started by the constructor, stopped and
// removed by the destructor.

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/temporary_folder.h"

class OwnPostgres {
 public:
  // ForTests: fsync off (the tests crash the server, never the machine);
  // AsInstalled: PostgreSQL's own settings, as a user runs it.
  enum class Settings { ForTests, AsInstalled };
  // Throws std::runtime_error when it cannot start (PostgreSQL missing).
  explicit OwnPostgres(Settings settings = Settings::ForTests);
  ~OwnPostgres();
  OwnPostgres(const OwnPostgres&) = delete;
  OwnPostgres& operator=(const OwnPostgres&) = delete;

  // A new, empty database on it, as qovixd's --store names it.
  std::string freshDatabase();
  // The server processes serving qovixd's connections.
  std::vector<pid_t> qovixdBackends();

 private:
  TemporaryFolder folder_;
  std::string conninfo_;
};
