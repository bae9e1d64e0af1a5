#pragma once

// A client that pipelines: it sends a window of calls over one TCP
// connection at once, without waiting for each reply, then reads every
// reply, as a tool that imports or generates a model does.
//
//   CallPipeline pipeline(server.port());
//   auto made = pipeline.send({modelCall("QOVIXTaggedValue_create_1", words({repository}))});

#include <cstdint>
#include <vector>

#include "tests/support/raw_connection.h"
#include "tests/support/wire_bytes.h"

struct PipelinedCall {
  std::uint32_t program, version, procedure;
  Bytes arguments;
};

// A model procedure by label, with its argument bytes.
PipelinedCall modelCall(const char* label, Bytes arguments);

// What a reply said: its accept status (0 success) and its first result
// word (0 when it has none).
struct PipelinedReply {
  std::uint32_t status = 0;
  std::uint32_t result = 0;
};

class CallPipeline {
 public:
  // Throws std::runtime_error when it cannot connect.
  explicit CallPipeline(std::uint16_t port);

  // Sends the calls in one write, and reads their replies, in the order of
  // the calls. Throws std::runtime_error when a reply does not come, or
  // answers no call sent.
  std::vector<PipelinedReply> send(const std::vector<PipelinedCall>& calls);

 private:
  RawConnection connection_;
  std::uint32_t xid_ = 1;
};
