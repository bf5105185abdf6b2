// The main window: start-up, the stored chip index, the system-menu items,
// plug notices, commands and the close request.
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
  // No file yet: Download waits for one.
  ExpectEnabled({IDC_CONFIGURE, IDC_RESET, IDC_BROWSE, IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}, {IDC_DOWNLOAD});
  EXPECT_EQ(GetFocus(), Item(IDC_EXIT));
  EXPECT_NE(SendMessageW(main_, WM_GETICON, ICON_BIG, 0), 0);
  PBRANGE range = {};
  SendMessageW(Item(IDC_PROGRESS), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iHigh, 1024);

  // The catalogue in order, "MEGA AUTO" chosen when nothing is stored.
  ASSERT_EQ(SendMessageW(Item(IDC_CHIP_LIST), CB_GETCOUNT, 0, 0), 13);
  EXPECT_EQ(Selection(), 0);
  EXPECT_EQ(ItemText(main_, IDC_CHIP_LIST), "MEGA AUTO");
  wchar_t text[64];
  SendMessageW(Item(IDC_CHIP_LIST), CB_GETLBTEXT, 12, reinterpret_cast<LPARAM>(text));
  EXPECT_EQ(Utf8(text), "AT89S52");

  // Above Close (the platform may add items after it): our two items and a separator.
  const HMENU menu = GetSystemMenu(main_, FALSE);
  std::vector<UINT> ids;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) ids.push_back(GetMenuItemID(menu, i));
  const auto close = std::find(ids.begin(), ids.end(), UINT(SC_CLOSE));
  ASSERT_GE(close - ids.begin(), 3);
  EXPECT_EQ(std::vector<UINT>(close - 3, close), (std::vector<UINT>{IDM_FAST_SPI, IDM_COMMAND_HELP, 0}));
  for (auto [id, caption] : {std::pair<UINT, const char*>{IDM_FAST_SPI, "MEGA使用快速(&S)"}, {IDM_COMMAND_HELP, "命令帮助(&H)"}}) {
    GetMenuStringW(menu, id, text, 64, MF_BYCOMMAND);
    EXPECT_EQ(Utf8(text), caption);
  }
}

TEST_F(MainWindowTest, FailingPlugWatchIsReported) {
  // Open, exclusive, version and stream mode come first; the fifth call registers the notice.
  KQ560SimSetFaults("fail=5");
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
    EXPECT_EQ(g_app.engine.hardwareSpi.load(), c.version >= 0x30 ? 1 : 0);
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
  EXPECT_EQ(BridgeCalls(), calls);
  Replug(4, true);
  const size_t texts = g_hooks.statusLog.size();
  Replug(4, false);  // nor when another one goes
  EXPECT_EQ(g_hooks.statusLog.size(), texts);
  EXPECT_EQ(g_app.engine.deviceIndex.load(), 3u);

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
    Press(IDC_RESET);
    const std::vector<std::string>& log = g_hooks.statusLog;
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "正在复位芯片...");
    EXPECT_EQ(Status(), c.status);
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
  Press(IDC_BROWSE);
  EXPECT_EQ(g_hooks.dialogTitles.at(0), "选择将下载的目标程序文件");
  EXPECT_EQ(WindowText(main_), "MCUFEED V1.3 - www.example.invalid");
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  EXPECT_FALSE(Enabled(IDC_DOWNLOAD));

  answer = IDOK;
  Press(IDC_BROWSE);
  EXPECT_EQ(std::string(g_app.filePath), path);
  EXPECT_EQ(Status(), path);
  EXPECT_EQ(WindowText(main_), "MCUFEED V1.3 - [led.hex]");
  EXPECT_TRUE(Enabled(IDC_DOWNLOAD));
}

TEST_F(MainWindowTest, EscExitAndCloseAllCloseTheWindowButOkDoesNot) {
  struct Way { UINT message; WPARAM id; bool closes; };
  const Way ways[] = {{WM_COMMAND, IDCANCEL, true}, {WM_COMMAND, IDC_EXIT, true}, {WM_SYSCOMMAND, SC_CLOSE, true},
                      {WM_COMMAND, IDOK, false}};  // there is no default button
  for (const Way& way : ways) {
    SCOPED_TRACE(way.id);
    OpenMainWindow();
    SendMessageW(main_, way.message, way.id, 0);
    PumpFor(20);
    EXPECT_EQ(Ended(), way.closes);
    EXPECT_EQ(KQ560SimIsOpen(0) == 0, way.closes);
    EXPECT_EQ(Status() == "等待下载停止...", way.closes);
    DiscardMainWindow();
  }
  EXPECT_TRUE(g_hooks.boxes.empty());  // no question without a job
}

TEST_F(MainWindowTest, CloseStoresChipIndexAndPositionForTheNextStart) {
  OpenMainWindow();
  SelectChip(3);
  ShowWindow(main_, SW_MINIMIZE);
  SendMessageW(main_, WM_CLOSE, 0, 0);
  EXPECT_EQ(Stored(L"IniMcuIndex"), 3);
  EXPECT_EQ(Stored(L"x_pos"), -1);  // no position while minimised
  DiscardMainWindow();

  OpenMainWindow();
  SetWindowPos(main_, nullptr, 120, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SelectChip(12);
  SendMessageW(main_, WM_CLOSE, 0, 0);
  DiscardMainWindow();
  OpenMainWindow();
  RECT r;
  GetWindowRect(main_, &r);
  EXPECT_EQ(Selection(), 12);
  EXPECT_EQ(std::vector<LONG>({r.left, r.top, r.right - r.left, r.bottom - r.top}),
            std::vector<LONG>({120, 80, 474, 244}));  // at the fixed size
}

}  // namespace
}  // namespace wintest
