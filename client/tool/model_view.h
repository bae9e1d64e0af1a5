#pragma once

// Reading the repository for people: the instances of a class, the
// containment tree, and the demo model.

#include <cstdint>
#include <ostream>
#include <vector>

#include "client/connection.h"

namespace qovix::tool {

// Releases the handles it keeps when it goes, so reading leaves the
// registry as it found it.
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

 private:
  client::Connection& connection_;
  std::vector<std::uint32_t> held_;
};

// Every instance of the class (subclasses included): handle, class, name.
// The handles listed stay registered for later calls.
void listInstances(client::Connection& connection, std::uint32_t classNumber, std::ostream& out);

// The packages no other package contains, each with what it contains at any
// depth: classifiers with their supertypes and features, associations with
// their ends.
void printTree(client::Connection& connection, std::ostream& out);

// Builds a small banking model, prints its tree and a few derived answers;
// a repository that holds it already has its tree printed.
void runDemo(client::Connection& connection, std::ostream& out);

}  // namespace qovix::tool
