#include "xdr/commit_filters.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "xdr/byte_strings.h"

using namespace qovix;

namespace {

constexpr unsigned kMostString = 1u << 20;

bool_t word(XDR* xdrs, std::uint32_t* value) { return xdr_u_int32_t(xdrs, value); }
bool_t signedWord(XDR* xdrs, std::int32_t* value) { return xdr_int32_t(xdrs, value); }

bool_t string8(XDR* xdrs, std::string* text) { return xdrByteString(xdrs, text, kMostString); }

// As X_stringUTF16: the count of units with the terminator, each unit a word.
bool_t units(XDR* xdrs, std::u16string* text) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  std::uint32_t count = static_cast<std::uint32_t>(text->size()) + 1;
  if (!word(xdrs, &count)) return FALSE;
  if (xdrs->x_op == XDR_ENCODE) {
    for (char16_t unit : *text) {
      std::uint32_t sent = unit;
      if (!word(xdrs, &sent)) return FALSE;
    }
    std::uint32_t terminator = 0;
    return word(xdrs, &terminator);
  }
  text->clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t unit = 0;
    if (!word(xdrs, &unit) || unit > 0xFFFF) return FALSE;
    if (i + 1 < count)
      text->push_back(static_cast<char16_t>(unit));
    else if (unit != 0)
      return FALSE;
  }
  return TRUE;
}

template <class T>
bool_t list(XDR* xdrs, std::vector<T>* items, bool_t (*filter)(XDR*, T*)) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  std::uint32_t count = static_cast<std::uint32_t>(items->size());
  if (!word(xdrs, &count)) return FALSE;
  if (xdrs->x_op == XDR_ENCODE) {
    for (T& item : *items) {
      if (!filter(xdrs, &item)) return FALSE;
    }
    return TRUE;
  }
  items->clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!filter(xdrs, &items->emplace_back())) return FALSE;
  }
  return TRUE;
}

bool_t value(XDR* xdrs, WireValue* value) {
  return signedWord(xdrs, &value->valueClass) && signedWord(xdrs, &value->number) &&
         units(xdrs, &value->text);
}

bool_t change(XDR* xdrs, WireChange* change) {
  return word(xdrs, &change->object) && word(xdrs, &change->feature) &&
         string8(xdrs, &change->slot) && signedWord(xdrs, &change->kind) &&
         signedWord(xdrs, &change->position) && word(xdrs, &change->beforeTarget) &&
         word(xdrs, &change->afterTarget) && list(xdrs, &change->before, &value) &&
         list(xdrs, &change->after, &value);
}

bool_t touched(XDR* xdrs, WireTouched* touched) {
  return word(xdrs, &touched->object) && word(xdrs, &touched->classNumber) &&
         signedWord(xdrs, &touched->change);
}

bool_t commit(XDR* xdrs, WireCommit* commit) {
  return X_Sequence(xdrs, &commit->sequence) && xdr_int64_t(xdrs, &commit->timeMicros) &&
         string8(xdrs, &commit->principal) && string8(xdrs, &commit->server) &&
         list(xdrs, &commit->objects, &touched) && list(xdrs, &commit->changes, &change);
}

}  // namespace

bool_t X_Sequence(XDR* xdrs, std::uint64_t* sequence) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  return xdr_uint64_t(xdrs, sequence);
}

bool_t X_HistoryQuery(XDR* xdrs, HistoryQuery* query) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  return word(xdrs, &query->object) && xdr_uint64_t(xdrs, &query->before);
}

// changesLeft travels in the page's commits, as a last change of kind
// kChangesLeftKind (a reader of an earlier release decodes it as a change):
// the filter writes it there, and takes it out again as it reads.
bool_t X_CommitPage(XDR* xdrs, CommitPage* page) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  if (xdrs->x_op == XDR_ENCODE && page->changesLeft != 0 && !page->commits.empty()) {
    WireChange left;
    left.kind = kChangesLeftKind;
    left.position = static_cast<std::int32_t>(
        std::min<std::uint64_t>(page->changesLeft, static_cast<std::uint64_t>(INT32_MAX)));
    std::vector<WireChange>& changes = page->commits.front().changes;
    changes.push_back(left);
    const bool_t written = xdr_uint64_t(xdrs, &page->last) && list(xdrs, &page->commits, &commit);
    changes.pop_back();
    return written;
  }
  if (!(xdr_uint64_t(xdrs, &page->last) && list(xdrs, &page->commits, &commit))) return FALSE;
  if (xdrs->x_op == XDR_DECODE) {
    page->changesLeft = 0;
    for (WireCommit& each : page->commits) {
      while (!each.changes.empty() && each.changes.back().kind == kChangesLeftKind) {
        page->changesLeft += static_cast<std::uint32_t>(std::max(each.changes.back().position, 0));
        each.changes.pop_back();
      }
    }
  }
  return TRUE;
}

bool_t X_UndoAnswer(XDR* xdrs, UndoAnswer* answer) {
  if (xdrs->x_op == XDR_FREE) return TRUE;
  return xdr_uint64_t(xdrs, &answer->commit) && string8(xdrs, &answer->refusal);
}
