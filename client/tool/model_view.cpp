#include "client/tool/model_view.h"

#include <algorithm>
#include <set>
#include <string>

#include "client/tool/lookup.h"
#include "client_model.h"

namespace qovix::tool {
namespace {

using namespace client;

constexpr std::uint32_t kModelElementClass = ModelElement::kClassNumber;

std::string kindOf(std::uint32_t classNumber) {
  return std::string(className(classNumber)).substr(5);  // without QOVIX
}

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
  if (!conformsTo(node.identity.classNumber, kModelElementClass)) return "";
  const auto element = kept.keep(ModelElement::cast(connection, AnyRef(node.handle), false));
  return ModelElement::get_name(connection, element);
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

class TreePrinter {
 public:
  TreePrinter(Connection& connection, std::ostream& out)
      : connection_(connection), out_(out), kept_(connection) {}

  void print(const Node& node, int depth) {
    const std::uint32_t classNumber = node.identity.classNumber;
    std::string line = std::string(static_cast<std::size_t>(depth) * 2, ' ') + kindOf(classNumber);
    const std::string name = nameOf(connection_, kept_, node);
    if (!name.empty()) line += " " + name;
    if (conformsTo(classNumber, GeneralizableElement::kClassNumber))
      line += generalizationText(node);
    if (conformsTo(classNumber, Association::kClassNumber)) line += endsText(node);
    out_ << line << '\n';
    if (conformsTo(classNumber, Classifier::kClassNumber)) {
      const auto classifier = kept_.keep(Classifier::cast(connection_, AnyRef(node.handle), false));
      for (const Node& feature :
           membersOf(connection_, kept_, Classifier::get_feature(connection_, classifier))) {
        out_ << std::string(static_cast<std::size_t>(depth + 1) * 2, ' ')
             << kindOf(feature.identity.classNumber) << ' ' << nameOf(connection_, kept_, feature)
             << '\n';
      }
    }
    if (conformsTo(classNumber, Namespace::kClassNumber)) {
      const auto space = kept_.keep(Namespace::cast(connection_, AnyRef(node.handle), false));
      for (const Node& child :
           membersOf(connection_, kept_, Namespace::contents(connection_, space))) {
        print(child, depth + 1);
      }
    }
  }

 private:
  std::string generalizationText(const Node& node) {
    const auto general =
        kept_.keep(GeneralizableElement::cast(connection_, AnyRef(node.handle), false));
    std::string text;
    if (GeneralizableElement::get_isAbstract(connection_, general)) text += " {abstract}";
    std::vector<std::string> parents;
    for (const Node& parent :
         membersOf(connection_, kept_, GeneralizableElement::supertype(connection_, general))) {
      parents.push_back(nameOf(connection_, kept_, parent));
    }
    return parents.empty() ? text : text + " : " + joined(parents);
  }

  std::string endsText(const Node& node) {
    const auto association = kept_.keep(Association::cast(connection_, AnyRef(node.handle), false));
    std::vector<std::string> ends;
    for (const Node& end :
         membersOf(connection_, kept_, Association::allConnections(connection_, association))) {
      const auto typed = kept_.keep(AssociationEnd::cast(connection_, AnyRef(end.handle), false));
      const auto type = kept_.keep(AssociationEnd::get_type(connection_, typed));
      const Node typeNode{type.handle, connection_.identity(type.handle)};
      ends.push_back(nameOf(connection_, kept_, end) + ": " + nameOf(connection_, kept_, typeNode));
    }
    return ends.empty() ? "" : " (" + joined(ends) + ")";
  }

  Connection& connection_;
  std::ostream& out_;
  KeptHandles kept_;
};

}  // namespace

KeptHandles::~KeptHandles() {
  for (std::uint32_t handle : held_) {
    try {
      if (handle != 0) connection_.release(handle);
    } catch (const client::Error&) {
      // The connection is gone; the server releases everything when it stops.
    }
  }
}

void listInstances(Connection& connection, std::uint32_t classNumber, std::ostream& out) {
  KeptHandles kept(connection);
  const RepositoryRef repository{connection.repository()};
  const ProcedureListing& find = findProcedure(classNumber, "_find__0");
  const ArrayRef<tag::Element> found{
      kept.keep(connection
                    .call(classNumber, find.number,
                          {Field::handle(repository.handle), Field::number(1)}, ResultKind::Handle)
                    .handle)};
  const std::int32_t size = connection.size(found.handle);
  for (std::int32_t i = 0; i < size; ++i) {
    const std::uint32_t handle = connection.element(found.handle, i);
    const Node node{handle, connection.identity(handle)};
    out << handle << '\t' << className(node.identity.classNumber) << '\t'
        << nameOf(connection, kept, node) << '\n';
  }
}

void printTree(Connection& connection, std::ostream& out) {
  KeptHandles kept(connection);
  const RepositoryRef repository{connection.repository()};
  const std::vector<Node> packages =
      membersOf(connection, kept, Package::find(connection, repository, 1));
  std::set<std::uint32_t> contained;
  for (const Node& package : packages) {
    const auto asPackage = kept.keep(Package::cast(connection, AnyRef(package.handle), false));
    for (const Node& member :
         membersOf(connection, kept, Package::contents(connection, asPackage))) {
      contained.insert(member.identity.object);
    }
  }
  TreePrinter printer(connection, out);
  for (const Node& package : packages) {
    if (contained.count(package.identity.object) == 0) printer.print(package, 0);
  }
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
    printTree(connection, out);
    return;
  }

  const auto bank = kept.keep(Model::create(connection, repository));
  ModelElement::set_name(connection, asElement(bank), "Bank");
  const auto accounts = kept.keep(Package::create(connection, repository));
  Package::construct(connection, accounts, "Accounts",
                     kept.keep(Package::cast(connection, bank, true)));
  const auto space = kept.keep(Namespace::cast(connection, accounts, true));

  auto makeClass = [&](const char* name) {
    const auto made = kept.keep(Class::create(connection, repository));
    Class::construct(connection, made, space, name);
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
  for (auto [name, type] : {std::pair{"holder", customer}, {"held", account}}) {
    const auto end = kept.keep(AssociationEnd::create(connection, repository));
    AssociationEnd::construct(connection, end, holds, name);
    AssociationEnd::set_type(connection, end, asClassifier(type));
  }

  printTree(connection, out);
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
}

}  // namespace qovix::tool
