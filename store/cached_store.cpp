#include "store/cached_store.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "store/collection_reads.h"
#include "store/index_keys.h"
#include "store/kept_answers.h"
#include "store/object_cache.h"

namespace {

using Ids = std::vector<ObjectId>;

bool holds(const std::vector<FeatureId>& features, FeatureId feature) {
  return std::find(features.begin(), features.end(), feature) != features.end();
}

template <class Slots>
auto* slotOf(Slots& slots, FeatureId feature) {
  for (auto& slot : slots) {
    if (slot.first == feature) return &slot.second;
  }
  return static_cast<decltype(&slots.front().second)>(nullptr);
}

// While a call runs, the cache may grow to kCallCacheBytes (or the
// settings' cacheBytes, when more): a copy or an export of a large package
// works on all of it, and what it made or read is not read again. Past
// that, and after each call past settings().cacheBytes, the objects used
// least lately leave it (down to three quarters of the bound). So no call
// makes the server hold more than the first, and none leaves it holding
// more than the second. A call that reads a document, which writes its
// objects and seldom reads one back, keeps within kDocumentCallCacheBytes.
constexpr std::size_t kCallCacheBytes = 256u << 20;
constexpr std::size_t kDocumentCallCacheBytes = 48u << 20;
constexpr std::chrono::milliseconds kForeignWritesSeenWithin{1};

class CachedStore final : public CollectionReadsOf<CachedStore> {
  friend class CollectionReadsOf<CachedStore>;

 public:
  explicit CachedStore(std::unique_ptr<StoreRows> rows) : rows_(std::move(rows)) {
    keepRoots(rows_->rootsKept());
    const RowsState state = rows_->current();
    objectCount_ = state.objectCount;
    nextNumber_ = state.nextNumber;
    lastCommit_ = state.lastCommit;
    rows_->othersWrote();  // from now on
  }

  ~CachedStore() override {
    try {
      rollback();
    } catch (...) {
      // closing undoes what was not committed anyway
    }
  }

  ObjectId createObject(ClassId classId) override {
    if (nextNumber_ == UINT32_MAX) throw std::length_error("the repository is full");
    beginWriting();
    const ObjectId id = nextNumber_;
    rows_->addObject(id, classId);
    ++nextNumber_;  // made in the transaction: touched, by its number (madeInTransaction)
    instances_.forget(classId);
    trimCache();
    CachedObject object;
    object.classId = classId;
    object.created = true;
    object.incomingEpoch = epoch_;  // nothing refers to it yet
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
    reading();
    std::vector<Ids> lists;
    for (ClassId classId : classes) {
      const Ids* kept = instances_.find(classId);
      if (kept == nullptr) {
        kept = &instances_.keep(classId, rows_->instances(classId));
      }
      lists.push_back(*kept);
    }
    return mergeInCreationOrder(std::move(lists));
  }

  std::size_t objectCount() const override { return objectCount_; }

  void eraseObject(ObjectId id) override {
    changing(id);
    // Every kept answer may name it, or what it referred to.
    forgetAnswers();
    rows_->removeObject(id);
    objects_.forget(id);
    --objectCount_;
  }

  // Its rows went with it: it comes back as if made anew, with its number.
  void reviveObject(ObjectId id, ClassId classId) override {
    if (id == 0 || id >= nextNumber_ || cached(id) != nullptr) {
      throw std::invalid_argument("object " + std::to_string(id) + " cannot be brought back");
    }
    beginWriting();
    rows_->addObject(id, classId);
    touched_.insert(id);
    forgetAnswers();  // what referred to it, and the instances of its class
    CachedObject object;
    object.classId = classId;
    object.created = true;
    object.incomingEpoch = epoch_;
    keep(id, std::move(object), kObjectBytes);
    ++objectCount_;
  }

  std::optional<StoredValue> value(ObjectId id, FeatureId feature) const override {
    const CachedObject* object = cached(id);
    if (object == nullptr) return std::nullopt;
    const StoredValue* value = slotOf(object->values, feature);
    return value != nullptr ? std::optional(*value) : std::nullopt;
  }

