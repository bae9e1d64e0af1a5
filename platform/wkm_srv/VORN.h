#pragma once

#include "platform/wkm_srv/vorn_types.h"
#include "platform/wkm_srv/wkm_srv_api.h"

// The repository object: what constructors and finds work in. Its handle
// index accessors are defined by QOVIX_os, which exports them.
class WKM_SRV_API VORN {
 public:
  VornLong get_handleIndex() const;
  void set_handleIndex(VornLong index);

 private:
  VornLong handleIndex_ = 0;
};
