#pragma once

#include "model/wkm_srv/wkm_srv_api.h"

// Base of everything the repository hands out: model objects, data values,
// the repository object itself.
class WKM_SRV_API VornObject {
 public:
  virtual ~VornObject();
  virtual int classId() const = 0;
  // A new heap copy, or null when the object cannot be copied.
  virtual VornObject* copy() const = 0;
  virtual int isNull() const = 0;
  virtual int isValid() const = 0;
  virtual int modelId() const = 0;

 protected:
  VornObject() = default;
  VornObject(const VornObject&) = default;
  VornObject& operator=(const VornObject&) = default;
};

// Which model an object belongs to: the repository's base types, or the
// QOVIX model.
inline constexpr int kBaseModelId = 0;
inline constexpr int kQovixModelId = 1;
