// The library and the host's dispatch with failures on demand: every
// allocation in turn fails, and every operation of the repository's store
// (in memory, and in a repository file) in turn throws, during calls of
// every routine family and host service. Every call must still be answered
// exactly once (with its result, or the system error when an exception
// passed), nothing a failed call made may stay registered or in the store,
// and a routine's slot must keep what it held: a later call that names no
// object repeats the last result. Under AddressSanitizer the leak check at
// exit proves that nothing leaked on any of these paths.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "client/procedure_listing.h"
#include "qovix_protocol.h"
#include "dispatch/entry_point.h"
#include "host/borrowed_transport.h"
#include "host/program_dispatch.h"
#include "host/serving_context.h"
#include "model_values.h"
#include "model/vorn_os/handle_registry.h"
#include "model/wkm_srv/VORN.h"
#include "store/sqlite_store.h"
#include "tests/failure/fault_injection.h"
#include "tests/support/reply_values.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/test_transport.h"
#include "tests/support/wire_bytes.h"

namespace {

using namespace qovix::protocol;

// One call as qovixd makes it.
struct Case {
  std::string name;
  std::uint32_t program = kModelProgram;
  std::uint32_t version = 0;
  std::uint32_t procedure = 0;
  Bytes arguments;
  Bytes namingNothing;       // the same call naming no object; empty: none
  bool makesHandle = false;  // a success registers what it answers
};

// The test transport's replies are the test's own work: no fault fires in
// them.
const TransportOperations* transportOperations = nullptr;
bool_t replyUnfailing(SVCXPRT* xprt, rpc_msg* message) {
  // As qovixd's transports do; the commit may fail.
  callSiteOf(xprt).serving()->settleBeforeReply(message);
  const faults::Suspended quiet;
  return transportOperations->xp_reply(xprt, message);
}

// The store behind the repository: in memory, or a repository file.
std::unique_ptr<PersistentStore> storeOfKind(bool inFile, const TemporaryFolder& folder) {
  return inFile ? openSqliteStore(folder.path() / "failures.sqlite3") : makeMemoryStore();
}

class FailurePaths : public ::testing::TestWithParam<bool> {
 protected:
  FailurePaths() {
    transportOperations = transport_.xprt()->xp_ops;
    operations_ = *transportOperations;
    operations_.xp_reply = &replyUnfailing;
    transport_.xprt()->xp_ops = &operations_;
    transport_.serveBy(&serving_);
    faultedCalls = systemErrors = 0;
  }
  ~FailurePaths() override { deleteHandle(repository_); }

  std::vector<Reply> dispatch(const Case& call, const Bytes& arguments, faults::Kind kind,
                              std::size_t nth) {
    transport_.clear();
    transport_.setArguments(arguments);
    svc_req request{};
    request.rq_prog = call.program;
    request.rq_vers = call.version;
    request.rq_proc = call.procedure;
    request.rq_xprt = transport_.xprt();
    if (nth > 0) faults::arm(kind, nth);
    if (call.program == kModelProgram) dispatchModelProgram(&request, transport_.xprt());
    if (call.program == kCastProgram) dispatchCastProgram(&request, transport_.xprt());
    if (call.program == kHostProgram) dispatchHostProgram(&request, transport_.xprt());
    fired_ = faults::disarm();
    return transport_.replies();
  }

  Reply succeed(const Case& call, const Bytes& arguments) {
    const auto replies = dispatch(call, arguments, faults::Kind::Allocation, 0);
    EXPECT_EQ(replies.size(), 1u) << call.name;
    EXPECT_TRUE(!replies.empty() && replies[0].status == ReplyStatus::Success) << call.name;
    return replies.empty() ? Reply{ReplyStatus::Other, {}} : replies[0];
  }

  static Case model(const std::string& label, Bytes arguments, Bytes namingNothing = {},
                    bool makesHandle = false) {
    const ProcedureListing* procedure = findProcedureByLabel(label);
    EXPECT_NE(procedure, nullptr) << label;
    return {label,
            kModelProgram,
            procedure != nullptr ? procedure->classNumber : 0,
            procedure != nullptr ? procedure->number : 0,
            std::move(arguments),
            std::move(namingNothing),
            makesHandle};
  }

