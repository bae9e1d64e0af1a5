// The derived collections of the model's class operations, computed from the
// stored references. A relation is read from both of its ends (a
// generalization counts whether it was recorded on the subtype's
// `generalization` set or only on the generalization's `subtype`), so the
// answers do not depend on which end a client wrote.

#include <algorithm>
#include <functional>
#include <unordered_set>

#include "model_classes.h"
#include "model/qovix_srv/members.h"
#include "model/qovix_srv/operations.h"
#include "model/qovix_srv/store_view.h"

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
       view.related(element, feature::QOVIXGeneralizableElement_generalization)) {
    parents.add(view.reference(generalization, feature::QOVIXGeneralization_supertype));
  }
  return parents.take();
}

Ids ownedBy(const StoreView& view, ObjectId owner) {
  return view.related(owner, feature::QOVIXNamespace_ownedElement);
}

Ids ownersOf(const StoreView& view, ObjectId element) {
  return view.related(element, feature::QOVIXModelElement_namespace1);
}

Ids selfAndAncestors(const StoreView& view, ObjectId id) {
  Ids all{id};
  for (ObjectId ancestor : closure(id, [&](ObjectId each) { return parentsOf(view, each); })) {
    if (ancestor != id) all.push_back(ancestor);
  }
  return all;
}

Ids featuresOf(const StoreView& view, ObjectId classifier) {
  return view.related(classifier, feature::QOVIXClassifier_feature);
}

// The association ends whose type is the classifier (UML 1.4's
// participant). `Classifier.participant` holds the ends the classifier
// only specifies (`AssociationEnd.specification`): it is at none of them.
Ids endsTyped(const StoreView& view, ObjectId classifier) {
  return view.related(classifier, feature::QOVIXClassifier_associationEnd);
}

Ids associationsOfEnd(const StoreView& view, ObjectId end) {
  return view.related(end, feature::QOVIXAssociationEnd_association);
}

Ids connectionsOf(const StoreView& view, ObjectId association) {
  return view.related(association, feature::QOVIXAssociation_connection);
}

Ids associationsOf(const StoreView& view, ObjectId classifier) {
  IdSet found;
  for (ObjectId end : endsTyped(view, classifier)) found.addAll(associationsOfEnd(view, end));
  return found.take();
}

// The ends across from the classifier's (UML 1.4 §2.5.3, Classifier, oppositeAssociationEnds):
// of an association it is at once, the other ends; of one it is at more
// than once (a reflexive association), every end.
//   oppositeAssociationEnds = self.associations->select(a |
//       a.connection->select(ae | ae.participant = self)->size = 1)
//     ->collect(a | a.connection->select(ae | ae.participant <> self))
//     ->union(self.associations->select(a |
//       a.connection->select(ae | ae.participant = self)->size > 1)
//     ->collect(a | a.connection))
Ids oppositeEndsOf(const StoreView& view, ObjectId classifier) {
  const Ids typed = endsTyped(view, classifier);
  const std::unordered_set<ObjectId> own(typed.begin(), typed.end());
  IdSet opposite;
  for (ObjectId association : associationsOf(view, classifier)) {
    const Ids ends = connectionsOf(view, association);
    const auto mine =
        std::count_if(ends.begin(), ends.end(), [&](ObjectId end) { return own.count(end) != 0; });
    for (ObjectId end : ends) {
      if (mine > 1 || own.count(end) == 0) opposite.add(end);
    }
  }
  return opposite.take();
}

Ids linkEndsOf(const StoreView& view, ObjectId instance) {
  return view.related(instance, feature::QOVIXInstance_linkEnd);
}

Ids linksOfEnd(const StoreView& view, ObjectId end) {
  return view.related(end, feature::QOVIXLinkEnd_link);
}

Ids suppliersOf(const StoreView& view, ObjectId element) {
  IdSet suppliers;
  for (ObjectId dependency :
       view.related(element, feature::QOVIXModelElement_requirement)) {
    suppliers.addAll(view.members(dependency, feature::QOVIXDependency_supplier));
  }
  return suppliers.take();
}

// What an ElementReference of the package imports, with the reference's
// visibility.
std::vector<std::pair<ObjectId, std::int32_t>> importsOf(const StoreView& view, ObjectId package) {
  std::vector<std::pair<ObjectId, std::int32_t>> imports;
  for (ObjectId reference :
       view.related(package, feature::QOVIXPackage_modelElementReference)) {
    if (const ObjectId element =
            view.reference(reference, feature::QOVIXElementReference_modelElement)) {
      imports.emplace_back(element,
                           view.number(reference, feature::QOVIXElementReference_visibility));
    }
  }
  return imports;
}

