// The program's entry (help box and exit codes, the modal main window) and
// centred message boxes. (The stored position: see the main window's tests.)
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
  const std::wstring path = Widen(WriteScratchFile("entry.bin", Pattern(900, 20)).c_str()).text;
  std::string status;
  g_hooks.scriptMainWindow = true;
  g_hooks.dialogScript = [&](HWND main) {
    PumpUntil([] { return g_app.jobHandle.load() == kJobIdle; });
    status = ItemText(main, IDC_STATUS);
  };
  EXPECT_EQ(RunProgram(GetModuleHandleW(nullptr), (L"mcufeed.exe MEGA8 WF \"" + path + L"\"").c_str()), 0);
  EXPECT_EQ(status, "下载成功,共下载900字节");
  EXPECT_FALSE(KQ560SimIsOpen(0));  // closed with the window
}

// Restored first when minimised, centred, and pushed back inside the desktop.
TEST_F(EntryTest, MessageBoxesAreCentredOverTheMainWindowAndKeptOnTheDesktop) {
  OpenMainWindow();
  RECT desktop;
  GetWindowRect(GetDesktopWindow(), &desktop);
  for (const POINT at : {POINT{200, 150}, POINT{desktop.right - 100, desktop.bottom - 60}}) {
    SetWindowPos(main_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(main_, SW_MINIMIZE);
    g_hooks.boxes.clear();
    SystemCommand(IDM_COMMAND_HELP);
    ASSERT_EQ(g_hooks.boxes.size(), 1u);
    EXPECT_EQ(g_hooks.boxes[0].text, HelpText());
    EXPECT_EQ(g_hooks.boxes[0].owner, main_);
    const RECT box = g_hooks.boxes[0].rect;
    if (at.x == 200) ExpectCentredOverMain(box);
    else EXPECT_TRUE(box.right == desktop.right && box.bottom == desktop.bottom);
  }
}

}  // namespace
}  // namespace wintest
