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

// Descriptors the server opens besides connections and what is open when it
// starts: two sockets, the signal watch, the repository file with its log,
// its index and its lock, the library, a document and its folder, an
// rpcbind client, and one to accept with.
inline constexpr std::size_t kServerDescriptors = 12;

// Raises the process's soft descriptor limit as far as `limits` need (never
// past the hard limit) and returns the limits it can keep: the connection
// cap is lowered when the hard limit is too low for it, leaving room for
// what is open already and what the server opens (kServerDescriptors). Must
// run before the first transport is made, since the runtime sizes its
// tables then.
ConnectionLimits fitToDescriptorLimit(ConnectionLimits limits);