  void writeValue(ObjectId id, FeatureId feature, const StoredValue& value) override {
    CachedObject& object = changing(id);
    rows_->setAttribute(id, feature, value);
    holders_.forget(ValueKey{feature, value});
    if (StoredValue* slot = slotOf(object.values, feature)) {
      holders_.forget(ValueKey{feature, *slot});
      objects_.shrink(object, bytesOf(*slot));
      *slot = value;
    } else {
      object.values.emplace_back(feature, value);
    }
    objects_.grow(object, bytesOf(value));
  }

  void eraseValue(ObjectId id, FeatureId feature) override {
    CachedObject& object = changing(id);
    StoredValue* slot = slotOf(object.values, feature);
    if (slot == nullptr) return;
    rows_->clearAttribute(id, feature);
    holders_.forget(ValueKey{feature, *slot});
    objects_.shrink(object, bytesOf(*slot));
    std::erase_if(object.values, [&](const auto& each) { return each.first == feature; });
  }

  Ids namesMatching(name_search::Match match, std::u16string_view folded,
                    std::size_t most) const override {
    reading();
    return rows_->namesMatching(match, folded, most);
  }

  // Kept until a commit writes the index, or others commit.
  Ids roots() const override {
    reading();
    if (!rootsRead_) {
      roots_ = rows_->readRoots();
      rootsRead_ = true;
    }
    return roots_;
  }
  void writeRoot(ObjectId id, bool root) override {
    beginWriting();
    rows_->writeRoot(id, root);
    rootsRead_ = false;
  }

  Ids holdingValue(FeatureId feature, const StoredValue& value) const override {
    reading();
    const ValueKey question{feature, value};
    if (const Ids* kept = holders_.find(question)) return *kept;
    return holders_.keep(question, rows_->holding(feature, value));
  }

  ObjectId reference(ObjectId id, FeatureId feature) const override {
    const CachedObject* object = cached(id);
    if (object == nullptr) return 0;
    const ObjectId* target = slotOf(object->references, feature);
    return target != nullptr ? *target : 0;
  }

  void writeReference(ObjectId id, FeatureId feature, ObjectId target) override {
    CachedObject& object = changing(id);
    forgetReferrers(feature, target);
    if (const ObjectId* before = slotOf(object.references, feature)) {
      forgetReferrers(feature, *before);
    }
    if (target == 0) {
      rows_->clearReference(id, feature);
      std::erase_if(object.references, [&](const auto& slot) { return slot.first == feature; });
      return;
    }
    rows_->setReference(id, feature, target);
    if (ObjectId* slot = slotOf(object.references, feature)) {
      *slot = target;
    } else {
      object.references.emplace_back(feature, target);
    }
  }

  // The file keeps a collection as a chain, each member naming the next, so
  // that a member goes in or out with two rows written, whatever its place.
  bool addMemberAt(ObjectId id, FeatureId feature, ObjectId member, VornLong position) override {
    OrderedIdSet& members = changingCollection(id, feature);
    if (position < 0 || position > members.size()) {
      throw std::out_of_range("position " + std::to_string(position) + " is outside 0.." +
                              std::to_string(members.size()));
    }
    if (members.contains(member)) return false;
    const ObjectId before = position > 0 ? members.at(position - 1) : 0;
    const ObjectId after = position < members.size() ? members.at(position) : 0;
    rows_->addMember(id, feature, member, after);
    if (before != 0) relink(id, feature, before, member);
    forgetReferrers(feature, member);
    members.insertAt(member, position);
    objects_.grow(*objects_.find(id), kMemberBytes);
    return true;
  }

  void dropMember(ObjectId id, FeatureId feature, ObjectId member) override {
    OrderedIdSet& members = changingCollection(id, feature);
    const VornLong position = members.indexOf(member);
    if (position < 0) return;
    const ObjectId before = position > 0 ? members.at(position - 1) : 0;
    const ObjectId after = position + 1 < members.size() ? members.at(position + 1) : 0;
    rows_->removeMember(id, feature, member);
    if (before != 0) relink(id, feature, before, after);
    forgetReferrers(feature, member);
    members.remove(member);
  }

