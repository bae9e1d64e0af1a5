#include "model/wkm_os/value_converter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model_values.h"
#include "tests/support/wire_bytes.h"

namespace {

std::unique_ptr<VornDataType> convert(udt_dataType flat) {
  return std::unique_ptr<VornDataType>(structToDataType(&flat));
}

udt_dataType flatText(ValueClassId id, char16_t* text) {
  udt_dataType flat{};
  flat.kind = kTextArm;
  flat.extra = id;
  flat.text = text;
  return flat;
}

udt_dataType flatNumber(ValueClassId id, std::int32_t number) {
  udt_dataType flat{};
  flat.kind = kNumberArm;
  flat.extra = id;
  flat.value.integer = number;
  return flat;
}

// A value of the class, with a payload other than the default.
std::unique_ptr<VornDataType> sampleOf(const ValueClassInfo& info) {
  std::unique_ptr<VornDataType> value(info.makeDefault());
  if (info.payload == ValuePayload::Text) {
    static_cast<TextValue&>(*value).setText(u"Grüße \u263A");
  } else if (info.payload == ValuePayload::Number) {
    static_cast<VornInteger&>(*value).setNumber(-70000);
  } else {
    static_cast<VornEnumeration&>(*value).setNumber(info.literalCount - 1);
  }
  return value;
}

TEST(ValueConverter, EveryValueClassRoundTripsThroughTheFlatForm) {
  ASSERT_EQ(valueClasses().size(), 24u);
  for (const ValueClassInfo& info : valueClasses()) {
    std::unique_ptr<VornDataType> original = sampleOf(info);
    udt_dataType flat = dataTypeToStruct(original.get());
    EXPECT_EQ(flat.extra, info.id) << info.name;
    EXPECT_EQ(flat.kind, info.payload == ValuePayload::Text ? 10 : 11) << info.name;
    std::unique_ptr<VornDataType> back(structToDataType(&flat));
    ASSERT_NE(back, nullptr) << info.name;
    const VornDataType& backValue = *back;
    const VornDataType& originalValue = *original;
    EXPECT_EQ(typeid(backValue), typeid(originalValue)) << info.name;
    EXPECT_EQ(back->comparison(*original), VornDataType::Equal) << info.name;
    EXPECT_EQ(back->format(), original->format()) << info.name;
  }
}

TEST(ValueConverter, FlatFormsTravelOnTheWire) {
  QOVIXName name(u"Ab");
  udt_dataType flat = dataTypeToStruct(&name);
  EXPECT_EQ(encode(X_VornDataType, flat),
            words({10, static_cast<std::uint32_t>(QOVIXName::kValueClassId), 3, 'A', 'b', 0}));
  QOVIXVisibilityKind visibility(2);
  flat = dataTypeToStruct(&visibility);
  EXPECT_EQ(encode(X_VornDataType, flat),
            words({11, static_cast<std::uint32_t>(QOVIXVisibilityKind::kValueClassId), 2}));
  EXPECT_EQ(encodeWith(toXdrProc(&X_VornDataType), nullptr), words({0xFFFFFFFF, 0}));
}

TEST(ValueConverter, NullGivesTheNullValue) {
  const udt_dataType flat = dataTypeToStruct(nullptr);
  EXPECT_EQ(flat.kind, -1);
}

TEST(ValueConverter, EmptyTextDoesNotDependOnItsObject) {
  udt_dataType flat{};
  {
    VornString empty;
    flat = dataTypeToStruct(&empty);
  }
  ASSERT_NE(flat.text, nullptr);
  EXPECT_EQ(flat.text[0], 0) << "still readable after the object is gone";
  QOVIXName name(u"x");
  EXPECT_EQ(dataTypeToStruct(&name).text, name.text().c_str());
}

TEST(ValueConverter, UnconvertibleInputsGiveNoObject) {
  char16_t text[] = u"x";
  char16_t lonelySurrogate[] = {0xD800, u'a', 0};
  char16_t reversedPair[] = {0xDC00, 0xD800, 0};
  EXPECT_EQ(structToDataType(nullptr), nullptr);
  EXPECT_EQ(convert(udt_dataType{}), nullptr) << "a cleared record";
  udt_dataType null{};
  null.kind = -1;
  null.extra = QOVIXName::kValueClassId;
  EXPECT_EQ(convert(null), nullptr);
  for (ValueClassId unknown : {0, 25, 999, -5}) {
    EXPECT_EQ(convert(flatText(unknown, text)), nullptr) << unknown;
    EXPECT_EQ(convert(flatNumber(unknown, 1)), nullptr) << unknown;
  }
  EXPECT_EQ(convert(flatNumber(QOVIXName::kValueClassId, 1)), nullptr) << "text in the int arm";
  EXPECT_EQ(convert(flatText(QOVIXInteger::kValueClassId, text)), nullptr) << "number as text";
  udt_dataType otherArm = flatText(QOVIXName::kValueClassId, text);
  otherArm.kind = 4;
  EXPECT_EQ(convert(otherArm), nullptr);
  EXPECT_EQ(convert(flatNumber(QOVIXBoolean::kValueClassId, 2)), nullptr);
  EXPECT_EQ(convert(flatNumber(QOVIXBoolean::kValueClassId, -1)), nullptr);
  EXPECT_EQ(convert(flatNumber(QOVIXVisibilityKind::kValueClassId, 3)), nullptr);
  EXPECT_EQ(convert(flatNumber(VornReferenceProcessing::kValueClassId, 2)), nullptr);
  EXPECT_EQ(convert(flatText(QOVIXName::kValueClassId, lonelySurrogate)), nullptr);
  EXPECT_EQ(convert(flatText(QOVIXName::kValueClassId, reversedPair)), nullptr);
}

TEST(ValueConverter, EdgesThatAreFaithful) {
  auto empty = convert(flatText(QOVIXString::kValueClassId, nullptr));
  ASSERT_NE(empty, nullptr) << "no text is the empty text";
  EXPECT_EQ(static_cast<TextValue&>(*empty).text(), u"");
  char16_t pair[] = {0xD83D, 0xDE00, 0};
  EXPECT_NE(convert(flatText(QOVIXName::kValueClassId, pair)), nullptr);
  auto big = convert(flatNumber(QOVIXInteger::kValueClassId, INT32_MIN));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(static_cast<VornInteger&>(*big).number(), INT32_MIN);
  EXPECT_NE(convert(flatNumber(QOVIXPseudostateKind::kValueClassId, 6)), nullptr);
}

TEST(ValueClasses, DefaultsCopiesComparisonsAndFormats) {
  EXPECT_EQ(QOVIXName().text(), u"");
  EXPECT_EQ(QOVIXInteger().number(), 0);
  EXPECT_EQ(QOVIXBoolean().format(), u"false");
  EXPECT_EQ(QOVIXBoolean(1).format(), u"true");
  EXPECT_EQ(QOVIXVisibilityKind(1).format(), u"protected");
  EXPECT_EQ(QOVIXVisibilityKind(7).format(), u"7");
  EXPECT_EQ(QOVIXVisibilityKind(7).isValid(), 0);
  EXPECT_EQ(QOVIXInteger(-3).format(), u"-3");

  QOVIXName a(u"a");
  QOVIXName b(u"b");
  EXPECT_EQ(a.comparison(b), VornDataType::LessThan);
  EXPECT_EQ(b.comparison(a), VornDataType::GreaterThan);
  EXPECT_EQ(a.comparison(QOVIXName(u"a")), VornDataType::Equal);
  QOVIXString sameText(u"a");
  EXPECT_NE(a.comparison(sameText), VornDataType::Equal) << "another class is another value";

  std::unique_ptr<VornObject> copy(a.copy());
  ASSERT_NE(dynamic_cast<QOVIXName*>(copy.get()), nullptr);
  EXPECT_EQ(static_cast<QOVIXName&>(*copy).text(), u"a");
  QOVIXName assigned;
  assigned = b;
  EXPECT_EQ(assigned.text(), u"b");
}

}  // namespace
