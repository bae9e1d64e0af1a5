#pragma once

// An in-memory ONC RPC transport for driving the library without sockets.
// Arguments are decoded from a byte buffer; every reply is recorded with its
// accept status and, for a successful reply, the exact bytes of its body.
//
//   TestTransport transport;
//   auto replies = transport.call(QOVIX_server_1, {.classNumber = 2, .procedure = 5},
//                                 words({7}));
//   ASSERT_EQ(replies.size(), 1u);
//   EXPECT_EQ(replies[0].status, ReplyStatus::Success);

#include <rpc/rpc.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "dispatch/entry_point.h"
#include "host/call_site.h"

enum class ReplyStatus {
  Success,
  ProcedureUnavailable,
  GarbageArguments,
  SystemError,
  Other,  // any other accept status, or a rejected call
};

std::string toString(ReplyStatus status);

struct Reply {
  ReplyStatus status;
  std::vector<std::uint8_t> body;  // the encoded result of a successful reply
};

// Where a call is addressed.
struct CallAddress {
  std::uint32_t classNumber = 0;
  std::int32_t templateId = 0;
  std::uint32_t procedure = 0;
};

// A call site too, so that qovixd's dispatch can be driven through it: its
// calls are served by what serveBy names, for the principal "?".
class TestTransport final : public CallSite {
 public:
  TestTransport();
  TestTransport(const TestTransport&) = delete;
  TestTransport& operator=(const TestTransport&) = delete;

  SVCXPRT* xprt() { return &xprt_; }

  void serveBy(ServingContext* serving) { serving_ = serving; }
  ServingContext* serving() const override { return serving_; }
  Principal principal() const override { return {"?", Principal::Kind::Address}; }

  // Makes the next calls decode `bytes` as their arguments.
  void setArguments(std::vector<std::uint8_t> bytes);
  // While set, every reply fails to send, as on a broken connection.
  void setRepliesFail(bool fail) { repliesFail_ = fail; }
  // Forgets the replies and counters of earlier calls.
  void clear();

  const std::vector<Reply>& replies() const { return replies_; }
  int getargsCalls() const { return getargsCalls_; }
  int freeargsCalls() const { return freeargsCalls_; }
  // Argument bytes the last decode left unread.
  std::size_t argumentBytesLeft() const { return argumentBytesLeft_; }

  // Clears, then makes one call through `entry` as the host would, with
  // `arguments` as the call's argument bytes. Returns what was sent.
  const std::vector<Reply>& call(QovixServerEntry entry, CallAddress address,
                                 std::vector<std::uint8_t> arguments = {});

 private:
  static TestTransport& of(SVCXPRT* xprt);
  static bool_t getargs(SVCXPRT* xprt, xdrproc_t filter, void* record);
  static bool_t freeargs(SVCXPRT* xprt, xdrproc_t filter, void* record);
  static bool_t reply(SVCXPRT* xprt, rpc_msg* message);

  using Operations = std::remove_const_t<std::remove_pointer_t<decltype(SVCXPRT::xp_ops)>>;
  static const Operations kOps;

  SVCXPRT xprt_{};
  ServingContext* serving_ = nullptr;
  std::vector<std::uint8_t> arguments_;
  std::vector<Reply> replies_;
  bool repliesFail_ = false;
  int getargsCalls_ = 0;
  int freeargsCalls_ = 0;
  std::size_t argumentBytesLeft_ = 0;
};