Ids referencedBy(const StoreView& view, ObjectId package) {
  IdSet elements;
  for (const auto& [element, visibility] : importsOf(view, package)) elements.add(element);
  return elements.take();
}

}  // namespace

// The definitions below are the OCL of the public UML 1.4 specification's
// additional operations (chapter 2, the "Well-Formedness Rules" of each
// package), in the catalogue's UML 1.1 names: a generalization's parent is
// its supertype, an element import an element reference, an end's
// participant its type.

// UML 1.4 §2.5.3, ModelElement: supplier = self.clientDependency.supplier
Ids supplier(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return suppliersOf(c.view, c.self.id);
}

// allSuppliers = self.supplier->union(self.supplier.allSuppliers)
Ids allSuppliers(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return closure(c.self.id, [&](ObjectId each) { return suppliersOf(c.view, each); });
}

// The models that contain the element, directly or through namespaces:
//   model = self.namespace->union(self.namespace.allSurroundingNamespaces)
//     ->select(ns | ns.oclIsKindOf(Model))
Ids model(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return only(c.view, closure(c.self.id, [&](ObjectId each) { return ownersOf(c.view, each); }),
              QOVIXModel::kClassId);
}

namespace {

// The element's bindings: UML 1.1's `binding`, and (UML 1.3 and 1.4) the
// bindings among the dependencies it is the client of.
Ids bindingsOf(const StoreView& view, ObjectId element) {
  IdSet bindings;
  bindings.addAll(view.members(element, feature::QOVIXModelElement_binding));
  for (ObjectId dependency :
       view.related(element, feature::QOVIXModelElement_requirement)) {
    if (view.is(dependency, QOVIXBinding::kClassId)) bindings.add(dependency);
  }
  return bindings.take();
}

}  // namespace

// UML 1.4 §2.5.3, ModelElement:
//   isInstantiated = self.clientDependency->select(oclIsKindOf(Binding))->notEmpty
bool isInstantiated(const VornPersistentObject& self) {
  const Context c = contextOf(self);
  return !bindingsOf(c.view, c.self.id).empty();
}

