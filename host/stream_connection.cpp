#include "host/stream_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "host/principal_grace.h"
#include "host/reply_encoding.h"
#include "host/serving_context.h"
#include "qovix_protocol.h"
#include "xdr/wire_types.h"
#include "xdr/xdr_filter.h"

namespace {

constexpr std::size_t kMarkBytes = 4;
using qovix::protocol::kLastFragment;
// RFC 9289's credential flavor of the probe.
constexpr int kAuthTls = qovix::protocol::kAuthTls;
// How long a TLS handshake may take.
constexpr std::chrono::seconds kHandshakeTime{10};
// A reply goes out as one fragment, whose length has 31 bits.
constexpr std::size_t kLargestReply = 0x7FFFFFFF;
// The most reply bytes that may wait for one client.
constexpr std::size_t kMostWaitingBytes = 8u << 20;
// The most a connection's buffer of held replies keeps from round to round.
constexpr std::size_t kKeptHeldBytes = 64u << 10;

}  // namespace

StreamConnection::StreamConnection(SVCXPRT* connection, ConnectionHost& host)
    : host_(host), reader_(kMaxCallRecordBytes), transport_(connection, this) {}

StreamConnection::~StreamConnection() {
  host_.unmarkWaiting(fd());
  host_.unmarkHolding(fd());
  host_.endedHandshake(fd());
  if (!subject_.empty()) {
    try {
      host_.principals().disconnected(principal(), Clock::now());
    } catch (const std::bad_alloc&) {
      // its handles stay until qovixd stops
    }
  }
}

Principal StreamConnection::principal() const {
  if (!actingFor_.name.empty()) return actingFor_;
  if (!subject_.empty()) return {subject_, Principal::Kind::Certificate};
  return peerPrincipal(transport_.get());
}

bool StreamConnection::actFor(const Principal& user) {
  if (subject_.empty() || !actingFor_.name.empty()) return false;
  // The user's handles now live as long as its connections; the
  // certificate's, as long as its others.
  Principal acting = user;
  host_.principals().connected(acting);
  host_.principals().disconnected(principal(), Clock::now());
  actingFor_ = std::move(acting);
  return true;
}

