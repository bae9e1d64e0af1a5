// The host program's services over the repository's history: the changes
// feed, an object's history, undo, and objects by their persistent number.
// Each answers from the store's indexes; none reads the log through.

#include <string>

#include "host/host_call.h"
#include "host/model_handles.h"
#include "host/serving_context.h"
#include "host_handlers.h"
#include "model_classes.h"
#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/undo.h"
#include "model/vorn_os/handle_registry.h"

namespace host_procedures {

using qovix::CommitPage;
using qovix::HistoryQuery;
using qovix::Outcome;
using qovix::UndoAnswer;
using qovix::WireCommit;
using qovix::WireValue;

namespace {

// A page holds at most this many commits, and stops growing past this
// many bytes of objects and changes (one commit always fits).
constexpr std::size_t kMostFeedCommits = 1000;
constexpr std::size_t kMostHistoryCommits = 100;
constexpr std::size_t kPageBytes = 1u << 20;
// The most touched objects a page lists, of one commit (which may have
// touched millions: an import) or of all, 12 bytes each on the wire: what a
// follower redraws by, not a copy of the import. A feed page reads no more
// than it lists.
constexpr std::size_t kMostObjectsListed = 10'000;
constexpr std::size_t kMostChangesShown = 10'000;
constexpr std::size_t kMostChangeBytes = 4u << 20;

std::vector<WireValue> wireValues(const std::vector<StoredValue>& values) {
  std::vector<WireValue> wire;
  for (const StoredValue& value : values)
    wire.push_back({value.valueClass, value.number, value.text});
  return wire;
}

// How the model names a change's slot.
std::string slotName(const SlotChange& change) {
  try {
    if (change.changesWholeObject()) {
      return classInfo(change.feature).name;
    }
    return ::slotName(change.feature);
  } catch (const std::out_of_range&) {
    return {};  // a number this model does not know
  }
}

// The commit as it travels, and about how many bytes it takes. Its changes
// stop where they would take the page past kMostChangeBytes (texts of a
// value each may be long): a reply stays within every client's bound, and
// `left` counts the changes it leaves out.
std::size_t addWireCommit(CommitPage& page, const CommitRecord& record, std::size_t pageBytes,
                          std::size_t& left, std::size_t& objectsLeft) {
  WireCommit& wire = page.commits.emplace_back();
  wire.sequence = record.sequence;
  wire.timeMicros = record.timeMicros;
  wire.principal = record.principal;
  wire.server = record.server;
  std::size_t bytes = 40 + record.principal.size() + record.server.size();
  const std::pair<const std::vector<TouchedObject>*, std::int32_t> lists[] = {
      {&record.created, 0}, {&record.changed, 1}, {&record.deleted, 2}};
  for (const auto& [objects, change] : lists) {
    for (const TouchedObject& touched : *objects) {
      if (wire.objects.size() == kMostObjectsListed) {
        ++objectsLeft;
        continue;
      }
      wire.objects.push_back({touched.id, touched.classId, change});
      bytes += 12;
    }
  }
  for (const SlotChange& change : record.changes) {
    std::size_t changeBytes = 64;
    for (const auto* values : {&change.before, &change.after}) {
      for (const StoredValue& value : *values) changeBytes += 16 + 4 * value.text.size();
    }
    if (pageBytes + bytes + changeBytes > kMostChangeBytes) {
      left = record.changes.size() - wire.changes.size();
      break;
    }
    wire.changes.push_back(
        {change.object, change.feature, slotName(change), static_cast<std::int32_t>(change.kind),
         static_cast<std::int32_t>(change.position), change.beforeTarget, change.afterTarget,
         wireValues(change.before), wireValues(change.after)});
    bytes += changeBytes;
  }
  return bytes;
}

// `cut`: the changes the records themselves leave out (a commit read with
// at most kMostChangesShown), which the page counts as left out too.
CommitPage pageOf(const PersistentStore& store, const std::vector<CommitRecord>& records,
                  std::size_t cut = 0) {
  CommitPage page;
  page.last = store.lastCommit();
  page.changesLeft = cut;
  std::size_t bytes = 0;
  for (const CommitRecord& record : records) {
    if (!page.commits.empty() && bytes >= kPageBytes) break;
    std::size_t left = 0, objectsLeft = 0;
    bytes += addWireCommit(page, record, bytes, left, objectsLeft);
    if ((left != 0 || objectsLeft != 0) && page.commits.size() > 1) {
      // The next page begins with this commit, with all the room it has.
      page.commits.pop_back();
      break;
    }
    page.changesLeft += left;
    page.objectsLeft += objectsLeft;
  }
  return page;
}

}  // namespace

CommitPage serveChanges(HostCall& call, std::uint64_t since) {
  const PersistentStore& store = storeOf(call);
  return pageOf(store, store.commitsSince(since, kMostFeedCommits, kMostObjectsListed));
}

CommitPage serveHistory(HostCall& call, HistoryQuery query) {
  const PersistentStore& store = storeOf(call);
  return pageOf(store, store.historyOf(query.object, query.before, kMostHistoryCommits));
}

CommitPage serveCommit(HostCall& call, std::uint64_t sequence) {
  const PersistentStore& store = storeOf(call);
  std::vector<CommitRecord> found;
  std::size_t cut = 0;
  if (std::optional<CommitRecord> commit = store.commitAt(sequence, kMostChangesShown)) {
    cut = commit->changesLeftOut;
    found.push_back(std::move(*commit));
  }
  return pageOf(store, found, cut);
}

Outcome serveAt(HostCall& call, std::uint64_t sequence) {
  try {
    const InteropHandle handle = call.serving().repositoryAt(sequence, feature::name);
    if (handle == 0) return {0, "no handle can be made: the caller holds its most"};
    return {handle, {}};
  } catch (const StoreError& refused) {
    return {0, refused.what()};
  }
}

UndoAnswer serveUndo(HostCall& call, std::uint64_t sequence) {
  PersistentStore& store = storeOf(call);
  const std::uint64_t commit = store.commitOfCall();
  model::UndoOutcome outcome = model::undoCommit(store, sequence);
  if (!outcome.refusal.empty()) return {0, std::move(outcome.refusal)};
  // What the commit made is gone once the undo is kept: every handle
  // naming it goes too, whichever client holds it.
  call.serving().afterCommit([removed = std::move(outcome.removed), kept = &store] {
    vorn_os::releaseNaming(*kept, removed);
  });
  call.serving().log().record(call.principalKey() + " undid commit " + std::to_string(sequence) +
                              " as commit " + std::to_string(commit));
  return {commit, {}};
}

InteropHandle serveObject(HostCall& call, udt_integer number) {
  PersistentStore& store = storeOf(call);
  // The word is the number as the identity service gives it, unsigned.
  const auto id = static_cast<ObjectId>(static_cast<std::uint32_t>(number));
  if (id == 0 || !store.exists(id)) return 0;
  return handleOf(store, id);
}

}  // namespace host_procedures
