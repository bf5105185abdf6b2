// The main window: start-up with and without a bridge, stored chip index,
// the fast-SPI item, plug notices, commands and the close request.
#include "tests/win/win_harness.h"

namespace wintest {
namespace {

const int kFourCommands[] = {IDC_DOWNLOAD, IDC_CONFIGURE, IDC_RESET, IDC_BROWSE};

class MainWindowTest : public WindowTest {};

TEST_F(MainWindowTest, StartsWithABridgeOpenAndEverythingInPlace) {
  OpenMainWindow();
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  EXPECT_EQ(WindowText(Main()), "MCUFEED V1.3 - www.example.invalid");
  EXPECT_TRUE(g_app.bridge.open);
  EXPECT_TRUE(KQ560SimIsOpen(0));

  // No file yet: Download waits for one; the rest is usable.
  EXPECT_FALSE(Enabled(IDC_DOWNLOAD));
  for (int id : {IDC_CONFIGURE, IDC_RESET, IDC_BROWSE, IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_EQ(Text(IDC_DOWNLOAD), "下载");

  // The chip list in catalogue order, "MEGA AUTO" chosen when nothing is stored.
  ASSERT_EQ(SendMessageW(Item(IDC_CHIP_LIST), CB_GETCOUNT, 0, 0), 13);
  wchar_t name[32];
  SendMessageW(Item(IDC_CHIP_LIST), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(name));
  EXPECT_EQ(Utf8(name), "MEGA AUTO");
  SendMessageW(Item(IDC_CHIP_LIST), CB_GETLBTEXT, 12, reinterpret_cast<LPARAM>(name));
  EXPECT_EQ(Utf8(name), "AT89S52");
  EXPECT_EQ(Selection(), 0);

  PBRANGE range = {};
  SendMessageW(Item(IDC_PROGRESS), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 1024);
  EXPECT_EQ(ProgressPosition(), 0);
  EXPECT_NE(SendMessageW(Main(), WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_EQ(GetFocus(), Item(IDC_EXIT));

  // A capable bridge with nothing stored turns the fast mode on.
  EXPECT_EQ(MenuState(IDM_FAST_SPI), UINT(MF_CHECKED));
  EXPECT_EQ(g_app.engine.fastSpi.load(), 1);
  EXPECT_EQ(g_app.engine.hardwareSpi.load(), 1);
}

TEST_F(MainWindowTest, SystemMenuGainsTheTwoItemsAndASeparatorAboveClose) {
  OpenMainWindow();
  const HMENU menu = GetSystemMenu(Main(), FALSE);
  // Found by position relative to Close: the platform may add items after it.
  int close = -1;
  for (int i = 0; i < GetMenuItemCount(menu); ++i)
    if (GetMenuItemID(menu, i) == UINT(SC_CLOSE)) close = i;
  ASSERT_GE(close, 3);
  MENUITEMINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE;
  ASSERT_TRUE(GetMenuItemInfoW(menu, close - 1, TRUE, &info));
  EXPECT_TRUE(info.fType & MFT_SEPARATOR);
  EXPECT_EQ(GetMenuItemID(menu, close - 2), UINT(IDM_COMMAND_HELP));
  EXPECT_EQ(GetMenuItemID(menu, close - 3), UINT(IDM_FAST_SPI));
  ASSERT_TRUE(GetMenuItemInfoW(menu, close - 4, TRUE, &info));
  EXPECT_TRUE(info.fType & MFT_SEPARATOR);  // the platform's own, above ours
  wchar_t text[64];
  GetMenuStringW(menu, IDM_FAST_SPI, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(Utf8(text), "MEGA使用快速(&S)");
  GetMenuStringW(menu, IDM_COMMAND_HELP, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(Utf8(text), "命令帮助(&H)");
}

TEST_F(MainWindowTest, StartsWithoutABridgeWatchingForOne) {
  KQ560SimUnplug(0);
  OpenMainWindow();
  EXPECT_EQ(Status(), "正在监视KQ560设备插拔...");
  EXPECT_FALSE(g_app.bridge.open);
  for (int id : kFourCommands) EXPECT_FALSE(Enabled(id)) << id;
  for (int id : {IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}) EXPECT_TRUE(Enabled(id)) << id;
  // The fast-SPI item is plain until a bridge opens, and works even so.
  EXPECT_EQ(MenuState(IDM_FAST_SPI), UINT(MF_ENABLED));
  EXPECT_EQ(g_app.engine.fastSpi.load(), 0);
  SystemCommand(IDM_FAST_SPI);
  EXPECT_EQ(MenuState(IDM_FAST_SPI), UINT(MF_CHECKED));
  DWORD stored = 0;
  ASSERT_TRUE(StoredSetting(L"SPIBit", &stored));
  EXPECT_EQ(stored, 1u);
  EXPECT_EQ(g_app.engine.fastSpi.load(), 1);
  SystemCommand(IDM_FAST_SPI);
  EXPECT_EQ(MenuState(IDM_FAST_SPI), UINT(MF_UNCHECKED));
  ASSERT_TRUE(StoredSetting(L"SPIBit", &stored));
  EXPECT_EQ(stored, 0u);
  EXPECT_EQ(g_app.engine.fastSpi.load(), 0);
}

TEST_F(MainWindowTest, OpensTheFirstSlotThatHasABridge) {
  KQ560SimUnplug(0);
  KQ560SimPlug(2, 0x30);
  KQ560SimAttach(2, "MEGA8");
  OpenMainWindow();
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  EXPECT_EQ(g_app.engine.deviceIndex.load(), 2u);
  EXPECT_TRUE(KQ560SimIsOpen(2));
}

TEST_F(MainWindowTest, OldBridgeGreysTheFastItemAndKeepsTheFlag) {
  KQ560SimUnplug(0);
  KQ560SimPlug(0, 0x2F);
  StoreSetting(L"SPIBit", 1);
  OpenMainWindow();
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  EXPECT_EQ(MenuState(IDM_FAST_SPI), UINT(MF_DISABLED | MF_GRAYED));
  EXPECT_EQ(g_app.engine.fastSpi.load(), 0);
  EXPECT_EQ(g_app.engine.hardwareSpi.load(), 0);
}

TEST_F(MainWindowTest, StoredFastSettingOffIsShownUnchecked) {
  StoreSetting(L"SPIBit", 0);
  OpenMainWindow();
  EXPECT_EQ(MenuState(IDM_FAST_SPI), UINT(MF_UNCHECKED));
  EXPECT_EQ(g_app.engine.fastSpi.load(), 0);
  SystemCommand(IDM_FAST_SPI);
  EXPECT_EQ(g_app.engine.fastSpi.load(), 1);
  DWORD stored = 0;
  ASSERT_TRUE(StoredSetting(L"SPIBit", &stored));
  EXPECT_EQ(stored, 1u);
}

TEST_F(MainWindowTest, FailingPlugWatchIsReported) {
  // Open, exclusive, version and stream mode come first; the fifth call registers the notice.
  KQ560SimSetFaults("fail=5");
  OpenMainWindow();
  EXPECT_EQ(Status(), "设置KQ560设备监视失败");
}

// ---- stored chip index ----

TEST_F(MainWindowTest, StoredIndexIsSelected) {
  StoreSetting(L"IniMcuIndex", 0);
  OpenMainWindow();
  EXPECT_EQ(Selection(), 0);
  EXPECT_TRUE(Enabled(IDC_EEPROM));
  DestroyWindow(main_);
  KQ560SimReset();
  PrepareAppState(g_app, GetModuleHandleW(nullptr));
  StoreSetting(L"IniMcuIndex", 10);
  OpenMainWindow();
  EXPECT_EQ(Selection(), 10);
  EXPECT_TRUE(Enabled(IDC_EEPROM));
}

TEST_F(MainWindowTest, StoredAt89IndexDisablesTheEepromBoxUntilAnAvrPartIsChosen) {
  StoreSetting(L"IniMcuIndex", 11);
  OpenMainWindow();
  EXPECT_EQ(Selection(), 11);
  EXPECT_FALSE(Enabled(IDC_EEPROM));
  EXPECT_FALSE(Checked(IDC_EEPROM));
  SelectChip(1);
  EXPECT_TRUE(Enabled(IDC_EEPROM));
  EXPECT_FALSE(Checked(IDC_EEPROM));
  EXPECT_EQ(g_app.engine.chipIndex.load(), 1);
}

TEST_F(MainWindowTest, ChoosingAnAt89PartUnticksAndDisablesTheEepromBox) {
  OpenMainWindow();
  CheckDlgButton(Main(), IDC_EEPROM, BST_CHECKED);
  SelectChip(12);
  EXPECT_FALSE(Checked(IDC_EEPROM));
  EXPECT_FALSE(Enabled(IDC_EEPROM));
  EXPECT_EQ(g_app.engine.chipIndex.load(), 12);
}

TEST_F(MainWindowTest, IndexBeyondTheListLeavesNoSelectionUntilTheListSpeaks) {
  StoreSetting(L"IniMcuIndex", 20);
  OpenMainWindow();
  EXPECT_EQ(Selection(), -1);
  EXPECT_FALSE(Enabled(IDC_EEPROM));
  // Any notice of the list counts; its handler compares -1 as a signed number.
  SendMessageW(Main(), WM_COMMAND, MAKEWPARAM(IDC_CHIP_LIST, CBN_SETFOCUS), reinterpret_cast<LPARAM>(Item(IDC_CHIP_LIST)));
  EXPECT_TRUE(Enabled(IDC_EEPROM));
  EXPECT_EQ(g_app.engine.chipIndex.load(), -1);
}

// ---- plug notices ----

TEST_F(MainWindowTest, UnplugAndPlugWhileIdle) {
  OpenMainWindow();
  Unplug(0);
  EXPECT_EQ(Status(), "与KQ560设备失去连接");
  EXPECT_FALSE(g_app.bridge.open);
  for (int id : kFourCommands) EXPECT_FALSE(Enabled(id)) << id;
  for (int id : {IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}) EXPECT_TRUE(Enabled(id)) << id;

  Plug(0);
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  EXPECT_TRUE(g_app.bridge.open);
  for (int id : {IDC_CONFIGURE, IDC_RESET, IDC_BROWSE}) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_FALSE(Enabled(IDC_DOWNLOAD));  // no file was chosen
}

TEST_F(MainWindowTest, ReplugEnablesDownloadWhenAFileWasChosen) {
  UseCommandLine("MEGA8 WF \"C:\\NOWHERE\\X.BIN\"");
  KQ560SimUnplug(0);
  OpenMainWindow();
  EXPECT_FALSE(Enabled(IDC_DOWNLOAD));
  Plug(0);
  EXPECT_TRUE(Enabled(IDC_DOWNLOAD));
  EXPECT_FALSE(JobRunning());  // a command line is not carried out by a late bridge
  EXPECT_EQ(Status(), "成功打开KQ560设备");
}

TEST_F(MainWindowTest, ArrivalWhileABridgeIsOpenChangesNothing) {
  OpenMainWindow();
  const uint64_t before = BridgeCalls();
  Plug(3);
  EXPECT_EQ(g_app.engine.deviceIndex.load(), 0u);
  EXPECT_FALSE(KQ560SimIsOpen(3));
  EXPECT_EQ(BridgeCalls(), before);
}

TEST_F(MainWindowTest, ArrivalAfterLossScansFromSlotZero) {
  OpenMainWindow();
  Unplug(0);
  KQ560SimAttach(5, "MEGA8");
  Plug(5);
  EXPECT_TRUE(g_app.bridge.open);
  EXPECT_EQ(g_app.engine.deviceIndex.load(), 5u);
}

// ---- commands ----

TEST_F(MainWindowTest, EepromBoxTellsWhereTheDataGoes) {
  OpenMainWindow();
  SendMessageW(Item(IDC_EEPROM), BM_CLICK, 0, 0);
  EXPECT_TRUE(Checked(IDC_EEPROM));
  EXPECT_EQ(Status(), "下载数据到EEPROM里");
  SendMessageW(Item(IDC_EEPROM), BM_CLICK, 0, 0);
  EXPECT_FALSE(Checked(IDC_EEPROM));
  EXPECT_EQ(Status(), "下载数据到FLASH里");
}

TEST_F(MainWindowTest, OkCommandIsNotHandled) {
  OpenMainWindow();
  Press(IDOK);
  PumpFor(20);
  EXPECT_FALSE(Ended());
  EXPECT_TRUE(g_app.bridge.open);
}

TEST_F(MainWindowTest, HelpItemShowsTheCommandHelpCentred) {
  OpenMainWindow();
  SystemCommand(IDM_COMMAND_HELP);
  ASSERT_EQ(Boxes().size(), 1u);
  const BoxRecord& box = Boxes()[0];
  EXPECT_EQ(box.text, HelpText());
  EXPECT_EQ(box.caption, "MCUFEED");
  EXPECT_EQ(box.icon, BoxIcon::Information);
  EXPECT_FALSE(box.yesNo);
  EXPECT_EQ(box.owner, Main());
  RECT main;
  GetWindowRect(Main(), &main);
  const POINT expected = CentredOver(main, box.rect);
  EXPECT_EQ(box.rect.left, expected.x);
  EXPECT_EQ(box.rect.top, expected.y);
}

TEST_F(MainWindowTest, ResetRunsTheFamilysSequence) {
  OpenMainWindow();
  Press(IDC_RESET);
  EXPECT_EQ(Status(), "复位MCU成功");
  ASSERT_GE(StatusLog().size(), 2u);
  EXPECT_EQ(StatusLog()[0], "正在复位芯片...");
  // "MEGA AUTO" was resolved for the operation; the list keeps showing it.
  EXPECT_EQ(g_app.engine.chipIndex.load(), 1);
  EXPECT_EQ(Selection(), 0);

  KQ560SimAttach(0, "AT89S51");
  SelectChip(11);
  Press(IDC_RESET);
  EXPECT_EQ(Status(), "复位MCU成功");
}

TEST_F(MainWindowTest, ResetReportsIdentificationFailures) {
  OpenMainWindow();
  SelectChip(2);  // MEGA16 chosen, MEGA8 attached
  Press(IDC_RESET);
  EXPECT_EQ(Status(), "错误的MCU型号");
  KQ560SimAttach(0, "none");
  Press(IDC_RESET);
  EXPECT_EQ(Status(), "无法识别此MCU");
  KQ560SimAttach(0, "avr:1E9999:8192:64:512");
  SelectChip(0);
  Press(IDC_RESET);
  EXPECT_EQ(Status(), "不支持此MCU");
}

TEST_F(MainWindowTest, ResetReportsAFailedSequence) {
  OpenMainWindow();
  const uint64_t start = BridgeCalls();
  Press(IDC_RESET);
  const uint64_t perReset = BridgeCalls() - start;
  // The same again with the last call of the reset sequence failing.
  const std::string fault = "fail=" + std::to_string(BridgeCalls() + perReset);
  KQ560SimSetFaults(fault.c_str());
  Press(IDC_RESET);
  EXPECT_EQ(Status(), "数据传输失败");
}

TEST_F(MainWindowTest, BrowseCancelledChangesNothing) {
  OpenMainWindow();
  const std::string title = WindowText(Main()), status = Status();
  std::string dialogTitle;
  SetDialogScript([&](HWND dialog) {
    dialogTitle = WindowText(dialog);
    PressIn(dialog, IDCANCEL);
  });
  Press(IDC_BROWSE);
  EXPECT_EQ(dialogTitle, "选择将下载的目标程序文件");
  EXPECT_EQ(WindowText(Main()), title);
  EXPECT_EQ(Status(), status);
  EXPECT_FALSE(Enabled(IDC_DOWNLOAD));
  EXPECT_EQ(g_app.fileChosen, 0);
}

TEST_F(MainWindowTest, BrowseChoosesAFile) {
  const std::string path = WriteScratchFile("led.hex", {});
  OpenMainWindow();
  SetDialogScript([&](HWND dialog) {
    HWND name = GetDlgItem(dialog, 0x047C);  // the file-name box
    if (!name) name = GetDlgItem(dialog, 0x0480);
    SetWindowTextW(name, Wide(path).c_str());
    PressIn(dialog, IDOK);
  });
  Press(IDC_BROWSE);
  EXPECT_EQ(g_app.fileChosen, 1);
  EXPECT_EQ(std::string(g_app.filePath), path);
  EXPECT_EQ(Status(), path);
  EXPECT_EQ(WindowText(Main()), "MCUFEED V1.3 - [led.hex]");
  EXPECT_TRUE(Enabled(IDC_DOWNLOAD));
}

// ---- close request ----

TEST_F(MainWindowTest, EscExitAndCloseAllCloseTheWindow) {
  struct Way {
    const char* name;
    std::function<void(HWND)> close;
  };
  const Way ways[] = {
      {"Esc", [](HWND w) { SendMessageW(w, WM_COMMAND, IDCANCEL, 0); }},
      {"Exit", [](HWND w) { PressIn(w, IDC_EXIT); }},
      {"Close", [](HWND w) { SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Way& way : ways) {
    OpenMainWindow();
    way.close(Main());
    EXPECT_TRUE(Ended()) << way.name;
    EXPECT_FALSE(KQ560SimIsOpen(0)) << way.name;
    EXPECT_EQ(Status(), "等待下载停止...") << way.name;
    EXPECT_EQ(g_app.engine.stopRequest.load(), 1) << way.name;
    EXPECT_TRUE(Boxes().empty()) << way.name;  // no question without a job
    DestroyWindow(main_);
    main_ = nullptr;
    KQ560SimReset();
    PrepareAppState(g_app, GetModuleHandleW(nullptr));
  }
}

TEST_F(MainWindowTest, CloseStoresChipIndexAndPosition) {
  OpenMainWindow();
  SetWindowPos(Main(), nullptr, 120, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SelectChip(12);
  SendMessageW(Main(), WM_CLOSE, 0, 0);
  DWORD value = 0;
  ASSERT_TRUE(StoredSetting(L"IniMcuIndex", &value));
  EXPECT_EQ(value, 12u);
  ASSERT_TRUE(StoredSetting(L"x_pos", &value));
  EXPECT_EQ(value, 120u);
  ASSERT_TRUE(StoredSetting(L"y_pos", &value));
  EXPECT_EQ(value, 80u);
}

TEST_F(MainWindowTest, CloseWhileMinimisedStoresNoPosition) {
  OpenMainWindow();
  SelectChip(3);
  ShowWindow(Main(), SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(Main()));
  SendMessageW(Main(), WM_CLOSE, 0, 0);
  DWORD value = 0;
  ASSERT_TRUE(StoredSetting(L"IniMcuIndex", &value));
  EXPECT_EQ(value, 3u);
  EXPECT_FALSE(StoredSetting(L"x_pos", &value));
  EXPECT_FALSE(StoredSetting(L"y_pos", &value));
}

}  // namespace
}  // namespace wintest
