#include "host/host_services.h"

#include <new>
#include <stdexcept>

#include "platform/qovix_srv/model_metadata.h"
#include "platform/vorn_os/handle_registry.h"
#include "platform/wkm_srv/VORN.h"

namespace host_services {

udt_boolean release(InteropHandle handle, InteropHandle keep) {
  if (handle == keep) return 0;
  return vorn_os::releaseHandle(handle);
}

udt_integer size(InteropHandle handle) {
  const VornCollection* collection = vorn_os::collection(handle);
  return collection != nullptr ? collection->size() : -1;
}

InteropHandle element(InteropHandle handle, udt_integer index) {
  const VornCollection* collection = vorn_os::collection(handle);
  if (collection == nullptr || index < 0 || index >= collection->size()) return 0;
  VornPersistentObject* made = collection->newElementAt(index);
  if (made == nullptr) return 0;
  const unsigned long registered = getHandle(made, static_cast<VornObject*>(made), made);
  if (registered == 0) delete made;
  return static_cast<InteropHandle>(registered);
}

std::string className(InteropHandle handle) {
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

udt_integer handleCount() { return static_cast<udt_integer>(vorn_os::handleCount()); }

Identity identity(InteropHandle handle) {
  const auto* object = dynamic_cast<const VornPersistentObject*>(vorn_os::objectPart(handle));
  if (object == nullptr || object->isValid() == 0) return {0, 0};
  return {object->objectId(),
          static_cast<udt_integer>(object->store()->classOf(object->objectId()))};
}

}  // namespace host_services
