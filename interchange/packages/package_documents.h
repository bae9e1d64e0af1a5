#pragma once

// Packages as documents of the document folder, for a server's own services:
// what internalize and externalize do, with the reason of a refusal and the
// import's report as text a client can be sent.

#include <cstdint>
#include <string>

#include "model/qovix_srv/qovix_srv_api.h"
#include "store/persistent_store.h"

namespace model {

struct ReadDocument {
  ObjectId package = 0;
  std::string report;  // what was imported and skipped, with why
};

// Reads the document `document` of the folder, told apart by its content:
// the repository's own format, XMI, or a project archive holding XMI.
// `title` names it in the report and names the package made for a document
// without one (empty: `document`). The package goes into `into` (0: it
// stands alone). Throws with the reason, and the document's line where
// there is one; the caller undoes what was read.
QOVIX_SRV_API ReadDocument readPackageDocument(PersistentStore& store, const std::string& document,
                                               const std::string& title, ObjectId into);

struct WrittenDocument {
  std::uint64_t size = 0;  // in bytes
  std::string report;      // for XMI: what was written and left out, with why
};

// Writes the package as the document `document` of the folder in `format`
// ("qovix", "xmi", "xmi 1.2", "xmi 1.0", "xmi 2.5").
QOVIX_SRV_API WrittenDocument writePackageDocument(const PersistentStore& store, ObjectId package,
                                                   const std::string& format,
                                                   const std::string& document);

}  // namespace model
