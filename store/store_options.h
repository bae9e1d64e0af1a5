#pragma once

// What a database store is opened with: how durable each commit is, and
// the model's names, which the database keeps beside the rows.

#include <string>
#include <vector>

#include "store/vorn_types.h"

struct StoreOptions {
  // Normal: an acknowledged commit outlasts qovixd being killed, and on
  // PostgreSQL the database server stopping at once too (its default,
  // synchronous_commit on). Full: also the machine losing power. Relaxed:
  // on PostgreSQL, replies do not wait for the database's log to reach its
  // disk (synchronous_commit off), and the last commits acknowledged may be
  // lost when it stops at once; on the repository file, Normal.
  enum class Sync { Normal, Full, Relaxed };
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
  // The value slot whose text the store indexes for search by name
  // (namesMatching): the model's name; 0 for none. A store opened with
  // another indexes its names anew, once.
  FeatureId searchedName = 0;
  // The objects the store keeps an index of while nothing owns them
  // (PersistentStore::roots): those of `classes` whose single reference
  // `reference` names no owner and that no collection `collection` holds;
  // for the model, its packages, with an element's namespace and a
  // namespace's owned elements. No classes: none. A store opened with
  // other roots than before finds them anew, once.
  struct Roots {
    std::vector<ClassId> classes;
    FeatureId reference = 0;
    FeatureId collection = 0;

    bool kept() const { return !classes.empty(); }
    friend bool operator==(const Roots&, const Roots&) = default;
  };
  Roots roots;
};
