#include "store/object_cache.h"

CachedObject* ObjectCache::use(ObjectId id) {
  const auto found = objects_.find(id);
  if (found == objects_.end()) return nullptr;
  recency_.splice(recency_.begin(), recency_, found->second.recency);
  return &found->second;
}

CachedObject* ObjectCache::find(ObjectId id) {
  const auto found = objects_.find(id);
  return found != objects_.end() ? &found->second : nullptr;
}

bool ObjectCache::keep(ObjectId id, CachedObject object, std::size_t bytes) {
  if (holds(id)) return false;
  recency_.push_front(id);
  object.recency = recency_.begin();
  object.bytes = bytes;
  bytes_ += bytes;
  objects_.emplace(id, std::move(object));
  return true;
}

void ObjectCache::forget(ObjectId id) {
  const auto found = objects_.find(id);
  if (found == objects_.end()) return;
  bytes_ -= found->second.bytes;
  recency_.erase(found->second.recency);
  objects_.erase(found);
}

void ObjectCache::forgetAll() {
  objects_.clear();
  recency_.clear();
  bytes_ = 0;
}

void ObjectCache::grow(CachedObject& object, std::size_t bytes) {
  object.bytes += bytes;
  bytes_ += bytes;
}

void ObjectCache::shrink(CachedObject& object, std::size_t bytes) {
  object.bytes -= bytes;
  bytes_ -= bytes;
}

void ObjectCache::trimTo(std::size_t bound, std::size_t others) {
  while (!recency_.empty() && bytes_ + others > bound) forget(recency_.back());
}
