// The host program's services: the repository's handle, and housekeeping
// of handles, which the model's procedures never release and cannot look
// into. One handler per host procedure; the protocol records give each its
// number, types and access, and the generated table calls it.

#include <algorithm>
#include <new>
#include <stdexcept>

#include "host/host_call.h"
#include "host/model_handles.h"
#include "host/serving_context.h"
#include "host_handlers.h"
#include "model/qovix_srv/deletion.h"
#include "model/qovix_srv/model_metadata.h"
#include "model/vorn_os/handle_registry.h"
#include "model/wkm_srv/VORN.h"

namespace host_procedures {

void serveNull(HostCall&) {}

InteropHandle serveRepository(HostCall& call) {
  const InteropHandle own = call.serving().repositoryHandleFor(call.principalKey());
  // No handle to be had: the system error, never another principal's.
  if (own == 0) throw std::runtime_error("no repository handle could be registered");
  return own;
}

// The repository's handle stays: clients cannot release it.
udt_boolean serveRelease(HostCall& call, InteropHandle handle) {
  if (handle == call.serving().repositoryHandle()) return 0;
  return vorn_os::releaseHandle(handle);
}

udt_integer serveSize(HostCall&, InteropHandle handle) {
  const VornCollection* collection = vorn_os::collection(handle);
  return collection != nullptr ? collection->size() : -1;
}

InteropHandle serveElement(HostCall&, HandleLong at) {
  const VornCollection* collection = vorn_os::collection(at.target);
  if (collection == nullptr || at.param1 < 0 || at.param1 >= collection->size()) return 0;
  VornPersistentObject* made = collection->newElementAt(at.param1);
  if (made == nullptr) return 0;
  const unsigned long registered = getHandle(made, static_cast<VornObject*>(made), made);
  if (registered == 0) delete made;
  return static_cast<InteropHandle>(registered);
}

std::string serveClassName(HostCall&, InteropHandle handle) {
  if (const VornCollection* collection = vorn_os::collection(handle)) {
    return std::string(collection->kindName()) + "<" + collection->elementClassName() + ">";
  }
  const VornObject* object = vorn_os::objectPart(handle);
  if (object == nullptr) return {};
  if (dynamic_cast<const VORN*>(object) != nullptr) return "VORN";
  if (dynamic_cast<const VornPersistentObject*>(object) != nullptr) {
    try {
      return classInfo(static_cast<ClassId>(object->classId())).name;
    } catch (const std::out_of_range&) {
    }
  }
  return "VornObject";
}

// Scoped, a principal counts only its own.
qovix::ServerInfo serveServerInfo(HostCall& call) {
  qovix::ServerInfo info;
  info.release = QOVIX_VERSION;
  if (const PersistentStore* store = call.serving().store()) {
    info.lastCommit = store->lastCommit();
    info.objects = store->objectCount();
    const HistoryRetention& history = store->settings().history;
    info.historyDays = history.mode == HistoryRetention::None   ? -1
                       : history.mode == HistoryRetention::Days ? static_cast<int>(history.days)
                                                                : 0;
  }
  return info;
}

udt_integer serveHandleCount(HostCall& call) {
  return static_cast<udt_integer>(call.serving().handlesScoped() ? vorn_os::handleCountOfCaller()
                                                                 : vorn_os::handleCount());
}

HandleLong serveIdentity(HostCall&, InteropHandle handle) {
  const auto* object = dynamic_cast<const VornPersistentObject*>(vorn_os::objectPart(handle));
  if (object == nullptr || object->isValid() == 0) return {0, 0};
  return {object->objectId(),
          static_cast<udt_integer>(object->store()->classOf(object->objectId()))};
}

namespace {

// The model object a handle names for a delete; null for none, or the
// repository.
const VornPersistentObject* deletable(HostCall& call, InteropHandle handle) {
  return modelObjectOf(call, handle);
}

}  // namespace

std::string serveDeletion(HostCall& call, InteropHandle handle) {
  const VornPersistentObject* object = deletable(call, handle);
  if (object == nullptr) return {};
  const PersistentStore& store = *object->store();
  std::vector<std::pair<ClassId, std::size_t>> byClass;  // in the order found
  for (ObjectId id : model::deletionOf(store, object->objectId(),
                                       store.settings().limits.mostCreatedPerTransaction)) {
    const ClassId classId = store.classOf(id);
    auto found = std::find_if(byClass.begin(), byClass.end(),
                              [&](const auto& each) { return each.first == classId; });
    if (found == byClass.end()) found = byClass.insert(byClass.end(), {classId, 0});
    ++found->second;
  }
  std::string report;
  for (const auto& [classId, count] : byClass) {
    report.append(std::to_string(count)).append(" ").append(classInfo(classId).name).append("\n");
  }
  return report;
}

udt_integer serveDelete(HostCall& call, InteropHandle handle) {
  const VornPersistentObject* object = deletable(call, handle);
  if (object == nullptr) return -1;
  PersistentStore& store = *object->store();
  const ObjectId root = object->objectId();
  const std::string what = std::string(classInfo(store.classOf(root)).name);
  const std::vector<ObjectId> going =
      model::deletionOf(store, root, store.settings().limits.mostCreatedPerTransaction);
  model::deleteObjects(store, going);
  // Once the delete is kept, every surrogate of what went (`object` among
  // them) is released, whichever client holds it.
  call.serving().afterCommit([going, kept = &store] { vorn_os::releaseNaming(*kept, going); });
  call.serving().log().record(call.principalKey() + " deleted object " + std::to_string(root) +
                              " (" + what + ") and " + std::to_string(going.size() - 1) +
                              " more with it");
  return static_cast<udt_integer>(going.size());
}

}  // namespace host_procedures
