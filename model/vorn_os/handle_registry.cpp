#include "model/vorn_os/handle_registry.h"

#include <cstdint>
#include <deque>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/wkm_srv/VornPersistentObject.h"

namespace {

// A handle is a slot index (low 24 bits, from 1) and the slot's generation
// (high 8 bits). Dropping an entry moves its slot to the next generation, so
// the old handle no longer matches. A dropped slot waits in a queue behind
// at least kQuarantine others before it is used again (the table grows
// meanwhile), and its generation wraps after 256 uses: a dropped handle
// cannot pass okHandle again for at least 256 x kQuarantine = 16,777,216
// later registrations, and registering never stops working.
constexpr unsigned kIndexBits = 24;
constexpr std::uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr std::uint32_t kGenerations = 0x100;
constexpr std::size_t kQuarantine = 1u << 16;

// A persistent object, as the registry indexes the surrogates naming it.
struct Named {
  const PersistentStore* store;
  ObjectId id;
  friend bool operator==(const Named&, const Named&) = default;
};
struct NamedHash {
  std::size_t operator()(const Named& named) const {
    return std::hash<const void*>()(named.store) ^ (std::size_t{named.id} * 0x9E3779B97F4A7C15u);
  }
};

struct Entry {
  void* object = nullptr;
  VornObject* objectPart = nullptr;
  void* persistentPart = nullptr;
  std::uint32_t generation = 0;
  std::uint32_t holder = 0;  // who registered it (Registry::holders_)
  bool live = false;
  bool borrowed = false;    // releasing it drops the handle and deletes nothing
  Named filed{nullptr, 0};  // where the index by persistent object has it; none: not there
};

// The persistent object a registered part names; none (a null store) for
// anything else.
Named namedBy(const VornObject* part) {
  const auto* surrogate = dynamic_cast<const VornPersistentObject*>(part);
  if (surrogate == nullptr || surrogate->objectId() == 0) return {nullptr, 0};
  return {surrogate->store(), surrogate->objectId()};
}

// The caller when its name could not be noted: it holds nothing and may
// register nothing, so that no one is taken for the process itself.
constexpr std::uint32_t kNobody = UINT32_MAX;

class Registry {
 public:
  unsigned long add(void* object, void* objectPart, void* persistentPart, bool borrowed = false) {
    if (caller_ == kNobody) return 0;
    Holder& holder = holders_[caller_];
    if (caller_ != 0 && holder.live >= mostPerCaller_) return 0;
    std::uint32_t index = 0;
    const bool tableFull = entries_.size() > kIndexMask;
    if (free_.size() > kQuarantine || (tableFull && !free_.empty())) {
      index = free_.front();
      free_.pop_front();
    } else {
      if (tableFull) return 0;  // every slot is in use
      entries_.emplace_back();
      index = static_cast<std::uint32_t>(entries_.size() - 1);
    }
    if (noting_) {
      try {
        madeThisCall_.push_back(index);
      } catch (...) {
        if (index + 1 == entries_.size()) {
          entries_.pop_back();
        } else {
          free_.push_front(index);
        }
        throw;
      }
    }
    Entry& entry = entries_[index];
    entry.object = object;
    entry.objectPart = static_cast<VornObject*>(objectPart);
    entry.persistentPart = persistentPart;
    entry.holder = caller_;
    entry.live = true;
    entry.borrowed = borrowed;
    ++live_;
    ++holder.live;
    try {
      file(index);
    } catch (...) {
      drop(entry);
      throw;
    }
    return handleAt(index);
  }

  Entry* find(unsigned long handle) {
    if (handle == 0 || handle > 0xFFFFFFFFul) return nullptr;
    const auto index = static_cast<std::uint32_t>(handle & kIndexMask);
    const auto generation = static_cast<std::uint32_t>(handle >> kIndexBits);
    if (index == 0 || index >= entries_.size()) return nullptr;
    Entry& entry = entries_[index];
    if (!entry.live || entry.generation != generation) return nullptr;
    // Scoped, a caller sees only what it registered; the process sees all.
    if (scoped_ && caller_ != 0 && entry.holder != caller_) return nullptr;
    return &entry;
  }

  void drop(Entry& entry) {
    const auto index = static_cast<std::uint32_t>(&entry - entries_.data());
    unindexNamed(index);
    --holders_[entry.holder].live;
    entry = Entry{nullptr, nullptr, nullptr, (entry.generation + 1) % kGenerations,
                  0,       false,   false,   {nullptr, 0}};
    --live_;
    free_.push_back(index);
  }

