#pragma once

// Calls into the library in process, as the host would, addressing each
// procedure by its label: the test transport underneath, a repository
// registered like qovixd's, and decoders for the replies.
//
//   LibraryCalls calls;
//   InteropHandle tag = calls.handle("QOVIXTaggedValue_create_1", words({calls.repository()}));
//   calls.call("QOVIXTaggedValue_set_tag_0", words({tag}) + textValue(1, u"author"));
//   EXPECT_EQ(calls.text("QOVIXTaggedValue_get_tag_0", words({tag})), u"author");

#include <cstdint>
#include <string>

#include "model/wkm_srv/VORN.h"
#include "tests/support/reply_values.h"
#include "tests/support/test_transport.h"
#include "tests/support/wire_bytes.h"
#include "xdr/data_value.h"

class LibraryCalls {
 public:
  LibraryCalls();
  ~LibraryCalls();
  LibraryCalls(const LibraryCalls&) = delete;
  LibraryCalls& operator=(const LibraryCalls&) = delete;

  InteropHandle repository() const { return repositoryHandle_; }
  VORN& repositoryObject() { return repository_; }
  TestTransport& transport() { return transport_; }

  // The one reply to a call of the procedure `label`; a reply with status
  // Other when there was none or more than one.
  Reply call(const std::string& label, const Bytes& arguments = {});
  // The one reply to a call of `className`'s cast procedure.
  Reply cast(const std::string& className, InteropHandle object, std::int32_t check);

  // The reply decoded; a test failure (and 0 or empty) when it was no
  // successful reply of that type.
  InteropHandle handle(const std::string& label, const Bytes& arguments = {});
  std::int32_t integer(const std::string& label, const Bytes& arguments = {});
  DecodedValue value(const std::string& label, const Bytes& arguments = {});
  std::u16string text(const std::string& label, const Bytes& arguments = {});
  std::string optionalString(const std::string& label);

 private:
  VORN repository_{"in-process"};
  unsigned long repositoryHandle_ = 0;
  TestTransport transport_;
};
