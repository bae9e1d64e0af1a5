#include "tests/support/library_calls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "client/procedure_listing.h"
#include "qovix_protocol.h"
#include "dispatch/entry_point.h"
#include "model/vorn_os/handle_registry.h"
#include "xdr/primitive_filters.h"

namespace {

struct Address {
  std::uint32_t classNumber;
  std::uint32_t procedure;
};

Address addressOf(const std::string& label) {
  const ProcedureListing* found = findProcedureByLabel(label);
  if (found == nullptr) {
    ADD_FAILURE() << "no procedure " << label;
    return {0, 0};
  }
  return {found->classNumber, found->number};
}

std::uint32_t classNumberOf(const std::string& className) {
  for (std::size_t i = 0; i < kProcedureListingSize; ++i) {
    if (className == kProcedureListing[i].className) return kProcedureListing[i].classNumber;
  }
  ADD_FAILURE() << "no class " << className;
  return 0;
}

Reply only(const std::vector<Reply>& replies) {
  if (replies.size() != 1) return Reply{ReplyStatus::Other, {}};
  return replies.front();
}

}  // namespace

LibraryCalls::LibraryCalls()
    : repositoryHandle_(getHandle(&repository_, static_cast<VornObject*>(&repository_), nullptr)) {}

LibraryCalls::~LibraryCalls() { deleteHandle(repositoryHandle_); }

Reply LibraryCalls::call(const std::string& label, const Bytes& arguments) {
  const Address address = addressOf(label);
  return only(
      transport_.call(QOVIX_server_1, {address.classNumber, 0, address.procedure}, arguments));
}

Reply LibraryCalls::cast(const std::string& className, InteropHandle object, std::int32_t check) {
  return only(transport_.call(
      QOVIX_server_1, {classNumberOf(className), kCastTemplateId, qovix::protocol::kCastProcedure},
      words({object, static_cast<std::uint32_t>(check)})));
}

InteropHandle LibraryCalls::handle(const std::string& label, const Bytes& arguments) {
  return handleOf(call(label, arguments));
}

std::int32_t LibraryCalls::integer(const std::string& label, const Bytes& arguments) {
  SCOPED_TRACE(label);
  return integerOf(call(label, arguments));
}

DecodedValue LibraryCalls::value(const std::string& label, const Bytes& arguments) {
  const DecodedValue decoded = valueOf(call(label, arguments));
  EXPECT_TRUE(decoded.decoded) << label;
  return decoded;
}

std::u16string LibraryCalls::text(const std::string& label, const Bytes& arguments) {
  return value(label, arguments).text;
}

std::string LibraryCalls::optionalString(const std::string& label) {
  const Reply reply = call(label);
  char* text = nullptr;
  EXPECT_TRUE(decode(X_OptionalString, text, reply.body).decoded) << label;
  std::string result = text != nullptr ? text : "(null)";
  freeWith(X_OptionalString, text);
  return result;
}
