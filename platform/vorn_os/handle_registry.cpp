#include "platform/vorn_os/handle_registry.h"

#include <cstdint>
#include <deque>
#include <new>
#include <vector>

namespace {

// A handle is a slot index (low 24 bits, from 1) and the slot's generation
// (high 8 bits). Dropping an entry moves its slot to the next generation, so
// the old handle no longer matches; a slot whose generations are used up is
// retired, never reused, so no handle ever comes back to life.
constexpr unsigned kIndexBits = 24;
constexpr std::uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr std::uint32_t kLastGeneration = 0xFF;

struct Entry {
  void* object = nullptr;
  VornObject* objectPart = nullptr;
  void* persistentPart = nullptr;
  std::uint32_t generation = 0;
  bool live = false;
};

class Registry {
 public:
  unsigned long add(void* object, void* objectPart, void* persistentPart) {
    std::uint32_t index = 0;
    if (!free_.empty()) {
      index = free_.front();
      free_.pop_front();
    } else {
      if (entries_.size() > kIndexMask) return 0;  // every slot is in use or retired
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
    entry.live = true;
    ++live_;
    return (static_cast<unsigned long>(entry.generation) << kIndexBits) | index;
  }

  Entry* find(unsigned long handle) {
    if (handle == 0 || handle > 0xFFFFFFFFul) return nullptr;
    const auto index = static_cast<std::uint32_t>(handle & kIndexMask);
    const auto generation = static_cast<std::uint32_t>(handle >> kIndexBits);
    if (index == 0 || index >= entries_.size()) return nullptr;
    Entry& entry = entries_[index];
    return entry.live && entry.generation == generation ? &entry : nullptr;
  }

  void drop(Entry& entry) {
    const auto index = static_cast<std::uint32_t>(&entry - entries_.data());
    entry = Entry{nullptr, nullptr, nullptr, entry.generation + 1, false};
    --live_;
    if (entry.generation <= kLastGeneration) free_.push_back(index);
  }

  std::size_t live() const { return live_; }

  void noteCalls(bool noting) {
    noting_ = noting;
    madeThisCall_.clear();
  }
  // The handles registered since noting began that are still live.
  std::vector<unsigned long> madeThisCall() const {
    std::vector<unsigned long> made;
    for (std::uint32_t index : madeThisCall_) {
      if (entries_[index].live) {
        made.push_back((static_cast<unsigned long>(entries_[index].generation) << kIndexBits) |
                       index);
      }
    }
    return made;
  }

  // Every live handle, in slot order.
  std::vector<unsigned long> handles() const {
    std::vector<unsigned long> live;
    for (std::size_t index = 1; index < entries_.size(); ++index) {
      if (entries_[index].live) {
        live.push_back((static_cast<unsigned long>(entries_[index].generation) << kIndexBits) |
                       index);
      }
    }
    return live;
  }

 private:
  // Slot 0 is never used, so no handle is 0.
  std::vector<Entry> entries_ = std::vector<Entry>(1);
  std::deque<std::uint32_t> free_;
  std::size_t live_ = 0;
  bool noting_ = false;
  std::vector<std::uint32_t> madeThisCall_;
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
  if (entry->objectPart != nullptr) {
    delete entry->objectPart;
  } else if (entry->persistentPart == nullptr) {
    delete static_cast<VornCollection*>(entry->object);
  }
  registry().drop(*entry);
  return 1;
}

std::size_t handleCount() { return registry().live(); }

void startCall() { registry().noteCalls(true); }

void releaseMadeThisCall() {
  for (unsigned long handle : registry().madeThisCall()) releaseHandle(handle);
}

void endCall() { registry().noteCalls(false); }

std::size_t releaseAll() {
  const std::vector<unsigned long> handles = registry().handles();
  for (unsigned long handle : handles) releaseHandle(handle);
  return handles.size();
}

}  // namespace vorn_os
