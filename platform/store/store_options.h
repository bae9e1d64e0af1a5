#pragma once

// What a database store is opened with: how durable each commit is, and
// the model's names, which the database keeps beside the rows.

#include <string>
#include <vector>

#include "platform/wkm_srv/vorn_types.h"

struct StoreOptions {
  enum class Sync { Normal, Full };
  Sync sync = Sync::Normal;
  // The model's names, written into the file so that plain SQL can show
  // classes and features by name; empty lists leave the file's names as
  // they are.
  struct ClassName {
    ClassId id;
    std::string name;
  };
  struct FeatureName {
    FeatureId id;
    ClassId owner;
    std::string name;
  };
  std::vector<ClassName> classNames;
  std::vector<FeatureName> featureNames;
};
