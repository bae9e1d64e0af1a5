#pragma once

// Reads XMI documents of UML 1.3 (XMI 1.0, 1.1) and UML 1.4 (XMI 1.2), as
// the UML tools of that time write them, into the repository.
//
// Every metaclass, attribute and association end of the document becomes
// the catalogue's, by name and by the renamings between the versions
// (xmi_names.h). What has no counterpart is skipped and named in the
// report, with why: diagrams, tool extensions (XMI.extension), metaclasses
// and features UML 1.1 lacks, references outside the document (href to
// another file) and to elements it does not hold (a partial export).
// xmi.idref and href="#id" resolve in any order. Links given on one end of
// an association are made on the other end too.
//
// Tools of two decades bend the standard; what a reading is clear for is
// read, and named in the report as a deviation: an id holding spaces
// (an attribute value that is exactly an id is that one reference), an
// element defined twice under one id (read once when the same, else as an
// element of its own; references name the first), a single action
// where an ActionSequence belongs (wrapped in one), elements nested
// directly in their owner (placed in its one feature that owns their
// kind), and the drafts before XMI 1.0 (no xmi.version, XMI.id).
//
// The document's package (its only top-level package; otherwise a new
// package named after the document holding what it defines) is returned.
// A refused document throws, and the caller undoes what was read.

#include <map>
#include <string>
#include <string_view>

#include "interchange/xmi/import_report.h"
#include "interchange/xmi/xml_stream.h"
#include "model/qovix_srv/qovix_srv_api.h"
#include "store/persistent_store.h"

namespace model::xmi {

// The largest XMI document read or written is the store's document bound
// (StoreSettings::mostDocumentBytes, 1 GiB unless set). The most elements
// one document may hold: as many objects as a repository holds by default.
inline constexpr std::size_t kMostXmiElements = 10'000'000;
// The deepest elements may nest in a document, read or written (libxml2's
// own bound without XML_PARSE_HUGE). An object nests its owned objects two
// levels down (the object, then its property), so a package's contents may
// nest about 125 deep.
inline constexpr std::size_t kMostXmiDepth = 256;

// Reads the document named `name` into `store`; returns the package. It
// is read as a stream, twice (xml_stream.h): what the reading holds follows
// the model, not the document. A project archive (model_archive.h) is read
// as the XMI document inside it, inflated in memory.
QOVIX_SRV_API ObjectId readXmi(PersistentStore& store, const XmlSource& source,
                               const std::string& name, ImportReport& report);
ObjectId readXmi(PersistentStore& store, std::string text, const std::string& name,
                 ImportReport& report);

}  // namespace model::xmi
