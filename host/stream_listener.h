#pragma once

// qovixd's listening TCP transport and the connections it accepts. It keeps
// at most the configured number of connections (a new one ends the least
// recently active) and closes those idle past the timeout, so clients that
// connect and go quiet cannot use up the server's descriptors.

#include <poll.h>
#include <rpc/rpc.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "host/borrowed_transport.h"
#include "host/connection_host.h"
#include "host/connection_limits.h"
#include "host/principal_grace.h"
#include "host/stream_connection.h"
#include "host/tls_credentials.h"

class StreamListener final : public ConnectionHost {
 public:
  using Clock = StreamConnection::Clock;

  // Takes over `fd`, a listening TCP socket; the calls of its connections
  // are served by `serving` (null: none is). Throws HostError when the
  // runtime cannot make a transport of it.
  StreamListener(int fd, ConnectionLimits limits, ServingContext* serving);
  // Ends every connection, then stops listening.
  ~StreamListener();
  StreamListener(const StreamListener&) = delete;
  StreamListener& operator=(const StreamListener&) = delete;

  // Serves RPC-with-TLS to clients that ask (the credentials live as long
  // as this); with `required`, refuses their plain calls. A certified
  // principal's handles are released `grace` after its last connection
  // ends, unless it connects again meanwhile.
  void serveTls(const TlsCredentials* credentials, bool required, std::chrono::seconds grace);
  const TlsCredentials* tls() const override { return tls_; }
  bool tlsRequired() const override { return tlsRequired_; }
  ServingContext* serving() const override { return serving_; }
  PrincipalGrace& principals() override { return principals_; }

  SVCXPRT* xprt() const { return listening_->get(); }

  // Closes the connections idle past the timeout, when any can be due, and
  // returns how many milliseconds until the next can be (-1: none can).
  int closeIdle(Clock::time_point now);
  void closeAll() { connections_.clear(); }

  // Adds the connections whose replies wait for their client to `watched`,
  // to be woken when there is room to write.
  void watchWaitingReplies(std::vector<pollfd>& watched) const;
  // Writes waiting replies where `ready` (the entries watchWaitingReplies
  // added, after the poll) says there is room, and ends the connections
  // whose client is gone or has taken nothing for kReplyTakingTime.
  void writeWaitingReplies(std::span<const pollfd> ready, Clock::time_point now);
  // How long a client may take no reply bytes at all before it loses its
  // connection.
  static constexpr std::chrono::seconds kReplyTakingTime{10};

  // A round of the serve loop: the calls served between these two are
  // committed together when it ends, and their replies held until then
  // (ServingContext::openRound). Ending it sends every connection's held
  // replies, and ends the connections whose client is gone.
  void openRound();
  void closeRound();
  bool holdingReplies() const override { return holdingReplies_; }
  void markHolding(int fd) override { holding_.insert(fd); }
  void unmarkHolding(int fd) override { holding_.erase(fd); }

  // For the connections, which are served one at a time: the buffer they
  // read into before keeping what arrived, the buffer replies are encoded
  // into, and the end of a connection.
  std::vector<char>& readBuffer() override { return readBuffer_; }
  std::vector<char>& replyBuffer() override { return replyBuffer_; }
  void trimReplyBuffer() override;
  void forget(int fd) override { connections_.erase(fd); }
  // Whether a connection has replies waiting for its client; the rounds
  // look at those connections alone. Marking one may throw std::bad_alloc.
  void markWaiting(int fd) override { waiting_.insert(fd); }
  void unmarkWaiting(int fd) override { waiting_.erase(fd); }

  // TLS handshakes under way: at most kMostHandshakes at once, and at most
  // kMostHandshakesPerAddress from one peer address; each is ended when it
  // takes longer than its connection allows. makeRoomForHandshake, before
  // one from `address` starts, ends the oldest of that address when it has
  // its most, else, when all are taken, the oldest of the address with the
  // most under way (the newcomer's own among equals): so stalled handshakes
  // keep no newcomer out, and a flood from one address ends no other's.
  static constexpr std::size_t kMostHandshakes = 64;
  static constexpr std::size_t kMostHandshakesPerAddress = 16;
  void makeRoomForHandshake(const std::string& address) override;
  // Marking one may throw std::bad_alloc.
  void startedHandshake(int fd, const std::string& address) override { handshaking_[fd] = address; }
  void endedHandshake(int fd) override { handshaking_.erase(fd); }
  // Ends the handshakes past their time, and releases the handles of the
  // principals gone past their grace; returns how many milliseconds until
  // the next is due (-1: none is).
  int closeDue(Clock::time_point now);

 private:
  friend class TransportOperationsOf<StreamListener>;
  // What arrives on a listening socket is a connection, never a call.
  bool_t receive(rpc_msg* message);
  xprt_stat status() const { return XPRT_IDLE; }
  bool_t getArguments(xdrproc_t, void*) { return FALSE; }
  bool_t reply(rpc_msg*) { return FALSE; }
  // The runtime never ends a listening transport by itself; qovixd ends it
  // by destroying this object.
  void endedByRuntime() {}

  void closeLeastRecentlyActive();

  ConnectionLimits limits_;
  Clock::time_point nextIdleCheck_ = Clock::time_point::max();
  const TlsCredentials* tls_ = nullptr;
  bool tlsRequired_ = false;
  ServingContext* serving_;
  PrincipalGrace principals_;  // before connections_, which tell it when they end
  std::unordered_map<int, std::string> handshaking_;  // peer addresses; before connections_
  std::vector<char> readBuffer_;
  std::vector<char> replyBuffer_;
  std::unordered_set<int> waiting_;  // before connections_: they unmark themselves as they go
  std::unordered_set<int> holding_;  // the same
  bool holdingReplies_ = false;
  std::unordered_map<int, std::unique_ptr<StreamConnection>> connections_;
  std::optional<BorrowedTransport> listening_;
};
