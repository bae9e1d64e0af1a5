#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <queue>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <variant>

#include "store/collection_reads.h"
#include "store/index_keys.h"
#include "store/persistent_store.h"

std::vector<ObjectId> mergeInCreationOrder(std::vector<std::vector<ObjectId>> lists) {
  std::erase_if(lists, [](const std::vector<ObjectId>& list) { return list.empty(); });
  if (lists.empty()) return {};
  if (lists.size() == 1) return std::move(lists.front());
  // A k-way merge: each list is in order already, so only their heads compete.
  using Head = std::pair<ObjectId, std::size_t>;  // id, list
  std::priority_queue<Head, std::vector<Head>, std::greater<>> heads;
  std::vector<std::size_t> next(lists.size(), 1);
  std::size_t total = 0;
  for (std::size_t i = 0; i < lists.size(); ++i) {
    heads.emplace(lists[i].front(), i);
    total += lists[i].size();
  }
  std::vector<ObjectId> merged;
  merged.reserve(total);
  while (!heads.empty()) {
    const auto [id, list] = heads.top();
    heads.pop();
    merged.push_back(id);
    if (next[list] < lists[list].size()) heads.emplace(lists[list][next[list]++], list);
  }
  return merged;
}

namespace {

using ValueList = std::vector<StoredValue>;
using Ids = std::vector<ObjectId>;

struct Slot {
  FeatureId feature;
  std::variant<StoredValue, ObjectId, std::unique_ptr<OrderedIdSet>, std::unique_ptr<ValueList>>
      content;
};

// An object's slots, few per object, found by a short linear search.
struct ObjectRecord {
  ClassId classId;
  std::vector<Slot> slots;
  bool removed = false;

  Slot* find(FeatureId feature) {
    for (Slot& slot : slots) {
      if (slot.feature == feature) return &slot;
    }
    return nullptr;
  }
  const Slot* find(FeatureId feature) const {
    return const_cast<ObjectRecord*>(this)->find(feature);
  }
};

template <class T>
T* held(Slot* slot) {
  if (slot == nullptr) return nullptr;
  if constexpr (std::is_same_v<T, StoredValue> || std::is_same_v<T, ObjectId>) {
    return std::get_if<T>(&slot->content);
  } else {
    auto* owner = std::get_if<std::unique_ptr<T>>(&slot->content);
    return owner != nullptr ? owner->get() : nullptr;
  }
}

Ids inOrder(const std::set<ObjectId>* ids) {
  return ids != nullptr ? Ids(ids->begin(), ids->end()) : Ids{};
}

class MemoryStore final : public CollectionReadsOf<MemoryStore> {
  friend class CollectionReadsOf<MemoryStore>;

 public:
  explicit MemoryStore(const StoreOptions& options) : searchedName_(options.searchedName) {
    keepRoots(options.roots);
  }

  ObjectId createObject(ClassId classId) override {
    if (objects_.size() >= UINT32_MAX - 1) throw std::length_error("the repository is full");
    if (classId >= byClass_.size()) byClass_.resize(classId + 1);
    objects_.push_back({classId, {}});
    const auto id = static_cast<ObjectId>(objects_.size());
    try {
      byClass_[classId].push_back(id);
    } catch (...) {
      objects_.pop_back();
      throw;
    }
    keepUndo([this, classId] {
      byClass_[classId].pop_back();
      objects_.pop_back();
    });
    return id;
  }

  bool exists(ObjectId id) const override {
    return id != 0 && id <= objects_.size() && !objects_[id - 1].removed;
  }

  std::vector<FeatureId> writtenFeatures(ObjectId id) const override {
    std::vector<FeatureId> written;
    if (!exists(id)) return written;
    for (const Slot& slot : objects_[id - 1].slots) written.push_back(slot.feature);
    std::sort(written.begin(), written.end());
    return written;
  }

  ClassId classOf(ObjectId id) const override { return exists(id) ? objects_[id - 1].classId : 0; }

  Ids instancesOf(std::span<const ClassId> classes) const override {
    std::vector<Ids> lists;
    for (ClassId classId : classes) {
      if (classId >= byClass_.size()) continue;
      lists.push_back(byClass_[classId]);
      // Removed objects stay in the lists, skipped here: removing one costs
      // no search through its class's.
      if (removed_ > 0) std::erase_if(lists.back(), [&](ObjectId id) { return !exists(id); });
    }
    return mergeInCreationOrder(std::move(lists));
  }

  std::size_t objectCount() const override { return objects_.size() - removed_; }

