// The model's class operations on a small banking model built in the test:
// a model with a package, classes in a generalization chain, features, an
// association and dependencies.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "model_classes.h"
#include "model/qovix_srv/deletion.h"
#include "utf/utf.h"

namespace {

using Ids = std::vector<ObjectId>;

std::u16string nameOf(PersistentStore& store, ObjectId id) {
  return QOVIXModelElement(ObjectRef{&store, id}).get_name().text();
}

std::vector<std::u16string> namesOf(VORN& repository, const VornCollection& collection) {
  std::vector<std::u16string> names;
  for (ObjectId id : collection.ids()) names.push_back(nameOf(repository.store(), id));
  return names;
}

class BankingModel : public ::testing::Test {
 protected:
  void SetUp() override {
    QOVIXModelElement::cast(top, 1).set_name(QOVIXName(u"World"));  // a model needs no owner
    QOVIXPackage topPackage = QOVIXPackage::cast(top, 1);
    banking.construct(QOVIXName(u"Banking"), topPackage);
    asset.construct(bankingSpace, QOVIXName(u"Asset"));
    account.construct(bankingSpace, QOVIXName(u"Account"));
    savings.construct(bankingSpace, QOVIXName(u"Savings"));
    customer.construct(bankingSpace, QOVIXName(u"Customer"));

    // Savings -> Account recorded on the generalization only; Account ->
    // Asset on the subtype's generalization set only.
    toAccount.construct(bankingSpace, QOVIXName(u"g1"));
    toAccount.set_subtype(savingsGeneral);
    toAccount.set_supertype(accountGeneral);
    QOVIXGeneralization toAsset(repository);
    QOVIXGeneralizableElement assetGeneral = QOVIXGeneralizableElement::cast(asset, 1);
    toAsset.set_supertype(assetGeneral);
    accountGeneral.add_generalization(toAsset);

    balance.construct(accountClassifier, QOVIXName(u"balance"));
    withdraw.construct(accountClassifier, QOVIXName(u"withdraw"));
    rate.construct(savingsClassifier, QOVIXName(u"rate"));

    holds.construct(bankingSpace, QOVIXName(u"holds"));
    holder.construct(holds, QOVIXName(u"holder"));
    held.construct(holds, QOVIXName(u"held"));
    QOVIXClassifier customerClassifier = QOVIXClassifier::cast(customer, 1);
    holder.set_type(customerClassifier);
    held.set_type(accountClassifier);

    uses.construct(bankingSpace, QOVIXName(u"uses"));
    QOVIXModelElement savingsElement = QOVIXModelElement::cast(savings, 1);
    QOVIXModelElement accountElement = QOVIXModelElement::cast(account, 1);
    uses.add_client(savingsElement);
    uses.add_supplier(accountElement);
    audits.construct(bankingSpace, QOVIXName(u"audits"));
    QOVIXModelElement assetElement = QOVIXModelElement::cast(asset, 1);
    audits.add_client(accountElement);
    audits.add_supplier(assetElement);
  }

