#include "platform/store/sqlite_store.h"

#include <algorithm>
#include <list>
#include <unordered_map>
#include <unordered_set>

#include "platform/store/database.h"
#include "platform/store/file_lock.h"
#include "platform/store/kept_answers.h"
#include "platform/store/store_schema.h"
#include "platform/wkm_srv/collection_reads.h"
#include "platform/wkm_srv/index_keys.h"

namespace {

using Ids = std::vector<ObjectId>;

// What the cache holds of one object: its class, its value and reference
// slots and which of its collections and value lists the file holds rows
// of, all read at once on first use; and the collections and value lists
// read or written so far. A collection the file holds nothing of is never
// asked of the file, nor kept.
struct CachedObject {
  ClassId classId = 0;
  std::vector<std::pair<FeatureId, StoredValue>> values;
  std::vector<std::pair<FeatureId, ObjectId>> references;
  std::vector<FeatureId> filedCollections;
  std::vector<FeatureId> filedValueLists;
  std::unordered_map<FeatureId, OrderedIdSet> collections;
  std::unordered_map<FeatureId, std::vector<StoredValue>> valueLists;
  bool created = false;   // made by this process: nothing of it is in the file unread
  std::size_t bytes = 0;  // about how much memory all this takes
  std::list<ObjectId>::iterator recency;  // its place among the cached, latest used first
};

bool holds(const std::vector<FeatureId>& features, FeatureId feature) {
  return std::find(features.begin(), features.end(), feature) != features.end();
}

// How much memory the cache's parts take, their containers' nodes and the
// allocator's overhead included, as measured with mallinfo2 on glibc: an
// object's entry (its hash table node and place in the recency list), a
// value, a feature the file holds rows of, a collection's own allocations,
// and a member.
constexpr std::size_t kObjectBytes = sizeof(CachedObject) + 64;
constexpr std::size_t kFiledFeatureBytes = 24;
constexpr std::size_t kCollectionBytes = sizeof(OrderedIdSet) + 300;
constexpr std::size_t kMemberBytes = 48;
std::size_t bytesOf(const StoredValue& value) {
  return sizeof(std::pair<FeatureId, StoredValue>) + 40 + value.text.capacity() * sizeof(char16_t);
}

template <class Slots>
auto* slotOf(Slots& slots, FeatureId feature) {
  for (auto& slot : slots) {
    if (slot.first == feature) return &slot.second;
  }
  return static_cast<decltype(&slots.front().second)>(nullptr);
}

// While a call runs, the cache may grow to kCallCacheBytes: a copy or an
// export of a large package works on all of it, and what it made or read
// is not read again. Past that, and after each call past
// kRestingCacheBytes, the objects used least lately leave it (down to
// three quarters of the bound). So no call makes the server hold more than
// the first, and none leaves it holding more than the second.
constexpr std::size_t kCallCacheBytes = 256u << 20;
constexpr std::size_t kRestingCacheBytes = 24u << 20;

class SqliteStore final : public CollectionReadsOf<SqliteStore> {
  friend class CollectionReadsOf<SqliteStore>;

 public:
  SqliteStore(const std::filesystem::path& path, const SqliteStoreOptions& options)
      : lock_(path), database_(path, true), statements_(prepared(database_, options)) {
    objectCount_ = countObjects();
    const Use use(statements_.nextNumber);
    nextFiled_ = nextNumber_ = use->step() ? static_cast<ObjectId>(use->integer(0)) : 1;
  }

  ~SqliteStore() override {
    try {
      rollback();
    } catch (...) {
      // closing undoes what was not committed anyway
    }
  }

  ObjectId createObject(ClassId classId) override {
    if (nextNumber_ == UINT32_MAX) throw std::length_error("the repository is full");
    begin();
    const ObjectId id = nextNumber_;
    const Use use(statements_.addObject);
    use->bind(1, id).bind(2, classId).run();
    ++nextNumber_;
    touched_.insert(id);
    instances_.forget(classId);
    trimCache();
    CachedObject object;
    object.classId = classId;
    object.created = true;
    keep(id, std::move(object), kObjectBytes);
    ++objectCount_;
    return id;
  }

  bool exists(ObjectId id) const override { return cached(id) != nullptr; }

  ClassId classOf(ObjectId id) const override {
    const CachedObject* object = cached(id);
    return object != nullptr ? object->classId : 0;
  }

