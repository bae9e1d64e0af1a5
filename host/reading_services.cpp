// The host program's reading services: many objects read in one call, and
// a namespace's contents a page at a time, so that a view of a large model
// costs a few round trips however many elements it shows.

#include <algorithm>
#include <string>

#include "host/host_call.h"
#include "host/model_handles.h"
#include "host_handlers.h"
#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/reading.h"
#include "model_classes.h"
#include "qovix_protocol.h"

namespace host_procedures {

using qovix::MemberPage;
using qovix::ObjectPage;
using qovix::WireObject;
using qovix::WireSlot;

namespace {

// A reply stops growing past this many bytes (one object always goes, its
// slots cut to fit): every client reads replies of 64 MiB.
constexpr std::size_t kReplyBytes = 4u << 20;

std::size_t bytesOf(const std::u16string& text) { return 4 + 2 * text.size(); }

// The slot as it travels, naming at most `members` of what it holds, and
// about how many bytes it takes.
std::size_t addSlot(const PersistentStore& store, WireObject& object, const model::ReadSlot& read,
                    std::uint32_t members) {
  WireSlot& slot = object.slots.emplace_back();
  slot.feature = read.feature;
  slot.slot = slotName(read.feature);
  std::size_t bytes = 32 + slot.slot.size();
  if (read.isValue) {
    slot.size = read.values.size();
    for (const StoredValue& value : read.values) {
      slot.values.push_back({value.valueClass, value.number, value.text});
      bytes += 8 + bytesOf(value.text);
    }
    return bytes;
  }
  slot.size = read.targets.size();
  const std::size_t named = std::min<std::size_t>(read.targets.size(), members);
  for (std::size_t i = 0; i < named; ++i) {
    const ObjectId target = read.targets[i];
    slot.targets.push_back({target, store.classOf(target), model::nameOf(store, target)});
    bytes += 8 + bytesOf(slot.targets.back().name);
  }
  return bytes;
}

}  // namespace

ObjectPage serveReadObjects(HostCall& call, qovix::ObjectQuery query) {
  const PersistentStore& store = storeOf(call);
  const std::size_t asked =
      std::min<std::size_t>(query.objects.size(), qovix::protocol::kMostObjectsRead);
  const std::uint32_t members = std::min(query.members, qovix::protocol::kMostMembersNamed);
  ObjectPage page;
  std::size_t bytes = 4;
  for (std::size_t i = 0; i < asked && bytes < kReplyBytes; ++i) {
    const ObjectId id = query.objects[i];
    WireObject object{id, store.classOf(id), true, {}};
    std::size_t objectBytes = 16;
    for (const model::ReadSlot& slot : model::slotsOf(store, id)) {
      if (bytes + objectBytes >= kReplyBytes) {
        object.complete = false;  // the rest, asked for alone
        break;
      }
      objectBytes += addSlot(store, object, slot, members);
    }
    // An object that does not fit whole waits for the next call, unless it
    // is the first.
    if (!object.complete && i > 0) break;
    bytes += objectBytes;
    page.objects.push_back(std::move(object));
  }
  return page;
}

MemberPage serveContents(HostCall& call, qovix::ContentsQuery query) {
  const PersistentStore& store = storeOf(call);
  const std::vector<ObjectId> all =
      query.owner == 0 ? model::topLevelPackages(store) : model::contentsOf(store, query.owner);
  MemberPage page;
  page.size = all.size();
  const std::uint64_t most = std::min(query.most, qovix::protocol::kMostMembersNamed);
  std::size_t bytes = 12;
  for (std::uint64_t i = query.offset; i < all.size() && i - query.offset < most; ++i) {
    const ObjectId id = all[i];
    std::u16string name = model::nameOf(store, id);
    bytes += 20 + 2 * name.size();
    if (bytes > kReplyBytes && !page.members.empty()) break;
    page.members.push_back(
        {id, store.classOf(id), std::move(name), model::contentsOf(store, id).size()});
  }
  return page;
}

}  // namespace host_procedures
