#include "host/serving_context.h"

#include <chrono>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "dispatch/model_call.h"
#include "host/freed_memory.h"
#include "host/host_call.h"
#include "host/host_procedures.h"
#include "host/procedure_access.h"
#include "model/vorn_os/handle_registry.h"
#include "model/wkm_srv/VORN.h"
#include "store/persistent_store.h"
#include "store/store_at_commit.h"
#include "xdr/argument_records.h"
#include "xdr/primitive_filters.h"
#include "xdr/xdr_filter.h"

// The changes and handles of one call: registered for its principal, and
// undone (and released) when the call ends without a reply that kept them,
// however it ends.
class CallInProgress {
 public:
  CallInProgress(ServingContext& serving, const std::string& principalKey) : serving_(serving) {
    vorn_os::setCaller(principalKey);  // cannot throw: a caller not noted is nobody
    vorn_os::startCall();
  }
  ~CallInProgress() {
    try {
      serving_.undoCall();
    } catch (...) {
      // no memory to release with: the handles stay, naming nothing the store has
    }
    vorn_os::endCall();
    vorn_os::setCaller({});
    serving_.storeUntouched_ = false;  // a call that sent no reply settles nothing
  }
  CallInProgress(const CallInProgress&) = delete;
  CallInProgress& operator=(const CallInProgress&) = delete;

 private:
  ServingContext& serving_;
};

namespace {

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

// Runs `serve`; an exception that escapes it is logged (with `where`) and
// answered with the system-error reply, so every call gets one.
template <class Serve, class Where>
void answeringExceptions(CallLog& log, SVCXPRT* transp, Serve serve, Where where) {
  try {
    serve();
    return;
  } catch (const std::exception& error) {
    log.say(where() + ": " + error.what());
  } catch (...) {
    log.say(where() + ": not a std::exception");
  }
  svcerr_systemerr(transp);
}

// A call that ran this long may have used much memory for a while (a
// document, a copy, a walk of a large package): what it freed goes back to
// the system, not only to the heap, so the server's resident memory returns
// to what it was. Quick calls use little, and skip the trim's cost.
constexpr std::chrono::milliseconds kLongCall{50};

void giveBackMemoryAfter(std::chrono::steady_clock::time_point started) {
  if (std::chrono::steady_clock::now() - started >= kLongCall) giveBackFreedMemory();
}

}  // namespace

void ServingContext::forgetPastReads() {
  for (auto& [commit, past] : pastRepositories_) past.store->forget();
}

ServingContext::ServingContext(QovixServerEntry entry, unsigned long repository,
                               PersistentStore* store, AccessPolicy policy, bool scopeHandles)
    : entry_(entry),
      repositoryHandle_(static_cast<InteropHandle>(repository)),
      store_(store),
      accessPolicy_(std::move(policy)),
      handlesScoped_(scopeHandles),
      repositoryObject_(repository != 0 ? getObject(repository, 0) : nullptr),
      repositoryPart_(repository != 0 ? vorn_os::objectPart(repository) : nullptr) {
  vorn_os::setScoped(scopeHandles);
}

ServingContext::~ServingContext() { vorn_os::setScoped(false); }

void ServingContext::undoCall() {
  afterCommit_.clear();
  if (store_ != nullptr) store_->rollback();
  vorn_os::releaseMadeThisCall();
}

// Whether the principal may make this model or cast call: its access
// allows the procedure, and (scoped) every handle it names is its own. A
// handle of another principal, or none at all, would make the routine
// answer its previous result, which may be another principal's.
bool ServingContext::permitted(SVCXPRT* transp, const Caller& caller, std::int32_t templateId,
                               const procedure_access::Row* row) const {
  const Access access = accessPolicy_.of(caller.principal.name);
  if (access == Access::None) return false;
  const char* fields = "HI";  // a cast: any handle of the caller's, and the check
  if (templateId != kCastTemplateId) {
    if (row == nullptr) return true;  // the library answers that it has no such procedure
    if (row->writes && access != Access::Write) return false;
    fields = row->fields;
  }
  if (!handlesScoped_) return true;
  HandlePeek peek{fields};
  transp->xp_ops->xp_getargs(transp, toXdrProc(&peekHandles), &peek);
  return peek.allOwn;
}

