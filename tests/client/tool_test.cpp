// The qovix tool as people run it: its output, and its exit status for done
// (0), a failed call (1) and bad usage (2).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "client/connection.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

std::string firstWord(const std::string& text) { return text.substr(0, text.find_first_of(" \n")); }

std::string slurpFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

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
    return firstWord(call({className, "create_1", repository()}));
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
constexpr const char* kDiagramHint =
    "\nSee it as a UML class diagram (needs Graphviz): qovix diagram Bank -o bank.svg\n";

TEST_F(Tool, DemoBuildsAModelThatTreeAndLsShow) {
  const ProgramRun demo = qovix({"demo"});
  ASSERT_EQ(demo.status, 0) << demo.err;
  EXPECT_EQ(demo.out, std::string(kDemoTree) +
                          "\n"
                          "allSupertypes(Checking) = Account\n"
                          "allFeatures(Savings) = rate, balance, deposit, withdraw\n"
                          "associations(Customer) = holds\n"
                          "allContents(Accounts) = Customer, Account, Savings, Checking, holds\n" +
                          kDiagramHint);

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
  EXPECT_EQ(ls.out,
            "OBJECT  CLASS  NAME\n"
            "3       Class  Customer\n"
            "4       Class  Account\n"
            "5       Class  Savings\n"
            "6       Class  Checking\n");

  // Search, in any letter case: named so, then beginning so, then holding it.
  const ProgramRun search = qovix({"search", "ACCOUNT"});
  ASSERT_EQ(search.status, 0) << search.err;
  EXPECT_EQ(search.out,
            "OBJECT  CLASS    NAME      WHERE\n"
            "4       Class    Account   Bank::Accounts\n"
            "2       Package  Accounts  Bank\n");
  EXPECT_EQ(qovix({"search", "ings", "--class", "Class"}).out,
            "OBJECT  CLASS  NAME     WHERE\n"
            "5       Class  Savings  Bank::Accounts\n");
  EXPECT_EQ(qovix({"search", "nowhere"}).out, "nothing is named so\n");

  // Run again on a repository that keeps it, the demo shows the model it has.
  const ProgramRun again = qovix({"demo"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, std::string("The repository holds the demo model from an earlier run:\n\n") +
                           kDemoTree + kDiagramHint);
}

// `delete` on the demo model: one instance by name or number, with its
// features, generalizations and the association left with one end; a name
// that names none, or several, deletes nothing.
TEST_F(Tool, DeleteTakesAnElementWithWhatItOwnsAndWhatNeedsIt) {
  ASSERT_EQ(qovix({"demo"}).status, 0);
  const ProgramRun missing = qovix({"delete", "Class", "Loan"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "qovix: no Class named 'Loan'\n");
  call({"Class", "create_1", repository()});  // two nameless classes
  call({"Class", "create_1", repository()});
  const ProgramRun several = qovix({"delete", "Class", ""});
  EXPECT_EQ(several.status, 1);
  EXPECT_NE(several.err.find("2 Classes named '': name one by its number (#N): #"), std::string::npos)
      << several.err;
  const ProgramRun dryRun = qovix({"delete", "Class", "Account", "--dry-run"});
  ASSERT_EQ(dryRun.status, 0) << dryRun.err;
  EXPECT_NE(dryRun.out.find("would delete Class 'Account' (object "), std::string::npos);
  EXPECT_NE(dryRun.out.find("), and with it 8 objects it owns or that cannot stand without it:\n"
                            "  1 Attribute, 2 Operations, 2 AssociationEnds, "
                            "2 Generalizations, 1 Association\n"),
            std::string::npos)
      << dryRun.out;
  EXPECT_NE(qovix({"tree"}).out.find("Class Account"), std::string::npos) << "nothing deleted";
  const ProgramRun account = qovix({"delete", "Class", "Account"});
  ASSERT_EQ(account.status, 0) << account.err;
  EXPECT_EQ(account.out.rfind("deleted Class 'Account' (object ", 0), 0u) << account.out;
  EXPECT_NE(account.out.find(", and with it 8 objects it owns"), std::string::npos) << account.out;
  const ProgramRun tree = qovix({"tree"});
  EXPECT_EQ(tree.out.find("Class Account"), std::string::npos) << tree.out;
  EXPECT_EQ(tree.out.find("Association"), std::string::npos) << tree.out;
  EXPECT_NE(tree.out.find("    Class Savings\n"), std::string::npos) << "no generalization left";
  const ProgramRun byNumber = qovix({"delete", "Package", "#2"});
  EXPECT_EQ(byNumber.status, 0) << byNumber.err;
  EXPECT_EQ(qovix({"tree"}).out, "Model Bank\n");
}

// `log` prints who changed what, before -> after; `undo` takes a commit
// back (a delete too, whole) and refuses one a later commit conflicts
// with; `call` and `cast` take objects by number.
TEST_F(Tool, LogShowsEachChangeAndUndoTakesCommitsBack) {
  ASSERT_EQ(qovix({"demo"}).status, 0);
  EXPECT_EQ(call({"ModelElement", "set_name_0", "#4", "Ledger"}), "done\n");
  EXPECT_EQ(call({"ModelElement", "get_name_0", "#4"}), "QOVIXName Ledger\n");
  const ProgramRun wrongClass = qovix({"call", "Attribute", "get_initialValue_0", "#4"});
  EXPECT_EQ(wrongClass.status, 1);
  EXPECT_NE(wrongClass.err.find("object #4 is a Class, which is no Attribute"), std::string::npos)
      << wrongClass.err;
  EXPECT_EQ(qovix({"call", "ModelElement", "get_name_0", "#999"}).err,
            "qovix: there is no object #999\n");
  EXPECT_EQ(firstWord(qovix({"cast", "Namespace", "#4"}).out).empty(), false);

  const ProgramRun history = qovix({"log", "--name", "Class", "Ledger"});
  ASSERT_EQ(history.status, 0) << history.err;
  const std::string renamed = history.out.substr(7, history.out.find(' ', 7) - 7);
  EXPECT_NE(history.out.find("  on "), std::string::npos) << history.out;
  EXPECT_NE(history.out.find("\n  #4 name: 'Account' -> 'Ledger'\n"), std::string::npos)
      << history.out;
  EXPECT_NE(history.out.find("\n  #4 GeneralizableElement.isAbstract: (unset) -> true\n"),
            std::string::npos)
      << history.out;
  EXPECT_NE(history.out.find("\n  created #4 Class\n"), std::string::npos) << history.out;
  EXPECT_LT(history.out.find("Ledger"), history.out.find("created #4")) << "newest first";
  const ProgramRun all = qovix({"log", "--since", std::to_string(std::stoi(renamed) - 1)});
  EXPECT_EQ(all.out.rfind("commit " + renamed + "  ", 0), 0u) << all.out;

  const ProgramRun deleted = qovix({"delete", "Class", "Ledger"});
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  const std::string last = qovix({"log", "--since", renamed}).out;
  const std::string deleteCommit = last.substr(7, last.find(' ', 7) - 7);
  EXPECT_NE(last.find("  deleted #4 Class\n"), std::string::npos) << last;
  const ProgramRun undone = qovix({"undo", deleteCommit});
  ASSERT_EQ(undone.status, 0) << undone.err;
  EXPECT_EQ(undone.out.rfind("undid commit " + deleteCommit + " as commit ", 0), 0u);
  EXPECT_EQ(qovix({"tree"}).out.find("Class Ledger {abstract}\n      Attribute balance\n"
                                     "      Operation deposit\n"),
            qovix({"tree"}).out.find("Class Ledger"))
      << qovix({"tree"}).out;
  EXPECT_NE(qovix({"tree"}).out.find("Class Savings : Ledger"), std::string::npos);
  const ProgramRun refused = qovix({"undo", renamed});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("was not undone: commit " + deleteCommit + " changed"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(qovix({"undo", "x"}).status, 2);
  EXPECT_EQ(qovix({"log", "--object", "0"}).status, 2);
  // Several servers: the first that answers serves.
  const ProgramRun either = runProgram(
      QOVIX_TOOL_PATH, {"--host", "127.0.0.1:1,127.0.0.1:" + std::to_string(server->port()), "call",
                        "ModelElement", "get_name_0", "#4"});
  EXPECT_EQ(either.out, "QOVIXName Ledger\n") << either.err;
}

TEST_F(Tool, LsAndTreeLeaveNoHandlesUnlessKept) {
  ASSERT_EQ(qovix({"demo"}).status, 0);
  qovix::client::Connection connection("127.0.0.1", server->port());
  const std::int32_t before = connection.handleCount();
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"tree"},
                                                    {"--udp", "tree"},
                                                    {"ls", "Class"},
                                                    {"--json", "ls", "Element"}}) {
    ASSERT_EQ(qovix(arguments).status, 0);
    EXPECT_EQ(connection.handleCount(), before) << arguments.back();
  }
  const ProgramRun kept = qovix({"--keep", "ls", "Class"});
  ASSERT_EQ(kept.status, 0);
  EXPECT_EQ(connection.handleCount(), before + 4) << kept.out;
  // The handles listed name what the line says.
  std::istringstream lines(kept.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "HANDLE  OBJECT  CLASS  NAME");
  while (std::getline(lines, line)) {
    const std::string element = firstWord(qovix({"cast", "ModelElement", firstWord(line)}).out);
    EXPECT_EQ(call({"ModelElement", "get_name_0", element}),
              "QOVIXName " + line.substr(line.rfind(' ') + 1) + "\n");
  }
  const ProgramRun tree = qovix({"--keep", "tree"});
  EXPECT_NE(tree.out.find("Class Customer  [handle "), std::string::npos) << tree.out;
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

  const ProgramRun unreachable = runProgram(QOVIX_TOOL_PATH, {"--port", "1", "repository"});
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_NE(unreachable.err.find("cannot reach qovixd"), std::string::npos) << unreachable.err;
}

