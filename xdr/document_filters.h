#pragma once

// The filters of the documents' records (client/document_records.h), one
// per record, each serving encode, decode and free, as the history's.

#include <rpc/xdr.h>

#include <string>

#include "client/document_records.h"

bool_t X_DocumentName(XDR* xdrs, std::string* name);
bool_t X_DocumentChunk(XDR* xdrs, qovix::DocumentChunk* chunk);
bool_t X_DocumentRange(XDR* xdrs, qovix::DocumentRange* range);
bool_t X_DocumentBytes(XDR* xdrs, qovix::DocumentBytes* bytes);
bool_t X_ImportRequest(XDR* xdrs, qovix::ImportRequest* request);
bool_t X_ExportRequest(XDR* xdrs, qovix::ExportRequest* request);
bool_t X_Outcome(XDR* xdrs, qovix::Outcome* outcome);
bool_t X_MultiplicityRequest(XDR* xdrs, qovix::MultiplicityRequest* request);
