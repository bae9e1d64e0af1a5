#pragma once

// The containment tree's elements as the tool shows them: what the tree,
// its JSON and the diagrams are made from.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qovix::tool {

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

}  // namespace qovix::tool
