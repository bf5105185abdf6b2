#include "app/program_image.h"

#include <cstring>

#include "app/program_file.h"
#include "image/intel_hex.h"

uint8_t FileBuffer[kProgramBufferSize];
uint8_t ImageBuffer[kProgramBufferSize];

ImageLoadStatus LoadProgramImage(const char* pathUtf8, JobView* view, ProgramImage* out) {
  *out = ProgramImage{FileBuffer, 0, false, false, 0, 0};
  uint32_t length = 0;
  switch (ReadProgramFile(pathUtf8, FileBuffer, &length)) {
    case FileReadStatus::Ok: break;
    case FileReadStatus::OpenFailed: return ImageLoadStatus::OpenFailed;
    case FileReadStatus::SizeError: return ImageLoadStatus::SizeError;
    case FileReadStatus::ReadFailed: return ImageLoadStatus::ReadFailed;
  }
  // The writers program and compare whole pages past the end of the image;
  // there a raw file must read as erased flash, never as an earlier file's bytes.
  std::memset(FileBuffer + length, 0xFF, kProgramBufferSize - length);

  if (!IsHexPath(pathUtf8)) {
    *out = ProgramImage{FileBuffer, length, false, true, 0, length - 1};
    return ImageLoadStatus::Ok;
  }
  if (view) view->ShowStatus("正在进行文件转换...");
  uint32_t effective = 0;
  HexExtent extent{};
  if (!DecodeIntelHex(FileBuffer, length, ImageBuffer, &effective, &extent)) return ImageLoadStatus::HexFailed;
  *out = ProgramImage{ImageBuffer, effective, true, extent.any, extent.lowest, extent.highest};
  return ImageLoadStatus::Ok;
}

const char* ImageLoadFailureText(ImageLoadStatus status) {
  switch (status) {
    case ImageLoadStatus::Ok: return nullptr;
    case ImageLoadStatus::OpenFailed: return "打开文件失败";
    case ImageLoadStatus::SizeError: return "文件大小错误";
    case ImageLoadStatus::ReadFailed: return "读文件错误";
    case ImageLoadStatus::HexFailed: return "错误的HEX文件";
  }
  return nullptr;
}
