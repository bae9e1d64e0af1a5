#pragma once

#include <string>

#include "model/wkm_srv/VornObject.h"
#include "model/wkm_srv/wkm_srv_api.h"

// Base of every repository data value. Values order themselves through the
// virtual `comparison`; the six operators are defined by QOVIX_os, which
// exports them for other modules.
class WKM_SRV_API VornDataType : public VornObject {
 public:
  // What `comparison` answers; a value class may answer anything else, which
  // the operators treat as "neither less, equal nor greater".
  enum Comparisons : int { LessThan = 1, Equal = 2, GreaterThan = 3 };

  ~VornDataType() override;
  virtual Comparisons comparison(VornDataType const& other) const = 0;
  virtual int datatypeId() const = 0;
  virtual std::u16string format() const = 0;

  int operator==(VornDataType const& other) const;
  int operator!=(VornDataType const& other) const;
  int operator<(VornDataType const& other) const;
  int operator<=(VornDataType const& other) const;
  int operator>(VornDataType const& other) const;
  int operator>=(VornDataType const& other) const;

 protected:
  VornDataType() = default;
  VornDataType(const VornDataType&) = default;
  VornDataType& operator=(const VornDataType&) = default;
};