  // Who the next registrations are for: a caller's name (its address), or
  // empty for the process itself, which has no cap.
  void setCaller(std::string_view name) {
    caller_ = kNobody;  // until the name is noted
    if (name.empty()) {
      caller_ = 0;
      return;
    }
    if (const auto found = holderIds_.find(std::string(name)); found != holderIds_.end()) {
      caller_ = found->second;
      return;
    }
    holders_.emplace_back();  // first, so that no id ever names a holder that is not there
    try {
      caller_ = holderIds_.emplace(std::string(name), holders_.size() - 1).first->second;
    } catch (...) {
      holders_.pop_back();
      throw;
    }
  }
  void setMostPerCaller(std::size_t most) { mostPerCaller_ = most; }
  void setScoped(bool scoped) { scoped_ = scoped; }
  std::uint32_t callerId() const { return caller_; }
  void setCallerId(std::uint32_t id) { caller_ = id; }

  std::size_t live() const { return live_; }
  // What the caller holds; everything for the process.
  std::size_t liveOfCaller() const {
    if (caller_ == 0) return live_;
    return caller_ == kNobody ? 0 : holders_[caller_].live;
  }

  // The live handles the named caller registered.
  std::vector<unsigned long> handlesOf(std::string_view name) const {
    std::vector<unsigned long> held;
    const auto found = holderIds_.find(std::string(name));
    if (found == holderIds_.end()) return held;
    for (std::size_t index = 1; index < entries_.size(); ++index) {
      const Entry& entry = entries_[index];
      if (entry.live && entry.holder == found->second) {
        held.push_back(handleAt(index));
      }
    }
    return held;
  }

  void noteCalls(bool noting) {
    noting_ = noting;
    madeThisCall_.clear();
  }
  // The handles registered since noting began that are still live.
  std::vector<unsigned long> madeThisCall() const {
    std::vector<unsigned long> made;
    for (std::uint32_t index : madeThisCall_) {
      if (entries_[index].live) {
        made.push_back(handleAt(index));
      }
    }
    return made;
  }

  // The handles of the calls held for the next commit: those made by the
  // call just held join them; settling gives them up.
  void holdMadeThisCall() {
    const std::vector<unsigned long> made = madeThisCall();
    heldCalls_.insert(heldCalls_.end(), made.begin(), made.end());
  }
  std::vector<unsigned long> takeHeldCalls() {
    std::vector<unsigned long> held = std::move(heldCalls_);
    heldCalls_.clear();
    return held;
  }

  // A live handle whose surrogate was registered naming `named` (it may
  // name another object since, renamed by an assignment); 0 when none is
  // left.
  unsigned long handleNaming(const Named& named) const {
    const auto found = byNamed_.find(named);
    return found != byNamed_.end() ? handleAt(found->second) : 0;
  }
  // Indexes the entry at `index` anew, under what its surrogate names now.
  void reindexNamed(std::uint32_t index) {
    unindexNamed(index);
    file(index);
  }

  // Every live handle, in slot order.
  std::vector<unsigned long> handles() const {
    std::vector<unsigned long> live;
    for (std::size_t index = 1; index < entries_.size(); ++index) {
      if (entries_[index].live) {
        live.push_back(handleAt(index));
      }
    }
    return live;
  }

 private:
  // Puts the entry at `index` in the index by persistent object, under what
  // its surrogate names now (nothing for other parts).
  void file(std::uint32_t index) {
    Entry& entry = entries_[index];
    const Named named = namedBy(entry.objectPart);
    if (named.store == nullptr) return;
    byNamed_.emplace(named, index);
    entry.filed = named;
  }
  // Takes the entry at `index` out of that index, where it was filed (its
  // part may be deleted already, or name another object since).
  void unindexNamed(std::uint32_t index) {
    Entry& entry = entries_[index];
    if (entry.filed.store == nullptr) return;
    auto [first, last] = byNamed_.equal_range(entry.filed);
    for (auto it = first; it != last; ++it) {
      if (it->second == index) {
        byNamed_.erase(it);
        break;
      }
    }
    entry.filed = {nullptr, 0};
  }

  // The handle of a slot: its generation above its index.
  unsigned long handleAt(std::size_t index) const {
    return (static_cast<unsigned long>(entries_[index].generation) << kIndexBits) | index;
  }

  // Slot 0 is never used, so no handle is 0.
  struct Holder {
    std::size_t live = 0;
  };

