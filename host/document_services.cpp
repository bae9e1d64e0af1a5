// The host program's services over documents: sending one to the document
// folder and reading one from it in chunks, and importing and exporting
// packages there. Each answers a refusal with its reason, which the client
// prints: a user far from the server cannot read its log.

#include <new>
#include <stdexcept>
#include <string>

#include "host/host_call.h"
#include "host/host_refusal.h"
#include "host/model_handles.h"
#include "host/serving_context.h"
#include "host_handlers.h"
#include "model_classes.h"
#include "interchange/packages/document_files.h"
#include "interchange/packages/package_documents.h"
#include "model/qovix_srv/model_metadata.h"
#include "qovix_protocol.h"

namespace host_procedures {

using qovix::DocumentBytes;
using qovix::DocumentChunk;
using qovix::DocumentRange;
using qovix::ExportRequest;
using qovix::ImportRequest;
using qovix::Outcome;

namespace {

const std::filesystem::path& folderOf(HostCall& call) {
  const std::filesystem::path& folder = storeOf(call).settings().documentFolder;
  if (folder.empty()) {
    throw std::runtime_error("this qovixd keeps no document folder: start it with --documents FOLDER "
                             "to send, import and export documents");
  }
  return folder;
}

// The package a handle names; throws when it names none.
ObjectId packageOf(HostCall& call, InteropHandle handle, const char* what) {
  const VornPersistentObject* object = modelObjectOf(call, handle);
  if (object == nullptr ||
      !conformsTo(object->store()->classOf(object->objectId()), QOVIXPackage::kClassId)) {
    throw std::invalid_argument(std::string("the handle ") + std::to_string(handle) +
                                " names no package to " + what);
  }
  return object->objectId();
}

}  // namespace

Outcome serveUpload(HostCall& call, DocumentChunk chunk) {
  return refusing(call, [&] {
    const std::uint64_t received =
        model::receiveDocumentChunk(folderOf(call), chunk.name, chunk.offset, chunk.bytes,
                                    chunk.last, storeOf(call).settings().mostDocumentBytes);
    if (chunk.last) {
      call.serving().log().record(call.principalKey() + " sent the document '" + chunk.name +
                                  "' (" + std::to_string(received) + " bytes)");
    }
    return Outcome{received, {}};
  });
}

DocumentBytes serveDownload(HostCall& call, DocumentRange range) {
  try {
    model::DocumentStretch stretch = model::readDocumentStretch(
        folderOf(call), range.name, range.offset, qovix::protocol::kDocumentChunkBytes,
        storeOf(call).settings().mostDocumentBytes);
    return {stretch.size, std::move(stretch.bytes), {}};
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& error) {
    return {0, {}, error.what()};
  }
}

Outcome serveImport(HostCall& call, ImportRequest request) {
  return refusing(call, [&] {
    PersistentStore& store = storeOf(call);
    const ObjectId into = request.into == 0 ? 0 : packageOf(call, request.into, "import into");
    model::ReadDocument read =
        model::readPackageDocument(store, request.document, request.title, into);
    const InteropHandle handle = handleOf(store, read.package);
    if (handle == 0) throw std::runtime_error("no handle could be registered for the package");
    call.serving().log().record(call.principalKey() + " imported the document '" +
                                request.document + "' as object " + std::to_string(read.package));
    return Outcome{handle, std::move(read.report)};
  });
}

Outcome serveExport(HostCall& call, ExportRequest request) {
  return refusing(call, [&] {
    const ObjectId package = packageOf(call, request.package, "export");
    model::WrittenDocument written =
        model::writePackageDocument(storeOf(call), package, request.format, request.document);
    return Outcome{written.size, std::move(written.report)};
  });
}

Outcome serveDiscard(HostCall& call, std::string name) {
  return refusing(call, [&] {
    if (!model::removeDocumentFile(folderOf(call), name)) {
      throw std::runtime_error("there is no document '" + name + "'");
    }
    return Outcome{1, {}};
  });
}

}  // namespace host_procedures