  Ids instancesOf(std::span<const ClassId> classes) const override {
    std::vector<Ids> lists;
    for (ClassId classId : classes) {
      const Ids* kept = instances_.find(classId);
      if (kept == nullptr) {
        const Use use(statements_.instances);
        use->bind(1, classId);
        kept = &instances_.keep(classId, column(use.statement()));
      }
      lists.push_back(*kept);
    }
    return mergeInCreationOrder(std::move(lists));
  }

  std::size_t objectCount() const override { return objectCount_; }

  void removeObject(ObjectId id) override {
    changing(id);
    // Every kept answer may name it, or what it referred to.
    forgetAnswers();
    for (Statement* remove : {&statements_.removeAttributes, &statements_.removeReferences,
                              &statements_.removeMembers, &statements_.removeValues,
                              &statements_.removeObject}) {
      const Use use(*remove);
      use->bind(1, id).run();
    }
    forget(cache_.find(id));
    --objectCount_;
  }

  std::optional<StoredValue> value(ObjectId id, FeatureId feature) const override {
    const CachedObject* object = cached(id);
    if (object == nullptr) return std::nullopt;
    const StoredValue* value = slotOf(object->values, feature);
    return value != nullptr ? std::optional(*value) : std::nullopt;
  }

  void setValue(ObjectId id, FeatureId feature, const StoredValue& value) override {
    CachedObject& object = changing(id);
    {
      const Use use(statements_.setAttribute);
      use->bind(1, id).bind(2, feature).bind(3, value.valueClass).bind(4, value.number);
      use->bind(5, value.text).run();
    }
    holders_.forget(ValueKey{feature, value});
    if (StoredValue* slot = slotOf(object.values, feature)) {
      holders_.forget(ValueKey{feature, *slot});
      shrink(object, bytesOf(*slot));
      *slot = value;
    } else {
      object.values.emplace_back(feature, value);
    }
    grow(object, bytesOf(value));
  }

  Ids holdingValue(FeatureId feature, const StoredValue& value) const override {
    const ValueKey question{feature, value};
    if (const Ids* kept = holders_.find(question)) return *kept;
    const Use use(statements_.holding);
    use->bind(1, feature).bind(2, value.text).bind(3, value.number);
    return holders_.keep(question, column(use.statement()));
  }

  ObjectId reference(ObjectId id, FeatureId feature) const override {
    const CachedObject* object = cached(id);
    if (object == nullptr) return 0;
    const ObjectId* target = slotOf(object->references, feature);
    return target != nullptr ? *target : 0;
  }

  void setReference(ObjectId id, FeatureId feature, ObjectId target) override {
    CachedObject& object = changing(id);
    referrers_.forget(referenceKey(feature, target));
    if (const ObjectId* before = slotOf(object.references, feature)) {
      referrers_.forget(referenceKey(feature, *before));
    }
    if (target == 0) {
      const Use use(statements_.clearReference);
      use->bind(1, id).bind(2, feature).run();
      std::erase_if(object.references, [&](const auto& slot) { return slot.first == feature; });
      return;
    }
    {
      const Use use(statements_.setReference);
      use->bind(1, id).bind(2, feature).bind(3, target).run();
    }
    if (ObjectId* slot = slotOf(object.references, feature)) {
      *slot = target;
    } else {
      object.references.emplace_back(feature, target);
    }
  }

  // The file keeps a collection as a chain, each member naming the next, so
  // that a member goes in or out with two rows written, whatever its place.
  bool insertMember(ObjectId id, FeatureId feature, ObjectId member, VornLong position) override {
    OrderedIdSet& members = changingCollection(id, feature);
    if (position < 0 || position > members.size()) {
      throw std::out_of_range("position " + std::to_string(position) + " is outside 0.." +
                              std::to_string(members.size()));
    }
    if (members.contains(member)) return false;
    const ObjectId before = position > 0 ? members.at(position - 1) : 0;
    const ObjectId after = position < members.size() ? members.at(position) : 0;
    {
      const Use use(statements_.addMember);
      use->bind(1, id).bind(2, feature).bind(3, member).bind(4, after).run();
    }
    if (before != 0) relink(id, feature, before, member);
    referrers_.forget(referenceKey(feature, member));
    members.insertAt(member, position);
    grow(cache_.find(id)->second, kMemberBytes);
    return true;
  }

