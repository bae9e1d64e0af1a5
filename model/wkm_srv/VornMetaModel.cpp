#include "model/wkm_srv/VornMetaModel.h"

int VornMetaModel::isValid() const {
  return package_.store != nullptr && package_.store->exists(package_.id) ? 1 : 0;
}