// The wire cannot report a failure: a routine given a handle that names
// nothing answers its previous result. qovix asks the server first.
TEST_F(Tool, HandlesThatNameNothingOrAnotherClassAreRefused) {
  const std::string tagged = created("TaggedValue");
  call({"TaggedValue", "set_tag_0", tagged, "author"});
  EXPECT_EQ(call({"TaggedValue", "get_tag_0", tagged}), "QOVIXName author\n");
  const std::string aClass = created("Class");
  const std::string destroyed = created("TaggedValue");
  call({"TaggedValue", "destroy_0", destroyed});  // its handle goes, and that is no failure
  struct Case {
    std::vector<std::string> arguments;
    std::string says;
  };
  const Case cases[] = {
      {{"call", "TaggedValue", "get_tag_0", "999"},
       "no object of class TaggedValue has handle 999\n"},
      {{"call", "TaggedValue", "set_tag_0", "999", "x"},
       "no object of class TaggedValue has handle 999"},
      {{"call", "ModelElement", "get_name_0", aClass},
       "no object of class ModelElement has handle " + aClass +
           " (it names a Class; cast it first)"},
      {{"call", "TaggedValue", "get_tag_0", destroyed},
       "no object of class TaggedValue has handle " + destroyed},
      {{"call", "Class", "create_1", aClass}, "no object of class VORN has handle " + aClass},
      {{"cast", "ModelElement", "999"}, "no object has handle 999"},
      {{"cast", "Association", aClass}, "names a Class, which is no Association"},
  };
  for (const Case& each : cases) {
    const ProgramRun run = qovix(each.arguments);
    EXPECT_EQ(run.status, 1) << each.says;
    EXPECT_NE(run.err.find(each.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  // Unchecked, the previous answer comes back as if it were the object's.
  const ProgramRun unchecked = qovix({"--no-check", "call", "TaggedValue", "get_tag_0", "999"});
  EXPECT_EQ(unchecked.status, 0);
  EXPECT_EQ(unchecked.out, "QOVIXName author\n");

  // Values of another class than the parameter's are bad usage.
  for (const char* value : {"string:x", "int:5", "VisibilityKind:private"}) {
    const ProgramRun run = qovix({"call", "TaggedValue", "set_tag_0", tagged, value});
    EXPECT_EQ(run.status, 2) << value;
    EXPECT_NE(run.err.find("argument 2 is a QOVIXName, not a"), std::string::npos) << run.err;
  }
  EXPECT_EQ(
      qovix({"call", "AssociationEnd", "set_aggregation_0", created("AssociationEnd"), "3"}).status,
      2)
      << "no fourth literal";
  EXPECT_EQ(call({"TaggedValue", "get_tag_0", tagged}), "QOVIXName author\n") << "unchanged";
}

TEST_F(Tool, JsonForProgramsAndAlignedTablesForPeople) {
  ASSERT_EQ(qovix({"demo"}).status, 0);
  const auto json = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "--json");
    const ProgramRun run = qovix(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    return nlohmann::json::parse(run.out);
  };
  const auto classes = json({"ls", "Class"});
  ASSERT_EQ(classes.size(), 4u);
  EXPECT_EQ(classes[1]["name"], "Account");
  EXPECT_EQ(classes[1]["class"], "QOVIXClass");
  EXPECT_FALSE(classes[1].contains("handle"));
  EXPECT_TRUE(json({"--keep", "ls", "Class"})[1].contains("handle"));

  const auto tree = json({"tree"});
  const auto& accounts = tree.at(0).at("contents").at(0);
  EXPECT_EQ(accounts["name"], "Accounts");
  const auto& savings = accounts["contents"][2];
  EXPECT_EQ(savings["supertypes"], nlohmann::json::array({"Account"}));
  EXPECT_EQ(savings["features"][0]["name"], "rate");
  EXPECT_EQ(savings["features"][0]["initialValue"], "0.02");
  EXPECT_EQ(accounts["contents"][4]["ends"][1]["type"], "Account");

  const std::string tagged = created("TaggedValue");
  call({"TaggedValue", "set_tag_0", tagged, "author"});
  EXPECT_EQ(json({"call", "TaggedValue", "get_tag_0", tagged}),
            nlohmann::json({{"kind", "value"}, {"class", "QOVIXName"}, {"value", "author"}}));
  // One line, exactly as the README shows it.
  EXPECT_EQ(qovix({"--json", "call", "TaggedValue", "get_tag_0", tagged}).out,
            "{\"class\":\"QOVIXName\",\"kind\":\"value\",\"value\":\"author\"}\n");
  EXPECT_EQ(json({"call", "TaggedValue", "set_tag_0", tagged, "x"}),
            nlohmann::json({{"kind", "void"}}));
  const auto made = json({"call", "Class", "create_1", repository()});
  EXPECT_EQ(made["class"], "QOVIXClass");
  const auto procedures = json({"procedures", "TaggedValue"});
  EXPECT_EQ(procedures[4]["procedure"], "get_tag_0");
  EXPECT_EQ(procedures[4]["result"], "X_VornDataType");

  // Every line of the table starts its columns where the header does.
  const ProgramRun table = qovix({"procedures", "Package"});
  std::istringstream lines(table.out);
  std::string header;
  std::getline(lines, header);
  const std::size_t member = header.find("MEMBER");
  const std::size_t types = header.find("ARGUMENT");
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.find_first_not_of(' ', member - 2), member) << line;
    EXPECT_EQ(line[types - 1], ' ') << line;
    EXPECT_NE(line[types], ' ') << line;
  }
}

