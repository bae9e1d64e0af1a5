#include "xdr/data_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/wire_bytes.h"

namespace {

udt_dataType cleared() { return udt_dataType{}; }

udt_dataType header(std::int32_t kind, std::int32_t extra) {
  udt_dataType value{};
  value.kind = kind;
  value.extra = extra;
  return value;
}

// Encodes, decodes into a cleared record, and encodes again: the two
// encodings must agree. Returns the decoded record (to be freed).
udt_dataType roundTrip(udt_dataType& original, const Bytes& expected) {
  const auto bytes = encode(X_VornDataType, original);
  EXPECT_TRUE(bytes);
  if (!bytes) return cleared();
  EXPECT_EQ(*bytes, expected) << hex(*bytes);
  udt_dataType decoded = cleared();
  const DecodeOutcome outcome = decode(X_VornDataType, decoded, *bytes);
  EXPECT_TRUE(outcome.decoded);
  EXPECT_EQ(outcome.bytesLeft, 0u);
  EXPECT_EQ(encode(X_VornDataType, decoded), bytes);
  EXPECT_EQ(decoded.kind, original.kind);
  EXPECT_EQ(decoded.extra, original.extra);
  return decoded;
}

TEST(DataValue, NullPointerIsMinusOneAndZero) {
  EXPECT_EQ(encodeWith(toXdrProc(&X_VornDataType), nullptr), words({0xFFFFFFFF, 0}));
  XDR freeing{};
  freeing.x_op = XDR_FREE;
  EXPECT_TRUE(X_VornDataType(&freeing, nullptr));
}

TEST(DataValue, NullKindSendsTheHeaderAloneWhateverTheRecordHolds) {
  udt_dataType value = header(-1, 77);
  value.value.longPair = {5, 6};
  value.text = heapText(u"ignored");
  EXPECT_EQ(encode(X_VornDataType, value), words({0xFFFFFFFF, 77}));
  std::free(value.text);
}

TEST(DataValue, ReceivedNullIsStoredWithItsExtra) {
  udt_dataType value = cleared();
  const DecodeOutcome outcome = decode(X_VornDataType, value, words({0xFFFFFFFF, 9}));
  ASSERT_TRUE(outcome.decoded);
  EXPECT_EQ(outcome.bytesLeft, 0u);
  EXPECT_EQ(value.kind, -1);
  EXPECT_EQ(value.extra, 9);
  EXPECT_TRUE(freeWith(X_VornDataType, value)) << "a free pass goes past a null value";
}

TEST(DataValue, ClearedRecordFailsToEncodeAndToFree) {
  udt_dataType value = cleared();
  EXPECT_FALSE(encode(X_VornDataType, value));
  EXPECT_FALSE(freeWith(X_VornDataType, value));
}

TEST(DataValue, UnknownKindsFailAfterTheHeader) {
  for (std::int32_t kind : {0, 13, -2, std::numeric_limits<std::int32_t>::min()}) {
    udt_dataType value = cleared();
    const DecodeOutcome outcome =
        decode(X_VornDataType, value, words({static_cast<std::uint32_t>(kind), 4, 1, 2}));
    EXPECT_FALSE(outcome.decoded) << kind;
    EXPECT_EQ(outcome.bytesLeft, 8u) << "both header words were read";
    EXPECT_EQ(value.kind, kind) << "and stored";
  }
}

TEST(DataValue, Arm1And9CarryTwoLongs) {
  for (std::int32_t kind : {1, 9}) {
    udt_dataType value = header(kind, 3);
    value.value.longPair = {-1, 70000};
    udt_dataType back = roundTrip(value, words({static_cast<std::uint32_t>(kind), 3, 0xFFFFFFFF, 70000}));
    EXPECT_EQ(back.value.longPair.first, -1);
    EXPECT_EQ(back.value.longPair.second, 70000);
  }
}

TEST(DataValue, Arm2SignExtendsCharsAndShort) {
  udt_dataType value = header(2, 0);
  value.value.charsAndShort = {1, 2, -1, 2000};
  udt_dataType back = roundTrip(value, words({2, 0, 1, 2, 0xFFFFFFFF, 0x7D0}));
  EXPECT_EQ(back.value.charsAndShort.char3, -1);
  EXPECT_EQ(back.value.charsAndShort.short1, 2000);

  value.value.charsAndShort = {-128, 127, 0, -32768};
  roundTrip(value, words({2, 0, 0xFFFFFF80, 0x7F, 0, 0xFFFF8000}));
}

TEST(DataValue, Arm3And12CarryAHandle) {
  for (std::int32_t kind : {3, 12}) {
    udt_dataType value = header(kind, 1);
    value.value.handle = 0xFFFFFFFE;
    EXPECT_EQ(roundTrip(value, words({static_cast<std::uint32_t>(kind), 1, 0xFFFFFFFE})).value.handle,
              0xFFFFFFFEu);
  }
}

TEST(DataValue, Arm4SendsTextInfoThenText) {
  udt_dataType value = header(4, 2);
  value.textInfo = 5;
  value.text = heapText(u"ab");
  udt_dataType back = roundTrip(value, words({4, 2, 5, 3, 0x61, 0x62, 0}));
  EXPECT_EQ(std::u16string(back.text), u"ab");
  EXPECT_EQ(back.textInfo, 5);
  freeWith(X_VornDataType, value);
  freeWith(X_VornDataType, back);
  EXPECT_EQ(back.text, nullptr);
}

TEST(DataValue, Arm4WithNullTextIsSixteenBytes) {
  udt_dataType value = header(4, 0);
  value.textInfo = 1;
  const auto bytes = encode(X_VornDataType, value);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, words({4, 0, 1, 0}));
}

