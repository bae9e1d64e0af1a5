#pragma once

#include "platform/wkm_srv/wkm_srv_api.h"

// Base of everything the repository hands out: model objects and data values.
class WKM_SRV_API VornObject {
 public:
  virtual ~VornObject() = default;
  virtual int classId() const = 0;
  virtual VornObject* copy() const = 0;
  virtual int isNull() const = 0;
  virtual int isValid() const = 0;
  virtual int modelId() const = 0;

 protected:
  VornObject() = default;
  VornObject(const VornObject&) = default;
  VornObject& operator=(const VornObject&) = default;
};
