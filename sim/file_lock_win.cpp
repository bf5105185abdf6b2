// LockFileEx locks are mandatory for the bytes they cover, so the lock sits
// far beyond the end of the state file, where nobody reads or writes.
#include <windows.h>

#include "sim/file_lock.h"

namespace kq560sim {

bool FileLock::Acquire(const std::string& path, bool exclusive) {
  Release();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at = {};
  at.OffsetHigh = 0x40000000;
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (!LockFileEx(file, flags, 0, 1, 0, &at)) {
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

void FileLock::Release() {
  if (handle_ == kNone) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));  // closing drops the lock
  handle_ = kNone;
}

}  // namespace kq560sim
