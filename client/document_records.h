#pragma once

// The records with which documents travel between a client and the document
// folder of qovixd: chunks sent and read, and the requests to import and
// export one. xdr/document_filters.h has their filters.

#include <cstdint>
#include <string>

namespace qovix {

// A chunk of a document sent to the folder: `last` puts the whole in place.
struct DocumentChunk {
  std::string name;
  std::uint64_t offset = 0;
  bool last = false;
  std::string bytes;
};

// Which stretch of a document of the folder to read.
struct DocumentRange {
  std::string name;
  std::uint64_t offset = 0;
};

// A stretch read: the document's whole size and the bytes from the offset;
// `refusal` says why when there are none to read.
struct DocumentBytes {
  std::uint64_t size = 0;
  std::string bytes;
  std::string refusal;
};

// Import the document `document` of the folder into the package `into` (0:
// standing alone); `title` names it in the report (empty: `document`).
struct ImportRequest {
  std::string document;
  std::uint32_t into = 0;
  std::string title;
};

// Export the package as the document `document` of the folder, in `format`.
struct ExportRequest {
  std::uint32_t package = 0;
  std::string format;
  std::string document;
};

// Set the multiplicity of the attribute or association end `element` from
// its text ("0..*", "1", "1..3,5"); an empty text removes it.
struct MultiplicityRequest {
  std::uint32_t element = 0;
  std::string text;
};

// What a service of documents (or an edit) answers: a number (a size, a handle), and a
// text (a report; when the number is 0, why it was refused).
struct Outcome {
  std::uint64_t value = 0;
  std::string text;
};

}  // namespace qovix
