#include "client/tool/model_view.h"

#include <algorithm>
#include <set>
#include <string>

#include "client/tool/lookup.h"
#include "client/tool/suggestions.h"
#include "client/tool/table.h"
#include "client_model.h"
#include "qovix_protocol.h"

namespace qovix::tool {
namespace {

using namespace client;
using nlohmann::json;

struct Node {
  std::uint32_t handle;
  Connection::Identity identity;
};

// The members of a collection, as handles (kept) with what they name.
template <class Collection>
std::vector<Node> membersOf(Connection& connection, KeptHandles& kept, Collection collection) {
  kept.keep(collection.handle);
  std::vector<Node> members;
  const std::int32_t size = connection.size(collection.handle);
  for (std::int32_t i = 0; i < size; ++i) {
    const std::uint32_t handle = kept.keep(connection.element(collection.handle, i));
    members.push_back({handle, connection.identity(handle)});
  }
  return members;
}

std::string nameOf(Connection& connection, KeptHandles& kept, const Node& node) {
  if (!conformsTo(node.identity.classNumber, ModelElement::kClassNumber)) return "";
  const auto element = kept.keep(ModelElement::cast(connection, AnyRef(node.handle), false));
  return ModelElement::get_name(connection, element);
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text.append(text.empty() ? "" : ", ").append(part);
  return text;
}

// Reads elements and what they hold, keeping every handle it makes until
// it goes.
class TreeReader {
 public:
  TreeReader(Connection& connection, bool keepHandles)
      : connection_(connection), kept_(connection), keepHandles_(keepHandles) {}

  // A handle to the object as `Class`.
  template <class Class>
  auto as(const Node& node) -> decltype(Class::cast(std::declval<Connection&>(), AnyRef(), false)) {
    return kept_.keep(Class::cast(connection_, AnyRef(node.handle), false));
  }

  ElementView read(const Node& node) {
    ElementView view;
    if (keepHandles_) {
      kept_.spare(node.handle);
      view.handle = node.handle;
    }
    view.object = node.identity.object;
    view.classNumber = node.identity.classNumber;
    view.name = nameOf(connection_, kept_, node);
    const std::uint32_t classNumber = view.classNumber;
    if (conformsTo(classNumber, GeneralizableElement::kClassNumber)) {
      const auto general = as<GeneralizableElement>(node);
      view.isAbstract = GeneralizableElement::get_isAbstract(connection_, general);
      for (const Node& parent : members(GeneralizableElement::supertype(connection_, general))) {
        view.supertypes.push_back({parent.identity.object, nameOf(connection_, kept_, parent)});
      }
    }
    if (conformsTo(classNumber, Association::kClassNumber)) view.ends = endsOf(node);
    if (conformsTo(classNumber, Classifier::kClassNumber)) {
      for (const Node& feature :
           members(Classifier::get_feature(connection_, as<Classifier>(node)))) {
        view.features.push_back(featureOf(feature));
      }
    }
    if (conformsTo(classNumber, Namespace::kClassNumber)) {
      for (const Node& child : members(Namespace::contents(connection_, as<Namespace>(node)))) {
        view.contents.push_back(read(child));
      }
    }
    return view;
  }

  template <class Collection>
  std::vector<Node> members(Collection collection) {
    return membersOf(connection_, kept_, collection);
  }

  KeptHandles& kept() { return kept_; }

 private:
  // The classifier a single reference names; object 0 for none.
  template <class Ref>
  NamedRef typeOf(Ref type) {
    kept_.keep(type.handle);
    const Node node{type.handle, connection_.identity(type.handle)};
    return {node.identity.object, nameOf(connection_, kept_, node)};
  }

  FeatureView featureOf(const Node& node) {
    FeatureView view;
    view.classNumber = node.identity.classNumber;
    view.name = nameOf(connection_, kept_, node);
    view.visibility = formatValue(Value::ofNumber(
        value_class::QOVIXVisibilityKind,
        static_cast<std::int32_t>(Feature::get_visibility(connection_, as<Feature>(node)))));
    if (conformsTo(view.classNumber, StructuralFeature::kClassNumber)) {
      view.type =
          typeOf(StructuralFeature::get_type(connection_, as<StructuralFeature>(node))).name;
    }
    if (conformsTo(view.classNumber, Attribute::kClassNumber)) {
      view.initialValue = Attribute::get_initialValue(connection_, as<Attribute>(node));
    }
    if (conformsTo(view.classNumber, BehavioralFeature::kClassNumber)) {
      for (const Node& parameter :
           members(BehavioralFeature::get_parameter(connection_, as<BehavioralFeature>(node)))) {
        const auto typed = as<Parameter>(parameter);
        const std::string type = typeOf(Parameter::get_type(connection_, typed)).name;
        if (Parameter::get_kind(connection_, typed) == ParameterDirectionKind::Return) {
          view.type = type;
        } else {
          view.parameters.emplace_back(nameOf(connection_, kept_, parameter), type);
        }
      }
    }
    return view;
  }

