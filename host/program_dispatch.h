#pragma once

// The dispatch functions the RPC runtime calls for qovixd's three programs.
// Model and cast calls go to the loaded library with the model-call record
// filled from the call's program and version; every call gets a reply, even
// when the library throws.

#include <rpc/rpc.h>

#include "dispatch/entry_point.h"

// The library entry the model and cast programs call; set while serving.
void setModelEntry(QovixServerEntry entry);

void dispatchModelProgram(svc_req* rqstp, SVCXPRT* transp);
void dispatchCastProgram(svc_req* rqstp, SVCXPRT* transp);
void dispatchHostProgram(svc_req* rqstp, SVCXPRT* transp);
