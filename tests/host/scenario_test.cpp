// One scenario over the real qovixd and libQOVIX_os.so on loopback TCP: a
// client builds a small banking model procedure by procedure, then reads it
// back through getters, collections, finds and derived operations.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "model_values.h"
#include "qovix_protocol.h"
#include "tests/support/remote_calls.h"
#include "tests/support/server_process.h"

namespace {

using namespace qovix::protocol;

constexpr ValueClassId kName = QOVIXName::kValueClassId;
constexpr ValueClassId kExpression = QOVIXExpression::kValueClassId;

constexpr std::uint32_t kModelElementClass = 3;
constexpr std::uint32_t kGeneralizableElementClass = 5;
constexpr std::uint32_t kNamespaceClass = 7;
constexpr std::uint32_t kClassifierClass = 12;
constexpr std::uint32_t kPackageClass = 53;

class Scenario : public ::testing::Test {
 protected:
  void SetUp() override {
    documents =
        std::filesystem::temp_directory_path() / ("qovix-scenario-" + std::to_string(::getpid()));
    std::filesystem::create_directories(documents);
    server = std::make_unique<ServerProcess>(
        std::vector<std::string>{"--documents", documents.string(), "--repository-name", "bank"});
    remote = std::make_unique<RemoteCalls>(server->port());
    repository = remote->repository();
  }
  void TearDown() override {
    remote.reset();
    EXPECT_EQ(server->stop(SIGTERM), 0) << server->standardError();
    std::filesystem::remove_all(documents);
  }

  InteropHandle make(const std::string& className) {
    return remote->handle(className + "_create_1", words({repository}));
  }
  InteropHandle as(std::uint32_t classNumber, InteropHandle object) {
    return handleOf(remote->cast(classNumber, object, 1));
  }
  std::u16string nameOf(InteropHandle object) {
    return remote->text("QOVIXModelElement_QOVIXModelElementget_name_0",
                        words({as(kModelElementClass, object)}));
  }
  // The names of a collection's members, read through the host services.
  std::vector<std::u16string> namesIn(InteropHandle collection) {
    std::vector<std::u16string> names;
    for (std::int32_t i = 0; i < remote->size(collection); ++i) {
      names.push_back(nameOf(remote->element(collection, i)));
    }
    return names;
  }

