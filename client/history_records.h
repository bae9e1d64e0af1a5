#pragma once

// The records of the repository's history, as they travel and as clients
// read them: a page of commits (the changes feed, an object's history), the
// question for a page of an object's history, and what an undo answers.
// xdr/commit_filters.h has their filters.

#include <cstdint>
#include <string>
#include <vector>

namespace qovix {

// One value a slot held: a data value's class and payload. On the wire the
// class and number as signed words, then the text as X_stringUTF16.
struct WireValue {
  std::int32_t valueClass = 0;
  std::int32_t number = 0;
  std::u16string text;
};

// One change a commit made. `kind`: 0 created, 1 deleted (`feature` is then
// the object's class), 2 value, 3 reference, 4 added, 5 removed, 6 values.
// On the wire, kind kChangesLeftKind ends a commit's changes where the page
// leaves some out, `position` of them: the client reads it into
// CommitPage::changesLeft, and the commit's changes hold no such entry.
struct WireChange {
  std::uint32_t object = 0;
  std::uint32_t feature = 0;
  // The slot as the model names it, "QOVIXModelElement.name" ("*.name" for
  // a slot every class has); the class's name for created and deleted.
  std::string slot;
  std::int32_t kind = 0;
  std::int32_t position = -1;
  std::uint32_t beforeTarget = 0, afterTarget = 0;
  std::vector<WireValue> before, after;
};

// An object a commit touched. `change`: 0 created, 1 changed, 2 deleted.
struct WireTouched {
  std::uint32_t object = 0;
  std::uint32_t classNumber = 0;
  std::int32_t change = 0;
};

struct WireCommit {
  std::uint64_t sequence = 0;
  std::int64_t timeMicros = 0;
  std::string principal, server;
  std::vector<WireTouched> objects;
  std::vector<WireChange> changes;
};

inline constexpr std::int32_t kChangesLeftKind = 7;

// `last`: the repository's last commit when the page was read.
// `changesLeft`: how many changes of its commits the page leaves out (a
// commit of more than a page holds); 0 when it carries them all. The
// history of each object a commit lists has that object's changes. It
// travels as a last change of kind kChangesLeftKind, which every client,
// of any release, decodes as a change.
struct CommitPage {
  std::uint64_t last = 0;
  std::vector<WireCommit> commits;
  std::uint64_t changesLeft = 0;
};

// An object's history, before commit `before` (0: from the newest).
struct HistoryQuery {
  std::uint32_t object = 0;
  std::uint64_t before = 0;
};

// `commit`: the undo's own commit; 0 when refused, and `refusal` says why.
struct UndoAnswer {
  std::uint64_t commit = 0;
  std::string refusal;
};

}  // namespace qovix
