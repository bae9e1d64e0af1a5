#include "tests/support/own_postgres.h"

#include <stdio.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "tests/support/test_postgres.h"

namespace {

// Runs `command`; what it printed, without the last newline.
std::string run(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string out;
  std::array<char, 512> chunk{};
  while (fgets(chunk.data(), chunk.size(), pipe) != nullptr) out += chunk.data();
  if (pclose(pipe) != 0) throw std::runtime_error(command + " failed");
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string script() { return std::string(QOVIX_POSTGRES_SERVER); }

}  // namespace

OwnPostgres::OwnPostgres(Settings settings) {
  // PostgreSQL runs as its own user, who must reach the folder.
  std::filesystem::permissions(folder_.path(), std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  const std::string as = settings == Settings::AsInstalled ? "QOVIX_POSTGRES_AS_INSTALLED=1 " : "";
  conninfo_ = run(as + script() + " start " + (folder_.path() / "postgres").string());
}

std::vector<pid_t> OwnPostgres::qovixdBackends() {
  std::vector<pid_t> pids;
  std::istringstream listed(
      run(script() + " backends " + (folder_.path() / "postgres").string() + " qovixd"));
  for (long pid = 0; listed >> pid;) pids.push_back(static_cast<pid_t>(pid));
  return pids;
}

OwnPostgres::~OwnPostgres() {
  try {
    run(script() + " remove " + (folder_.path() / "postgres").string());
  } catch (const std::exception&) {
    // the folder goes with folder_ all the same
  }
}

std::string OwnPostgres::freshDatabase() { return freshPostgresDatabase(conninfo_); }