  std::filesystem::path documents;
  std::unique_ptr<ServerProcess> server;
  std::unique_ptr<RemoteCalls> remote;
  InteropHandle repository = 0;
};

TEST_F(Scenario, BuildABankingModelAndReadItBack) {
  ASSERT_NE(repository, 0u);
  EXPECT_EQ(remote->className(repository), "VORN");

  // A model named World holding a package Banking.
  const InteropHandle world = make("QOVIXModel");
  remote->call("QOVIXModelElement_QOVIXModelElementset_name_0",
               words({as(kModelElementClass, world)}) + textValue(kName, u"World"));
  const InteropHandle banking = make("QOVIXPackage");
  remote->call("QOVIXPackage_QOVIXPackageconstruct_0",
               words({banking}) + textValue(kName, u"Banking") + words({as(kPackageClass, world)}));
  const InteropHandle space = as(kNamespaceClass, banking);

  // Classes, an attribute, a generalization and an association.
  const InteropHandle account = make("QOVIXClass");
  const InteropHandle savings = make("QOVIXClass");
  const InteropHandle customer = make("QOVIXClass");
  for (auto [object, name] :
       {std::pair{account, u"Account"}, {savings, u"Savings"}, {customer, u"Customer"}}) {
    remote->call("QOVIXClass_QOVIXClassconstruct_0",
                 words({object, space}) + textValue(kName, name));
  }
  const InteropHandle balance = make("QOVIXAttribute");
  remote->call("QOVIXAttribute_QOVIXAttributeconstruct_0",
               words({balance, as(kClassifierClass, account)}) + textValue(kName, u"balance"));
  remote->call("QOVIXAttribute_set_initialValue_0",
               words({balance}) + textValue(kExpression, u"0"));

  const InteropHandle inherits = make("QOVIXGeneralization");
  remote->call("QOVIXGeneralization_set_subtype_0",
               words({inherits, as(kGeneralizableElementClass, savings)}));
  remote->call("QOVIXGeneralization_set_supertype_0",
               words({inherits, as(kGeneralizableElementClass, account)}));

  const InteropHandle holds = make("QOVIXAssociation");
  remote->call("QOVIXAssociation_QOVIXAssociationconstruct_0",
               words({holds, space}) + textValue(kName, u"holds"));
  for (auto [end, type] : {std::pair{u"holder", customer}, {u"held", account}}) {
    const InteropHandle made = make("QOVIXAssociationEnd");
    remote->call("QOVIXAssociationEnd_QOVIXAssociationEndconstruct_0",
                 words({made, holds}) + textValue(kName, end));
    remote->call("QOVIXAssociationEnd_set_type_0", words({made, as(kClassifierClass, type)}));
  }

  // Getters.
  EXPECT_EQ(nameOf(account), u"Account");
  EXPECT_EQ(remote->text("QOVIXAttribute_get_initialValue_0", words({balance})), u"0");
  EXPECT_EQ(nameOf(remote->handle("QOVIXGeneralization_get_supertype_0", words({inherits}))),
            u"Account");

  // Collections.
  EXPECT_EQ(
      remote->integer("QOVIXClassifier_size_feature_0", words({as(kClassifierClass, account)})), 1);
  const InteropHandle owned = remote->handle("QOVIXNamespace_get_ownedElement_0", words({space}));
  EXPECT_EQ(remote->className(owned), "VornSet<QOVIXModelElement>");
  EXPECT_EQ(namesIn(owned),
            (std::vector<std::u16string>{u"Account", u"Savings", u"Customer", u"holds"}));
  EXPECT_EQ(remote->integer("QOVIXAssociation_size_connection_0", words({holds})), 2);

  // Finds.
  const InteropHandle classes = remote->handle("QOVIXClass__find__0", words({repository, 1}));
  EXPECT_EQ(remote->className(classes), "VornArray<QOVIXClass>");
  EXPECT_EQ(remote->size(classes), 3);
  const InteropHandle named = remote->handle("QOVIXModelElement_find_myName_0",
                                             words({repository}) + textValue(kName, u"Savings"));
  ASSERT_EQ(remote->size(named), 1);
  EXPECT_EQ(remote->className(remote->element(named, 0)), "QOVIXModelElement");

  // Derived operations.
  EXPECT_EQ(
      namesIn(remote->handle("QOVIXGeneralizableElement_QOVIXGeneralizableElementallSupertypes_0",
                             words({as(kGeneralizableElementClass, savings)}))),
      (std::vector<std::u16string>{u"Account"}));
  EXPECT_EQ(namesIn(remote->handle("QOVIXClassifier_QOVIXClassifierallAttributes_0",
                                   words({as(kClassifierClass, savings)}))),
            (std::vector<std::u16string>{u"balance"}));
  EXPECT_EQ(namesIn(remote->handle("QOVIXClassifier_QOVIXClassifierassociations_0",
                                   words({as(kClassifierClass, customer)}))),
            (std::vector<std::u16string>{u"holds"}));
  EXPECT_EQ(namesIn(remote->handle("QOVIXClassifier_QOVIXClassifieroppositeAssociationEnds_0",
                                   words({as(kClassifierClass, customer)}))),
            (std::vector<std::u16string>{u"held"}));
  const DecodedValue wellFormed =
      valueOf(remote->call("QOVIXPackage_QOVIXPackagecheckWellFormedness_0", words({banking})));
  EXPECT_EQ(wellFormed.extra, VornBoolean::kValueClassId);
  EXPECT_EQ(wellFormed.number, 1);

  // A document round trip.
  remote->call("QOVIXPackage_QOVIXPackageexternalize_0",
               words({banking}) + textValue(QOVIXUninterpreted::kValueClassId, u"") +
                   textValue(QOVIXString::kValueClassId, u"banking"));
  EXPECT_TRUE(std::filesystem::exists(documents / "banking"));
  const InteropHandle copy =
      remote->handle("QOVIXPackage_QOVIXPackageinternalize_0",
                     words({banking}) + textValue(QOVIXUninterpreted::kValueClassId, u"") +
                         textValue(QOVIXString::kValueClassId, u"banking"));
  EXPECT_EQ(nameOf(copy), u"Banking");
  EXPECT_EQ(remote->size(remote->handle("QOVIXPackage_QOVIXPackagecontents_0", words({copy}))), 4);
}

TEST_F(Scenario, ReleasingHandlesKeepsTheRegistryFlat) {
  const InteropHandle space = make("QOVIXNamespace");
  const std::int32_t before = remote->handleCount();
  for (int i = 0; i < 50; ++i) {
    const InteropHandle owned = remote->handle("QOVIXNamespace_get_ownedElement_0", words({space}));
    ASSERT_EQ(remote->release(owned), 1);
    ASSERT_EQ(remote->release(owned), 0) << "released once";
  }
  EXPECT_EQ(remote->handleCount(), before);
  EXPECT_EQ(remote->release(repository), 0) << "the repository stays";
  EXPECT_EQ(remote->className(repository), "VORN");
}

}  // namespace
