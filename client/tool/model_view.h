#pragma once

// Reading the repository for people: the instances of a class, the
// containment tree, and the demo model. Reading leaves the registry as it
// found it unless asked to keep the handles it lists.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "client/connection.h"

namespace qovix::tool {

// Releases the handles it keeps when it goes.
class KeptHandles {
 public:
  explicit KeptHandles(client::Connection& connection) : connection_(connection) {}
  ~KeptHandles();
  KeptHandles(const KeptHandles&) = delete;
  KeptHandles& operator=(const KeptHandles&) = delete;

  template <class Ref>
  Ref keep(Ref ref) {
    held_.push_back(ref.handle);
    return ref;
  }
  std::uint32_t keep(std::uint32_t handle) {
    held_.push_back(handle);
    return handle;
  }
  // A handle kept earlier stays registered after all.
  void spare(std::uint32_t handle);

 private:
  client::Connection& connection_;
  std::vector<std::uint32_t> held_;
};

// One instance, as `ls` lists it.
struct Instance {
  std::uint32_t handle = 0;  // 0 unless the handles were kept
  std::uint32_t object = 0;
  std::uint32_t classNumber = 0;
  std::string name;
};

// Every instance of the class (subclasses included), in creation order.
// With `keepHandles`, each has a handle that stays registered.
std::vector<Instance> listInstances(client::Connection& connection, std::uint32_t classNumber,
                                    bool keepHandles);
void printInstances(const std::vector<Instance>& instances, bool withHandles, std::ostream& out);
nlohmann::json instancesJson(const std::vector<Instance>& instances);

// An element named from another: its object number and name.
struct NamedRef {
  std::uint32_t object = 0;  // 0 for none
  std::string name;
};

// A feature of a classifier: an attribute (with its type and initial
// value) or an operation (with its parameters).
struct FeatureView {
  std::uint32_t classNumber = 0;
  std::string name;
  std::string visibility;  // public, protected, private
  std::string type;        // an attribute's type; an operation's return type
  std::string initialValue;
  std::vector<std::pair<std::string, std::string>> parameters;  // name, type
};

// An association's end: its name, the classifier at it, its multiplicity.
struct EndView {
  std::string name;
  NamedRef type;
  std::string multiplicity;  // "" when the model gives none
};

// One element of the containment tree.
struct ElementView {
  std::uint32_t handle = 0;  // 0 unless the handles were kept
  std::uint32_t object = 0;
  std::uint32_t classNumber = 0;
  std::string name;
  bool isAbstract = false;
  std::vector<NamedRef> supertypes;
  std::vector<FeatureView> features;
  std::vector<EndView> ends;
  std::vector<ElementView> contents;
};

// The packages no other package contains, each with what it contains at
// any depth: classifiers with their supertypes and features, associations
// with their ends.
// With `keepHandles`, each element has a handle that stays registered.
std::vector<ElementView> readTree(client::Connection& connection, bool keepHandles = false);
void printTree(const std::vector<ElementView>& roots, std::ostream& out);
// The package of that name at any depth; throws std::runtime_error, with
// the nearest names, when there is none.
const ElementView& findPackage(const std::vector<ElementView>& roots, const std::string& name);
// The package with that persistent object number, read alone with what it
// contains; throws std::runtime_error when it is no package.
ElementView readPackage(client::Connection& connection, std::uint32_t object);
nlohmann::json treeJson(const std::vector<ElementView>& roots);

// Builds a small banking model, prints its tree and a few derived answers;
// a repository that holds it already has its tree printed.
void runDemo(client::Connection& connection, std::ostream& out);

// The model class's name without its prefix: "Class" for QOVIXClass.
std::string kindOf(std::uint32_t classNumber);

}  // namespace qovix::tool
