#include "client/tool/documents.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>

#include "client/tool/model_view.h"
#include "client_model.h"
#include "qovix_protocol.h"

namespace qovix::tool {
namespace {

using namespace client;

// The one package named `name` (or numbered, #N), as a kept handle; throws
// when there is none, or several.
PackageRef requirePackage(Connection& connection, KeptHandles& kept, const std::string& name) {
  const std::uint32_t handle = kept.keep(connection.objectByNumber(findPackage(connection, name)));
  return kept.keep(Package::cast(connection, AnyRef(handle), true));
}

// Whether the tool's argument names a file here rather than a document of
// qovixd's folder: any path with a '/' does (./model.xmi).
bool isLocalPath(const std::string& name) { return name.find('/') != std::string::npos; }

// A name for a document in qovixd's folder while it travels: unique to
// this call, and keeping what the file is called where it can.
std::string travellingName(const std::string& path) {
  std::string base = std::filesystem::path(path).filename().string();
  for (char& c : base) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
    if (!plain) c = '_';
  }
  for (std::size_t dots = base.find(".."); dots != std::string::npos; dots = base.find("..")) {
    base[dots] = '_';
  }
  std::random_device random;
  char tag[32];
  std::snprintf(tag, sizeof tag, "qovix-%08x%08x-", random(), random());
  return (std::string(tag) + base).substr(0, 128);
}

// The document in qovixd's folder, removed when the scope ends (it only
// travelled there).
class TravellingDocument {
 public:
  TravellingDocument(Connection& connection, std::string name)
      : connection_(connection), name_(std::move(name)) {}
  ~TravellingDocument() {
    try {
      connection_.discardDocument(name_);
    } catch (const std::exception&) {
      // left for the server's housekeeping: the call that used it said why
    }
  }
  TravellingDocument(const TravellingDocument&) = delete;
  TravellingDocument& operator=(const TravellingDocument&) = delete;
  const std::string& name() const { return name_; }

 private:
  Connection& connection_;
  std::string name_;
};

// An import or export reads or writes the whole document in one call: as
// long as a large one takes, up to an hour.
class PatientCalls {
 public:
  explicit PatientCalls(Connection& connection)
      : connection_(connection), saved_(connection.timeout()) {
    connection_.setTimeout(std::max(saved_, std::chrono::milliseconds(std::chrono::hours(1))));
  }
  ~PatientCalls() { connection_.setTimeout(saved_); }
  PatientCalls(const PatientCalls&) = delete;
  PatientCalls& operator=(const PatientCalls&) = delete;

 private:
  Connection& connection_;
  std::chrono::milliseconds saved_;
};

std::string refusedBy(const std::string& what, const std::string& why) {
  return what + std::string(": ") + (why.empty() ? std::string("refused") : why);
}

}  // namespace

void sendDocument(Connection& connection, const std::string& path, const std::string& name) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error(std::string("cannot read '") + path + "'");
  std::uint64_t offset = 0;
  std::string chunk(qovix::protocol::kDocumentChunkBytes, '\0');
  for (;;) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    if (file.bad()) throw std::runtime_error(std::string("cannot read '") + path + "'");
    const auto got = static_cast<std::size_t>(file.gcount());
    const bool last = file.eof();
    const Outcome sent = connection.upload(name, offset, chunk.substr(0, got), last);
    if (!sent.text.empty()) {
      throw std::runtime_error(
          refusedBy(std::string("qovixd refused the document '") + path + "'", sent.text));
    }
    offset += got;
    if (last) return;
  }
}

void fetchDocument(Connection& connection, const std::string& name, const std::string& path) {
  // Written beside the file, then put in its place: a failed copy leaves
  // the old file as it was.
  const std::string partial = path + ".part";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    if (!file) throw std::runtime_error(std::string("cannot write '") + path + "'");
    std::uint64_t offset = 0;
    for (;;) {
      const DocumentBytes read = connection.download(name, offset);
      if (!read.refusal.empty()) {
        std::filesystem::remove(partial);
        throw std::runtime_error(refusedBy(
            std::string("qovixd could not send the document '") + name + "'", read.refusal));
      }
      file.write(read.bytes.data(), static_cast<std::streamsize>(read.bytes.size()));
      offset += read.bytes.size();
      if (offset >= read.size || read.bytes.empty()) break;
    }
    if (!file.flush()) {
      std::filesystem::remove(partial);
      throw std::runtime_error(std::string("cannot write '") + path + "'");
    }
  }
  std::filesystem::rename(partial, path);
}

void importDocument(Connection& connection, const std::string& name, const std::string& into,
                    std::ostream& out) {
  KeptHandles kept(connection);
  const std::uint32_t target = into.empty() ? 0 : requirePackage(connection, kept, into).handle;
  std::optional<TravellingDocument> sent;
  std::string document = name;
  if (isLocalPath(name)) {
    sent.emplace(connection, travellingName(name));
    sendDocument(connection, name, sent->name());
    document = sent->name();
  }
  const std::string title = std::filesystem::path(name).filename().string();
  const Outcome imported = [&] {
    const PatientCalls patient(connection);
    return connection.importDocument(document, target, title);
  }();
  if (imported.value == 0) {
    std::string why = imported.text;
    if (!sent && why.starts_with("there is no document")) {
      why += std::string(" in qovixd's --documents folder (a file here? name it ./") + name + ")";
    }
    throw std::runtime_error(
        refusedBy(std::string("qovixd imported nothing from '") + name + "'", why));
  }
  const PackageRef package{kept.keep(static_cast<std::uint32_t>(imported.value))};
  const auto element = kept.keep(ModelElement::cast(connection, package, true));
  // The handle is a package's; the document's package may be a model.
  const auto asModel = kept.keep(Model::cast(connection, package, true));
  const bool model = connection.identity(asModel.handle).object != 0;
  out << "imported " << (model ? "Model" : "Package") << " '"
      << ModelElement::get_name(connection, element) << "' from " << name
      << (into.empty() ? "" : std::string(" into ") + into) << '\n'
      << imported.text;
}

void exportDocument(Connection& connection, const std::string& package, const std::string& name,
                    const std::string& version, std::ostream& out) {
  if (version != "1.2" && version != "1.0" && version != "2.5") {
    throw std::invalid_argument(
        std::string("--xmi is 1.2 (UML 1.4), 1.0 (UML 1.3) or 2.5 (UML 2.5.1), not '") + version +
        "'");
  }
  KeptHandles kept(connection);
  const PackageRef exported = requirePackage(connection, kept, package);
  std::optional<TravellingDocument> travelling;
  if (isLocalPath(name)) travelling.emplace(connection, travellingName(name));
  const std::string document = travelling ? travelling->name() : name;
  const PatientCalls patient(connection);
  const Outcome written =
      connection.exportDocument(exported.handle, std::string("xmi ") + version, document);
  if (written.value == 0) {
    throw std::runtime_error(
        refusedBy(std::string("qovixd could not export '") + package + "'", written.text));
  }
  if (travelling) fetchDocument(connection, document, name);
  out << "exported '" << package << "' to " << name
      << (travelling ? "" : " in qovixd's document folder") << " ("
      << (version == "1.2"   ? "UML 1.4, XMI 1.2"
          : version == "1.0" ? "UML 1.3, XMI 1.0"
                             : "UML 2.5.1, XMI 2.5.1")
      << ", " << written.value << " bytes)\n";
  out << written.text;  // what was written and left out; empty from an older qovixd
}

}  // namespace qovix::tool