  VORN repository{"bank"};
  QOVIXModel top{repository};
  QOVIXPackage banking{repository};
  QOVIXNamespace bankingSpace = QOVIXNamespace::cast(banking, 1);
  QOVIXClass asset{repository}, account{repository}, savings{repository}, customer{repository};
  QOVIXGeneralizableElement accountGeneral = QOVIXGeneralizableElement::cast(account, 1);
  QOVIXGeneralizableElement savingsGeneral = QOVIXGeneralizableElement::cast(savings, 1);
  QOVIXClassifier accountClassifier = QOVIXClassifier::cast(account, 1);
  QOVIXClassifier savingsClassifier = QOVIXClassifier::cast(savings, 1);
  QOVIXGeneralization toAccount{repository};
  QOVIXAttribute balance{repository}, rate{repository};
  QOVIXOperation withdraw{repository};
  QOVIXAssociation holds{repository};
  QOVIXAssociationEnd holder{repository}, held{repository};
  QOVIXDependency uses{repository}, audits{repository};
};

// Deleting Account takes its features, both generalizations (one recorded
// only on Account's own end), the dependencies left without a client or a
// supplier, the association end typed Account and so the association with
// its other end; nothing that stays names any of them.
TEST_F(BankingModel, DeletingTakesWhatItOwnsAndWhatNeedsItFromEitherEnd) {
  PersistentStore& store = repository.store();
  const std::size_t before = store.objectCount();
  EXPECT_THROW(model::deletionOf(store, account.objectId(), 9), std::length_error);
  const Ids going = model::deletionOf(store, account.objectId(), 100);
  ASSERT_EQ(going.size(), 10u);
  EXPECT_EQ(going.front(), account.objectId());
  for (const VornPersistentObject* each : std::initializer_list<const VornPersistentObject*>{
           &balance, &withdraw, &toAccount, &held, &holds, &holder, &uses, &audits}) {
    EXPECT_NE(std::find(going.begin(), going.end(), each->objectId()), going.end())
        << each->objectId();
  }
  model::deleteObjects(store, going);
  EXPECT_EQ(store.objectCount(), before - 10);
  for (ObjectId id : going) EXPECT_TRUE(store.referencesTo(id).empty()) << id;
  EXPECT_EQ(namesOf(repository, bankingSpace.contents()),
            (std::vector<std::u16string>{u"Asset", u"Savings", u"Customer"}));
  EXPECT_EQ(savingsGeneral.allSupertypes().size(), 0);
}

TEST_F(BankingModel, ConstructNamesAndPlacesInTheOwner) {
  EXPECT_EQ(QOVIXModelElement::cast(account, 1).get_name().text(), u"Account");
  EXPECT_EQ(namesOf(repository, QOVIXNamespace::cast(banking, 1).get_ownedElement()),
            (std::vector<std::u16string>{u"Asset", u"Account", u"Savings", u"Customer", u"g1",
                                         u"holds", u"uses", u"audits"}));
  EXPECT_EQ(namesOf(repository, accountClassifier.get_feature()),
            (std::vector<std::u16string>{u"balance", u"withdraw"}));
  EXPECT_EQ(namesOf(repository, holds.get_connection()),
            (std::vector<std::u16string>{u"holder", u"held"}));
}

TEST_F(BankingModel, SupertypesThroughEitherEndOfAGeneralization) {
  EXPECT_EQ(namesOf(repository, savingsGeneral.supertype()),
            (std::vector<std::u16string>{u"Account"}));
  EXPECT_EQ(namesOf(repository, savingsGeneral.allSupertypes()),
            (std::vector<std::u16string>{u"Account", u"Asset"}));
  EXPECT_EQ(QOVIXGeneralizableElement::cast(asset, 1).allSupertypes().size(), 0);
}

TEST_F(BankingModel, FeaturesIncludeInheritedOnes) {
  EXPECT_EQ(namesOf(repository, savingsClassifier.allFeatures()),
            (std::vector<std::u16string>{u"rate", u"balance", u"withdraw"}));
  EXPECT_EQ(namesOf(repository, savingsClassifier.allAttributes()),
            (std::vector<std::u16string>{u"rate", u"balance"}));
  EXPECT_EQ(namesOf(repository, savingsClassifier.allOperations()),
            (std::vector<std::u16string>{u"withdraw"}));
  EXPECT_EQ(savingsClassifier.allMethods().size(), 0);
}

TEST_F(BankingModel, AssociationsAndTheirEnds) {
  EXPECT_EQ(namesOf(repository, accountClassifier.associations()),
            (std::vector<std::u16string>{u"holds"}));
  EXPECT_EQ(namesOf(repository, accountClassifier.oppositeAssociationEnds()),
            (std::vector<std::u16string>{u"holder"}));
  EXPECT_EQ(namesOf(repository, savingsClassifier.allAssociations()),
            (std::vector<std::u16string>{u"holds"}))
      << "inherited from Account";
  EXPECT_EQ(namesOf(repository, savingsClassifier.allOppositeAssociationEnds()),
            (std::vector<std::u16string>{u"holder"}));
  EXPECT_EQ(savingsClassifier.associations().size(), 0);
  EXPECT_EQ(namesOf(repository, holds.allConnections()),
            (std::vector<std::u16string>{u"holder", u"held"}));
}

TEST_F(BankingModel, SuppliersThroughDependencies) {
  QOVIXModelElement savingsElement = QOVIXModelElement::cast(savings, 1);
  EXPECT_EQ(namesOf(repository, savingsElement.supplier()),
            (std::vector<std::u16string>{u"Account"}));
  EXPECT_EQ(namesOf(repository, savingsElement.allSuppliers()),
            (std::vector<std::u16string>{u"Account", u"Asset"}));
}

TEST_F(BankingModel, NamespacesAroundAndWithin) {
  QOVIXModelElement accountElement = QOVIXModelElement::cast(account, 1);
  EXPECT_EQ(namesOf(repository, QOVIXNamespace::cast(account, 1).allSurroundingNamespaces()),
            (std::vector<std::u16string>{u"Banking", u"World"}));
  EXPECT_EQ(namesOf(repository, accountElement.model()), (std::vector<std::u16string>{u"World"}));
  EXPECT_EQ(QOVIXNamespace::cast(top, 1).contents().size(), 1);
  EXPECT_EQ(namesOf(repository, QOVIXNamespace::cast(top, 1).allContents()),
            (std::vector<std::u16string>{u"Banking"}))
      << "allContents = contents (and, for a package, what its parents give): not deeper";
  EXPECT_EQ(QOVIXPackage::cast(banking, 1).contents().size(), 8);
  EXPECT_EQ(QOVIXNamespace::cast(banking, 1).allVisibleElements().size(), 8)
      << "everything Banking owns is public until said otherwise";
  EXPECT_EQ(QOVIXNamespace::cast(account, 1).allVisibleElements().size(), 0)
      << "what surrounds a namespace is not what it makes visible";
}

// The three places the UML 1.x definitions were not followed, each on the
// model the issue measured.
TEST_F(BankingModel, VisibilityAndImportsAsUml14DefinesThem) {
  const QOVIXVisibilityKind kPrivate(2);
  QOVIXPackage outer = QOVIXPackage::cast(banking, 1);
  QOVIXPackage inner(repository);
  inner.construct(QOVIXName(u"Q"), outer);
  QOVIXNamespace innerSpace = QOVIXNamespace::cast(inner, 1);
  QOVIXClass shown(repository), hidden(repository);
  shown.construct(innerSpace, QOVIXName(u"D"));
  hidden.construct(innerSpace, QOVIXName(u"F"));
  QOVIXModelElement::cast(hidden, 1).set_elemOwnershipVisibility(kPrivate);
  EXPECT_EQ(namesOf(repository, innerSpace.allVisibleElements()),
            (std::vector<std::u16string>{u"D"}))
      << "allContents->select(visibility = #public), without Q itself";

  // B specializes A; A holds a private class Y and a public class X.
  QOVIXClass a(repository), b(repository), x(repository), y(repository);
  a.construct(bankingSpace, QOVIXName(u"A"));
  b.construct(bankingSpace, QOVIXName(u"B"));
  QOVIXNamespace aSpace = QOVIXNamespace::cast(a, 1);
  x.construct(aSpace, QOVIXName(u"X"));
  y.construct(aSpace, QOVIXName(u"Y"));
  QOVIXModelElement::cast(y, 1).set_elemOwnershipVisibility(kPrivate);
  QOVIXGeneralization toA(repository);
  QOVIXGeneralizableElement aGeneral = QOVIXGeneralizableElement::cast(a, 1);
  QOVIXGeneralizableElement bGeneral = QOVIXGeneralizableElement::cast(b, 1);
  toA.set_subtype(bGeneral);
  toA.set_supertype(aGeneral);
  EXPECT_EQ(namesOf(repository, bGeneral.allContents()), (std::vector<std::u16string>{u"X"}))
      << "a parent's private elements are not inherited";
  EXPECT_EQ(namesOf(repository, aGeneral.allContents()), (std::vector<std::u16string>{u"X", u"Y"}));

  // R imports Account into Q: contents = ownedElement + importedElement.
  QOVIXElementReference reference(repository);
  QOVIXModelElement accountElement = QOVIXModelElement::cast(account, 1);
  reference.construct(accountElement, inner, QOVIXName(u""));
  EXPECT_EQ(namesOf(repository, inner.contents()),
            (std::vector<std::u16string>{u"D", u"F", u"Account"}));
  EXPECT_EQ(namesOf(repository, innerSpace.contents()),
            (std::vector<std::u16string>{u"D", u"F", u"Account"}))
      << "a package's contents, through whichever class a client asks";
}

TEST_F(BankingModel, WellFormedness) {
  EXPECT_EQ(QOVIXPackage::cast(banking, 1).checkWellFormedness().number(), 1);
  EXPECT_EQ(holds.checkWellFormedness().number(), 1);
  EXPECT_EQ(accountClassifier.checkWellFormedness().number(), 1);

  QOVIXAssociation lonely(repository);
  lonely.construct(bankingSpace, QOVIXName(u"lonely"));
  QOVIXAssociationEnd only(repository);
  only.construct(lonely, QOVIXName(u"only"));
  EXPECT_EQ(lonely.checkWellFormedness().number(), 0) << "fewer than two ends";

  QOVIXClass twin(repository);
  twin.construct(bankingSpace, QOVIXName(u"Account"));
  EXPECT_EQ(QOVIXPackage::cast(banking, 1).checkWellFormedness().number(), 0) << "two Accounts";

  QOVIXGeneralization back(repository);
  QOVIXGeneralizableElement assetGeneral = QOVIXGeneralizableElement::cast(asset, 1);
  back.set_subtype(assetGeneral);
  back.set_supertype(savingsGeneral);
  EXPECT_EQ(accountClassifier.checkWellFormedness().number(), 0) << "a generalization cycle";

  // Banking holds Vault, which is made to hold the package that holds Banking.
  QOVIXPackage vault(repository);
  vault.construct(QOVIXName(u"Vault"), banking);
  EXPECT_EQ(QOVIXPackage::cast(vault, 1).checkWellFormedness().number(), 1);
  QOVIXModelElement topElement = QOVIXModelElement::cast(top, 1);
  QOVIXNamespace::cast(vault, 1).add_ownedElement(topElement);
  EXPECT_EQ(QOVIXModelElement::cast(vault, 1).checkWellFormedness().number(), 0)
      << "an element among its own owners";
  EXPECT_EQ(QOVIXModelElement::cast(banking, 1).checkWellFormedness().number(), 0)
      << "an element among its own owners";
}

TEST_F(BankingModel, SignaturesTaggedValuesAndTemplates) {
  QOVIXOperation another(repository);
  another.construct(savingsClassifier, QOVIXName(u"withdraw"));
  QOVIXBehavioralFeature first = QOVIXBehavioralFeature::cast(withdraw, 1);
  QOVIXBehavioralFeature second = QOVIXBehavioralFeature::cast(another, 1);
  EXPECT_EQ(first.hasSameSignature(second).number(), 1);
  QOVIXParameter amount(repository);
  amount.construct(QOVIXName(u"amount"), second);
  EXPECT_EQ(first.hasSameSignature(second).number(), 0) << "one more parameter";

  QOVIXModelElement accountElement = QOVIXModelElement::cast(account, 1);
  QOVIXTaggedValue author(repository);
  author.construct(QOVIXName(u"author"), QOVIXUninterpreted(u"Ada"), accountElement);
  EXPECT_EQ(accountElement.getTaggedValue(QOVIXName(u"author")).objectId(), author.objectId());
  EXPECT_EQ(accountElement.getTaggedValue(QOVIXName(u"owner")).isNull(), 1);
  EXPECT_EQ(author.label().text(), u"author = Ada");
  EXPECT_EQ(author.get_tag().text(), u"author");
  EXPECT_EQ(author.get_modelElement().objectId(), account.objectId());

  EXPECT_EQ(accountElement.isTemplate().number(), 0);
  accountElement.add_templateParameter(accountElement, 0);
  EXPECT_EQ(accountElement.isTemplate().number(), 1);
  QOVIXBinding binding(repository);
  QOVIXModelElement customerElement = QOVIXModelElement::cast(customer, 1);
  binding.add_argument(customerElement, 0);
  accountElement.add_binding(binding);
  EXPECT_EQ(accountElement.isInstantiated().number(), 1);
  EXPECT_EQ(namesOf(repository, accountElement.templateArguments()),
            (std::vector<std::u16string>{u"Customer"}));
}

TEST_F(BankingModel, PreferredVersionsAreTheFirstOfTheSet) {
  QOVIXFeature feature = QOVIXFeature::cast(balance, 1);
  EXPECT_EQ(feature.getPreferredVersion_owner().isNull(), 1);
  feature.add_UMLowner(accountClassifier);
  feature.add_UMLowner(savingsClassifier);
  EXPECT_EQ(feature.getPreferredVersion_owner().objectId(), account.objectId());
}

TEST_F(BankingModel, LabelsAndMultiplicities) {
  QOVIXEnumeration kind(repository);
  kind.construct(bankingSpace, QOVIXName(u"Kind"));
  QOVIXEnumerationLiteral gold(repository);
  gold.construct(kind, QOVIXName(u"gold"));
  EXPECT_EQ(gold.label().text(), u"gold");
  EXPECT_EQ(gold.get_enumeration().objectId(), kind.objectId());
  EXPECT_EQ(kind.size_literal(), 1);

  QOVIXElementReference reference(repository);
  QOVIXModelElement accountElement = QOVIXModelElement::cast(account, 1);
  QOVIXPackage bankingPackage = QOVIXPackage::cast(banking, 1);
  reference.construct(accountElement, bankingPackage, QOVIXName(u""));
  EXPECT_EQ(reference.label().text(), u"Account");
  EXPECT_EQ(namesOf(repository, bankingPackage.referencedElement()),
            (std::vector<std::u16string>{u"Account"}));

  QOVIXMultiplicity many(repository);
  many.setValue(QOVIXString(u"0..*"));
  EXPECT_EQ(many.getValue().text(), u"0..*");
  EXPECT_EQ(many.size_ranges(), 1);
  many.setValue(QOVIXString(u"1..3, 5"));
  EXPECT_EQ(many.getValue().text(), u"1..3,5");
  EXPECT_THROW(many.setValue(QOVIXString(u"3..1")), std::invalid_argument);
  EXPECT_THROW(many.setValue(QOVIXString(u"few")), std::invalid_argument);
  EXPECT_EQ(many.getValue().text(), u"1..3,5") << "a failed set changes nothing";

  QOVIXMultiplicityRange range(repository);
  range.construct(many, QOVIXInteger(2), QOVIXInteger(4));
  EXPECT_EQ(range.get_lower().number(), 2);
  EXPECT_EQ(range.get_upper().number(), 4);
  EXPECT_EQ(many.getValue().text(), u"1..3,5,2..4");
}

class Documents : public BankingModel {
 protected:
  void SetUp() override {
    BankingModel::SetUp();
    folder = std::filesystem::temp_directory_path() /
             ("qovix-documents-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder);
    repository.store().settings().documentFolder = folder;
  }
  void TearDown() override { std::filesystem::remove_all(folder); }
  std::filesystem::path folder;
};

TEST_F(Documents, ExternalizeThenInternalizeRebuildsThePackage) {
  QOVIXPackage package = QOVIXPackage::cast(banking, 1);
  package.externalize(QOVIXUninterpreted(u""), QOVIXString(u"bank.qovix"));
  ASSERT_TRUE(std::filesystem::exists(folder / "bank.qovix"));

  QOVIXPackage copy = package.internalize(QOVIXUninterpreted(u"qovix"), QOVIXString(u"bank.qovix"));
  ASSERT_EQ(copy.isValid(), 1);
  EXPECT_NE(copy.objectId(), banking.objectId());
  EXPECT_EQ(QOVIXModelElement::cast(copy, 1).get_name().text(), u"Banking");
  EXPECT_EQ(namesOf(repository, copy.contents()), namesOf(repository, package.contents()));
  // References inside the package point at the copies.
  QOVIXAssociation copiedHolds(ObjectRef{&repository.store(), copy.contents().ids()[5]});
  QOVIXAssociationEnd copiedHeld = copiedHolds.get_connection(1);
  EXPECT_NE(copiedHeld.objectId(), held.objectId());
  EXPECT_EQ(nameOf(repository.store(), copiedHeld.get_type().objectId()), u"Account");
  EXPECT_NE(copiedHeld.get_type().objectId(), account.objectId());
}

TEST_F(Documents, NamesMustStayInTheFolder) {
  QOVIXPackage package = QOVIXPackage::cast(banking, 1);
  for (const char16_t* name : {u"../escape", u"", u".hidden", u"a/b", u"a..b", u"/etc/passwd"}) {
    EXPECT_THROW(package.externalize(QOVIXUninterpreted(u""), QOVIXString(name)),
                 std::invalid_argument);
  }
  EXPECT_THROW(package.externalize(QOVIXUninterpreted(u"xml"), QOVIXString(u"x")),
               std::invalid_argument);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(Documents, MissingAndMalformedDocumentsAreErrors) {
  QOVIXPackage package = QOVIXPackage::cast(banking, 1);
  EXPECT_THROW(package.internalize(QOVIXUninterpreted(u""), QOVIXString(u"absent")),
               std::runtime_error);
  for (const char* text :
       {"garbage\n", "qovix-document 1\nobject 1 QOVIXNoSuchClass\n",
        "qovix-document 1\nobject 1 QOVIXPackage\nref 1 QOVIXTaggedValue.modelElement 7\n",
        "qovix-document 1\nobject 1 QOVIXClass\n",
        "qovix-document 1\nobject 1 QOVIXPackage\nvalue 1 *.name QOVIXName \"x\n"}) {
    std::ofstream(folder / "bad") << text;
    try {
      package.internalize(QOVIXUninterpreted(u""), QOVIXString(u"bad"));
      ADD_FAILURE() << "accepted: " << text;
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find("document 'bad'"), std::string::npos)
          << error.what();
    }
  }
}

// Every feature of every object of the package survives a round trip into
// another repository, the generalizations (owned by no namespace) included:
// the copy writes the very document the original wrote.
TEST_F(Documents, ARoundTripIntoAnotherRepositoryLosesNothing) {
  QOVIXPackage::cast(banking, 1).externalize(QOVIXUninterpreted(u""), QOVIXString(u"bank"));
  VORN other{"other"};
  other.store().settings().documentFolder = folder;
  QOVIXPackage somewhere{other};
  QOVIXPackage copy = somewhere.internalize(QOVIXUninterpreted(u""), QOVIXString(u"bank"));
  copy.externalize(QOVIXUninterpreted(u""), QOVIXString(u"again"));
  const auto text = [&](const char* name) {
    std::ifstream in(folder / name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(text("again"), text("bank"));
  const ObjectId copiedSavings = copy.contents().ids()[2];
  QOVIXGeneralizableElement general(ObjectRef{&other.store(), copiedSavings});
  EXPECT_EQ(namesOf(other, general.allSupertypes()),
            (std::vector<std::u16string>{u"Account", u"Asset"}));
}

// What the wire refuses, a document may not bring in; nor may a cut or
// changed one be read.
TEST_F(Documents, CutChangedAndHostileDocumentsAreRefused) {
  QOVIXPackage package = QOVIXPackage::cast(banking, 1);
  package.externalize(QOVIXUninterpreted(u""), QOVIXString(u"bank"));
  std::ifstream in(folder / "bank");
  const std::string good(std::istreambuf_iterator<char>(in), {});
  std::vector<std::string> bad;
  for (std::size_t cut = good.find('\n'); cut + 1 < good.size(); cut = good.find('\n', cut + 1)) {
    bad.push_back(good.substr(0, cut + 1));  // at every line boundary
  }
  bad.push_back(good.substr(0, good.size() - 3));
  std::string changed = good;
  changed[changed.find("Savings")] = 'X';
  bad.push_back(changed);
  bad.push_back(good + "object 99 QOVIXClass\n");
  const std::string head = "qovix-document 1\nobject 1 QOVIXPackage\nobject 2 QOVIXParameter\n";
  bad.push_back(head + "value 2 QOVIXParameter.kind QOVIXParameterDirectionKind 99\n");
  bad.push_back(head + "ref 2 QOVIXParameter.type 1\n");             // a package as a type
  bad.push_back(head + "value 2 *.name QOVIXName \"a\\uD800b\"\n");  // a lone surrogate
  bad.push_back(head + "value 2 *.name QOVIXString \"wrong class\"\n");
  bad.push_back(head + "value 1 QOVIXParameter.kind QOVIXParameterDirectionKind 1\n");
  bad.push_back(head + "member 2 QOVIXParameter.type 1\n");  // a reference written as a member
  for (const std::string& text : bad) {
    std::ofstream(folder / "bad", std::ios::trunc) << text;
    EXPECT_THROW(package.internalize(QOVIXUninterpreted(u""), QOVIXString(u"bad")),
                 std::runtime_error)
        << text.substr(text.size() > 120 ? text.size() - 120 : 0);
  }
}

// A document whole and unchanged, written by a server that let a longer text
// in, is refused for it: no text longer than a value holds comes in.
TEST_F(Documents, TextLongerThanAValueHoldsIsRefused) {
  PersistentStore& store = repository.store();
  const ObjectId package = store.create(QOVIXPackage::kClassId);
  store.setValue(
      package, feature::name,
      StoredValue{QOVIXName::kValueClassId, 0, std::u16string(utf::kMostTextUnits + 1, u'n')});
  QOVIXPackage(ObjectRef{&store, package})
      .externalize(QOVIXUninterpreted(u""), QOVIXString(u"long"));
  try {
    QOVIXPackage::cast(banking, 1).internalize(QOVIXUninterpreted(u""), QOVIXString(u"long"));
    ADD_FAILURE() << "a name of " << utf::kMostTextUnits + 1 << " units was read";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("*.name holds text of 131073 UTF-16 units"),
              std::string::npos)
        << std::string(error.what()).substr(0, 200);
  }
}

TEST_F(Documents, OnlyPlainFilesInTheFolderAreDocuments) {
  QOVIXPackage package = QOVIXPackage::cast(banking, 1);
  const std::filesystem::path outside =
      folder.parent_path() / (folder.filename().string() + "-out");
  std::ofstream(outside) << "precious";
  std::filesystem::create_symlink(outside, folder / "link");
  std::filesystem::create_symlink("/dev/zero", folder / "zero");
  mkfifo((folder / "fifo").c_str(), 0600);
  std::filesystem::create_directory(folder / "dir");
  for (const char16_t* name : {u"link", u"zero", u"fifo", u"dir"}) {
    EXPECT_THROW(package.internalize(QOVIXUninterpreted(u""), QOVIXString(name)),
                 std::runtime_error);
  }
  // Writing replaces the link itself, never what it points at.
  package.externalize(QOVIXUninterpreted(u""), QOVIXString(u"link"));
  EXPECT_FALSE(std::filesystem::is_symlink(folder / "link"));
  std::ifstream kept(outside);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "precious");
  std::filesystem::remove(outside);
  EXPECT_THROW(package.externalize(QOVIXUninterpreted(u""), QOVIXString(u"dir")),
               std::runtime_error);
}

// A write that fails (here: past the process's file size limit) leaves the
// old document as it was, and no half-written file beside it.
TEST_F(Documents, AFailedWriteLeavesTheOldDocument) {
  QOVIXPackage package = QOVIXPackage::cast(banking, 1);
  package.externalize(QOVIXUninterpreted(u""), QOVIXString(u"bank"));
  const auto before = std::filesystem::file_size(folder / "bank");
  for (int i = 0; i < 200; ++i) {
    QOVIXClass more{repository};
    more.construct(bankingSpace, QOVIXName(u"Another class with a long name"));
  }
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = before + 512;
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_THROW(package.externalize(QOVIXUninterpreted(u""), QOVIXString(u"bank")),
               std::runtime_error);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(std::filesystem::file_size(folder / "bank"), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "a file left";
  EXPECT_NO_THROW(package.internalize(QOVIXUninterpreted(u""), QOVIXString(u"bank")));
}

// A feature's multiplicity is part of the feature: documents and copies
// take it along.
TEST_F(Documents, MultiplicitiesTravelWithWhatOwnsThem) {
  QOVIXMultiplicity many(repository);
  many.setValue(QOVIXString(u"1..*"));
  repository.store().setReference(balance.objectId(), feature::QOVIXStructuralFeature_multiplicity,
                                  many.objectId());
  QOVIXPackage::cast(banking, 1).externalize(QOVIXUninterpreted(u""), QOVIXString(u"bank"));
  VORN other{"other"};
  other.store().settings().documentFolder = folder;
  QOVIXPackage somewhere{other};
  QOVIXPackage copy = somewhere.internalize(QOVIXUninterpreted(u""), QOVIXString(u"bank"));
  const ObjectId copiedAccount = copy.contents().ids()[1];
  const ObjectId copiedBalance =
      other.store().members(copiedAccount, feature::QOVIXClassifier_feature).front();
  const ObjectId copied =
      other.store().reference(copiedBalance, feature::QOVIXStructuralFeature_multiplicity);
  ASSERT_NE(copied, 0u);
  EXPECT_EQ(QOVIXMultiplicity(ObjectRef{&other.store(), copied}).getValue().text(), u"1..*");
}

TEST_F(Documents, WithoutAFolderThereAreNoDocuments) {
  repository.store().settings().documentFolder.clear();
  EXPECT_THROW(
      QOVIXPackage::cast(banking, 1).externalize(QOVIXUninterpreted(u""), QOVIXString(u"x")),
      std::runtime_error);
}

// Each such copy would double the repository: the copy would be copied too.
TEST_F(BankingModel, CopyModelRefusesToCopyAPackageIntoItselfOrItsContents) {
  QOVIXPackage package = QOVIXPackage::cast(banking, 1);
  const std::size_t before = repository.store().objectCount();
  EXPECT_THROW(package.copyModel(bankingSpace), std::invalid_argument);
  QOVIXNamespace inside = QOVIXNamespace::cast(account, 1);
  EXPECT_THROW(package.copyModel(inside), std::invalid_argument);
  EXPECT_EQ(repository.store().objectCount(), before);
}

TEST_F(BankingModel, CopyModelCopiesThePackageIntoANamespace) {
  QOVIXPackage package = QOVIXPackage::cast(banking, 1);
  QOVIXNamespace world = QOVIXNamespace::cast(top, 1);
  QOVIXModelElement copy = package.copyModel(world);
  EXPECT_EQ(copy.get_name().text(), u"Banking");
  EXPECT_EQ(world.size_ownedElement(), 2);
  QOVIXPackage copiedPackage = QOVIXPackage::cast(copy, 1);
  EXPECT_EQ(namesOf(repository, copiedPackage.contents()), namesOf(repository, package.contents()));
  EXPECT_EQ(package.createVornMetaModel(QOVIXBoolean(0)).number(), 1);
}

}  // namespace
