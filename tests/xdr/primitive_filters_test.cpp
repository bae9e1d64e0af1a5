#include "xdr/primitive_filters.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/wire_bytes.h"
#include "utf/utf.h"

namespace {

// Decodes through a record stream, which cannot tell how many bytes are left.
class RecordStream {
 public:
  explicit RecordStream(Bytes body) : body_(std::move(body)) {
    const std::uint32_t mark = 0x80000000u | static_cast<std::uint32_t>(body_.size());
    wire_ = words({mark}) + body_;
    xdrrec_create(&stream_, 0, 0, this, &RecordStream::read, nullptr);
    stream_.x_op = XDR_DECODE;
    xdrrec_skiprecord(&stream_);
  }
  ~RecordStream() { xdr_destroy(&stream_); }
  XDR* get() { return &stream_; }

 private:
  static int read(void* self, void* buffer, int size) {
    auto* stream = static_cast<RecordStream*>(self);
    const std::size_t left = stream->wire_.size() - stream->offset_;
    const std::size_t count = std::min(left, static_cast<std::size_t>(size));
    if (count == 0) return -1;
    std::memcpy(buffer, stream->wire_.data() + stream->offset_, count);
    stream->offset_ += count;
    return static_cast<int>(count);
  }

  Bytes body_;
  Bytes wire_;
  std::size_t offset_ = 0;
  XDR stream_{};
};

TEST(ScalarFilters, EachIsOneBigEndianWord) {
  InteropHandle handle = 0xDEADBEEF;
  udt_boolean truth = -1;
  udt_integer count = 2000;
  EXPECT_EQ(encode(X_InteropHandle, handle), words({0xDEADBEEF}));
  EXPECT_EQ(encode(X_udt_boolean, truth), words({0xFFFFFFFF}));
  EXPECT_EQ(encode(X_udt_integer, count), words({0x000007D0}));
}

TEST(ScalarFilters, DecodeTheFullWordRange) {
  InteropHandle handle = 0;
  udt_integer value = 0;
  ASSERT_TRUE(decode(X_InteropHandle, handle, words({0xFFFFFFFF})).decoded);
  EXPECT_EQ(handle, 0xFFFFFFFFu);
  ASSERT_TRUE(decode(X_udt_integer, value, words({0x80000000})).decoded);
  EXPECT_EQ(value, INT32_MIN);
  EXPECT_FALSE(decode(X_udt_integer, value, Bytes{0, 0, 1}).decoded) << "three bytes are no word";
}

TEST(OptionalString, PresentStringIsDiscriminantLengthBytesAndPadding) {
  char* text = heapString("abc");
  EXPECT_EQ(encode(X_OptionalString, text), words({1, 3, 0x61626300}));
  freeWith(X_OptionalString, text);
}

TEST(OptionalString, NullIsOneZeroWordAndEmptyIsNotNull) {
  char* absent = nullptr;
  EXPECT_EQ(encode(X_OptionalString, absent), words({0}));

  char* empty = heapString("");
  EXPECT_EQ(encode(X_OptionalString, empty), words({1, 0}));
  freeWith(X_OptionalString, empty);

  char* decoded = nullptr;
  ASSERT_TRUE(decode(X_OptionalString, decoded, words({1, 0})).decoded);
  ASSERT_NE(decoded, nullptr);
  EXPECT_STREQ(decoded, "");
  freeWith(X_OptionalString, decoded);

  ASSERT_TRUE(decode(X_OptionalString, decoded, words({0})).decoded);
  EXPECT_EQ(decoded, nullptr);
}

TEST(OptionalString, RoundTripsTextOfEveryPadding) {
  for (std::string text : {"a", "ab", "abc", "abcd", "abcde"}) {
    char* original = heapString(text);
    auto bytes = encode(X_OptionalString, original);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size() % 4, 0u);
    char* decoded = nullptr;
    const DecodeOutcome outcome = decode(X_OptionalString, decoded, *bytes);
    ASSERT_TRUE(outcome.decoded);
    EXPECT_EQ(outcome.bytesLeft, 0u);
    EXPECT_STREQ(decoded, text.c_str());
    freeWith(X_OptionalString, original);
    freeWith(X_OptionalString, decoded);
  }
}

