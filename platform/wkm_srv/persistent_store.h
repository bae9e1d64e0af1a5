#pragma once

// Where a repository's persistent objects live. The interface is what the
// model library needs; the repository keeps its objects in memory today
// (MemoryStore), and a store that keeps them on disk can take its place
// behind the same interface.
//
// Objects are numbered from 1 in creation order and are never removed: a
// surrogate that is destroyed releases only itself. Each object holds slots,
// one per feature written: a value, a single reference, a collection of
// objects or a list of values.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/wkm_srv/ordered_id_set.h"
#include "platform/wkm_srv/vorn_types.h"
#include "platform/wkm_srv/wkm_srv_api.h"

// A data value at rest: its class and its payload (text or number).
struct StoredValue {
  ValueClassId valueClass = 0;
  std::int32_t number = 0;
  std::u16string text;

  friend bool operator==(const StoredValue&, const StoredValue&) = default;
};

class WKM_SRV_API PersistentStore {
 public:
  virtual ~PersistentStore();

  // A new object of `classId`; its slots are all unwritten.
  virtual ObjectId create(ClassId classId) = 0;
  virtual bool exists(ObjectId id) const = 0;
  // The class the object was created as; 0 for no object.
  virtual ClassId classOf(ObjectId id) const = 0;
  // The objects created as `classId`, in creation order.
  virtual const std::vector<ObjectId>& instancesOf(ClassId classId) const = 0;
  virtual std::size_t objectCount() const = 0;

  // A value slot; null when never written.
  virtual const StoredValue* value(ObjectId id, FeatureId feature) const = 0;
  virtual void setValue(ObjectId id, FeatureId feature, StoredValue value) = 0;

  // A single reference; 0 when unset.
  virtual ObjectId reference(ObjectId id, FeatureId feature) const = 0;
  // Sets (or with 0 clears) a single reference.
  virtual void setReference(ObjectId id, FeatureId feature, ObjectId target) = 0;

  // An object collection; null when never written.
  virtual const OrderedIdSet* collection(ObjectId id, FeatureId feature) const = 0;
  virtual OrderedIdSet& mutableCollection(ObjectId id, FeatureId feature) = 0;

  // A list of values; null when never written.
  virtual const std::vector<StoredValue>* valueList(ObjectId id, FeatureId feature) const = 0;
  virtual std::vector<StoredValue>& mutableValueList(ObjectId id, FeatureId feature) = 0;

  // Where packages are written to and read from as documents; empty when
  // the repository has no document folder.
  const std::filesystem::path& documentFolder() const { return documentFolder_; }
  void setDocumentFolder(std::filesystem::path folder) { documentFolder_ = std::move(folder); }

 private:
  std::filesystem::path documentFolder_;
};

// Keeps every object in memory for the life of the process.
WKM_SRV_API std::unique_ptr<PersistentStore> makeMemoryStore();
