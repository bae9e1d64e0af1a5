// The derived operations and well-formedness rules as the public UML 1.4
// specification defines them, each on a small model built for it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model_classes.h"

namespace {

using Names = std::vector<std::u16string>;

class UmlDefinitions : public ::testing::Test {
 protected:
  Names names(const VornCollection& collection) {
    Names found;
    for (ObjectId id : collection.ids()) found.push_back(nameOf(id));
    return found;
  }
  std::u16string nameOf(ObjectId id) {
    return QOVIXModelElement(ObjectRef{&repository.store(), id}).get_name().text();
  }
  QOVIXNamespace space(const VornPersistentObject& object) {
    return QOVIXNamespace::cast(object, 1);
  }
  QOVIXClassifier classifier(const VornPersistentObject& object) {
    return QOVIXClassifier::cast(object, 1);
  }
  QOVIXModelElement element(const VornPersistentObject& object) {
    return QOVIXModelElement::cast(object, 1);
  }
  QOVIXGeneralizableElement general(const VornPersistentObject& object) {
    return QOVIXGeneralizableElement::cast(object, 1);
  }

  QOVIXPackage package(const char16_t* name, QOVIXPackage& owner) {
    QOVIXPackage made(repository);
    made.construct(QOVIXName(name), owner);
    return made;
  }
  QOVIXClass makeClass(const char16_t* name, const VornPersistentObject& owner) {
    QOVIXClass made(repository);
    QOVIXNamespace in = space(owner);
    made.construct(in, QOVIXName(name));
    return made;
  }
  void specialize(const VornPersistentObject& child, const VornPersistentObject& parent) {
    QOVIXGeneralization link(repository);
    QOVIXGeneralizableElement sub = general(child), super = general(parent);
    link.set_subtype(sub);
    link.set_supertype(super);
  }
  void setVisibility(const VornPersistentObject& object, int visibility) {
    element(object).set_elemOwnershipVisibility(QOVIXVisibilityKind(visibility));
  }
  QOVIXAssociationEnd end(QOVIXAssociation& association, const char16_t* name,
                          const VornPersistentObject& type) {
    QOVIXAssociationEnd made(repository);
    made.construct(association, QOVIXName(name));
    QOVIXClassifier typed = classifier(type);
    made.set_type(typed);
    return made;
  }
  QOVIXAssociation association(const char16_t* name, const VornPersistentObject& owner) {
    QOVIXAssociation made(repository);
    QOVIXNamespace in = space(owner);
    made.construct(in, QOVIXName(name));
    return made;
  }
  QOVIXOperation operation(const VornPersistentObject& owner, const char16_t* name) {
    QOVIXOperation made(repository);
    QOVIXClassifier in = classifier(owner);
    made.construct(in, QOVIXName(name));
    return made;
  }
  bool wellFormed(const VornPersistentObject& object) {
    return element(object).checkWellFormedness().number() != 0;
  }