TEST_F(Tool, DiagramDrawsEveryClassAttributeAndGeneralization) {
  ASSERT_EQ(qovix({"demo"}).status, 0);
  const ProgramRun dot = qovix({"diagram", "Accounts", "--format", "dot"});
  ASSERT_EQ(dot.status, 0) << dot.err;
  EXPECT_EQ(dot.out.rfind("digraph \"Accounts\" {", 0), 0u) << dot.out;
  EXPECT_NE(qovix({"diagram", "Acounts"}).err.find("did you mean Accounts?"), std::string::npos);
  // By number, the package is read alone; with --links each box links to its element.
  std::map<std::string, std::string> numbers;  // name -> object number
  for (const char* kind : {"Class", "Package"}) {
    for (const auto& each : nlohmann::json::parse(qovix({"--json", "ls", kind}).out)) {
      numbers[each["name"]] = std::to_string(each["object"].get<int>());
    }
  }
  const ProgramRun linked =
      qovix({"diagram", "#" + numbers["Accounts"], "--format", "dot", "--links", "/element/"});
  ASSERT_EQ(linked.status, 0) << linked.err;
  EXPECT_EQ(linked.out.rfind("digraph \"Accounts\" {", 0), 0u) << linked.out;
  for (const char* name : {"Accounts", "Account", "Savings"}) {
    EXPECT_NE(linked.out.find("URL=\"/element/" + numbers[name] + "\""), std::string::npos) << name;
  }
  const ProgramRun notPackage = qovix({"diagram", "#" + numbers["Account"]});
  EXPECT_EQ(notPackage.status, 1);
  EXPECT_NE(notPackage.err.find("is a Class, not a package"), std::string::npos) << notPackage.err;
  if (runProgram("/bin/sh", {"-c", "command -v dot"}).status != 0) GTEST_SKIP() << "no Graphviz";

  const ProgramRun svg = qovix({"diagram", "Bank"});
  ASSERT_EQ(svg.status, 0) << svg.err;
  EXPECT_NE(svg.out.find("<svg"), std::string::npos);
  std::map<std::string, std::string> objects;  // class name -> object number
  for (const auto& each : nlohmann::json::parse(qovix({"--json", "ls", "Class"}).out)) {
    objects[each["name"]] = std::to_string(each["object"].get<int>());
  }
  for (const char* text :
       {">Bank<", ">Accounts<", ">Customer<", ">Account<", ">Savings<", ">Checking<",
        ">+ name = &quot;&quot;<", ">+ balance = 0<", ">+ rate = 0.02<", ">+ deposit()<",
        ">+ withdraw()<", ">holds<", ">holder<", ">held<"}) {
    EXPECT_NE(svg.out.find(text), std::string::npos) << text;
  }
  for (const char* subtype : {"Savings", "Checking"}) {
    // Graphviz titles each edge "TAIL->HEAD"; generalizations end in a hollow triangle.
    const std::string edge =
        "<title>e" + objects[subtype] + "&#45;&gt;e" + objects["Account"] + "</title>";
    const std::size_t at = svg.out.find(edge);
    ASSERT_NE(at, std::string::npos) << subtype;
    EXPECT_NE(svg.out.find("fill=\"none\"", at), std::string::npos);
  }
  TemporaryFolder folder;
  const std::string png = (folder.path() / "bank.png").string();
  ASSERT_EQ(qovix({"diagram", "Bank", "--format", "png", "-o", png}).status, 0);
  std::ifstream file(png, std::ios::binary);
  std::string magic(8, '\0');
  file.read(magic.data(), 8);
  EXPECT_EQ(magic, "\x89PNG\r\n\x1a\n");
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
  // The README shows --help as it is.
  std::ifstream readmeFile(QOVIX_README);
  const std::string readme((std::istreambuf_iterator<char>(readmeFile)), {});
  const std::size_t shown = readme.find("Usage: qovix [OPTIONS]");
  ASSERT_NE(shown, std::string::npos);
  EXPECT_EQ(readme.substr(shown, readme.find("```", shown) - shown), help.out);
  // Every command the help lists reaches its own usage check, none another's.
  const std::regex command(R"(\n  ([a-z]+)(?= |\n))");
  const std::string commands = help.out.substr(
      help.out.find("Commands:"), help.out.find("Options:") - help.out.find("Commands:"));
  int checked = 0;
  for (auto it = std::sregex_iterator(commands.begin(), commands.end(), command);
       it != std::sregex_iterator(); ++it, ++checked) {
    const std::string name = (*it)[1].str();
    if (name == "call") continue;  // takes any number of arguments
    const ProgramRun tooMany =
        runProgram(QOVIX_TOOL_PATH, {name, "1", "2", "3", "4", "5", "6", "7"});
    EXPECT_EQ(tooMany.status, 2) << name;
    EXPECT_NE(tooMany.err.find("usage: qovix " + name), std::string::npos) << tooMany.err;
  }
  EXPECT_EQ(checked, 15);

  const ProgramRun procedures = runProgram(QOVIX_TOOL_PATH, {"procedures", "TaggedValue"});
  ASSERT_EQ(procedures.status, 0) << procedures.err;
  EXPECT_NE(procedures.out.find("create_1"), std::string::npos);
  EXPECT_NE(procedures.out.find("QOVIXName get_tag() const"), std::string::npos) << procedures.out;
  EXPECT_NE(procedures.out.find("X_HandleValue -> xdr_void"), std::string::npos);
}

}  // namespace

