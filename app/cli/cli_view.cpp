#include "app/cli/cli_view.h"

#include <cstdio>
#include <cstring>

#include "engine/writers.h"

namespace {
constexpr int kBarWidth = 40;
}

void CliView::ShowStatus(const char* text) {
  EndBar();
  lastStatus_ = text;
  if (std::strcmp(text, kVerifyStatusText) == 0) verifying_ = true;
  WriteConsoleText(stream_, text);
  WriteConsoleText(stream_, "\n");
}

void CliView::ShowLine(const std::string& line) {
  EndBar();
  WriteConsoleText(stream_, (line + "\n").c_str());
}

void CliView::EndBar() {
  if (barShown_) WriteConsoleText(stream_, "\n");
  barShown_ = false;
}

void CliView::Draw(int32_t position) {
  const int32_t before = position_;
  position_ = position;
  if (position == 0) return;
  if (terminal_) {
    char line[kBarWidth + 32];
    const int filled = int(position) * kBarWidth / kTop;
    int n = std::snprintf(line, sizeof line, "\r[");
    for (int i = 0; i < kBarWidth; ++i) line[n++] = i < filled ? '#' : '.';
    std::snprintf(line + n, sizeof line - n, "] %3d%%", int(position * 100 / kTop));
    WriteConsoleText(stream_, line);
    barShown_ = true;
  } else if (position * 10 / kTop != before * 10 / kTop || before > position) {
    char line[32];
    std::snprintf(line, sizeof line, "%d%%\n", int(position * 100 / kTop));
    WriteConsoleText(stream_, line);
  }
}
