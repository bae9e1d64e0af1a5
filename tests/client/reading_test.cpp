// Reading a large repository through the reading services costs what is
// read, not what the repository holds: the same package's tree, the
// top-level page and a lookup by name take the same calls before and after
// a hundred thousand other elements arrive.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "client/connection.h"
#include "client/tool/model_view.h"
#include "client/tool/tree_reader.h"
#include "qovix_protocol.h"
#include "tests/support/generated_model.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using qovix::client::Connection;
using qovix::tool::ElementView;

struct Costs {
  std::uint64_t lookup = 0;
  std::uint64_t tree = 0;
  std::uint64_t topPage = 0;
  ElementView package;
};

Costs readTarget(Connection& connection) {
  Costs costs;
  std::uint64_t before = connection.callsMade();
  const std::uint32_t target = qovix::tool::findPackage(connection, "Target");
  costs.lookup = connection.callsMade() - before;
  before = connection.callsMade();
  costs.package = qovix::tool::readPackage(connection, target);
  costs.tree = connection.callsMade() - before;
  before = connection.callsMade();
  qovix::tool::TreeReader(connection, false).walk(0, 0, [](const ElementView&, int) {});
  costs.topPage = connection.callsMade() - before;
  return costs;
}

TEST(Reading, APackageATopPageAndALookupCostTheSameCallsAmongAHundredThousandElements) {
  TemporaryFolder documents;
  std::ofstream(documents.path() / "target.xmi") << generatedModel("Target", 1, 30);
  // 800 packages of 25 classes, each class with five objects of its own
  // and a generalization: 800 * (1 + 25 * 6) - 800 = 120,000 objects.
  std::ofstream(documents.path() / "large.xmi") << generatedModel("P", 800, 25);
  ServerProcess server({"--documents", documents.path().string(), "--store", "memory"});
  Connection connection("127.0.0.1", server.port());
  connection.setTimeout(std::chrono::minutes(2));
  ASSERT_NE(connection.importDocument("target.xmi", 0, "").value, 0u);

  const Costs small = readTarget(connection);
  ASSERT_EQ(small.package.contents.size(), 59u);         // 30 classes, 29 generalizations
  const ElementView& last = small.package.contents[55];  // each class before its generalization
  EXPECT_EQ(last.name, "C28");
  ASSERT_EQ(last.supertypes.size(), 1u);
  EXPECT_EQ(last.supertypes.front().name, "C0");
  ASSERT_EQ(last.features.size(), 3u);
  EXPECT_EQ(last.features[0].visibility, "private");
  ASSERT_EQ(last.features[2].parameters.size(), 1u);
  EXPECT_EQ(last.features[2].parameters.front().first, "by");
  EXPECT_TRUE(small.package.contents[0].isAbstract);
  EXPECT_LE(small.tree, 8u) << "a package of 59 elements is read a level at a time";

  const auto imported = connection.importDocument("large.xmi", 0, "");
  ASSERT_NE(imported.value, 0u) << imported.text;
  EXPECT_EQ(connection.contents(connection.identity(imported.value).object, 0, 0).size, 800u);
  const Costs large = readTarget(connection);
  EXPECT_EQ(large.lookup, small.lookup);
  EXPECT_EQ(large.tree, small.tree);
  EXPECT_EQ(large.topPage, small.topPage);
  EXPECT_EQ(qovix::tool::treeJson({large.package}), qovix::tool::treeJson({small.package}));
  // Search answers from the index: exact first, in one call.
  const std::uint64_t before = connection.callsMade();
  const qovix::SearchPage found = connection.search("TARGET", 0, 3);
  EXPECT_EQ(connection.callsMade(), before + 1);
  ASSERT_EQ(found.hits.size(), 1u);
  EXPECT_EQ(found.hits[0].name, u"Target");
  EXPECT_EQ(found.hits[0].match, 0);
  EXPECT_EQ(connection.search("c2", 0, 1000).hits.size(), qovix::protocol::kMostSearchHits);
  // The import's commit touched more objects than a page lists: the feed
  // and the commit itself list the first ones and count the rest.
  std::vector<std::uint64_t> touched;
  for (const qovix::CommitPage& page : {connection.changes(1), connection.commit(2)}) {
    ASSERT_EQ(page.commits.size(), 1u);
    EXPECT_GT(page.objectsLeft, 0u);
    touched.push_back(page.commits.front().objects.size() + page.objectsLeft);
  }
  EXPECT_EQ(touched[0], touched[1]);
  EXPECT_GT(touched[0], 120'000u) << "the objects made and what they were put in";
}

TEST(Reading, ARepliesBoundsAreKeptAndAnAmbiguousNameIsRefusedWithItsNumbers) {
  TemporaryFolder documents;
  std::ofstream(documents.path() / "target.xmi") << generatedModel("Target", 1, 3);
  ServerProcess server({"--documents", documents.path().string(), "--store", "memory"});
  Connection connection("127.0.0.1", server.port());
  const std::uint32_t first =
      connection.identity(connection.importDocument("target.xmi", 0, "").value).object;
  const std::uint32_t second =
      connection.identity(connection.importDocument("target.xmi", 0, "").value).object;
  try {
    qovix::tool::findPackage(connection, "Target");
    ADD_FAILURE() << "two packages named Target";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "2 packages named 'Target': name one by its number: #" +
                                             std::to_string(first) + " #" + std::to_string(second));
  }
  EXPECT_EQ(qovix::tool::findPackage(connection, std::string("#").append(std::to_string(second))),
            second);

  // More objects than one call reads are answered in part, in order; a
  // collection names no more members than asked, and says its size.
  std::vector<std::uint32_t> many(qovix::protocol::kMostObjectsRead + 5, first);
  many.back() = 999'999;
  const qovix::ObjectPage page = connection.readObjects(many, 1);
  ASSERT_EQ(page.objects.size(), qovix::protocol::kMostObjectsRead);
  const auto members = connection.contents(first, 1, 2);
  EXPECT_EQ(members.size, 5u);  // three classes and two generalizations
  ASSERT_EQ(members.members.size(), 2u);
  EXPECT_EQ(members.members[0].name, u"C1");
  const qovix::WireObject& package = page.objects.front();
  bool sawContents = false;
  for (const qovix::WireSlot& slot : package.slots) {
    if (slot.slot != "QOVIXNamespace.ownedElement") continue;
    sawContents = true;
    EXPECT_EQ(slot.size, 5u);
    EXPECT_EQ(slot.targets.size(), 1u);
  }
  EXPECT_TRUE(sawContents);
  const qovix::ObjectPage none = connection.readObjects({999'999}, 1);
  ASSERT_EQ(none.objects.size(), 1u);
  EXPECT_EQ(none.objects.front().classNumber, 0u);
  EXPECT_TRUE(none.objects.front().slots.empty());
}

}  // namespace
