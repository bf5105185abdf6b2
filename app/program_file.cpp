#include "app/program_file.h"

#include <cstring>

#include "app/program_file_os.h"

namespace {

FileReadFunction g_read = nullptr;

}  // namespace

void SetFileReadFunction(FileReadFunction read) { g_read = read; }

bool IsHexPath(const char* path) {
  const size_t n = std::strlen(path);
  if (n < 3) return false;
  const char* tail = path + n - 3;
  for (int i = 0; i < 3; ++i) {
    char c = tail[i];
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (c != "HEX"[i]) return false;
  }
  return true;
}

FileReadStatus ReadProgramFile(const char* pathUtf8, uint8_t* buffer, uint32_t* bytesRead) {
  *bytesRead = 0;
  const intptr_t file = file_os::OpenForRead(pathUtf8);
  if (file == file_os::kNoFile) return FileReadStatus::OpenFailed;
  uint64_t size = 0;
  FileReadStatus status = FileReadStatus::Ok;
  if (!file_os::SizeOf(file, &size)) {
    status = FileReadStatus::ReadFailed;
  } else if (size == 0 || size > kProgramBufferSize) {
    status = FileReadStatus::SizeError;
  } else {
    // A file that shrinks or fails under us is a read error, never a shorter image.
    const FileReadFunction read = g_read ? g_read : file_os::Read;
    uint32_t total = 0;
    while (total < size) {
      uint32_t got = 0;
      if (!read(file, buffer + total, uint32_t(size) - total, &got) || got == 0) break;
      total += got;
    }
    if (total == size) {
      *bytesRead = total;
    } else {
      status = FileReadStatus::ReadFailed;
    }
  }
  file_os::Close(file);
  return status;
}
