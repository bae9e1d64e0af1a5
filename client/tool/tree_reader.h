#pragma once

// Reads the containment tree through the reading services: a namespace's
// contents a page at a time, and their objects with their features,
// supertypes and ends in a few calls a level, so reading a package costs
// about five calls however large the repository around it is.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "client/connection.h"
#include "client/tool/element_view.h"

namespace qovix::tool {

// A member of a namespace's contents, as a page names it.
struct MemberView {
  std::uint32_t object = 0;
  std::uint32_t classNumber = 0;
  std::string name;
  std::uint64_t children = 0;
};

// Every member of the namespace numbered `owner` (0: the top-level
// packages), read a page at a time.
std::vector<MemberView> contentsOf(client::Connection& connection, std::uint32_t owner);

class TreeReader {
 public:
  TreeReader(client::Connection& connection, bool keepHandles)
      : connection_(connection), keepHandles_(keepHandles) {}

  // Visits the contents of the namespace numbered `owner` (0: the top-level
  // packages) depth first, each element before what it contains, down to
  // `depth` levels below (negative: all). A visited view has no contents.
  using Visit = std::function<void(const ElementView& element, int level)>;
  void walk(std::uint32_t owner, int depth, const Visit& visit, int level = 0);

  // The element numbered `object`, with what it contains down to `depth`
  // levels; its class number 0 when there is none.
  ElementView read(std::uint32_t object, int depth);
  // The top-level packages with what they contain, down to `depth` levels.
  std::vector<ElementView> readRoots(int depth);

 private:
  // The objects, read in as few calls as fit, kept for the reader's life.
  void fetch(const std::vector<std::uint32_t>& objects);
  const WireObject* object(std::uint32_t number) const;
  std::vector<ElementView> viewsOf(const std::vector<MemberView>& members);
  ElementView viewOf(const MemberView& member);
  FeatureView featureOf(const WireTarget& feature);
  EndView endOf(const WireTarget& end);
  std::string multiplicityOf(std::uint32_t multiplicity);
  void fill(ElementView& view, int depth);

  client::Connection& connection_;
  bool keepHandles_;
  std::unordered_map<std::uint32_t, WireObject> read_;
};

}  // namespace qovix::tool