  void dropMembers(ObjectId id, FeatureId feature) override {
    OrderedIdSet& members = changingCollection(id, feature);
    rows_->clearMembers(id, feature);
    for (ObjectId member : members.ids()) forgetReferrers(feature, member);
    members.clear();
  }

  Ids referrers(FeatureId feature, ObjectId target) const override {
    reading();
    if (const Ids* kept = referrers_.find(referenceKey(feature, target))) return *kept;
    if (const CachedObject* found = objects_.find(target);
        found != nullptr && found->incomingEpoch != epoch_) {
      readIncoming(target, target + std::min<ObjectId>(kMostReadAhead - 1, UINT32_MAX - target));
    }
    if (const CachedObject* found = objects_.find(target);
        found != nullptr && found->incomingEpoch == epoch_) {
      const auto& incoming = found->incoming;
      Ids referring;
      for (auto at = std::lower_bound(incoming.begin(), incoming.end(), std::pair(feature, 0u));
           at != incoming.end() && at->first == feature; ++at) {
        referring.push_back(at->second);
      }
      return referring;
    }
    return referrers_.keep(referenceKey(feature, target), rows_->referring(feature, target));
  }

  std::vector<std::pair<FeatureId, ObjectId>> referencesTo(ObjectId target) const override {
    reading();
    return rows_->referencesTo(target);
  }

  std::vector<StoredValue> values(ObjectId id, FeatureId feature) const override {
    const std::vector<StoredValue>* list = valueList(id, feature);
    return list != nullptr ? *list : std::vector<StoredValue>{};
  }

