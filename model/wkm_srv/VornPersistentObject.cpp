#include "model/wkm_srv/VornPersistentObject.h"

VornPersistentObject::~VornPersistentObject() = default;

int VornPersistentObject::isValid() const {
  return ref_.store != nullptr && ref_.store->exists(ref_.id) ? 1 : 0;
}
