#include "app/main_window_logic.h"

#include <cstdio>
#include <cstring>

#include "link/kq560.h"
#include "resources/resource.h"

const CloseStep kCloseSteps[kCloseStepCount] = {
    CloseStep::ConfirmIfJobRuns, CloseStep::RequestStop,   CloseStep::ShowWaitText,   CloseStep::WaitForJob,
    CloseStep::CloseBridge,      CloseStep::StorePosition, CloseStep::StoreChipIndex, CloseStep::EndDialog,
};

const char* FileNameOfPath(const char* path) {
  const char* slash = std::strrchr(path, '\\');
  return slash ? slash + 1 : path;
}

void FormatFileTitle(const char* path, char* out, size_t size) {
  std::snprintf(out, size, "%s[%s]", kWindowTitlePrefix, FileNameOfPath(path));
}

void FormatPlainTitle(char* out, size_t size) { std::snprintf(out, size, "%s%s", kWindowTitlePrefix, kMakerWebAddress); }

bool EepromBoxEnabledUnsigned(int32_t selection) { return uint32_t(selection) < 11u; }

bool EepromBoxEnabledSigned(int32_t chipIndex) { return chipIndex < 11; }

int BridgeControlStates(bool bridgeOpen, bool fileChosen, ControlEnable out[kMaxControlChanges]) {
  out[0] = {IDC_DOWNLOAD, bridgeOpen && fileChosen};
  out[1] = {IDC_CONFIGURE, bridgeOpen};
  out[2] = {IDC_RESET, bridgeOpen};
  out[3] = {IDC_BROWSE, bridgeOpen};
  return 4;
}

int JobControlStates(bool running, int32_t selection, ControlEnable out[kMaxControlChanges]) {
  out[0] = {IDC_EEPROM, !running && EepromBoxEnabledUnsigned(selection)};
  out[1] = {IDC_CONFIGURE, !running};
  out[2] = {IDC_BROWSE, !running};
  out[3] = {IDC_RESET, !running};
  return 4;
}

PlugAction PlugNoticeAction(uint32_t event, bool bridgeOpen) {
  if (event == kKq560EventArrival) return bridgeOpen ? PlugAction::None : PlugAction::ScanSlots;
  return bridgeOpen ? PlugAction::ProbeOpenSlot : PlugAction::None;
}

StartAction CommandLineStartAction(int commandLineMode, uint16_t commandOp) {
  if (!commandLineMode) return StartAction::None;
  switch (commandOp) {
    case kCommandOpWriteFlash: return StartAction::Download;
    case kCommandOpWriteEeprom: return StartAction::EepromDownload;
    case kCommandOpReset: return StartAction::Reset;
    default: return StartAction::None;
  }
}

int FastSpiAfterToggle(uint32_t itemState, uint32_t checkedFlag) { return itemState == checkedFlag ? 0 : 1; }

ScreenPoint CentreOver(const ScreenRect& main, const ScreenRect& desktop, int32_t width, int32_t height) {
  int32_t x = main.left + (main.right - main.left) / 2 - width / 2;
  int32_t y = main.top + (main.bottom - main.top) / 2 - height / 2;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  if (x + width > desktop.right) x = desktop.right - width;
  if (y + height > desktop.bottom) y = desktop.bottom - height;
  return {x, y};
}

bool PositionRestorable(int32_t x, int32_t y, int32_t fullScreenWidth, int32_t fullScreenHeight) {
  return x >= 0 && x <= fullScreenWidth && y >= 0 && y <= fullScreenHeight;
}
