// Reading a program file (Intel HEX or raw binary) into the file buffer.
#pragma once
#include <cstdint>

constexpr uint32_t kProgramBufferSize = 0x100000;  // the largest file, and the image size

enum class FileReadStatus { Ok, OpenFailed, SizeError, ReadFailed };

// Reads the whole file at `pathUtf8` into `buffer` (kProgramBufferSize bytes).
// A file of 0 bytes or more than kProgramBufferSize bytes is a SizeError.
FileReadStatus ReadProgramFile(const char* pathUtf8, uint8_t* buffer, uint32_t* bytesRead);

// A path whose last three characters are "HEX" in any case is decoded as
// Intel HEX; only the name decides.
bool IsHexPath(const char* path);
