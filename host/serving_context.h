#pragma once

// What qovixd serves and how: the library entry the model and cast programs
// call, the repository's handle and its store, who may do what, whether
// each principal sees only its own handles, and the log of what went wrong.
// One lives while qovixd serves; the transports lead every call to it.
//
// Every call is one transaction: its changes and the handles it registered
// are undone when it ends without a reply that kept them, however it ends.

#include <rpc/rpc.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dispatch/entry_point.h"
#include "host/access_policy.h"
#include "host/call_log.h"
#include "host/principals.h"
#include "host/procedure_access.h"
#include "store/vorn_types.h"
#include "xdr/wire_types.h"

class PersistentStore;
class StoreAtCommit;
class VORN;

// Whom a call is made for, and the registry's name for it.
struct Caller {
  Principal principal;
  std::string key;
};

class ServingContext {
 public:
  // Serves `repository` (its registered handle) of `store` through `entry`
  // (null: every model call gets the system error). Without an access
  // policy in force everyone may write; with `scopeHandles` each principal
  // sees only the handles made for it, with a repository handle of its own.
  ServingContext(QovixServerEntry entry, unsigned long repository, PersistentStore* store,
                 AccessPolicy policy = {}, bool scopeHandles = false);
  ~ServingContext();
  ServingContext(const ServingContext&) = delete;
  ServingContext& operator=(const ServingContext&) = delete;

  // The three programs. A call its principal may not make, or one that
  // names a handle not its own, is refused with AUTH_TOOWEAK before the
  // library sees it.
  void serveModel(svc_req* rqstp, SVCXPRT* transp, const Caller& caller);
  void serveCast(svc_req* rqstp, SVCXPRT* transp, const Caller& caller);
  void serveHost(svc_req* rqstp, SVCXPRT* transp, const Caller& caller);

  // Settles the changes of the call being answered, once its reply is
  // encoded and before it leaves: a successful reply keeps them, any other
  // reply (one too large to send among them) undoes them.
  //  - Settled: kept (committed to the store) or undone; the reply may leave.
  //  - Held (only for a transport that `mayHold` its reply until the round
  //    ends, in a round): kept in the store's transaction, to be committed
  //    with the round's other calls; or the reply may depend on such calls.
  //    The reply leaves when closeRound says they were kept, else the
  //    system error answers instead.
  //  - Failed: they could not be kept and were undone; the reply became the
  //    system error, which the transport encodes again.
  enum class Settlement { Settled, Held, Failed };
  Settlement settleBeforeReply(rpc_msg* reply, bool mayHold = false);

  // A round of the serve loop: the calls that arrived together, from one
  // client or many. Their changes are committed together when the round
  // closes (a group commit: one write to disk for many calls, each with its
  // own row of the commit log); closeRound says whether they were kept.
  // Held calls are bounded: past kMostHeldCalls, or when a call that cannot
  // wait commits them, the rest of the round commits call by call.
  static constexpr std::size_t kMostHeldCalls = 256;
  void openRound();
  bool closeRound();

  // For the host services.
  InteropHandle repositoryHandle() const { return repositoryHandle_; }
  // The store the repository is kept in; null for none.
  PersistentStore* store() const { return store_; }
  // The repository handle of the principal calling: its own when handles
  // are scoped (made when it first asks, or when it released the last), else
  // the one every client shares; 0 when none can be had.
  InteropHandle repositoryHandleFor(const std::string& principalKey);
  bool handlesScoped() const { return handlesScoped_; }
  // A new handle, for the caller, to the repository as it was at `commit`
  // (store_at_commit.h), whose store indexes the names of `searchedName`.
  // Each commit asked for is read through one repository, kept while
  // qovixd serves: the objects found through it name its store. Throws
  // StoreError for a commit that cannot be read.
  InteropHandle repositoryAt(std::uint64_t commit, FeatureId searchedName);
  const AccessPolicy& accessPolicy() const { return accessPolicy_; }
  CallLog& log() { return log_; }

  // Runs `then` once the call's changes are kept (not when they are undone):
  // what must not happen for a call that leaves nothing of itself.
  void afterCommit(std::function<void()> then) { afterCommit_.push_back(std::move(then)); }
  // The call answers a refusal as its result: what it changed is undone as
  // for a failed call, though its reply is a success that says why.
  void undoWhenReplying() { undoWhenReplying_ = true; }

 private:
  void callLibrary(svc_req* rqstp, SVCXPRT* transp, const Caller& caller, std::int32_t templateId);
  // `row` is the procedure's (null for a cast, or a procedure the library
  // does not serve).
  bool permitted(SVCXPRT* transp, const Caller& caller, std::int32_t templateId,
                 const procedure_access::Row* row) const;
  // Begins the call's transaction; when the store cannot, answers the
  // system error and false.
  bool beginTransaction(SVCXPRT* transp, const Caller& caller, bool writes);
  // Undoes what the call in progress changed and registered.
  void undoCall();
  // What the call asked for once its changes are kept; a failure is logged.
  void runAfterCommit(std::vector<std::function<void()>>& then);
  // Commits the call's changes with those held, now; false when they could
  // not be kept (all are undone then).
  bool commitNow();
  // The held calls' changes were kept, or undone.
  void settleHeld(bool kept);
  // After each call: what the repositories at a commit read is forgotten.
  void forgetPastReads();

  QovixServerEntry entry_;
  InteropHandle repositoryHandle_;
  PersistentStore* store_;
  AccessPolicy accessPolicy_;
  bool handlesScoped_;
  void* repositoryObject_;
  void* repositoryPart_;
  std::unordered_map<std::string, InteropHandle> repositoryHandles_;
  struct PastRepository {
    std::unique_ptr<StoreAtCommit> store;
    std::unique_ptr<VORN> repository;
  };
  std::map<std::uint64_t, PastRepository> pastRepositories_;  // by commit
  std::vector<std::function<void()>> afterCommit_;  // the call's, until it is settled
  bool undoWhenReplying_ = false;
  // The call in progress began no transaction: it reads and writes nothing
  // the store holds (a call open to anyone, while no calls are held).
  bool storeUntouched_ = false;
  // The round: whether calls may be held, how many are, what they asked for
  // after their commit, and whether held ones were undone (their replies
  // become the system error).
  bool roundOpen_ = false;
  std::size_t heldCalls_ = 0;
  std::vector<std::function<void()>> heldAfterCommit_;
  bool heldUndone_ = false;
  CallLog log_;

  friend class CallInProgress;
};
