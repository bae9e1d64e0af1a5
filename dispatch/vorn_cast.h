#pragma once

// Every class has a cast server: its one procedure (number 1) gives a handle
// to any registered object seen as the class `Surrogate`. All cast servers run
// the same frame and differ only in their routine.

#include <rpc/rpc.h>

#include "dispatch/frame.h"
#include "dispatch/procedure_entry.h"

// The cast server's table of `Surrogate`: `procedures`, one row (procedure 1).
// Defined for every class with the generated procedure tables.
template <class Surrogate>
struct CastTable;

template <class Surrogate>
struct VornCast {
  static void server_1(svc_req* rqstp, SVCXPRT* transp) {
    qovix::runProcedure(CastTable<Surrogate>::procedures, rqstp, transp);
  }
};
