#pragma once

#include "model/wkm_srv/VornObject.h"
#include "store/persistent_store.h"
#include "store/vorn_types.h"
#include "model/wkm_srv/wkm_srv_api.h"

// Names one persistent object: which store, which object.
struct ObjectRef {
  PersistentStore* store = nullptr;
  ObjectId id = 0;
};

// Base of every model object: a light surrogate naming one persistent object
// of a repository, or nothing (an empty surrogate). Copying a surrogate
// copies the name, never the object.
class WKM_SRV_API VornPersistentObject : public VornObject {
 public:
  ~VornPersistentObject() override;

  // Whether the object has changes not yet written to its store. The store
  // is written as each change is made, so this is always 0.
  int dirty() const { return 0; }

  PersistentStore* store() const { return ref_.store; }
  ObjectId objectId() const { return ref_.id; }
  ObjectRef ref() const { return ref_; }

  // An empty surrogate names no object; a valid one names an object that
  // exists in its store.
  int isNull() const override { return ref_.id == 0 ? 1 : 0; }
  int isValid() const override;
  int modelId() const override { return kQovixModelId; }

 protected:
  VornPersistentObject() = default;
  explicit VornPersistentObject(ObjectRef ref) : ref_(ref) {}
  VornPersistentObject(const VornPersistentObject&) = default;
  VornPersistentObject& operator=(const VornPersistentObject&) = default;
  void rename(ObjectRef ref) { ref_ = ref; }

 private:
  ObjectRef ref_;
};
