// The qovix tool as people run it: its output, and its exit status for done
// (0), a failed call (1) and bad usage (2).

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "client/connection.h"
#include "tests/support/server_process.h"

namespace {

class Tool : public ::testing::Test {
 protected:
  void SetUp() override { server = std::make_unique<ServerProcess>(); }

  // qovix against this test's server.
  ProgramRun qovix(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--port", std::to_string(server->port())});
    return runProgram(QOVIX_TOOL_PATH, arguments);
  }
  // The result line of a call that must succeed.
  std::string call(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "call");
    const ProgramRun run = qovix(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    return run.out;
  }
  // The handle a create call printed ("12 QOVIXClass").
  std::string created(const std::string& className) {
    const std::string out = call({className, "create_1", repository()});
    return out.substr(0, out.find(' '));
  }
  std::string repository() {
    const ProgramRun run = qovix({"repository"});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out.substr(0, run.out.find('\n'));
  }

  std::unique_ptr<ServerProcess> server;
};

constexpr const char* kDemoTree =
    "Model Bank\n"
    "  Package Accounts\n"
    "    Class Customer\n"
    "      Attribute name\n"
    "    Class Account {abstract}\n"
    "      Attribute balance\n"
    "      Operation deposit\n"
    "      Operation withdraw\n"
    "    Class Savings : Account\n"
    "      Attribute rate\n"
    "    Class Checking : Account\n"
    "    Association holds (holder: Customer, held: Account)\n";

TEST_F(Tool, DemoBuildsAModelThatTreeAndLsShow) {
  const ProgramRun demo = qovix({"demo"});
  ASSERT_EQ(demo.status, 0) << demo.err;
  EXPECT_EQ(demo.out, std::string(kDemoTree) +
                          "\n"
                          "allSupertypes(Checking) = Account\n"
                          "allFeatures(Savings) = rate, balance, deposit, withdraw\n"
                          "associations(Customer) = holds\n"
                          "allContents(Accounts) = Customer, Account, Savings, Checking, holds\n");

  // A second client sees the same model, over either transport.
  for (const char* transport : {"--port", "--udp"}) {
    std::vector<std::string> arguments{"tree"};
    if (std::string(transport) == "--udp") arguments.insert(arguments.begin(), "--udp");
    const ProgramRun tree = qovix(arguments);
    EXPECT_EQ(tree.status, 0) << tree.err;
    EXPECT_EQ(tree.out, kDemoTree) << transport;
  }

  const ProgramRun ls = qovix({"ls", "Class"});
  ASSERT_EQ(ls.status, 0) << ls.err;
  std::istringstream lines(ls.out);
  std::vector<std::string> names;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_EQ(line.find("\tQOVIXClass\t"), line.find('\t')) << line;
    names.push_back(line.substr(line.rfind('\t') + 1));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Customer", "Account", "Savings", "Checking"}));

  // Run again on a repository that keeps it, the demo shows the model it has.
  const ProgramRun again = qovix({"demo"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out,
            std::string("The repository holds the demo model from an earlier run:\n\n") + kDemoTree);
}

TEST_F(Tool, TreeLeavesNoHandlesAndLsKeepsOnlyTheListed) {
  ASSERT_EQ(qovix({"demo"}).status, 0);
  qovix::client::Connection connection("127.0.0.1", server->port());
  const std::int32_t before = connection.handleCount();
  ASSERT_EQ(qovix({"tree"}).status, 0);
  ASSERT_EQ(qovix({"--udp", "tree"}).status, 0);
  EXPECT_EQ(connection.handleCount(), before);
  const ProgramRun ls = qovix({"ls", "Class"});
  ASSERT_EQ(ls.status, 0);
  EXPECT_EQ(connection.handleCount(), before + 4) << ls.out;
}

TEST_F(Tool, CallTakesValuesByClassOrBare) {
  const std::string tagged = created("TaggedValue");
  EXPECT_EQ(call({"TaggedValue", "set_tag_0", tagged, "author"}), "done\n");
  EXPECT_EQ(call({"TaggedValue", "get_tag_0", tagged}), "QOVIXName author\n");
  EXPECT_EQ(call({"TaggedValue", "set_tag_0", tagged, "name:Grüße"}), "done\n");
  EXPECT_EQ(call({"taggedvalue", "get_tag_0", tagged}), "QOVIXName Grüße\n") << "any letter case";

  const std::string end = created("QOVIXAssociationEnd");
  EXPECT_EQ(call({"AssociationEnd", "get_aggregation_0", end}), "QOVIXAggregationKind none\n");
  EXPECT_EQ(call({"AssociationEnd", "set_aggregation_0", end, "Composite"}), "done\n");
  EXPECT_EQ(call({"AssociationEnd", "get_aggregation_0", end}), "QOVIXAggregationKind composite\n");
  EXPECT_EQ(call({"AssociationEnd", "set_isNavigable_0", end, "bool:true"}), "done\n");
  EXPECT_EQ(call({"AssociationEnd", "get_isNavigable_0", end}), "QOVIXBoolean true\n");

  // A class's procedures take handles of that class: cast first. Operations
  // go by their short label.
  const std::string aClass = created("Class");
  const ProgramRun asElement = qovix({"cast", "ModelElement", aClass});
  ASSERT_EQ(asElement.status, 0) << asElement.err;
  const std::string element = asElement.out.substr(0, asElement.out.find(' '));
  EXPECT_EQ(asElement.out, element + " QOVIXModelElement\n");
  EXPECT_EQ(call({"ModelElement", "set_name_0", element, "Account"}), "done\n");
  EXPECT_EQ(call({"ModelElement", "get_name_0", element}), "QOVIXName Account\n");
  EXPECT_EQ(call({"ModelElement", "get_name_0", aClass}), "QOVIXName \n")
      << "a handle of another class reads the default";
  const std::string notAnAssociation = qovix({"cast", "Association", aClass}).out;
  EXPECT_NE(notAnAssociation.find(" QOVIXAssociation (empty)\n"), std::string::npos)
      << notAnAssociation;
  EXPECT_EQ(qovix({"cast", "Association", aClass, "0"}).out.find("(empty)"), std::string::npos)
      << "unchecked";

  const std::string classifier = qovix({"cast", "Classifier", aClass, "0"}).out;
  const std::string asClassifier = classifier.substr(0, classifier.find(' '));
  EXPECT_EQ(call({"Class", "className_0"}), "QOVIXClass\n");
  EXPECT_EQ(call({"Classifier", "size_feature_0", asClassifier}), "0\n");
  EXPECT_EQ(call({"Classifier", "isNull_feature_0", asClassifier}), "1\n");
  const std::string attribute = qovix({"cast", "Feature", created("Attribute")}).out;
  EXPECT_EQ(call({"Classifier", "add_feature_0", asClassifier,
                  attribute.substr(0, attribute.find(' ')), "0"}),
            "done\n");
  EXPECT_EQ(call({"Classifier", "size_feature_0", asClassifier}), "1\n");
  const std::string feature = call({"Classifier", "get_feature_1", asClassifier, "0"});
  EXPECT_NE(feature.find(" QOVIXFeature\n"), std::string::npos) << feature;

  // By numbers, over UDP.
  const ProgramRun byNumber = qovix({"--udp", "call", "12", "8", asClassifier});
  EXPECT_EQ(byNumber.status, 0) << byNumber.err;
  EXPECT_EQ(byNumber.out, "1\n");
}

TEST_F(Tool, AFailedCallExitsOne) {
  const std::string classifier = created("Classifier");
  const ProgramRun outOfRange = qovix({"call", "Classifier", "get_feature_1", classifier, "5"});
  EXPECT_EQ(outOfRange.status, 1);
  EXPECT_EQ(outOfRange.out, "");
  EXPECT_NE(outOfRange.err.find("system error"), std::string::npos) << outOfRange.err;
  EXPECT_NE(server->standardError().find("index 5"), std::string::npos) << "the server says why";

  const ProgramRun garbage = qovix({"call", "TaggedValue", "set_tag_0", "1", "int:5"});
  EXPECT_EQ(garbage.status, 0) << "a value of another class is the model's business: "
                               << garbage.err;

  const ProgramRun unreachable = runProgram(QOVIX_TOOL_PATH, {"--port", "1", "repository"});
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_NE(unreachable.err.find("cannot reach qovixd"), std::string::npos) << unreachable.err;
}

TEST(ToolUsage, MistakesExitTwoBeforeAnyCall) {
  // Port 1 has no server: each of these must fail on its words alone.
  struct Case {
    std::vector<std::string> arguments;
    const char* says;
  };
  const Case cases[] = {
      {{}, "no command given"},
      {{"bogus"}, "unknown command 'bogus'"},
      {{"--verbose", "tree"}, "unknown option '--verbose'"},
      {{"--port"}, "needs a value"},
      {{"--port", "70000", "tree"}, "from 1 to 65535"},
      {{"--port", "12x", "tree"}, "from 1 to 65535"},
      {{"tree", "extra"}, "usage: qovix tree"},
      {{"ls"}, "usage: qovix ls CLASS"},
      {{"call", "Class"}, "usage: qovix call"},
      {{"cast", "Class"}, "usage: qovix cast"},
      {{"cast", "Class", "-1"}, "is a handle"},
      {{"call", "Nope", "create_0"}, "there is no class 'Nope'"},
      {{"call", "98", "create_0"}, "1..97"},
      {{"call", "Class", "nothing_0"}, "has no procedure 'nothing_0'"},
      {{"call", "Clas", "create_0"}, "there is no class 'Clas' (did you mean Class"},
      {{"call", "TagedValue", "create_0"}, "(did you mean TaggedValue?)"},
      {{"call", "TaggedValue", "get_tagg_0"}, "(did you mean get_tag_0"},
      {{"call", "Class", "create_1"}, "takes 1 argument(s)"},
      {{"call", "Class", "create_1", "x"}, "is a handle"},
      {{"call", "Classifier", "get_feature_1", "1", "many"}, "is a number"},
      {{"call", "AssociationEnd", "set_aggregation_0", "1", "lots"},
       "one of none, aggregate, composite"},
      {{"call", "MultiplicityRange", "set_lower_0", "1", "1.5"}, "no integer"},
      {{"call", "TaggedValue", "set_tag_0", "1", "\xFF"}, "UTF-8"},
  };
  for (const Case& each : cases) {
    std::vector<std::string> arguments = each.arguments;
    if (arguments.empty() || arguments[0] != "--port") {
      arguments.insert(arguments.begin(), {"--port", "1"});
    }
    const ProgramRun run = runProgram(QOVIX_TOOL_PATH, arguments);
    EXPECT_EQ(run.status, 2) << each.says << ": " << run.err;
    EXPECT_NE(run.err.find(each.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

TEST(ToolUsage, HelpAndProceduresNeedNoServer) {
  const ProgramRun help = runProgram(QOVIX_TOOL_PATH, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: qovix", 0), 0u) << help.out;

  const ProgramRun procedures = runProgram(QOVIX_TOOL_PATH, {"procedures", "TaggedValue"});
  ASSERT_EQ(procedures.status, 0) << procedures.err;
  EXPECT_NE(procedures.out.find("create_1"), std::string::npos);
  EXPECT_NE(procedures.out.find("QOVIXName get_tag() const"), std::string::npos) << procedures.out;
  EXPECT_NE(procedures.out.find("X_HandleValue -> xdr_void"), std::string::npos);
}

}  // namespace