  void writeValues(ObjectId id, FeatureId feature, std::vector<StoredValue> values) override {
    CachedObject& object = changing(id);
    // Who holds the values before and after is asked anew.
    for (const StoredValue& old : this->values(id, feature))
      holders_.forget(ValueKey{feature, old});
    for (const StoredValue& value : values) holders_.forget(ValueKey{feature, value});
    rows_->setValues(id, feature, values);
    for (const StoredValue& value : values) objects_.grow(object, bytesOf(value));
    auto [list, made] = object.valueLists.try_emplace(feature);
    if (made) objects_.grow(object, kCollectionBytes);
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

  std::uint64_t lastCommit() const override { return lastCommit_; }

  std::vector<CommitRecord> commitsSince(std::uint64_t sequence, std::size_t most,
                                         std::size_t mostObjects) const override {
    return rows_->commitsSince(sequence, most, mostObjects);
  }

  std::vector<CommitRecord> historyOf(ObjectId object, std::uint64_t before,
                                      std::size_t most) const override {
    return rows_->historyOf(object, before, most);
  }

  std::optional<CommitRecord> commitAt(std::uint64_t sequence,
                                       std::size_t mostChanges) const override {
    return rows_->commitAt(sequence, mostChanges);
  }

  std::uint64_t nextKeptChangeOf(ObjectId object, std::optional<FeatureId> feature,
                                 std::uint64_t after) const override {
    return rows_->nextChangeOf(object, feature, after);
  }

  // A store of its own begins when it first writes; a shared one begins
  // every call, and drops what others changed since its last. Calls held
  // on shared rows go on in the writing transaction the first of them
  // began: its lock has kept every other writer out since.
  void beginTransaction(bool writes) override {
    if (rows_->shared()) {
      if (!holding()) begin(writes);
    } else if (!inTransaction_ && othersMayHaveWritten(writes) && rows_->othersWrote()) {
      forgetWhatOthersWrote();
    }
  }

  // Others change shared rows between any two transactions: there, a call
  // is held only in a writing one, whose lock keeps them out until the
  // held calls commit. A reading call alone commits at once.
  bool holdsCommits() const override {
    return !rows_->shared() || (inTransaction_ && writing_);
  }

  void commitChanges(std::span<CommitRecord> records) override {
    if (inTransaction_) {
      std::uint64_t sequence = lastCommit_;
      for (CommitRecord& record : records) record.sequence = ++sequence;
      try {
        forgetOldHistory();
        rows_->commit(nextNumber_, objectCount_, records);
      } catch (const StoreError&) {
        rollbackChanges();  // after the error has said why
        throw;
      }
      lastCommit_ = sequence;
      inTransaction_ = false;
      savepoint_ = false;
      touched_.clear();
      countAtBegin_ = objectCount_;
      numberAtBegin_ = nextNumber_;
    }
    trimCache(settings().cacheBytes);
  }

  void rollbackChanges() override {
    savepoint_ = false;
    if (!inTransaction_) {
      trimCache(settings().cacheBytes);
      return;
    }
    // The rows' rollback undoes the database; the cache forgets the objects
    // the transaction touched, and every kept answer.
    rows_->rollback();
    inTransaction_ = false;
    forgetTouched();
    touched_.clear();
    objectCount_ = countAtBegin_;
    nextNumber_ = numberAtBegin_;
    trimCache(settings().cacheBytes);
  }

  // Held calls that wrote left a transaction open: the mark is a savepoint
  // in it. Without one, the call begins the transaction when it writes, and
  // undoing it is undoing the transaction.
  void markCall() override {
    if (!inTransaction_) return;
    rows_->mark();
    savepoint_ = true;
    countAtMark_ = objectCount_;
    numberAtMark_ = nextNumber_;
  }

  void rollbackToMark() override {
    if (!savepoint_) {
      rollbackChanges();
      return;
    }
    savepoint_ = false;
    rows_->rollbackToMark();
    // What the transaction touched is read again, as the held calls left it.
    forgetTouched();
    objectCount_ = countAtMark_;
    nextNumber_ = numberAtMark_;
  }

  void releaseMark() override {
    if (!savepoint_) return;
    savepoint_ = false;
    rows_->releaseMark();
  }

 private:
  // Asking whether another program wrote costs a look at the file, as much
  // as a call's own work on the cache: a reading call asks at most once in
  // kForeignWritesSeenWithin, so what a person writes with the sqlite3 tool
  // is read that much later; a writing call always asks, and never writes
  // over what it has not seen.
  bool othersMayHaveWritten(bool writes) const {
    const auto now = std::chrono::steady_clock::now();
    if (!writes && now - othersAsked_ < kForeignWritesSeenWithin) return false;
    othersAsked_ = now;
    return true;
  }

  // Another program wrote rows this store has to itself (a person with the
  // sqlite3 tool): the cache, every kept answer and the counts are read anew.
  void forgetWhatOthersWrote() {
    RowsState state = rows_->current();
    objectCount_ = countAtBegin_ = state.objectCount;
    nextNumber_ = numberAtBegin_ = state.nextNumber;
    lastCommit_ = state.lastCommit;
    state.allStale = true;
    forgetChangedByOthers(state);
  }

  // Where history is kept for some days, what is older goes with the first
  // commit of each hour.
  void forgetOldHistory() {
    const HistoryRetention& retention = settings().history;
    if (retention.mode != HistoryRetention::Days) return;
    const auto now = std::chrono::system_clock::now();
    if (now - lastForgotten_ < std::chrono::hours(1)) return;
    rows_->forgetHistoryBefore(std::chrono::duration_cast<std::chrono::microseconds>(
                                   (now - std::chrono::days(retention.days)).time_since_epoch())
                                   .count());
    lastForgotten_ = now;
  }

  // Forgets the objects the transaction touched, and every kept answer.
  // Until it ends, they stay noted as touched: undoing it whole forgets
  // them again, read back meanwhile.
  void forgetTouched() {
    for (ObjectId id : touched_) objects_.forget(id);
    for (ObjectId id = numberAtBegin_; id < nextNumber_; ++id) objects_.forget(id);
    forgetAnswers();
  }

  // Forgets every kept answer, and what refers to each cached object.
  void forgetAnswers() const {
    instances_.clear();
    holders_.clear();
    referrers_.clear();
    rootsRead_ = false;
    ++epoch_;
  }

  // What holds `target` in `feature` is to be asked anew.
  void forgetReferrers(FeatureId feature, ObjectId target) {
    referrers_.forget(referenceKey(feature, target));
    if (CachedObject* found = objects_.find(target)) found->incomingEpoch = 0;
  }

  // Only a damaged database makes an object whose number is cached already:
  // its next number is below one in use.
  void keep(ObjectId id, CachedObject object, std::size_t bytes) const {
    if (!objects_.keep(id, std::move(object), bytes)) {
      throw StoreError(rows_->describe() + " is damaged: object " + std::to_string(id) +
                       " is made again");
    }
  }

  // Makes room when the cache has outgrown `bound`: the kept answers go
  // when they alone take a quarter of it, then the objects used least
  // lately. Only ever called where no part of the cache is in use: before
  // an object is read in or made, and after a call.
  void trimCache() const {
    const std::size_t resting = settings().cacheBytes;
    trimCache(settings().smallCallCache ? std::min(kDocumentCallCacheBytes, resting * 2)
                                        : std::max(kCallCacheBytes, resting));
  }
  void trimCache(std::size_t bound) const {
    const auto answerBytes = [&] {
      return instances_.bytes() + holders_.bytes() + referrers_.bytes();
    };
    if (objects_.bytes() + answerBytes() <= bound) return;
    if (answerBytes() > bound / 4) forgetAnswers();
    objects_.trimTo(bound / 4 * 3, answerBytes());
  }

  void begin(bool writes) {
    const RowsState state = rows_->begin(writes);
    inTransaction_ = true;
    writing_ = writes;
    readingUnasked_ = false;
    if (rows_->shared()) {
      objectCount_ = state.objectCount;
      nextNumber_ = state.nextNumber;
      lastCommit_ = state.lastCommit;
      if (state.othersCommitted) forgetChangedByOthers(state);
    }
    countAtBegin_ = objectCount_;
    numberAtBegin_ = nextNumber_;
  }

  // Shared rows are read inside a transaction alone, so that what is read
  // and what is cached agree: without beginCall, the first read begins a
  // reading one, which keeps writers of other servers waiting for nothing.
  void reading() const {
    if (!inTransaction_ && rows_->shared()) {
      auto& self = const_cast<CachedStore&>(*this);
      self.begin(false);
      self.readingUnasked_ = true;
    }
  }

  // Every change goes through here first. A reading transaction begun
  // without beginCall becomes a writing one, nothing having been written.
  void beginWriting() {
    if (inTransaction_ && !writing_ && readingUnasked_) {
      rows_->rollback();
      inTransaction_ = false;
    }
    if (!inTransaction_) {
      begin(true);
    } else if (!writing_) {
      throw StoreError("a call that only reads cannot change the repository");
    }
  }

  // Others' commits make every kept answer doubtful, and the objects they
  // changed or deleted stale.
  void forgetChangedByOthers(const RowsState& state) {
    forgetAnswers();
    if (state.allStale) {
      objects_.forgetAll();
      return;
    }
    for (ObjectId id : state.stale) objects_.forget(id);
  }

  // The object as cached, read from the file first when it is not; null
  // when there is no such object.
  const CachedObject* cached(ObjectId id) const {
    if (id == 0) return nullptr;
    reading();
    if (const CachedObject* found = objects_.use(id)) return found;
    // Objects are often read in the order they were made (a walk over a
    // package's contents, a copy, an export), or every so many of them in
    // that order (the classes of a package, each after its features): a
    // miss a little past the last read's end reads twice as many objects
    // ahead, up to kMostReadAhead, each table's rows in one pass; any other
    // miss reads one object.
    const bool onward = id >= nextAhead_ && id - nextAhead_ < kMostReadAhead;
    readAhead_ = onward ? std::min(readAhead_ * 2, kMostReadAhead) : 1;
    nextAhead_ = id + readAhead_;
    if (readAhead_ == 1) {
      readOne(id);
    } else {
      readRange(id, id + std::min<ObjectId>(readAhead_ - 1, UINT32_MAX - id));
    }
    return objects_.find(id);
  }

  static constexpr ObjectId kMostReadAhead = 256;

  // Adds one part of an object; returns about how many bytes it added.
  static std::size_t addPart(CachedObject& object, const ObjectPart& part) {
    switch (part.kind) {
      case ObjectPart::Class:
        object.classId = static_cast<ClassId>(part.feature);
        return kObjectBytes;
      case ObjectPart::Value:
        object.values.emplace_back(part.feature,
                                   StoredValue{static_cast<ValueClassId>(part.a),
                                               static_cast<std::int32_t>(part.b), part.text});
        return bytesOf(object.values.back().second);
      case ObjectPart::Reference:
        object.references.emplace_back(part.feature, static_cast<ObjectId>(part.a));
        return sizeof(std::pair<FeatureId, ObjectId>);
      case ObjectPart::Members:
        object.filedCollections.push_back(part.feature);
        return kFiledFeatureBytes;
      default:
        object.filedValueLists.push_back(part.feature);
        return kFiledFeatureBytes;
    }
  }

  void readOne(ObjectId id) const {
    CachedObject object;
    std::size_t bytes = 0;
    std::vector<ObjectPart> parts;
    rows_->readObject(id, parts);
    for (const ObjectPart& part : parts) bytes += addPart(object, part);
    if (object.classId == 0) return;
    trimCache();
    keep(id, std::move(object), bytes);
  }

  // Reads the objects numbered `first` to `last` that the cache lacks.
  void readRange(ObjectId first, ObjectId last) const {
    std::vector<CachedObject> objects(last - first + 1);
    std::vector<std::size_t> partBytes(objects.size());
    std::vector<ObjectPart> parts;
    rows_->readObjects(first, last, parts);
    for (const ObjectPart& part : parts) {
      // A damaged file's pages may hand back rows outside the range asked.
      if (part.object < first || part.object > last) continue;
      const std::size_t at = part.object - first;
      partBytes[at] += addPart(objects[at], part);
    }
    readChains(first, last, objects, partBytes);
    trimCache();
    // Kept last first, so that the object asked for is the latest used.
    for (std::size_t at = objects.size(); at-- > 0;) {
      const ObjectId id = first + static_cast<ObjectId>(at);
      if (objects[at].classId != 0 && !objects_.holds(id)) {
        keep(id, std::move(objects[at]), partBytes[at]);
      }
    }
    readIncoming(first, last);
  }

  // What refers to the cached objects numbered `from` to `last` whose lists
  // are not known (just read, or made doubtful by changes), where the rows
  // give it: one question for a walk's worth of objects, not one each.
  void readIncoming(ObjectId from, ObjectId last) const {
    std::vector<StoreRows::Incoming> incoming;
    if (!rows_->readIncoming(from, last, incoming)) return;
    std::vector<CachedObject*> stale(last - from + 1, nullptr);
    for (ObjectId id = from; id <= last && id != 0; ++id) {
      CachedObject* found = objects_.find(id);
      if (found == nullptr || found->incomingEpoch == epoch_) continue;
      CachedObject& object = *found;
      objects_.shrink(object, object.incoming.size() * sizeof(std::pair<FeatureId, ObjectId>));
      object.incoming.clear();
      stale[id - from] = &object;
    }
    for (const auto& [target, feature, referrer] : incoming) {
      if (target < from || target > last || stale[target - from] == nullptr) continue;
      stale[target - from]->incoming.emplace_back(feature, referrer);
      objects_.grow(*stale[target - from], sizeof(std::pair<FeatureId, ObjectId>));
    }
    for (CachedObject* object : stale) {
      if (object == nullptr) continue;
      std::sort(object->incoming.begin(), object->incoming.end());
      object->incomingEpoch = epoch_;
    }
  }

  // The collections of the objects read ahead, when the rows give them with
  // few enough members.
  void readChains(ObjectId first, ObjectId last, std::vector<CachedObject>& objects,
                  std::vector<std::size_t>& partBytes) const {
    std::vector<StoreRows::Link> links;
    if (!rows_->readChains(first, last, kMostMembersReadAhead, links)) return;
    std::map<std::pair<ObjectId, FeatureId>, std::vector<std::pair<ObjectId, ObjectId>>> chains;
    for (const StoreRows::Link& link : links) {
      if (link.object < first || link.object > last) continue;
      chains[{link.object, link.feature}].emplace_back(link.member, link.next);
    }
    for (const auto& [key, chain] : chains) {
      const std::size_t at = key.first - first;
      OrderedIdSet members = chainOf(key.first, key.second, chain);
      partBytes[at] += kCollectionBytes + kMemberBytes * static_cast<std::size_t>(members.size());
      objects[at].collections.emplace(key.second, std::move(members));
    }
  }

  static constexpr std::size_t kMostMembersReadAhead = 4096;

  // The transaction begins first: beginning may drop from the cache what
  // others changed, this object among them.
  CachedObject& changing(ObjectId id) {
    beginWriting();
    const CachedObject* object = cached(id);
    if (object == nullptr) throw std::invalid_argument("no object " + std::to_string(id));
    if (!madeInTransaction(id)) touched_.insert(id);
    return const_cast<CachedObject&>(*object);
  }

  // The transaction numbers what it makes from numberAtBegin_ on: those
  // objects are touched without a note each, which an import of millions
  // of objects would take memory for.
  bool madeInTransaction(ObjectId id) const { return id >= numberAtBegin_ && id < nextNumber_; }

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
    objects_.grow(object, kCollectionBytes + kMemberBytes * static_cast<std::size_t>(members.size()));
    return &object.collections.emplace(feature, std::move(members)).first->second;
  }

