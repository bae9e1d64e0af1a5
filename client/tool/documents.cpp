#include "client/tool/documents.h"

#include <stdexcept>

#include "client/tool/model_view.h"
#include "client_model.h"

namespace qovix::tool {
namespace {

using namespace client;

// The first package named `name`, kept; 0 when there is none.
std::uint32_t packageNamed(Connection& connection, KeptHandles& kept, const std::string& name) {
  const RepositoryRef repository{connection.repository()};
  const auto named = kept.keep(ModelElement::find_myName(connection, repository, name));
  for (std::int32_t i = 0, size = connection.size(named.handle); i < size; ++i) {
    const std::uint32_t handle = kept.keep(connection.element(named.handle, i));
    if (conformsTo(connection.identity(handle).classNumber, Package::kClassNumber)) {
      return kept.keep(Package::cast(connection, AnyRef(handle), true)).handle;
    }
  }
  return 0;
}

PackageRef requirePackage(Connection& connection, KeptHandles& kept, const std::string& name) {
  const std::uint32_t handle = packageNamed(connection, kept, name);
  if (handle == 0) {
    // The tree's lookup names the packages there are.
    findPackage(readTree(connection), name);
    throw std::runtime_error("there is no package '" + name + "'");
  }
  return PackageRef{handle};
}

// Any package, for an import that places its package nowhere; 0 for none.
std::uint32_t anyPackage(Connection& connection, KeptHandles& kept) {
  const auto packages =
      kept.keep(Package::find(connection, RepositoryRef{connection.repository()}, 1));
  if (connection.size(packages.handle) <= 0) return 0;
  return kept.keep(connection.element(packages.handle, 0));
}

}  // namespace

void importDocument(Connection& connection, const std::string& name, const std::string& into,
                    std::ostream& out) {
  if (name.find('/') != std::string::npos) {
    throw std::invalid_argument("'" + name +
                                "' is a path: name a document in qovixd's --documents folder");
  }
  KeptHandles kept(connection);
  std::string format = "xmi into";
  PackageRef target;
  if (!into.empty()) {
    target = requirePackage(connection, kept, into);
  } else if (const std::uint32_t any = anyPackage(connection, kept)) {
    format = "xmi";  // the package only names the repository
    target = PackageRef{any};
  } else {
    // An empty repository: a package named after the document holds it.
    target = kept.keep(Package::create(connection, RepositoryRef{connection.repository()}));
    ModelElement::set_name(connection, kept.keep(ModelElement::cast(connection, target, true)),
                           name.substr(0, name.rfind('.')));
  }
  PackageRef imported;
  try {
    imported = kept.keep(Package::internalize(connection, target, format, name));
  } catch (const Error& error) {
    if (error.kind() != ErrorKind::SystemError) throw;
    // The reason stays in qovixd's log: the wire has no words for it.
    throw Error(ErrorKind::SystemError,
                "qovixd imported nothing from '" + name +
                    "': it is missing, or no XMI 1.0-1.2 document it can read; its log says why");
  }
  const auto element = kept.keep(ModelElement::cast(connection, imported, true));
  // The handle is a package's; the document's package may be a model.
  const auto asModel = kept.keep(Model::cast(connection, imported, true));
  const bool model = connection.identity(asModel.handle).object != 0;
  out << "imported " << (model ? "Model" : "Package") << " '"
      << ModelElement::get_name(connection, element) << "' from " << name
      << (into.empty() ? "" : " into " + into) << '\n';
  const auto report = kept.keep(ModelElement::getTaggedValue(connection, element, "qovix.import"));
  out << TaggedValue::get_umlValue(connection, report);
}

void exportDocument(Connection& connection, const std::string& package, const std::string& name,
                    const std::string& version, std::ostream& out) {
  if (version != "1.2" && version != "1.0") {
    throw std::invalid_argument("--xmi is 1.2 (UML 1.4) or 1.0 (UML 1.3), not '" + version + "'");
  }
  if (name.find('/') != std::string::npos) {
    throw std::invalid_argument("'" + name +
                                "' is a path: name a document in qovixd's --documents folder");
  }
  KeptHandles kept(connection);
  const PackageRef exported = requirePackage(connection, kept, package);
  Package::externalize(connection, exported, "xmi " + version, name);
  out << "exported '" << package << "' to " << name << " in qovixd's document folder ("
      << (version == "1.2" ? "UML 1.4, XMI 1.2" : "UML 1.3, XMI 1.0") << ")\n";
}

}  // namespace qovix::tool
