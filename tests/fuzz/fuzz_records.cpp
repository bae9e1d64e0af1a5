// Fuzzes the record reader of qovixd's TCP connections. The first byte
// chooses how the rest is cut into the pieces that reads deliver; the rest
// is the byte stream. The records the reader delivers, piece by piece, must
// be exactly those a plain reading of the whole stream finds, and it must
// stop at the same record when one breaks a bound.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/record_reader.h"

namespace {

// Small, so that inputs of a few kilobytes reach the bound.
constexpr std::size_t kBound = 512;

struct Outcome {
  std::vector<std::string> records;
  bool tooLarge = false;
};

std::uint32_t markAt(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

// The whole stream at once, as the record-marking rules read.
Outcome readWhole(const std::uint8_t* bytes, std::size_t size) {
  Outcome outcome;
  for (std::size_t at = 0;;) {
    std::string record;
    std::size_t fragments = 0;
    for (std::size_t pos = at;;) {
      if (size - pos < 4) return outcome;
      const std::uint32_t mark = markAt(bytes + pos);
      const std::size_t length = mark & 0x7FFFFFFFu;
      ++fragments;
      if (record.size() + length > kBound || fragments > RecordReader::kMaxFragments) {
        outcome.tooLarge = true;
        return outcome;
      }
      pos += 4;
      if (size - pos < length) return outcome;
      record.append(reinterpret_cast<const char*>(bytes + pos), length);
      pos += length;
      if ((mark & 0x80000000u) != 0) {
        outcome.records.push_back(record);
        at = pos;
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  unsigned cuts = data[0];
  const std::uint8_t* stream = data + 1;
  const std::size_t length = size - 1;
  const Outcome expected = readWhole(stream, length);

  RecordReader reader(kBound);
  Outcome seen;
  for (std::size_t at = 0; at < length && !seen.tooLarge;) {
    // Pieces of 1 to 64 bytes, from a tiny generator seeded by the first byte.
    cuts = cuts * 1103515245u + 12345u;
    const std::size_t piece = std::min<std::size_t>(1 + (cuts >> 16) % 64, length - at);
    reader.append({reinterpret_cast<const char*>(stream + at), piece});
    at += piece;
    for (bool more = true; more;) {
      const bool announced = reader.hasRecord();
      switch (reader.next()) {
        case RecordReader::Next::Record:
          seen.records.emplace_back(reader.record().begin(), reader.record().end());
          break;
        case RecordReader::Next::NeedMore:
          if (announced) std::abort();  // a whole record was said to be there
          more = false;
          break;
        case RecordReader::Next::TooLarge:
          seen.tooLarge = true;
          more = false;
          break;
      }
    }
  }
  if (seen.records != expected.records || seen.tooLarge != expected.tooLarge) std::abort();
  return 0;
}
