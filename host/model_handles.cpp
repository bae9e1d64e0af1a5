#include "host/model_handles.h"

#include <stdexcept>

#include "host/serving_context.h"
#include "model_classes.h"
#include "model/vorn_os/handle_registry.h"

namespace host_procedures {

const VornPersistentObject* modelObjectOf(HostCall& call, InteropHandle handle) {
  if (handle == call.serving().repositoryHandle()) return nullptr;
  const auto* object = dynamic_cast<const VornPersistentObject*>(vorn_os::objectPart(handle));
  return object != nullptr && object->isValid() != 0 ? object : nullptr;
}

InteropHandle handleOf(PersistentStore& store, ObjectId id) {
  VornPersistentObject* made = newSurrogateOf({&store, id});
  if (made == nullptr) return 0;
  const unsigned long registered = getHandle(made, static_cast<VornObject*>(made), made);
  if (registered == 0) delete made;
  return static_cast<InteropHandle>(registered);
}

PersistentStore& storeOf(HostCall& call) {
  PersistentStore* store = call.serving().store();
  if (store == nullptr) throw std::runtime_error("this server keeps no repository store");
  return *store;
}

}  // namespace host_procedures
