#include "interchange/packages/document_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace model {
namespace {

[[noreturn]] void failWith(const std::string& what, int error) {
  throw std::runtime_error(what + ": " + std::strerror(error));
}

// Closes a descriptor however the scope ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;
  int get() const { return fd_; }
  // The descriptor, no longer closed by this.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now, saying whether the last writes made it.
  bool closeNow() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

void writeAll(int fd, std::string_view text, const std::string& what) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) failWith("cannot write " + what, wrote < 0 ? errno : ENOSPC);
    done += static_cast<std::size_t>(wrote);
  }
}

// A bound as people read it: "1 GiB", "32 MiB", "4096 bytes".
std::string sizeText(std::uint64_t bytes) {
  if (bytes >= (1u << 30) && bytes % (1u << 30) == 0) return std::to_string(bytes >> 30) + " GiB";
  if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

Descriptor openFolder(const std::filesystem::path& folder) {
  Descriptor folderFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folderFd.get() < 0) failWith("cannot open the document folder", errno);
  return folderFd;
}

// The document opened to read, and its size: a plain file no larger than
// `most` bytes.
Descriptor openDocument(const Descriptor& folderFd, const std::string& name, std::uint64_t most,
                        std::uint64_t& size) {
  const std::string what = "the document '" + name + "'";
  // O_NOFOLLOW: a link is refused, not followed; O_NONBLOCK: a FIFO cannot
  // hold the open.
  Descriptor file(
      openat(folderFd.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT) throw std::runtime_error("there is no document '" + name + "'");
    if (errno == ELOOP) throw std::runtime_error(what + " is a symbolic link, not a document");
    failWith("cannot open " + what, errno);
  }
  struct stat status {};
  if (fstat(file.get(), &status) != 0) failWith("cannot read " + what, errno);
  if (!S_ISREG(status.st_mode)) throw std::runtime_error(what + " is not a plain file");
  if (static_cast<std::uintmax_t>(status.st_size) > most) {
    throw std::runtime_error(what + " is larger than " + sizeText(most));
  }
  size = static_cast<std::uint64_t>(status.st_size);
  return file;
}

// Up to `most` bytes from `offset` into `into`; fewer where the file ends.
std::size_t readInto(int fd, std::uint64_t offset, char* into, std::size_t most,
                     const std::string& name) {
  std::size_t done = 0;
  while (done < most) {
    const ssize_t got = pread(fd, into + done, most - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failWith("cannot read the document '" + name + "'", errno);
    if (got == 0) break;  // it shrank meanwhile: what was read is checked like any other
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::string readFrom(int fd, std::uint64_t offset, std::size_t most, const std::string& name) {
  std::string text(most, '\0');
  text.resize(readInto(fd, offset, text.data(), most, name));
  return text;
}

void checkName(const std::string& name) {
  if (!isDocumentName(name)) throw std::runtime_error("'" + name + "' is no document name");
}

// The file a document is received into until its last chunk.
std::string uploadName(const std::string& name) { return "." + name + ".upload"; }

// Drops uploads untouched for an hour; refuses a new one past kMostUploads.
void makeRoomForUpload(const std::filesystem::path& folder, const std::string& name) {
  std::size_t under = 0;
  const auto now = std::filesystem::file_time_type::clock::now();
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string file = entry.path().filename().string();
    if (!file.starts_with(".") || !file.ends_with(".upload")) continue;
    const auto touched = entry.last_write_time(error);
    if (!error && now - touched > std::chrono::hours(1)) {
      std::filesystem::remove(entry.path(), error);
    } else if (file != uploadName(name)) {
      ++under;
    }
  }
  if (under >= kMostUploads) {
    throw std::runtime_error("the document folder receives " + std::to_string(kMostUploads) +
                             " documents already: try again when one is done");
  }
}

}  // namespace

bool isDocumentName(std::string_view name) {
  const auto alphanumeric = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  };
  if (name.empty() || name.size() > 128 || !alphanumeric(name.front()) ||
      name.find("..") != std::string_view::npos) {
    return false;
  }
  return std::all_of(name.begin(), name.end(),
                     [&](char c) { return alphanumeric(c) || c == '.' || c == '_' || c == '-'; });
}

std::string readDocumentFile(const std::filesystem::path& folder, const std::string& name,
                             std::uint64_t most) {
  return DocumentFile(folder, name, most).text();
}

DocumentFile::DocumentFile(const std::filesystem::path& folder, const std::string& name,
                           std::uint64_t most)
    : name_(name) {
  const Descriptor folderFd = openFolder(folder);
  fd_ = openDocument(folderFd, name, most, size_).release();
}

DocumentFile::~DocumentFile() { close(fd_); }

std::size_t DocumentFile::readAt(std::uint64_t offset, char* into, std::size_t most) const {
  return readInto(fd_, offset, into, most, name_);
}

std::string DocumentFile::text() const {
  return readFrom(fd_, 0, static_cast<std::size_t>(size_), name_);
}

