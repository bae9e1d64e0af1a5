#pragma once

// How many TCP connections qovixd keeps and how long it keeps an idle one,
// and how large a reply it sends over UDP.

#include <chrono>
#include <cstddef>

struct ConnectionLimits {
  // With this many connections open, a new one ends the least recently
  // active.
  std::size_t maxConnections = 1000;
  // A connection that sends nothing for this long is closed; zero: never.
  std::chrono::seconds idleTimeout{300};
  // A larger reply over UDP is the system error; the caller asks over TCP.
  std::size_t udpMostReplyBytes = 8192;
};

// Descriptors kept for everything but connections: standard streams, the
// transports, the signal watch, the library, documents, rpcbind.
inline constexpr std::size_t kReservedDescriptors = 64;

// Raises the process's soft descriptor limit as far as `limits` need (never
// past the hard limit) and returns the limits it can keep: the connection
// cap is lowered when the hard limit is too low for it. Must run before the
// first transport is made, since the runtime sizes its tables then.
ConnectionLimits fitToDescriptorLimit(ConnectionLimits limits);
