#include "model/wkm_srv/VornDataType.h"

// Defined here so the class's type information lives in this library. The
// comparison operators are defined by QOVIX_os.
VornDataType::~VornDataType() = default;
