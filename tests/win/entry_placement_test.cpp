// The program's entry (help box and exit codes, the modal main window) and
// the placement rules: restored position, centred message boxes.
#include "tests/win/win_harness.h"

#include <cstring>

namespace wintest {
namespace {

// AppState as the entry prepares it (the record links the bridge library,
// hence here rather than with the portable tests).
TEST(StartUpState, PrepareResetsEveryFieldToTheStartValues) {
  static AppState app;
  app.engine.deviceIndex = 7;
  app.engine.chipIndex = 12;
  app.engine.fastSpi = 1;
  app.engine.stopRequest = 1;
  app.jobHandle = 1234;
  app.fileChosen = 1;
  app.commandLineMode = 1;
  app.commandOp = kCommandOpReset;
  app.closeRequested = 1;
  std::strcpy(app.filePath, "C:\\old.hex");
  int instance = 0;
  PrepareAppState(app, &instance);
  EXPECT_EQ(app.instance, &instance);
  EXPECT_EQ(app.jobHandle.load(), kJobIdle);
  EXPECT_EQ(app.engine.deviceIndex.load(), 0u);
  EXPECT_EQ(app.engine.chipIndex.load(), kChipAuto);
  EXPECT_EQ(app.engine.fastSpi.load(), 0);
  EXPECT_EQ(app.engine.stopRequest.load(), 0);
  EXPECT_EQ(app.fileChosen, 0);
  EXPECT_EQ(app.commandLineMode, 0);
  EXPECT_EQ(app.commandOp, 0);
  EXPECT_EQ(app.closeRequested, 0);
  EXPECT_STREQ(app.filePath, "");
  EXPECT_FALSE(app.bridge.open);
}

TEST(StartUpState, AcceptedCommandLineIsTakenOver) {
  static AppState app;
  PrepareAppState(app, nullptr);
  CommandLine command;
  ASSERT_EQ(ParseCommandLine("mega16 we \"d:\\down\\cal.bin\"", &command), kCommandLineAccepted);
  AdoptCommandLine(app, command);
  EXPECT_EQ(app.engine.chipIndex.load(), 2);
  EXPECT_EQ(app.commandLineMode, 1);
  EXPECT_EQ(app.commandOp, kCommandOpWriteEeprom);
  EXPECT_EQ(app.fileChosen, 1);
  EXPECT_STREQ(app.filePath, "D:\\DOWN\\CAL.BIN");
}

class EntryTest : public WindowTest {};

TEST_F(EntryTest, MalformedCommandLineShowsTheHelpAndReturnsOne) {
  EXPECT_EQ(RunProgram(GetModuleHandleW(nullptr), L"\"C:\\Program Files\\mcufeed.exe\" /?"), 1);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, HelpText());
  EXPECT_EQ(Boxes()[0].caption, "MCUFEED");
  EXPECT_EQ(Boxes()[0].owner, nullptr);
  EXPECT_EQ(Boxes()[0].icon, BoxIcon::Information);
  EXPECT_EQ(g_app.mainWindow, nullptr);  // the window never opened
}

TEST_F(EntryTest, PlainStartRunsTheWindowUntilItIsClosed) {
  std::string title, status;
  SetMainScript([&](HWND main) {
    title = WindowText(main);
    status = ItemText(main, IDC_STATUS);
    PostMessageW(main, WM_COMMAND, IDC_EXIT, 0);
    return true;
  });
  EXPECT_EQ(RunProgram(GetModuleHandleW(nullptr), L"mcufeed.exe    "), 0);
  EXPECT_EQ(title, "MCUFEED V1.3 - www.example.invalid");
  EXPECT_EQ(status, "成功打开KQ560设备");
  EXPECT_EQ(g_app.commandLineMode, 0);
  EXPECT_FALSE(KQ560SimIsOpen(0));  // closed with the window
}

TEST_F(EntryTest, CommandLineDownloadRunsInTheModalWindow) {
  const std::vector<uint8_t> image = Pattern(900, 20);
  const std::string path = WriteScratchFile("entry.bin", image);
  std::string finalStatus;
  SetMainScript([&](HWND main) {
    finalStatus = ItemText(main, IDC_STATUS);
    if (g_app.jobHandle.load() != kJobIdle || finalStatus.rfind("下载成功", 0) != 0) return false;
    PostMessageW(main, WM_CLOSE, 0, 0);
    return true;
  });
  const std::wstring line = L"mcufeed.exe MEGA8 WF \"" + Wide(path) + L"\"";
  EXPECT_EQ(RunProgram(GetModuleHandleW(nullptr), line.c_str()), 0);
  EXPECT_EQ(finalStatus, "下载成功,共下载900字节");
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 900), image);
  DWORD chip = 0;
  ASSERT_TRUE(StoredSetting(L"IniMcuIndex", &chip));
  EXPECT_EQ(chip, 1u);
}