  std::vector<EndView> endsOf(const Node& node) {
    std::vector<EndView> ends;
    for (const Node& end :
         members(Association::allConnections(connection_, as<Association>(node)))) {
      const auto typed = as<AssociationEnd>(end);
      EndView view{nameOf(connection_, kept_, end),
                   typeOf(AssociationEnd::get_type(connection_, typed)), ""};
      const auto multiplicity = kept_.keep(AssociationEnd::get_multiplicity(connection_, typed));
      if (connection_.identity(multiplicity.handle).object != 0) {
        view.multiplicity = Multiplicity::getValue(connection_, multiplicity);
      }
      ends.push_back(std::move(view));
    }
    return ends;
  }

  Connection& connection_;
  KeptHandles kept_;
  bool keepHandles_;
};

json elementJson(const ElementView& element) {
  json made = {{"object", element.object},
               {"class", className(element.classNumber)},
               {"name", element.name}};
  if (element.handle != 0) made["handle"] = element.handle;
  if (conformsTo(element.classNumber, GeneralizableElement::kClassNumber)) {
    made["isAbstract"] = element.isAbstract;
    made["supertypes"] = json::array();
    for (const NamedRef& parent : element.supertypes) made["supertypes"].push_back(parent.name);
  }
  if (conformsTo(element.classNumber, Classifier::kClassNumber)) {
    json features = json::array();
    for (const FeatureView& feature : element.features) {
      json entry = {{"class", className(feature.classNumber)},
                    {"name", feature.name},
                    {"visibility", feature.visibility},
                    {"type", feature.type}};
      if (conformsTo(feature.classNumber, Attribute::kClassNumber))
        entry["initialValue"] = feature.initialValue;
      if (conformsTo(feature.classNumber, BehavioralFeature::kClassNumber)) {
        entry["parameters"] = json::array();
        for (const auto& [name, type] : feature.parameters) {
          entry["parameters"].push_back({{"name", name}, {"type", type}});
        }
      }
      features.push_back(std::move(entry));
    }
    made["features"] = std::move(features);
  }
  if (conformsTo(element.classNumber, Association::kClassNumber)) {
    made["ends"] = json::array();
    for (const EndView& end : element.ends) {
      made["ends"].push_back(
          {{"name", end.name}, {"type", end.type.name}, {"multiplicity", end.multiplicity}});
    }
  }
  if (conformsTo(element.classNumber, Namespace::kClassNumber)) {
    made["contents"] = json::array();
    for (const ElementView& child : element.contents)
      made["contents"].push_back(elementJson(child));
  }
  return made;
}

void printElement(const ElementView& element, int depth, std::ostream& out) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  std::string line = indent + kindOf(element.classNumber);
  if (!element.name.empty()) line.append(" ").append(element.name);
  if (element.isAbstract) line += " {abstract}";
  if (!element.supertypes.empty()) {
    std::vector<std::string> parents;
    for (const NamedRef& parent : element.supertypes) parents.push_back(parent.name);
    line.append(" : ").append(joined(parents));
  }
  if (!element.ends.empty()) {
    std::vector<std::string> ends;
    for (const EndView& end : element.ends) ends.push_back(end.name + ": " + end.type.name);
    line.append(" (").append(joined(ends)).append(")");
  }
  if (element.handle != 0)
    line.append("  [handle ").append(std::to_string(element.handle)).append("]");
  out << line << '\n';
  for (const FeatureView& feature : element.features) {
    out << indent << "  " << kindOf(feature.classNumber) << ' ' << feature.name << '\n';
  }
  for (const ElementView& child : element.contents) printElement(child, depth + 1, out);
}

}  // namespace

std::string kindOf(std::uint32_t classNumber) {
  return std::string(qovix::protocol::shortClassName(className(classNumber)));
}

KeptHandles::~KeptHandles() {
  for (std::uint32_t handle : held_) {
    try {
      if (handle != 0) connection_.release(handle);
    } catch (const client::Error&) {
      // The connection is gone; the server releases everything when it stops.
    }
  }
}

