// What a database hands the store as rows: a damaged repository file, or a
// PostgreSQL database that another program (or a person with psql) wrote.
// The store must answer from whatever rows it is given, or refuse with a
// StoreError, without a crash, a leak or undefined behaviour. Every row the
// store reads here comes from the input: objects' parts, collections'
// chains (broken ones too), values, index answers and what refers to what.
// The rows' history, too: undo must follow whatever changes they name or
// refuse. The first byte may instead ask for PostgreSQL's text columns, and
// the history's lists of values as bytes: arbitrary
// text and raw columns must decode or be refused, and every text must come
// back unit for unit from the columns it is written as.

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "model/qovix_srv/undo.h"
#include "store/cached_store.h"
#include "store/change_rows.h"
#include "store/pg_text.h"

namespace {

// The input, read a little at a time; zeros once it is used up.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t small(std::uint32_t below) { return below == 0 ? 0 : byte() % below; }
  std::u16string text() {
    std::u16string units;
    for (std::uint32_t n = small(6); n > 0; --n) {
      units.push_back(static_cast<char16_t>(byte() | (byte() << 8)));
    }
    return units;
  }
  std::string bytes(std::uint32_t most = 12) {
    std::string out;
    for (std::uint32_t n = small(most); n > 0; --n) out.push_back(static_cast<char>(byte()));
    return out;
  }
  bool empty() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Object numbers, features and classes from a small range, so that rows
// name one another often.
constexpr std::uint32_t kRange = 12;

class FuzzedRows final : public StoreRows {
 public:
  explicit FuzzedRows(Input& input) : in_(input), shared_(input.byte() % 2 == 0) {}

  std::string describe() const override { return "the fuzzed rows"; }
  bool shared() const override { return shared_; }
  RowsState begin(bool) override { return state(); }
  void commit(ObjectId, std::size_t, std::span<const CommitRecord>) override { fail(); }
  void rollback() override {}
  RowsState current() override { return state(); }

  void readObject(ObjectId id, std::vector<ObjectPart>& parts) override {
    for (std::uint32_t n = in_.small(6); n > 0; --n) parts.push_back(part(id));
  }
  void readObjects(ObjectId first, ObjectId last, std::vector<ObjectPart>& parts) override {
    for (std::uint32_t n = in_.small(16); n > 0; --n) {
      parts.push_back(part(first + in_.small(last - first + 3)));  // some outside the range
    }
  }
  std::vector<std::pair<ObjectId, ObjectId>> readChain(ObjectId, FeatureId) override {
    std::vector<std::pair<ObjectId, ObjectId>> links;
    for (std::uint32_t n = in_.small(6); n > 0; --n) links.emplace_back(id(), in_.small(kRange));
    return links;
  }
  std::vector<StoredValue> readValues(ObjectId, FeatureId) override {
    std::vector<StoredValue> values;
    for (std::uint32_t n = in_.small(4); n > 0; --n) values.push_back(value());
    return values;
  }
  bool readIncoming(ObjectId first, ObjectId last, std::vector<Incoming>& incoming) override {
    if (in_.byte() % 2 == 0) return false;
    for (std::uint32_t n = in_.small(8); n > 0; --n) {
      incoming.push_back({first + in_.small(last - first + 3), in_.small(kRange), id()});
    }
    return true;
  }
  bool readChains(ObjectId first, ObjectId last, std::size_t, std::vector<Link>& links) override {
    if (in_.byte() % 2 == 0) return false;
    for (std::uint32_t n = in_.small(8); n > 0; --n) {
      links.push_back(
          {first + in_.small(last - first + 3), in_.small(kRange), id(), in_.small(kRange)});
    }
    return true;
  }
  std::vector<ObjectId> instances(ClassId) override { return ids(); }
  std::vector<ObjectId> holding(FeatureId, const StoredValue&) override { return ids(); }
  std::vector<ObjectId> namesMatching(name_search::Match, std::u16string_view,
                                      std::size_t) override {
    return ids();
  }
  std::vector<ObjectId> referring(FeatureId, ObjectId) override { return ids(); }
  StoreOptions::Roots rootsKept() const override { return {{1, 2}, 3, 4}; }
  std::vector<ObjectId> readRoots() override { return ids(); }
  void writeRoot(ObjectId, bool) override {}
  std::vector<std::pair<FeatureId, ObjectId>> referencesTo(ObjectId) override {
    std::vector<std::pair<FeatureId, ObjectId>> found;
    for (ObjectId each : ids()) found.emplace_back(in_.small(kRange), each);
    return found;
  }

