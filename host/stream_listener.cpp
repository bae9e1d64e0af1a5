#include "host/stream_listener.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string_view>
#include <unordered_map>

#include "host/host_error.h"
#include "host/serving_context.h"

namespace {

// The runtime's transports get token buffers: they never read or write.
constexpr u_int kRuntimeBufferBytes = 512;
// How much one read of a connection takes.
constexpr std::size_t kReadBytes = 64 * 1024;
// Replies up to this size keep their buffer between calls.
constexpr std::size_t kKeptReplyBytes = 64 * 1024;

}  // namespace

StreamListener::StreamListener(int fd, ConnectionLimits limits, ServingContext* serving)
    : limits_(limits), serving_(serving), readBuffer_(kReadBytes), replyBuffer_(kKeptReplyBytes) {
  SVCXPRT* xprt = svc_vc_create(fd, kRuntimeBufferBytes, kRuntimeBufferBytes);
  if (xprt == nullptr) {
    close(fd);
    throw HostError("cannot create the TCP transport");
  }
  listening_.emplace(xprt, this);
}

StreamListener::~StreamListener() { closeAll(); }

// Accepts one connection.
bool_t StreamListener::receive(rpc_msg*) {
  const int listening = xprt()->xp_fd;
  int fd = accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0 && (errno == EMFILE || errno == ENFILE) && !connections_.empty()) {
    closeLeastRecentlyActive();
    fd = accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  }
  if (fd < 0) return FALSE;
  // Each reply is one write, sent at once: a client that sends several calls
  // before reading would otherwise wait out the acknowledgement of the first
  // reply (Nagle's rule against the client's delayed acknowledgement). Set
  // before the check below, which must stay next to the runtime's.
  const int noDelay = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  // A client that connected and reset at once has no address any more: the
  // runtime would say so on stderr for each one and leak the transport it
  // had begun to make, so such a connection goes before it sees it. (One
  // reset in the microseconds between this check and the runtime's own
  // still leaks; there is no way to hand the runtime the address.)
  sockaddr_storage peer{};
  socklen_t peerLength = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
    close(fd);
    return FALSE;
  }
  if (connections_.size() >= limits_.maxConnections) closeLeastRecentlyActive();

  SVCXPRT* connection = svc_fd_create(fd, kRuntimeBufferBytes, kRuntimeBufferBytes);
  if (connection == nullptr) {
    close(fd);
    return FALSE;
  }
  std::unique_ptr<StreamConnection> owned;
  try {
    owned = std::make_unique<StreamConnection>(connection, *this);
  } catch (const std::bad_alloc&) {
    svc_destroy(connection);  // still the runtime's own transport: closes the socket
    return FALSE;
  }
  try {
    connections_.emplace(fd, std::move(owned));
  } catch (const std::bad_alloc&) {
    return FALSE;  // `owned` ends the connection
  }
  if (limits_.idleTimeout.count() > 0) {
    nextIdleCheck_ = std::min(nextIdleCheck_, Clock::now() + limits_.idleTimeout);
  }
  return FALSE;  // a connection, not a call
}

void StreamListener::closeLeastRecentlyActive() {
  const auto oldest = std::min_element(
      connections_.begin(), connections_.end(),
      [](const auto& a, const auto& b) { return a.second->lastActive() < b.second->lastActive(); });
  if (oldest != connections_.end()) connections_.erase(oldest);
}

int StreamListener::closeIdle(Clock::time_point now) {
  if (limits_.idleTimeout.count() == 0 || connections_.empty()) return -1;
  if (now < nextIdleCheck_) {
    return static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(nextIdleCheck_ - now).count());
  }
  nextIdleCheck_ = Clock::time_point::max();
  std::erase_if(connections_, [&](const auto& entry) {
    const auto due = entry.second->lastActive() + limits_.idleTimeout;
    if (due <= now) return true;
    nextIdleCheck_ = std::min(nextIdleCheck_, due);
    return false;
  });
  return closeIdle(now);
}

void StreamListener::serveTls(const TlsCredentials* credentials, bool required,
                              std::chrono::seconds grace) {
  tls_ = credentials;
  tlsRequired_ = required;
  principals_.setGrace(grace);
}

void StreamListener::makeRoomForHandshake(const std::string& address) {
  std::unordered_map<std::string_view, std::size_t> counts;
  for (const auto& [fd, from] : handshaking_) ++counts[from];
  std::string_view victim = address;
  if (counts[address] < kMostHandshakesPerAddress) {
    if (handshaking_.size() < kMostHandshakes) return;
    for (const auto& [from, count] : counts) {
      if (count > counts[victim]) victim = from;
    }
  }
  int oldest = -1;
  Clock::time_point earliest = Clock::time_point::max();
  for (const auto& [fd, from] : handshaking_) {
    const auto found = connections_.find(fd);
    if (from == victim && found != connections_.end() &&
        found->second->handshakeDeadline() < earliest) {
      earliest = found->second->handshakeDeadline();
      oldest = fd;
    }
  }
  if (oldest >= 0) connections_.erase(oldest);  // it unmarks itself
}

int StreamListener::closeDue(Clock::time_point now) {
  Clock::time_point next = Clock::time_point::max();
  std::vector<int> late;
  for (const auto& [fd, from] : handshaking_) {
    const auto found = connections_.find(fd);
    if (found == connections_.end()) continue;
    const auto due = found->second->handshakeDeadline();
    if (due <= now) {
      late.push_back(fd);
    } else {
      next = std::min(next, due);
    }
  }
  for (int fd : late) connections_.erase(fd);  // each unmarks itself
  next = std::min(next, principals_.releaseDue(now));
  if (next == Clock::time_point::max()) return -1;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
}

void StreamListener::watchWaitingReplies(std::vector<pollfd>& watched) const {
  for (int fd : waiting_) watched.push_back({fd, POLLOUT, 0});
}

void StreamListener::writeWaitingReplies(std::span<const pollfd> ready, Clock::time_point now) {
  for (const pollfd& entry : ready) {
    if (entry.revents == 0) continue;
    const auto found = connections_.find(entry.fd);
    if (found == connections_.end() || !found->second->hasWaitingReplies()) continue;
    if (!found->second->writeWaiting()) connections_.erase(found);
  }
  // Ending a connection unmarks it, so the stalled are found first.
  std::vector<int> stalled;
  for (int fd : waiting_) {
    const auto found = connections_.find(fd);
    if (found != connections_.end() && found->second->lastWritten() + kReplyTakingTime <= now) {
      stalled.push_back(fd);
    }
  }
  for (int fd : stalled) connections_.erase(fd);
}

void StreamListener::openRound() {
  holdingReplies_ = serving_ != nullptr;
  if (holdingReplies_) serving_->openRound();
}

void StreamListener::closeRound() {
  if (!holdingReplies_) return;
  holdingReplies_ = false;
  const bool kept = serving_->closeRound();
  // Releasing unmarks each; one whose client is gone ends.
  const std::vector<int> holding(holding_.begin(), holding_.end());
  for (int fd : holding) {
    const auto found = connections_.find(fd);
    if (found != connections_.end() && !found->second->releaseHeld(kept)) connections_.erase(found);
  }
  holding_.clear();
}

void StreamListener::trimReplyBuffer() {
  if (replyBuffer_.size() > kKeptReplyBytes) {
    replyBuffer_.resize(kKeptReplyBytes);
    replyBuffer_.shrink_to_fit();
  }
}
