#include "host/stream_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "host/program_dispatch.h"
#include "host/reply_encoding.h"
#include "host/stream_listener.h"
#include "xdr/wire_types.h"

namespace {

constexpr std::size_t kMarkBytes = 4;
constexpr std::uint32_t kLastFragment = 0x80000000u;
// A reply goes out as one fragment, whose length has 31 bits.
constexpr std::size_t kLargestReply = 0x7FFFFFFF;
// The most reply bytes that may wait for one client.
constexpr std::size_t kMostWaitingBytes = 8u << 20;

}  // namespace

StreamConnection::StreamConnection(SVCXPRT* connection, StreamListener& listener)
    : listener_(listener), reader_(kMaxCallRecordBytes), transport_(connection, this) {}

StreamConnection::~StreamConnection() { listener_.unmarkWaiting(fd()); }

bool StreamConnection::readSome() {
  std::vector<char>& scratch = listener_.readBuffer();
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
  std::vector<char>& out = listener_.replyBuffer();
  std::size_t length = 0;
  try {
    length = encodeReply(*message, out, kMarkBytes, kLargestReply);
  } catch (const std::bad_alloc&) {
    // No room for these results; the reply buffer always has room for the
    // system error that says so.
    message->acpted_rply.ar_stat = SYSTEM_ERR;
    length = encodeReply(*message, out, kMarkBytes, kLargestReply);
  }
  if (settleBeforeReply(message)) length = encodeReply(*message, out, kMarkBytes, kLargestReply);
  if (length == 0) return FALSE;
  const std::uint32_t mark = kLastFragment | static_cast<std::uint32_t>(length);
  for (std::size_t i = 0; i < kMarkBytes; ++i) {
    out[i] = static_cast<char>(mark >> (8 * (kMarkBytes - 1 - i)));
  }
  const bool sent = send(out.data(), kMarkBytes + length);
  listener_.trimReplyBuffer();
  if (!sent) {
    ended_ = true;
    return FALSE;
  }
  lastActive_ = Clock::now();
  return TRUE;
}

long StreamConnection::writeSome(const char* bytes, std::size_t length) {
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
      listener_.markWaiting(fd());
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
  const long sent = writeSome(waiting_.data() + waitingFrom_, waiting_.size() - waitingFrom_);
  if (sent < 0) return false;
  waitingFrom_ += static_cast<std::size_t>(sent);
  if (!hasWaitingReplies()) {
    waiting_ = {};  // gives the memory back
    waitingFrom_ = 0;
    listener_.unmarkWaiting(fd());
  } else if (waitingFrom_ > waiting_.size() / 2) {
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(waitingFrom_));
    waitingFrom_ = 0;
  }
  return true;
}

void StreamConnection::endedByRuntime() {
  listener_.forget(fd());  // destroys this object
}