void ServingContext::callLibrary(svc_req* rqstp, SVCXPRT* transp, const Caller& caller,
                                 std::int32_t templateId) {
  // The class number is the version the client called.
  ModelCall call{rqstp->rq_prog, rqstp->rq_vers, rqstp->rq_vers, templateId};
  if (entry_ == nullptr) {
    svcerr_systemerr(transp);
    return;
  }
  const CallInProgress inProgress(*this, caller.key);
  const procedure_access::Row* row = templateId != kCastTemplateId
                                         ? procedure_access::find(rqstp->rq_vers, rqstp->rq_proc)
                                         : nullptr;
  if (!permitted(transp, caller, templateId, row)) {
    svcerr_auth(transp, AUTH_TOOWEAK);
    return;
  }
  const bool writes = row != nullptr && row->writes;
  if (!beginTransaction(transp, caller, writes)) return;
  const auto started = std::chrono::steady_clock::now();
  answeringExceptions(
      log_, transp, [&] { entry_(rqstp, transp, &call); },
      [&] {
        return "class " + std::to_string(call.classNumber) + " procedure " +
               std::to_string(rqstp->rq_proc) +
               (call.templateId == kCastTemplateId ? " (cast)" : "") +
               ": exception from the library";
      });
  forgetPastReads();
  giveBackMemoryAfter(started);
}

void ServingContext::serveModel(svc_req* rqstp, SVCXPRT* transp, const Caller& caller) {
  callLibrary(rqstp, transp, caller, 0);
}

void ServingContext::serveCast(svc_req* rqstp, SVCXPRT* transp, const Caller& caller) {
  callLibrary(rqstp, transp, caller, kCastTemplateId);
}

// Host services allocate (new handles, class names), so they too can fail.
void ServingContext::serveHost(svc_req* rqstp, SVCXPRT* transp, const Caller& caller) {
  const host_procedures::Row* row = host_procedures::find(rqstp->rq_proc);
  const CallInProgress inProgress(*this, caller.key);
  // A number the program does not serve is answered so to readers alone.
  if (accessPolicy_.of(caller.principal.name) < (row != nullptr ? row->access : Access::Read)) {
    svcerr_auth(transp, AUTH_TOOWEAK);
    return;
  }
  if (row == nullptr) {
    svcerr_noproc(transp);
    return;
  }
  // What anyone may call (null, access, act_for) reads no repository: the
  // store is left alone, unless calls held for a commit keep a transaction
  // open that this call's reply must follow.
  storeUntouched_ = row->access == Access::None && heldCalls_ == 0;
  if (!storeUntouched_ && !beginTransaction(transp, caller, row->access == Access::Write)) return;
  HostCall call(transp, *this, caller.principal, caller.key);
  answeringExceptions(
      log_, transp, [&] { row->serve(call); },
      [&] { return std::string("host procedure ").append(row->name); });
  forgetPastReads();
}

InteropHandle ServingContext::repositoryAt(std::uint64_t commit, FeatureId searchedName) {
  if (store_ == nullptr) throw StoreError("this server keeps no repository store");
  PastRepository& past = pastRepositories_[commit];
  if (past.repository == nullptr) {
    try {
      past.store = std::make_unique<StoreAtCommit>(*store_, commit, searchedName);
      past.repository =
          std::make_unique<VORN>("repository at commit " + std::to_string(commit), *past.store);
    } catch (...) {
      pastRepositories_.erase(commit);
      throw;
    }
  } else {
    past.store->checkReadable();  // the history kept may have shrunk since
  }
  return static_cast<InteropHandle>(vorn_os::borrowedHandle(
      past.repository.get(), static_cast<VornObject*>(past.repository.get())));
}

InteropHandle ServingContext::repositoryHandleFor(const std::string& principalKey) {
  if (!handlesScoped_) return repositoryHandle_;
  InteropHandle& own = repositoryHandles_[principalKey];
  if (own == 0 || okHandle(own) == 0) {
    own = static_cast<InteropHandle>(vorn_os::borrowedHandle(repositoryObject_, repositoryPart_));
  }
  return own;
}

