#pragma once

// The library's one entry point for calls. The host calls it once per call,
// one call at a time, after deciding the call is addressed to this model.

#include <rpc/rpc.h>

#include "dispatch/export.h"
#include "dispatch/model_call.h"

extern "C" QOVIX_OS_EXPORT void QOVIX_server_1(svc_req* rqstp, SVCXPRT* transp,
                                               ModelCall* modelCall);

// The entry point's type, for hosts that find it with dlsym.
using QovixServerEntry = void (*)(svc_req* rqstp, SVCXPRT* transp, ModelCall* modelCall);
