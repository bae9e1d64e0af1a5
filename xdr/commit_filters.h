#pragma once

// The filters of the history's records (client/history_records.h), one per
// record, each serving encode, decode and free; C++ containers hold what is
// decoded, so freeing has nothing to do. Decoding grows each list one item
// at a time: a count larger than the record fails at the record's end, and
// reserves nothing.

#include <rpc/xdr.h>

#include <cstdint>

#include "client/history_records.h"

// An unsigned hyper (RFC 4506 4.5).
bool_t X_Sequence(XDR* xdrs, std::uint64_t* sequence);
bool_t X_HistoryQuery(XDR* xdrs, qovix::HistoryQuery* query);
bool_t X_CommitPage(XDR* xdrs, qovix::CommitPage* page);
bool_t X_UndoAnswer(XDR* xdrs, qovix::UndoAnswer* answer);
