#include "host/program_dispatch.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cstdio>
#include <exception>
#include <string>

#include "client/protocol.h"
#include "dispatch/model_call.h"
#include "host/call_log.h"
#include "host/host_services.h"
#include "platform/vorn_os/handle_registry.h"
#include "platform/wkm_srv/persistent_store.h"
#include "xdr/argument_records.h"
#include "xdr/primitive_filters.h"
#include "xdr/xdr_filter.h"

namespace {

// The runtime's dispatch functions carry no context, so what they serve
// lives here.
QovixServerEntry modelEntry = nullptr;
InteropHandle repositoryHandle = 0;
PersistentStore* servedStore = nullptr;

CallLog& callLog() {
  static CallLog log;
  return log;
}

// The changes and handles of one call: registered for its caller (its
// address without the port), and undone (and released) when the call ends
// without a reply that kept them, however it ends.
class CallInProgress {
 public:
  explicit CallInProgress(const SVCXPRT* transp) {
    char caller[NI_MAXHOST] = "?";  // no allocation: nothing here may throw
    const netbuf& address = transp->xp_rtaddr;
    if (address.buf != nullptr && address.len > 0) {
      getnameinfo(static_cast<const sockaddr*>(address.buf), address.len, caller, sizeof caller,
                  nullptr, 0, NI_NUMERICHOST);
    }
    vorn_os::setCaller(caller);
    vorn_os::startCall();
  }
  ~CallInProgress() {
    try {
      if (servedStore != nullptr) servedStore->rollback();
      vorn_os::releaseMadeThisCall();
    } catch (...) {
      // no memory to release with: the handles stay, naming nothing the store has
    }
    vorn_os::endCall();
    vorn_os::setCaller({});
  }
  CallInProgress(const CallInProgress&) = delete;
  CallInProgress& operator=(const CallInProgress&) = delete;
};

// Runs `serve`; an exception that escapes it is logged (with `where`) and
// answered with the system-error reply, so every call gets one.
template <class Serve, class Where>
void answeringExceptions(SVCXPRT* transp, Serve serve, Where where) {
  try {
    serve();
    return;
  } catch (const std::exception& error) {
    callLog().say(where() + ": " + error.what());
  } catch (...) {
    callLog().say(where() + ": not a std::exception");
  }
  svcerr_systemerr(transp);
}

void callLibrary(svc_req* rqstp, SVCXPRT* transp, std::int32_t templateId) {
  // The class number is the version the client called.
  ModelCall call{rqstp->rq_prog, rqstp->rq_vers, rqstp->rq_vers, templateId};
  if (modelEntry == nullptr) {
    svcerr_systemerr(transp);
    return;
  }
  const CallInProgress inProgress(transp);
  answeringExceptions(
      transp, [&] { modelEntry(rqstp, transp, &call); },
      [&] {
        return "class " + std::to_string(call.classNumber) + " procedure " +
               std::to_string(rqstp->rq_proc) +
               (call.templateId == kCastTemplateId ? " (cast)" : "") +
               ": exception from the library";
      });
}

}  // namespace

void startServing(QovixServerEntry entry, unsigned long repository, PersistentStore* store) {
  modelEntry = entry;
  repositoryHandle = static_cast<InteropHandle>(repository);
  servedStore = store;
}

void stopServing() {
  modelEntry = nullptr;
  repositoryHandle = 0;
  servedStore = nullptr;
}

bool settleBeforeReply(rpc_msg* reply) {
  if (servedStore == nullptr) return false;
  const bool succeeded = reply->rm_reply.rp_stat == MSG_ACCEPTED &&
                         reply->acpted_rply.ar_stat == SUCCESS;
  if (succeeded) {
    try {
      servedStore->commit();
      vorn_os::endCall();  // what it registered stays
      return false;
    } catch (const std::exception& error) {
      callLog().say(std::string("a call's changes were not kept: ") + error.what());
      reply->acpted_rply.ar_stat = SYSTEM_ERR;
      servedStore->rollback();
      vorn_os::releaseMadeThisCall();
      return true;
    }
  }
  servedStore->rollback();
  vorn_os::releaseMadeThisCall();
  return false;
}

void dispatchModelProgram(svc_req* rqstp, SVCXPRT* transp) { callLibrary(rqstp, transp, 0); }

void dispatchCastProgram(svc_req* rqstp, SVCXPRT* transp) {
  callLibrary(rqstp, transp, kCastTemplateId);
}

namespace {

// Decodes a host procedure's arguments; answers garbage-arguments when they
// do not decode.
template <class T>
bool arguments(SVCXPRT* transp, bool_t (*filter)(XDR*, T*), T* record) {
  if (transp->xp_ops->xp_getargs(transp, toXdrProc(filter), record)) return true;
  svcerr_decode(transp);
  return false;
}

template <class T>
void reply(SVCXPRT* transp, bool_t (*filter)(XDR*, T*), T* result) {
  if (!svc_sendreply(transp, toXdrProc(filter), result)) svcerr_systemerr(transp);
}

void serveHostProcedure(svc_req* rqstp, SVCXPRT* transp) {
  using namespace qovix::protocol;
  InteropHandle handle = 0;
  switch (rqstp->rq_proc) {
    case kHostNull:
      svc_sendreply(transp, toXdrProc(&voidFilter), nullptr);
      return;
    case kHostRepository:
      reply(transp, &X_InteropHandle, &repositoryHandle);
      return;
    case kHostRelease:
      if (arguments(transp, &X_InteropHandle, &handle)) {
        udt_boolean released = host_services::release(handle, repositoryHandle);
        reply(transp, &X_udt_boolean, &released);
      }
      return;
    case kHostSize:
      if (arguments(transp, &X_InteropHandle, &handle)) {
        udt_integer size = host_services::size(handle);
        reply(transp, &X_udt_integer, &size);
      }
      return;
    case kHostElement: {
      HandleLong record{};
      if (arguments(transp, &X_HandleLong, &record)) {
        InteropHandle element = host_services::element(record.target, record.param1);
        reply(transp, &X_InteropHandle, &element);
      }
      return;
    }
    case kHostClassName:
      if (arguments(transp, &X_InteropHandle, &handle)) {
        std::string name = host_services::className(handle);
        char* text = name.empty() ? nullptr : name.data();
        reply(transp, &X_OptionalString, &text);
      }
      return;
    case kHostIdentity:
      if (arguments(transp, &X_InteropHandle, &handle)) {
        const host_services::Identity found = host_services::identity(handle);
        HandleLong pair{found.object, found.classNumber};
        reply(transp, &X_HandleLong, &pair);
      }
      return;
    case kHostHandleCount: {
      udt_integer count = host_services::handleCount();
      reply(transp, &X_udt_integer, &count);
      return;
    }
    default:
      svcerr_noproc(transp);
      return;
  }
}

}  // namespace

// Host services allocate (new handles, class names), so they too can fail.
void dispatchHostProgram(svc_req* rqstp, SVCXPRT* transp) {
  const CallInProgress inProgress(transp);
  answeringExceptions(
      transp, [&] { serveHostProcedure(rqstp, transp); },
      [&] { return "host procedure " + std::to_string(rqstp->rq_proc); });
}