  bool removeMember(ObjectId id, FeatureId feature, ObjectId member) override {
    OrderedIdSet& members = changingCollection(id, feature);
    const VornLong position = members.indexOf(member);
    if (position < 0) return false;
    const ObjectId before = position > 0 ? members.at(position - 1) : 0;
    const ObjectId after = position + 1 < members.size() ? members.at(position + 1) : 0;
    {
      const Use use(statements_.removeMember);
      use->bind(1, id).bind(2, feature).bind(3, member).run();
    }
    if (before != 0) relink(id, feature, before, after);
    referrers_.forget(referenceKey(feature, member));
    members.remove(member);
    return true;
  }

  void clearMembers(ObjectId id, FeatureId feature) override {
    OrderedIdSet& members = changingCollection(id, feature);
    const Use use(statements_.clearMembers);
    use->bind(1, id).bind(2, feature).run();
    for (ObjectId member : members.ids()) referrers_.forget(referenceKey(feature, member));
    members.clear();
  }

  Ids referrers(FeatureId feature, ObjectId target) const override {
    if (const Ids* kept = referrers_.find(referenceKey(feature, target))) return *kept;
    std::vector<Ids> lists;
    for (Statement* statement : {&statements_.referringBySingle, &statements_.referringByMember}) {
      const Use use(*statement);
      use->bind(1, feature).bind(2, target);
      lists.push_back(column(*statement));
    }
    return referrers_.keep(referenceKey(feature, target), mergeInCreationOrder(std::move(lists)));
  }

  std::vector<std::pair<FeatureId, ObjectId>> referencesTo(ObjectId target) const override {
    std::vector<std::pair<FeatureId, ObjectId>> found;
    const Use use(statements_.referencesTo);
    use->bind(1, target);
    while (use->step()) {
      found.emplace_back(static_cast<FeatureId>(use->integer(0)),
                         static_cast<ObjectId>(use->integer(1)));
    }
    return found;
  }

  std::vector<StoredValue> values(ObjectId id, FeatureId feature) const override {
    const std::vector<StoredValue>* list = valueList(id, feature);
    return list != nullptr ? *list : std::vector<StoredValue>{};
  }

  void setValues(ObjectId id, FeatureId feature, std::vector<StoredValue> values) override {
    CachedObject& object = changing(id);
    // Who holds the values before and after is asked anew.
    for (const StoredValue& old : this->values(id, feature))
      holders_.forget(ValueKey{feature, old});
    for (const StoredValue& value : values) holders_.forget(ValueKey{feature, value});
    {
      const Use use(statements_.clearValues);
      use->bind(1, id).bind(2, feature).run();
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
      const Use use(statements_.addValue);
      use->bind(1, id).bind(2, feature).bind(3, static_cast<std::int64_t>(i));
      use->bind(4, values[i].valueClass).bind(5, values[i].number).bind(6, values[i].text).run();
    }
    for (const StoredValue& value : values) grow(object, bytesOf(value));
    auto [list, made] = object.valueLists.try_emplace(feature);
    if (made) grow(object, kCollectionBytes);
    list->second = std::move(values);
  }

  std::vector<FeatureId> writtenFeatures(ObjectId id) const override {
    const CachedObject* object = cached(id);
    if (object == nullptr) return {};
    std::vector<FeatureId> written(object->filedCollections);
    written.insert(written.end(), object->filedValueLists.begin(), object->filedValueLists.end());
    for (const auto& [feature, value] : object->values) written.push_back(feature);
    for (const auto& [feature, target] : object->references) written.push_back(feature);
    for (const auto& [feature, members] : object->collections) written.push_back(feature);
    for (const auto& [feature, values] : object->valueLists) written.push_back(feature);
    std::sort(written.begin(), written.end());
    written.erase(std::unique(written.begin(), written.end()), written.end());
    return written;
  }

  void commitChanges() override {
    if (inTransaction_) {
      try {
        if (nextNumber_ != nextFiled_) {
          const Use use(statements_.setNextNumber);
          use->bind(1, nextNumber_).run();
        }
        Use(statements_.commit)->run();
      } catch (const StoreError&) {
        rollback();  // after the error has said why
        throw;
      }
      inTransaction_ = false;
      touched_.clear();
      nextFiled_ = nextNumber_;
    }
    trimCache(kRestingCacheBytes);
  }