  OrderedIdSet& changingCollection(ObjectId id, FeatureId feature) {
    CachedObject& object = changing(id);
    if (collection(id, feature) == nullptr) objects_.grow(object, kCollectionBytes);
    return object.collections[feature];  // read by collection() when the file has members
  }

  // Follows a collection's chain from its first member, the one no other
  // member names as next.
  OrderedIdSet readChain(ObjectId id, FeatureId feature) const {
    return chainOf(id, feature, rows_->readChain(id, feature));
  }

  OrderedIdSet chainOf(ObjectId id, FeatureId feature,
                       const std::vector<std::pair<ObjectId, ObjectId>>& links) const {
    std::unordered_map<ObjectId, ObjectId> next;
    std::unordered_set<ObjectId> named;
    for (const auto& [member, after] : links) {
      next.emplace(member, after);
      if (after != 0) named.insert(after);
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
      throw StoreError(rows_->describe() + " is damaged: the chain of collection " +
                       std::to_string(feature) + " of object " + std::to_string(id) + " is broken");
    }
    return members;
  }

  void relink(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) {
    rows_->relink(id, feature, member, next);
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
    std::vector<StoredValue> values = rows_->readValues(id, feature);
    objects_.grow(object, kCollectionBytes);
    for (const StoredValue& value : values) objects_.grow(object, bytesOf(value));
    return &object.valueLists.emplace(feature, std::move(values)).first->second;
  }

