// The tool's status lines and progress bar: status lines as they come, and
// the 0-1024 bar redrawn in place on a terminal, a line per tenth otherwise.
// It keeps the last status text and notices when verification starts, so a
// failure can be reported with its text and step.
#pragma once
#include <string>

#include "app/console.h"
#include "app/download_job.h"

class CliView : public DownloadView {
 public:
  explicit CliView(ConsoleStream stream) : stream_(stream), terminal_(StreamIsTerminal(stream)) {}

  ProgressRange QueryProgressRange() override { return {0, kTop}; }
  void SetProgress(int32_t position) override { Draw(Clamp(position)); }
  void AdvanceProgress(int32_t delta) override { Draw(Clamp(position_ + delta)); }
  void ShowStatus(const char* text) override;
  void SetJobControls(bool) override {}

  // A line that is no status text (summary, CF lines, --list, --check).
  void ShowLine(const std::string& line);
  // Ends a bar drawn in place, so what follows starts on a line of its own.
  void EndBar();

  const std::string& lastStatus() const { return lastStatus_; }
  bool verifying() const { return verifying_; }

 private:
  static constexpr int32_t kTop = 1024;
  static int32_t Clamp(int32_t p) { return p < 0 ? 0 : p > kTop ? kTop : p; }
  void Draw(int32_t position);

  ConsoleStream stream_;
  bool terminal_;
  bool barShown_ = false;
  bool verifying_ = false;
  int32_t position_ = 0;
  std::string lastStatus_;
};