  void rollbackChanges() override {
    if (!inTransaction_) {
      trimCache(kRestingCacheBytes);
      return;
    }
    // ROLLBACK undoes the file; the cache forgets the objects the
    // transaction touched, and every kept answer.
    try {
      Use(statements_.rollback)->run();
    } catch (const StoreError&) {
      // a failed commit may have rolled back already; nothing is left to undo
    }
    inTransaction_ = false;
    for (ObjectId id : touched_) {
      if (const auto found = cache_.find(id); found != cache_.end()) forget(found);
    }
    touched_.clear();
    forgetAnswers();
    objectCount_ = countAtBegin_;
    nextNumber_ = nextFiled_;
    trimCache(kRestingCacheBytes);
  }

 private:
  struct Statements {
    Statement readObject, readObjects, readMembers, readValues;
    Statement addObject, setAttribute, setReference, clearReference, addMember, removeMember,
        relink, clearMembers, clearValues, addValue;
    Statement instances, holding, referringBySingle, referringByMember, countObjects;
    Statement nextNumber, setNextNumber, removeAttributes, removeReferences, removeMembers,
        removeValues, removeObject, referencesTo;
    Statement begin, commit, rollback;
  };

  static Statements prepared(Database& database, const SqliteStoreOptions& options) {
    prepareRepositoryFile(database, options);
    return Statements{
        // An object whole, one row a part: its class (0), each value (1)
        // and reference (2), and each feature it has members (3) or listed
        // values (4) of, found a step at a time down the primary keys
        // rather than by reading every member.
        {database,
         "WITH RECURSIVE "
         "members_of(feature) AS (SELECT min(feature) FROM member WHERE object = ?1 "
         "  UNION ALL SELECT (SELECT min(feature) FROM member WHERE object = ?1 "
         "  AND feature > members_of.feature) FROM members_of WHERE feature IS NOT NULL), "
         "values_of(feature) AS (SELECT min(feature) FROM value_item WHERE object = ?1 "
         "  UNION ALL SELECT (SELECT min(feature) FROM value_item WHERE object = ?1 "
         "  AND feature > values_of.feature) FROM values_of WHERE feature IS NOT NULL) "
         "SELECT 0, class, 0, 0, '' FROM object WHERE id = ?1 "
         "UNION ALL SELECT 1, feature, value_class, number, text FROM attribute WHERE object = ?1 "
         "UNION ALL SELECT 2, feature, target, 0, '' FROM reference WHERE object = ?1 "
         "UNION ALL SELECT 3, feature, 0, 0, '' FROM members_of WHERE feature IS NOT NULL "
         "UNION ALL SELECT 4, feature, 0, 0, '' FROM values_of WHERE feature IS NOT NULL"},
        // The same of every object numbered ?1 to ?2, each table read once
        // along its primary key: the object first (its part, its number,
        // then as above).
        {database,
         "SELECT 0, id, class, 0, 0, '' FROM object WHERE id BETWEEN ?1 AND ?2 "
         "UNION ALL SELECT 1, object, feature, value_class, number, text FROM attribute "
         "  WHERE object BETWEEN ?1 AND ?2 "
         "UNION ALL SELECT 2, object, feature, target, 0, '' FROM reference "
         "  WHERE object BETWEEN ?1 AND ?2 "
         "UNION ALL SELECT 3, object, feature, 0, 0, '' FROM member "
         "  WHERE object BETWEEN ?1 AND ?2 GROUP BY object, feature "
         "UNION ALL SELECT 4, object, feature, 0, 0, '' FROM value_item "
         "  WHERE object BETWEEN ?1 AND ?2 GROUP BY object, feature"},
        {database, "SELECT member, next FROM member WHERE object = ?1 AND feature = ?2"},
        {database,
         "SELECT value_class, number, text FROM value_item WHERE object = ?1 AND feature = ?2 "
         "ORDER BY position"},
        {database, "INSERT INTO object (id, class) VALUES (?1, ?2)"},
        {database,
         "INSERT OR REPLACE INTO attribute (object, feature, value_class, number, text) "
         "VALUES (?1, ?2, ?3, ?4, ?5)"},
        {database,
         "INSERT OR REPLACE INTO reference (object, feature, target) VALUES (?1, ?2, ?3)"},
        {database, "DELETE FROM reference WHERE object = ?1 AND feature = ?2"},
        {database, "INSERT INTO member (object, feature, member, next) VALUES (?1, ?2, ?3, ?4)"},
        {database, "DELETE FROM member WHERE object = ?1 AND feature = ?2 AND member = ?3"},
        {database,
         "UPDATE member SET next = ?4 WHERE object = ?1 AND feature = ?2 AND member = ?3"},
        {database, "DELETE FROM member WHERE object = ?1 AND feature = ?2"},
        {database, "DELETE FROM value_item WHERE object = ?1 AND feature = ?2"},
        {database,
         "INSERT INTO value_item (object, feature, position, value_class, number, text) "
         "VALUES (?1, ?2, ?3, ?4, ?5, ?6)"},
        {database, "SELECT id FROM object WHERE class = ?1 ORDER BY id"},
        {database,
         "SELECT object FROM attribute WHERE feature = ?1 AND text = ?2 AND number = ?3 "
         "UNION SELECT object FROM value_item WHERE feature = ?1 AND text = ?2 AND number = ?3 "
         "ORDER BY object"},
        {database,
         "SELECT object FROM reference WHERE feature = ?1 AND target = ?2 ORDER BY object"},
        {database, "SELECT object FROM member WHERE feature = ?1 AND member = ?2 ORDER BY object"},
        {database, "SELECT count(*) FROM object"},
        // Past every number the file holds, whatever object_number says.
        {database,
         "SELECT max((SELECT coalesce(max(next), 1) FROM object_number), "
         "(SELECT coalesce(max(id), 0) + 1 FROM object))"},
        {database, "UPDATE object_number SET next = ?1"},
        {database, "DELETE FROM attribute WHERE object = ?1"},
        {database, "DELETE FROM reference WHERE object = ?1"},
        {database, "DELETE FROM member WHERE object = ?1"},
        {database, "DELETE FROM value_item WHERE object = ?1"},
        {database, "DELETE FROM object WHERE id = ?1"},
        {database,
         "SELECT feature, object FROM reference WHERE target = ?1 "
         "UNION SELECT feature, object FROM member WHERE member = ?1 ORDER BY 1, 2"},
        {database, "BEGIN IMMEDIATE"},
        {database, "COMMIT"},
        {database, "ROLLBACK"},
    };
  }