  std::unique_ptr<StoreRows> rows_;
  mutable ObjectCache objects_;
  mutable ObjectId readAhead_ = 1;       // how many objects the last miss read
  mutable ObjectId nextAhead_ = 0;       // the first object past them
  // Answers from the file's indexes: by class, by value held, by target.
  mutable KeptAnswers<ClassId> instances_;
  mutable KeptAnswers<ValueKey, ValueKeyHash> holders_;
  mutable KeptAnswers<std::uint64_t> referrers_;
  mutable std::uint64_t epoch_ = 1;  // which objects' lists of referrers hold
  std::unordered_set<ObjectId> touched_;
  std::size_t objectCount_ = 0;
  std::size_t countAtBegin_ = 0;  // what a rollback gives back
  ObjectId nextNumber_ = 1;       // the next object's number
  ObjectId numberAtBegin_ = 1;    // the same, as a rollback gives it back
  std::uint64_t lastCommit_ = 0;  // the last commit seen, this store's or another's
  std::chrono::system_clock::time_point lastForgotten_{};  // when old history last went
  bool inTransaction_ = false;
  bool savepoint_ = false;  // the call in progress began at a savepoint
  std::size_t countAtMark_ = 0;
  ObjectId numberAtMark_ = 1;
  bool writing_ = false;         // the transaction may write
  mutable std::chrono::steady_clock::time_point othersAsked_{};  // last othersWrote
  mutable Ids roots_;  // as rows_->readRoots read them, while rootsRead_
  mutable bool rootsRead_ = false;
  bool readingUnasked_ = false;  // it was begun by a read, without beginCall
};

}  // namespace

std::unique_ptr<PersistentStore> makeCachedStore(std::unique_ptr<StoreRows> rows) {
  return std::make_unique<CachedStore>(std::move(rows));
}