class PlacementTest : public WindowTest {
 protected:
  RECT OpenAndMeasure() {
    OpenMainWindow();
    RECT r = {};
    GetWindowRect(Main(), &r);
    return r;
  }
  void Discard() {
    DestroyWindow(main_);
    main_ = nullptr;
    KQ560SimReset();
    PrepareAppState(g_app, GetModuleHandleW(nullptr));
  }
  RECT Desktop() {
    RECT r;
    GetWindowRect(GetDesktopWindow(), &r);
    return r;
  }
  BoxRecord HelpBox() {
    ClearBoxes();
    SystemCommand(IDM_COMMAND_HELP);
    EXPECT_EQ(Boxes().size(), 1u);
    return Boxes().empty() ? BoxRecord{} : Boxes()[0];
  }
};

TEST_F(PlacementTest, StoredPositionIsRestoredAtTheFixedSize) {
  StoreSetting(L"x_pos", 100);
  StoreSetting(L"y_pos", 50);
  const RECT r = OpenAndMeasure();
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 50);
  EXPECT_EQ(r.right - r.left, 474);
  EXPECT_EQ(r.bottom - r.top, 244);
}

TEST_F(PlacementTest, PositionsOutsideTheFullScreenAreaAreIgnored) {
  const RECT unplaced = OpenAndMeasure();
  Discard();
  const int fullHeight = GetSystemMetrics(SM_CYFULLSCREEN);
  struct Case {
    DWORD x, y;
    bool storeY;
    bool moves;
  };
  const Case cases[] = {
      {DWORD(-5), 40, true, false},
      {30, DWORD(fullHeight + 1), true, false},
      {30, DWORD(fullHeight), true, true},
      {30, 0, false, false},  // y missing
  };
  for (const Case& c : cases) {
    ClearSettings();
    StoreSetting(L"x_pos", c.x);
    if (c.storeY) StoreSetting(L"y_pos", c.y);
    const RECT r = OpenAndMeasure();
    if (c.moves) {
      EXPECT_EQ(r.left, LONG(c.x));
      EXPECT_EQ(r.top, LONG(c.y));
    } else {
      EXPECT_EQ(r.left, unplaced.left) << int(c.x) << "," << c.y;
      EXPECT_EQ(r.top, unplaced.top) << int(c.x) << "," << c.y;
    }
    Discard();
  }
}

TEST_F(PlacementTest, MessageBoxesStayInsideTheDesktop) {
  OpenMainWindow();
  const RECT desktop = Desktop();
  SetWindowPos(Main(), nullptr, desktop.right - 100, desktop.bottom - 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  BoxRecord box = HelpBox();
  EXPECT_EQ(box.rect.right, desktop.right);
  EXPECT_EQ(box.rect.bottom, desktop.bottom);

  SetWindowPos(Main(), nullptr, -400, -200, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  box = HelpBox();
  EXPECT_EQ(box.rect.left, 0);
  EXPECT_EQ(box.rect.top, 0);
}

TEST_F(PlacementTest, MinimisedMainWindowIsRestoredBeforeABoxIsCentredOverIt) {
  OpenMainWindow();
  SetWindowPos(Main(), nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(Main(), SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(Main()));
  const BoxRecord box = HelpBox();
  EXPECT_FALSE(IsIconic(Main()));
  RECT main;
  GetWindowRect(Main(), &main);
  EXPECT_EQ(main.left, 200);
  const POINT centred = CentredOver(main, box.rect);
  EXPECT_EQ(box.rect.left, centred.x);
  EXPECT_EQ(box.rect.top, centred.y);
}

}  // namespace
}  // namespace wintest
