// mcufeed-cli: the window's command-line operations, headless, for scripts
// and production lines.
//
//   mcufeed-cli [--fast=0|1] CHIP OP [PATH]
//
// Exit codes (see kUsageText): 0 success; 2 usage; 3 no bridge; 4
// identification failed; 5 file unreadable; 6 bad HEX file; 7 writing or
// verification failed or was stopped; 8 the reset sequence failed.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/app_state.h"
#include "app/command_line.h"
#include "app/console.h"
#include "app/download_job.h"
#include "app/settings.h"
#include "app/status_texts.h"
#include "engine/identify.h"
#include "link/line_sequences.h"

namespace {

enum ExitCode {
  kExitOk = 0,
  kExitUsage = 2,
  kExitNoBridge = 3,
  kExitIdentify = 4,
  kExitFile = 5,
  kExitHex = 6,
  kExitWrite = 7,
  kExitReset = 8,
};

const char kUsageText[] =
    "usage: mcufeed-cli [--fast=0|1] CHIP OP [PATH]\n"
    "  CHIP  MEGA (recognise the AVR part), MEGA8, MEGA16, MEGA32, MEGA64, MEGA128,\n"
    "        MEGA8515, MEGA8535, MEGA48, MEGA88, MEGA168, AT89S51, AT89S52\n"
    "  OP    WF write PATH into flash; WE write PATH into EEPROM (AVR only);\n"
    "        RM reset the target (no PATH)\n"
    "  PATH  Intel HEX when the name ends in HEX (any case), raw binary otherwise\n"
    "  --fast=1|0  use (or not) the bridge's hardware SPI for AVR pages in this run;\n"
    "              default: the stored SPIBit setting (1 when never set)\n"
    "exit codes: 0 success, 2 usage, 3 no bridge, 4 identification failed,\n"
    "  5 file could not be read, 6 bad HEX file, 7 writing or verification failed\n"
    "  or stopped (Ctrl+C), 8 the reset sequence failed\n";

constexpr int32_t kProgressTop = 1024;
constexpr int kBarWidth = 40;

std::atomic<int>* g_stopRequest = nullptr;

extern "C" void OnInterrupt(int) {
  if (g_stopRequest) g_stopRequest->store(1);
}

// Status lines as they come, and the 0-1024 bar: redrawn in place on a
// terminal, a line per tenth otherwise.
class ConsoleView : public DownloadView {
 public:
  explicit ConsoleView(bool terminal) : terminal_(terminal) {}

  ProgressRange QueryProgressRange() override { return {0, kProgressTop}; }
  void SetProgress(int32_t position) override { Draw(Clamp(position)); }
  void AdvanceProgress(int32_t delta) override { Draw(Clamp(position_ + delta)); }
  void ShowStatus(const char* text) override {
    EndBar();
    WriteConsoleText(text);
    WriteConsoleText("\n");
  }
  void SetJobControls(bool) override {}
  void EndBar() {
    if (barShown_) WriteConsoleText("\n");
    barShown_ = false;
  }

 private:
  static int32_t Clamp(int32_t p) { return p < 0 ? 0 : p > kProgressTop ? kProgressTop : p; }

  void Draw(int32_t position) {
    const int32_t before = position_;
    position_ = position;
    if (position == 0) return;
    if (terminal_) {
      char line[kBarWidth + 32];
      const int filled = int(position) * kBarWidth / kProgressTop;
      int n = std::snprintf(line, sizeof line, "\r[");
      for (int i = 0; i < kBarWidth; ++i) line[n++] = i < filled ? '#' : '.';
      std::snprintf(line + n, sizeof line - n, "] %3d%%", int(position * 100 / kProgressTop));
      WriteConsoleText(line);
      barShown_ = true;
    } else if (position * 10 / kProgressTop != before * 10 / kProgressTop || before > position) {
      char line[32];
      std::snprintf(line, sizeof line, "%d%%\n", int(position * 100 / kProgressTop));
      WriteConsoleText(line);
    }
  }