  void eraseObject(ObjectId id) override {
    ObjectRecord& object = record(id);
    std::vector<FeatureId> features;
    for (const Slot& slot : object.slots) features.push_back(slot.feature);
    for (FeatureId feature : features) {
      Slot& written = *record(id).find(feature);
      if (held<StoredValue>(&written) != nullptr) {
        std::optional<StoredValue> before = putValue(id, feature, std::nullopt);
        keepUndo(
            [this, id, feature, before = std::move(before)] { putValue(id, feature, before); });
      } else if (held<OrderedIdSet>(&written) != nullptr) {
        dropMembers(id, feature);
      } else if (held<ValueList>(&written) != nullptr) {
        writeValues(id, feature, {});
      } else {
        writeReference(id, feature, 0);
      }
    }
    logUndo([this, id] {
      objects_[id - 1].removed = false;
      --removed_;
    });
    objects_[id - 1].removed = true;
    ++removed_;
  }

  // A removed object keeps its place, class and emptied slots: it comes
  // back with none of them written.
  void reviveObject(ObjectId id, ClassId classId) override {
    if (id == 0 || id > objects_.size() || !objects_[id - 1].removed ||
        objects_[id - 1].classId != classId) {
      throw std::invalid_argument("object " + std::to_string(id) + " cannot be brought back");
    }
    ObjectRecord& object = objects_[id - 1];
    auto slots = std::make_shared<std::vector<Slot>>(std::move(object.slots));
    object.slots.clear();
    object.removed = false;
    --removed_;
    keepUndo([this, id, slots] {
      objects_[id - 1].slots = std::move(*slots);
      objects_[id - 1].removed = true;
      ++removed_;
    });
  }

  std::optional<StoredValue> value(ObjectId id, FeatureId feature) const override {
    const StoredValue* value = held<StoredValue>(find(id, feature));
    return value != nullptr ? std::optional(*value) : std::nullopt;
  }

  void writeValue(ObjectId id, FeatureId feature, const StoredValue& value) override {
    std::optional<StoredValue> before = putValue(id, feature, value);
    keepUndo([this, id, feature, before = std::move(before)] { putValue(id, feature, before); });
  }

  void eraseValue(ObjectId id, FeatureId feature) override {
    std::optional<StoredValue> before = putValue(id, feature, std::nullopt);
    keepUndo([this, id, feature, before = std::move(before)] { putValue(id, feature, before); });
  }

  Ids namesMatching(name_search::Match match, std::u16string_view folded,
                    std::size_t most) const override {
    return names_.matching(match, folded, most);
  }

  std::vector<ObjectId> roots() const override { return {roots_.begin(), roots_.end()}; }
  void writeRoot(ObjectId id, bool root) override {
    if (root == roots_.contains(id)) return;
    if (root) {
      roots_.insert(id);
      keepUndo([this, id] { roots_.erase(id); });
    } else {
      roots_.erase(id);
      keepUndo([this, id] { roots_.insert(id); });
    }
  }

  Ids holdingValue(FeatureId feature, const StoredValue& value) const override {
    const auto found = holders_.find(ValueKey{feature, value});
    return inOrder(found != holders_.end() ? &found->second : nullptr);
  }

  ObjectId reference(ObjectId id, FeatureId feature) const override {
    const ObjectId* target = held<ObjectId>(find(id, feature));
    return target != nullptr ? *target : 0;
  }

  void writeReference(ObjectId id, FeatureId feature, ObjectId target) override {
    const ObjectId before = putReference(id, feature, target);
    keepUndo([this, id, feature, before] { putReference(id, feature, before); });
  }

  bool addMemberAt(ObjectId id, FeatureId feature, ObjectId member, VornLong position) override {
    OrderedIdSet& members = mutableCollection(id, feature);
    if (!members.insertAt(member, position)) return false;
    try {
      indexReference(feature, member, id);
    } catch (...) {
      members.remove(member);
      throw;
    }
    keepUndo([this, id, feature, member] { takeMember(id, feature, member); });
    return true;
  }

  void dropMember(ObjectId id, FeatureId feature, ObjectId member) override {
    const OrderedIdSet* held = collection(id, feature);
    const VornLong position = held != nullptr ? held->indexOf(member) : -1;
    if (position < 0) return;
    logUndo([this, id, feature, member, position] {
      mutableCollection(id, feature).insertAt(member, position);
      indexReference(feature, member, id);
    });
    takeMember(id, feature, member);
  }

