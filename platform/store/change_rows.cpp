#include "platform/store/change_rows.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::array<const char16_t*, 7> kNames = {u"created", u"deleted", u"value", u"reference",
                                                   u"added",   u"removed", u"values"};

void putWord(std::string& bytes, std::uint32_t word) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<char>((word >> static_cast<unsigned>(shift)) & 0xFFu));
  }
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool done() const { return at_ == bytes_.size(); }
  std::uint32_t word() { return static_cast<std::uint32_t>(take(4)); }
  char16_t unit() { return static_cast<char16_t>(take(2)); }

 private:
  std::uint64_t take(std::size_t count) {
    if (bytes_.size() - at_ < count) throw StoreError("the history holds a damaged list of values");
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      value = (value << 8u) | static_cast<unsigned char>(bytes_[at_++]);
    }
    return value;
  }

  std::string_view bytes_;
  std::size_t at_ = 0;
};

}  // namespace

const char16_t* changeName(SlotChange::Kind kind) { return kNames.at(kind); }

SlotChange::Kind changeKind(std::u16string_view name) {
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (name == kNames[i]) return static_cast<SlotChange::Kind>(i);
  }
  throw StoreError("the history holds a change of no known kind");
}

SlotChange::Kind changeKind(std::string_view name) {
  return changeKind(std::u16string(name.begin(), name.end()));
}

std::string encodeValues(const std::vector<StoredValue>& values) {
  std::string bytes;
  for (const StoredValue& value : values) {
    putWord(bytes, static_cast<std::uint32_t>(value.valueClass));
    putWord(bytes, static_cast<std::uint32_t>(value.number));
    putWord(bytes, static_cast<std::uint32_t>(value.text.size()));
    for (char16_t unit : value.text) {
      bytes.push_back(static_cast<char>(unit >> 8u));
      bytes.push_back(static_cast<char>(unit & 0xFFu));
    }
  }
  return bytes;
}

std::vector<StoredValue> decodeValues(std::string_view bytes) {
  std::vector<StoredValue> values;
  Reader reader(bytes);
  while (!reader.done()) {
    StoredValue& value = values.emplace_back();
    value.valueClass = static_cast<ValueClassId>(reader.word());
    value.number = static_cast<std::int32_t>(reader.word());
    const std::uint32_t units = reader.word();
    // No more units than the bytes left can hold: a damaged length never
    // reserves memory.
    if (units > bytes.size() / 2) throw StoreError("the history holds a damaged list of values");
    value.text.reserve(units);
    for (std::uint32_t i = 0; i < units; ++i) value.text.push_back(reader.unit());
  }
  return values;
}
