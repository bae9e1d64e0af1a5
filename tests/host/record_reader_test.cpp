// Record marking as a TCP connection delivers it: records split anywhere
// between reads, several fragments, several records per read, and the bounds
// that end a connection.

#include "host/record_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/wire_bytes.h"

namespace {

constexpr std::size_t kBound = 1000;

Bytes fragment(const std::string& data, bool last) {
  return words({(last ? 0x80000000u : 0u) | static_cast<std::uint32_t>(data.size())}) +
         Bytes(data.begin(), data.end());
}

// A record of the given fragments, the last marked last.
Bytes record(std::initializer_list<std::string> fragments) {
  Bytes bytes;
  std::size_t left = fragments.size();
  for (const std::string& data : fragments) bytes = bytes + fragment(data, --left == 0);
  return bytes;
}

void feed(RecordReader& reader, const Bytes& bytes) {
  reader.append({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

std::string text(std::span<const char> bytes) { return {bytes.begin(), bytes.end()}; }

TEST(RecordReader, DeliversOneFragmentRecordsAndFragmentedOnesJoined) {
  RecordReader reader(kBound);
  feed(reader, record({"call"}) + record({"sp", "lit", " call"}) + record({"", "x", ""}));
  ASSERT_EQ(reader.next(), RecordReader::Next::Record);
  EXPECT_EQ(text(reader.record()), "call");
  EXPECT_TRUE(reader.hasRecord());
  ASSERT_EQ(reader.next(), RecordReader::Next::Record);
  EXPECT_EQ(text(reader.record()), "split call");
  ASSERT_EQ(reader.next(), RecordReader::Next::Record);
  EXPECT_EQ(text(reader.record()), "x") << "empty fragments are allowed";
  EXPECT_FALSE(reader.hasRecord());
  EXPECT_EQ(reader.next(), RecordReader::Next::NeedMore);
  EXPECT_EQ(reader.buffered(), 0u);
}

TEST(RecordReader, ARecordCutAtEveryByteArrivesWhole) {
  const Bytes stream = record({"first part ", "second part"}) + record({"next"});
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    RecordReader reader(kBound);
    feed(reader, Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)));
    std::vector<std::string> seen;
    while (reader.next() == RecordReader::Next::Record) seen.push_back(text(reader.record()));
    feed(reader, Bytes(stream.begin() + static_cast<long>(cut), stream.end()));
    while (reader.next() == RecordReader::Next::Record) seen.push_back(text(reader.record()));
    EXPECT_EQ(seen, (std::vector<std::string>{"first part second part", "next"})) << "cut " << cut;
  }
}

TEST(RecordReader, AStalledRecordIsKeptUntilItsLastByte) {
  RecordReader reader(kBound);
  const Bytes whole = record({std::string(500, 'a')});
  for (std::size_t i = 0; i + 1 < whole.size(); ++i) {
    feed(reader, Bytes{whole[i]});
    ASSERT_EQ(reader.next(), RecordReader::Next::NeedMore) << "after " << i + 1 << " bytes";
  }
  feed(reader, Bytes{whole.back()});
  ASSERT_EQ(reader.next(), RecordReader::Next::Record);
  EXPECT_EQ(reader.record().size(), 500u);
}

TEST(RecordReader, BoundsAreJudgedFromTheMarksAlone) {
  {
    RecordReader reader(kBound);
    feed(reader, record({std::string(kBound, 'a')}));
    EXPECT_EQ(reader.next(), RecordReader::Next::Record) << "exactly the bound";
  }
  {
    RecordReader reader(kBound);
    feed(reader, words({0x80000000u | (kBound + 1)}));
    EXPECT_EQ(reader.next(), RecordReader::Next::TooLarge) << "one over, before its data";
  }
  {
    RecordReader reader(kBound);
    feed(reader, words({0xFFFFFFFF}));
    EXPECT_EQ(reader.next(), RecordReader::Next::TooLarge);
  }
  {
    RecordReader reader(kBound);
    feed(reader, fragment(std::string(600, 'a'), false) + words({0x80000000u | 401}));
    EXPECT_EQ(reader.next(), RecordReader::Next::TooLarge) << "fragments adding past the bound";
  }
  {
    RecordReader reader(kBound);
    Bytes empties;
    for (std::size_t i = 0; i < RecordReader::kMaxFragments; ++i) empties = empties + words({0});
    feed(reader, empties);
    EXPECT_EQ(reader.next(), RecordReader::Next::NeedMore) << "as many fragments as allowed";
    feed(reader, words({0}));
    EXPECT_EQ(reader.next(), RecordReader::Next::TooLarge) << "one fragment more";
  }
}

TEST(RecordReader, HoldsLittleOnceRecordsAreServed) {
  RecordReader reader(kBound);
  for (int i = 0; i < 1000; ++i) {
    feed(reader, record({"abc", "def"}) + record({std::string(100, 'x')}));
    ASSERT_EQ(reader.next(), RecordReader::Next::Record);
    ASSERT_EQ(text(reader.record()), "abcdef");
    ASSERT_EQ(reader.next(), RecordReader::Next::Record);
    ASSERT_EQ(reader.record().size(), 100u);
  }
  EXPECT_EQ(reader.next(), RecordReader::Next::NeedMore);
  EXPECT_LE(reader.heldBytes(), 4096u) << "the buffer did not grow with the traffic";

  // The room large records took, whole and in fragments, is given back once
  // they are served.
  RecordReader large(1 << 20);
  feed(large, record({std::string(100000, 'y')}) + record({std::string(60000, 'z'), "z"}));
  ASSERT_EQ(large.next(), RecordReader::Next::Record);
  EXPECT_EQ(large.record().size(), 100000u);
  ASSERT_EQ(large.next(), RecordReader::Next::Record);
  EXPECT_EQ(large.record().size(), 60001u);
  EXPECT_EQ(large.next(), RecordReader::Next::NeedMore);
  EXPECT_LE(large.heldBytes(), 4096u) << "an idle connection holds next to nothing";
}

}  // namespace
