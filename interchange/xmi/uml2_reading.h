#pragma once

// UML 2 models, as XMI 2.1 to 2.5.1 documents of today's tools (Eclipse
// UML2 and Papyrus, Enterprise Architect, MagicDraw and Cameo, Modelio,
// StarUML, Visual Paradigm), read into the repository's UML 1.1 model.
//
// The document is turned into the UML 1.4 model it stands for, as an XMI
// 1.2 document, which the UML 1.x reader then reads with its own mapping and
// report: one reading of UML 1.x names, and a UML 2 construct maps to what a
// UML 1.4 tool would have written for it. docs/server.md gives the mapping.
// What has no counterpart is skipped and named in the report, by kind.

#include <string>

#include "interchange/xmi/import_report.h"
#include "interchange/xmi/xml_document.h"

namespace model::xmi {

// Whether the document is XMI 2.x: an <xmi:XMI> root in an XMI 2 namespace,
// or a root element in a UML 2 namespace (<uml:Model>, <uml:Package>).
bool isUml2Document(const XmlElement* root);

// The UML 1.4 model, in XMI 1.2, that the UML 2 document `root` stands
// for; what it skipped and bent goes into `report`, and its format into
// `format` ("XMI 2.5.1, UML 2").
std::string uml14Of(const XmlElement* root, ImportReport& report, std::string& format);

}  // namespace model::xmi