  void addObject(ObjectId, ClassId) override {}
  void removeObject(ObjectId) override {}
  void setAttribute(ObjectId, FeatureId, const StoredValue&) override {}
  void setReference(ObjectId, FeatureId, ObjectId) override {}
  void clearReference(ObjectId, FeatureId) override {}
  void addMember(ObjectId, FeatureId, ObjectId, ObjectId) override {}
  void removeMember(ObjectId, FeatureId, ObjectId) override {}
  void relink(ObjectId, FeatureId, ObjectId, ObjectId) override {}
  void clearMembers(ObjectId, FeatureId) override {}
  void setValues(ObjectId, FeatureId, const std::vector<StoredValue>&) override {}
  void clearAttribute(ObjectId, FeatureId) override {}
  std::vector<CommitRecord> commitsSince(std::uint64_t, std::size_t, std::size_t) override {
    return {};
  }
  // The history: commits whose changes name anything, in any order.
  std::vector<CommitRecord> historyOf(ObjectId, std::uint64_t, std::size_t) override {
    std::vector<CommitRecord> found;
    for (std::uint32_t n = in_.small(3); n > 0; --n) found.push_back(commit(in_.small(6)));
    return found;
  }
  std::optional<CommitRecord> commitAt(std::uint64_t sequence, std::size_t) override {
    if (in_.byte() % 4 == 0) return std::nullopt;
    return commit(sequence);
  }
  std::uint64_t nextChangeOf(ObjectId, std::optional<FeatureId>, std::uint64_t) override {
    return in_.byte() % 3 == 0 ? in_.small(8) : 0;
  }
  void forgetHistoryBefore(std::int64_t) override {}

 private:
  CommitRecord commit(std::uint64_t sequence) {
    CommitRecord made;
    made.sequence = sequence;
    for (std::uint32_t n = in_.small(3); n > 0; --n) {
      made.created.push_back({id(), in_.small(kRange)});
    }
    for (std::uint32_t n = in_.small(8); n > 0; --n) {
      SlotChange& change = made.changes.emplace_back();
      change.kind = static_cast<SlotChange::Kind>(in_.small(7));
      change.object = id();
      change.feature = in_.small(kRange);
      change.position = static_cast<VornLong>(in_.small(5)) - 1;
      change.beforeTarget = id();
      change.afterTarget = id();
      for (std::uint32_t v = in_.small(3); v > 0; --v) change.before.push_back(value());
      for (std::uint32_t v = in_.small(3); v > 0; --v) change.after.push_back(value());
    }
    return made;
  }

  ObjectId id() { return in_.small(kRange); }
  // In creation order, as the rows give them; repeats and zeros included.
  std::vector<ObjectId> ids() {
    std::vector<ObjectId> found;
    for (std::uint32_t n = in_.small(6); n > 0; --n) found.push_back(id());
    std::sort(found.begin(), found.end());
    return found;
  }
  StoredValue value() {
    return {static_cast<ValueClassId>(in_.small(kRange)),
            static_cast<std::int32_t>(in_.byte() - 128), in_.text()};
  }
  ObjectPart part(ObjectId object) {
    ObjectPart made;
    made.object = object;
    made.kind = static_cast<ObjectPart::Kind>(in_.small(5));
    made.feature = in_.small(kRange);
    made.a = static_cast<std::int64_t>(in_.byte()) - 8;
    made.b = static_cast<std::int64_t>(in_.byte()) - 128;
    if (made.kind == ObjectPart::Value) made.text = in_.text();
    return made;
  }
  RowsState state() {
    RowsState made;
    made.lastCommit = in_.small(4);
    made.nextNumber = 1 + in_.small(kRange * 2);
    made.objectCount = in_.small(kRange);
    made.othersCommitted = in_.byte() % 2 == 0;
    made.allStale = in_.byte() % 4 == 0;
    made.stale = ids();
    return made;
  }
  // A commit fails now and then, as a database's may.
  void fail() {
    if (in_.byte() % 3 == 0) throw StoreError("the fuzzed commit failed");
  }

