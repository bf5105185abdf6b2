// The main window: start-up, the stored settings, the system-menu items, plug
// notices, the commands and the close request.
#include "tests/win/win_harness.h"

#include <algorithm>

namespace wintest {
namespace {

const std::initializer_list<int> kBridgeCommands = {IDC_DOWNLOAD, IDC_CONFIGURE, IDC_RESET, IDC_BROWSE};

class MainWindowTest : public WindowTest {};

TEST_F(MainWindowTest, StartsWithABridgeOpenAndEverythingInPlace) {
  OpenMainWindow();
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  EXPECT_EQ(WindowText(main_), "MCUFEED V1.3 - www.example.invalid");
  ExpectEnabled({IDC_CONFIGURE, IDC_RESET, IDC_BROWSE, IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}, {IDC_DOWNLOAD});
  EXPECT_EQ(GetFocus(), Item(IDC_EXIT));
  EXPECT_NE(SendMessageW(main_, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_EQ(SendMessageW(Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), 1024);
  EXPECT_EQ(SendMessageW(Item(IDC_CHIP_LIST), CB_GETCOUNT, 0, 0), 13);
  EXPECT_EQ(ItemText(main_, IDC_CHIP_LIST), "MEGA AUTO");  // nothing stored

  // Above Close (the platform may add items after it): our two items and a separator.
  const HMENU menu = GetSystemMenu(main_, FALSE);
  std::vector<UINT> ids;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) ids.push_back(GetMenuItemID(menu, i));
  const auto close = std::find(ids.begin(), ids.end(), UINT(SC_CLOSE));
  ASSERT_GE(close - ids.begin(), 3);
  EXPECT_EQ(std::vector<UINT>(close - 3, close), (std::vector<UINT>{IDM_FAST_SPI, IDM_COMMAND_HELP, 0}));
  wchar_t text[64];
  GetMenuStringW(menu, IDM_COMMAND_HELP, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(Utf8(text), "命令帮助(&H)");
}

TEST_F(MainWindowTest, FailingPlugWatchIsReported) {
  KQ560SimSetFaults("fail=5");  // open, exclusive, version and stream mode come first
  OpenMainWindow();
  EXPECT_EQ(Status(), "设置KQ560设备监视失败");
}

TEST_F(MainWindowTest, FastSpiItemFollowsTheBridgeAndSpiBit) {
  struct Case { uint32_t version; int stored; UINT menu; int fastSpi; };  // version 0: no bridge; stored -1: none
  const Case cases[] = {
      {0x30, -1, MF_CHECKED, 1},  // a capable bridge turns it on when nothing is stored
      {0x30, 0, MF_UNCHECKED, 0},
      {0x2F, 1, MF_DISABLED | MF_GRAYED, 0},  // too old: greyed, the stored flag ignored
      {0, 1, MF_ENABLED, 0},                  // plain until a bridge opens, and working even so
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.version << "/" << c.stored);
    ClearSettings();
    KQ560SimUnplug(0);
    if (c.version) KQ560SimPlug(0, c.version);
    if (c.stored >= 0) StoreSetting(L"SPIBit", c.stored);
    OpenMainWindow();
    EXPECT_EQ(MenuState(IDM_FAST_SPI), c.menu);
    EXPECT_EQ(g_app.engine.fastSpi.load(), c.fastSpi);
    for (int on : {1 - c.fastSpi, c.fastSpi}) {
      if (c.version == 0x2F) break;
      SystemCommand(IDM_FAST_SPI);
      EXPECT_EQ(MenuState(IDM_FAST_SPI), UINT(on ? MF_CHECKED : MF_UNCHECKED));
      EXPECT_EQ(g_app.engine.fastSpi.load(), on);
      EXPECT_EQ(Stored(L"SPIBit"), on);
    }
    DiscardMainWindow();
  }
}

TEST_F(MainWindowTest, StoredChipIndexAndTheEepromBox) {
  // Start-up compares the selection unsigned (none disables the box), the
  // list's notice signed (none enables it); an AT89S5x part unticks it.
  struct Case { DWORD stored; int32_t selection; bool enabledAtStart, enabledAfterNotice; };
  const Case cases[] = {{0, 0, true, true}, {10, 10, true, true}, {11, 11, false, false}, {20, -1, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    StoreSetting(L"IniMcuIndex", c.stored);
    OpenMainWindow();
    EXPECT_EQ(Selection(), c.selection);
    EXPECT_EQ(Enabled(IDC_EEPROM), c.enabledAtStart);
    CheckDlgButton(main_, IDC_EEPROM, BST_CHECKED);
    SelectChip(c.selection);
    EXPECT_EQ(g_app.engine.chipIndex.load(), c.selection);
    EXPECT_EQ(Enabled(IDC_EEPROM), c.enabledAfterNotice);
    EXPECT_EQ(Checked(IDC_EEPROM), c.selection < 11);
    DiscardMainWindow();
  }
}

TEST_F(MainWindowTest, WatchesForBridgesWhileIdle) {
  KQ560SimUnplug(0);
  OpenMainWindow();
  EXPECT_EQ(Status(), "正在监视KQ560设备插拔...");
  ExpectEnabled({IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}, kBridgeCommands);
  Replug(3, true);
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  ExpectEnabled({IDC_CONFIGURE, IDC_RESET, IDC_BROWSE}, {IDC_DOWNLOAD});  // no file was chosen
  const uint64_t calls = BridgeCalls();
  Replug(2, true);  // another bridge while one is open: nothing happens
  Replug(4, true);
  Replug(4, false);  // nor when another one goes
  EXPECT_EQ(BridgeCalls(), calls + 1);  // but the open slot's probe
  EXPECT_EQ(Status(), "成功打开KQ560设备");

  Replug(3, false);
  EXPECT_EQ(Status(), "与KQ560设备失去连接");
  ExpectEnabled({IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}, kBridgeCommands);
  Replug(6, true);  // an arrival scans from slot 0, so 2 comes first
  EXPECT_EQ(g_app.engine.deviceIndex.load(), 2u);
}

TEST_F(MainWindowTest, EepromBoxTellsWhereTheDataGoes) {
  OpenMainWindow();
  for (const char* text : {"下载数据到EEPROM里", "下载数据到FLASH里"}) {
    SendMessageW(Item(IDC_EEPROM), BM_CLICK, 0, 0);
    EXPECT_EQ(Status(), text);
  }
}

TEST_F(MainWindowTest, ResetIdentifiesThenRunsTheFamilysSequence) {
  struct Case { const char* attached; int32_t listIndex; const char* status; };
  const Case cases[] = {
      {"MEGA8", 0, "复位MCU成功"},  // "MEGA AUTO" resolved for the operation only
      {"AT89S51", 11, "复位MCU成功"},
      {"MEGA8", 2, "错误的MCU型号"},
      {"none", 1, "无法识别此MCU"},
      {"avr:1E9999:8192:64:512", 0, "不支持此MCU"},
  };
  OpenMainWindow();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attached);
    ASSERT_TRUE(KQ560SimAttach(0, c.attached));
    SelectChip(c.listIndex);
    g_hooks.statusLog.clear();
    Press(IDC_RESET);
    EXPECT_EQ(g_hooks.statusLog, (std::vector<std::string>{"正在复位芯片...", c.status}));
    EXPECT_EQ(Selection(), c.listIndex);
  }
  // A failure in the sequence itself: its last call, counted on a good reset.
  KQ560SimAttach(0, "MEGA8");
  const uint64_t start = BridgeCalls();
  Press(IDC_RESET);
  FailCallFromNow(BridgeCalls() - start);
  Press(IDC_RESET);
  EXPECT_EQ(Status(), "数据传输失败");
}

TEST_F(MainWindowTest, BrowseChoosesAFileOrNothing) {
  const std::string path = WriteScratchFile("led.hex", {});
  OpenMainWindow();
  int answer = IDCANCEL;
  g_hooks.dialogScript = [&](HWND dialog) {
    HWND name = GetDlgItem(dialog, 0x047C);  // the file-name box
    if (!name) name = GetDlgItem(dialog, 0x0480);
    SetWindowTextW(name, Widen(path.c_str()).text);
    PressIn(dialog, answer);
  };
  for (int pressed : {IDCANCEL, IDOK}) {
    answer = pressed;
    Press(IDC_BROWSE);
    EXPECT_EQ(Status(), pressed == IDOK ? path : "成功打开KQ560设备");
    EXPECT_EQ(WindowText(main_), pressed == IDOK ? "MCUFEED V1.3 - [led.hex]" : "MCUFEED V1.3 - www.example.invalid");
    EXPECT_EQ(Enabled(IDC_DOWNLOAD), pressed == IDOK);
  }
  EXPECT_EQ(g_hooks.dialogTitles.at(0), "选择将下载的目标程序文件");
  EXPECT_EQ(std::string(g_app.filePath), path);
}

// Esc, Exit and Close all close the window (OK does not: no default button),
// storing the chip and, unless minimised, the position, which the next start
// restores when it lies in the full-screen area.
TEST_F(MainWindowTest, ClosingStoresChipAndPositionForTheNextStart) {
  const LONG fullHeight = GetSystemMetrics(SM_CYFULLSCREEN);
  struct Way { UINT message; WPARAM id; bool minimised; LONG x, y; bool restored; } ways[] = {
      {WM_COMMAND, IDCANCEL, false, 120, 80, true}, {WM_COMMAND, IDC_EXIT, false, 30, fullHeight, true},
      {WM_SYSCOMMAND, SC_CLOSE, false, 30, fullHeight + 1, false}, {WM_COMMAND, IDC_EXIT, false, -5, 40, false},
      {WM_SYSCOMMAND, SC_CLOSE, true, 0, 0, false}, {WM_COMMAND, IDOK, false, 0, 0, false}};
  RECT unplaced, r;
  for (const Way& way : ways) {
    SCOPED_TRACE(testing::Message() << way.id << " " << way.x << "," << way.y);
    const bool closes = way.id != IDOK;
    ClearSettings();
    OpenMainWindow();
    GetWindowRect(main_, &unplaced);
    SelectChip(12);
    SetWindowPos(main_, nullptr, way.x, way.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    if (way.minimised) ShowWindow(main_, SW_MINIMIZE);
    SendMessageW(main_, way.message, way.id, 0);
    PumpFor(20);
    EXPECT_EQ(Ended(), closes);
    EXPECT_EQ(KQ560SimIsOpen(0) == 0, closes);
    EXPECT_EQ(Status() == "等待下载停止...", closes);
    EXPECT_EQ(Stored(L"IniMcuIndex"), closes ? 12 : -1);
    EXPECT_EQ(Stored(L"x_pos") != -1, closes && !way.minimised);
    DiscardMainWindow();
    OpenMainWindow();
    GetWindowRect(main_, &r);
    EXPECT_EQ(Selection(), closes ? 12 : 0);
    EXPECT_EQ(std::vector<LONG>({r.left, r.top, r.right - r.left, r.bottom - r.top}),
              way.restored ? std::vector<LONG>({way.x, way.y, 474, 244})
                           : std::vector<LONG>({unplaced.left, unplaced.top, r.right - r.left, r.bottom - r.top}));
    DiscardMainWindow();
  }
  EXPECT_TRUE(g_hooks.boxes.empty());  // no question without a job
}

}  // namespace
}  // namespace wintest
