#pragma once

#include <memory>
#include <string>

#include "model/wkm_srv/VornObject.h"
#include "store/persistent_store.h"
#include "store/vorn_types.h"
#include "model/wkm_srv/wkm_srv_api.h"

// The repository object: a named repository and the store that holds its
// persistent objects. Constructors and finds of the model work in one.
// The handle index accessors are defined by QOVIX_os, which exports them.
class WKM_SRV_API VORN : public VornObject {
 public:
  // A repository named `name` over `store` (in memory when none is given).
  explicit VORN(std::string name = "repository", std::unique_ptr<PersistentStore> store = nullptr);
  // A repository over a store someone else keeps, as long as it lasts: the
  // repository as it was at a commit.
  VORN(std::string name, PersistentStore& borrowed);
  ~VORN() override;
  VORN(const VORN&) = delete;
  VORN& operator=(const VORN&) = delete;

  const std::string& name() const { return name_; }
  PersistentStore& store() { return *reading_; }
  const PersistentStore& store() const { return *reading_; }

  VornLong get_handleIndex() const;
  void set_handleIndex(VornLong index);

  // The repository object is never copied; copy() gives null.
  int classId() const override { return 0; }
  VornObject* copy() const override { return nullptr; }
  int isNull() const override { return 0; }
  int isValid() const override { return 1; }
  int modelId() const override { return kBaseModelId; }

 private:
  std::string name_;
  std::unique_ptr<PersistentStore> store_;  // its own, unless borrowed
  PersistentStore* reading_;
  VornLong handleIndex_ = 0;
};
