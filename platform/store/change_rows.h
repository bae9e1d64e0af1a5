#pragma once

// The history as both databases keep it: a row per change a commit made
// (commit_change), its kind by name and the values it replaced and wrote
// as bytes. What a row holds is checked as it is read back: a damaged row
// is a StoreError, never a wrong change.

#include <string>
#include <string_view>
#include <vector>

#include "platform/wkm_srv/persistent_store.h"

// 'created', 'deleted', 'value', 'reference', 'added', 'removed', 'values'.
const char16_t* changeName(SlotChange::Kind kind);
SlotChange::Kind changeKind(std::u16string_view name);
SlotChange::Kind changeKind(std::string_view name);

// A list of values as bytes: for each, its value class and number as
// big-endian 32-bit words, its text's length in units as one more, then
// each unit as two big-endian bytes. An empty list is kept as SQL NULL.
std::string encodeValues(const std::vector<StoredValue>& values);
// Throws StoreError for bytes no list encodes.
std::vector<StoredValue> decodeValues(std::string_view bytes);

// Whether a change's slot is the object itself (made or removed).
inline bool changesWholeObject(const SlotChange& change) {
  return change.kind == SlotChange::Created || change.kind == SlotChange::Deleted;
}
