// The platform half of the file layer (program_file_posix.cpp,
// win/program_file_win.cpp). Handles are plain integers: a descriptor or a
// HANDLE.
#pragma once
#include <cstdint>

namespace file_os {

constexpr intptr_t kNoFile = -1;

// Opens an existing regular file for reading, sharing it for reading only.
intptr_t OpenForRead(const char* pathUtf8);
bool SizeOf(intptr_t file, uint64_t* size);
bool Read(intptr_t file, uint8_t* buffer, uint32_t size, uint32_t* got);
void Close(intptr_t file);

}  // namespace file_os