void KeptHandles::spare(std::uint32_t handle) {
  const auto found = std::find(held_.rbegin(), held_.rend(), handle);
  if (found != held_.rend()) held_.erase(std::next(found).base());
}

std::vector<Instance> listInstances(Connection& connection, std::uint32_t classNumber,
                                    bool keepHandles) {
  KeptHandles kept(connection);
  const RepositoryRef repository{connection.repository()};
  const ProcedureListing& find = findProcedure(classNumber, "_find__0");
  const std::uint32_t found =
      kept.keep(connection
                    .call(classNumber, find.number,
                          {Field::handle(repository.handle), Field::number(1)}, ResultKind::Handle)
                    .handle);
  std::vector<Instance> instances;
  const std::int32_t size = connection.size(found);
  for (std::int32_t i = 0; i < size; ++i) {
    const std::uint32_t handle = connection.element(found, i);
    if (!keepHandles) kept.keep(handle);
    const Node node{handle, connection.identity(handle)};
    instances.push_back({keepHandles ? handle : 0, node.identity.object, node.identity.classNumber,
                         nameOf(connection, kept, node)});
  }
  return instances;
}

void printInstances(const std::vector<Instance>& instances, bool withHandles, std::ostream& out) {
  std::vector<TableRow> rows;
  auto row = [&](std::string handle, std::string object, std::string kind, std::string name) {
    TableRow made;
    if (withHandles) made.push_back(std::move(handle));
    made.insert(made.end(), {std::move(object), std::move(kind), std::move(name)});
    rows.push_back(std::move(made));
  };
  row("HANDLE", "OBJECT", "CLASS", "NAME");
  for (const Instance& each : instances) {
    row(std::to_string(each.handle), std::to_string(each.object), kindOf(each.classNumber),
        each.name);
  }
  printTable(rows, out);
}

json instancesJson(const std::vector<Instance>& instances) {
  json made = json::array();
  for (const Instance& each : instances) {
    json entry = {
        {"object", each.object}, {"class", className(each.classNumber)}, {"name", each.name}};
    if (each.handle != 0) entry["handle"] = each.handle;
    made.push_back(std::move(entry));
  }
  return made;
}

std::vector<ElementView> readTree(Connection& connection, bool keepHandles) {
  TreeReader reader(connection, keepHandles);
  const RepositoryRef repository{connection.repository()};
  const std::vector<Node> packages = reader.members(Package::find(connection, repository, 1));
  std::set<std::uint32_t> contained;
  for (const Node& package : packages) {
    const auto asPackage =
        reader.kept().keep(Package::cast(connection, AnyRef(package.handle), false));
    for (const Node& member : reader.members(Package::contents(connection, asPackage))) {
      contained.insert(member.identity.object);
    }
  }
  std::vector<ElementView> roots;
  for (const Node& package : packages) {
    if (contained.count(package.identity.object) == 0) roots.push_back(reader.read(package));
  }
  return roots;
}

ElementView readPackage(Connection& connection, std::uint32_t object) {
  TreeReader reader(connection, false);
  const std::uint32_t handle = connection.objectByNumber(object);
  if (handle == 0) throw std::runtime_error("there is no object " + std::to_string(object));
  const Node node{reader.kept().keep(handle), connection.identity(handle)};
  if (!conformsTo(node.identity.classNumber, Package::kClassNumber)) {
    throw std::runtime_error("object " + std::to_string(object) + " is a " +
                             kindOf(node.identity.classNumber) + ", not a package");
  }
  return reader.read(node);
}

void printTree(const std::vector<ElementView>& roots, std::ostream& out) {
  for (const ElementView& root : roots) printElement(root, 0, out);
}

namespace {

const ElementView* packageNamed(const std::vector<ElementView>& elements, const std::string& name,
                                std::vector<std::string>& seen) {
  for (const ElementView& element : elements) {
    if (!conformsTo(element.classNumber, Package::kClassNumber)) continue;
    if (element.name == name) return &element;
    seen.push_back(element.name);
    if (const ElementView* found = packageNamed(element.contents, name, seen)) return found;
  }
  return nullptr;
}

}  // namespace

const ElementView& findPackage(const std::vector<ElementView>& roots, const std::string& name) {
  std::vector<std::string> seen;
  if (const ElementView* found = packageNamed(roots, name, seen)) return *found;
  throw std::runtime_error("there is no package '" + name + "'" + didYouMean(name, seen));
}

json treeJson(const std::vector<ElementView>& roots) {
  json made = json::array();
  for (const ElementView& root : roots) made.push_back(elementJson(root));
  return made;
}