  static Ids column(Statement& statement) {
    Ids ids;
    while (statement.step()) ids.push_back(static_cast<ObjectId>(statement.integer(0)));
    return ids;
  }

  std::size_t countObjects() const {
    const Use use(statements_.countObjects);
    return use->step() ? static_cast<std::size_t>(use->integer(0)) : 0;
  }

  void forgetAnswers() const {
    instances_.clear();
    holders_.clear();
    referrers_.clear();
  }

  void keep(ObjectId id, CachedObject object, std::size_t bytes) const {
    recency_.push_front(id);
    object.recency = recency_.begin();
    object.bytes = bytes;
    cachedBytes_ += bytes;
    cache_.emplace(id, std::move(object));
  }
  void forget(std::unordered_map<ObjectId, CachedObject>::iterator entry) const {
    cachedBytes_ -= entry->second.bytes;
    recency_.erase(entry->second.recency);
    cache_.erase(entry);
  }
  void grow(CachedObject& object, std::size_t bytes) const {
    object.bytes += bytes;
    cachedBytes_ += bytes;
  }
  void shrink(CachedObject& object, std::size_t bytes) const {
    object.bytes -= bytes;
    cachedBytes_ -= bytes;
  }

  // Makes room when the cache has outgrown `bound`: the kept answers go
  // when they alone take a quarter of it, then the objects used least
  // lately. Only ever called where no part of the cache is in use: before
  // an object is read in or made, and after a call.
  void trimCache(std::size_t bound = kCallCacheBytes) const {
    const auto answerBytes = [&] {
      return instances_.bytes() + holders_.bytes() + referrers_.bytes();
    };
    if (cachedBytes_ + answerBytes() <= bound) return;
    if (answerBytes() > bound / 4) forgetAnswers();
    while (!recency_.empty() && cachedBytes_ + answerBytes() > bound / 4 * 3) {
      forget(cache_.find(recency_.back()));
    }
  }

