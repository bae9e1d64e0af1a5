#include "client/tool/model_view.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>

#include "client/tool/lookup.h"
#include "client/tool/suggestions.h"
#include "client/tool/table.h"
#include "client/tool/tree_reader.h"
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

std::vector<ElementView> readTree(Connection& connection, bool keepHandles, int depth) {
  return TreeReader(connection, keepHandles).readRoots(depth);
}

void streamTree(Connection& connection, std::uint32_t package, int depth, std::ostream& out) {
  TreeReader reader(connection, false);
  const auto print = [&](const ElementView& element, int level) {
    printElement(element, level, out);
    out.flush();
  };
  if (package == 0) {
    reader.walk(0, depth < 0 ? depth : depth - 1, print);
    return;
  }
  print(reader.read(package, 0), 0);
  if (depth != 1) reader.walk(package, depth < 0 ? depth : depth - 2, print, 1);
}

ElementView readPackage(Connection& connection, std::uint32_t object, int depth) {
  ElementView package = TreeReader(connection, false).read(object, depth);
  if (package.classNumber == 0)
    throw std::runtime_error("there is no object " + std::to_string(object));
  if (!conformsTo(package.classNumber, Package::kClassNumber)) {
    throw std::runtime_error("object " + std::to_string(object) + " is a " +
                             kindOf(package.classNumber) + ", not a package");
  }
  return package;
}

void printTree(const std::vector<ElementView>& roots, std::ostream& out) {
  for (const ElementView& root : roots) printElement(root, 0, out);
}

std::vector<Instance> instancesNamed(Connection& connection, std::uint32_t classNumber,
                                     const std::string& wanted, bool keepHandles) {
  KeptHandles kept(connection);
  std::vector<Instance> found;
  const auto take = [&](std::uint32_t handle) {
    if (!keepHandles) kept.keep(handle);
    const Node node{handle, connection.identity(handle)};
    if (node.identity.object == 0 || !conformsTo(node.identity.classNumber, classNumber)) {
      if (keepHandles) kept.keep(handle);
      return;
    }
    found.push_back({keepHandles ? handle : 0, node.identity.object, node.identity.classNumber,
                     nameOf(connection, kept, node)});
  };
  std::uint32_t number = 0;
  if (wanted.size() > 1 && wanted[0] == '#' &&
      std::from_chars(wanted.data() + 1, wanted.data() + wanted.size(), number).ptr ==
          wanted.data() + wanted.size()) {
    if (const std::uint32_t handle = connection.objectByNumber(number)) take(handle);
    return found;
  }
  const RepositoryRef repository{connection.repository()};
  const auto named = kept.keep(ModelElement::find_myName(connection, repository, wanted));
  for (std::int32_t i = 0, size = connection.size(named.handle); i < size; ++i) {
    take(connection.element(named.handle, i));
  }
  return found;
}

std::uint32_t findPackage(Connection& connection, const std::string& wanted) {
  const std::vector<Instance> found =
      instancesNamed(connection, Package::kClassNumber, wanted, false);
  if (found.size() == 1) return found.front().object;
  if (found.empty() && wanted[0] == '#') {
    // Say what the number names instead.
    const ElementView other =
        TreeReader(connection, false)
            .read(static_cast<std::uint32_t>(std::strtoul(wanted.c_str() + 1, nullptr, 10)), 0);
    if (other.classNumber == 0) throw std::runtime_error("there is no object " + wanted.substr(1));
    throw std::runtime_error("object " + wanted.substr(1) + " is a " + kindOf(other.classNumber) +
                             ", not a package");
  }
  if (found.empty()) {
    // The names near the top of the tree, to suggest from.
    std::vector<std::string> seen;
    for (const MemberView& top : contentsOf(connection, 0)) {
      seen.push_back(top.name);
      for (const MemberView& inner : contentsOf(connection, top.object)) {
        if (conformsTo(inner.classNumber, Package::kClassNumber)) seen.push_back(inner.name);
      }
    }
    throw std::runtime_error("there is no package '" + wanted + "'" + didYouMean(wanted, seen));
  }
  std::string message =
      std::to_string(found.size()) + " packages named '" + wanted + "': name one by its number:";
  for (const Instance& each : found) message.append(" #").append(std::to_string(each.object));
  throw std::runtime_error(message);
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