  void dropMembers(ObjectId id, FeatureId feature) override {
    Ids before = members(id, feature);
    if (before.empty()) return;
    logUndo([this, id, feature, before] {
      for (ObjectId member : before) {
        mutableCollection(id, feature).append(member);
        indexReference(feature, member, id);
      }
    });
    for (ObjectId member : before) takeMember(id, feature, member);
  }

  Ids referrers(FeatureId feature, ObjectId target) const override {
    const auto found = referrers_.find(referenceKey(feature, target));
    return inOrder(found != referrers_.end() ? &found->second : nullptr);
  }

  std::vector<std::pair<FeatureId, ObjectId>> referencesTo(ObjectId target) const override {
    std::vector<std::pair<FeatureId, ObjectId>> found;
    const auto features = referredBy_.find(target);
    if (features == referredBy_.end()) return found;
    for (FeatureId feature : features->second) {
      for (ObjectId referrer : referrers(feature, target)) found.emplace_back(feature, referrer);
    }
    return found;
  }

  ValueList values(ObjectId id, FeatureId feature) const override {
    const ValueList* values = held<ValueList>(const_cast<MemoryStore*>(this)->find(id, feature));
    return values != nullptr ? *values : ValueList{};
  }

  void writeValues(ObjectId id, FeatureId feature, ValueList values) override {
    ValueList before = putValues(id, feature, std::move(values));
    keepUndo([this, id, feature, before = std::move(before)] { putValues(id, feature, before); });
  }

  std::uint64_t lastCommit() const override { return lastCommit_; }

  std::vector<CommitRecord> commitsSince(std::uint64_t sequence, std::size_t most,
                                         std::size_t mostObjects) const override {
    std::vector<CommitRecord> found;
    const auto from = std::upper_bound(
        log_.begin(), log_.end(), sequence,
        [](std::uint64_t after, const CommitRecord& row) { return after < row.sequence; });
    std::size_t objects = 0;
    for (auto row = from; row != log_.end() && found.size() < most; ++row) {
      objects += touchedCount(*row);
      if (!found.empty() && objects > mostObjects) break;
      found.push_back(partOf(*row, std::nullopt));
    }
    return found;
  }

  std::vector<CommitRecord> historyOf(ObjectId object, std::uint64_t before,
                                      std::size_t most) const override {
    std::vector<CommitRecord> found;
    const auto commits = byObject_.find(object);
    if (commits == byObject_.end()) return found;
    const auto& sequences = commits->second;
    auto at = before == 0 ? sequences.end()
                          : std::lower_bound(sequences.begin(), sequences.end(), before);
    while (at != sequences.begin() && found.size() < most) {
      const CommitRecord* row = logged(*--at);
      if (row == nullptr) break;  // older ones are gone from the log
      found.push_back(partOf(*row, object));
    }
    return found;
  }

  std::optional<CommitRecord> commitAt(std::uint64_t sequence,
                                       std::size_t mostChanges) const override {
    const CommitRecord* row = logged(sequence);
    if (row == nullptr) return std::nullopt;
    // The changes are copied up to the bound, and no further.
    const auto copied = static_cast<std::ptrdiff_t>(std::min(mostChanges, row->changes.size()));
    CommitRecord found{.sequence = row->sequence,
                       .timeMicros = row->timeMicros,
                       .principal = row->principal,
                       .server = row->server,
                       .created = row->created,
                       .changed = row->changed,
                       .deleted = row->deleted,
                       .madeBriefly = row->madeBriefly,
                       .changes = {row->changes.begin(), row->changes.begin() + copied},
                       .changesLeftOut = row->changes.size() - static_cast<std::size_t>(copied)};
    return found;
  }

  std::uint64_t nextKeptChangeOf(ObjectId object, std::optional<FeatureId> feature,
                                 std::uint64_t after) const override {
    const auto commits = byObject_.find(object);
    if (commits == byObject_.end()) return 0;
    const auto& sequences = commits->second;
    for (auto at = std::upper_bound(sequences.begin(), sequences.end(), after);
         at != sequences.end(); ++at) {
      const CommitRecord* row = logged(*at);
      if (row == nullptr) continue;
      if (mayHaveChanged(row->changes, object, feature)) return row->sequence;
    }
    return 0;
  }

  void beginTransaction(bool) override {}