  // Fails the 1st, 2nd, ... allocation or store operation of `call` until a
  // call runs to its end without meeting the failure.
  void sweep(const Case& call, faults::Kind kind) {
    Bytes last = succeed(call, call.arguments).body;
    releaseIfNew(call, last, {});
    for (std::size_t nth = 1;; ++nth) {
      ASSERT_LT(nth, 10000u) << call.name << " never completed";
      const std::int32_t handlesBefore = static_cast<std::int32_t>(vorn_os::handleCount());
      const std::size_t objectsBefore = repositoryObject_.store().objectCount();
      const auto replies = dispatch(call, call.arguments, kind, nth);
      if (!fired_) break;
      ++faultedCalls;
      ASSERT_EQ(replies.size(), 1u) << call.name << ", failure " << nth << ": answered once";
      const Reply& reply = replies[0];
      ASSERT_TRUE(reply.status == ReplyStatus::Success || reply.status == ReplyStatus::SystemError)
          << call.name << ", failure " << nth << ": " << toString(reply.status);
      if (reply.status == ReplyStatus::SystemError) {
        ++systemErrors;
        EXPECT_EQ(repositoryObject_.store().objectCount(), objectsBefore)
            << call.name << ", failure " << nth << ": a failed call left an object behind";
      }
      if (reply.status == ReplyStatus::Success) {
        releaseIfNew(call, reply.body, last);
        last = reply.body;
      }
      EXPECT_EQ(static_cast<std::int32_t>(vorn_os::handleCount()), handlesBefore)
          << call.name << ", failure " << nth << ": a failed call left a handle registered";
      if (!call.namingNothing.empty()) {
        // A call that made a handle and then could not keep its changes
        // (the commit failed) had its handle released: its slot then holds
        // that handle, which names nothing any more.
        const Bytes repeated = succeed(call, call.namingNothing).body;
        const bool released = call.makesHandle && reply.status == ReplyStatus::SystemError &&
                              okHandle(handleOf(Reply{ReplyStatus::Success, repeated})) == 0;
        EXPECT_TRUE(repeated == last || released)
            << call.name << ", failure " << nth << ": the slot did not keep what it held";
      }
    }
  }

  void sweepBoth(const Case& call) {
    sweep(call, faults::Kind::Allocation);
    sweep(call, faults::Kind::StoreOperation);
  }

  static int faultedCalls;
  static int systemErrors;

  TestTransport transport_;
  TransportOperations operations_{};
  TemporaryFolder folder_;
  VORN repositoryObject_{"failures", makeFaultyStore(storeOfKind(GetParam(), folder_))};
  InteropHandle repository_ = static_cast<InteropHandle>(
      getHandle(&repositoryObject_, static_cast<VornObject*>(&repositoryObject_), nullptr));
  ServingContext serving_{&QOVIX_server_1, repository_, &repositoryObject_.store()};
  bool fired_ = false;

