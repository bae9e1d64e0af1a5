#pragma once

// One TCP connection to qovixd. Records are read without blocking and put
// together from their fragments by a RecordReader, so a client that stalls
// mid-record holds nothing but its own buffer, a record of many fragments
// arrives whole, and one over the bound ends the connection. Arguments are
// decoded from exactly the record's bytes. A reply is written as one
// fragment, never waiting for the client: what its socket does not take at
// once waits in the connection's own queue, written as the socket allows
// (its listener watches for room). A client whose queue grows past its
// bound, or that takes nothing for a while, loses its connection.
//
// In a round of the serve loop, replies are held until it ends: the calls
// they answer are committed together then, and each connection's replies
// leave in one write. When the commit failed, the replies that depended on
// it leave as the system error instead.
//
// With TLS served, a client may ask for it as RFC 9289 says: a NULL call
// with the AUTH_TLS credential is answered with the "STARTTLS" verifier,
// then the TLS handshake runs on the same connection, a step at a time as
// the socket allows, and every later record travels inside TLS.

#include <rpc/rpc.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/borrowed_transport.h"
#include "host/call_site.h"
#include "host/connection_host.h"
#include "host/record_reader.h"
#include "host/tls_session.h"

class StreamConnection final : public CallSite {
 public:
  using Clock = std::chrono::steady_clock;

  // Takes over `connection`, a transport the runtime made for an accepted
  // socket set to non-blocking.
  StreamConnection(SVCXPRT* connection, ConnectionHost& host);
  ~StreamConnection();
  StreamConnection(const StreamConnection&) = delete;
  StreamConnection& operator=(const StreamConnection&) = delete;

  int fd() const { return transport_.fd(); }
  Clock::time_point lastActive() const { return lastActive_; }

  // Whether replies wait for the client to take them, and when it last took
  // any of them.
  bool hasWaitingReplies() const { return waitingFrom_ < waiting_.size() || handshakeWrites_; }
  // Whether its TLS handshake is under way, and until when it may take.
  bool handshaking() const { return stage_ == Stage::Handshake; }
  Clock::time_point handshakeDeadline() const { return handshakeDeadline_; }
  Clock::time_point lastWritten() const { return lastWritten_; }
  // Writes what the socket takes of the waiting replies; false when the
  // client is gone.
  bool writeWaiting();

  // Sends the replies held in the round that ended; `kept`: the calls they
  // depended on were committed, else those replies become the system
  // error. False when the client is gone.
  bool releaseHeld(bool kept);

  // Its calls are made for the certificate's subject once its TLS session
  // named one, else for the peer address; after actFor, for the user.
  ServingContext* serving() const override { return host_.serving(); }
  Principal principal() const override;
  bool actFor(const Principal& user) override;

 private:
  friend class TransportOperationsOf<StreamConnection>;
  bool_t receive(rpc_msg* message);
  xprt_stat status() const;
  bool_t getArguments(xdrproc_t filter, void* record) { return filter(&arguments_, record); }
  bool_t reply(rpc_msg* message);
  // The runtime ends a connection that broke or hung up; so does the
  // listener, which owns this object.
  void endedByRuntime();

  // Reads what has arrived, once; false when the connection has ended.
  bool readSome();
  // Writes what the socket takes now, without waiting; how much, or -1 when
  // the client is gone.
  long writeSome(const char* bytes, std::size_t length);
  // Sends a reply after those waiting, keeping what the socket does not
  // take; false when the client is gone or its queue would pass its bound.
  bool send(const char* bytes, std::size_t length);
  // Sends the reply encoded in the listener's reply buffer after room for
  // its record mark, as one fragment; in a round, holds it (`dependent`: on
  // the round's commit).
  bool sendEncoded(std::size_t length, bool dependent = false);
  // Holds a reply until the round ends; false when it would pass the
  // client's bound.
  bool hold(const char* bytes, std::size_t length, bool dependent);
  // Answers the call just received here, without the runtime: its reply is
  // `message` (no results); false when it cannot be sent.
  bool answer(rpc_msg& message);
  // For a connection that may start TLS: answers the probe and starts the
  // handshake, or refuses a plain call when TLS is required. True when the
  // call was answered so.
  bool answeredForTls(const rpc_msg& call);
  // Goes on with the handshake; false when it failed.
  bool continueHandshake();

  enum class Stage { Plain, Handshake, Secure };
  ConnectionHost& host_;
  RecordReader reader_;
  XDR arguments_{};  // over the record being served, after its call header
  std::uint32_t xid_ = 0;
  bool ended_ = false;
  Clock::time_point lastActive_ = Clock::now();
  // The replies held in this round, one after another, and each one's call
  // and place.
  struct HeldReply {
    std::uint32_t xid;
    std::size_t from, length;
    bool dependent;
  };
  std::vector<char> held_;
  std::vector<HeldReply> heldReplies_;
  std::vector<char> waiting_;  // replies the client has not taken, from waitingFrom_ on
  std::size_t waitingFrom_ = 0;
  Clock::time_point lastWritten_ = Clock::now();
  Stage stage_ = Stage::Plain;
  std::unique_ptr<TlsSession> tls_;
  std::string subject_;           // the client certificate's, once its TLS session named one
  Principal actingFor_;           // the user it acts for; none while its name is empty
  bool handshakeWrites_ = false;  // the handshake waits for room to write
  Clock::time_point handshakeDeadline_;
  BorrowedTransport transport_;
};
