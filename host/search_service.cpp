// The host program's search by name: from the store's index of names, best
// matches first, each element with its class and where it is.

#include <algorithm>
#include <string>

#include "host/host_call.h"
#include "host/model_handles.h"
#include "host_handlers.h"
#include "model/qovix_srv/model_metadata.h"
#include "model/qovix_srv/reading.h"
#include "model_classes.h"
#include "qovix_protocol.h"
#include "store/name_search.h"
#include "utf/utf.h"

namespace host_procedures {

namespace {

std::u16string pathOf(const PersistentStore& store, ObjectId id) {
  std::u16string path;
  for (ObjectId owner : model::ownersOf(store, id)) {
    path.append(path.empty() ? u"" : u"::").append(model::nameOf(store, owner));
  }
  return path;
}

}  // namespace

qovix::SearchPage serveSearch(HostCall& call, qovix::SearchQuery query) {
  const PersistentStore& store = storeOf(call);
  qovix::SearchPage page;
  std::u16string folded;
  try {
    folded = name_search::folded(utf::toUtf16(query.text));
  } catch (const std::invalid_argument&) {
    return page;  // no UTF-8: no name holds it
  }
  const ClassId wanted = query.classNumber != 0 ? query.classNumber : QOVIXModelElement::kClassId;
  if (folded.empty() || wanted > modelClasses().size()) return page;
  const std::size_t most = std::min(query.most, qovix::protocol::kMostSearchHits);
  using name_search::Match;
  for (const Match match : {Match::Exact, Match::Prefix, Match::Containing}) {
    // Of another class, some of what matches is passed over: more is asked
    // for, and the rest of the group read no further.
    const std::size_t left = most - page.hits.size();
    const std::size_t asked = wanted == QOVIXModelElement::kClassId ? left : left * 4 + 16;
    for (ObjectId id : store.namesMatching(match, folded, asked)) {
      const ClassId classId = store.classOf(id);
      if (!conformsTo(classId, wanted) || page.hits.size() == most) continue;
      page.hits.push_back({id, classId, model::nameOf(store, id), pathOf(store, id),
                           static_cast<std::int32_t>(match)});
    }
    if (page.hits.size() == most) break;
  }
  return page;
}

}  // namespace host_procedures