 private:
  // A handle the call registered is released, so the count stays level.
  void releaseIfNew(const Case& call, const Bytes& body, const Bytes& before) {
    if (!call.makesHandle || body == before) return;
    const InteropHandle handle = handleOf(Reply{ReplyStatus::Success, body});
    if (handle != 0) vorn_os::releaseHandle(handle);
  }
};
int FailurePaths::faultedCalls = 0;
int FailurePaths::systemErrors = 0;

constexpr std::uint32_t kModelElementClass = 3;

// A delete that meets a failure anywhere (an allocation, any store
// operation, the commit) leaves the repository and every handle as they
// were; once it runs to its end, the element and the tagged value that
// needs it are gone, and so are their handles.
TEST_P(FailurePaths, ADeleteThatFailsHalfwayLeavesEverythingAsItWas) {
  for (const faults::Kind kind : {faults::Kind::Allocation, faults::Kind::StoreOperation}) {
    const InteropHandle owner =
        handleOf(succeed(model("QOVIXModelElement_create_1", {}), words({repository_})));
    const InteropHandle tagged =
        handleOf(succeed(model("QOVIXTaggedValue_create_1", {}), words({repository_})));
    succeed(model("QOVIXModelElement_add_taggedValue_0", {}), words({owner, tagged}));
    const Case remove{"host delete", kHostProgram, kHostVersion, kHostDelete, words({owner}), {},
                      false};
    const std::size_t objects = repositoryObject_.store().objectCount();
    for (std::size_t nth = 1;; ++nth) {
      ASSERT_LT(nth, 10000u) << "the delete never completed";
      const auto replies = dispatch(remove, remove.arguments, kind, nth);
      ASSERT_EQ(replies.size(), 1u);
      if (replies[0].status == ReplyStatus::Success) {
        EXPECT_EQ(integerOf(replies[0]), 2) << "failure " << nth;
        break;
      }
      ASSERT_EQ(replies[0].status, ReplyStatus::SystemError) << "failure " << nth;
      EXPECT_EQ(repositoryObject_.store().objectCount(), objects) << "failure " << nth;
      EXPECT_NE(okHandle(owner), 0) << "failure " << nth << ": a handle was dropped";
      EXPECT_NE(okHandle(tagged), 0) << "failure " << nth << ": a handle was dropped";
      EXPECT_EQ(integerOf(succeed(model("QOVIXModelElement_size_taggedValue_0", {}),
                                  words({owner}))),
                1)
          << "failure " << nth;
    }
    EXPECT_EQ(repositoryObject_.store().objectCount(), objects - 2);
    EXPECT_EQ(okHandle(owner), 0);
    EXPECT_EQ(okHandle(tagged), 0);
  }
}

TEST_P(FailurePaths, EveryFamilyAndHostServiceAnswersAndKeepsItsSlot) {
  const auto text = [](ValueClassId valueClass, std::u16string_view value) {
    return textValue(valueClass, value);
  };
  const InteropHandle tagged =
      handleOf(succeed(model("QOVIXTaggedValue_create_1", {}), words({repository_})));
  const InteropHandle owner =
      handleOf(succeed(model("QOVIXModelElement_create_1", {}), words({repository_})));
  succeed(model("QOVIXModelElement_QOVIXModelElementset_name_0", {}),
          words({owner}) + text(QOVIXName::kValueClassId, u"owner"));
  succeed(model("QOVIXTaggedValue_set_tag_0", {}),
          words({tagged}) + text(QOVIXName::kValueClassId, u"author"));
  succeed(model("QOVIXModelElement_add_taggedValue_0", {}), words({owner, tagged}));
  const InteropHandle members =
      handleOf(succeed(model("QOVIXModelElement_get_taggedValue_0", {}), words({owner})));

  const std::vector<Case> cases = {
      model("QOVIXTaggedValue_create_1", words({repository_}), words({0}), true),
      model("QOVIXTaggedValue_create_2", words({tagged, 1}), words({0, 1}), true),
      model("QOVIXTaggedValue_set_tag_0",
            words({tagged}) + text(QOVIXName::kValueClassId, u"author")),
      model("QOVIXTaggedValue_get_tag_0", words({tagged}), words({0})),
      model("QOVIXTaggedValue_set_modelElement_0", words({tagged, owner})),
      model("QOVIXTaggedValue_get_modelElement_0", words({tagged}), words({0}), true),
      model("QOVIXTaggedValue_QOVIXTaggedValueconstruct_0",
            words({tagged}) + text(QOVIXName::kValueClassId, u"author") +
                text(QOVIXUninterpreted::kValueClassId, u"ada") + words({owner})),
      model("QOVIXTaggedValue_QOVIXTaggedValuelabel_0", words({tagged})),
      model("QOVIXTaggedValue_duplicate_0",
            words({tagged}) + numberValue(VornReferenceProcessing::kValueClassId, 1),
            words({0}) + numberValue(VornReferenceProcessing::kValueClassId, 1), true),
      model("QOVIXTaggedValue__find__1",
            words({repository_}) + text(VornString::kValueClassId, u"tag") +
                text(VornString::kValueClassId, u"author") + words({0}),
            words({0}) + text(VornString::kValueClassId, u"tag") +
                text(VornString::kValueClassId, u"author") + words({0}),
            true),
      model("QOVIXModelElement_find_myName_0",
            words({repository_}) + text(QOVIXName::kValueClassId, u"owner"),
            words({0}) + text(QOVIXName::kValueClassId, u"owner"), true),
      model("QOVIXTaggedValue_className_0", {}),
      model("QOVIXModelElement_add_taggedValue_0", words({owner, tagged})),
      model("QOVIXModelElement_get_taggedValue_0", words({owner}), words({0}), true),
      model("QOVIXModelElement_get_taggedValue_1", words({owner, 0}), words({0, 0}), true),
      model("QOVIXModelElement_size_taggedValue_0", words({owner}), words({0})),
      model("QOVIXModelElement_contains_taggedValue_0", words({owner, tagged}), words({0, 0})),
      {"cast to ModelElement", kCastProgram, kModelElementClass, kCastProcedure, words({owner, 1}),
       words({0, 1}), true},
      {"host element", kHostProgram, kHostVersion, kHostElement, words({members, 0}), words({0, 0}),
       true},
      {"host size", kHostProgram, kHostVersion, kHostSize, words({members}), {}, false},
      {"host class name", kHostProgram, kHostVersion, kHostClassName, words({tagged}), {}, false},
      {"host identity", kHostProgram, kHostVersion, kHostIdentity, words({tagged}), {}, false},
  };
  for (const Case& call : cases) sweepBoth(call);

  // What the calls wrote is there, whole.
  EXPECT_EQ(valueOf(succeed(model("QOVIXTaggedValue_get_tag_0", {}), words({tagged}))).text,
            u"author");
  EXPECT_EQ(integerOf(succeed(model("QOVIXModelElement_size_taggedValue_0", {}), words({owner}))),
            1);
  for (InteropHandle handle : {members, owner, tagged}) vorn_os::releaseHandle(handle);
  std::printf(
      "[ failures ] %d calls met an injected failure: %d answered with the system error, "
      "the rest with their result or the slot's previous content\n",
      faultedCalls, systemErrors);
  EXPECT_GT(faultedCalls, 100);
}

INSTANTIATE_TEST_SUITE_P(EveryStore, FailurePaths, ::testing::Bool(),
                         [](const auto& each) { return each.param ? "file" : "memory"; });

// Replies settled as a TCP connection settles them: held for the round's
// commit; and what a test does just before (arm a fault, say).
std::function<void()> beforeSettling;
bool_t replySettled(SVCXPRT* xprt, rpc_msg* message) {
  if (beforeSettling) std::exchange(beforeSettling, nullptr)();
  callSiteOf(xprt).serving()->settleBeforeReply(message, true);
  const faults::Suspended quiet;
  return transportOperations->xp_reply(xprt, message);
}

// A repository on `store`, served through the test transport as a TCP
// connection's calls are.
class Served {
 public:
  explicit Served(std::unique_ptr<PersistentStore> store)
      : repository_("served", std::move(store)),
        handle_(static_cast<InteropHandle>(
            getHandle(&repository_, static_cast<VornObject*>(&repository_), nullptr))),
        serving_(&QOVIX_server_1, handle_, &repository_.store()) {
    transportOperations = transport_.xprt()->xp_ops;
    operations_ = *transportOperations;
    operations_.xp_reply = &replySettled;
    transport_.xprt()->xp_ops = &operations_;
    transport_.serveBy(&serving_);
  }
  ~Served() { deleteHandle(handle_); }

