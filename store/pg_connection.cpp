#include "store/pg_connection.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <utility>

namespace {

// Statements sent and not waited for are answered after this many, so
// that neither side's buffers fill while the other waits to send.
constexpr std::size_t kMostUnread = 256;

std::string trimmed(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

struct ConninfoOptions {
  PQconninfoOption* options;
  ~ConninfoOptions() {
    if (options != nullptr) PQconninfoFree(options);
  }
};

}  // namespace

PgParams& PgParams::operator<<(std::int64_t number) { return *this << std::to_string(number); }

PgParams& PgParams::operator<<(std::string text) {
  texts_.push_back(std::move(text));
  isNull_.push_back(false);
  return *this;
}

PgParams& PgParams::null() {
  texts_.emplace_back();
  isNull_.push_back(true);
  return *this;
}

const char* const* PgParams::values() const {
  pointers_.clear();
  for (std::size_t i = 0; i < texts_.size(); ++i) {
    pointers_.push_back(isNull_[i] ? nullptr : texts_[i].c_str());
  }
  return pointers_.data();
}

std::int64_t PgResult::integer(int row, int column) const {
  const std::string_view digits = text(row, column);
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size()) {
    throw StoreError("PostgreSQL answered '" + std::string(digits) + "' where a number belongs");
  }
  return number;
}

std::string PgResult::error() const {
  const char* message = PQresultErrorMessage(result_.get());
  return trimmed(message != nullptr && *message != '\0' ? message : PQresStatus(status()));
}

std::string_view PgResult::text(int row, int column) const {
  return {PQgetvalue(result_.get(), row, column),
          static_cast<std::size_t>(PQgetlength(result_.get(), row, column))};
}

void checkConninfo(const std::string& conninfo) {
  char* error = nullptr;
  const ConninfoOptions parsed{PQconninfoParse(conninfo.c_str(), &error)};
  if (parsed.options == nullptr) {
    std::string message = trimmed(error);
    PQfreemem(error);
    throw StoreError("the PostgreSQL connection string cannot be read: " + message);
  }
  for (const PQconninfoOption* each = parsed.options; each->keyword != nullptr; ++each) {
    if (std::string_view(each->keyword) == "password" && each->val != nullptr &&
        *each->val != '\0') {
      throw StoreError(
          "the PostgreSQL connection string holds a password: give it in ~/.pgpass, "
          "PGPASSFILE or PGPASSWORD instead, where no process list or log shows it");
    }
  }
}

std::string describeConninfo(const std::string& conninfo) {
  char* error = nullptr;
  const ConninfoOptions parsed{PQconninfoParse(conninfo.c_str(), &error)};
  PQfreemem(error);
  std::string database, host, port;
  for (const PQconninfoOption* each = parsed.options; each != nullptr && each->keyword != nullptr;
       ++each) {
    const std::string_view keyword = each->keyword;
    const char* value = each->val != nullptr && *each->val != '\0' ? each->val : nullptr;
    if (value == nullptr) continue;
    if (keyword == "dbname") database = value;
    if (keyword == "host") host = value;
    if (keyword == "port") port = value;
  }
  std::string text = "the PostgreSQL database";
  if (!database.empty()) text.append(" '").append(database).append("'");
  if (!host.empty())
    text.append(host.front() == '/' ? " on the socket in " : " on host ").append(host);
  if (!port.empty()) text.append(" port ").append(port);
  return text;
}

PgConnection::PgConnection(std::string conninfo, std::vector<PgStatement> statements,
                           std::string setup, std::function<void(PgConnection&)> onConnect)
    : conninfo_(std::move(conninfo)),
      statements_(std::move(statements)),
      setup_(std::move(setup)),
      onConnect_(std::move(onConnect)) {
  checkConninfo(conninfo_);
  connect();
}

// What a connection string leaves unsaid is said here: a database server
// that stops answering (its host gone, a network cut) is given up on within
// about 15 seconds, at connecting and while serving, instead of the
// system's hours; each call it held answers the system error.
constexpr std::array<std::pair<const char*, const char*>, 5> kPatience = {{
    {"connect_timeout", "10"},
    {"keepalives_idle", "5"},
    {"keepalives_interval", "2"},
    {"keepalives_count", "3"},
    {"tcp_user_timeout", "15000"},
}};

