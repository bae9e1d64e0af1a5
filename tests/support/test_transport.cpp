#include "tests/support/test_transport.h"

#include <utility>

#include "tests/support/wire_bytes.h"

namespace {

ReplyStatus statusOf(const rpc_msg& message) {
  if (message.rm_reply.rp_stat != MSG_ACCEPTED) return ReplyStatus::Other;
  switch (message.acpted_rply.ar_stat) {
    case SUCCESS:
      return ReplyStatus::Success;
    case PROC_UNAVAIL:
      return ReplyStatus::ProcedureUnavailable;
    case GARBAGE_ARGS:
      return ReplyStatus::GarbageArguments;
    case SYSTEM_ERR:
      return ReplyStatus::SystemError;
    default:
      return ReplyStatus::Other;
  }
}

}  // namespace

std::string toString(ReplyStatus status) {
  switch (status) {
    case ReplyStatus::Success:
      return "success";
    case ReplyStatus::ProcedureUnavailable:
      return "procedure unavailable";
    case ReplyStatus::GarbageArguments:
      return "garbage arguments";
    case ReplyStatus::SystemError:
      return "system error";
    case ReplyStatus::Other:
      break;
  }
  return "other";
}

const TestTransport::Operations TestTransport::kOps = {
    .xp_recv = nullptr,
    .xp_stat = nullptr,
    .xp_getargs = &TestTransport::getargs,
    .xp_reply = &TestTransport::reply,
    .xp_freeargs = &TestTransport::freeargs,
    .xp_destroy = nullptr,
};

TestTransport::TestTransport() {
  xprt_.xp_fd = -1;
  xprt_.xp_ops = &kOps;
  xprt_.xp_p1 = static_cast<CallSite*>(this);
}

void TestTransport::setArguments(std::vector<std::uint8_t> bytes) { arguments_ = std::move(bytes); }

void TestTransport::clear() {
  replies_.clear();
  getargsCalls_ = 0;
  freeargsCalls_ = 0;
  argumentBytesLeft_ = 0;
}

const std::vector<Reply>& TestTransport::call(QovixServerEntry entry, CallAddress address,
                                              std::vector<std::uint8_t> arguments) {
  clear();
  setArguments(std::move(arguments));
  svc_req request{};
  request.rq_proc = address.procedure;
  request.rq_xprt = &xprt_;
  ModelCall modelCall{0, 0, address.classNumber, address.templateId};
  entry(&request, &xprt_, &modelCall);
  return replies_;
}

TestTransport& TestTransport::of(SVCXPRT* xprt) {
  return static_cast<TestTransport&>(*static_cast<CallSite*>(xprt->xp_p1));
}

bool_t TestTransport::getargs(SVCXPRT* xprt, xdrproc_t filter, void* record) {
  TestTransport& self = of(xprt);
  ++self.getargsCalls_;
  XDR stream;
  // The runtime never writes through a decode stream's buffer.
  xdrmem_create(&stream, reinterpret_cast<char*>(self.arguments_.data()),
                static_cast<u_int>(self.arguments_.size()), XDR_DECODE);
  const bool_t decoded = filter(&stream, record);
  self.argumentBytesLeft_ = stream.x_handy;
  return decoded;
}

bool_t TestTransport::freeargs(SVCXPRT* xprt, xdrproc_t filter, void* record) {
  ++of(xprt).freeargsCalls_;
  XDR stream{};
  stream.x_op = XDR_FREE;
  return filter(&stream, record);
}

bool_t TestTransport::reply(SVCXPRT* xprt, rpc_msg* message) {
  TestTransport& self = of(xprt);
  if (self.repliesFail_) return FALSE;
  Reply sent{statusOf(*message), {}};
  if (sent.status == ReplyStatus::Success) {
    const accepted_reply& accepted = message->acpted_rply;
    auto body = encodeWith(accepted.ar_results.proc, accepted.ar_results.where);
    if (!body) return FALSE;
    sent.body = std::move(*body);
  }
  self.replies_.push_back(std::move(sent));
  return TRUE;
}
