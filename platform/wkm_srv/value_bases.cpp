#include "platform/wkm_srv/value_bases.h"

#include <string>

namespace {

template <class T>
VornDataType::Comparisons order(const T& left, const T& right) {
  if (left < right) return VornDataType::LessThan;
  if (right < left) return VornDataType::GreaterThan;
  return VornDataType::Equal;
}

std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

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

std::u16string VornInteger::format() const { return widen(std::to_string(number_)); }

int VornEnumeration::isValid() const {
  return ordinal_ >= 0 && static_cast<std::size_t>(ordinal_) < literals().size() ? 1 : 0;
}

VornDataType::Comparisons VornEnumeration::comparison(VornDataType const& other) const {
  if (other.datatypeId() != datatypeId()) return compareClasses(*this, other);
  return order(ordinal_, static_cast<const VornEnumeration&>(other).ordinal_);
}

std::u16string VornEnumeration::format() const {
  if (isValid()) return widen(literals()[static_cast<std::size_t>(ordinal_)]);
  return widen(std::to_string(ordinal_));
}
