#include "store/change_rows.h"

#include <algorithm>
#include <cstdint>

namespace {

void putWord(std::string& bytes, std::uint32_t word) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<char>((word >> static_cast<unsigned>(shift)) & 0xFFu));
  }
}

void putValues(std::string& bytes, const std::vector<StoredValue>& values) {
  putWord(bytes, static_cast<std::uint32_t>(values.size()));
  for (const StoredValue& value : values) {
    putWord(bytes, static_cast<std::uint32_t>(value.valueClass));
    putWord(bytes, static_cast<std::uint32_t>(value.number));
    putWord(bytes, static_cast<std::uint32_t>(value.text.size()));
    for (char16_t unit : value.text) {
      bytes.push_back(static_cast<char>(unit >> 8u));
      bytes.push_back(static_cast<char>(unit & 0xFFu));
    }
  }
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool done() const { return at_ == bytes_.size(); }
  std::size_t left() const { return bytes_.size() - at_; }
  std::uint32_t word() { return static_cast<std::uint32_t>(take(4)); }
  char16_t unit() { return static_cast<char16_t>(take(2)); }

 private:
  std::uint64_t take(std::size_t count) {
    if (left() < count) throw StoreError("the history holds damaged changes");
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      value = (value << 8u) | static_cast<unsigned char>(bytes_[at_++]);
    }
    return value;
  }

  std::string_view bytes_;
  std::size_t at_ = 0;
};

// No more items than the bytes left could hold: a damaged count never
// reserves memory.
std::vector<StoredValue> values(Reader& reader) {
  const std::uint32_t count = reader.word();
  if (count > reader.left() / 12) throw StoreError("the history holds damaged changes");
  std::vector<StoredValue> read;
  for (std::uint32_t n = 0; n < count; ++n) {
    StoredValue& value = read.emplace_back();
    value.valueClass = static_cast<ValueClassId>(reader.word());
    value.number = static_cast<std::int32_t>(reader.word());
    const std::uint32_t units = reader.word();
    if (units > reader.left() / 2) throw StoreError("the history holds damaged changes");
    value.text.reserve(units);
    for (std::uint32_t i = 0; i < units; ++i) value.text.push_back(reader.unit());
  }
  return read;
}

void putChange(std::string& bytes, std::uint32_t step, const SlotChange& change) {
  putWord(bytes, step);
  putWord(bytes, change.kind);
  putWord(bytes, change.feature);
  putWord(bytes, static_cast<std::uint32_t>(change.position));
  putWord(bytes, change.beforeTarget);
  putWord(bytes, change.afterTarget);
  putValues(bytes, change.before);
  putValues(bytes, change.after);
}

}  // namespace

std::unordered_map<ObjectId, std::string> encodeChanges(const std::vector<SlotChange>& changes,
                                                        std::uint32_t firstStep) {
  std::unordered_map<ObjectId, std::string> byObject;
  for (std::size_t step = 0; step < changes.size(); ++step) {
    const SlotChange& change = changes[step];
    putChange(byObject[change.object], firstStep + static_cast<std::uint32_t>(step), change);
  }
  return byObject;
}

CommitHistory::CommitHistory(const CommitRecord& record)
    : record_(record),
      changes_(
          encodeChanges(record.changes, static_cast<std::uint32_t>(record.madeBriefly.size()))) {}

std::string CommitHistory::bytesOf(const TouchedObject& touched) const {
  std::string bytes;
  if (record_.madeBriefly.contains(touched.id)) {
    putChange(bytes, static_cast<std::uint32_t>(record_.madeBriefly.rankOf(touched.id)),
              {.kind = SlotChange::Created, .object = touched.id, .feature = touched.classId});
  }
  if (const auto found = changes_.find(touched.id); found != changes_.end()) {
    bytes += found->second;
  }
  return bytes;
}

std::vector<NumberedChange> decodeChanges(ObjectId object, std::string_view bytes) {
  std::vector<NumberedChange> read;
  Reader reader(bytes);
  while (!reader.done()) {
    NumberedChange& numbered = read.emplace_back();
    numbered.step = reader.word();
    SlotChange& change = numbered.change;
    const std::uint32_t kind = reader.word();
    if (kind > SlotChange::Values) throw StoreError("the history holds a change of no known kind");
    change.kind = static_cast<SlotChange::Kind>(kind);
    change.object = object;
    change.feature = reader.word();
    change.position = static_cast<std::int32_t>(reader.word());
    change.beforeTarget = reader.word();
    change.afterTarget = reader.word();
    change.before = values(reader);
    change.after = values(reader);
  }
  return read;
}

bool changesSlot(ObjectId object, std::optional<FeatureId> feature, const std::string_view* bytes) {
  if (!feature || bytes == nullptr) return true;
  for (const NumberedChange& each : decodeChanges(object, *bytes)) {
    if (each.change.changesSlot(feature)) return true;
  }
  return false;
}

void FirstChanges::add(std::vector<NumberedChange> changes) {
  for (NumberedChange& each : changes) kept_.push_back(std::move(each));
  if (kept_.size() > most_ && kept_.size() - most_ > most_) keepFirst();
}

void FirstChanges::keepFirst() {
  if (kept_.size() <= most_) return;
  const auto bound = kept_.begin() + static_cast<std::ptrdiff_t>(most_);
  std::nth_element(kept_.begin(), bound, kept_.end(),
                   [](const NumberedChange& a, const NumberedChange& b) { return a.step < b.step; });
  leftOut_ += kept_.size() - most_;
  kept_.erase(bound, kept_.end());
}

void FirstChanges::into(CommitRecord& record) && {
  keepFirst();
  record.changes = inCommitOrder(std::move(kept_));
  record.changesLeftOut = leftOut_;
}

std::vector<SlotChange> inCommitOrder(std::vector<NumberedChange> changes) {
  std::stable_sort(
      changes.begin(), changes.end(),
      [](const NumberedChange& a, const NumberedChange& b) { return a.step < b.step; });
  std::vector<SlotChange> ordered;
  ordered.reserve(changes.size());
  for (NumberedChange& each : changes) ordered.push_back(std::move(each.change));
  return ordered;
}
