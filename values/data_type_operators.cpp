// The comparison operators of repository data values. Each asks the left
// operand's `comparison` exactly once and maps its answer; nothing else about
// either operand is looked at.

#include "model/wkm_srv/VornDataType.h"

int VornDataType::operator==(VornDataType const& other) const {
  return comparison(other) == Equal ? 1 : 0;
}

int VornDataType::operator!=(VornDataType const& other) const {
  return comparison(other) != Equal ? 1 : 0;
}

int VornDataType::operator<(VornDataType const& other) const {
  return comparison(other) == LessThan ? 1 : 0;
}

int VornDataType::operator<=(VornDataType const& other) const {
  const Comparisons result = comparison(other);
  return result == LessThan || result == Equal ? 1 : 0;
}

int VornDataType::operator>(VornDataType const& other) const {
  return comparison(other) == GreaterThan ? 1 : 0;
}

int VornDataType::operator>=(VornDataType const& other) const {
  const Comparisons result = comparison(other);
  return result == GreaterThan || result == Equal ? 1 : 0;
}
