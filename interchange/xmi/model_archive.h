#pragma once

// Model documents inside project archives: ArgoUML's .zargo, Poseidon's
// .zuml, MagicDraw's .xml.zip and .mdzip are zip archives holding the XMI
// document beside diagrams and tool data. An archive is known by its
// content, not its name, and read in memory with libzip: nothing in it is
// ever written to disk, so no entry's path (../../x, /etc/x) or symbolic
// link can reach outside.
//
// An archive is a stranger's input like any document, and bounded so that a
// small one cannot make the server inflate a large one (a zip bomb): the
// count of entries, the bytes actually inflated (never the sizes the
// archive claims), and the ratio of inflated to stored bytes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace model::xmi {

// The most entries an archive may hold.
inline constexpr std::size_t kMostArchiveEntries = 10'000;
// An entry may inflate to at most this many times its stored size, past
// its first MiB (XMI compresses some 10 to 30 times).
inline constexpr std::size_t kMostInflationRatio = 250;

// Whether `bytes` are a zip archive (they begin with a local file header,
// or are an empty archive's end record).
bool isZipArchive(std::string_view bytes);

struct ArchivedDocument {
  std::string entry;                 // its name in the archive
  std::string text;                  // the document
  std::vector<std::string> skipped;  // "ENTRY: WHY" for each other entry
};

// The model document in the archive `bytes` (named `name` in messages): the
// largest entry whose content is XMI, inflated to at most `mostBytes`.
// Throws std::runtime_error naming the archive and what is wrong.
ArchivedDocument modelDocumentOf(std::string_view bytes, const std::string& name,
                                 std::size_t mostBytes);

}  // namespace model::xmi