TEST(DataValue, Arm5CarriesADouble) {
  for (double number : {0.0, -1.5, 1e300, std::numeric_limits<double>::infinity()}) {
    udt_dataType value = header(5, 0);
    value.value.real = number;
    const auto bytes = encode(X_VornDataType, value);
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 16u);
    udt_dataType back = cleared();
    ASSERT_TRUE(decode(X_VornDataType, back, *bytes).decoded);
    EXPECT_EQ(back.value.real, number);
  }
  udt_dataType one = header(5, 0);
  one.value.real = 1.0;
  EXPECT_EQ(encode(X_VornDataType, one), words({5, 0, 0x3FF00000, 0}));
}

TEST(DataValue, Arm6SendsFirstThirdSecond) {
  udt_dataType value = header(6, 0);
  value.value.longTriple = {1, 2, 3};
  udt_dataType back = roundTrip(value, words({6, 0, 1, 3, 2}));
  EXPECT_EQ(back.value.longTriple.first, 1);
  EXPECT_EQ(back.value.longTriple.second, 2);
  EXPECT_EQ(back.value.longTriple.third, 3);
}

TEST(DataValue, Arm7WithTwoNullStringsIsTwentyFourBytes) {
  udt_dataType value = header(7, 0);
  value.value.longsAndStrings = {8, 9, nullptr, nullptr};
  udt_dataType back = roundTrip(value, words({7, 0, 8, 9, 0, 0}));
  EXPECT_EQ(back.value.longsAndStrings.string1, nullptr);
  EXPECT_EQ(back.value.longsAndStrings.string2, nullptr);
}

TEST(DataValue, Arm7CarriesTwoOptionalStrings) {
  udt_dataType value = header(7, 4);
  value.value.longsAndStrings = {1, 2, heapString("abc"), heapString("")};
  udt_dataType back = roundTrip(value, words({7, 4, 1, 2, 1, 3, 0x61626300, 1, 0}));
  EXPECT_STREQ(back.value.longsAndStrings.string1, "abc");
  EXPECT_STREQ(back.value.longsAndStrings.string2, "");
  freeWith(X_VornDataType, value);
  freeWith(X_VornDataType, back);
  EXPECT_EQ(back.value.longsAndStrings.string1, nullptr);
  EXPECT_EQ(back.value.longsAndStrings.string2, nullptr);
}

TEST(DataValue, Arm8CarriesShortThenChars) {
  udt_dataType value = header(8, 0);
  value.value.shortAndChars = {-2, 3, -4};
  udt_dataType back = roundTrip(value, words({8, 0, 0xFFFFFFFE, 3, 0xFFFFFFFC}));
  EXPECT_EQ(back.value.shortAndChars.short1, -2);
  EXPECT_EQ(back.value.shortAndChars.char2, -4);
}

TEST(DataValue, Arm10CarriesTextAlone) {
  udt_dataType value = header(10, 6);
  value.textInfo = 99;  // not part of arm 10
  value.text = heapText(u"Name");
  udt_dataType back = roundTrip(value, words({10, 6, 5, 'N', 'a', 'm', 'e', 0}));
  EXPECT_EQ(std::u16string(back.text), u"Name");
  EXPECT_EQ(back.textInfo, 0);
  freeWith(X_VornDataType, value);
  freeWith(X_VornDataType, back);
}

TEST(DataValue, Arm11CarriesAnInt) {
  udt_dataType value = header(11, 0);
  value.value.integer = -7;
  EXPECT_EQ(roundTrip(value, words({11, 0, 0xFFFFFFF9})).value.integer, -7);
}

TEST(DataValue, DecodeCutShortAnywhereFailsAndAFreePassReleasesIt) {
  udt_dataType texts = header(7, 1);
  texts.value.longsAndStrings = {1, 2, heapString("first string"), heapString("second")};
  udt_dataType info = header(4, 1);
  info.text = heapText(u"some text");
  for (udt_dataType* original : {&texts, &info}) {
    const auto bytes = encode(X_VornDataType, *original);
    ASSERT_TRUE(bytes);
    for (std::size_t cut = 0; cut < bytes->size(); ++cut) {
      udt_dataType value = cleared();
      EXPECT_FALSE(decode(X_VornDataType, value, Bytes(bytes->begin(), bytes->begin() + cut)).decoded)
          << "cut at " << cut;
      freeWith(X_VornDataType, value);  // leaves nothing allocated (checked under ASan)
    }
    freeWith(X_VornDataType, *original);
  }
}

TEST(DataValue, TextCountBeyondTheCallFailsBeforeAllocating) {
  udt_dataType value = cleared();
  EXPECT_FALSE(decode(X_VornDataType, value, words({10, 0, 0x7FFFFFFF, 0x61})).decoded);
  EXPECT_EQ(value.text, nullptr);
  EXPECT_FALSE(decode(X_VornDataType, value, words({7, 0, 1, 2, 1, 0xFFFFFFF0})).decoded);
  EXPECT_EQ(value.value.longsAndStrings.string1, nullptr);
}

}  // namespace
