#include "nvram/dir_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace nvram {

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(fd_);
}

DirectoryLock::Result DirectoryLock::acquire() {
  if (fd_ >= 0) return kHeld;
  // No O_CLOEXEC: the tool holds the lock with the run.
  int fd = ::open(".", O_RDONLY | O_DIRECTORY);
  if (fd < 0) return kUnlocked;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    return busy ? kBusy : kUnlocked;
  }
  fd_ = fd;
  return kHeld;
}

}  // namespace nvram
