// The program's entry (help box and exit codes, the modal main window) and
// the placement rules: restored position, centred message boxes.
#include "tests/win/win_harness.h"

namespace wintest {
namespace {

class EntryTest : public WindowTest {};

TEST_F(EntryTest, MalformedCommandLineShowsTheHelpAndReturnsOne) {
  EXPECT_EQ(RunProgram(GetModuleHandleW(nullptr), L"\"C:\\Program Files\\mcufeed.exe\" /?"), 1);
  ASSERT_EQ(g_hooks.boxes.size(), 1u);
  EXPECT_EQ(g_hooks.boxes[0].text, HelpText());
  EXPECT_EQ(g_hooks.boxes[0].caption, "MCUFEED");
  EXPECT_EQ(g_hooks.boxes[0].owner, nullptr);
  EXPECT_EQ(g_hooks.boxes[0].icon, BoxIcon::Information);
  EXPECT_EQ(g_app.mainWindow, nullptr);  // the window never opened
}

TEST_F(EntryTest, RunsTheWindowUntilItIsClosedCarryingOutTheCommandLine) {
  const std::vector<uint8_t> image = Pattern(900, 20);
  const std::wstring path = Widen(WriteScratchFile("entry.bin", image).c_str()).text;
  std::string title, status;
  g_hooks.scriptMainWindow = true;
  g_hooks.dialogScript = [&](HWND main) {
    title = WindowText(main);
    PumpUntil([] { return g_app.jobHandle.load() == kJobIdle; });
    status = ItemText(main, IDC_STATUS);
  };
  EXPECT_EQ(RunProgram(GetModuleHandleW(nullptr), L"mcufeed.exe    "), 0);
  EXPECT_EQ(title, "MCUFEED V1.3 - www.example.invalid");
  EXPECT_EQ(status, "成功打开KQ560设备");
  EXPECT_FALSE(KQ560SimIsOpen(0));  // closed with the window

  g_hooks.scriptedDialogs.clear();
  EXPECT_EQ(RunProgram(GetModuleHandleW(nullptr), (L"mcufeed.exe MEGA8 WF \"" + path + L"\"").c_str()), 0);
  EXPECT_EQ(status, "下载成功,共下载900字节");
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 900), image);
  EXPECT_EQ(Stored(L"IniMcuIndex"), 1);
}

class PlacementTest : public WindowTest {
 protected:
  RECT HelpBox() {
    g_hooks.boxes.clear();
    SystemCommand(IDM_COMMAND_HELP);
    EXPECT_EQ(g_hooks.boxes.size(), 1u);
    return g_hooks.boxes.empty() ? RECT{} : g_hooks.boxes[0].rect;
  }
};

TEST_F(PlacementTest, PositionsOutsideTheFullScreenAreaAreIgnored) {
  OpenMainWindow();
  RECT unplaced, r;
  GetWindowRect(main_, &unplaced);
  DiscardMainWindow();
  const DWORD fullHeight = GetSystemMetrics(SM_CYFULLSCREEN);
  struct Case { DWORD x, y; bool moves; };  // y 0: not stored
  const Case cases[] = {{DWORD(-5), 40, false}, {30, fullHeight + 1, false}, {30, fullHeight, true}, {30, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.x) << "," << c.y);
    ClearSettings();
    StoreSetting(L"x_pos", c.x);
    if (c.y) StoreSetting(L"y_pos", c.y);
    OpenMainWindow();
    GetWindowRect(main_, &r);
    EXPECT_EQ(r.left, c.moves ? LONG(c.x) : unplaced.left);
    EXPECT_EQ(r.top, c.moves ? LONG(c.y) : unplaced.top);
    DiscardMainWindow();
  }
}

TEST_F(PlacementTest, MessageBoxesAreCentredOverTheMainWindowAndKeptOnTheDesktop) {
  OpenMainWindow();
  SetWindowPos(main_, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(main_, SW_MINIMIZE);  // restored first
  RECT box = HelpBox();
  EXPECT_FALSE(IsIconic(main_));
  EXPECT_EQ(g_hooks.boxes[0].text, HelpText());
  EXPECT_EQ(g_hooks.boxes[0].icon, BoxIcon::Information);
  EXPECT_EQ(g_hooks.boxes[0].owner, main_);
  ExpectCentredOverMain(box);

  RECT desktop;
  GetWindowRect(GetDesktopWindow(), &desktop);
  SetWindowPos(main_, nullptr, desktop.right - 100, desktop.bottom - 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  box = HelpBox();
  EXPECT_EQ(box.right, desktop.right);
  EXPECT_EQ(box.bottom, desktop.bottom);
}

}  // namespace
}  // namespace wintest