void runDemo(Connection& connection, std::ostream& out) {
  KeptHandles kept(connection);
  const RepositoryRef repository{connection.repository()};
  auto asElement = [&](AnyRef object) {
    return kept.keep(ModelElement::cast(connection, object, true));
  };
  auto asClassifier = [&](AnyRef object) {
    return kept.keep(Classifier::cast(connection, object, true));
  };
  auto asGeneral = [&](AnyRef object) {
    return kept.keep(GeneralizableElement::cast(connection, object, true));
  };

  // A durable repository keeps the model from an earlier run: show it
  // rather than build a second one.
  const auto named = kept.keep(ModelElement::find_myName(connection, repository, "Bank"));
  for (const Node& each : membersOf(connection, kept, named)) {
    if (each.identity.classNumber != Model::kClassNumber) continue;
    out << "The repository holds the demo model from an earlier run:\n\n";
    printTree(readTree(connection), out);
    out << "\nSee it as a UML class diagram (needs Graphviz): qovix diagram Bank -o bank.svg\n";
    return;
  }

  const auto bank = kept.keep(Model::create(connection, repository));
  ModelElement::set_name(connection, asElement(bank), "Bank");
  const auto accounts = kept.keep(Package::create(connection, repository));
  Package::construct(connection, accounts, "Accounts",
                     kept.keep(Package::cast(connection, bank, true)));
  const auto space = kept.keep(Namespace::cast(connection, accounts, true));
  // Each element names its namespace too, as an import links them: pages
  // and tools may read either end.
  ModelElement::add_namespace1(connection, asElement(accounts),
                               kept.keep(Namespace::cast(connection, bank, true)));

  auto makeClass = [&](const char* name) {
    const auto made = kept.keep(Class::create(connection, repository));
    Class::construct(connection, made, space, name);
    ModelElement::add_namespace1(connection, asElement(made), space);
    return made;
  };
  const auto customer = makeClass("Customer");
  const auto account = makeClass("Account");
  const auto savings = makeClass("Savings");
  const auto checking = makeClass("Checking");
  GeneralizableElement::set_isAbstract(connection, asGeneral(account), true);

  auto addAttribute = [&](ClassRef owner, const char* name, const char* initial) {
    const auto attribute = kept.keep(Attribute::create(connection, repository));
    Attribute::construct(connection, attribute, asClassifier(owner), name);
    Attribute::set_initialValue(connection, attribute, initial);
  };
  addAttribute(customer, "name", "\"\"");
  addAttribute(account, "balance", "0");
  addAttribute(savings, "rate", "0.02");
  for (const char* name : {"deposit", "withdraw"}) {
    const auto operation = kept.keep(Operation::create(connection, repository));
    Operation::construct(connection, operation, asClassifier(account), name);
  }
  for (ClassRef subtype : {savings, checking}) {
    const auto generalization = kept.keep(Generalization::create(connection, repository));
    Generalization::set_subtype(connection, generalization, asGeneral(subtype));
    Generalization::set_supertype(connection, generalization, asGeneral(account));
  }
  const auto holds = kept.keep(Association::create(connection, repository));
  Association::construct(connection, holds, space, "holds");
  ModelElement::add_namespace1(connection, asElement(holds), space);
  for (auto [name, type] : {std::pair{"holder", customer}, {"held", account}}) {
    const auto end = kept.keep(AssociationEnd::create(connection, repository));
    AssociationEnd::construct(connection, end, holds, name);
    AssociationEnd::set_type(connection, end, asClassifier(type));
  }

  printTree(readTree(connection), out);
  out << '\n';
  auto names = [&](auto collection) {
    std::vector<std::string> found;
    for (const Node& member : membersOf(connection, kept, collection)) {
      found.push_back(nameOf(connection, kept, member));
    }
    return joined(found);
  };
  out << "allSupertypes(Checking) = "
      << names(GeneralizableElement::allSupertypes(connection, asGeneral(checking))) << '\n';
  out << "allFeatures(Savings) = "
      << names(Classifier::allFeatures(connection, asClassifier(savings))) << '\n';
  out << "associations(Customer) = "
      << names(Classifier::associations(connection, asClassifier(customer))) << '\n';
  out << "allContents(Accounts) = " << names(Namespace::allContents(connection, space)) << '\n';
  out << "\nSee it as a UML class diagram (needs Graphviz): qovix diagram Bank -o bank.svg\n";
}

}  // namespace qovix::tool
