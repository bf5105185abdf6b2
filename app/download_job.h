// The download job: identify the target, load and decode the file, write and
// verify it, and tell the outcome in the status line.
#pragma once
#include "app/app_state.h"
#include "app/program_image.h"
#include "engine/engine_state.h"

// What the job needs of the window beyond the progress bar and status line.
class DownloadView : public JobView {
 public:
  // Running: EEPROM box, Configure, Browse and Reset disabled, Download
  // captioned "停止". Idle: the reverse (EEPROM by the chip list), and the
  // window flashes once when it is not in front.
  virtual void SetJobControls(bool running) = 0;
};

// How a job ended, for callers that need more than the status line (the
// command-line tool's exit code). The window ignores it.
enum class JobOutcome { Success, IdentifyFailed, FileFailed, HexFailed, WriteFailed };

// Runs one job on the calling thread with the file at `pathUtf8` (any
// length). The caller has set the job handle to a running marker, reloaded
// the chip and the EEPROM flag and cleared StopRequest; the job ends, on every
// path, with a final status text (never a stage text ending in "..."), then
// resets the bar, returns the controls to idle and sets the job handle to
// kJobIdle, in that order. `loaded`, when given, receives the image handed to
// the writer (length 0 when the file did not load).
JobOutcome DownloadJob(AppState& app, DownloadView& view, const char* pathUtf8, ProgramImage* loaded = nullptr);
