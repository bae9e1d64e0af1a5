// The derived collections of the model's class operations, computed from the
// stored references. A relation is read from both of its ends (a
// generalization counts whether it was recorded on the subtype's
// `generalization` set or only on the generalization's `subtype`), so the
// answers do not depend on which end a client wrote.

#include <algorithm>
#include <functional>

#include "model_classes.h"
#include "platform/qovix_srv/members.h"
#include "platform/qovix_srv/operations.h"
#include "platform/qovix_srv/store_view.h"

namespace model {
namespace {

struct Context {
  ObjectRef self;
  StoreView view;
};

Context contextOf(const VornPersistentObject& self) {
  const ObjectRef ref = named(self);
  return Context{ref, StoreView(*ref.store)};
}

// Everything reachable from `start` by `step`, in breadth-first order,
// without `start` itself unless a cycle leads back to it.
Ids closure(ObjectId start, const std::function<Ids(ObjectId)>& step) {
  IdSet found;
  Ids frontier{start};
  while (!frontier.empty()) {
    Ids next;
    for (ObjectId id : frontier) {
      for (ObjectId reached : step(id)) {
        if (found.add(reached)) next.push_back(reached);
      }
    }
    frontier = std::move(next);
  }
  return found.take();
}

Ids only(const StoreView& view, const Ids& ids, ClassId classId) {
  Ids kept;
  for (ObjectId id : ids) {
    if (view.is(id, classId)) kept.push_back(id);
  }
  return kept;
}

Ids parentsOf(const StoreView& view, ObjectId element) {
  IdSet parents;
  for (ObjectId generalization :
       view.related(element, feature::QOVIXGeneralizableElement_generalization,
                    QOVIXGeneralization::kClassId, feature::QOVIXGeneralization_subtype)) {
    parents.add(view.reference(generalization, feature::QOVIXGeneralization_supertype));
  }
  return parents.take();
}

Ids ownedBy(const StoreView& view, ObjectId owner) {
  return view.related(owner, feature::QOVIXNamespace_ownedElement, QOVIXModelElement::kClassId,
                      feature::QOVIXModelElement_namespace1);
}

Ids ownersOf(const StoreView& view, ObjectId element) {
  return view.related(element, feature::QOVIXModelElement_namespace1, QOVIXNamespace::kClassId,
                      feature::QOVIXNamespace_ownedElement);
}

Ids selfAndAncestors(const StoreView& view, ObjectId id) {
  Ids all{id};
  for (ObjectId ancestor : closure(id, [&](ObjectId each) { return parentsOf(view, each); })) {
    if (ancestor != id) all.push_back(ancestor);
  }
  return all;
}

Ids featuresOf(const StoreView& view, ObjectId classifier) {
  return view.related(classifier, feature::QOVIXClassifier_feature, QOVIXFeature::kClassId,
                      feature::QOVIXFeature_UMLowner);
}

// The association ends whose type is the classifier.
Ids endsTyped(const StoreView& view, ObjectId classifier) {
  IdSet ends;
  ends.addAll(view.members(classifier, feature::QOVIXClassifier_associationEnd));
  ends.addAll(view.members(classifier, feature::QOVIXClassifier_participant));
  ends.addAll(
      view.referrers(QOVIXAssociationEnd::kClassId, feature::QOVIXAssociationEnd_type, classifier));
  return ends.take();
}

Ids associationsOfEnd(const StoreView& view, ObjectId end) {
  return view.related(end, feature::QOVIXAssociationEnd_association, QOVIXAssociation::kClassId,
                      feature::QOVIXAssociation_connection);
}

Ids connectionsOf(const StoreView& view, ObjectId association) {
  return view.related(association, feature::QOVIXAssociation_connection,
                      QOVIXAssociationEnd::kClassId, feature::QOVIXAssociationEnd_association);
}

Ids associationsOf(const StoreView& view, ObjectId classifier) {
  IdSet found;
  for (ObjectId end : endsTyped(view, classifier)) found.addAll(associationsOfEnd(view, end));
  return found.take();
}

Ids oppositeEndsOf(const StoreView& view, ObjectId classifier) {
  const Ids own = endsTyped(view, classifier);
  IdSet opposite;
  for (ObjectId association : associationsOf(view, classifier)) {
    for (ObjectId end : connectionsOf(view, association)) {
      if (std::find(own.begin(), own.end(), end) == own.end()) opposite.add(end);
    }
  }
  return opposite.take();
}

Ids linkEndsOf(const StoreView& view, ObjectId instance) {
  return view.related(instance, feature::QOVIXInstance_linkEnd, QOVIXLinkEnd::kClassId,
                      feature::QOVIXLinkEnd_instance);
}

Ids linksOfEnd(const StoreView& view, ObjectId end) {
  return view.related(end, feature::QOVIXLinkEnd_link, QOVIXLink::kClassId,
                      feature::QOVIXLink_linkRole);
}

Ids suppliersOf(const StoreView& view, ObjectId element) {
  IdSet suppliers;
  for (ObjectId dependency :
       view.related(element, feature::QOVIXModelElement_requirement, QOVIXDependency::kClassId,
                    feature::QOVIXDependency_client)) {
    suppliers.addAll(view.members(dependency, feature::QOVIXDependency_supplier));
  }
  return suppliers.take();
}

Ids referencedBy(const StoreView& view, ObjectId package) {
  IdSet elements;
  for (ObjectId reference :
       view.related(package, feature::QOVIXPackage_modelElementReference,
                    QOVIXElementReference::kClassId, feature::QOVIXElementReference_package)) {
    elements.add(view.reference(reference, feature::QOVIXElementReference_modelElement));
  }
  return elements.take();
}

Ids contentsDeep(const StoreView& view, ObjectId owner) {
  return closure(owner, [&](ObjectId each) { return ownedBy(view, each); });
}

}  // namespace

Ids supplier(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return suppliersOf(c.view, c.self.id);
}

Ids allSuppliers(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return closure(c.self.id, [&](ObjectId each) { return suppliersOf(c.view, each); });
}

// The models that contain the element, directly or through namespaces.
Ids model(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return only(c.view, closure(c.self.id, [&](ObjectId each) { return ownersOf(c.view, each); }),
              QOVIXModel::kClassId);
}

// The arguments of the element's bindings, binding by binding.
Ids templateArguments(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  Ids arguments;
  for (ObjectId binding : c.view.members(c.self.id, feature::QOVIXModelElement_binding)) {
    const Ids each = c.view.members(binding, feature::QOVIXBinding_argument);
    arguments.insert(arguments.end(), each.begin(), each.end());
  }
  return arguments;
}

namespace {

// QOVIXVisibilityKind's literals, by ordinal (the catalogue's order).
enum VisibilityOrdinal : std::int32_t { kPublic = 0, kProtected = 1, kPrivate = 2 };

// The element's visibility in the namespace that owns it.
VisibilityOrdinal ownershipVisibility(const StoreView& view, ObjectId element) {
  return static_cast<VisibilityOrdinal>(
      view.number(element, feature::QOVIXModelElement_elemOwnershipVisibility));
}

}  // namespace

// A namespace's allContents: everything it contains at any depth. A
// generalizable element's (UML 1.4, 2.5.3.20 [2]): its contents, and those
// of its parents' allContents that are public or protected, so a parent's
// private elements are not inherited:
//   allContents = self.contents->union(self.parent.allContents->select(e |
//     e.elementOwnership.visibility = #public or
//     e.elementOwnership.visibility = #protected))
Ids allContents(const VornPersistentObject& self, ClassId declaringClass) {
  const Context c = contextOf(self);
  if (declaringClass != QOVIXGeneralizableElement::kClassId) return contentsDeep(c.view, c.self.id);
  IdSet found;
  found.addAll(ownedBy(c.view, c.self.id));
  for (ObjectId ancestor : closure(c.self.id, [&](ObjectId each) { return parentsOf(c.view, each); })) {
    for (ObjectId element : ownedBy(c.view, ancestor)) {
      if (ownershipVisibility(c.view, element) != kPrivate) found.add(element);
    }
  }
  return found.take();
}

Ids supertype(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return parentsOf(c.view, c.self.id);
}

Ids allSupertypes(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return closure(c.self.id, [&](ObjectId each) { return parentsOf(c.view, each); });
}

// A namespace's contents: what it owns. A package's (UML 1.4, 2.14.3.3
// [1]) adds what it imports through element references:
//   contents = self.ownedElement->union(self.importedElement)
Ids contents(const VornPersistentObject& self, ClassId declaringClass) {
  const Context c = contextOf(self);
  if (declaringClass != QOVIXPackage::kClassId) return ownedBy(c.view, c.self.id);
  IdSet found;
  found.addAll(ownedBy(c.view, c.self.id));
  found.addAll(referencedBy(c.view, c.self.id));
  return found.take();
}

// What the namespace makes visible (UML 1.4, 2.5.3.26 [3]): the elements it
// contains whose ownership is public; not itself, nor what surrounds it.
//   allVisibleElements = self.allContents->select(e |
//     e.elementOwnership.visibility = #public)
Ids allVisibleElements(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  Ids visible;
  for (ObjectId element : contentsDeep(c.view, c.self.id)) {
    if (ownershipVisibility(c.view, element) == kPublic) visible.push_back(element);
  }
  return visible;
}

Ids allSurroundingNamespaces(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return closure(c.self.id, [&](ObjectId each) { return ownersOf(c.view, each); });
}

// The parameters of a request that is a behavioral feature or a signal.
Ids parameter(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  if (c.view.is(c.self.id, QOVIXBehavioralFeature::kClassId)) {
    return c.view.related(c.self.id, feature::QOVIXBehavioralFeature_parameter,
                          QOVIXParameter::kClassId, feature::QOVIXParameter_behavioralFeature);
  }
  if (c.view.is(c.self.id, QOVIXSignal::kClassId)) {
    return c.view.related(c.self.id, feature::QOVIXSignal_parameter, QOVIXParameter::kClassId,
                          feature::QOVIXParameter_signal);
  }
  return {};
}

Ids allFeatures(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  IdSet features;
  for (ObjectId each : selfAndAncestors(c.view, c.self.id))
    features.addAll(featuresOf(c.view, each));
  return features.take();
}

Ids allOperations(const VornPersistentObject& self, ClassId declaringClass) {
  const Context c = contextOf(self);
  return only(c.view, allFeatures(self, declaringClass), QOVIXOperation::kClassId);
}

Ids allMethods(const VornPersistentObject& self, ClassId declaringClass) {
  const Context c = contextOf(self);
  return only(c.view, allFeatures(self, declaringClass), QOVIXMethod::kClassId);
}

Ids allAttributes(const VornPersistentObject& self, ClassId declaringClass) {
  const Context c = contextOf(self);
  return only(c.view, allFeatures(self, declaringClass), QOVIXAttribute::kClassId);
}

Ids associations(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return associationsOf(c.view, c.self.id);
}

Ids allAssociations(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  IdSet found;
  for (ObjectId each : selfAndAncestors(c.view, c.self.id)) {
    found.addAll(associationsOf(c.view, each));
  }
  return found.take();
}

Ids oppositeAssociationEnds(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return oppositeEndsOf(c.view, c.self.id);
}

Ids allOppositeAssociationEnds(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  IdSet found;
  for (ObjectId each : selfAndAncestors(c.view, c.self.id)) {
    found.addAll(oppositeEndsOf(c.view, each));
  }
  return found.take();
}

Ids allLinks(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  IdSet links;
  for (ObjectId end : linkEndsOf(c.view, c.self.id)) links.addAll(linksOfEnd(c.view, end));
  return links.take();
}

Ids allOppositeLinkEnds(const VornPersistentObject& self, ClassId declaringClass) {
  const Context c = contextOf(self);
  const Ids own = linkEndsOf(c.view, c.self.id);
  IdSet opposite;
  for (ObjectId link : allLinks(self, declaringClass)) {
    for (ObjectId end : c.view.related(link, feature::QOVIXLink_linkRole, QOVIXLinkEnd::kClassId,
                                       feature::QOVIXLinkEnd_link)) {
      if (std::find(own.begin(), own.end(), end) == own.end()) opposite.add(end);
    }
  }
  return opposite.take();
}

// The association's ends and those of the associations it specializes.
Ids allConnections(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  IdSet ends;
  for (ObjectId each : selfAndAncestors(c.view, c.self.id))
    ends.addAll(connectionsOf(c.view, each));
  return ends.take();
}

Ids referencedElement(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return referencedBy(c.view, c.self.id);
}

// The elements the package references, and those its supertypes reference.
Ids allReferencedElements(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  IdSet found;
  for (ObjectId each : selfAndAncestors(c.view, c.self.id))
    found.addAll(referencedBy(c.view, each));
  return found.take();
}

// The use cases the subsystem contains, at any depth.
Ids allSpecificationElements(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return only(c.view, contentsDeep(c.view, c.self.id), QOVIXUseCase::kClassId);
}

// The namespaces around the use case, innermost first.
Ids specificationPath(const VornPersistentObject& self, ClassId declaringClass) {
  return allSurroundingNamespaces(self, declaringClass);
}

Ids allPredecessors(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return closure(c.self.id, [&](ObjectId each) {
    return c.view.members(each, feature::QOVIXMessage_predecessor);
  });
}

}  // namespace model
