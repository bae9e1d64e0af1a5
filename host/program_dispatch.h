#pragma once

// The dispatch functions the RPC runtime calls for qovixd's three programs.
// The runtime hands them no context: each finds the serving context and the
// principal through its transport's call site, and a call with nothing
// served gets the system error.

#include <rpc/rpc.h>

void dispatchModelProgram(svc_req* rqstp, SVCXPRT* transp);
void dispatchCastProgram(svc_req* rqstp, SVCXPRT* transp);
void dispatchHostProgram(svc_req* rqstp, SVCXPRT* transp);
