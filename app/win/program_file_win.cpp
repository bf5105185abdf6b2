// The file layer on Windows: the wide API, so every name opens whatever the
// code page, and the \\?\ form for paths too long for the plain one.
#include <windows.h>

#include <cwchar>

#include "app/program_file.h"
#include "app/program_file_os.h"

namespace {

// The longest path the wide API takes, in UTF-16 units, with room for the
// \\?\UNC\ prefix.
constexpr DWORD kWidePathSize = 32768 + 8;

struct WidePath {
  wchar_t text[kWidePathSize];
};

// UTF-8 (plus `suffix`) to a path CreateFileW takes: as it stands while it
// is shorter than MAX_PATH, else made absolute in its \\?\ form, which has no
// length limit. False when the text is not UTF-8 or too long.
bool ToWidePath(const char* utf8, const wchar_t* suffix, WidePath* out) {
  WidePath plain;
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, plain.text, int(kWidePathSize));
  const size_t suffixLength = std::wcslen(suffix);
  if (units <= 0 || size_t(units) + suffixLength > kWidePathSize) return false;
  std::wmemcpy(plain.text + units - 1, suffix, suffixLength + 1);
  const size_t length = size_t(units) - 1 + suffixLength;
  if (length < MAX_PATH || std::wcsncmp(plain.text, L"\\\\?\\", 4) == 0) {
    std::wmemcpy(out->text, plain.text, length + 1);
    return true;
  }
  constexpr DWORD kRoom = 8;  // for the prefix
  wchar_t* full = out->text + kRoom;
  const DWORD fullLength = GetFullPathNameW(plain.text, kWidePathSize - kRoom, full, nullptr);
  if (fullLength == 0 || fullLength >= kWidePathSize - kRoom) return false;
  if (full[0] == L'\\' && full[1] == L'\\') {  // \\server\share\... becomes \\?\UNC\server\share\...
    std::wmemmove(out->text + 7, full + 1, fullLength);
    std::wmemcpy(out->text, L"\\\\?\\UNC", 7);
  } else {
    std::wmemmove(out->text + 4, full, fullLength + 1);
    std::wmemcpy(out->text, L"\\\\?\\", 4);
  }
  return true;
}

}  // namespace

namespace file_os {

intptr_t OpenForRead(const char* pathUtf8) {
  WidePath path;
  if (!ToWidePath(pathUtf8, L"", &path)) return kNoFile;
  // Read sharing only: a file another program is still writing is refused.
  const HANDLE file = CreateFileW(path.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kNoFile;
  }
  return reinterpret_cast<intptr_t>(file);
}

bool SizeOf(intptr_t file, uint64_t* size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(file), &value) || value.QuadPart < 0) return false;
  *size = uint64_t(value.QuadPart);
  return true;
}

bool Read(intptr_t file, uint8_t* buffer, uint32_t size, uint32_t* got) {
  DWORD read = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, size, &read, nullptr)) return false;
  *got = read;
  return true;
}

void Close(intptr_t file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

}  // namespace file_os

bool WriteWholeFile(const char* pathUtf8, const uint8_t* data, uint32_t length) {
  WidePath target, temp;
  // The temporary name is the target's plus a suffix naming this process, so
  // two programs writing the same file never share one.
  wchar_t suffix[32];
  swprintf(suffix, 32, L".%lu.tmp", GetCurrentProcessId());
  if (!ToWidePath(pathUtf8, L"", &target) || !ToWidePath(pathUtf8, suffix, &temp)) return false;

  const HANDLE file = CreateFileW(temp.text, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (uint32_t done = 0; ok && done < length;) {
    DWORD written = 0;
    ok = WriteFile(file, data + done, length - done, &written, nullptr) && written > 0;
    done += written;
  }
  ok = FlushFileBuffers(file) && ok;
  ok = CloseHandle(file) && ok;
  ok = ok && MoveFileExW(temp.text, target.text, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(temp.text);
  return ok;
}
