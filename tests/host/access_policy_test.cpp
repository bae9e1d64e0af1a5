#include "host/access_policy.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "host/host_error.h"
#include "host/principals.h"
#include "qovix_protocol.h"

namespace {

// A table of tests/rules/, which the Python client is held to as well: its
// rows, each split at its tab.
std::vector<std::pair<std::string, std::string>> rulesTable(const std::string& name) {
  std::ifstream rows(std::string(QOVIX_RULES) + "/" + name);
  EXPECT_TRUE(rows) << QOVIX_RULES << "/" << name;
  std::vector<std::pair<std::string, std::string>> table;
  for (std::string line; std::getline(rows, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    EXPECT_NE(tab, std::string::npos) << line;
    table.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  EXPECT_GT(table.size(), 5u) << name;
  return table;
}

// Each user name is taken for user:NAME, or refused.
TEST(SharedRules, UserNamesAreJudgedByTheTableBothLanguagesKeep) {
  for (const auto& [verdict, name] : rulesTable("user_names.txt")) {
    EXPECT_EQ(userPrincipal(name).name, verdict == "good" ? "user:" + name : "") << name;
  }
}

TEST(SharedRules, ClassNamesReadWithoutTheModelsPrefix) {
  for (const auto& [name, shortName] : rulesTable("class_names.txt")) {
    EXPECT_EQ(qovix::protocol::shortClassName(name), shortName) << name;
  }
}

TEST(AccessPolicy, ExactNamesWinOverTheStarAndTheUnnamedHaveNone) {
  EXPECT_EQ(AccessPolicy().of("anyone"), Access::Write) << "no file: everyone writes";
  const AccessPolicy policy = AccessPolicy::parse(
      "# the team\n"
      "write  CN=alice,O=Modelling\n"
      "\tread\tCN=bob, O=Modelling  \r\n"
      "none 192.0.2.7\n"
      "read *\n",
      "access");
  EXPECT_EQ(policy.of("CN=alice,O=Modelling"), Access::Write);
  EXPECT_EQ(policy.of("CN=bob, O=Modelling"), Access::Read) << "spaces inside a name stay";
  EXPECT_EQ(policy.of("192.0.2.7"), Access::None);
  EXPECT_EQ(policy.of("CN=eve"), Access::Read);
  EXPECT_EQ(AccessPolicy::parse("write CN=alice\n", "access").of("CN=eve"), Access::None);
  // Trust to vouch for users is no access, and access is no trust.
  const AccessPolicy web =
      AccessPolicy::parse("vouch CN=web\nwrite CN=alice\nwrite user:carol\n", "access");
  EXPECT_TRUE(web.vouches("CN=web"));
  EXPECT_FALSE(web.vouches("CN=alice"));
  EXPECT_EQ(web.of("CN=web"), Access::None);
  EXPECT_EQ(web.of("user:carol"), Access::Write);
  EXPECT_FALSE(AccessPolicy().vouches("CN=web")) << "no file: no one is trusted so";
}

TEST(AccessPolicy, AMalformedFileNamesItsLine) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"write a\nowner b\n", "access:2: expected 'none', 'read', 'write' or 'vouch'"},
      {"vouch *\n", "access:1: 'vouch' names no one certificate"},
      {"vouch a\nvouch a\n", "access:2: 'vouch a' is given twice"},
      {"\n\nread\n", "access:3: 'read' names no principal"},
      {"read a\nwrite a\n", "access:2: 'a' is given twice"},
      {"read *\nnone *\n", "access:2: '*' is given twice"},
  };
  for (const auto& each : cases) {
    try {
      AccessPolicy::parse(each.text, "access");
      ADD_FAILURE() << each.text;
    } catch (const HostError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(each.says, 0), 0u) << error.what();
    }
  }
  EXPECT_THROW(AccessPolicy::load("/nonexistent/access"), HostError);
}

}  // namespace