void PgConnection::connect() {
  forgetExpected();
  // The string comes last, so that what it says wins.
  std::vector<const char*> keywords, values;
  for (const auto& [keyword, value] : kPatience) {
    keywords.push_back(keyword);
    values.push_back(value);
  }
  keywords.push_back("dbname");
  values.push_back(conninfo_.c_str());
  keywords.push_back(nullptr);
  values.push_back(nullptr);
  connection_.reset(PQconnectdbParams(keywords.data(), values.data(), 1));
  if (connection_ == nullptr) throw std::bad_alloc();
  if (PQstatus(connection_.get()) != CONNECTION_OK) {
    throw StoreError("cannot connect to PostgreSQL: " + trimmed(PQerrorMessage(connection_.get())));
  }
  const char* host = PQhost(connection_.get());
  description_ = "the PostgreSQL database '" + std::string(PQdb(connection_.get())) + "' on " +
                 (host != nullptr && *host == '/' ? "the socket in " : "host ") +
                 (host != nullptr ? host : "") + " port " + PQport(connection_.get());
  if (!setup_.empty()) execute(setup_, "setting up the session");
  if (onConnect_) onConnect_(*this);
  for (const PgStatement& statement : statements_) {
    PgResult prepared(PQprepare(connection_.get(), statement.name, statement.sql, 0, nullptr));
    if (prepared.status() != PGRES_COMMAND_OK) {
      throw StoreError(std::string("PostgreSQL refused statement ") + statement.name + ": " +
                       prepared.error());
    }
  }
  if (PQenterPipelineMode(connection_.get()) == 0) fail("entering pipeline mode");
}

void PgConnection::reconnect() { connect(); }

void PgConnection::fail(std::string_view doing) const {
  throw StoreError("PostgreSQL failed " + std::string(doing) + ": " +
                   trimmed(PQerrorMessage(connection_.get())));
}

void PgConnection::execute(const std::string& sql, std::string_view doing) {
  PgResult result(PQexec(connection_.get(), sql.c_str()));
  if (result.status() != PGRES_COMMAND_OK && result.status() != PGRES_TUPLES_OK) {
    throw StoreError("PostgreSQL failed " + std::string(doing) + ": " + result.error());
  }
}

PgResult PgConnection::query(const std::string& sql, std::string_view doing) {
  PgResult result(PQexec(connection_.get(), sql.c_str()));
  if (result.status() != PGRES_TUPLES_OK) {
    throw StoreError("PostgreSQL failed " + std::string(doing) + ": " + result.error());
  }
  return result;
}

void PgConnection::sendPrepared(const char* name, const PgParams& params) {
  if (PQsendQueryPrepared(connection_.get(), name, params.count(), params.values(), nullptr,
                          nullptr, 0) == 0) {
    forgetExpected();
    fail(std::string("sending ") + name);
  }
  expected_.push_back({false, name});
  ++unread_;
}

void PgConnection::sendSync() {
  if (PQpipelineSync(connection_.get()) == 0) {
    forgetExpected();
    fail("sending a sync");
  }
  expected_.push_back({true, {}});
}

void PgConnection::send(const char* name, const PgParams& params) {
  sendPrepared(name, params);
  if (unread_ >= kMostUnread) wait();
}

PgResult PgConnection::fetch(const char* name, const PgParams& params) {
  sendPrepared(name, params);
  const std::size_t keepAt = expected_.size() - 1;
  sendSync();
  return readAll(keepAt);
}

void PgConnection::wait() {
  if (expected_.empty()) return;
  if (!expected_.back().sync) sendSync();
  readAll(SIZE_MAX);
}

void PgConnection::quietSoFar() {
  // A failure aborts what follows it up to the next sync point: what comes
  // next starts after one.
  if (!expected_.empty() && !expected_.back().sync) sendSync();
  for (Expected& each : expected_) each.quiet = true;
}

void PgConnection::flush() {
  if (!expected_.empty() && !expected_.back().sync) sendSync();
  if (PQflush(connection_.get()) != 0) {
    forgetExpected();
    fail("sending");
  }
}

// Reads every answer expected, through the last sync point; what failed
// first is thrown once all are read, so that the connection is ready for
// the next statement (a rollback) whatever happened.
PgResult PgConnection::readAll(std::size_t keepAt) {
  unread_ = 0;  // all of them, whatever happens
  PgResult kept(nullptr);
  std::string failure;
  for (std::size_t at = 0; !expected_.empty(); ++at) {
    const Expected expected = std::move(expected_.front());
    expected_.pop_front();
    PGresult* answer = PQgetResult(connection_.get());
    if (answer == nullptr) {
      forgetExpected();  // the connection is lost: nothing more will come
      fail("reading an answer");
    }
    PgResult result(answer);
    if (expected.sync) {
      if (result.status() != PGRES_PIPELINE_SYNC && failure.empty() && !expected.quiet) {
        failure = "at a sync point: " + result.error();
      }
      continue;
    }
    while (PGresult* more = PQgetResult(connection_.get())) PQclear(more);  // the answer's end
    if (expected.quiet) {
      // undone already
    } else if (result.status() == PGRES_FATAL_ERROR && failure.empty()) {
      failure = expected.what + ": " + result.error();
    } else if (result.status() == PGRES_PIPELINE_ABORTED && failure.empty()) {
      failure = expected.what + ": not run, after an earlier failure";
    }
    if (at == keepAt) kept = std::move(result);
  }
  if (!failure.empty()) throw StoreError("PostgreSQL failed " + failure);
  return kept;
}
