#include "tests/support/remote_calls.h"

#include <gtest/gtest.h>

#include <memory>

#include "client/procedure_listing.h"
#include "qovix_protocol.h"
#include "xdr/primitive_filters.h"

namespace {

using namespace qovix::protocol;

// Takes the whole reply body, whatever it holds, so it can be decoded (and
// checked byte for byte) afterwards.
struct RawBody {
  Bytes bytes;
};

bool_t takeRawBody(XDR* xdrs, RawBody* body) {
  if (xdrs->x_op != XDR_DECODE) return TRUE;
  std::uint32_t word = 0;
  while (xdr_u_int32_t(xdrs, &word)) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      body->bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
  }
  return TRUE;
}

std::pair<std::uint32_t, std::uint32_t> addressOf(const std::string& label) {
  const ProcedureListing* found = findProcedureByLabel(label);
  if (found == nullptr) {
    ADD_FAILURE() << "no procedure " << label;
    return {0, 0};
  }
  return {found->classNumber, found->number};
}

ReplyStatus statusOf(clnt_stat status) {
  switch (status) {
    case RPC_SUCCESS:
      return ReplyStatus::Success;
    case RPC_PROCUNAVAIL:
      return ReplyStatus::ProcedureUnavailable;
    case RPC_CANTDECODEARGS:
      return ReplyStatus::GarbageArguments;
    case RPC_SYSTEMERROR:
      return ReplyStatus::SystemError;
    default:
      return ReplyStatus::Other;
  }
}

}  // namespace

RemoteCalls::RemoteCalls(std::uint16_t port, Transport transport)
    : port_(port), transport_(transport) {}

Reply RemoteCalls::callProgram(std::uint32_t program, std::uint32_t version,
                               std::uint32_t procedure, const Bytes& arguments) {
  RpcClient client(transport_, port_, program, version);
  RawBody body;
  const CallOutcome outcome = client.call(procedure, arguments, toXdrProc(&takeRawBody), &body);
  return Reply{statusOf(outcome.status), body.bytes};
}

InteropHandle RemoteCalls::repository() { return handleOf(host(kHostRepository)); }

Reply RemoteCalls::call(const std::string& label, const Bytes& arguments) {
  const auto [classNumber, procedure] = addressOf(label);
  return callProgram(kModelProgram, classNumber, procedure, arguments);
}

Reply RemoteCalls::cast(std::uint32_t classNumber, InteropHandle object, std::int32_t check) {
  return callProgram(kCastProgram, classNumber, kCastProcedure,
                     words({object, static_cast<std::uint32_t>(check)}));
}

Reply RemoteCalls::host(std::uint32_t procedure, const Bytes& arguments) {
  return callProgram(kHostProgram, kHostVersion, procedure, arguments);
}

InteropHandle RemoteCalls::handle(const std::string& label, const Bytes& arguments) {
  return handleOf(call(label, arguments));
}

std::int32_t RemoteCalls::integer(const std::string& label, const Bytes& arguments) {
  SCOPED_TRACE(label);
  return integerOf(call(label, arguments));
}

std::u16string RemoteCalls::text(const std::string& label, const Bytes& arguments) {
  const DecodedValue value = valueOf(call(label, arguments));
  EXPECT_TRUE(value.decoded) << label;
  return value.text;
}

std::int32_t RemoteCalls::size(InteropHandle collection) {
  std::int32_t size = 0;
  decode(X_udt_integer, size, host(kHostSize, words({collection})).body);
  return size;
}

InteropHandle RemoteCalls::element(InteropHandle collection, std::int32_t index) {
  return handleOf(host(kHostElement, words({collection, static_cast<std::uint32_t>(index)})));
}

std::string RemoteCalls::className(InteropHandle handle) {
  char* text = nullptr;
  decode(X_OptionalString, text, host(kHostClassName, words({handle})).body);
  std::string name = text != nullptr ? text : "";
  freeWith(X_OptionalString, text);
  return name;
}

std::int32_t RemoteCalls::release(InteropHandle handle) {
  std::int32_t released = 0;
  decode(X_udt_boolean, released, host(kHostRelease, words({handle})).body);
  return released;
}

std::int32_t RemoteCalls::handleCount() {
  std::int32_t count = 0;
  decode(X_udt_integer, count, host(kHostHandleCount).body);
  return count;
}
