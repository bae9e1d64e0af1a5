#pragma once

// The keys a store's indexes are looked up by: who holds a value (the
// feature and the value's payload; its value class does not count), and who
// refers to an object through a feature.

#include <cstdint>
#include <functional>
#include <string>

#include "store/persistent_store.h"

struct ValueKey {
  FeatureId feature;
  std::int32_t number;
  std::u16string text;

  ValueKey(FeatureId holder, const StoredValue& value)
      : feature(holder), number(value.number), text(value.text) {}
  friend bool operator==(const ValueKey&, const ValueKey&) = default;
};

struct ValueKeyHash {
  std::size_t operator()(const ValueKey& held) const {
    return std::hash<std::u16string>()(held.text) * 31 +
           std::hash<std::uint64_t>()((std::uint64_t{held.feature} << 32) ^
                                      static_cast<std::uint32_t>(held.number));
  }
};

inline std::uint64_t referenceKey(FeatureId feature, ObjectId target) {
  return (std::uint64_t{feature} << 32) | target;
}