bool ServingContext::beginTransaction(SVCXPRT* transp, const Caller& caller, bool writes) {
  if (store_ == nullptr) return true;
  try {
    store_->beginCall({caller.principal.name, writes});
    return true;
  } catch (const std::exception& error) {
    log_.say(std::string("a call could not begin: ") + error.what());
    svcerr_systemerr(transp);
    return false;
  }
}

void ServingContext::runAfterCommit(std::vector<std::function<void()>>& then) {
  std::vector<std::function<void()>> running = std::move(then);
  then.clear();
  for (const auto& each : running) {
    try {
      each();
    } catch (const std::exception& error) {
      // kept already: only what was to follow it is lost
      log_.say(std::string("after a call's changes were kept: ") + error.what());
    }
  }
}

void ServingContext::settleHeld(bool kept) {
  vorn_os::settleHeldCalls(kept);
  if (kept) {
    runAfterCommit(heldAfterCommit_);
  } else {
    heldAfterCommit_.clear();
    heldUndone_ = heldUndone_ || heldCalls_ > 0;
  }
  heldCalls_ = 0;
}

bool ServingContext::commitNow() {
  try {
    store_->commit();
  } catch (const std::exception& error) {
    log_.say(std::string(heldCalls_ > 0 ? "calls' changes were not kept: "
                                        : "a call's changes were not kept: ") +
             error.what());
    undoCall();
    settleHeld(false);
    return false;
  }
  vorn_os::endCall();  // what it registered stays
  runAfterCommit(afterCommit_);
  settleHeld(true);
  return true;
}

void ServingContext::openRound() {
  roundOpen_ = store_ != nullptr;
  heldUndone_ = false;
}

bool ServingContext::closeRound() {
  roundOpen_ = false;
  if (heldCalls_ > 0 && !commitNow()) return false;
  const bool kept = !heldUndone_;
  heldUndone_ = false;
  return kept;
}

ServingContext::Settlement ServingContext::settleBeforeReply(rpc_msg* reply, bool mayHold) {
  const bool refused = std::exchange(undoWhenReplying_, false);
  if (store_ == nullptr || std::exchange(storeUntouched_, false)) return Settlement::Settled;
  // Asked before the call is undone: a store that others change too holds
  // a call only within the transaction held calls keep open.
  const bool storeHolds = store_->holdsCommits();
  const bool roundGoesOn = mayHold && roundOpen_;
  mayHold = roundGoesOn && storeHolds;
  const bool succeeded =
      reply->rm_reply.rp_stat == MSG_ACCEPTED && reply->acpted_rply.ar_stat == SUCCESS && !refused;
  if (!succeeded) {
    undoCall();
    // An answer may have read what held calls changed: it waits for them,
    // or they are committed before it leaves. A refusal read nothing.
    if (heldCalls_ == 0 || reply->rm_reply.rp_stat != MSG_ACCEPTED) return Settlement::Settled;
    if (mayHold) return Settlement::Held;
    roundOpen_ = false;
    if (commitNow()) return Settlement::Settled;
    reply->acpted_rply.ar_stat = SYSTEM_ERR;
    return Settlement::Failed;
  }
  if (mayHold && heldCalls_ < kMostHeldCalls) {
    try {
      heldAfterCommit_.reserve(heldAfterCommit_.size() + afterCommit_.size());
      vorn_os::holdMadeThisCall();
      store_->commitLater();
    } catch (const std::exception& error) {
      log_.say(std::string("a call's changes could not be held for the round's commit: ") +
               error.what());
      reply->acpted_rply.ar_stat = SYSTEM_ERR;
      undoCall();
      return Settlement::Failed;
    }
    ++heldCalls_;
    vorn_os::endCall();  // what it registered stays, unless the commit fails
    for (auto& each : afterCommit_) heldAfterCommit_.push_back(std::move(each));
    afterCommit_.clear();
    return Settlement::Held;
  }
  // A call the store cannot hold (on shared rows, a reading one before any
  // writing one) commits alone, and the round goes on. Else the held calls
  // are committed with it, and the rest of the round commits call by call.
  if (!(roundGoesOn && !storeHolds && heldCalls_ == 0)) roundOpen_ = false;
  if (commitNow()) return Settlement::Settled;
  reply->acpted_rply.ar_stat = SYSTEM_ERR;
  return Settlement::Failed;
}
