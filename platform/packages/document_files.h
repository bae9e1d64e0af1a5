#pragma once

// Package documents as files in the document folder, read and written so
// that neither a careless operator nor a hostile file can hurt the server:
// names stay inside the folder, nothing but a plain file is read (no link,
// FIFO or device, and nothing that blocks), sizes are capped, and a
// document is replaced only whole: the old one stays until the new one is
// on the disk.

#include <cstddef>
#include <filesystem>
#include <string>

namespace model {

// The largest document read or written.
inline constexpr std::size_t kMostDocumentBytes = 64u << 20;

// The whole of the document `name` in `folder`. Throws std::runtime_error
// when it is missing, not a plain file, larger than kMostDocumentBytes or
// cannot be read.
std::string readDocumentFile(const std::filesystem::path& folder, const std::string& name);

// Writes `text` as the document `name` in `folder`: to a new file beside it,
// flushed to the disk, then renamed over the old one, and the folder
// flushed. Throws std::runtime_error, leaving any old document as it was.
void writeDocumentFile(const std::filesystem::path& folder, const std::string& name,
                       const std::string& text);

}  // namespace model
