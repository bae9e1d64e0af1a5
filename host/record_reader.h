#pragma once

// Splits the byte stream of a TCP connection into the records of ONC RPC
// record marking: each record is one or more fragments, each fragment a
// four-byte mark (top bit: last fragment; low 31 bits: length) followed by
// that many bytes. Records are bounded in data and in fragment count, so a
// client can never make the reader hold more than about one bound's worth.
//
//   RecordReader reader(1 << 20);
//   reader.append({scratch, read(fd, scratch, sizeof scratch)});
//   while (reader.next() == RecordReader::Next::Record) decode(reader.record());
//
// It holds only the bytes not yet delivered, so a connection that has
// nothing pending holds next to nothing.

#include <cstddef>
#include <span>
#include <vector>

class RecordReader {
 public:
  // The most fragments one record may have.
  static constexpr std::size_t kMaxFragments = 4096;

  explicit RecordReader(std::size_t maxRecordBytes) : maxRecordBytes_(maxRecordBytes) {}

  // Adds bytes that arrived.
  void append(std::span<const char> bytes);

  enum class Next {
    Record,    // record() holds the next record
    NeedMore,  // the next record has not fully arrived
    TooLarge,  // the next record breaks a bound; the stream cannot go on
  };
  // Moves past the record delivered before, if any, and looks for the next.
  Next next();
  // The data of the record `next` found, fragments joined; valid until the
  // next call of `next` or `append`.
  std::span<const char> record() const { return record_; }
  // Whether a whole record is buffered after the one delivered.
  bool hasRecord() const;
  // Bytes buffered and not yet delivered.
  std::size_t buffered() const { return end_ - delivered_; }
  // The memory the reader holds for its buffers.
  std::size_t heldBytes() const { return buffer_.capacity() + joined_.capacity(); }

 private:
  struct Scan {
    Next outcome;
    std::size_t fragments = 0;
    std::size_t end = 0;  // just past the record's last fragment
  };
  Scan scan(std::size_t from) const;
  void dropDelivered();

  std::size_t maxRecordBytes_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;      // the first byte not yet delivered...
  std::size_t delivered_ = 0;  // ...once the record delivered last is dropped
  std::size_t end_ = 0;        // just past the last byte received
  std::vector<char> joined_;   // a record of several fragments, made contiguous
  std::span<const char> record_;
};
