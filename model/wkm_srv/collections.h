#pragma once

// The repository's collections of model objects. A collection object is a
// fresh snapshot of members, by object, in order: reading a feature or
// finding instances gives a new one each time.
//
//   VornSet<T>    unordered (as stored)
//   VornList<T>   ordered; adding to a list feature takes a position
//   VornArray<T>  the result of finds, and the type of a few features

#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "model/wkm_srv/VornPersistentObject.h"
#include "store/vorn_types.h"
#include "model/wkm_srv/wkm_srv_api.h"

// What every collection offers without knowing its element class: enough to
// count, walk and release it.
class WKM_SRV_API VornCollection {
 public:
  virtual ~VornCollection();

  VornLong size() const { return static_cast<VornLong>(ids_.size()); }
  const std::vector<ObjectId>& ids() const { return ids_; }
  PersistentStore* store() const { return store_; }
  // The member at `index`; throws std::out_of_range outside 0..size()-1.
  ObjectId idAt(VornLong index) const;

  virtual const char* kindName() const = 0;
  virtual const char* elementClassName() const = 0;
  // A new surrogate of the element class on the member at `index`, or null
  // when no memory is to be had. Throws std::out_of_range like idAt.
  virtual VornPersistentObject* newElementAt(VornLong index) const = 0;

 protected:
  VornCollection() = default;
  VornCollection(PersistentStore* store, std::vector<ObjectId> ids)
      : store_(store), ids_(std::move(ids)) {}
  VornCollection(const VornCollection&) = default;
  VornCollection& operator=(const VornCollection&) = default;

 private:
  PersistentStore* store_ = nullptr;
  std::vector<ObjectId> ids_;
};

template <class T>
class VornTypedCollection : public VornCollection {
 public:
  using Element = T;

  // The member at `index` as a surrogate of T.
  T get(VornLong index) const { return T(ObjectRef{store(), idAt(index)}); }
  const char* elementClassName() const override { return T::className(); }
  VornPersistentObject* newElementAt(VornLong index) const override {
    return new (std::nothrow) T(ObjectRef{store(), idAt(index)});
  }

 protected:
  using VornCollection::VornCollection;
};

template <class T>
class VornSet final : public VornTypedCollection<T> {
 public:
  VornSet() = default;
  VornSet(PersistentStore* store, std::vector<ObjectId> ids)
      : VornTypedCollection<T>(store, std::move(ids)) {}
  const char* kindName() const override { return "VornSet"; }
};

template <class T>
class VornList final : public VornTypedCollection<T> {
 public:
  VornList() = default;
  VornList(PersistentStore* store, std::vector<ObjectId> ids)
      : VornTypedCollection<T>(store, std::move(ids)) {}
  const char* kindName() const override { return "VornList"; }
};

template <class T>
class VornArray final : public VornTypedCollection<T> {
 public:
  VornArray() = default;
  VornArray(PersistentStore* store, std::vector<ObjectId> ids)
      : VornTypedCollection<T>(store, std::move(ids)) {}
  const char* kindName() const override { return "VornArray"; }
};
