#pragma once

// Package documents as files in the document folder, read and written so
// that neither a careless operator nor a hostile file can hurt the server:
// names stay inside the folder, nothing but a plain file is read (no link,
// FIFO or device, and nothing that blocks), sizes are capped, and a
// document is replaced only whole: the old one stays until the new one is
// on the disk.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "model/qovix_srv/qovix_srv_api.h"
#include "interchange/xmi/xml_stream.h"

namespace model {

// The whole of the document `name` in `folder`. Throws std::runtime_error
// when it is missing, not a plain file, larger than `most` bytes or cannot
// be read.
QOVIX_SRV_API std::string readDocumentFile(const std::filesystem::path& folder,
                                           const std::string& name, std::uint64_t most);

// The document `name` in `folder`, opened as readDocumentFile opens it and
// read a piece at a time, from where the reader asks, for as long as it
// lives: an import streams it without holding it.
class QOVIX_SRV_API DocumentFile final : public xmi::XmlSource {
 public:
  DocumentFile(const std::filesystem::path& folder, const std::string& name, std::uint64_t most);
  ~DocumentFile() override;
  DocumentFile(const DocumentFile&) = delete;
  DocumentFile& operator=(const DocumentFile&) = delete;
  std::uint64_t size() const override { return size_; }
  std::size_t readAt(std::uint64_t offset, char* into, std::size_t most) const override;
  // The whole of it.
  std::string text() const;

 private:
  std::string name_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// Whether `name` is a document's name: a plain file name of ASCII letters,
// digits, '.', '_' and '-', at most 128 bytes, beginning with a letter or
// digit (the folder's own files begin with a dot) and holding no "..".
QOVIX_SRV_API bool isDocumentName(std::string_view name);

// A stretch of the document `name`: its bytes from `offset`, at most
// `chunk`, and its whole size. Throws as readDocumentFile.
struct DocumentStretch {
  std::uint64_t size = 0;
  std::string bytes;
};
QOVIX_SRV_API DocumentStretch readDocumentStretch(const std::filesystem::path& folder,
                                                  const std::string& name, std::uint64_t offset,
                                                  std::size_t chunk, std::uint64_t most);

// A document sent in chunks: the chunk at offset 0 begins it anew, beside
// the document, as a file whose name begins with a dot (never a document's);
// each next chunk must begin where the last ended; `last` puts the whole in
// place under `name` at once, as writeDocumentFile does. Returns the bytes
// received so far. Throws std::runtime_error for a chunk out of turn, a
// document past `most` bytes, or more than kMostUploads under way
// (those untouched for an hour are dropped first).
inline constexpr std::size_t kMostUploads = 16;
QOVIX_SRV_API std::uint64_t receiveDocumentChunk(const std::filesystem::path& folder,
                                                 const std::string& name, std::uint64_t offset,
                                                 std::string_view bytes, bool last,
                                                 std::uint64_t most);

// Removes the document `name`; false when there was none.
QOVIX_SRV_API bool removeDocumentFile(const std::filesystem::path& folder, const std::string& name);

// Writes `text` as the document `name` in `folder`: to a new file beside it,
// flushed to the disk, then renamed over the old one, and the folder
// flushed. Throws std::runtime_error, leaving any old document as it was.
QOVIX_SRV_API void writeDocumentFile(const std::filesystem::path& folder, const std::string& name,
                                     const std::string& text, std::uint64_t most);

// The same, a piece at a time, for a document made as it is written (an
// export), which is then never held whole: `finish` puts it in place; one
// dropped unfinished, or grown past `most`, is removed and the old document
// stays. Throws std::runtime_error.
class QOVIX_SRV_API DocumentFileWriter {
 public:
  DocumentFileWriter(const std::filesystem::path& folder, const std::string& name,
                     std::uint64_t most);
  ~DocumentFileWriter();
  DocumentFileWriter(const DocumentFileWriter&) = delete;
  DocumentFileWriter& operator=(const DocumentFileWriter&) = delete;

  void write(std::string_view bytes);
  void finish();
  std::uint64_t size() const { return size_; }

 private:
  std::string name_;
  std::string temporary_;
  std::string what_;
  std::uint64_t most_;
  std::uint64_t size_ = 0;
  int folder_ = -1;
  int file_ = -1;
};

}  // namespace model