  void begin() {
    if (inTransaction_) return;
    Use(statements_.begin)->run();
    inTransaction_ = true;
    countAtBegin_ = objectCount_;
  }

  // The object as cached, read from the file first when it is not; null
  // when there is no such object.
  const CachedObject* cached(ObjectId id) const {
    if (id == 0) return nullptr;
    if (const auto found = cache_.find(id); found != cache_.end()) {
      recency_.splice(recency_.begin(), recency_, found->second.recency);
      return &found->second;
    }
    // Objects are often read in the order they were made (a walk over a
    // package's contents, a copy, an export): a miss right after the last
    // read's end reads twice as many objects ahead, up to kMostReadAhead,
    // each table's rows in one pass; any other miss reads one object.
    readAhead_ = id == nextAhead_ ? std::min(readAhead_ * 2, kMostReadAhead) : 1;
    nextAhead_ = id + readAhead_;
    if (readAhead_ == 1) {
      readOne(id);
    } else {
      readRange(id, id + std::min<ObjectId>(readAhead_ - 1, UINT32_MAX - id));
    }
    const auto found = cache_.find(id);
    return found != cache_.end() ? &found->second : nullptr;
  }

  static constexpr ObjectId kMostReadAhead = 256;

  // Adds what a row of readObject or readObjects says of an object, from
  // column `at` on; returns about how many bytes it added.
  static std::size_t addPart(CachedObject& object, std::int64_t part, const Statement& row,
                             int at) {
    const auto feature = static_cast<FeatureId>(row.integer(at));
    switch (part) {
      case 0:
        object.classId = static_cast<ClassId>(feature);
        return kObjectBytes;
      case 1:
        object.values.emplace_back(
            feature, StoredValue{static_cast<ValueClassId>(row.integer(at + 1)),
                                 static_cast<std::int32_t>(row.integer(at + 2)), row.text(at + 3)});
        return bytesOf(object.values.back().second);
      case 2:
        object.references.emplace_back(feature, static_cast<ObjectId>(row.integer(at + 1)));
        return sizeof(std::pair<FeatureId, ObjectId>);
      case 3:
        object.filedCollections.push_back(feature);
        return kFiledFeatureBytes;
      default:
        object.filedValueLists.push_back(feature);
        return kFiledFeatureBytes;
    }
  }

  void readOne(ObjectId id) const {
    CachedObject object;
    std::size_t bytes = 0;
    {
      const Use use(statements_.readObject);
      use->bind(1, id);
      while (use->step()) bytes += addPart(object, use->integer(0), use.statement(), 1);
    }
    if (object.classId == 0) return;
    trimCache();
    keep(id, std::move(object), bytes);
  }

  // Reads the objects numbered `first` to `last` that the cache lacks.
  void readRange(ObjectId first, ObjectId last) const {
    std::vector<CachedObject> objects(last - first + 1);
    std::vector<std::size_t> partBytes(objects.size());
    {
      const Use use(statements_.readObjects);
      use->bind(1, first).bind(2, last);
      while (use->step()) {
        // A damaged file's pages may hand back rows outside the range asked.
        const std::int64_t id = use->integer(1);
        if (id < first || id > last) continue;
        const std::size_t at = static_cast<std::size_t>(id - first);
        partBytes[at] += addPart(objects[at], use->integer(0), use.statement(), 2);
      }
    }
    trimCache();
    // Kept last first, so that the object asked for is the latest used.
    for (std::size_t at = objects.size(); at-- > 0;) {
      const ObjectId id = first + static_cast<ObjectId>(at);
      if (objects[at].classId != 0 && cache_.count(id) == 0) {
        keep(id, std::move(objects[at]), partBytes[at]);
      }
    }
  }

  CachedObject& changing(ObjectId id) {
    const CachedObject* object = cached(id);
    if (object == nullptr) throw std::invalid_argument("no object " + std::to_string(id));
    begin();
    touched_.insert(id);
    return const_cast<CachedObject&>(*object);
  }

