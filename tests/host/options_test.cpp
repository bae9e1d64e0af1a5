#include "host/options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <vector>

namespace {

std::variant<HostOptions, CommandLineExit> parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "qovixd");
  return parseHostOptions(static_cast<int>(arguments.size()), arguments.data());
}

TEST(HostOptions, DefaultsServeLoopbackOnTheDocumentedPort) {
  const auto parsed = parse({});
  ASSERT_TRUE(std::holds_alternative<HostOptions>(parsed));
  const auto& options = std::get<HostOptions>(parsed);
  EXPECT_EQ(options.bindAddress, "127.0.0.1");
  EXPECT_EQ(options.port, 20241);
  EXPECT_TRUE(options.libraryPath.empty());
  EXPECT_FALSE(options.registerWithRpcbind);
  EXPECT_EQ(options.repositoryName, "repository");
  EXPECT_TRUE(options.documentFolder.empty());
  EXPECT_EQ(options.connectionLimits.maxConnections, 1000u);
  EXPECT_EQ(options.connectionLimits.idleTimeout, std::chrono::seconds(300));
}

TEST(HostOptions, ConnectionLimits) {
  const auto parsed = parse({"--max-connections", "1", "--idle-seconds=0"});
  ASSERT_TRUE(std::holds_alternative<HostOptions>(parsed));
  const auto& limits = std::get<HostOptions>(parsed).connectionLimits;
  EXPECT_EQ(limits.maxConnections, 1u);
  EXPECT_EQ(limits.idleTimeout, std::chrono::seconds(0)) << "zero keeps idle connections";
  const auto most = parse({"--max-connections=1048576", "--idle-seconds", "86400"});
  ASSERT_TRUE(std::holds_alternative<HostOptions>(most));
}

TEST(HostOptions, StoreOptions) {
  const auto defaults = std::get<HostOptions>(parse({}));
  EXPECT_EQ(defaults.storePath, "qovix-repository.sqlite3");
  EXPECT_EQ(defaults.sync, StoreOptions::Sync::Normal);
  EXPECT_EQ(defaults.maxObjects, 10'000'000u);
  const auto parsed = parse({"--store=memory", "--sync", "full", "--max-objects", "5"});
  ASSERT_TRUE(std::holds_alternative<HostOptions>(parsed));
  const auto& options = std::get<HostOptions>(parsed);
  EXPECT_EQ(options.storePath, "memory");
  EXPECT_EQ(options.sync, StoreOptions::Sync::Full);
  EXPECT_EQ(std::get<HostOptions>(parse({"--sync", "relaxed"})).sync, StoreOptions::Sync::Relaxed);
  EXPECT_EQ(options.maxObjects, 5u);
}

TEST(HostOptions, ValuesAfterTheNameOrAnEqualsSign) {
  const auto parsed =
      parse({"--bind=::1", "--port", "0", "--library=/opt/lib.so", "--register", "--port=65535"});
  ASSERT_TRUE(std::holds_alternative<HostOptions>(parsed));
  const auto& options = std::get<HostOptions>(parsed);
  EXPECT_EQ(options.bindAddress, "::1");
  EXPECT_EQ(options.port, 65535);
  EXPECT_EQ(options.libraryPath, "/opt/lib.so");
  EXPECT_TRUE(options.registerWithRpcbind);
}

TEST(HostOptions, HelpWinsAndGoesToStandardOutput) {
  const auto parsed = parse({"--port", "1", "--help", "--bogus"});
  ASSERT_TRUE(std::holds_alternative<CommandLineExit>(parsed));
  EXPECT_EQ(std::get<CommandLineExit>(parsed).status, 0);
}

TEST(HostOptions, MalformedValuesAreUsageErrors) {
  for (std::vector<const char*> arguments : {std::vector<const char*>{"--port", "12ab"},
                                             {"--port", ""},
                                             {"--port", " 80"},
                                             {"--port", "99999999999"},
                                             {"--bind", "256.1.1.1"},
                                             {"--bind="},
                                             {"--library="},
                                             {"--register=yes"},
                                             {"--max-connections", "0"},
                                             {"--max-connections", "1048577"},
                                             {"--max-connections", "-5"},
                                             {"--idle-seconds", "86401"},
                                             {"--idle-seconds", "1.5"},
                                             {"--store="},
                                             {"--sync", "sometimes"},
                                             {"--max-objects", "0"},
                                             {"--max-objects", "4294967295"},
                                             {"--udp-max-reply", "511"},
                                             {"--max-handles-per-client", "0"},
                                             {"--udp-max-reply", "65508"},
                                             {"-p", "80"}}) {
    const auto parsed = parse(arguments);
    ASSERT_TRUE(std::holds_alternative<CommandLineExit>(parsed)) << arguments[0];
    EXPECT_EQ(std::get<CommandLineExit>(parsed).status, 2) << arguments[0];
  }
}

// The table of options drives the parse and --help, and the README's table
// of options lists the same: each option reaches its own handling (a value
// it refuses is refused in its own name), never another's.
TEST(HostOptions, TheTableDrivesParseHelpAndReadme) {
  std::ifstream readmeFile(QOVIX_README);
  const std::string readme((std::istreambuf_iterator<char>(readmeFile)), {});
  const std::string help = hostHelpText();
  std::set<std::string> listed;
  const std::regex row(R"(\n\| `(--[a-z-]+)`(?:, `(--[a-z-]+)`)? \|)");
  for (auto it = std::sregex_iterator(readme.begin(), readme.end(), row);
       it != std::sregex_iterator(); ++it) {
    for (std::size_t group = 1; group <= 2; ++group) {
      if ((*it)[group].matched) listed.insert((*it)[group].str());
    }
  }
  std::set<std::string> served;
  for (std::string_view name : hostOptionNames()) {
    const std::string option(name);
    EXPECT_NE(help.find("  " + option), std::string::npos) << option;
    if (option == "--help" || option == "--version") continue;
    served.insert(option);
    const auto parsed = parse({(option + "=").c_str()});
    const std::string said = std::holds_alternative<CommandLineExit>(parsed)
                                 ? std::get<CommandLineExit>(parsed).text
                                 : std::string();
    // A flag takes no value, and every other option refuses an empty one:
    // in its own name either way.
    EXPECT_NE(said.find(option), std::string::npos) << option << ": " << said;
  }
  // The README's table leaves out --help and --version, which it names in prose.
  EXPECT_EQ(listed, served);
}

}  // namespace
