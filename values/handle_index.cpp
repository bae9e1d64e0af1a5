// The repository object's handle index.

#include "model/wkm_srv/VORN.h"

VornLong VORN::get_handleIndex() const { return handleIndex_; }

void VORN::set_handleIndex(VornLong index) { handleIndex_ = index; }
