#include "tests/support/test_postgres.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace {

std::string answer(const std::string& conninfo, const std::string& sql) {
  const std::unique_ptr<PGconn, void (*)(PGconn*)> connection(PQconnectdb(conninfo.c_str()),
                                                              &PQfinish);
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    throw std::runtime_error("cannot connect to the test PostgreSQL: " +
                             std::string(PQerrorMessage(connection.get())));
  }
  const std::unique_ptr<PGresult, void (*)(PGresult*)> result(PQexec(connection.get(), sql.c_str()),
                                                              &PQclear);
  const ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw std::runtime_error(sql + ": " + PQresultErrorMessage(result.get()));
  }
  if (status == PGRES_COMMAND_OK || PQntuples(result.get()) == 0) return {};
  return PQgetvalue(result.get(), 0, 0);
}

}  // namespace

std::optional<std::string> testPostgres() {
  const char* conninfo = std::getenv("QOVIX_TEST_POSTGRES");
  if (conninfo == nullptr || *conninfo == '\0') return std::nullopt;
  return std::string(conninfo);
}

std::string freshPostgresDatabase() {
  const auto server = testPostgres();
  if (!server) throw std::runtime_error("no test PostgreSQL (QOVIX_TEST_POSTGRES)");
  return freshPostgresDatabase(*server);
}

std::string freshPostgresDatabase(const std::string& server) {
  static std::atomic<int> made{0};
  std::string name("t");
  name.append(std::to_string(getpid())).append("_").append(std::to_string(made++));
  answer(server + " dbname=postgres", std::string("CREATE DATABASE ").append(name));
  return std::string("postgresql:").append(server).append(" dbname=").append(name);
}

std::string postgresAnswer(const std::string& store, const std::string& sql) {
  const std::string prefix = "postgresql:";
  return answer(store.rfind(prefix, 0) == 0 ? store.substr(prefix.size()) : store, sql);
}
