#include "app/program_file.h"

#include <cstring>
#include <filesystem>
#include <fstream>

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
  // u8path: on Windows the file is opened through the wide API, so any name works.
  const std::filesystem::path path = std::filesystem::u8path(pathUtf8);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return FileReadStatus::OpenFailed;
  std::ifstream file(path, std::ios::binary);
  if (!file) return FileReadStatus::OpenFailed;
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  if (size <= 0 || size > std::streamoff(kProgramBufferSize)) {
    return size < 0 ? FileReadStatus::ReadFailed : FileReadStatus::SizeError;
  }
  file.seekg(0, std::ios::beg);
  file.read(reinterpret_cast<char*>(buffer), size);
  if (file.gcount() != size) return FileReadStatus::ReadFailed;
  *bytesRead = uint32_t(size);
  return FileReadStatus::Ok;
}
