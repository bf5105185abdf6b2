// The main window: start-up, the stored settings, the system-menu items, plug
// notices, the commands and the close request.
#include "tests/win/win_harness.h"

namespace wintest {
namespace {

class MainWindowTest : public WindowTest {};

TEST_F(MainWindowTest, StartsInPlaceAndFollowsTheBridges) {
  KQ560SimSetFaults("fail=5");  // the plug watch; open, exclusive, version and stream mode come first
  OpenMainWindow();
  EXPECT_EQ(Status(), "设置KQ560设备监视失败");
  ExpectEnabled({IDC_CONFIGURE, IDC_RESET, IDC_BROWSE, IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}, {IDC_DOWNLOAD});
  EXPECT_TRUE(GetFocus() == Item(IDC_EXIT) && SendMessageW(main_, WM_GETICON, ICON_BIG, 0));
  EXPECT_NE(MenuState(IDM_COMMAND_HELP), UINT(-1));  // in the system menu (Fast SPI: see below)
  DiscardMainWindow();

  KQ560SimUnplug(0);
  OpenMainWindow();
  EXPECT_EQ(Status(), "正在监视KQ560设备插拔...");
  const std::initializer_list<int> kCommands = {IDC_DOWNLOAD, IDC_CONFIGURE, IDC_RESET, IDC_BROWSE};
  ExpectEnabled({IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}, kCommands);
  Replug(3, true);
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  ExpectEnabled({IDC_CONFIGURE, IDC_RESET, IDC_BROWSE}, {IDC_DOWNLOAD});  // no file was chosen
  const uint64_t calls = BridgeCalls();
  Replug(2, true);  // another bridge while one is open: nothing happens,
  Replug(4, true);
  Replug(4, false);  // nor when another one goes
  EXPECT_EQ(BridgeCalls(), calls + 1);  // but the open slot's probe
  Replug(3, false);
  EXPECT_EQ(Status(), "与KQ560设备失去连接");
  ExpectEnabled({IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}, kCommands);
  Replug(6, true);  // an arrival scans from slot 0, so 2 comes first
  EXPECT_EQ(g_app.engine.deviceIndex.load(), 2u);
}

TEST_F(MainWindowTest, FastSpiItemFollowsTheBridgeAndSpiBit) {
  struct Case { uint32_t version; int stored; UINT menu; int fastSpi; } cases[] = {  // version 0: none; stored -1: none
      {0x30, -1, MF_CHECKED, 1},  // a capable bridge turns it on when nothing is stored
      {0x30, 0, MF_UNCHECKED, 0},
      {0x2F, 1, MF_DISABLED | MF_GRAYED, 0},  // too old: greyed, the stored flag ignored
      {0, 1, MF_ENABLED, 0}};                 // plain until a bridge opens, and working even so
  for (const Case& c : cases) {
    ClearSettings();
    KQ560SimUnplug(0);
    if (c.version) KQ560SimPlug(0, c.version);
    if (c.stored >= 0) StoreSetting(L"SPIBit", c.stored);
    OpenMainWindow();
    EXPECT_EQ(MenuState(IDM_FAST_SPI), c.menu) << c.version;
    EXPECT_EQ(g_app.engine.fastSpi.load(), c.fastSpi) << c.version;
    for (int on : {1 - c.fastSpi, c.fastSpi}) {
      if (c.version == 0x2F) break;
      SystemCommand(IDM_FAST_SPI);
      EXPECT_EQ(MenuState(IDM_FAST_SPI), UINT(on ? MF_CHECKED : MF_UNCHECKED));
      EXPECT_EQ(g_app.engine.fastSpi.load() + 2 * Stored(L"SPIBit"), 3 * on) << c.version;
    }
    DiscardMainWindow();
  }
}

// Start-up compares the selection unsigned (none disables the box), the
// list's notice signed (none enables it); an AT89S5x part unticks it. Only
// a DWORD value counts.
TEST_F(MainWindowTest, StoredChipIndexAndTheEepromBox) {
  struct Case { DWORD stored, type; int32_t selection; bool enabledAtStart, enabledAfterNotice; } cases[] = {
      {10, REG_DWORD, 10, true, true}, {11, REG_BINARY, 0, true, true}, {11, REG_DWORD, 11, false, false},
      {20, REG_DWORD, -1, false, true}};
  for (const Case& c : cases) {
    StoreSetting(L"IniMcuIndex", c.stored, c.type);
    OpenMainWindow();
    EXPECT_EQ(Selection(), c.selection);
    EXPECT_EQ(Enabled(IDC_EEPROM), c.enabledAtStart) << c.stored;
    CheckDlgButton(main_, IDC_EEPROM, BST_CHECKED);
    SelectChip(c.selection);
    EXPECT_EQ(g_app.engine.chipIndex.load(), c.selection);
    EXPECT_EQ(Enabled(IDC_EEPROM), c.enabledAfterNotice) << c.stored;
    EXPECT_EQ(Checked(IDC_EEPROM), c.selection < 11) << c.stored;
    if (c.enabledAfterNotice) SendMessageW(Item(IDC_EEPROM), BM_CLICK, 0, 0);  // the box tells where the data goes
    EXPECT_EQ(Status(), c.enabledAfterNotice ? "下载数据到FLASH里" : "成功打开KQ560设备");
    DiscardMainWindow();
  }
}

TEST_F(MainWindowTest, ResetAndBrowse) {
  OpenMainWindow();
  for (auto [chip, listIndex, status] : {std::tuple<const char*, int32_t, const char*>{"MEGA8", 0, "复位MCU成功"},
                                         {"AT89S51", 11, "复位MCU成功"}, {"MEGA8", 2, "错误的MCU型号"}}) {
    ASSERT_TRUE(KQ560SimAttach(0, chip));
    SelectChip(listIndex);
    g_hooks.statusLog.clear();
    Press(IDC_RESET);
    EXPECT_EQ(g_hooks.statusLog, (std::vector<std::string>{"正在复位芯片...", status}));
    EXPECT_EQ(Selection(), listIndex);  // "MEGA AUTO" resolved for the operation only
  }
  KQ560SimAttach(0, "MEGA8");  // a failure in the sequence itself: its last call
  const uint64_t start = BridgeCalls();
  Press(IDC_RESET);
  FailCallFromNow(BridgeCalls() - start);
  Press(IDC_RESET);
  EXPECT_EQ(Status(), "数据传输失败");

  const std::string path = WriteScratchFile("led.hex", {});
  int answer = IDCANCEL;
  g_hooks.dialogScript = [&](HWND dialog) {
    HWND name = GetDlgItem(dialog, 0x047C);  // the file-name box
    SetWindowTextW(name ? name : GetDlgItem(dialog, 0x0480), Widen(path.c_str()).text);
    PressIn(dialog, answer);
  };
  for (int pressed : {IDCANCEL, IDOK}) {
    answer = pressed;
    Press(IDC_BROWSE);
    EXPECT_EQ(Status(), pressed == IDOK ? path : "数据传输失败");
    EXPECT_EQ(WindowText(main_), pressed == IDOK ? "MCUFEED V1.3 - [led.hex]" : "MCUFEED V1.3 - www.example.invalid");
    EXPECT_EQ(Enabled(IDC_DOWNLOAD), pressed == IDOK);
  }
  EXPECT_EQ(g_hooks.dialogTitles.at(0), "选择将下载的目标程序文件");
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
    EXPECT_EQ(Ended() && !KQ560SimIsOpen(0) && Status() == "等待下载停止...", closes);
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
