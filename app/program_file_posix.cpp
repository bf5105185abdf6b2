// The file layer on POSIX systems: descriptors, no share modes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/program_file.h"
#include "app/program_file_os.h"

namespace file_os {

intptr_t OpenForRead(const char* pathUtf8) {
  // Non-blocking, so that a FIFO does not hang the open; it is refused below.
  const int fd = open(pathUtf8, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return kNoFile;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return kNoFile;
  }
  return fd;
}

bool SizeOf(intptr_t file, uint64_t* size) {
  struct stat info;
  if (fstat(int(file), &info) != 0 || info.st_size < 0) return false;
  *size = uint64_t(info.st_size);
  return true;
}

bool Read(intptr_t file, uint8_t* buffer, uint32_t size, uint32_t* got) {
  ssize_t n;
  do {
    n = read(int(file), buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  *got = uint32_t(n);
  return true;
}

void Close(intptr_t file) { close(int(file)); }

}  // namespace file_os

namespace {

bool WriteAll(int fd, const uint8_t* data, uint32_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= uint32_t(n);
  }
  return true;
}

}  // namespace

bool WriteWholeFile(const char* pathUtf8, const uint8_t* data, uint32_t length) {
  // The temporary name is the target's plus a suffix naming this process, so
  // two programs writing the same file never share one.
  char suffix[32];
  const int suffixLength = std::snprintf(suffix, sizeof suffix, ".%ld.tmp", long(getpid()));
  const size_t pathLength = std::strlen(pathUtf8);
  char* temp = new (std::nothrow) char[pathLength + size_t(suffixLength) + 1];
  if (!temp) return false;
  std::memcpy(temp, pathUtf8, pathLength);
  std::memcpy(temp + pathLength, suffix, size_t(suffixLength) + 1);

  bool ok = false;
  const int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ok = WriteAll(fd, data, length) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp, pathUtf8) == 0;
    if (!ok) unlink(temp);
  }
  delete[] temp;
  return ok;
}
