#include "model/wkm_srv/value_bases.h"

#include <string>

#include "model/wkm_srv/value_class_info.h"
#include "utf/utf.h"

namespace {

template <class T>
VornDataType::Comparisons order(const T& left, const T& right) {
  if (left < right) return VornDataType::LessThan;
  if (right < left) return VornDataType::GreaterThan;
  return VornDataType::Equal;
}

}  // namespace

VornDataType::Comparisons compareClasses(VornDataType const& left, VornDataType const& right) {
  return order(left.datatypeId(), right.datatypeId());
}

VornDataType::Comparisons TextValue::comparison(VornDataType const& other) const {
  if (other.datatypeId() != datatypeId()) return compareClasses(*this, other);
  return order(text_, static_cast<const TextValue&>(other).text_);
}

VornDataType::Comparisons VornInteger::comparison(VornDataType const& other) const {
  if (other.datatypeId() != datatypeId()) return compareClasses(*this, other);
  return order(number_, static_cast<const VornInteger&>(other).number_);
}

std::u16string VornInteger::format() const { return utf::toUtf16(std::to_string(number_)); }

int VornEnumeration::isValid() const {
  return ordinal_ >= 0 && static_cast<std::size_t>(ordinal_) < literals().size() ? 1 : 0;
}

VornDataType::Comparisons VornEnumeration::comparison(VornDataType const& other) const {
  if (other.datatypeId() != datatypeId()) return compareClasses(*this, other);
  return order(ordinal_, static_cast<const VornEnumeration&>(other).ordinal_);
}

std::u16string VornEnumeration::format() const {
  if (isValid()) return utf::toUtf16(literals()[static_cast<std::size_t>(ordinal_)]);
  return utf::toUtf16(std::to_string(ordinal_));
}

bool isWellFormedUtf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

bool takesPayload(const ValueClassInfo& info, std::int32_t number, std::u16string_view text) {
  switch (info.payload) {
    case ValuePayload::Text:
      return isWellFormedUtf16(text);
    case ValuePayload::Ordinal:
      return number >= 0 && number < info.literalCount;
    case ValuePayload::Number:
      return true;
  }
  return false;
}
