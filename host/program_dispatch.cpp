#include "host/program_dispatch.h"

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <unordered_map>

#include "client/protocol.h"
#include "dispatch/model_call.h"
#include "host/call_log.h"
#include "host/host_services.h"
#include "host/principals.h"
#include "host/procedure_access.h"
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

// Who may do what, and whether each principal sees only its own handles.
AccessPolicy accessPolicy;
bool handlesScoped = false;
// The repository object, and each principal's own handle to it (scoped).
void* repositoryObject = nullptr;
void* repositoryPart = nullptr;
std::unordered_map<std::string, InteropHandle> repositoryHandles;

// The changes and handles of one call: registered for its principal, and
// undone (and released) when the call ends without a reply that kept them,
// however it ends.
class CallInProgress {
 public:
  explicit CallInProgress(const std::string& principalKey) {
    vorn_os::setCaller(principalKey);  // cannot throw: a caller not noted is nobody
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

// Reads the handle fields of a call's argument record, and puts the stream
// back where it was for the library to decode. `fields` as the procedure's
// row gives them: H handle, V value, L long, I int.
struct HandlePeek {
  const char* fields;
  bool allOwn = true;
};

bool_t peekHandles(XDR* xdrs, HandlePeek* peek) {
  const u_int start = xdr_getpos(xdrs);
  for (const char* field = peek->fields; *field != '\0'; ++field) {
    bool decoded = true;
    if (*field == 'H') {
      InteropHandle handle = 0;
      decoded = X_InteropHandle(xdrs, &handle) != 0;
      // Scoped, the registry sees only the caller's own handles.
      if (decoded && okHandle(handle) == 0) peek->allOwn = false;
    } else if (*field == 'V') {
      udt_dataType value{};
      decoded = X_VornDataType(xdrs, &value) != 0;
      xdr_free(toXdrProc(&X_VornDataType), &value);
    } else {
      udt_integer number = 0;
      decoded = X_udt_integer(xdrs, &number) != 0;
    }
    if (!decoded) break;  // the library answers what does not decode
  }
  xdr_setpos(xdrs, start);
  return TRUE;
}

// The principal of the call the transport carries, and its registry key;
// false, with the system error answered, when there is no memory to name it.
bool principalFor(SVCXPRT* transp, Principal& principal, std::string& key) {
  try {
    principal = principalOf(transp);
    key = principal.key();
    return true;
  } catch (const std::bad_alloc&) {
    svcerr_systemerr(transp);
    return false;
  }
}

// Whether the principal may make this model or cast call: its access
// allows the procedure, and (scoped) every handle it names is its own. A
// handle of another principal, or none at all, would make the routine
// answer its previous result, which may be another principal's.
bool permitted(svc_req* rqstp, SVCXPRT* transp, const Principal& principal,
               std::int32_t templateId) {
  const Access access = accessPolicy.of(principal.name);
  if (access == Access::None) return false;
  const char* fields = "HI";  // a cast: any handle of the caller's, and the check
  if (templateId != kCastTemplateId) {
    const procedure_access::Row* row = procedure_access::find(rqstp->rq_vers, rqstp->rq_proc);
    if (row == nullptr) return true;  // the library answers that it has no such procedure
    if (row->writes && access != Access::Write) return false;
    fields = row->fields;
  }
  if (!handlesScoped) return true;
  HandlePeek peek{fields};
  transp->xp_ops->xp_getargs(transp, toXdrProc(&peekHandles), &peek);
  return peek.allOwn;
}

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

// A call that ran this long may have used much memory for a while (a
// document, a copy, a walk of a large package): what it freed goes back to
// the system, not only to the heap, so the server's resident memory returns
// to what it was. Quick calls use little, and skip the trim's cost.
constexpr std::chrono::milliseconds kLongCall{50};

void giveBackMemoryAfter(std::chrono::steady_clock::time_point started) {
  if (std::chrono::steady_clock::now() - started >= kLongCall) malloc_trim(0);
}

void callLibrary(svc_req* rqstp, SVCXPRT* transp, std::int32_t templateId) {
  // The class number is the version the client called.
  ModelCall call{rqstp->rq_prog, rqstp->rq_vers, rqstp->rq_vers, templateId};
  if (modelEntry == nullptr) {
    svcerr_systemerr(transp);
    return;
  }
  Principal principal;
  std::string key;
  if (!principalFor(transp, principal, key)) return;
  const CallInProgress inProgress(key);
  if (!permitted(rqstp, transp, principal, templateId)) {
    svcerr_auth(transp, AUTH_TOOWEAK);
    return;
  }
  const auto started = std::chrono::steady_clock::now();
  answeringExceptions(
      transp, [&] { modelEntry(rqstp, transp, &call); },
      [&] {
        return "class " + std::to_string(call.classNumber) + " procedure " +
               std::to_string(rqstp->rq_proc) +
               (call.templateId == kCastTemplateId ? " (cast)" : "") +
               ": exception from the library";
      });
  giveBackMemoryAfter(started);
}

}  // namespace

void startServing(QovixServerEntry entry, unsigned long repository, PersistentStore* store) {
  modelEntry = entry;
  repositoryHandle = static_cast<InteropHandle>(repository);
  repositoryObject = getObject(repository, 0);
  repositoryPart = vorn_os::objectPart(repository);
  servedStore = store;
}

void controlAccess(AccessPolicy policy, bool scopeHandles) {
  accessPolicy = std::move(policy);
  handlesScoped = scopeHandles;
  vorn_os::setScoped(scopeHandles);
}

void stopServing() {
  modelEntry = nullptr;
  repositoryHandle = 0;
  repositoryObject = repositoryPart = nullptr;
  repositoryHandles.clear();
  servedStore = nullptr;
  accessPolicy = AccessPolicy();
  handlesScoped = false;
  vorn_os::setScoped(false);
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

// The repository handle of the principal calling: its own when handles are
// scoped (made when it first asks, or when it released the last), else the
// one every client shares.
InteropHandle repositoryHandleFor(const std::string& principalKey) {
  if (!handlesScoped) return repositoryHandle;
  InteropHandle& own = repositoryHandles[principalKey];
  if (own == 0 || okHandle(own) == 0) {
    own = static_cast<InteropHandle>(vorn_os::borrowedHandle(repositoryObject, repositoryPart));
  }
  return own;
}

void serveHostProcedure(svc_req* rqstp, SVCXPRT* transp, const std::string& principalKey) {
  using namespace qovix::protocol;
  InteropHandle handle = 0;
  switch (rqstp->rq_proc) {
    case kHostNull:
      svc_sendreply(transp, toXdrProc(&voidFilter), nullptr);
      return;
    case kHostRepository: {
      InteropHandle own = repositoryHandleFor(principalKey);
      if (own == 0) {
        svcerr_systemerr(transp);  // no handle to be had: no other's is answered
        return;
      }
      reply(transp, &X_InteropHandle, &own);
      return;
    }
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
      // Scoped, a principal counts only its own.
      udt_integer count = handlesScoped
                              ? static_cast<udt_integer>(vorn_os::handleCountOfCaller())
                              : host_services::handleCount();
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
  Principal principal;
  std::string key;
  if (!principalFor(transp, principal, key)) return;
  const CallInProgress inProgress(key);
  // Anyone may ask whether the server is there; the rest needs read
  // access. Releasing writes only the caller's own handles (scoped, it
  // reaches no other's), never the repository, so a reader may release what
  // it read: else every reader would pile up handles until it left.
  const Access access = accessPolicy.of(principal.name);
  if (rqstp->rq_proc != qovix::protocol::kHostNull && access == Access::None) {
    svcerr_auth(transp, AUTH_TOOWEAK);
    return;
  }
  answeringExceptions(
      transp, [&] { serveHostProcedure(rqstp, transp, key); },
      [&] { return "host procedure " + std::to_string(rqstp->rq_proc); });
}
