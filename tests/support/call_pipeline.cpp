#include "tests/support/call_pipeline.h"

#include <chrono>
#include <stdexcept>
#include <string>

#include "client/procedure_listing.h"
#include "qovix_protocol.h"

namespace {

std::uint32_t wordAt(const Bytes& bytes, std::size_t index) {
  const std::size_t at = index * 4;
  if (bytes.size() < at + 4) throw std::runtime_error("a reply too short");
  return static_cast<std::uint32_t>(bytes[at]) << 24 |
         static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

}  // namespace

PipelinedCall modelCall(const char* label, Bytes arguments) {
  const ProcedureListing* found = findProcedureByLabel(label);
  if (found == nullptr) throw std::runtime_error(std::string("no procedure ") + label);
  return {qovix::protocol::kModelProgram, found->classNumber, found->number, std::move(arguments)};
}

CallPipeline::CallPipeline(std::uint16_t port) : connection_(port) {
  if (!connection_.connected()) throw std::runtime_error("cannot connect");
}

std::vector<PipelinedReply> CallPipeline::send(const std::vector<PipelinedCall>& calls) {
  Bytes window;
  const std::uint32_t first = xid_;
  for (const PipelinedCall& call : calls) {
    window = window + recordMarked(callMessage(xid_++, call.program, call.version, call.procedure,
                                               call.arguments));
  }
  if (!connection_.send(window)) throw std::runtime_error("the server took no calls");
  std::vector<PipelinedReply> replies(calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const auto reply = connection_.receiveRecord(std::chrono::seconds(60));
    if (!reply) throw std::runtime_error("no reply");
    // xid, REPLY, MSG_ACCEPTED, null verifier (two words), status, results
    const std::size_t index = wordAt(*reply, 0) - first;
    if (index >= replies.size() || wordAt(*reply, 2) != 0) {
      throw std::runtime_error("a reply to no call sent, or a call refused");
    }
    replies[index].status = wordAt(*reply, 5);
    if (reply->size() >= 28) replies[index].result = wordAt(*reply, 6);
  }
  return replies;
}
