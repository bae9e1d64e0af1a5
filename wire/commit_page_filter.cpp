// CommitPage::changesLeft and objectsLeft travel in the page's first
// commit, as a last change of kind changes_left_kind (its position and its
// after_target; a reader of an earlier release decodes it as a change):
// this filter writes it there, and takes it out again as it reads.

#include <algorithm>
#include <cstdint>

#include "qovix_protocol.h"
#include "wire_filters.h"

namespace {

constexpr auto kChangesLeftKind = static_cast<std::int32_t>(qovix::protocol::kChangesLeftKind);

}  // namespace

bool_t X_CommitPage(XDR* xdrs, qovix::CommitPage* page) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  if (xdrs->x_op == XDR_ENCODE && (page->changesLeft != 0 || page->objectsLeft != 0) &&
      !page->commits.empty()) {
    qovix::WireChange left;
    left.kind = kChangesLeftKind;
    left.position = static_cast<std::int32_t>(
        std::min<std::uint64_t>(page->changesLeft, static_cast<std::uint64_t>(INT32_MAX)));
    left.afterTarget = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(page->objectsLeft, std::uint64_t{UINT32_MAX}));
    std::vector<qovix::WireChange>& changes = page->commits.front().changes;
    changes.push_back(left);
    const bool_t written = X_CommitPageFields(xdrs, page);
    changes.pop_back();
    return written;
  }
  if (!X_CommitPageFields(xdrs, page)) return FALSE;
  if (xdrs->x_op == XDR_DECODE) {
    page->changesLeft = 0;
    page->objectsLeft = 0;
    for (qovix::WireCommit& each : page->commits) {
      while (!each.changes.empty() && each.changes.back().kind == kChangesLeftKind) {
        page->changesLeft += static_cast<std::uint32_t>(std::max(each.changes.back().position, 0));
        page->objectsLeft += each.changes.back().afterTarget;
        each.changes.pop_back();
      }
    }
  }
  return TRUE;
}
