// An advisory lock on a file that other processes see: how a bridge held
// exclusively by one process shows up as busy in another. The operating system
// drops the lock when its holder closes it or ends, however it ends.
#pragma once
#include <cstdint>
#include <string>

namespace kq560sim {

class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
  FileLock& operator=(FileLock&& other) noexcept;
  ~FileLock() { Release(); }

  // Takes the lock on an existing file without waiting: exclusive, or shared
  // (which only an exclusive holder blocks). False if it is held or the file
  // cannot be opened.
  bool Acquire(const std::string& path, bool exclusive);
  void Release();
  bool Held() const { return handle_ != kNone; }

  // True if someone else holds the file's exclusive lock.
  static bool HeldElsewhere(const std::string& path) {
    FileLock probe;
    return !probe.Acquire(path, false);
  }

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;  // file descriptor or HANDLE
};

inline FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = other.handle_;
    other.handle_ = kNone;
  }
  return *this;
}

}  // namespace kq560sim
