#include "platform/packages/document_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, saying whether the last writes made it.
  bool closeNow() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

void writeAll(int fd, const std::string& text, const std::string& what) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) failWith("cannot write " + what, wrote < 0 ? errno : ENOSPC);
    done += static_cast<std::size_t>(wrote);
  }
}

}  // namespace

std::string readDocumentFile(const std::filesystem::path& folder, const std::string& name) {
  const std::string what = "the document '" + name + "'";
  const Descriptor folderFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folderFd.get() < 0) failWith("cannot open the document folder", errno);
  // O_NOFOLLOW: a link is refused, not followed; O_NONBLOCK: a FIFO cannot
  // hold the open.
  const Descriptor file(
      openat(folderFd.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT) throw std::runtime_error("there is no document '" + name + "'");
    if (errno == ELOOP) throw std::runtime_error(what + " is a symbolic link, not a document");
    failWith("cannot open " + what, errno);
  }
  struct stat status {};
  if (fstat(file.get(), &status) != 0) failWith("cannot read " + what, errno);
  if (!S_ISREG(status.st_mode)) throw std::runtime_error(what + " is not a plain file");
  if (static_cast<std::uintmax_t>(status.st_size) > kMostDocumentBytes) {
    throw std::runtime_error(what + " is larger than " + std::to_string(kMostDocumentBytes >> 20) +
                             " MiB");
  }
  std::string text(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t got = read(file.get(), text.data() + done, text.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failWith("cannot read " + what, errno);
    if (got == 0) break;  // it shrank meanwhile: what was read is checked like any other
    done += static_cast<std::size_t>(got);
  }
  text.resize(done);
  return text;
}

void writeDocumentFile(const std::filesystem::path& folder, const std::string& name,
                       const std::string& text) {
  const std::string what = "the document '" + name + "'";
  if (text.size() > kMostDocumentBytes) {
    throw std::runtime_error(what + " would be larger than " +
                             std::to_string(kMostDocumentBytes >> 20) + " MiB");
  }
  const Descriptor folderFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folderFd.get() < 0) failWith("cannot open the document folder", errno);
  // A name of our own beside the document: a dot first, so that it is never
  // a document name itself, and the process id, so that two never meet.
  const std::string temporary = "." + name + "." + std::to_string(getpid()) + ".new";
  Descriptor file(openat(folderFd.get(), temporary.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (file.get() < 0) failWith("cannot write " + what, errno);
  try {
    writeAll(file.get(), text, what);
    if (fsync(file.get()) != 0) failWith("cannot write " + what, errno);
    if (!file.closeNow()) failWith("cannot write " + what, errno);
    if (renameat(folderFd.get(), temporary.c_str(), folderFd.get(), name.c_str()) != 0) {
      failWith("cannot write " + what, errno);
    }
  } catch (...) {
    unlinkat(folderFd.get(), temporary.c_str(), 0);
    throw;
  }
  // The rename is kept once the folder is on the disk.
  if (fsync(folderFd.get()) != 0) failWith("cannot write " + what, errno);
}

}  // namespace model