  PersistentStore& store() { return repository_.store(); }
  ServingContext& serving() { return serving_; }
  InteropHandle handle() const { return handle_; }

  Reply call(const char* label, const Bytes& arguments) {
    const ProcedureListing* procedure = findProcedureByLabel(label);
    transport_.clear();
    transport_.setArguments(arguments);
    svc_req request{};
    request.rq_prog = kModelProgram;
    request.rq_vers = procedure->classNumber;
    request.rq_proc = procedure->number;
    request.rq_xprt = transport_.xprt();
    dispatchModelProgram(&request, transport_.xprt());
    EXPECT_EQ(transport_.replies().size(), 1u) << label;
    return transport_.replies().at(0);
  }

  Reply hostCall(std::uint32_t procedure) {
    transport_.clear();
    transport_.setArguments({});
    svc_req request{};
    request.rq_prog = kHostProgram;
    request.rq_vers = kHostVersion;
    request.rq_proc = procedure;
    request.rq_xprt = transport_.xprt();
    dispatchHostProgram(&request, transport_.xprt());
    EXPECT_EQ(transport_.replies().size(), 1u) << "host procedure " << procedure;
    return transport_.replies().at(0);
  }

 private:
  VORN repository_;
  InteropHandle handle_;
  ServingContext serving_;
  TestTransport transport_;
  TransportOperations operations_{};
};

// The calls of a round are committed together: when that commit fails,
// every held call is undone and its handles released; a later round is
// kept, with a row of the log for each call.
TEST(GroupCommit, AFailedRoundUndoesEveryHeldCallAndALaterRoundIsKept) {
  Served served(makeMemoryStore());
  PersistentStore& store = served.store();
  ServingContext& serving = served.serving();
  const std::size_t handlesBefore = vorn_os::handleCount();

  serving.openRound();
  const InteropHandle undone =
      handleOf(served.call("QOVIXTaggedValue_create_1", words({served.handle()})));
  served.call("QOVIXTaggedValue_set_tag_0", words({undone}) + textValue(1, u"undone"));
  EXPECT_EQ(store.lastCommit(), 0u) << "held, not committed";
  faults::arm(faults::Kind::Allocation, 1);
  EXPECT_FALSE(serving.closeRound());
  EXPECT_TRUE(faults::disarm());
  EXPECT_EQ(store.objectCount(), 0u);
  EXPECT_EQ(okHandle(undone), 0) << "the undone call's handle went with it";
  EXPECT_EQ(vorn_os::handleCount(), handlesBefore);

  serving.openRound();
  const InteropHandle kept =
      handleOf(served.call("QOVIXTaggedValue_create_1", words({served.handle()})));
  served.call("QOVIXTaggedValue_set_tag_0", words({kept}) + textValue(1, u"kept"));
  EXPECT_TRUE(serving.closeRound());
  EXPECT_EQ(store.lastCommit(), 2u) << "one row for each call";
  EXPECT_EQ(store.objectCount(), 1u);
  EXPECT_NE(okHandle(kept), 0);
  vorn_os::releaseHandle(kept);
}

// What anyone may call (the null call, the caller's access) reads no
// repository: it answers with every store operation failing, where a
// call that reads one is refused.
TEST(HostCalls, ThoseOpenToAnyoneLeaveTheStoreAlone) {
  Served served(makeFaultyStore(makeMemoryStore()));
  testing::internal::CaptureStderr();
  faults::arm(faults::Kind::StoreOperation, 1);
  EXPECT_EQ(served.hostCall(kHostNull).status, ReplyStatus::Success);
  EXPECT_EQ(served.hostCall(kHostAccess).status, ReplyStatus::Success);
  EXPECT_EQ(served.hostCall(kHostRepository).status, ReplyStatus::SystemError);
  EXPECT_TRUE(faults::disarm()) << "the repository's call met the fault";
  testing::internal::GetCapturedStderr();
}

// What qovixd says when a call cannot begin, when what was to follow a
// kept call fails, and when a call cannot be held for its round: each says
// so in the log, answers as it must, and keeps or undoes the call whole.
TEST(HostMessages, SayWhatFailedAndAnswerAsTheyMust) {
  Served served(makeFaultyStore(makeMemoryStore()));
  testing::internal::CaptureStderr();
  faults::arm(faults::Kind::StoreOperation, 1);  // beginning the call
  const Reply refused = served.call("QOVIXTaggedValue_create_1", words({served.handle()}));
  EXPECT_TRUE(faults::disarm());
  EXPECT_EQ(refused.status, ReplyStatus::SystemError);
  EXPECT_EQ(served.store().objectCount(), 0u);

  served.serving().afterCommit([] { throw std::runtime_error("no notice could be sent"); });
  const Reply kept = served.call("QOVIXTaggedValue_create_1", words({served.handle()}));
  EXPECT_EQ(kept.status, ReplyStatus::Success) << "kept, whatever followed";
  EXPECT_EQ(served.store().objectCount(), 1u);

  vorn_os::releaseHandle(handleOf(kept));

  // A store that holds calls for its round (the faulty one commits each).
  Served holding(makeMemoryStore());
  holding.serving().openRound();
  beforeSettling = [] { faults::arm(faults::Kind::Allocation, 1); };
  const Reply unheld = holding.call("QOVIXTaggedValue_create_1", words({holding.handle()}));
  EXPECT_TRUE(faults::disarm());
  EXPECT_TRUE(holding.serving().closeRound());
  EXPECT_EQ(unheld.status, ReplyStatus::SystemError);
  EXPECT_EQ(holding.store().objectCount(), 0u) << "the call that could not be held is undone";
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("qovixd: a call could not begin: "), std::string::npos) << said;
  EXPECT_NE(said.find("qovixd: after a call's changes were kept: no notice could be sent"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("qovixd: a call's changes could not be held for the round's commit: "),
            std::string::npos)
      << said;
}

}  // namespace
