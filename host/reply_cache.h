#pragma once

// The replies qovixd sent over UDP most recently. A UDP client that hears no
// reply in time sends its call again with the same transaction id; when the
// first reply was only lost or late, the call must not be made twice (a
// second create would leave an object nobody asked for). A call found here
// is answered with the reply it had.

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class ReplyCache {
 public:
  // Who sent a call and which call it was.
  struct Call {
    std::uint32_t xid = 0;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
    sockaddr_storage caller{};
    socklen_t callerLength = 0;
  };

  // Replies larger than this are not kept: they answer reads, which give
  // the same again, and keeping them would cost more than it saves.
  static constexpr std::size_t kLargestKeptReply = 1024;

  explicit ReplyCache(std::size_t capacity) : xids_(capacity), entries_(capacity) {}

  // The reply sent to `call`, if it is still kept.
  std::span<const char> find(const Call& call) const;
  // Keeps `reply` as the answer to `call`, in place of the oldest kept.
  void keep(const Call& call, std::span<const char> reply);

 private:
  struct Entry {
    Call call;
    std::vector<char> reply;
    bool used = false;
  };
  // The entries' transaction ids apart, so a look-up scans a small array
  // and reads an entry only when its id matches.
  std::vector<std::uint32_t> xids_;
  std::vector<Entry> entries_;
  std::size_t next_ = 0;
};
