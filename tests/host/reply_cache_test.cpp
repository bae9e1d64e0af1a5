#include "host/reply_cache.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <string>

#include "qovix_protocol.h"

namespace {

ReplyCache::Call callFrom(std::uint16_t port, std::uint32_t xid) {
  ReplyCache::Call call{xid, qovix::protocol::kModelProgram, 2, 2, {}, sizeof(sockaddr_in)};
  auto* address = reinterpret_cast<sockaddr_in*>(&call.caller);
  address->sin_family = AF_INET;
  address->sin_port = htons(port);
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return call;
}

std::string text(std::span<const char> bytes) { return {bytes.begin(), bytes.end()}; }

TEST(ReplyCache, ACallIsKnownByItsCallerTransactionAndProcedure) {
  ReplyCache cache(8);
  const ReplyCache::Call call = callFrom(1000, 7);
  cache.keep(call, std::string_view("reply"));
  EXPECT_EQ(text(cache.find(call)), "reply");

  ReplyCache::Call other = call;
  other.xid = 8;
  EXPECT_TRUE(cache.find(other).empty()) << "another transaction";
  other = callFrom(1001, 7);
  EXPECT_TRUE(cache.find(other).empty()) << "another caller, the same transaction id";
  for (auto field :
       {&ReplyCache::Call::program, &ReplyCache::Call::version, &ReplyCache::Call::procedure}) {
    other = call;
    other.*field += 1;
    EXPECT_TRUE(cache.find(other).empty()) << "another procedure";
  }
}

TEST(ReplyCache, KeepsTheNewestUpToItsCapacityAndOnlySmallReplies) {
  ReplyCache cache(3);
  for (std::uint32_t xid = 1; xid <= 5; ++xid) {
    cache.keep(callFrom(1000, xid), std::to_string(xid));
  }
  EXPECT_TRUE(cache.find(callFrom(1000, 1)).empty());
  EXPECT_TRUE(cache.find(callFrom(1000, 2)).empty());
  for (std::uint32_t xid = 3; xid <= 5; ++xid) {
    EXPECT_EQ(text(cache.find(callFrom(1000, xid))), std::to_string(xid));
  }
  cache.keep(callFrom(1000, 6), std::string(ReplyCache::kLargestKeptReply + 1, 'x'));
  EXPECT_TRUE(cache.find(callFrom(1000, 6)).empty()) << "a large reply is not kept";
  EXPECT_EQ(text(cache.find(callFrom(1000, 3))), "3") << "and displaces nothing";
}

}  // namespace
