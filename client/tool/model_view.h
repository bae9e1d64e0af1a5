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
#include "client/tool/element_view.h"

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

// The packages no namespace owns, each with what it contains down to
// `depth` levels (negative: all; 1: the packages alone): classifiers with
// their supertypes and features, associations with their ends. With
// `keepHandles`, each element has a handle that stays registered.
std::vector<ElementView> readTree(client::Connection& connection, bool keepHandles = false,
                                  int depth = -1);
void printTree(const std::vector<ElementView>& roots, std::ostream& out);
// Prints the tree as it reads it, a page at a time: the top-level packages,
// or (`package` not 0) that package, down to `depth` levels.
void streamTree(client::Connection& connection, std::uint32_t package, int depth,
                std::ostream& out);
// The package with that persistent object number, with what it contains
// down to `depth` levels; throws std::runtime_error when it is no package.
ElementView readPackage(client::Connection& connection, std::uint32_t object, int depth = -1);
// The instances of the class (subclasses included) named `wanted`, from
// the repository's name index, or the one numbered N for `#N`.
std::vector<Instance> instancesNamed(client::Connection& connection, std::uint32_t classNumber,
                                     const std::string& wanted, bool keepHandles);
// The persistent number of the one package named `wanted` (or numbered,
// `#N`); throws std::runtime_error, with the nearest names, when there is
// none, and with their numbers when there are several.
std::uint32_t findPackage(client::Connection& connection, const std::string& wanted);
nlohmann::json treeJson(const std::vector<ElementView>& roots);

// Builds a small banking model, prints its tree and a few derived answers;
// a repository that holds it already has its tree printed.
void runDemo(client::Connection& connection, std::ostream& out);

// The model class's name without its prefix: "Class" for QOVIXClass.
std::string kindOf(std::uint32_t classNumber);

}  // namespace qovix::tool