  std::vector<Entry> entries_ = std::vector<Entry>(1);
  std::deque<std::uint32_t> free_;
  std::size_t live_ = 0;
  std::vector<Holder> holders_ = std::vector<Holder>(1);  // 0: the process itself
  std::unordered_map<std::string, std::uint32_t> holderIds_;
  std::uint32_t caller_ = 0;
  std::size_t mostPerCaller_ = SIZE_MAX;
  bool scoped_ = false;
  bool noting_ = false;
  std::vector<std::uint32_t> madeThisCall_;
  std::vector<unsigned long> heldCalls_;
  std::unordered_multimap<Named, std::uint32_t, NamedHash> byNamed_;  // registered surrogates
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

int okHandle(unsigned long handle) { return registry().find(handle) != nullptr ? 1 : 0; }

void* getObject(unsigned long handle, short view) {
  Entry* entry = registry().find(handle);
  if (entry == nullptr) return nullptr;
  switch (view) {
    case 0:
      return entry->object;
    case 1:
      return entry->persistentPart;
    default:
      return nullptr;
  }
}

unsigned long getHandle(void* object, void* objectPart, void* persistentPart) {
  if (object == nullptr) return 0;
  try {
    return registry().add(object, objectPart, persistentPart);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int deleteHandle(unsigned long handle) {
  Entry* entry = registry().find(handle);
  if (entry == nullptr) return 0;
  registry().drop(*entry);
  return 1;
}

namespace vorn_os {

VornObject* objectPart(unsigned long handle) {
  Entry* entry = registry().find(handle);
  return entry != nullptr ? entry->objectPart : nullptr;
}

VornCollection* collection(unsigned long handle) {
  Entry* entry = registry().find(handle);
  if (entry == nullptr || entry->objectPart != nullptr || entry->persistentPart != nullptr) {
    return nullptr;
  }
  return static_cast<VornCollection*>(entry->object);
}

int releaseHandle(unsigned long handle) {
  Entry* entry = registry().find(handle);
  if (entry == nullptr) return 0;
  if (entry->borrowed) {
    // names what someone else owns
  } else if (entry->objectPart != nullptr) {
    delete entry->objectPart;
  } else if (entry->persistentPart == nullptr) {
    delete static_cast<VornCollection*>(entry->object);
  }
  registry().drop(*entry);
  return 1;
}

std::size_t handleCount() { return registry().live(); }

std::size_t handleCountOfCaller() { return registry().liveOfCaller(); }

unsigned long borrowedHandle(void* object, void* objectPart) {
  if (object == nullptr) return 0;
  try {
    return registry().add(object, objectPart, nullptr, true);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

void setScoped(bool scoped) { registry().setScoped(scoped); }

std::size_t releaseAllOf(std::string_view caller) {
  const std::vector<unsigned long> held = registry().handlesOf(caller);
  const std::uint32_t current = registry().callerId();
  registry().setCallerId(0);  // as the process, which sees all of them
  for (unsigned long handle : held) releaseHandle(handle);
  registry().setCallerId(current);
  return held.size();
}

void refile(unsigned long handle) {
  if (registry().find(handle) == nullptr) return;
  try {
    registry().reindexNamed(static_cast<std::uint32_t>(handle & kIndexMask));
  } catch (const std::bad_alloc&) {
    // left unfiled: a delete of what it names keeps its handle, naming nothing
  }
}

std::size_t releaseNaming(const PersistentStore& store, std::span<const ObjectId> ids) {
  const std::uint32_t current = registry().callerId();
  registry().setCallerId(0);  // as the process, which sees every handle
  std::size_t released = 0;
  for (ObjectId id : ids) {
    const Named named{&store, id};
    while (const unsigned long handle = registry().handleNaming(named)) {
      Entry* entry = registry().find(handle);
      if (namedBy(entry->objectPart) == named) {
        released += static_cast<std::size_t>(releaseHandle(handle));
      } else {
        // Renamed by an assignment since: filed where it belongs now.
        try {
          registry().reindexNamed(static_cast<std::uint32_t>(handle & kIndexMask));
        } catch (const std::bad_alloc&) {
          break;  // left unfiled: a later delete of what it names keeps its handle
        }
      }
    }
  }
  registry().setCallerId(current);
  return released;
}

void setCaller(std::string_view caller) {
  try {
    registry().setCaller(caller);
  } catch (const std::bad_alloc&) {
    // Not noted: the caller is nobody, who sees nothing and registers nothing.
  }
}

void setMostHandlesPerCaller(std::size_t most) { registry().setMostPerCaller(most); }

void startCall() { registry().noteCalls(true); }

void releaseMadeThisCall() {
  for (unsigned long handle : registry().madeThisCall()) releaseHandle(handle);
}

void endCall() { registry().noteCalls(false); }

void holdMadeThisCall() { registry().holdMadeThisCall(); }

void settleHeldCalls(bool kept) {
  const std::vector<unsigned long> held = registry().takeHeldCalls();
  if (!kept) {
    for (unsigned long handle : held) releaseHandle(handle);
  }
}

std::size_t releaseAll() {
  const std::vector<unsigned long> handles = registry().handles();
  for (unsigned long handle : handles) releaseHandle(handle);
  return handles.size();
}

}  // namespace vorn_os
