// Program files: reading one (Intel HEX or raw binary) into the file buffer,
// and writing a file whole. Paths are UTF-8 and of any length the system
// takes; nothing here throws.
#pragma once
#include <cstdint>

constexpr uint32_t kProgramBufferSize = 0x100000;  // the largest file, and the image size

enum class FileReadStatus { Ok, OpenFailed, SizeError, ReadFailed };

// Reads the whole file at `pathUtf8` into `buffer` (kProgramBufferSize bytes).
// The file is opened for reading with read sharing only, so a file another
// program still holds open for writing does not open (on Windows; POSIX has
// no share modes). A file of 0 bytes or more than kProgramBufferSize bytes is
// a SizeError; a folder does not open.
FileReadStatus ReadProgramFile(const char* pathUtf8, uint8_t* buffer, uint32_t* bytesRead);

// A path whose last three characters are "HEX" in any case is decoded as
// Intel HEX; only the name decides.
bool IsHexPath(const char* path);

// Writes `length` bytes to the file at `pathUtf8` whole or not at all: a
// temporary file beside it, renamed over the target once fully written and
// flushed; on any failure false and the target untouched (no partial file left).
bool WriteWholeFile(const char* pathUtf8, const uint8_t* data, uint32_t length);

// The read of an opened file: up to `size` bytes into `buffer`, the count in
// `*got`; false on an error. `file` is the platform's handle.
using FileReadFunction = bool (*)(intptr_t file, uint8_t* buffer, uint32_t size, uint32_t* got);
// Replaces the platform's read (null restores it). A seam for tests: no file
// system fails a read after a good open on demand.
void SetFileReadFunction(FileReadFunction read);