  // The log's rows are kept first: when they cannot be, the changes are
  // undone.
  void commitChanges(std::span<CommitRecord> records) override {
    const std::size_t logged = log_.size();
    try {
      for (CommitRecord& record : records) {
        record.sequence = lastCommit_ + 1 + (log_.size() - logged);
        log_.push_back(withMadeChanges(record));
        forEachTouched(record, [&](ObjectId id) { byObject_[id].push_back(record.sequence); });
      }
    } catch (...) {
      while (log_.size() > logged) {
        const std::uint64_t sequence = log_.back().sequence;
        forEachTouched(log_.back(), [&](ObjectId id) {
          if (auto found = byObject_.find(id); found != byObject_.end() && !found->second.empty() &&
                                               found->second.back() == sequence) {
            found->second.pop_back();
          }
        });
        log_.pop_back();
      }
      throw;
    }
    lastCommit_ += records.size();
    // The log is as lasting as the repository: its latest rows alone.
    while (log_.size() > kMostLogRows) forgetOldest();
    undo_.clear();
    mark_ = 0;
  }

  void rollbackChanges() override { undoTo(0); }

  void markCall() override { mark_ = undo_.size(); }
  void rollbackToMark() override { undoTo(mark_); }
  void releaseMark() override {}

 private:
  static constexpr std::size_t kMostLogRows = 100'000;

  void undoTo(std::size_t mark) {
    while (undo_.size() > mark) {
      undo_.back()();
      undo_.pop_back();
    }
    mark_ = std::min(mark_, mark);
  }

  // A row of the log without its changes; with an object, that object's
  // part alone, with its changes.
  static CommitRecord partOf(const CommitRecord& row, std::optional<ObjectId> object) {
    CommitRecord part{row.sequence, row.timeMicros, row.principal, row.server, {}, {}, {}, {}, {}};
    if (!object) {
      part.created = row.created;
      part.changed = row.changed;
      part.deleted = row.deleted;
      return part;
    }
    const std::pair<const std::vector<TouchedObject>*, std::vector<TouchedObject>*> lists[] = {
        {&row.created, &part.created},
        {&row.changed, &part.changed},
        {&row.deleted, &part.deleted}};
    for (const auto& [from, to] : lists) {
      for (const TouchedObject& touched : *from) {
        if (touched.id == *object) to->push_back(touched);
      }
    }
    for (const SlotChange& change : row.changes) {
      if (change.object == *object) part.changes.push_back(change);
    }
    return part;
  }

  const CommitRecord* logged(std::uint64_t sequence) const {
    if (log_.empty() || sequence < log_.front().sequence || sequence > log_.back().sequence) {
      return nullptr;
    }
    return &log_[sequence - log_.front().sequence];
  }

  template <class Each>
  static void forEachTouched(const CommitRecord& record, Each each) {
    for (const auto* list : {&record.created, &record.changed, &record.deleted}) {
      for (const TouchedObject& touched : *list) each(touched.id);
    }
  }

  void forgetOldest() {
    const CommitRecord& oldest = log_.front();
    forEachTouched(oldest, [&](ObjectId id) {
      const auto found = byObject_.find(id);
      if (found == byObject_.end()) return;
      if (!found->second.empty() && found->second.front() == oldest.sequence) {
        found->second.pop_front();
      }
      if (found->second.empty()) byObject_.erase(found);
    });
    log_.pop_front();
  }

  // Keeps how to undo a change about to be made.
  void logUndo(std::function<void()> undo) { undo_.push_back(std::move(undo)); }
  // Keeps how to undo a change just made; when that cannot be kept, undoes
  // it at once, so that no change is left that rollback could not undo.
  void keepUndo(std::function<void()> undo) {
    try {
      undo_.push_back(undo);
    } catch (...) {
      undo();
      throw;
    }
  }

  ObjectRecord& record(ObjectId id) {
    if (!exists(id)) throw std::invalid_argument("no object " + std::to_string(id));
    return objects_[id - 1];
  }

  Slot* find(ObjectId id, FeatureId feature) const {
    return exists(id) ? const_cast<ObjectRecord&>(objects_[id - 1]).find(feature) : nullptr;
  }

  Slot& slot(ObjectId id, FeatureId feature) {
    ObjectRecord& object = record(id);
    if (Slot* found = object.find(feature)) return *found;
    object.slots.push_back({feature, ObjectId{0}});
    return object.slots.back();
  }

  const OrderedIdSet* collection(ObjectId id, FeatureId feature) const {
    return held<OrderedIdSet>(find(id, feature));
  }

  OrderedIdSet& mutableCollection(ObjectId id, FeatureId feature) {
    Slot& written = slot(id, feature);
    if (OrderedIdSet* members = held<OrderedIdSet>(&written)) return *members;
    written.content = std::make_unique<OrderedIdSet>();
    return *held<OrderedIdSet>(&written);
  }

