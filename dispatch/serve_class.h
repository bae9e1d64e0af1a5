#pragma once

// The body of every class dispatcher: the cast template id goes to the class's
// cast server whatever the procedure number; every other call runs the class's
// own procedure table.

#include <rpc/rpc.h>

#include <cstdint>

#include "dispatch/frame.h"
#include "dispatch/model_call.h"
#include "dispatch/procedure_entry.h"
#include "dispatch/vorn_cast.h"

template <class Surrogate>
void serveClass(ProcedureTable procedures, svc_req* rqstp, SVCXPRT* transp,
                std::int32_t templateId) {
  if (templateId == kCastTemplateId) {
    VornCast<Surrogate>::server_1(rqstp, transp);
    return;
  }
  qovix::runProcedure(procedures, rqstp, transp);
}
