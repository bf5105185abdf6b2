#include "app/download_job.h"

#include <cstdio>
#include <cstring>

#include "app/program_file.h"
#include "app/status_texts.h"
#include "engine/identify.h"
#include "engine/writers.h"
#include "image/intel_hex.h"

uint8_t FileBuffer[kProgramBufferSize];
uint8_t ImageBuffer[kProgramBufferSize];

namespace {

JobOutcome RunJob(AppState& app, DownloadView& view) {
  EngineState& engine = app.engine;
  view.ShowStatus(kTextIdentifying);
  if (const char* failure = IdentifyFailureText(IdentifyTarget(engine))) {
    view.ShowStatus(failure);
    return JobOutcome::IdentifyFailed;
  }

  uint32_t length = 0;
  switch (ReadProgramFile(app.filePath, FileBuffer, &length)) {
    case FileReadStatus::Ok: break;
    case FileReadStatus::OpenFailed: view.ShowStatus("打开文件失败"); return JobOutcome::FileFailed;
    case FileReadStatus::SizeError: view.ShowStatus("文件大小错误"); return JobOutcome::FileFailed;
    case FileReadStatus::ReadFailed: view.ShowStatus("读文件错误"); return JobOutcome::FileFailed;
  }
  // The writers program and compare whole pages past the end of the image;
  // there a raw file must read as erased flash, never as an earlier file's bytes.
  std::memset(FileBuffer + length, 0xFF, kProgramBufferSize - length);

  const uint8_t* image = FileBuffer;
  if (IsHexPath(app.filePath)) {
    view.ShowStatus("正在进行文件转换...");
    uint32_t effective = 0;
    if (!DecodeIntelHex(FileBuffer, length, ImageBuffer, &effective)) {
      view.ShowStatus("错误的HEX文件");
      return JobOutcome::HexFailed;
    }
    image = ImageBuffer;
    length = effective;
  }

  // Taken after identification, so "MEGA AUTO" shows the recognised part.
  const char* chipName = ChipName(engine.chipIndex.load(), "");
  char text[128];
  ResultCode result;
  if (app.eepromTarget) {
    std::snprintf(text, sizeof text, "正在对%s的EEPROM进行编程...", chipName);
    view.ShowStatus(text);
    result = WriteEeprom(engine, view, image, length);
  } else {
    std::snprintf(text, sizeof text, "正在对%s的FLASH进行编程...", chipName);
    view.ShowStatus(text);
    result = WriteFlash(engine, view, image, length);
  }

  char success[64];
  std::snprintf(success, sizeof success, "下载成功,共下载%u字节", unsigned(length));
  if (const char* outcome = WriteOutcomeText(result, success)) view.ShowStatus(outcome);
  return result == kResultOk ? JobOutcome::Success : JobOutcome::WriteFailed;
}

}  // namespace

JobOutcome DownloadJob(AppState& app, DownloadView& view) {
  view.SetJobControls(true);
  view.SetProgress(app.engine.progressRange.low);
  const JobOutcome outcome = RunJob(app, view);
  view.SetProgress(app.engine.progressRange.low);
  view.SetJobControls(false);
  app.jobHandle.store(kJobIdle);
  return outcome;
}
