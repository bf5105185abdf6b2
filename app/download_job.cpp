#include "app/download_job.h"

#include <cstdio>

#include "app/program_image.h"
#include "app/status_texts.h"
#include "engine/identify.h"
#include "engine/writers.h"

namespace {

JobOutcome RunJob(AppState& app, DownloadView& view, const char* path, ProgramImage& loaded) {
  EngineState& engine = app.engine;
  view.ShowStatus(kTextIdentifying);
  if (const char* failure = IdentifyFailureText(IdentifyTarget(engine))) {
    view.ShowStatus(failure);
    return JobOutcome::IdentifyFailed;
  }

  const ImageLoadStatus load = LoadProgramImage(path, &view, &loaded);
  if (const char* failure = ImageLoadFailureText(load)) {
    view.ShowStatus(failure);
    return load == ImageLoadStatus::HexFailed ? JobOutcome::HexFailed : JobOutcome::FileFailed;
  }
  const uint8_t* image = loaded.data;
  const uint32_t length = loaded.length;

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
  view.ShowStatus(WriteOutcomeText(result, success));
  return result == kResultOk ? JobOutcome::Success : JobOutcome::WriteFailed;
}

}  // namespace

JobOutcome DownloadJob(AppState& app, DownloadView& view, const char* pathUtf8, ProgramImage* loaded) {
  view.SetJobControls(true);
  view.SetProgress(app.engine.progressRange.low);
  ProgramImage image{FileBuffer, 0, false, false, 0, 0};
  const JobOutcome outcome = RunJob(app, view, pathUtf8, image);
  if (loaded) *loaded = image;
  view.SetProgress(app.engine.progressRange.low);
  view.SetJobControls(false);
  app.jobHandle.store(kJobIdle);
  return outcome;
}