  // Sets or (with nothing) unwrites a value, keeping the index in step;
  // answers what it held before.
  std::optional<StoredValue> putValue(ObjectId id, FeatureId feature,
                                      const std::optional<StoredValue>& value) {
    Slot& written = slot(id, feature);
    std::optional<StoredValue> before;
    if (const StoredValue* old = held<StoredValue>(&written)) before = *old;
    if (value) holders_[ValueKey{feature, *value}].insert(id);  // may throw: nothing changed yet
    // Set to what it held, it stays where the line above found it.
    if (before && !(value && ValueKey{feature, *before} == ValueKey{feature, *value})) {
      unindex(holders_, ValueKey{feature, *before}, id);
    }
    if (value) {
      written.content = *value;
    } else {
      written.content = ObjectId{0};
    }
    if (feature == searchedName_ && searchedName_ != 0) {
      if (value) {
        names_.add(id, value->text);
      } else {
        names_.remove(id);
      }
    }
    return before;
  }

  // Replaces a list of values, keeping the index in step (an object is
  // found by any value of its list); answers the list before.
  ValueList putValues(ObjectId id, FeatureId feature, ValueList values) {
    Slot& written = slot(id, feature);
    if (held<ValueList>(&written) == nullptr) written.content = std::make_unique<ValueList>();
    ValueList& list = *held<ValueList>(&written);
    for (const StoredValue& value : values)
      holders_[ValueKey{feature, value}].insert(id);  // may throw
    ValueList before = std::move(list);
    for (const StoredValue& old : before) {
      const ValueKey key{feature, old};
      const bool kept = std::any_of(values.begin(), values.end(), [&](const StoredValue& value) {
        return ValueKey{feature, value} == key;
      });
      if (!kept) unindex(holders_, key, id);
    }
    list = std::move(values);
    return before;
  }

  ObjectId putReference(ObjectId id, FeatureId feature, ObjectId target) {
    Slot& written = slot(id, feature);
    const ObjectId* old = held<ObjectId>(&written);
    const ObjectId before = old != nullptr ? *old : 0;
    if (target != 0) indexReference(feature, target, id);
    if (before != 0 && before != target) unindexReference(feature, before, id);
    written.content = target;
    return before;
  }

  void takeMember(ObjectId id, FeatureId feature, ObjectId member) {
    mutableCollection(id, feature).remove(member);
    unindexReference(feature, member, id);
  }

  // The referrer indexes: by feature and target, and each target's features.
  void indexReference(FeatureId feature, ObjectId target, ObjectId id) {
    referredBy_[target].insert(feature);  // may throw: nothing changed yet
    referrers_[referenceKey(feature, target)].insert(id);
  }
  void unindexReference(FeatureId feature, ObjectId target, ObjectId id) {
    const auto found = referrers_.find(referenceKey(feature, target));
    if (found == referrers_.end()) return;
    found->second.erase(id);
    if (!found->second.empty()) return;
    referrers_.erase(found);
    const auto features = referredBy_.find(target);
    features->second.erase(feature);
    if (features->second.empty()) referredBy_.erase(features);
  }

  template <class Index, class Key>
  static void unindex(Index& index, const Key& key, ObjectId id) {
    const auto found = index.find(key);
    if (found == index.end()) return;
    found->second.erase(id);
    if (found->second.empty()) index.erase(found);
  }

  std::vector<ObjectRecord> objects_;
  std::size_t removed_ = 0;
  std::vector<Ids> byClass_;  // removed objects included
  std::unordered_map<ValueKey, std::set<ObjectId>, ValueKeyHash> holders_;
  FeatureId searchedName_;
  name_search::NameIndex names_;
  std::set<ObjectId> roots_;
  std::unordered_map<std::uint64_t, std::set<ObjectId>> referrers_;
  std::unordered_map<ObjectId, std::set<FeatureId>> referredBy_;  // features with referrers
  std::vector<std::function<void()>> undo_;
  std::size_t mark_ = 0;          // where the call in progress began in undo_
  std::deque<CommitRecord> log_;  // the latest commits, oldest first
  // Each object's commits in the log, oldest first: its history's index.
  std::unordered_map<ObjectId, std::deque<std::uint64_t>> byObject_;
  std::uint64_t lastCommit_ = 0;
};

}  // namespace

std::unique_ptr<PersistentStore> makeMemoryStore(const StoreOptions& options) {
  return std::make_unique<MemoryStore>(options);
}
