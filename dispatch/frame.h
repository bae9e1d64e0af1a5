#pragma once

// The frame every class dispatcher and cast server runs for one call: look the
// procedure up, zero and decode the argument record, call the routine, send
// its result, free the record.

#include <rpc/rpc.h>

#include <cstddef>

#include "dispatch/procedure_entry.h"

namespace qovix {

// Argument records are small fixed-layout structs; the frame keeps them in
// storage of this size. A table entry asking for more is answered with a
// system error and its routine is not called.
inline constexpr std::size_t kArgumentRecordCapacity = 256;

void runProcedure(ProcedureTable procedures, svc_req* rqstp, SVCXPRT* transp);

}  // namespace qovix
