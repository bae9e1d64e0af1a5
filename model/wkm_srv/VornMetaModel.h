#pragma once

#include <string>

#include "model/wkm_srv/VornPersistentObject.h"
#include "model/wkm_srv/wkm_srv_api.h"

// A metamodel: a named description of a model, kept as the package that
// defines it. A package built from a metamodel takes its name and a copy of
// the defining package's contents.
class WKM_SRV_API VornMetaModel final : public VornObject {
 public:
  VornMetaModel(std::string name, ObjectRef definingPackage)
      : name_(std::move(name)), package_(definingPackage) {}

  const std::string& name() const { return name_; }
  ObjectRef definingPackage() const { return package_; }

  int classId() const override { return 0; }
  VornObject* copy() const override { return new VornMetaModel(*this); }
  int isNull() const override { return package_.id == 0 ? 1 : 0; }
  int isValid() const override;
  int modelId() const override { return kBaseModelId; }

 private:
  std::string name_;
  ObjectRef package_;
};