  bool terminal_;
  bool barShown_ = false;
  int32_t position_ = 0;
};

int Usage(const char* problem) {
  if (problem) {
    std::fputs(problem, stderr);
    std::fputs("\n", stderr);
  }
  std::fputs(kUsageText, stderr);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  int fastOverride = -1;
  int first = 1;
  while (first < argc && std::strncmp(argv[first], "--", 2) == 0) {
    const char* option = argv[first++];
    if (std::strcmp(option, "--fast=1") == 0) fastOverride = 1;
    else if (std::strcmp(option, "--fast=0") == 0) fastOverride = 0;
    else if (std::strcmp(option, "--help") == 0) return Usage(nullptr);
    else return Usage("unknown option");
  }
  const int words = argc - first;
  if (words < 2 || words > 3) return Usage(nullptr);
  const char* path = words == 3 ? argv[first + 2] : nullptr;
  if (path && (std::strchr(path, '"') || *path == '\0')) return Usage("the path cannot be empty or hold a double quote");

  // The same acceptance rules as the window's command line: rebuild its text
  // and let its parser judge it. The path is used as given, case and all.
  std::string line = std::string(argv[first]) + " " + argv[first + 1];
  if (path) line += std::string(" \"") + path + "\"";
  CommandLine command;
  if (ParseCommandLine(line.c_str(), &command) != kCommandLineAccepted)
    return Usage("the chip, operation and path are not a valid command");

  static AppState app;
  app.engine.chipIndex.store(command.chipIndex);
  app.commandLineMode = 1;
  app.commandOp = command.commandOp;
  if (path) {
    std::snprintf(app.filePath, sizeof app.filePath, "%s", path);
    app.fileChosen = 1;
  }

  ConsoleView view(OutputIsTerminal());
  if (!OpenFirstBridge(&app.bridge)) {
    view.ShowStatus("与KQ560设备失去连接");
    return kExitNoBridge;
  }
  view.ShowStatus("成功打开KQ560设备");
  app.engine.deviceIndex.store(app.bridge.device);
  app.engine.hardwareSpi.store(app.bridge.hardwareSpi ? 1 : 0);
  if (app.bridge.hardwareSpi) app.engine.fastSpi.store(LoadFastSpiSetting());
  if (fastOverride >= 0) app.engine.fastSpi.store(fastOverride);

  g_stopRequest = &app.engine.stopRequest;
  std::signal(SIGINT, OnInterrupt);

  int exitCode = kExitOk;
  if (command.commandOp == kCommandOpReset) {
    view.ShowStatus(kTextResetting);
    if (const char* failure = IdentifyFailureText(IdentifyTarget(app.engine))) {
      view.ShowStatus(failure);
      exitCode = kExitIdentify;
    } else {
      const uint32_t device = app.engine.deviceIndex.load();
      const bool ok = (IsAvrPart(app.engine.chipIndex.load()) ? ResetAvrTarget(device)
                                                              : ResetAt89Target(device)) == 1;
      view.ShowStatus(ok ? kTextResetOk : kTextTransferFailed);
      exitCode = ok ? kExitOk : kExitReset;
    }
  } else {
    app.eepromTarget = command.commandOp == kCommandOpWriteEeprom ? 1 : 0;
    app.engine.stopRequest.store(0);
    app.jobHandle.store(1);  // the job runs on this thread; the marker only says so
    switch (DownloadJob(app, view, app.filePath)) {
      case JobOutcome::Success: exitCode = kExitOk; break;
      case JobOutcome::IdentifyFailed: exitCode = kExitIdentify; break;
      case JobOutcome::FileFailed: exitCode = kExitFile; break;
      case JobOutcome::HexFailed: exitCode = kExitHex; break;
      case JobOutcome::WriteFailed: exitCode = kExitWrite; break;
    }
  }
  view.EndBar();
  CloseBridge(&app.bridge);
  return exitCode;
}
