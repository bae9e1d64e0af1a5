#include "tests/support/own_postgres.h"

#include <stdio.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
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

OwnPostgres::OwnPostgres() {
  // PostgreSQL runs as its own user, who must reach the folder.
  std::filesystem::permissions(folder_.path(), std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  conninfo_ = run(script() + " start " + (folder_.path() / "postgres").string());
}

OwnPostgres::~OwnPostgres() {
  try {
    run(script() + " remove " + (folder_.path() / "postgres").string());
  } catch (const std::exception&) {
    // the folder goes with folder_ all the same
  }
}

std::string OwnPostgres::freshDatabase() { return freshPostgresDatabase(conninfo_); }
