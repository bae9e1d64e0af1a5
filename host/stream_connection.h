#pragma once

// One TCP connection to qovixd. Records are read without blocking and put
// together from their fragments by a RecordReader, so a client that stalls
// mid-record holds nothing but its own buffer, a record of many fragments
// arrives whole, and one over the bound ends the connection. Arguments are
// decoded from exactly the record's bytes. A reply is written as one
// fragment; a client that does not take it within a short time loses its
// connection.

#include <rpc/rpc.h>

#include <chrono>
#include <cstdint>

#include "host/borrowed_transport.h"
#include "host/record_reader.h"

class StreamListener;

class StreamConnection {
 public:
  using Clock = std::chrono::steady_clock;

  // Takes over `connection`, a transport the runtime made for an accepted
  // socket set to non-blocking.
  StreamConnection(SVCXPRT* connection, StreamListener& listener);

  int fd() const { return transport_.fd(); }
  Clock::time_point lastActive() const { return lastActive_; }

 private:
  static bool_t receive(SVCXPRT* xprt, rpc_msg* message);
  static xprt_stat status(SVCXPRT* xprt);
  static bool_t getArguments(SVCXPRT* xprt, xdrproc_t filter, void* record);
  static bool_t reply(SVCXPRT* xprt, rpc_msg* message);
  static void destroy(SVCXPRT* xprt);

  // Reads what has arrived, once; false when the connection has ended.
  bool readSome();
  bool writeAll(const char* bytes, std::size_t length);

  static const TransportOperations kOperations;

  StreamListener& listener_;
  RecordReader reader_;
  XDR arguments_{};  // over the record being served, after its call header
  std::uint32_t xid_ = 0;
  bool ended_ = false;
  Clock::time_point lastActive_ = Clock::now();
  BorrowedTransport transport_;
};
