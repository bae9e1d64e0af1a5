#include "store/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "store/persistent_store.h"

FileLock::FileLock(const std::filesystem::path& path) {
  const std::string file = "the repository file '" + path.string() + "'";
  // Non-blocking, so that a FIFO cannot hold the open; made when missing.
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644);
  if (fd_ < 0) {
    const int error = errno;
    if (error == ELOOP) throw StoreError(file + " is a symbolic link; name the file itself");
    if (error == EISDIR) throw StoreError(file + " is not a plain file");
    throw StoreError("cannot open " + file + ": " + std::strerror(error));
  }
  struct stat status {};
  if (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd_);
    throw StoreError(file + " is not a plain file");
  }
  // flock, not the POSIX record locks SQLite itself takes: the two never
  // meet, so this lock cannot disturb SQLite's.
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd_);
    if (error == EWOULDBLOCK) throw StoreError(file + " is in use by another qovixd");
    throw StoreError("cannot lock " + file + ": " + std::strerror(error));
  }
}

// Closed only after SQLite has closed the file: closing a descriptor drops
// the process's POSIX locks on that file, and SQLite's with them.
FileLock::~FileLock() { close(fd_); }