// The arguments of the element's bindings, binding by binding (UML 1.4
// §2.5.3, ModelElement):
//   templateArgument = self.clientDependency->select(oclIsKindOf(Binding))
//     .oclAsType(Binding).argument
Ids templateArguments(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  Ids arguments;
  for (ObjectId binding : bindingsOf(c.view, c.self.id)) {
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

// A namespace's contents (UML 1.4 §2.5.3, Namespace): what it owns; a
// package's (§2.14.3, Package) adds what it imports through element
// references:
//   contents = self.ownedElement->union(self.importedElement)
Ids contentsOf(const StoreView& view, ObjectId namespaceId) {
  IdSet found;
  found.addAll(ownedBy(view, namespaceId));
  if (view.is(namespaceId, QOVIXPackage::kClassId)) found.addAll(referencedBy(view, namespaceId));
  return found.take();
}

// A namespace's allContents (§2.5.3, Namespace): its contents. A
// classifier's and a package's (§2.5.3 Classifier, §2.14.3 Package; the
// catalogue, after UML 1.1, has it on every generalizable element) add what
// their parents' allContents hold that is public or protected, so a parent's
// private elements are not inherited:
//   allContents = self.contents->union(self.parent.allContents->select(e |
//     e.elementOwnership.visibility = #public or
//     e.elementOwnership.visibility = #protected))
Ids allContentsOf(const StoreView& view, ObjectId namespaceId) {
  IdSet found;
  found.addAll(contentsOf(view, namespaceId));
  if (!view.is(namespaceId, QOVIXGeneralizableElement::kClassId)) return found.take();
  for (ObjectId ancestor :
       closure(namespaceId, [&](ObjectId each) { return parentsOf(view, each); })) {
    if (ancestor == namespaceId) continue;
    for (ObjectId element : contentsOf(view, ancestor)) {
      if (ownershipVisibility(view, element) != kPrivate) found.add(element);
    }
  }
  return found.take();
}

}  // namespace

Ids namespaceContents(const StoreView& view, ObjectId namespaceId) {
  return contentsOf(view, namespaceId);
}

// UML redefines contents and allContents for packages and classifiers; the
// answer follows what the object is, through whichever class a client asks.
Ids allContents(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return allContentsOf(c.view, c.self.id);
}

// Whether allContents(namespace) holds `target`, asked from the target's
// side: its owners and importers against the namespace and its ancestors,
// so the answer costs what the target relates to, not the namespace's size.
bool allContentsHold(const VornPersistentObject& namespaceObject, ObjectId target) {
  const Context c = contextOf(namespaceObject);
  const StoreView& view = c.view;
  const Ids owners = ownersOf(view, target);
  Ids importers;
  for (ObjectId reference : view.referrers(QOVIXElementReference::kClassId,
                                           feature::QOVIXElementReference_modelElement, target)) {
    importers.push_back(view.reference(reference, feature::QOVIXElementReference_package));
    const Ids holding = view.referrers(QOVIXPackage::kClassId,
                                       feature::QOVIXPackage_modelElementReference, reference);
    importers.insert(importers.end(), holding.begin(), holding.end());
  }
  const auto contentsHold = [&](ObjectId each) {
    return std::find(owners.begin(), owners.end(), each) != owners.end() ||
           (view.is(each, QOVIXPackage::kClassId) &&
            std::find(importers.begin(), importers.end(), each) != importers.end());
  };
  const ObjectId self = c.self.id;
  if (contentsHold(self)) return true;
  if (!view.is(self, QOVIXGeneralizableElement::kClassId) ||
      ownershipVisibility(view, target) == kPrivate) {
    return false;
  }
  for (ObjectId ancestor : closure(self, [&](ObjectId each) { return parentsOf(view, each); })) {
    if (ancestor != self && contentsHold(ancestor)) return true;
  }
  return false;
}

// UML 1.4 §2.5.3, GeneralizableElement (1.1's supertype, 1.4's parent):
//   parent = self.generalization.parent
Ids supertype(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return parentsOf(c.view, c.self.id);
}

//   allParents = self.parent->union(self.parent.allParents)
Ids allSupertypes(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return closure(c.self.id, [&](ObjectId each) { return parentsOf(c.view, each); });
}

Ids contents(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return contentsOf(c.view, c.self.id);
}

// What the namespace makes visible (UML 1.4 §2.5.3, Namespace): what its
// allContents hold whose ownership is public; not itself, nor what
// surrounds it.
//   allVisibleElements = self.allContents->select(e |
//     e.elementOwnership.visibility = #public)
Ids allVisibleElements(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  Ids visible;
  for (ObjectId element : allContentsOf(c.view, c.self.id)) {
    if (ownershipVisibility(c.view, element) == kPublic) visible.push_back(element);
  }
  return visible;
}

// UML 1.4 §2.5.3, Namespace:
//   allSurroundingNamespaces = self.namespace->union(
//     self.namespace.allSurroundingNamespaces)
Ids allSurroundingNamespaces(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return closure(c.self.id, [&](ObjectId each) { return ownersOf(c.view, each); });
}

// The parameters of a request that is a behavioral feature or a signal.
Ids parameter(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  if (c.view.is(c.self.id, QOVIXBehavioralFeature::kClassId)) {
    return c.view.related(c.self.id, feature::QOVIXBehavioralFeature_parameter);
  }
  if (c.view.is(c.self.id, QOVIXSignal::kClassId)) {
    return c.view.related(c.self.id, feature::QOVIXSignal_parameter);
  }
  return {};
}

// UML 1.4 §2.5.3, Classifier:
//   allFeatures = self.feature->union(self.parent.oclAsType(Classifier).allFeatures)
//   allOperations, allMethods, allAttributes = self.allFeatures->select(f |
//     f.oclIsKindOf(Operation | Method | Attribute))
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

//   associations = self.association.association (the ends at the classifier)
//   allAssociations = self.associations->union(self.parent.allAssociations)
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

//   allOppositeAssociationEnds = self.oppositeAssociationEnds->union(
//     self.parent.allOppositeAssociationEnds)
Ids allOppositeAssociationEnds(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  IdSet found;
  for (ObjectId each : selfAndAncestors(c.view, c.self.id)) {
    found.addAll(oppositeEndsOf(c.view, each));
  }
  return found.take();
}

// UML 1.4 §2.9.3, Instance: allLinks = self.linkEnd.link
Ids allLinks(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  IdSet links;
  for (ObjectId end : linkEndsOf(c.view, c.self.id)) links.addAll(linksOfEnd(c.view, end));
  return links.take();
}

// The ends across from the instance's (UML 1.4 §2.9.3, Instance): of a
// link it is at once, the other ends; of one it is at more than once, every
// end.
//   allOppositeLinkEnds = self.allLinks->select(l |
//       l.connection->select(c | c.instance = self)->size = 1)
//     ->collect(l | l.connection->select(c | c.instance <> self))
//     ->union(self.allLinks->select(l |
//       l.connection->select(c | c.instance = self)->size > 1)
//     ->collect(l | l.connection))
Ids allOppositeLinkEnds(const VornPersistentObject& self, ClassId declaringClass) {
  const Context c = contextOf(self);
  const Ids linked = linkEndsOf(c.view, c.self.id);
  const std::unordered_set<ObjectId> own(linked.begin(), linked.end());
  const auto isOwn = [&](ObjectId end) { return own.count(end) != 0; };
  IdSet opposite;
  for (ObjectId link : allLinks(self, declaringClass)) {
    const Ids ends = c.view.related(link, feature::QOVIXLink_linkRole);
    const bool reflexive = std::count_if(ends.begin(), ends.end(), isOwn) > 1;
    for (ObjectId end : ends) {
      if (reflexive || !isOwn(end)) opposite.add(end);
    }
  }
  return opposite.take();
}

// The association's ends and those of the associations it specializes
// (UML 1.4 §2.5.3, Association):
//   allConnections = self.connection->union(self.parent->select(s |
//     s.oclIsKindOf(Association))->collect(a : Association | a.allConnections))
Ids allConnections(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  IdSet ends;
  for (ObjectId each : selfAndAncestors(c.view, c.self.id))
    ends.addAll(connectionsOf(c.view, each));
  return ends.take();
}

// UML 1.4's importedElement: what the package's element references import.
Ids referencedElement(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return referencedBy(c.view, c.self.id);
}

// UML 1.4's allImportedElements (§2.14.3, Package): what the package imports,
// and what its parents import through public or protected references.
//   allImportedElements = self.importedElement->union(
//     self.parent.oclAsType(Package).allImportedElements->select(re |
//       re.elementImport.visibility = #public or
//       re.elementImport.visibility = #protected))
Ids allReferencedElements(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  IdSet found;
  found.addAll(referencedBy(c.view, c.self.id));
  for (ObjectId ancestor :
       closure(c.self.id, [&](ObjectId each) { return parentsOf(c.view, each); })) {
    if (ancestor == c.self.id) continue;
    for (const auto& [element, visibility] : importsOf(c.view, ancestor)) {
      if (visibility != kPrivate) found.add(element);
    }
  }
  return found.take();
}

// The elements that specify the subsystem's behaviour (UML 1.3
// §2.14.3, Subsystem): UML 1.4 selects them from allContents by their ownership's
// isSpecification, which UML 1.1 has not; the catalogue's answer is a set of
// use cases, so those are the ones its allContents holds.
Ids allSpecificationElements(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return only(c.view, allContentsOf(c.view, c.self.id), QOVIXUseCase::kClassId);
}

// The surrounding namespaces that are not mere packages (UML 1.3 and
// 1.4 §2.11.3, UseCase), innermost first:
//   specificationPath = self.allSurroundingNamespaces->select(n |
//     n.oclIsKindOf(Subsystem) or n.oclIsKindOf(Class))
Ids specificationPath(const VornPersistentObject& self, ClassId declaringClass) {
  const Context c = contextOf(self);
  Ids path;
  for (ObjectId around : allSurroundingNamespaces(self, declaringClass)) {
    if (c.view.is(around, QOVIXSubsystem::kClassId) || c.view.is(around, QOVIXClass::kClassId)) {
      path.push_back(around);
    }
  }
  return path;
}

// UML 1.4 §2.10.3, Message, read from both ends of predecessor and
// successor:
//   allPredecessors = self.predecessor->union(self.predecessor.allPredecessors)
Ids allPredecessors(const VornPersistentObject& self, ClassId) {
  const Context c = contextOf(self);
  return closure(c.self.id, [&](ObjectId each) {
    return c.view.related(each, feature::QOVIXMessage_predecessor);
  });
}

}  // namespace model
