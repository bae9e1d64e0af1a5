#include "host/record_reader.h"

#include <cstdint>
#include <cstring>

#include "qovix_protocol.h"

namespace {

constexpr std::size_t kMarkBytes = 4;
using qovix::protocol::kLastFragment;
// Above this, a buffer that has emptied is given back rather than kept, so
// a connection that once sent a large record does not hold its room.
constexpr std::size_t kKeptBufferBytes = 4 * 1024;

std::uint32_t markAt(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
         std::uint32_t{b[3]};
}

}  // namespace

RecordReader::Scan RecordReader::scan(std::size_t from) const {
  Scan result{Next::NeedMore};
  std::size_t data = 0;
  for (std::size_t at = from;;) {
    if (end_ - at < kMarkBytes) return result;
    const std::uint32_t mark = markAt(buffer_.data() + at);
    const std::size_t length = mark & ~kLastFragment;
    data += length;
    ++result.fragments;
    // Judged on the marks alone, before the data arrives.
    if (data > maxRecordBytes_ || result.fragments > kMaxFragments) {
      result.outcome = Next::TooLarge;
      return result;
    }
    at += kMarkBytes;
    if (end_ - at < length) return result;
    at += length;
    if ((mark & kLastFragment) != 0) {
      result.outcome = Next::Record;
      result.end = at;
      return result;
    }
  }
}

void RecordReader::dropDelivered() {
  begin_ = delivered_;
  record_ = {};
  if (begin_ == end_) {
    begin_ = delivered_ = end_ = 0;
    buffer_.clear();
    // Moving an empty vector in gives the storage back; clear() keeps it.
    if (buffer_.capacity() > kKeptBufferBytes) buffer_ = std::vector<char>();
    if (joined_.capacity() > kKeptBufferBytes) joined_ = std::vector<char>();
  }
}

void RecordReader::append(std::span<const char> bytes) {
  dropDelivered();
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = delivered_ = 0;
  }
  buffer_.resize(end_);  // drops what was moved down
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  end_ = buffer_.size();
}

RecordReader::Next RecordReader::next() {
  dropDelivered();
  const Scan found = scan(begin_);
  if (found.outcome != Next::Record) return found.outcome;

  if (found.fragments == 1) {
    record_ = {buffer_.data() + begin_ + kMarkBytes, found.end - begin_ - kMarkBytes};
  } else {
    joined_.clear();
    for (std::size_t at = begin_; at < found.end;) {
      const std::size_t length = markAt(buffer_.data() + at) & ~kLastFragment;
      const char* data = buffer_.data() + at + kMarkBytes;
      joined_.insert(joined_.end(), data, data + length);
      at += kMarkBytes + length;
    }
    record_ = joined_;
  }
  delivered_ = found.end;
  return Next::Record;
}

bool RecordReader::hasRecord() const { return scan(delivered_).outcome == Next::Record; }
