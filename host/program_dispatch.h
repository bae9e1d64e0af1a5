#pragma once

// The dispatch functions the RPC runtime calls for qovixd's three programs.
// Model and cast calls go to the loaded library with the model-call record
// filled from the call's program and version; every call gets a reply, even
// when the library throws.

#include <rpc/rpc.h>

#include "dispatch/entry_point.h"

// What the programs serve: the library entry the model and cast programs
// call, and the repository's handle; set while serving, cleared after.
void startServing(QovixServerEntry entry, unsigned long repositoryHandle);
void stopServing();

void dispatchModelProgram(svc_req* rqstp, SVCXPRT* transp);
void dispatchCastProgram(svc_req* rqstp, SVCXPRT* transp);
void dispatchHostProgram(svc_req* rqstp, SVCXPRT* transp);