bool StreamConnection::readSome() {
  std::vector<char>& scratch = host_.readBuffer();
  if (stage_ == Stage::Secure) {
    // Everything TLS has decrypted, so that nothing waits unseen by poll.
    do {
      const long count = tls_->read(scratch.data(), scratch.size());
      if (count < 0) return false;
      if (count == 0) break;
      try {
        reader_.append({scratch.data(), static_cast<std::size_t>(count)});
      } catch (const std::bad_alloc&) {
        return false;
      }
    } while (tls_->hasPending());
    return true;
  }
  const ssize_t count = read(fd(), scratch.data(), scratch.size());
  if (count < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  if (count == 0) return false;  // the client hung up
  try {
    reader_.append({scratch.data(), static_cast<std::size_t>(count)});
  } catch (const std::bad_alloc&) {
    return false;  // no room for what the client sends: it loses the connection
  }
  return true;
}

bool_t StreamConnection::receive(rpc_msg* message) {
  lastActive_ = Clock::now();
  if (stage_ == Stage::Handshake) {
    if (!continueHandshake()) ended_ = true;
    return FALSE;
  }
  for (bool readOnce = false;;) {
    switch (reader_.next()) {
      case RecordReader::Next::Record: {
        const auto record = reader_.record();
        xdrmem_create(&arguments_, const_cast<char*>(record.data()),
                      static_cast<u_int>(record.size()), XDR_DECODE);
        if (!xdr_callmsg(&arguments_, message)) {
          // Not an ONC RPC call: there is no transaction to answer, and a
          // client that sends such records is not one to keep serving.
          ended_ = true;
          return FALSE;
        }
        xid_ = message->rm_xid;
        if (stage_ == Stage::Plain && host_.tls() != nullptr && answeredForTls(*message)) {
          return FALSE;
        }
        return TRUE;
      }
      case RecordReader::Next::TooLarge:
        ended_ = true;
        return FALSE;
      case RecordReader::Next::NeedMore: {
        if (readOnce) return FALSE;
        const std::size_t before = reader_.buffered();
        if (!readSome()) {
          ended_ = true;
          return FALSE;
        }
        readOnce = true;
        if (reader_.buffered() == before) return FALSE;  // nothing had arrived
        break;
      }
    }
  }
}

xprt_stat StreamConnection::status() const {
  if (ended_) return XPRT_DIED;
  return reader_.hasRecord() ? XPRT_MOREREQS : XPRT_IDLE;
}

bool_t StreamConnection::reply(rpc_msg* message) {
  message->rm_xid = xid_;
  std::vector<char>& out = host_.replyBuffer();
  std::size_t length = 0;
  try {
    length = encodeReply(*message, out, kMarkBytes, kLargestReply);
  } catch (const std::bad_alloc&) {
    // No room for these results; the reply buffer always has room for the
    // system error that says so.
    message->acpted_rply.ar_stat = SYSTEM_ERR;
    length = encodeReply(*message, out, kMarkBytes, kLargestReply);
  }
  using Settlement = ServingContext::Settlement;
  const Settlement settled = serving() != nullptr
                                 ? serving()->settleBeforeReply(message, host_.holdingReplies())
                                 : Settlement::Settled;
  if (settled == Settlement::Failed) length = encodeReply(*message, out, kMarkBytes, kLargestReply);
  if (length == 0) return FALSE;
  const bool sent = sendEncoded(length, settled == Settlement::Held);
  if (!sent) {
    ended_ = true;
    return FALSE;
  }
  lastActive_ = Clock::now();
  return TRUE;
}

bool StreamConnection::answer(rpc_msg& message) {
  message.rm_xid = xid_;
  message.rm_direction = REPLY;
  const std::size_t length = encodeReply(message, host_.replyBuffer(), kMarkBytes, kLargestReply);
  return length != 0 && sendEncoded(length);
}

namespace {

// Puts the record mark of a reply of `length` bytes, as one fragment, in
// the room left for it at the start of `out`.
void markRecord(std::vector<char>& out, std::size_t length) {
  const std::uint32_t mark = kLastFragment | static_cast<std::uint32_t>(length);
  for (std::size_t i = 0; i < kMarkBytes; ++i) {
    out[i] = static_cast<char>(mark >> (8 * (kMarkBytes - 1 - i)));
  }
}

}  // namespace

bool StreamConnection::sendEncoded(std::size_t length, bool dependent) {
  std::vector<char>& out = host_.replyBuffer();
  markRecord(out, length);
  const bool sent = host_.holdingReplies() ? hold(out.data(), kMarkBytes + length, dependent)
                                           : send(out.data(), kMarkBytes + length);
  host_.trimReplyBuffer();
  return sent;
}

bool StreamConnection::hold(const char* bytes, std::size_t length, bool dependent) {
  if (waiting_.size() - waitingFrom_ + held_.size() + length > kMostWaitingBytes) return false;
  try {
    if (heldReplies_.empty()) host_.markHolding(fd());
    heldReplies_.push_back({xid_, held_.size(), length, dependent});
    held_.insert(held_.end(), bytes, bytes + length);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool StreamConnection::releaseHeld(bool kept) {
  host_.unmarkHolding(fd());
  std::vector<char> replies = std::move(held_);
  std::vector<HeldReply> each = std::move(heldReplies_);
  held_.clear();
  heldReplies_.clear();
  if (ended_) return false;
  try {
    if (!kept) {
      // The calls were undone: what depended on them is the system error.
      std::vector<char> answered, encoded;
      for (const HeldReply& reply : each) {
        if (!reply.dependent) {
          answered.insert(answered.end(), replies.begin() + static_cast<std::ptrdiff_t>(reply.from),
                          replies.begin() + static_cast<std::ptrdiff_t>(reply.from + reply.length));
          continue;
        }
        rpc_msg failed{};
        failed.rm_xid = reply.xid;
        failed.rm_direction = REPLY;
        failed.rm_reply.rp_stat = MSG_ACCEPTED;
        failed.acpted_rply.ar_verf = _null_auth;
        failed.acpted_rply.ar_stat = SYSTEM_ERR;
        const std::size_t length = encodeReply(failed, encoded, kMarkBytes, kLargestReply);
        if (length == 0) return false;
        markRecord(encoded, length);
        answered.insert(answered.end(), encoded.begin(),
                        encoded.begin() + static_cast<std::ptrdiff_t>(kMarkBytes + length));
      }
      replies = std::move(answered);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  const bool sent = replies.empty() || send(replies.data(), replies.size());
  if (!sent) ended_ = true;
  // The buffers are kept for the next round, unless a large reply grew them.
  if (replies.capacity() <= kKeptHeldBytes) {
    replies.clear();
    held_ = std::move(replies);
    each.clear();
    heldReplies_ = std::move(each);
  }
  return sent;
}

bool StreamConnection::answeredForTls(const rpc_msg& call) {
  const bool probe = call.rm_call.cb_cred.oa_flavor == kAuthTls && call.rm_call.cb_proc == 0;
  rpc_msg reply{};
  if (!probe) {
    if (!host_.tlsRequired()) return false;
    // A plain call where TLS is required: the RFC's authentication error.
    reply.rm_reply.rp_stat = MSG_DENIED;
    reply.rjcted_rply.rj_stat = AUTH_ERROR;
    reply.rjcted_rply.rj_why = AUTH_TOOWEAK;
    if (!answer(reply)) ended_ = true;
    return true;
  }
  reply.rm_reply.rp_stat = MSG_ACCEPTED;
  // The verifier that answers the probe; encoding only reads it.
  reply.acpted_rply.ar_verf = {AUTH_NONE, const_cast<char*>(qovix::protocol::kStartTls),
                               sizeof qovix::protocol::kStartTls - 1};
  reply.acpted_rply.ar_stat = SUCCESS;
  reply.acpted_rply.ar_results = {nullptr, toXdrProc(&voidFilter)};
  try {
    // Too many at once: an old one goes, so a crowd of stalled handshakes
    // cannot keep a newcomer out.
    const std::string address = peerPrincipal(transport_.get()).name;
    host_.makeRoomForHandshake(address);
    tls_ = std::make_unique<TlsSession>(fd(), *host_.tls());
    host_.startedHandshake(fd(), address);
  } catch (const std::bad_alloc&) {
    ended_ = true;
    return true;
  }
  if (!answer(reply)) {
    ended_ = true;
    return true;
  }
  stage_ = Stage::Handshake;
  handshakeDeadline_ = Clock::now() + kHandshakeTime;
  // The client writes first; bytes of its ClientHello may be here already.
  if (reader_.buffered() > 0) ended_ = true;  // nothing may come between the probe and TLS
  return true;
}

bool StreamConnection::continueHandshake() {
  if (waitingFrom_ < waiting_.size()) return true;  // the probe's answer goes out first
  switch (tls_->handshake()) {
    case TlsSession::Step::Done: {
      stage_ = Stage::Secure;
      handshakeWrites_ = false;
      host_.endedHandshake(fd());
      host_.unmarkWaiting(fd());
      std::string subject = tls_->clientSubject();
      if (!subject.empty()) {
        try {
          subject_ = std::move(subject);
          host_.principals().connected(principal());
        } catch (const std::bad_alloc&) {
          return false;
        }
      }
      // A call sent right behind the handshake may be decrypted already,
      // where poll does not see it: take it in, and the runtime serves it.
      return readSome();
    }
    case TlsSession::Step::WantRead:
      if (handshakeWrites_) host_.unmarkWaiting(fd());
      handshakeWrites_ = false;
      return true;
    case TlsSession::Step::WantWrite:
      handshakeWrites_ = true;
      try {
        host_.markWaiting(fd());
      } catch (const std::bad_alloc&) {
        return false;
      }
      return true;
    case TlsSession::Step::Failed:
      break;
  }
  return false;
}

long StreamConnection::writeSome(const char* bytes, std::size_t length) {
  if (stage_ == Stage::Secure) {
    const long sent = tls_->write(bytes, length);
    if (sent > 0) lastWritten_ = Clock::now();
    return sent;
  }
  std::size_t done = 0;
  while (done < length) {
    const ssize_t sent = ::send(fd(), bytes + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return -1;
  }
  if (done > 0) lastWritten_ = Clock::now();
  return static_cast<long>(done);
}

bool StreamConnection::send(const char* bytes, std::size_t length) {
  if (!hasWaitingReplies()) {
    const long sent = writeSome(bytes, length);
    if (sent < 0) return false;
    bytes += sent;
    length -= static_cast<std::size_t>(sent);
    if (length == 0) return true;
    waiting_.clear();
    waitingFrom_ = 0;
    lastWritten_ = Clock::now();  // the client's time to take the rest starts now
    try {
      host_.markWaiting(fd());
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  if (waiting_.size() - waitingFrom_ + length > kMostWaitingBytes) return false;
  try {
    waiting_.insert(waiting_.end(), bytes, bytes + length);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool StreamConnection::writeWaiting() {
  if (stage_ == Stage::Handshake && waitingFrom_ >= waiting_.size()) return continueHandshake();
  const long sent = writeSome(waiting_.data() + waitingFrom_, waiting_.size() - waitingFrom_);
  if (sent < 0) return false;
  waitingFrom_ += static_cast<std::size_t>(sent);
  if (!hasWaitingReplies()) {
    waiting_ = {};  // gives the memory back
    waitingFrom_ = 0;
    host_.unmarkWaiting(fd());
  } else if (waitingFrom_ > waiting_.size() / 2) {
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(waitingFrom_));
    waitingFrom_ = 0;
  }
  return true;
}

void StreamConnection::endedByRuntime() {
  host_.forget(fd());  // destroys this object
}