  // Null for a collection that has no members.
  const OrderedIdSet* collection(ObjectId id, FeatureId feature) const {
    const CachedObject* found = cached(id);
    if (found == nullptr) return nullptr;
    auto& object = const_cast<CachedObject&>(*found);
    if (const auto held = object.collections.find(feature); held != object.collections.end()) {
      return &held->second;
    }
    if (object.created || !holds(object.filedCollections, feature)) return nullptr;
    OrderedIdSet members = readChain(id, feature);
    grow(object, kCollectionBytes + kMemberBytes * static_cast<std::size_t>(members.size()));
    return &object.collections.emplace(feature, std::move(members)).first->second;
  }

  OrderedIdSet& changingCollection(ObjectId id, FeatureId feature) {
    CachedObject& object = changing(id);
    if (collection(id, feature) == nullptr) grow(object, kCollectionBytes);
    return object.collections[feature];  // read by collection() when the file has members
  }

  // Follows a collection's chain from its first member, the one no other
  // member names as next.
  OrderedIdSet readChain(ObjectId id, FeatureId feature) const {
    std::unordered_map<ObjectId, ObjectId> next;
    std::unordered_set<ObjectId> named;
    {
      const Use use(statements_.readMembers);
      use->bind(1, id).bind(2, feature);
      while (use->step()) {
        const auto member = static_cast<ObjectId>(use->integer(0));
        const auto after = static_cast<ObjectId>(use->integer(1));
        next.emplace(member, after);
        if (after != 0) named.insert(after);
      }
    }
    OrderedIdSet members;
    if (next.empty()) return members;
    ObjectId first = 0;
    for (const auto& [member, after] : next) {
      if (named.count(member) == 0) first = member;
    }
    for (ObjectId member = first; member != 0;) {
      const auto found = next.find(member);
      if (found == next.end() || !members.append(member)) break;
      member = found->second;
    }
    if (members.size() != static_cast<VornLong>(next.size())) {
      throw StoreError("the repository file '" + database_.path().string() +
                       "' is damaged: the chain of collection " + std::to_string(feature) +
                       " of object " + std::to_string(id) + " is broken");
    }
    return members;
  }

  void relink(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) {
    const Use use(statements_.relink);
    use->bind(1, id).bind(2, feature).bind(3, member).bind(4, next).run();
  }

  // Null for a list that has no values.
  const std::vector<StoredValue>* valueList(ObjectId id, FeatureId feature) const {
    const CachedObject* found = cached(id);
    if (found == nullptr) return nullptr;
    auto& object = const_cast<CachedObject&>(*found);
    if (const auto held = object.valueLists.find(feature); held != object.valueLists.end()) {
      return &held->second;
    }
    if (object.created || !holds(object.filedValueLists, feature)) return nullptr;
    std::vector<StoredValue> values;
    {
      const Use use(statements_.readValues);
      use->bind(1, id).bind(2, feature);
      while (use->step()) {
        values.push_back({static_cast<ValueClassId>(use->integer(0)),
                          static_cast<std::int32_t>(use->integer(1)), use->text(2)});
      }
    }
    grow(object, kCollectionBytes);
    for (const StoredValue& value : values) grow(object, bytesOf(value));
    return &object.valueLists.emplace(feature, std::move(values)).first->second;
  }

  FileLock lock_;  // first made, last gone
  Database database_;
  mutable Statements statements_;
  mutable std::unordered_map<ObjectId, CachedObject> cache_;
  mutable std::list<ObjectId> recency_;  // the cached objects, latest used first
  mutable std::size_t cachedBytes_ = 0;  // about how much memory the cached objects take
  mutable ObjectId readAhead_ = 1;       // how many objects the last miss read
  mutable ObjectId nextAhead_ = 0;       // the first object past them
  // Answers from the file's indexes: by class, by value held, by target.
  mutable KeptAnswers<ClassId> instances_;
  mutable KeptAnswers<ValueKey, ValueKeyHash> holders_;
  mutable KeptAnswers<std::uint64_t> referrers_;
  std::unordered_set<ObjectId> touched_;
  std::size_t objectCount_ = 0;
  std::size_t countAtBegin_ = 0;  // what a rollback gives back
  ObjectId nextNumber_ = 1;       // the next object's number
  ObjectId nextFiled_ = 1;        // the same, as the file holds it
  bool inTransaction_ = false;
};

}  // namespace

std::unique_ptr<PersistentStore> openSqliteStore(const std::filesystem::path& path,
                                                 const SqliteStoreOptions& options) {
  return std::make_unique<SqliteStore>(path, options);
}