  VORN repository{"uml"};
  QOVIXModel world{repository};
  QOVIXPackage top = [this] {
    element(world).set_name(QOVIXName(u"World"));
    return QOVIXPackage::cast(world, 1);
  }();
};

// Namespace, Classifier and Package (UML 1.4 §2.5.3, §2.14.3): contents
// are what is owned and imported, allContents adds what the parents give
// that is not private, allVisibleElements keeps the public; one answer
// however a client casts.
TEST_F(UmlDefinitions, ContentsAreOwnedImportedAndInheritedNeverDeeper) {
  QOVIXPackage p = package(u"P", top), elsewhere = package(u"Elsewhere", top);
  makeClass(u"D", p);
  setVisibility(makeClass(u"F", p), 2);
  QOVIXPackage q = package(u"Q", p);
  makeClass(u"G", q);
  QOVIXClass x = makeClass(u"X", elsewhere);
  QOVIXElementReference imports(repository);
  QOVIXModelElement imported = element(x);
  imports.construct(imported, p, QOVIXName(u""));
  EXPECT_EQ(names(p.contents()), (Names{u"D", u"F", u"Q", u"X"}));
  EXPECT_EQ(names(space(p).allContents()), (Names{u"D", u"F", u"Q", u"X"})) << "not G, inside Q";
  EXPECT_EQ(names(space(p).allVisibleElements()), (Names{u"D", u"Q", u"X"}));

  QOVIXPackage child = package(u"Child", top);
  makeClass(u"H", child);
  specialize(child, p);
  EXPECT_EQ(names(general(child).allContents()), (Names{u"H", u"D", u"Q", u"X"}));
  EXPECT_EQ(names(space(child).allContents()), names(general(child).allContents()));
}

TEST_F(UmlDefinitions, AllReferencedElementsInheritOnlyPublicAndProtectedImports) {
  QOVIXPackage p = package(u"P", top), child = package(u"Child", top), lib = package(u"Lib", top);
  auto import = [&](QOVIXPackage& into, const char16_t* name, int visibility) {
    QOVIXElementReference reference(repository);
    QOVIXModelElement target = element(makeClass(name, lib));
    reference.construct(target, into, QOVIXName(u""));
    reference.set_visibility(QOVIXVisibilityKind(visibility));
  };
  import(p, u"Shared", 0);
  import(p, u"Guarded", 1);
  import(p, u"Own", 2);
  import(child, u"Mine", 2);
  specialize(child, p);
  EXPECT_EQ(names(child.referencedElement()), (Names{u"Mine"}));
  EXPECT_EQ(names(child.allReferencedElements()), (Names{u"Mine", u"Shared", u"Guarded"}));
}

// Classifier (§2.5.3): a reflexive association's ends are all opposite; an
// end that a classifier only specifies is not its association.
TEST_F(UmlDefinitions, OppositeEndsOfAReflexiveAssociationAreAllItsEnds) {
  QOVIXClass person = makeClass(u"Person", top), car = makeClass(u"Car", top);
  QOVIXAssociation parentOf = association(u"parentOf", top);
  end(parentOf, u"parent", person);
  end(parentOf, u"child", person);
  QOVIXAssociation drives = association(u"drives", top);
  QOVIXAssociationEnd driven = end(drives, u"driven", car);
  end(drives, u"driver", car);
  QOVIXClassifier specifier = classifier(person);
  driven.add_specification(specifier);
  EXPECT_EQ(names(classifier(person).oppositeAssociationEnds()), (Names{u"parent", u"child"}));
  EXPECT_EQ(names(classifier(person).associations()), (Names{u"parentOf"}));
  QOVIXClass student = makeClass(u"Student", top);
  specialize(student, person);
  EXPECT_EQ(names(classifier(student).allOppositeAssociationEnds()), (Names{u"parent", u"child"}));
  EXPECT_EQ(classifier(student).oppositeAssociationEnds().size(), 0);
}

// Instance (§2.9.3): the same for links.
TEST_F(UmlDefinitions, OppositeLinkEndsOfAReflexiveLinkAreAllItsEnds) {
  QOVIXObject a(repository), b(repository);
  QOVIXNamespace in = space(top);
  a.construct(in, QOVIXName(u"a"));
  b.construct(in, QOVIXName(u"b"));
  auto link = [&](const char16_t* name, QOVIXObject& first, QOVIXObject& second) {
    QOVIXLink made(repository);
    made.construct(in, QOVIXName(name));
    for (auto [end, at] : {std::pair{u"1", &first}, {u"2", &second}}) {
      QOVIXLinkEnd linkEnd(repository);
      linkEnd.construct(made, QOVIXName(std::u16string(name) + end));
      QOVIXInstance instance = QOVIXInstance::cast(*at, 1);
      linkEnd.set_instance(instance);
    }
  };
  link(u"knows", a, b);
  link(u"self", a, a);
  QOVIXInstance asInstance = QOVIXInstance::cast(a, 1);
  EXPECT_EQ(names(asInstance.allLinks()), (Names{u"knows", u"self"}));
  EXPECT_EQ(names(asInstance.allOppositeLinkEnds()), (Names{u"knows2", u"self1", u"self2"}));
}

// ModelElement (§2.5.3): template arguments come from the bindings the
// element is the client of.
TEST_F(UmlDefinitions, TemplateArgumentsComeFromTheBindingsAnElementIsClientOf) {
  QOVIXClass list = makeClass(u"ListOfInt", top), integer = makeClass(u"Int", top);
  QOVIXBinding binding(repository);
  QOVIXNamespace in = space(top);
  binding.construct(in, QOVIXName(u"bind"));
  QOVIXModelElement client = element(list), argument = element(integer);
  QOVIXDependency::cast(binding, 1).add_client(client);
  binding.add_argument(argument, 0);
  EXPECT_EQ(names(element(list).templateArguments()), (Names{u"Int"}));
  EXPECT_EQ(element(list).isInstantiated().number(), 1);
  EXPECT_EQ(element(integer).isInstantiated().number(), 0);
}

// UseCase (§2.11.3) and Subsystem (§2.14.3).
TEST_F(UmlDefinitions, SpecificationPathSkipsPackagesAndSubsystemsSpecifyByUseCases) {
  QOVIXSubsystem subsystem(repository);
  subsystem.construct(QOVIXName(u"Billing"), top);
  QOVIXClass invoice = makeClass(u"Invoice", subsystem);
  QOVIXUseCase pay(repository), refund(repository);
  QOVIXNamespace inInvoice = space(invoice), inSubsystem = space(subsystem);
  pay.construct(inInvoice, QOVIXName(u"Pay"));
  refund.construct(inSubsystem, QOVIXName(u"Refund"));
  EXPECT_EQ(names(pay.specificationPath()), (Names{u"Invoice", u"Billing"})) << "not World";
  EXPECT_EQ(names(subsystem.allSpecificationElements()), (Names{u"Refund"}));
}

// Message (§2.10.3): predecessors however they were recorded.
TEST_F(UmlDefinitions, AllPredecessorsFromEitherEnd) {
  QOVIXMessage first(repository), second(repository), third(repository);
  QOVIXNamespace in = space(top);
  first.construct(in, QOVIXName(u"m1"));
  second.construct(in, QOVIXName(u"m2"));
  third.construct(in, QOVIXName(u"m3"));
  second.add_predecessor(first);
  second.add_successor(third);  // recorded on the earlier message only
  EXPECT_EQ(names(third.allPredecessors()), (Names{u"m2", u"m1"}));
  EXPECT_EQ(first.allPredecessors().size(), 0);
}

TEST_F(UmlDefinitions, WellFormednessRulesOfUml14) {
  // Classifier: operations may be overloaded; attributes and opposite ends
  // may not share names.
  QOVIXClass account = makeClass(u"Account", top);
  QOVIXOperation byAmount = operation(account, u"pay");
  operation(account, u"pay");
  EXPECT_FALSE(wellFormed(account)) << "two operations of one signature";
  QOVIXParameter amount(repository);
  QOVIXBehavioralFeature overloaded = QOVIXBehavioralFeature::cast(byAmount, 1);
  amount.construct(QOVIXName(u"amount"), overloaded);
  EXPECT_TRUE(wellFormed(account)) << "overloading";
  QOVIXClass customer = makeClass(u"Customer", top);
  QOVIXAttribute owner(repository);
  QOVIXClassifier accountClassifier = classifier(account);
  owner.construct(accountClassifier, QOVIXName(u"owner"));
  QOVIXAssociation holds = association(u"holds", top);
  end(holds, u"owner", customer);
  end(holds, u"held", account);
  EXPECT_FALSE(wellFormed(account)) << "attribute and opposite end both 'owner'";
  EXPECT_TRUE(wellFormed(holds));

  // Namespace: an association may share a class's name, not another
  // association's name and participants.
  QOVIXClass named = makeClass(u"holds", top);
  EXPECT_TRUE(wellFormed(top));
  QOVIXAssociation twin = association(u"holds", top);
  end(twin, u"a", customer);
  end(twin, u"b", account);
  EXPECT_FALSE(wellFormed(top));

  // Association: at most one aggregate end, none among three.
  QOVIXAssociation whole = association(u"whole", top);
  QOVIXAssociationEnd part = end(whole, u"part", customer);
  QOVIXAssociationEnd of = end(whole, u"of", account);
  part.set_aggregation(QOVIXAggregationKind(2));
  EXPECT_TRUE(wellFormed(whole));
  of.set_aggregation(QOVIXAggregationKind(1));
  EXPECT_FALSE(wellFormed(whole));
  of.set_aggregation(QOVIXAggregationKind(0));
  end(whole, u"third", named);
  EXPECT_FALSE(wellFormed(whole)) << "three ends, one aggregate";

  // GeneralizableElement: the child of a leaf is at fault, not the leaf.
  QOVIXClass leaf = makeClass(u"Leaf", top), below = makeClass(u"Below", top);
  general(leaf).set_isLeaf(QOVIXBoolean(1));
  specialize(below, leaf);
  EXPECT_TRUE(wellFormed(leaf));
  EXPECT_FALSE(wellFormed(below));

  // AssociationClass: not at one of its own ends.
  QOVIXAssociationClass membership(repository);
  QOVIXNamespace in = space(top);
  membership.construct(in, QOVIXName(u"Membership"));
  QOVIXAssociation asAssociation = QOVIXAssociation::cast(membership, 1);
  end(asAssociation, u"member", customer);
  QOVIXAssociationEnd itself = end(asAssociation, u"club", account);
  EXPECT_TRUE(wellFormed(membership));
  QOVIXClassifier self = classifier(membership);
  itself.set_type(self);
  EXPECT_FALSE(wellFormed(membership));

  // Package: an import may not take the name of what the package owns.
  QOVIXPackage p = package(u"P", top), lib = package(u"Lib", top);
  makeClass(u"Date", p);
  QOVIXElementReference reference(repository);
  QOVIXModelElement date = element(makeClass(u"Date", lib));
  reference.construct(date, p, QOVIXName(u""));
  EXPECT_FALSE(wellFormed(p));
  reference.set_alias(QOVIXName(u"LibDate"));
  EXPECT_TRUE(wellFormed(p));

  // "In the namespace": owned, imported, or inherited unless private.
  QOVIXPackage base = package(u"Base", top), derived = package(u"Derived", top);
  QOVIXClass shared = makeClass(u"Shared", base), hiddenClass = makeClass(u"Hidden", base);
  setVisibility(hiddenClass, 2);
  QOVIXClass outside = makeClass(u"Outside", lib), local = makeClass(u"Local", derived);
  specialize(derived, base);
  QOVIXElementReference brought(repository);
  QOVIXModelElement outsideElement = element(outside);
  brought.construct(outsideElement, derived, QOVIXName(u""));
  for (auto [other, expected] :
       {std::pair{&shared, true}, {&outside, true}, {&hiddenClass, false}}) {
    QOVIXAssociation uses = association(u"uses", derived);
    end(uses, u"from", local);
    end(uses, u"to", *other);
    EXPECT_EQ(wellFormed(uses), expected) << other->objectId();
  }

  // Subsystem: each operation of an interface it realizes is matched.
  QOVIXSubsystem billing(repository);
  billing.construct(QOVIXName(u"Billing"), top);
  QOVIXInterface payable(repository);
  QOVIXNamespace inTop = space(top);
  payable.construct(inTop, QOVIXName(u"Payable"));
  operation(payable, u"settle");
  QOVIXClassifier offered = classifier(payable), realizer = classifier(billing);
  realizer.add_specification(offered);
  EXPECT_FALSE(wellFormed(billing));
  operation(makeClass(u"Ledger", billing), u"settle");
  EXPECT_TRUE(wellFormed(billing));
}

}  // namespace
