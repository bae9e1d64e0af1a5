#pragma once

// What a TCP connection needs of the listener that accepted it: buffers
// shared by the connections (which are served one at a time), TLS, the
// bookkeeping of replies waiting and handshakes under way, the principals'
// grace, what serves its calls, and its own end. A narrow view, so that a
// connection knows nothing else of its listener.

#include <string>
#include <vector>

class PrincipalGrace;
class ServingContext;
class TlsCredentials;

class ConnectionHost {
 public:
  virtual ServingContext* serving() const = 0;
  virtual PrincipalGrace& principals() = 0;

  // The buffer a connection reads into before keeping what arrived, and the
  // one replies are encoded into (trimmed after a large one).
  virtual std::vector<char>& readBuffer() = 0;
  virtual std::vector<char>& replyBuffer() = 0;
  virtual void trimReplyBuffer() = 0;

  // TLS served (null: none), and whether plain calls are refused.
  virtual const TlsCredentials* tls() const = 0;
  virtual bool tlsRequired() const = 0;
  // Before a handshake from `address` starts: may end another's (see
  // StreamListener). Marking may throw std::bad_alloc.
  virtual void makeRoomForHandshake(const std::string& address) = 0;
  virtual void startedHandshake(int fd, const std::string& address) = 0;
  virtual void endedHandshake(int fd) = 0;

  // Whether a connection has replies waiting for its client. Marking may
  // throw std::bad_alloc.
  virtual void markWaiting(int fd) = 0;
  virtual void unmarkWaiting(int fd) = 0;

  // Whether the replies of this round of the serve loop are held until it
  // ends (its calls are committed together then), and marking the
  // connections that hold some. Marking may throw std::bad_alloc.
  virtual bool holdingReplies() const = 0;
  virtual void markHolding(int fd) = 0;
  virtual void unmarkHolding(int fd) = 0;

  // Ends the connection: destroys it.
  virtual void forget(int fd) = 0;

 protected:
  ~ConnectionHost() = default;
};
