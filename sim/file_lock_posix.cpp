// flock() locks belong to the open file, not to the process, so the state file
// can be rewritten through other descriptors without losing the lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "sim/file_lock.h"

namespace kq560sim {

bool FileLock::Acquire(const std::string& path, bool exclusive) {
  Release();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

void FileLock::Release() {
  if (handle_ == kNone) return;
  close(static_cast<int>(handle_));  // closing drops the lock
  handle_ = kNone;
}

}  // namespace kq560sim