TEST(OptionalString, DecodeIntoAHeldSlotReleasesTheOldString) {
  char* slot = heapString("old text that must not leak");
  ASSERT_TRUE(decode(X_OptionalString, slot, words({1, 2, 0x68690000})).decoded);
  EXPECT_STREQ(slot, "hi");
  ASSERT_TRUE(decode(X_OptionalString, slot, words({0})).decoded);
  EXPECT_EQ(slot, nullptr);
}

TEST(OptionalString, UnknownDiscriminantFails) {
  char* slot = nullptr;
  EXPECT_FALSE(decode(X_OptionalString, slot, words({2, 0})).decoded);
  EXPECT_FALSE(decode(X_OptionalString, slot, words({0xFFFFFFFF})).decoded);
  EXPECT_EQ(slot, nullptr);
}

TEST(OptionalString, LengthBeyondTheCallFailsBeforeAllocating) {
  char* slot = nullptr;
  // More than the bytes left in a memory stream.
  EXPECT_FALSE(decode(X_OptionalString, slot, words({1, 9, 0x61626364})).decoded);
  EXPECT_FALSE(decode(X_OptionalString, slot, words({1, 0xFFFFFFFF})).decoded);
  // A record stream cannot tell what is left: the call-record bound holds.
  RecordStream stream(words({1, kMaxCallRecordBytes + 1}));
  EXPECT_FALSE(X_OptionalString(stream.get(), &slot));
  EXPECT_EQ(slot, nullptr);
}

TEST(OptionalString, FreeTwiceIsHarmless) {
  char* slot = heapString("x");
  EXPECT_TRUE(freeWith(X_OptionalString, slot));
  EXPECT_EQ(slot, nullptr);
  EXPECT_TRUE(freeWith(X_OptionalString, slot));
}

TEST(StringUtf16, TextTravelsWithItsTerminatorOneUnitPerWord) {
  Utf16Unit* text = heapText(u"ab");
  EXPECT_EQ(encode(X_stringUTF16, text), words({3, 0x61, 0x62, 0}));
  freeWith(X_stringUTF16, text);
}

TEST(StringUtf16, NullIsCountZeroAndEmptyIsTheTerminatorAlone) {
  Utf16Unit* absent = nullptr;
  EXPECT_EQ(encode(X_stringUTF16, absent), words({0}));
  Utf16Unit* empty = heapText(u"");
  EXPECT_EQ(encode(X_stringUTF16, empty), words({1, 0}));
  freeWith(X_stringUTF16, empty);
}

TEST(StringUtf16, UnitsAreZeroExtendedNotSignExtended) {
  Utf16Unit* text = heapText(u"\xFFFF");
  EXPECT_EQ(encode(X_stringUTF16, text), words({2, 0x0000FFFF, 0}));
  freeWith(X_stringUTF16, text);
}

TEST(StringUtf16, RoundTripsNonAsciiText) {
  Utf16Unit* text = heapText(u"Grüße \u263A \xD83D\xDE00");
  auto bytes = encode(X_stringUTF16, text);
  ASSERT_TRUE(bytes);
  Utf16Unit* decoded = nullptr;
  ASSERT_TRUE(decode(X_stringUTF16, decoded, *bytes).decoded);
  EXPECT_EQ(std::u16string(decoded), std::u16string(text));
  freeWith(X_stringUTF16, text);
  freeWith(X_stringUTF16, decoded);
}

TEST(StringUtf16, CountZeroLeavesTheSlotAsItWas) {
  Utf16Unit* cleared = nullptr;
  ASSERT_TRUE(decode(X_stringUTF16, cleared, words({0})).decoded);
  EXPECT_EQ(cleared, nullptr);
}