DocumentStretch readDocumentStretch(const std::filesystem::path& folder, const std::string& name,
                                    std::uint64_t offset, std::size_t chunk, std::uint64_t most) {
  checkName(name);
  const Descriptor folderFd = openFolder(folder);
  DocumentStretch stretch;
  const Descriptor file = openDocument(folderFd, name, most, stretch.size);
  if (offset < stretch.size) {
    const auto left = static_cast<std::size_t>(stretch.size - offset);
    stretch.bytes = readFrom(file.get(), offset, std::min(chunk, left), name);
  }
  return stretch;
}

std::uint64_t receiveDocumentChunk(const std::filesystem::path& folder, const std::string& name,
                                   std::uint64_t offset, std::string_view bytes, bool last,
                                   std::uint64_t most) {
  checkName(name);
  const std::string what = "the document '" + name + "'";
  if (offset + bytes.size() > most) {
    throw std::runtime_error(what + " would be larger than " + sizeText(most));
  }
  const Descriptor folderFd = openFolder(folder);
  const std::string receiving = uploadName(name);
  if (offset == 0) makeRoomForUpload(folder, name);
  const int flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | (offset == 0 ? O_CREAT | O_TRUNC : 0);
  Descriptor file(openat(folderFd.get(), receiving.c_str(), flags, 0644));
  if (file.get() < 0) {
    if (errno == ENOENT) throw std::runtime_error(what + " is not being received: begin at 0");
    failWith("cannot write " + what, errno);
  }
  struct stat status {};
  if (fstat(file.get(), &status) != 0) failWith("cannot write " + what, errno);
  if (!S_ISREG(status.st_mode)) throw std::runtime_error(what + " is received into no file");
  if (static_cast<std::uint64_t>(status.st_size) != offset) {
    throw std::runtime_error("a chunk of " + what + " at " + std::to_string(offset) +
                             " is out of turn: " + std::to_string(status.st_size) +
                             " bytes are received (two senders of one name?)");
  }
  if (lseek(file.get(), 0, SEEK_END) < 0) failWith("cannot write " + what, errno);
  writeAll(file.get(), std::string(bytes), what);
  const std::uint64_t received = offset + bytes.size();
  if (!last) {
    if (!file.closeNow()) failWith("cannot write " + what, errno);
    return received;
  }
  try {
    if (fsync(file.get()) != 0) failWith("cannot write " + what, errno);
    if (!file.closeNow()) failWith("cannot write " + what, errno);
    if (renameat(folderFd.get(), receiving.c_str(), folderFd.get(), name.c_str()) != 0) {
      failWith("cannot write " + what, errno);
    }
  } catch (...) {
    unlinkat(folderFd.get(), receiving.c_str(), 0);
    throw;
  }
  if (fsync(folderFd.get()) != 0) failWith("cannot write " + what, errno);
  return received;
}

bool removeDocumentFile(const std::filesystem::path& folder, const std::string& name) {
  checkName(name);
  const Descriptor folderFd = openFolder(folder);
  if (unlinkat(folderFd.get(), name.c_str(), 0) == 0) return true;
  if (errno == ENOENT) return false;
  failWith("cannot remove the document '" + name + "'", errno);
}

void writeDocumentFile(const std::filesystem::path& folder, const std::string& name,
                       const std::string& text, std::uint64_t most) {
  if (text.size() > most) {
    throw std::runtime_error("the document '" + name + "' would be larger than " + sizeText(most));
  }
  DocumentFileWriter file(folder, name, most);
  file.write(text);
  file.finish();
}

// A name of our own beside the document: a dot first, so that it is never a
// document name itself, and the process id, so that two never meet.
DocumentFileWriter::DocumentFileWriter(const std::filesystem::path& folder,
                                       const std::string& name, std::uint64_t most)
    : name_(name),
      temporary_("." + name + "." + std::to_string(getpid()) + ".new"),
      what_("the document '" + name + "'"),
      most_(most) {
  Descriptor folderFd = openFolder(folder);
  Descriptor file(openat(folderFd.get(), temporary_.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (file.get() < 0) failWith("cannot write " + what_, errno);
  folder_ = folderFd.release();
  file_ = file.release();
}

DocumentFileWriter::~DocumentFileWriter() {
  if (file_ >= 0) {
    close(file_);
    unlinkat(folder_, temporary_.c_str(), 0);
  }
  if (folder_ >= 0) close(folder_);
}

void DocumentFileWriter::write(std::string_view bytes) {
  if (size_ + bytes.size() > most_) {
    throw std::runtime_error(what_ + " would be larger than " + sizeText(most_));
  }
  writeAll(file_, bytes, what_);
  size_ += bytes.size();
}

void DocumentFileWriter::finish() {
  if (fsync(file_) != 0) failWith("cannot write " + what_, errno);
  const int file = file_;
  file_ = -1;
  if (close(file) != 0) {
    unlinkat(folder_, temporary_.c_str(), 0);
    failWith("cannot write " + what_, errno);
  }
  if (renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) {
    const int error = errno;
    unlinkat(folder_, temporary_.c_str(), 0);
    failWith("cannot write " + what_, error);
  }
  // The rename is kept once the folder is on the disk.
  if (fsync(folder_) != 0) failWith("cannot write " + what_, errno);
}

}  // namespace model
