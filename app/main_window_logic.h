// The main window's rules that need no window system: start-up state, titles,
// which controls each state enables, the EEPROM box, the fast-SPI menu item,
// placement arithmetic and the order of the close request. The Win32 layer
// (app/win/) applies them to real controls.
#pragma once
#include <cstddef>
#include <cstdint>

#include "app/command_line.h"

// Titles. The maker's own web address is not ours to show; a neutral
// placeholder that names no real site stands in for it.
constexpr const char* kWindowTitlePrefix = "MCUFEED V1.3 - ";
constexpr const char* kMakerWebAddress = "www.example.invalid";
constexpr const char* kMessageCaption = "MCUFEED";

// Status texts of the window (the job's and the engine's are elsewhere).
constexpr const char* kTextBridgeLost = "与KQ560设备失去连接";
constexpr const char* kTextBridgeOpened = "成功打开KQ560设备";
constexpr const char* kTextWatchingBridge = "正在监视KQ560设备插拔...";
constexpr const char* kTextWatchFailed = "设置KQ560设备监视失败";
constexpr const char* kTextIdentified = "完成对MCU型号的识别";
constexpr const char* kTextEepromTarget = "下载数据到EEPROM里";
constexpr const char* kTextFlashTarget = "下载数据到FLASH里";
constexpr const char* kTextThreadFailed = "创建下载线程失败";
constexpr const char* kTextWaitingForStop = "等待下载停止...";
constexpr const char* kTextConfirmClose = "正在下载,确定退出吗?";
// A chosen path too long to keep (260 bytes of UTF-8) could not be opened later.
constexpr const char* kTextPathUnusable = "打开文件失败";
constexpr const char* kDownloadCaption = "下载";
constexpr const char* kStopCaption = "停止";

// The file-open dialog.
constexpr const char* kBrowseTitle = "选择将下载的目标程序文件";
constexpr const char* kProgramFilesFilterName = "程序文件(*.HEX *.BIN)";
constexpr const char* kProgramFilesFilterPattern = "*.HEX;*.BIN";
constexpr const char* kAllFilesFilterName = "所有文件(*.*)";
constexpr const char* kAllFilesFilterPattern = "*.*";

// System-menu items the window adds above Close.
constexpr const char* kFastSpiItemText = "MEGA使用快速(&S)";
constexpr const char* kCommandHelpItemText = "命令帮助(&H)";

constexpr int32_t kProgressTop = 1024;  // the bar's range is 0 to 1024
constexpr int32_t kMainWindowWidth = 474;
constexpr int32_t kMainWindowHeight = 244;

// The part of the path after its last backslash, or the whole path.
const char* FileNameOfPath(const char* path);

// "MCUFEED V1.3 - [name]" for a file path, and the title without a file (the
// prefix and the web address). UTF-8; truncated to `size`.
void FormatFileTitle(const char* path, char* out, size_t size);
void FormatPlainTitle(char* out, size_t size);

// The EEPROM box for a chip-list selection. Start-up and the end of a job
// compare the selection as an unsigned number (no selection, -1, disables
// the box); the chip list's own handler compares it signed (-1 enables it).
bool EepromBoxEnabledUnsigned(int32_t selection);
bool EepromBoxEnabledSigned(int32_t chipIndex);

// One control to enable or disable.
struct ControlEnable {
  int controlId;
  bool enabled;
};
constexpr int kMaxControlChanges = 4;

// After a slot opened or failed to: Download (by the file), Configure, Reset
// and Browse. Returns the number of entries written.
int BridgeControlStates(bool bridgeOpen, bool fileChosen, ControlEnable out[kMaxControlChanges]);

// The job's half: the EEPROM box (idle: by the selection, unsigned; its tick
// is left alone), Configure, Browse and Reset. Download keeps its enabled
// state; only its caption changes.
int JobControlStates(bool running, int32_t selection, ControlEnable out[kMaxControlChanges]);

// What a plug notice asks for.
enum class PlugAction { None, ScanSlots, ProbeOpenSlot };
PlugAction PlugNoticeAction(uint32_t event, bool bridgeOpen);

// What an accepted command line does once a slot opened during start-up.
enum class StartAction { None, Download, EepromDownload, Reset };
StartAction CommandLineStartAction(int commandLineMode, uint16_t commandOp);

// Fast-SPI item: the item's state flags decide (exactly "checked" turns the
// mode off, anything else turns it on). Returns the new FastSpi value.
int FastSpiAfterToggle(uint32_t itemState, uint32_t checkedFlag);

// Placement, in screen pixels.
struct ScreenRect {
  int32_t left, top, right, bottom;
};
struct ScreenPoint {
  int32_t x, y;
};

// Centres a window of the given size over `main`, truncating toward zero,
// then keeps it on the desktop: first not left of or above 0, then not past
// the right or bottom edge.
ScreenPoint CentreOver(const ScreenRect& main, const ScreenRect& desktop, int32_t width, int32_t height);

// A stored position is used only inside the full-screen client area.
bool PositionRestorable(int32_t x, int32_t y, int32_t fullScreenWidth, int32_t fullScreenHeight);

// The close request, in order. A running job is asked to stop and given time
// to reach its next stop check before the bridge is closed, so that no
// bridge call runs on a closed device.
enum class CloseStep {
  ConfirmIfJobRuns,  // question box; No ends the request
  RequestStop,
  ShowWaitText,
  WaitForJob,        // bounded, the window kept responsive
  CloseBridge,
  StorePosition,
  StoreChipIndex,
  EndDialog,
};
constexpr int kCloseStepCount = 8;
extern const CloseStep kCloseSteps[kCloseStepCount];
constexpr uint32_t kCloseWaitLimitMs = 10000;