TEST(StringUtf16, DecodeIntoAHeldSlotReplacesTheOldText) {
  Utf16Unit* slot = heapText(u"x");
  ASSERT_TRUE(decode(X_stringUTF16, slot, words({4, 0x61, 0x62, 0x63, 0})).decoded);
  EXPECT_EQ(std::u16string(slot), u"abc");
  freeWith(X_stringUTF16, slot);
}

TEST(StringUtf16, TextWithoutItsTerminatorIsStillTerminated) {
  Utf16Unit* slot = nullptr;
  ASSERT_TRUE(decode(X_stringUTF16, slot, words({2, 0x61, 0x62})).decoded);
  EXPECT_EQ(std::u16string(slot), u"ab");
  freeWith(X_stringUTF16, slot);
}

TEST(StringUtf16, CountBeyondTheCallFailsBeforeAllocating) {
  Utf16Unit* slot = nullptr;
  EXPECT_FALSE(decode(X_stringUTF16, slot, words({3, 0x61, 0x62})).decoded);
  EXPECT_FALSE(decode(X_stringUTF16, slot, words({0xFFFFFFFF})).decoded);
  EXPECT_FALSE(decode(X_stringUTF16, slot, words({0x40000001})).decoded) << "4 bytes a unit";
  EXPECT_EQ(slot, nullptr);
  RecordStream stream(words({kMaxCallRecordBytes / 4 + 1}));
  EXPECT_FALSE(X_stringUTF16(stream.get(), &slot));
  EXPECT_EQ(slot, nullptr);
}

// The longest text a value holds decodes with its terminator; one unit more
// does not, whatever the call could carry.
TEST(StringUtf16, TextBeyondTheLongestValueFailsToDecode) {
  const auto textOf = [](std::size_t units) {
    Bytes text = words({static_cast<std::uint32_t>(units + 1)});
    const Bytes unit = words({0x78});
    for (std::size_t i = 0; i < units; ++i) text.insert(text.end(), unit.begin(), unit.end());
    return text + words({0});
  };
  Utf16Unit* slot = nullptr;
  ASSERT_TRUE(decode(X_stringUTF16, slot, textOf(utf::kMostTextUnits)).decoded);
  EXPECT_EQ(std::u16string(slot).size(), utf::kMostTextUnits);
  freeWith(X_stringUTF16, slot);
  EXPECT_FALSE(decode(X_stringUTF16, slot, textOf(utf::kMostTextUnits + 1)).decoded);
  freeWith(X_stringUTF16, slot);
}

TEST(StringUtf16, CutShortDecodeIsReleasedByAFreePass) {
  Utf16Unit* slot = nullptr;
  RecordStream stream(words({3, 0x61}));  // claims three units, carries one
  EXPECT_FALSE(X_stringUTF16(stream.get(), &slot));
  EXPECT_TRUE(freeWith(X_stringUTF16, slot));
  EXPECT_EQ(slot, nullptr);
  EXPECT_TRUE(freeWith(X_stringUTF16, slot)) << "a second free pass is harmless";
}

TEST(StringInfo, SendsItsWordEvenWithoutText) {
  string_info info{nullptr, 5};
  EXPECT_EQ(encode(X_string_info, info), words({5, 0}));
}

TEST(StringInfo, RoundTripsWordThenText) {
  string_info info{heapText(u"hi"), -7};
  auto bytes = encode(X_string_info, info);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, words({0xFFFFFFF9, 3, 0x68, 0x69, 0}));
  string_info decoded{nullptr, 0};
  ASSERT_TRUE(decode(X_string_info, decoded, *bytes).decoded);
  EXPECT_EQ(decoded.textInfo, -7);
  EXPECT_EQ(std::u16string(decoded.text), u"hi");
  freeWith(X_string_info, info);
  freeWith(X_string_info, decoded);
  EXPECT_EQ(decoded.text, nullptr);
  EXPECT_TRUE(freeWith(X_string_info, decoded));
}

}  // namespace