  Input& in_;
  const bool shared_;
};

void useStore(Input& in) {
  const auto store = makeCachedStore(std::make_unique<FuzzedRows>(in));
  for (int call = 0; call < 8 && !in.empty(); ++call) {
    store->beginCall({"", in.byte() % 2 == 0});
    for (int step = 0; step < 12 && !in.empty(); ++step) {
      const ObjectId id = in.small(kRange);
      const FeatureId feature = in.small(kRange);
      try {
        switch (in.small(12)) {
          case 0:
            store->exists(id), store->classOf(id), store->writtenFeatures(id);
            break;
          case 1:
            if (auto v = store->value(id, feature)) store->holdingValue(feature, *v);
            break;
          case 2:
            store->members(id, feature), store->memberCount(id, feature);
            break;
          case 3:
            store->referrers(feature, id), store->referencesTo(id);
            break;
          case 4:
            store->values(id, feature), store->roots();
            break;
          case 5: {
            const ClassId c = in.small(kRange);
            store->instancesOf(std::span(&c, 1));
            break;
          }
          case 6:
            store->setValue(id, feature, {1, 2, u"x"});
            break;
          case 7:
            store->insertMember(id, feature, in.small(kRange), in.small(3));
            break;
          case 8:
            store->removeMember(id, feature, in.small(kRange));
            break;
          case 9:
            // Undo follows whatever history the rows give, or refuses.
            model::undoCommit(*store, in.small(6));
            break;
          case 10:
            store->historyOf(id, in.small(4), 10);
            break;
          default:
            store->create(in.small(kRange));
            break;
        }
      } catch (const StoreError&) {
      } catch (const std::invalid_argument&) {
      } catch (const std::out_of_range&) {
      } catch (const std::length_error&) {
      }
    }
    try {
      if (in.byte() % 2 == 0) {
        store->commit();
      } else {
        store->rollback();
      }
    } catch (const StoreError&) {
    }
  }
}

void useTexts(Input& in) {
  const std::u16string text = in.text();
  const PgText columns = toPg(text);
  const std::string_view raw(columns.raw);
  if (fromPg(columns.text, columns.exact ? nullptr : &raw) != text) {
    throw std::logic_error("a text did not come back unit for unit");
  }
  // A history column's bytes, as either database gives them: what decodes
  // encodes to the same changes.
  try {
    const std::vector<SlotChange> changes = inCommitOrder(decodeChanges(5, in.bytes(128)));
    if (!changes.empty() &&
        inCommitOrder(decodeChanges(5, encodeChanges(changes).at(5))) != changes) {
      throw std::logic_error("changes did not come back as they went");
    }
    decodeChanges(7, bytesOfHex(in.bytes(96)));
  } catch (const StoreError&) {
  }
  const std::string anyText = in.bytes(), anyRaw = "\\x" + in.bytes();
  const std::string_view given(anyRaw);
  for (const std::string_view* rawColumn :
       {static_cast<const std::string_view*>(nullptr), &given}) {
    try {
      fromPg(anyText, rawColumn);
    } catch (const StoreError&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  if (in.byte() % 4 == 0) {
    useTexts(in);
  } else {
    useStore(in);
  }
  return 0;
}
