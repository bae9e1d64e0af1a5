// The host program's edits that the model's procedures cannot make: the
// multiplicity of an attribute or association end, which they only read.

#include <stdexcept>
#include <string>

#include "host/host_call.h"
#include "host/host_refusal.h"
#include "host/model_handles.h"
#include "host_handlers.h"
#include "model_classes.h"
#include "model_features.h"
#include "model/qovix_srv/deletion.h"
#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/operations.h"
#include "utf/utf.h"

namespace host_procedures {

qovix::Outcome serveSetMultiplicity(HostCall& call, qovix::MultiplicityRequest request) {
  return refusing(call, [&] {
    const VornPersistentObject* object = modelObjectOf(call, request.element);
    if (object == nullptr) {
      throw std::invalid_argument("the handle " + std::to_string(request.element) +
                                  " names no element");
    }
    PersistentStore& store = *object->store();
    const ObjectId element = object->objectId();
    const ClassId classId = store.classOf(element);
    FeatureId feature = 0;
    if (conformsTo(classId, QOVIXStructuralFeature::kClassId)) {
      feature = feature::QOVIXStructuralFeature_multiplicity;
    } else if (conformsTo(classId, QOVIXAssociationEnd::kClassId)) {
      feature = feature::QOVIXAssociationEnd_multiplicity;
    } else {
      throw std::invalid_argument(std::string("a ") + classInfo(classId).shortName +
                                  " has no multiplicity");
    }
    ObjectId multiplicity = store.reference(element, feature);
    if (request.text.find_first_not_of(' ') == std::string::npos) {
      if (multiplicity != 0) {
        model::deleteObjects(store,
                             model::deletionOf(store, multiplicity,
                                               store.settings().limits.mostCreatedPerTransaction));
      }
      return qovix::Outcome{1, {}};
    }
    const std::u16string text = utf::toUtf16(request.text);
    if (multiplicity == 0) {
      multiplicity = store.create(QOVIXMultiplicity::kClassId);
      store.setReference(element, feature, multiplicity);
    }
    model::setMultiplicityText(QOVIXMultiplicity(ObjectRef{&store, multiplicity}),
                               QOVIXString(text));
    return qovix::Outcome{1, {}};
  });
}

}  // namespace host_procedures
