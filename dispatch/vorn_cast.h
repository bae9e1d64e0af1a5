#pragma once

// Every class has a cast server: its one procedure (number 1) gives a handle
// to any registered object seen as the class `Surrogate`. All cast servers run
// the same frame and differ only in their routine.

#include <rpc/rpc.h>

#include "dispatch/frame.h"
#include "dispatch/procedure_entry.h"
#include "dispatch/procedure_row.h"
#include "xdr/argument_records.h"
#include "xdr/primitive_filters.h"

template <class Surrogate>
struct VornCast {
  // Procedure 1 = cast: any object's handle and an int, giving a handle.
  // The routine is bound once the cast routines exist; until then the
  // number answers procedure-unavailable.
  static constexpr ProcedureEntry procedures[1] = {procedureRow<&X_HandleInt, &X_InteropHandle>()};

  static void server_1(svc_req* rqstp, SVCXPRT* transp) {
    qovix::runProcedure(procedures, rqstp, transp);
  }
};
