// A program file turned into the image the engine writes or compares: read
// into FileBuffer and, for a HEX path, decoded into ImageBuffer. The download
// job and every other operation that takes a file share this one path, so a
// file means the same bytes whatever is done with it.
#pragma once
#include <cstdint>

#include "engine/engine_state.h"

enum class ImageLoadStatus { Ok, OpenFailed, SizeError, ReadFailed, HexFailed };

struct ProgramImage {
  const uint8_t* data;  // FileBuffer or ImageBuffer; 0xFF past the image to the buffer's end
  uint32_t length;      // effective length: the raw file's size, or one past the highest HEX address
  bool hex;             // decoded from Intel HEX
  bool any;             // a HEX file's data records wrote at least one byte (raw: always)
  uint32_t lowest;      // lowest and highest address written (raw: 0 and size - 1)
  uint32_t highest;
};

// Reads and, by its name, decodes the file at `pathUtf8`. `view`, when given,
// shows "正在进行文件转换..." before a HEX decode.
ImageLoadStatus LoadProgramImage(const char* pathUtf8, JobView* view, ProgramImage* out);

// The status line for a failed load; null for Ok.
const char* ImageLoadFailureText(ImageLoadStatus status);

// The process-wide buffers: 1 MiB each.
extern uint8_t FileBuffer[];
extern uint8_t ImageBuffer[];
