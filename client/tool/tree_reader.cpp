#include "client/tool/tree_reader.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "client/tool/lookup.h"
#include "client_model.h"
#include "qovix_protocol.h"
#include "utf/utf.h"

namespace qovix::tool {
namespace {

using namespace client;

// The slot of the object the model names so; null when it has none.
const WireSlot* slotOf(const WireObject* object, std::string_view name) {
  if (object == nullptr) return nullptr;
  for (const WireSlot& slot : object->slots) {
    if (slot.slot == name) return &slot;
  }
  return nullptr;
}

const std::vector<WireTarget>& targetsOf(const WireObject* object, std::string_view name) {
  static const std::vector<WireTarget> none;
  const WireSlot* slot = slotOf(object, name);
  return slot != nullptr ? slot->targets : none;
}

// The one object a single reference holds; null for none.
const WireTarget* referenceOf(const WireObject* object, std::string_view name) {
  const auto& targets = targetsOf(object, name);
  return targets.empty() ? nullptr : &targets.front();
}

const WireValue* valueOf(const WireObject* object, std::string_view name) {
  const WireSlot* slot = slotOf(object, name);
  return slot == nullptr || slot->values.empty() ? nullptr : &slot->values.front();
}

std::string text(const std::u16string& units) { return utf::toUtf8(units); }

NamedRef namedRef(const WireTarget* target) {
  if (target == nullptr) return {};
  return {target->object, text(target->name)};
}

// Each object of the slots named, of each object given, once.
std::vector<std::uint32_t> targetsIn(const std::vector<const WireObject*>& objects,
                                     std::initializer_list<std::string_view> slots) {
  std::vector<std::uint32_t> found;
  for (const WireObject* object : objects) {
    for (std::string_view slot : slots) {
      for (const WireTarget& target : targetsOf(object, slot)) found.push_back(target.object);
    }
  }
  return found;
}

// A page's members as views; how many there are in all.
std::uint64_t readPage(Connection& connection, std::uint32_t owner, std::uint64_t offset,
                       std::vector<MemberView>& members) {
  const MemberPage page = connection.contents(owner, offset, protocol::kMostMembersNamed);
  for (const WireMember& member : page.members) {
    members.push_back({member.object, member.classNumber, text(member.name), member.children});
  }
  return page.size;
}

}  // namespace

std::vector<MemberView> contentsOf(Connection& connection, std::uint32_t owner) {
  std::vector<MemberView> members;
  for (;;) {
    const std::size_t had = members.size();
    const std::uint64_t size = readPage(connection, owner, had, members);
    if (members.size() == had || members.size() >= size) return members;
  }
}

void TreeReader::fetch(const std::vector<std::uint32_t>& objects) {
  std::vector<std::uint32_t> wanted;
  std::unordered_set<std::uint32_t> asked;
  for (std::uint32_t each : objects) {
    if (each != 0 && read_.count(each) == 0 && asked.insert(each).second) wanted.push_back(each);
  }
  for (std::size_t done = 0; done < wanted.size();) {
    const std::size_t batch =
        std::min<std::size_t>(wanted.size() - done, protocol::kMostObjectsRead);
    ObjectPage page =
        connection_.readObjects({wanted.begin() + static_cast<std::ptrdiff_t>(done),
                                 wanted.begin() + static_cast<std::ptrdiff_t>(done + batch)},
                                protocol::kMostMembersNamed);
    if (page.objects.empty()) throw std::runtime_error("the server read none of the objects asked");
    done += page.objects.size();
    for (WireObject& object : page.objects) read_[object.object] = std::move(object);
  }
}

const WireObject* TreeReader::object(std::uint32_t number) const {
  const auto found = read_.find(number);
  return found == read_.end() ? nullptr : &found->second;
}

// A multiplicity's ranges as the model writes them: "1", "0..*", "1..3,5".
std::string TreeReader::multiplicityOf(std::uint32_t multiplicity) {
  std::string written;
  for (const WireTarget& range : targetsOf(object(multiplicity), "QOVIXMultiplicity.ranges")) {
    const WireObject* bounds = object(range.object);
    const WireValue* lower = valueOf(bounds, "QOVIXMultiplicityRange.lower");
    const WireValue* upper = valueOf(bounds, "QOVIXMultiplicityRange.upper");
    const std::int32_t low = lower ? lower->number : 0;
    const std::int32_t high = upper ? upper->number : 0;
    const std::string highText = high < 0 ? "*" : std::to_string(high);
    if (!written.empty()) written += ",";
    written += low == high ? highText : std::to_string(low) + ".." + highText;
  }
  return written;
}

FeatureView TreeReader::featureOf(const WireTarget& target) {
  const WireObject* feature = object(target.object);
  FeatureView view;
  view.classNumber = target.classNumber;
  view.name = text(target.name);
  const WireValue* visibility = valueOf(feature, "QOVIXFeature.visibility");
  view.visibility = formatValue(
      Value::ofNumber(value_class::QOVIXVisibilityKind, visibility ? visibility->number : 0));
  if (conformsTo(view.classNumber, StructuralFeature::kClassNumber)) {
    view.type = namedRef(referenceOf(feature, "QOVIXStructuralFeature.type")).name;
  }
  if (const WireValue* initial = valueOf(feature, "QOVIXAttribute.initialValue")) {
    view.initialValue = text(initial->text);
  }
  for (const WireTarget& each : targetsOf(feature, "QOVIXBehavioralFeature.parameter")) {
    const WireObject* parameter = object(each.object);
    const std::string type = namedRef(referenceOf(parameter, "QOVIXParameter.type")).name;
    const WireValue* kind = valueOf(parameter, "QOVIXParameter.kind");
    if (kind != nullptr &&
        kind->number == static_cast<std::int32_t>(ParameterDirectionKind::Return)) {
      view.type = type;
    } else {
      view.parameters.emplace_back(text(each.name), type);
    }
  }
  return view;
}

EndView TreeReader::endOf(const WireTarget& target) {
  const WireObject* end = object(target.object);
  EndView view{text(target.name), namedRef(referenceOf(end, "QOVIXAssociationEnd.type")), ""};
  if (const WireTarget* multiplicity = referenceOf(end, "QOVIXAssociationEnd.multiplicity")) {
    view.multiplicity = multiplicityOf(multiplicity->object);
  }
  return view;
}

ElementView TreeReader::viewOf(const MemberView& member) {
  const WireObject* element = object(member.object);
  ElementView view;
  view.object = member.object;
  view.classNumber = member.classNumber;
  view.name = member.name;
  if (keepHandles_) view.handle = connection_.objectByNumber(member.object);
  if (conformsTo(view.classNumber, GeneralizableElement::kClassNumber)) {
    const WireValue* abstract = valueOf(element, "QOVIXGeneralizableElement.isAbstract");
    view.isAbstract = abstract != nullptr && abstract->number != 0;
    for (const WireTarget& generalization :
         targetsOf(element, "QOVIXGeneralizableElement.generalization")) {
      const WireTarget* parent =
          referenceOf(object(generalization.object), "QOVIXGeneralization.supertype");
      if (parent != nullptr) view.supertypes.push_back(namedRef(parent));
    }
  }
  for (const WireTarget& end : targetsOf(element, "QOVIXAssociation.connection"))
    view.ends.push_back(endOf(end));
  for (const WireTarget& feature : targetsOf(element, "QOVIXClassifier.feature"))
    view.features.push_back(featureOf(feature));
  return view;
}

// The members' views, reading their objects and what they name a level at
// a time: the members; their features, generalizations and ends; the
// parameters and multiplicities of those; the multiplicities' ranges.
std::vector<ElementView> TreeReader::viewsOf(const std::vector<MemberView>& members) {
  std::vector<std::uint32_t> numbers;
  for (const MemberView& member : members) numbers.push_back(member.object);
  fetch(numbers);
  std::vector<const WireObject*> level;
  for (std::uint32_t number : numbers) level.push_back(object(number));
  for (auto slots : {std::initializer_list<std::string_view>{
                         "QOVIXClassifier.feature", "QOVIXGeneralizableElement.generalization",
                         "QOVIXAssociation.connection"},
                     {"QOVIXBehavioralFeature.parameter", "QOVIXAssociationEnd.multiplicity"},
                     {"QOVIXMultiplicity.ranges"}}) {
    const std::vector<std::uint32_t> next = targetsIn(level, slots);
    fetch(next);
    level.clear();
    for (std::uint32_t number : next) level.push_back(object(number));
  }
  std::vector<ElementView> views;
  for (const MemberView& member : members) views.push_back(viewOf(member));
  return views;
}

void TreeReader::walk(std::uint32_t owner, int depth, const Visit& visit, int level) {
  // A page of members at a time, each shown before the next is read, so
  // that the first lines come at once however many there are.
  for (std::uint64_t offset = 0;;) {
    std::vector<MemberView> members;
    const std::uint64_t size = readPage(connection_, owner, offset, members);
    const std::vector<ElementView> views = viewsOf(members);
    read_.clear();  // what a page read is not asked about again
    for (std::size_t i = 0; i < views.size(); ++i) {
      visit(views[i], level);
      if (members[i].children > 0 && depth != 0)
        walk(members[i].object, depth - 1, visit, level + 1);
    }
    offset += members.size();
    if (members.empty() || offset >= size) return;
  }
}

void TreeReader::fill(ElementView& view, int depth) {
  // The views visited land in their place: each level's last element holds
  // the next level's.
  std::vector<std::vector<ElementView>*> open{&view.contents};
  walk(view.object, depth - 1, [&](const ElementView& element, int level) {
    open.resize(static_cast<std::size_t>(level) + 1);
    open[static_cast<std::size_t>(level)]->push_back(element);
    open.push_back(&open[static_cast<std::size_t>(level)]->back().contents);
  });
}

ElementView TreeReader::read(std::uint32_t number, int depth) {
  fetch({number});
  const WireObject* found = object(number);
  const WireValue* name = valueOf(found, "*.name");
  const MemberView member{number, found != nullptr ? found->classNumber : 0,
                          name != nullptr ? text(name->text) : "", 0};
  ElementView view = viewsOf({member}).front();
  if (view.classNumber != 0 && depth != 0) fill(view, depth);
  return view;
}

std::vector<ElementView> TreeReader::readRoots(int depth) {
  ElementView all;
  fill(all, depth);
  return std::move(all.contents);
}

}  // namespace qovix::tool
