// qovix-store: copy, check, describe and back up what a repository store
// holds, a repository file or a PostgreSQL database.

#include <iostream>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "admin/store_commands.h"
#include "cli/command_line.h"
#include "cli/help_text.h"

namespace {

struct Command {
  const char* name;
  const char* usage;
  std::size_t arguments;
  const char* help;
};

const Command kCommands[] = {
    {"copy", "FROM TO", 2,
     "copy every row of store FROM, the commit log and the history included, into TO, a new "
     "repository file or an empty PostgreSQL database: all of it in one transaction, or "
     "nothing. How a repository moves between the file and the shared database. FROM may "
     "be in use by qovixd"},
    {"check", "STORE", 1,
     "check that every reference and collection member resolves, each collection is one "
     "chain, the indexes agree with the data, the commit log runs from 1 without a gap, the "
     "counters are past what is used and the schema version is this build's; list each "
     "fault, and exit 1 when there is one"},
    {"info", "STORE", 1,
     "the schema version, the objects by class, the commit log's length and last commit, and "
     "the history's size"},
    {"backup", "STORE FILE", 2,
     "copy a repository file into the new FILE as it is at one moment, while qovixd goes on "
     "serving it (SQLite's online backup). A PostgreSQL repository is backed up with pg_dump"},
};

std::string helpText() {
  std::vector<cli::HelpEntry> commands;
  for (const Command& command : kCommands) {
    commands.push_back({std::string(command.name) + " " + command.usage, command.help});
  }
  const std::vector<cli::HelpEntry> options = {{"--help", "show this help (also -h)"},
                                               {"--version", "show the version"}};
  return "Usage: qovix-store COMMAND STORE [ARGUMENTS]\n"
         "Copy, check, describe and back up what a QOVIX repository store holds. A STORE is\n"
         "a repository file (SQLite), or a PostgreSQL database as qovixd's --store names it:\n"
         "postgresql://HOST/DATABASE or postgresql:CONNINFO (passwords from ~/.pgpass).\n"
         "\n"
         "Commands:\n" +
         cli::helpEntries(commands, 20) +
         "\n"
         "Options:\n" +
         cli::helpEntries(options, 20) +
         "\n"
         "Exit status:\n"
         "  0  done (check: no fault)\n"
         "  1  it failed (check: a fault was found)\n"
         "  2  bad usage\n";
}

int run(const std::vector<std::string>& words) {
  const Command* found = nullptr;
  for (const Command& command : kCommands) {
    if (words[0] == command.name) found = &command;
  }
  if (found == nullptr) throw std::invalid_argument("unknown command '" + words[0] + "'");
  if (words.size() != found->arguments + 1) {
    throw std::invalid_argument(std::string("usage: qovix-store ") + found->name + " " +
                                found->usage);
  }
  const std::string command = found->name;
  if (command == "copy") qovix::admin::copyStore(words[1], words[2], std::cout);
  if (command == "check") return qovix::admin::checkStore(words[1], std::cout) ? 0 : 1;
  if (command == "info") qovix::admin::printInfo(words[1], std::cout);
  if (command == "backup") qovix::admin::backupStore(words[1], words[2], std::cout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version win wherever they stand.
  const std::span<const char* const> arguments(argv + 1, argv + argc);
  for (const std::string_view word : arguments) {
    if (word == "--help" || word == "-h") {
      std::cout << helpText();
      return 0;
    }
    if (word == "--version") {
      std::cout << "qovix-store " QOVIX_VERSION "\n";
      return 0;
    }
  }
  // The other options are the commands' own.
  std::vector<std::string> words;
  const cli::CommandLine line{
      .find = [](std::string_view) -> std::optional<cli::OptionSpec> { return std::nullopt; },
      .apply = nullptr,
      .word = [&](std::string word) { words.push_back(std::move(word)); }};
  try {
    if (const cli::Refusal refused = cli::readCommandLine(arguments, line)) {
      throw std::invalid_argument(*refused);
    }
    if (words.empty()) throw std::invalid_argument("no command given");
    return run(words);
  } catch (const std::invalid_argument& error) {
    std::cerr << "qovix-store: " << error.what()
              << "\nTry 'qovix-store --help' for more information.\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "qovix-store: " << error.what() << '\n';
    return 1;
  }
}
