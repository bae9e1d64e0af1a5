// The model library over an in-memory repository: each kind of feature on a
// representative class, the lifecycle members, finds and casts.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "model_classes.h"

namespace {

std::vector<ObjectId> idsOf(const VornCollection& collection) { return collection.ids(); }

class ModelLibrary : public ::testing::Test {
 protected:
  VORN repository{"test"};
};

TEST_F(ModelLibrary, SurrogatesEmptyNewCopiedAndAssigned) {
  QOVIXClass empty;
  EXPECT_EQ(empty.isNull(), 1);
  EXPECT_EQ(empty.isValid(), 0);
  EXPECT_THROW(empty.get_isActive(), std::invalid_argument);

  QOVIXClass created(repository);
  EXPECT_EQ(created.isNull(), 0);
  EXPECT_EQ(created.isValid(), 1);
  EXPECT_EQ(repository.store().classOf(created.objectId()), QOVIXClass::kClassId);

  QOVIXClass same(created, 1);
  EXPECT_EQ(same.objectId(), created.objectId()) << "another surrogate, the same object";
  same.set_isActive(QOVIXBoolean(1));
  EXPECT_EQ(created.get_isActive().number(), 1);

  QOVIXClass other(repository);
  empty = other;
  EXPECT_EQ(empty.objectId(), other.objectId());
  EXPECT_EQ(QOVIXClass::className(), std::string("QOVIXClass"));
  EXPECT_EQ(QOVIXClass::modelPrefix(), std::string("QOVIX"));
}

TEST_F(ModelLibrary, AttributesStoreValuesAndStartAtTheDefault) {
  QOVIXTaggedValue tagged(repository);
  EXPECT_EQ(tagged.get_tag().text(), u"");
  tagged.set_tag(QOVIXName(u"author"));
  tagged.set_umlValue(QOVIXUninterpreted(u"Ada"));
  EXPECT_EQ(tagged.get_tag().text(), u"author");
  EXPECT_EQ(tagged.get_umlValue().text(), u"Ada");

  QOVIXAssociationEnd end(repository);
  EXPECT_EQ(end.get_aggregation().number(), 0);
  end.set_aggregation(QOVIXAggregationKind(2));
  EXPECT_EQ(end.get_aggregation().format(), u"composite");
}

TEST_F(ModelLibrary, SingleReferencesSetTestAndFlush) {
  QOVIXTaggedValue tagged(repository);
  QOVIXModelElement element(repository);
  EXPECT_EQ(tagged.isNull_modelElement(), 1);
  EXPECT_EQ(tagged.get_modelElement().isNull(), 1) << "unset gives an empty surrogate";
  tagged.set_modelElement(element);
  EXPECT_EQ(tagged.isNull_modelElement(), 0);
  EXPECT_EQ(tagged.get_modelElement().objectId(), element.objectId());
  tagged.flush_modelElement();
  EXPECT_EQ(tagged.isNull_modelElement(), 1);

  QOVIXModelElement nothing;
  tagged.set_modelElement(element);
  tagged.set_modelElement(nothing);
  EXPECT_EQ(tagged.isNull_modelElement(), 1) << "setting an empty surrogate clears";

  VORN elsewhere("other");
  QOVIXModelElement foreign(elsewhere);
  EXPECT_THROW(tagged.set_modelElement(foreign), std::invalid_argument);
}

TEST_F(ModelLibrary, ReadOnlyReferencesReadAndTest) {
  QOVIXStructuralFeature feature(repository);
  EXPECT_EQ(feature.isNull_multiplicity(), 1);
  EXPECT_EQ(feature.get_multiplicity().isNull(), 1);
}

TEST_F(ModelLibrary, SetsAddOnceRemoveAndIndex) {
  QOVIXNamespace space(repository);
  QOVIXModelElement a(repository);
  QOVIXModelElement b(repository);
  EXPECT_EQ(space.isNull_ownedElement(), 1);
  space.add_ownedElement(a);
  space.add_ownedElement(b);
  space.add_ownedElement(a);
  EXPECT_EQ(space.size_ownedElement(), 2);
  EXPECT_EQ(space.isNull_ownedElement(), 0);
  EXPECT_EQ(space.contains_ownedElement(b), 1);
  EXPECT_EQ(space.get_ownedElement(1).objectId(), b.objectId());
  EXPECT_THROW(space.get_ownedElement(2), std::out_of_range);
  EXPECT_THROW(space.get_ownedElement(-1), std::out_of_range);

  VornSet<QOVIXModelElement> snapshot = space.get_ownedElement();
  space.remove_ownedElement(a);
  EXPECT_EQ(snapshot.size(), 2) << "a fetched collection is a copy";
  EXPECT_EQ(space.contains_ownedElement(a), 0);
  space.remove_ownedElement(VornLong{0});
  EXPECT_EQ(space.size_ownedElement(), 0);

  space.set_ownedElement(snapshot);
  EXPECT_EQ(idsOf(space.get_ownedElement()), (std::vector<ObjectId>{a.objectId(), b.objectId()}));
  space.flush_ownedElement();
  EXPECT_EQ(space.size_ownedElement(), 0);
}

TEST_F(ModelLibrary, ListsInsertAtAPosition) {
  QOVIXClassifier classifier(repository);
  QOVIXFeature first(repository);
  QOVIXFeature second(repository);
  QOVIXFeature third(repository);
  classifier.add_feature(first, 0);
  classifier.add_feature(third, 1);
  classifier.add_feature(second, 1);
  EXPECT_EQ(idsOf(classifier.get_feature()),
            (std::vector<ObjectId>{first.objectId(), second.objectId(), third.objectId()}));
  QOVIXFeature fourth(repository);
  EXPECT_THROW(classifier.add_feature(fourth, 5), std::out_of_range);
  EXPECT_EQ(classifier.size_feature(), 3);
  EXPECT_STREQ(classifier.get_feature().kindName(), "VornList");
}

TEST_F(ModelLibrary, ArraysAndListsOfValues) {
  QOVIXModelElement element(repository);
  QOVIXBinding binding(repository);
  element.add_binding(binding);
  EXPECT_STREQ(element.get_binding().kindName(), "VornArray");
  EXPECT_EQ(element.get_binding(0).objectId(), binding.objectId());

  QOVIXUseCase useCase(repository);
  EXPECT_EQ(useCase.isNull_extensionPoint(), 1);
  useCase.add_extensionPoint(QOVIXString(u"b"), 0);
  useCase.add_extensionPoint(QOVIXString(u"a"), 0);
  useCase.add_extensionPoint(QOVIXString(u"c"), 2);
  EXPECT_EQ(useCase.size_extensionPoint(), 3);
  EXPECT_EQ(useCase.get_extensionPoint(0).text(), u"a");
  EXPECT_EQ(useCase.get_extensionPoint(2).text(), u"c");
  EXPECT_EQ(useCase.contains_extensionPoint(QOVIXString(u"b")), 1);
  useCase.remove_extensionPoint(QOVIXString(u"b"));
  EXPECT_EQ(useCase.contains_extensionPoint(QOVIXString(u"b")), 0);
  useCase.removeAt_extensionPoint(0);
  EXPECT_EQ(useCase.get_extensionPoint(0).text(), u"c");
  EXPECT_THROW(useCase.get_extensionPoint(1), std::out_of_range);
  EXPECT_THROW(useCase.add_extensionPoint(QOVIXString(u"x"), 3), std::out_of_range);
  useCase.flush_extensionPoint();
  EXPECT_EQ(useCase.size_extensionPoint(), 0);
}

TEST_F(ModelLibrary, DuplicateCopiesValuesAndReferencesWhenAsked) {
  QOVIXTaggedValue original(repository);
  QOVIXModelElement element(repository);
  original.set_tag(QOVIXName(u"t"));
  original.set_modelElement(element);

  QOVIXTaggedValue shallow = original.duplicate(VornReferenceProcessing(0));
  EXPECT_NE(shallow.objectId(), original.objectId());
  EXPECT_EQ(shallow.isValid(), 1);
  EXPECT_EQ(shallow.get_tag().text(), u"t");
  EXPECT_EQ(shallow.isNull_modelElement(), 1);

  QOVIXTaggedValue deep = original.duplicate(VornReferenceProcessing(1));
  EXPECT_EQ(deep.get_modelElement().objectId(), element.objectId());

  QOVIXTaggedValue empty;
  EXPECT_EQ(empty.duplicate(VornReferenceProcessing(0)).isValid(), 0);
}

TEST_F(ModelLibrary, CastWithAndWithoutTheCheck) {
  QOVIXClass aClass(repository);
  QOVIXClassifier asClassifier = QOVIXClassifier::cast(aClass, 1);
  EXPECT_EQ(asClassifier.objectId(), aClass.objectId()) << "a class is a classifier";
  EXPECT_EQ(QOVIXModelElement::cast(aClass, 1).objectId(), aClass.objectId());
  EXPECT_EQ(QOVIXPackage::cast(aClass, 1).isNull(), 1) << "a class is no package";
  EXPECT_EQ(QOVIXPackage::cast(aClass, 0).objectId(), aClass.objectId()) << "unchecked";
  EXPECT_EQ(QOVIXClass::cast(QOVIXClass(), 1).isNull(), 1);
}

TEST_F(ModelLibrary, FindsInCreationOrderWithAndWithoutSubclasses) {
  QOVIXClassifier plain(repository);
  QOVIXClass aClass(repository);
  QOVIXClassifier second(repository);
  QOVIXInterface anInterface(repository);
  EXPECT_EQ(idsOf(QOVIXClassifier::find(repository, 0)),
            (std::vector<ObjectId>{plain.objectId(), second.objectId()}));
  EXPECT_EQ(idsOf(QOVIXClassifier::find(repository, 1)),
            (std::vector<ObjectId>{plain.objectId(), aClass.objectId(), second.objectId(),
                                   anInterface.objectId()}));
  EXPECT_EQ(QOVIXPackage::find(repository, 1).size(), 0);
  VORN other;
  EXPECT_EQ(QOVIXClassifier::find(other, 1).size(), 0) << "each repository finds its own";
}

TEST_F(ModelLibrary, FindsByTextAndNumberAttributes) {
  QOVIXTaggedValue a(repository);
  QOVIXTaggedValue b(repository);
  QOVIXTaggedValue c(repository);
  a.set_tag(QOVIXName(u"x"));
  b.set_tag(QOVIXName(u"y"));
  c.set_tag(QOVIXName(u"x"));
  EXPECT_EQ(idsOf(QOVIXTaggedValue::find(repository, VornString(u"tag"), VornString(u"x"), 0)),
            (std::vector<ObjectId>{a.objectId(), c.objectId()}));
  EXPECT_THROW(QOVIXTaggedValue::find(repository, VornString(u"nope"), VornString(u"x"), 0),
               std::invalid_argument);
  EXPECT_THROW(QOVIXClass::find(repository, VornString(u"name"), 0, 0), std::invalid_argument)
      << "a name is no number";

  QOVIXClass active(repository);
  QOVIXClass passive(repository);
  active.set_isActive(QOVIXBoolean(1));
  EXPECT_EQ(idsOf(QOVIXClass::find(repository, VornString(u"isActive"), 1, 0)),
            (std::vector<ObjectId>{active.objectId()}));
  EXPECT_EQ(idsOf(QOVIXClass::find(repository, VornString(u"isActive"), 0, 0)),
            (std::vector<ObjectId>{passive.objectId()}));
  EXPECT_EQ(idsOf(QOVIXGeneralizableElement::find(repository, VornString(u"isRoot"), 0, 1)).size(),
            2u)
      << "inherited attributes, subclasses included";
  // A list of text values matches by any of its values.
  QOVIXUseCase borrow(repository), renew(repository);
  borrow.add_extensionPoint(QOVIXString(u"late return"), 0);
  borrow.add_extensionPoint(QOVIXString(u"lost book"), 1);
  renew.add_extensionPoint(QOVIXString(u"lost book"), 0);
  EXPECT_EQ(idsOf(QOVIXUseCase::find(repository, VornString(u"extensionPoint"),
                                     VornString(u"lost book"), 0)),
            (std::vector<ObjectId>{borrow.objectId(), renew.objectId()}));
  EXPECT_EQ(
      QOVIXUseCase::find(repository, VornString(u"extensionPoint"), VornString(u""), 0).size(), 0);
}

TEST_F(ModelLibrary, FindByNameAndTheNameOperations) {
  QOVIXNamespace space(repository);
  QOVIXClass named(repository);
  named.construct(space, QOVIXName(u"Account"));
  QOVIXModelElement asElement = QOVIXModelElement::cast(named, 1);
  EXPECT_EQ(asElement.get_name().text(), u"Account");
  asElement.set_name(QOVIXName(u"Customer"));
  EXPECT_EQ(idsOf(QOVIXModelElement::find_myName(repository, QOVIXName(u"Customer"))),
            (std::vector<ObjectId>{named.objectId()}));
  EXPECT_EQ(QOVIXModelElement::find_myName(repository, QOVIXName(u"Account")).size(), 0);
}

}  // namespace
