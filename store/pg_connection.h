#pragma once

// One libpq connection in pipeline mode: statements that answer nothing
// the caller waits for (writes, a reading transaction's end) are sent and
// not waited on; the next statement whose answer is wanted brings every
// answer before it in the same round trip. Every failure becomes a
// StoreError saying what was being done and what PostgreSQL said.

#include <libpq-fe.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/persistent_store.h"

// A statement's parameters, in text form; a null parameter is SQL NULL.
class PgParams {
 public:
  PgParams& operator<<(std::int64_t number);
  PgParams& operator<<(std::string text);
  PgParams& null();

  int count() const { return static_cast<int>(texts_.size()); }
  const char* const* values() const;

 private:
  std::vector<std::string> texts_;
  std::vector<bool> isNull_;
  mutable std::vector<const char*> pointers_;
};

// The rows a statement answered.
class PgResult {
 public:
  explicit PgResult(PGresult* result) : result_(result, &PQclear) {}
  ExecStatusType status() const { return PQresultStatus(result_.get()); }
  std::string error() const;
  int rows() const { return PQntuples(result_.get()); }
  bool isNull(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
  std::int64_t integer(int row, int column) const;
  std::string_view text(int row, int column) const;

 private:
  std::unique_ptr<PGresult, void (*)(PGresult*)> result_;
};

// A named statement, prepared on every connection made.
struct PgStatement {
  const char* name;
  const char* sql;
};

class PgConnection {
 public:
  // Connects with a libpq URI or conninfo string; on each connection made
  // runs `setup` (SET commands), then `onConnect` (which may use execute and
  // query), then prepares `statements`. Throws StoreError.
  PgConnection(std::string conninfo, std::vector<PgStatement> statements, std::string setup,
               std::function<void(PgConnection&)> onConnect);
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Runs SQL that answers nothing, waiting for it: outside the pipeline's
  // use, as at opening. Throws StoreError.
  void execute(const std::string& sql, std::string_view doing);
  // Runs SQL that answers rows, waiting for them; as execute.
  PgResult query(const std::string& sql, std::string_view doing);

  // Sends a prepared statement whose answer no one waits for; its failure
  // comes out of the next wait().
  void send(const char* name, const PgParams& params = {});
  // Sends a prepared statement and waits for its rows (and every answer
  // before it). Throws StoreError for the first statement that failed.
  PgResult fetch(const char* name, const PgParams& params = {});
  // Waits for every answer sent so far. Throws StoreError as fetch does.
  void wait();
  // Ends what was sent so far for the server to run, without waiting.
  void flush();
  // What was sent so far may fail unheard: it is being undone. What is sent
  // next runs whether or not it failed.
  void quietSoFar();

  // Whether the connection is lost.
  bool lost() const { return PQstatus(connection_.get()) == CONNECTION_BAD; }
  // Connects again, as at first. Throws StoreError.
  void reconnect();

  // Where it is connected to, without a password: "database 'x' on host y".
  const std::string& description() const { return description_; }

 private:
  struct Expected {
    bool sync;  // a sync point, else a statement's answer
    std::string what;
    bool quiet = false;  // its failure is not reported
  };

  void connect();
  void sendPrepared(const char* name, const PgParams& params);
  void sendSync();
  // Nothing more will be read of what was sent (the connection is lost, or
  // new).
  void forgetExpected() {
    expected_.clear();
    unread_ = 0;
  }
  // Reads every answer expected, keeping the one `keepAt` places ahead.
  PgResult readAll(std::size_t keepAt);
  [[noreturn]] void fail(std::string_view doing) const;

  std::string conninfo_;
  std::vector<PgStatement> statements_;
  std::string setup_;
  std::function<void(PgConnection&)> onConnect_;
  std::string description_;
  std::unique_ptr<PGconn, void (*)(PGconn*)> connection_{nullptr, &PQfinish};
  std::deque<Expected> expected_;  // answers sent for and not yet read, in order
  std::size_t unread_ = 0;         // statements among them
};

// Refuses a URI or conninfo string that carries a password: passwords come
// from ~/.pgpass, PGPASSFILE or the environment, never from a command line
// or a log. Throws StoreError for one that libpq cannot parse.
void checkConninfo(const std::string& conninfo);
// Where a URI or conninfo string leads, as messages say it: "the
// PostgreSQL database 'x' on host h port p" (what it leaves out is
// libpq's default).
std::string describeConninfo(const std::string& conninfo);
