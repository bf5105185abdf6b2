// Download jobs through the window: whole downloads into the simulated chip,
// files that cannot be read, stopping, plug events, the command line and
// closing during a job. The job's own rules have their portable tests.
#include "tests/win/win_harness.h"

#include "app/program_file.h"

namespace wintest {
namespace {

bool FailingRead(intptr_t, uint8_t*, uint32_t, uint32_t*) { return false; }

// Lets the held job go and, while the close request waits for it, closes again.
void CALLBACK CloseAgain(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  ReleaseJobGate();
  SendMessageW(static_cast<HWND>(g_app.mainWindow), WM_CLOSE, 0, 0);
}

class JobTest : public WindowTest {
 protected:
  // Opens the window with `path` chosen, as after a Browse.
  void OpenWithFile(const std::string& path) {
    std::snprintf(g_app.filePath, sizeof g_app.filePath, "%s", path.c_str());
    g_app.fileChosen = 1;
    OpenMainWindow();
  }
  // Starts a download and holds it at the engine wait after `skipWaits` (an
  // AVR job waits once in identification, next after the chip erase).
  bool StartHeldJob(int skipWaits = 0) {
    ArmJobGate(skipWaits);
    Press(IDC_DOWNLOAD);
    return PumpUntil(JobParked);
  }
  // A whole job; the window is idle again after it.
  void Download() {
    Press(IDC_DOWNLOAD);
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(ItemText(main_, IDC_DOWNLOAD) + std::to_string(SendMessageW(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0)), "下载0");
    ExpectEnabled({IDC_CONFIGURE, IDC_BROWSE, IDC_RESET, IDC_DOWNLOAD, IDC_EEPROM}, {});
  }
};

// Failures leave the chip alone; at the end the window flashes, only when
// it is not in front.
TEST_F(JobTest, DownloadWritesTheChipOrSaysWhyNot) {
  const std::string path = WriteScratchFile("blink.bin", Pattern(1000, 1));
  OpenWithFile(path);
  // Still being written by another program, which shares it: it could be read short.
  const HANDLE writer = CreateFileW(Widen(path.c_str()).text, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_EQ(GetForegroundWindow(), main_);
  Download();
  CloseHandle(writer);
  EXPECT_EQ(Status(), "打开文件失败");
  SetFileReadFunction(FailingRead);  // a read that fails after a good open
  Download();
  SetFileReadFunction(nullptr);
  EXPECT_EQ(Status(), "读文件错误");
  EXPECT_EQ(g_hooks.captionFlips, 0);
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 1)[0], 0xFF);

  const HWND other = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
  SetForegroundWindow(other);
  g_hooks.captionFlips = 0;  // the window's own deactivation
  Download();
  EXPECT_EQ(g_hooks.captionFlips, 1);
  DestroyWindow(other);
  EXPECT_EQ(Status(), "下载成功,共下载1000字节");  // what the chip holds: see the job's own tests
  EXPECT_EQ(Selection(), 0);  // "MEGA AUTO" kept its entry; the job named the part (see below)
}

TEST_F(JobTest, RunningJobCanOnlyBeStopped) {
  OpenWithFile(WriteScratchFile("short.bin", Pattern(300, 6)));
  SelectChip(1);
  CheckDlgButton(main_, IDC_EEPROM, BST_CHECKED);
  ASSERT_TRUE(StartHeldJob());
  // Download is Stop; the target commands rest; the list stays usable.
  EXPECT_EQ(ItemText(main_, IDC_DOWNLOAD), "停止");
  ExpectEnabled({IDC_DOWNLOAD, IDC_CHIP_LIST, IDC_EXIT}, {IDC_EEPROM, IDC_CONFIGURE, IDC_BROWSE, IDC_RESET});
  const uint64_t calls = BridgeCalls();
  g_hooks.statusLog.clear();
  for (int id : {IDC_CONFIGURE, IDC_RESET, IDC_BROWSE, IDC_EEPROM}) Press(id);
  SelectChip(11);  // the list changes, the job's chip does not
  EXPECT_EQ(g_app.engine.chipIndex.load(), 1);
  EXPECT_TRUE(g_hooks.dialogTitles.empty() && BridgeCalls() == calls && g_hooks.statusLog.empty());

  Press(IDC_DOWNLOAD);
  EXPECT_EQ(ItemText(main_, IDC_DOWNLOAD), "下载");  // at once
  ReleaseJobGate();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "用户终止");
  // At the end the box follows the list (now an AT89S5x part) but keeps its tick.
  EXPECT_TRUE(!Enabled(IDC_EEPROM) && Checked(IDC_EEPROM));
  SelectChip(1);  // and the next job is not stopped by the last one's request
  Download();
  EXPECT_EQ(Status(), "下载成功,共下载300字节");
}