// XMI documents in qovixd's document folder: imported with a report,
// exported, imported again; a refused document leaves the repository as it
// was, since the call is undone.
TEST(ToolDocuments, ImportExportAndAFailedImportChangesNothing) {
  TemporaryFolder documents;
  for (const char* name : {"uml14_xmi12_magicdraw_style.xmi", "uml13_xmi10_nsuml_style.xmi"}) {
    std::filesystem::copy_file(std::filesystem::path(QOVIX_XMI_SAMPLES) / name,
                               documents.path() / name);
  }
  std::ofstream(documents.path() / "broken.xmi")
      << "<XMI xmi.version=\"1.2\"><XMI.content><UML:Model xmi.id=\"m\" name=\"Half\"/>\n"
         "<UML:Class xmi.id=\"c\" namespace=\"m\"></XMI.content></XMI>";
  ServerProcess server({"--documents", documents.path().string()});
  auto qovix = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--port", std::to_string(server.port())});
    return runProgram(QOVIX_TOOL_PATH, arguments);
  };
  const ProgramRun shop = qovix({"import", "uml14_xmi12_magicdraw_style.xmi"});
  ASSERT_EQ(shop.status, 0) << shop.err;
  EXPECT_EQ(shop.out.substr(0, shop.out.find('\n')),
            "imported Model 'Shop' from uml14_xmi12_magicdraw_style.xmi");
  EXPECT_NE(shop.out.find("  1 Diagram: diagrams are drawings, not part of the model\n"),
            std::string::npos);
  const ProgramRun library = qovix({"import", "uml13_xmi10_nsuml_style.xmi", "--into", "Shop"});
  ASSERT_EQ(library.status, 0) << library.err;
  EXPECT_NE(library.out.find("into Shop\nXMI 1.0, UML 1.3"), std::string::npos) << library.out;
  const std::string tree = qovix({"tree"}).out;
  // The first document's model stands alone, in no package made for it.
  EXPECT_EQ(tree.rfind("Model Shop\n", 0), 0u) << tree;
  EXPECT_NE(tree.find("\n  Model Library\n    Class Book {abstract}\n"), std::string::npos) << tree;

  // The reason, with its line, reaches the user, and nothing of the
  // document stays.
  const ProgramRun broken = qovix({"import", "broken.xmi"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find("qovixd imported nothing from 'broken.xmi': XMI document "
                            "'broken.xmi' line 2: Premature end of data"),
            std::string::npos)
      << broken.err;
  EXPECT_EQ(qovix({"tree"}).out, tree);

  // Imported again, Library's name is no longer one package's: it is
  // exported by its number.
  std::string libraryNumber;
  for (const auto& model : nlohmann::json::parse(qovix({"--json", "ls", "Model"}).out)) {
    if (model["name"] == "Library")
      libraryNumber = std::string("#").append(std::to_string(model["object"].get<int>()));
  }
  for (const char* version : {"1.2", "1.0", "2.5"}) {
    const ProgramRun exported = qovix({"export", libraryNumber, "library.xmi", "--xmi", version});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const ProgramRun again = qovix({"import", "library.xmi", "--into", "Shop"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(
        again.out.find(std::string("XMI ") + (version == std::string("2.5") ? "2.5.1" : version)),
        std::string::npos)
        << again.out;
    if (version != std::string("2.5")) {  // the class model only: the use case is left out
      EXPECT_NE(again.out.find("skipped nothing"), std::string::npos) << again.out;
    }
  }
  // Every command that takes a package by name refuses an ambiguous one,
  // naming their numbers.
  for (const std::vector<std::string>& ambiguous :
       {std::vector<std::string>{"export", "Library", "x.xmi"},
        {"import", "library.xmi", "--into", "Library"},
        {"diagram", "Library", "--format", "dot"},
        {"tree", "--package", "Library"}}) {
    const ProgramRun refused = qovix(ambiguous);
    EXPECT_EQ(refused.status, 1) << ambiguous[0];
    EXPECT_NE(refused.err.find(
                  "4 packages named 'Library': name one by its number: " + libraryNumber + " #"),
              std::string::npos)
        << refused.err;
  }
  const ProgramRun deleted = qovix({"delete", "Model", "Library"});
  EXPECT_NE(deleted.err.find(
                "4 Models named 'Library': name one by its number (#N): " + libraryNumber + " #"),
            std::string::npos)
      << deleted.err;
  EXPECT_EQ(qovix({"export", "Nowhere", "x.xmi"}).status, 1);
  EXPECT_EQ(qovix({"export", "Library", "x.xmi", "--xmi", "2.1"}).status, 2);
  const ProgramRun missing = qovix({"import", "absent.xmi"});
  EXPECT_NE(missing.err.find("(a file here? name it ./absent.xmi)"), std::string::npos)
      << missing.err;
}

// Documents travel with the client: a file here is imported, a package
// exported to a file here, and the folder keeps nothing of either. What
// clients send stays inside the folder, whole or not at all.
TEST(ToolDocuments, LocalFilesTravelToTheServerAndBack) {
  TemporaryFolder documents;
  TemporaryFolder here;
  const std::filesystem::path model = here.path() / "my model.zargo";
  {
    // An archive, as the tool that drew it saved it.
    const ProgramRun zipped = runProgram(
        "/usr/bin/env",
        {"python3", "-c",
         "import sys, zipfile\n"
         "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
         "    z.write(sys.argv[2], 'shop.xmi')\n",
         model.string(), std::string(QOVIX_XMI_SAMPLES) + "/uml14_xmi12_magicdraw_style.xmi"});
    ASSERT_EQ(zipped.status, 0) << zipped.err;
  }
  ServerProcess server({"--documents", documents.path().string()});
  auto qovix = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--port", std::to_string(server.port())});
    return runProgram(QOVIX_TOOL_PATH, arguments);
  };
  const ProgramRun imported = qovix({"import", model.string()});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_NE(imported.out.find("read from the archive's entry 'shop.xmi'"), std::string::npos)
      << imported.out;
  const std::filesystem::path out = here.path() / "out.xmi";
  const ProgramRun exported = qovix({"export", "Shop", out.string()});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_NE(slurpFile(out).find("name=\"Shop\""), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(documents.path()));
  const ProgramRun cut = qovix({"import", (here.path() / "absent.xmi").string()});
  EXPECT_EQ(cut.status, 1);

  using qovix::client::Connection;
  Connection connection("127.0.0.1", server.port());
  EXPECT_NE(connection.upload("../escape.xmi", 0, "x", true).text.find("is no document name"),
            std::string::npos);
  EXPECT_NE(connection.upload("late.xmi", 5, "x", true).text.find("begin at 0"), std::string::npos);
  EXPECT_EQ(connection.upload("two.xmi", 0, "abc", false).value, 3u);
  EXPECT_NE(connection.upload("two.xmi", 2, "d", false).text.find("out of turn"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(documents.path() / "two.xmi")) << "not whole yet";
  EXPECT_EQ(connection.upload("two.xmi", 3, "def", true).value, 6u);
  EXPECT_EQ(slurpFile(documents.path() / "two.xmi"), "abcdef");
  EXPECT_EQ(connection.download("two.xmi", 4).bytes, "ef");
  EXPECT_NE(connection.download(".two.xmi.upload", 0).refusal.find("is no document name"),
            std::string::npos);
  const qovix::Outcome refused = connection.importDocument("two.xmi", 0, "");
  EXPECT_EQ(refused.value, 0u);
  EXPECT_NE(refused.text.find("XMI document 'two.xmi' line 1"), std::string::npos) << refused.text;
  EXPECT_EQ(connection.discardDocument("two.xmi").value, 1u);
  EXPECT_EQ(connection.discardDocument("two.xmi").value, 0u);
  EXPECT_FALSE(std::filesystem::exists(documents.path().parent_path() / "escape.xmi"));
}
