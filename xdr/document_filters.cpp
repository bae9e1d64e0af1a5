#include "xdr/document_filters.h"

#include "qovix_protocol.h"
#include "xdr/byte_strings.h"

using namespace qovix;

namespace {

// Names, formats, reports and refusals.
constexpr std::uint32_t kMostText = 1u << 20;

bool_t text(XDR* xdrs, std::string* value) { return xdrByteString(xdrs, value, kMostText); }
bool_t chunk(XDR* xdrs, std::string* value) {
  return xdrByteString(xdrs, value, qovix::protocol::kDocumentChunkBytes);
}
bool_t hyper(XDR* xdrs, std::uint64_t* value) { return xdr_uint64_t(xdrs, value); }

}  // namespace

bool_t X_DocumentName(XDR* xdrs, std::string* name) { return text(xdrs, name); }

bool_t X_DocumentChunk(XDR* xdrs, DocumentChunk* record) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  bool_t last = record->last ? TRUE : FALSE;
  if (!text(xdrs, &record->name) || !hyper(xdrs, &record->offset) || !xdr_bool(xdrs, &last)) {
    return FALSE;
  }
  record->last = last != FALSE;
  return chunk(xdrs, &record->bytes);
}

bool_t X_DocumentRange(XDR* xdrs, DocumentRange* record) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  return text(xdrs, &record->name) && hyper(xdrs, &record->offset);
}

bool_t X_DocumentBytes(XDR* xdrs, DocumentBytes* record) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  return hyper(xdrs, &record->size) && chunk(xdrs, &record->bytes) && text(xdrs, &record->refusal);
}

bool_t X_ImportRequest(XDR* xdrs, ImportRequest* record) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  return text(xdrs, &record->document) && xdr_u_int32_t(xdrs, &record->into) &&
         text(xdrs, &record->title);
}

bool_t X_ExportRequest(XDR* xdrs, ExportRequest* record) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  return xdr_u_int32_t(xdrs, &record->package) && text(xdrs, &record->format) &&
         text(xdrs, &record->document);
}

bool_t X_MultiplicityRequest(XDR* xdrs, MultiplicityRequest* record) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  return xdr_u_int32_t(xdrs, &record->element) && text(xdrs, &record->text);
}

bool_t X_Outcome(XDR* xdrs, Outcome* record) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  return hyper(xdrs, &record->value) && text(xdrs, &record->text);
}
