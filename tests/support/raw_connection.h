#pragma once

// A plain TCP connection to a server on loopback, for clients that
// misbehave: it sends bytes as given and reads nothing unless asked.

#include <chrono>
#include <cstdint>
#include <optional>

#include "tests/support/wire_bytes.h"

class RawConnection {
 public:
  // With `receiveBufferBytes`, the socket's receive buffer is that small.
  explicit RawConnection(std::uint16_t port, int receiveBufferBytes = 0);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return connected_; }
  // Sends all of `bytes`; false when the connection would not take them.
  bool send(const Bytes& bytes);
  // The data of the next record the server sends (one fragment, as qovixd
  // sends them), or nothing when none arrives within `timeout`.
  std::optional<Bytes> receiveRecord(std::chrono::milliseconds timeout);
  // Whether the server closed the connection within `timeout` (what it sent
  // before is read and dropped).
  bool closedByServer(std::chrono::milliseconds timeout);

 private:
  int fd_;
  bool connected_ = false;
};