// A bridge lost while the chip is being programmed: the job ends on the
// failure, not on its stage text, as if still programming.
TEST_F(JobTest, UnplugWhileProgramming) {
  OpenWithFile(WriteScratchFile("unplug.bin", Pattern(600, 8)));
  ASSERT_TRUE(StartHeldJob(1));
  ASSERT_EQ(Status(), "正在对MEGA8的FLASH进行编程...");
  Replug(0, false);
  EXPECT_EQ(Status(), "与KQ560设备失去连接");
  EXPECT_FALSE(Enabled(IDC_DOWNLOAD));  // as any loss does, job or not
  ReleaseJobGate();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "数据传输失败");
}

// ---- the command line, carried out by the window (WF: see the entry's tests) ----

TEST_F(JobTest, CommandLineWriteEepromStartsAtOnceInTheFirstSlotThatOpens) {
  const std::vector<uint8_t> data = Pattern(24, 11);
  KQ560SimUnplug(0);
  KQ560SimPlug(2, 0x30);
  ASSERT_TRUE(KQ560SimAttach(2, "MEGA16"));
  StoreSetting(L"IniMcuIndex", 11);  // the command line's chip wins
  UseCommandLine("mega16 we \"" + WriteScratchFile("cal.bin", data) + "\"");
  OpenMainWindow();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_TRUE(Logged("正在对MEGA16的EEPROM进行编程..."));
  EXPECT_EQ(TargetMemory(KQ560SIM_EEPROM, 24, 2), data);
  EXPECT_EQ(Selection(), 2);
  EXPECT_EQ(WindowText(main_), "MCUFEED V1.3 - [CAL.BIN]");  // the parser upper-cases the path
}

TEST_F(JobTest, CommandLineIsDroppedWithoutABridge) {
  KQ560SimUnplug(0);
  UseCommandLine("MEGA8 WF \"" + WriteScratchFile("late.bin", Pattern(100, 12)) + "\"");
  OpenMainWindow();
  Replug(0, true);
  PumpFor(50);
  EXPECT_EQ(Status(), "成功打开KQ560设备");  // a late bridge does not carry it out
  EXPECT_TRUE(Enabled(IDC_DOWNLOAD));  // but its file is chosen
}

// ---- closing during a job ----

TEST_F(JobTest, CloseDuringTheJobAsksThenStopsItBeforeTheBridgeCloses) {
  OpenWithFile(WriteScratchFile("close.bin", Pattern(4096, 14)));
  KQ560SimSetLogCapacity(4096);
  ASSERT_TRUE(StartHeldJob(1));  // in the flash writer, after its chip erase
  SelectChip(3);  // the list only; the close request stores it
  g_hooks.questionAnswer = IDNO;
  SendMessageW(main_, WM_CLOSE, 0, 0);
  ASSERT_EQ(g_hooks.boxes.size(), 1u);
  EXPECT_EQ(g_hooks.boxes[0].text, "正在下载,确定退出吗?");
  EXPECT_TRUE(g_hooks.boxes[0].yesNo && g_hooks.boxes[0].icon == BoxIcon::Question && !Ended());

  g_hooks.questionAnswer = IDYES;
  SetTimer(nullptr, 0, 30, CloseAgain);  // fires while the request waits
  SendMessageW(main_, WM_CLOSE, 0, 0);
  EXPECT_EQ(g_hooks.boxes.size(), 2u);  // the second request, while waiting, asked nothing
  EXPECT_TRUE(Ended() && !JobRunning());
  // Waiting, then the job's next stop check, then the bridge closed as the last call.
  const auto& log = g_hooks.statusLog;
  EXPECT_NE(std::find(std::find(log.begin(), log.end(), "等待下载停止..."), log.end(), "用户终止"), log.end());
  KQ560SimCall last;
  ASSERT_TRUE(KQ560SimLogEntry(KQ560SimLogCount() - 1, &last));
  EXPECT_EQ(last.op, uint32_t(KQ560SIM_OP_CLOSE));
  EXPECT_EQ(Stored(L"IniMcuIndex"), 3);
}

TEST_F(JobTest, CloseGivesUpWaitingForAJobThatDoesNotStop) {
  OpenWithFile(WriteScratchFile("stuck.bin", Pattern(300, 16)));
  SetCloseWaitLimit(200);
  ASSERT_TRUE(StartHeldJob());
  SendMessageW(main_, WM_CLOSE, 0, 0);
  EXPECT_TRUE(Ended() && JobRunning() && !KQ560SimIsOpen(0));  // closed under the job, as a last resort
}

}  // namespace
}  // namespace wintest
