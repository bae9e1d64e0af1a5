#pragma once

// The dispatch functions the RPC runtime calls for qovixd's three programs.
// Model and cast calls go to the loaded library with the model-call record
// filled from the call's program and version; every call gets a reply, even
// when the library throws.

#include <rpc/rpc.h>

#include "dispatch/entry_point.h"
#include "host/access_policy.h"

class PersistentStore;

// What the programs serve: the library entry the model and cast programs
// call, the repository's handle and its store; set while serving, cleared
// after.
void startServing(QovixServerEntry entry, unsigned long repositoryHandle, PersistentStore* store);
void stopServing();

// Who may do what (the access file) and whether each principal sees only
// the handles made for it, with a repository handle of its own; a call its
// principal may not make, or one that names a handle not its own, is
// refused with the authentication error AUTH_TOOWEAK before the library
// sees it. Without this, everyone may write and handles are shared.
void controlAccess(AccessPolicy policy, bool scopeHandles);

// Settles the changes of the call being answered, once its reply is encoded
// and before it leaves: a successful reply keeps them (committed to the
// store), any other reply (one too large to send among them) undoes them.
// When they cannot be kept, they are undone, the reply becomes the system
// error and this answers true: the transport encodes it again. Every
// transport calls this before it sends.
bool settleBeforeReply(rpc_msg* reply);

void dispatchModelProgram(svc_req* rqstp, SVCXPRT* transp);
void dispatchCastProgram(svc_req* rqstp, SVCXPRT* transp);
void dispatchHostProgram(svc_req* rqstp, SVCXPRT* transp);
