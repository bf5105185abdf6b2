// Download jobs through the window: whole downloads into the simulated chip,
// the command-line operations, stopping, plug events and closing during a job.
// The job's own rules (files, writers, texts) have their portable tests.
#include "tests/win/win_harness.h"

namespace wintest {
namespace {

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
  void ExpectIdle() {
    EXPECT_EQ(ItemText(main_, IDC_DOWNLOAD), "下载");
    ExpectEnabled({IDC_CONFIGURE, IDC_BROWSE, IDC_RESET, IDC_DOWNLOAD, IDC_EEPROM, IDC_CHIP_LIST, IDC_EXIT}, {});
    EXPECT_EQ(SendMessageW(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
  }
};

TEST_F(JobTest, DownloadWritesTheChipOrReportsTheFailure) {
  const std::vector<uint8_t> image = Pattern(1000, 1);
  OpenWithFile("C:\\nowhere\\blink.bin");
  EXPECT_EQ(WindowText(main_), "MCUFEED V1.3 - [blink.bin]");
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "打开文件失败");
  ExpectIdle();

  std::snprintf(g_app.filePath, sizeof g_app.filePath, "%s", WriteScratchFile("blink.bin", image).c_str());
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载1000字节");
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 1000), image);
  // "MEGA AUTO" named the recognised part while the list kept its entry.
  for (const char* text : {"正在识别MCU型号...", "正在对MEGA8的FLASH进行编程...", "开始检验下载数据..."})
    EXPECT_TRUE(Logged(text)) << text;
  EXPECT_EQ(Selection(), 0);
  ExpectIdle();
}

TEST_F(JobTest, RunningJobCanOnlyBeStopped) {
  OpenWithFile(WriteScratchFile("short.bin", Pattern(300, 6)));
  SelectChip(1);
  CheckDlgButton(main_, IDC_EEPROM, BST_CHECKED);
  ASSERT_TRUE(StartHeldJob());
  // Download is Stop; the target commands rest; the list stays usable.
  EXPECT_EQ(ItemText(main_, IDC_DOWNLOAD), "停止");
  ExpectEnabled({IDC_DOWNLOAD, IDC_CHIP_LIST, IDC_EXIT}, {IDC_EEPROM, IDC_CONFIGURE, IDC_BROWSE, IDC_RESET});
  const std::string status = Status();
  const uint64_t calls = BridgeCalls();
  for (int id : {IDC_CONFIGURE, IDC_RESET, IDC_BROWSE, IDC_EEPROM}) Press(id);
  SelectChip(11);  // the list changes, the job's chip does not
  EXPECT_EQ(g_app.engine.chipIndex.load(), 1);
  EXPECT_TRUE(g_hooks.dialogTitles.empty());
  EXPECT_EQ(Status(), status);
  EXPECT_EQ(BridgeCalls(), calls);

  Press(IDC_DOWNLOAD);
  EXPECT_EQ(ItemText(main_, IDC_DOWNLOAD), "下载");  // at once
  EXPECT_EQ(g_app.engine.stopRequest.load(), 1);
  ReleaseJobGate();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "用户终止");
  EXPECT_EQ(TargetMemory(KQ560SIM_EEPROM, 300).back(), 0xFF);  // not all written
  // At the end the box follows the list (now an AT89S5x part) but keeps its tick.
  EXPECT_FALSE(Enabled(IDC_EEPROM));
  EXPECT_TRUE(Checked(IDC_EEPROM));
  SelectChip(1);  // and the next job is not stopped by the last one's request
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载300字节");
}

TEST_F(JobTest, UnplugAndPlugDuringTheJob) {
  OpenWithFile(WriteScratchFile("unplug.bin", Pattern(600, 8)));
  ASSERT_TRUE(StartHeldJob());
  Replug(4, true);  // another bridge: ignored
  EXPECT_EQ(g_app.engine.deviceIndex.load(), 0u);
  Replug(0, false);
  EXPECT_EQ(Status(), "与KQ560设备失去连接");
  EXPECT_FALSE(Enabled(IDC_DOWNLOAD));  // as any loss does, job or not
  EXPECT_TRUE(JobRunning());
  ReleaseJobGate();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "数据传输失败");
  Replug(0, true);
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载600字节");
}

// ---- the command line, carried out by the window ----

// (WF: see the entry's tests.)
TEST_F(JobTest, CommandLineWriteEepromStartsAtOnceInTheFirstSlotThatOpens) {
  const std::vector<uint8_t> data = Pattern(24, 11);
  KQ560SimUnplug(0);
  KQ560SimPlug(2, 0x30);
  ASSERT_TRUE(KQ560SimAttach(2, "MEGA16"));
  StoreSetting(L"IniMcuIndex", 11);  // the command line's chip wins
  UseCommandLine("mega16 we \"" + WriteScratchFile("cal.bin", data) + "\"");
  OpenMainWindow();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载24字节");
  EXPECT_TRUE(Logged("正在对MEGA16的EEPROM进行编程..."));
  EXPECT_EQ(TargetMemory(KQ560SIM_EEPROM, 24, 2), data);
  EXPECT_EQ(Selection(), 2);
  EXPECT_EQ(WindowText(main_), "MCUFEED V1.3 - [CAL.BIN]");  // the parser upper-cases the path
  EXPECT_FALSE(Ended());  // the window stays open
}

TEST_F(JobTest, CommandLineResetRunsBeforeTheWindowShows) {
  KQ560SimAttach(0, "AT89S51");
  UseCommandLine("AT89S51 RM");
  OpenMainWindow(false);
  EXPECT_EQ(Status(), "复位MCU成功");
  EXPECT_EQ(Selection(), 11);
  EXPECT_FALSE(Enabled(IDC_EEPROM));
}

TEST_F(JobTest, CommandLineIsDroppedWithoutABridge) {
  KQ560SimUnplug(0);
  UseCommandLine("MEGA8 WF \"" + WriteScratchFile("late.bin", Pattern(100, 12)) + "\"");
  OpenMainWindow();
  EXPECT_EQ(Status(), "正在监视KQ560设备插拔...");
  Replug(0, true);
  PumpFor(50);
  EXPECT_FALSE(JobRunning());  // a late bridge does not carry it out
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  EXPECT_TRUE(Enabled(IDC_DOWNLOAD));  // but its file is chosen
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 1)[0], 0xFF);
}

// ---- closing during a job ----

TEST_F(JobTest, CloseDuringTheJobAsksThenStopsItBeforeTheBridgeCloses) {
  // Held in identification, then in the flash writer after its chip erase.
  for (int skipWaits : {0, 1}) {
    SCOPED_TRACE(skipWaits);
    ClearSettings();
    OpenWithFile(WriteScratchFile("close.bin", Pattern(4096, 14)));
    KQ560SimSetLogCapacity(4096);
    ASSERT_TRUE(StartHeldJob(skipWaits));
    SelectChip(3);  // the list only; the close request stores it
    g_hooks.questionAnswer = IDNO;
    SendMessageW(main_, WM_CLOSE, 0, 0);
    ASSERT_EQ(g_hooks.boxes.size(), 1u);
    EXPECT_EQ(g_hooks.boxes[0].text, "正在下载,确定退出吗?");
    EXPECT_TRUE(g_hooks.boxes[0].yesNo);
    EXPECT_EQ(g_hooks.boxes[0].icon, BoxIcon::Question);
    EXPECT_FALSE(Ended());
    EXPECT_EQ(g_app.engine.stopRequest.load(), 0);

    g_hooks.questionAnswer = IDYES;
    g_hooks.onBox = [](const BoxRecord&) { ReleaseJobGate(); };  // the job goes on once asked
    SendMessageW(main_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(Ended());
    EXPECT_FALSE(JobRunning());
    // Waiting, then the job's next stop check, then the bridge closed as the last call.
    const auto& log = g_hooks.statusLog;
    const auto waiting = std::find(log.begin(), log.end(), "等待下载停止...");
    EXPECT_NE(std::find(waiting, log.end(), "用户终止"), log.end());
    KQ560SimCall last;
    ASSERT_TRUE(KQ560SimLogEntry(KQ560SimLogCount() - 1, &last));
    EXPECT_EQ(last.op, uint32_t(KQ560SIM_OP_CLOSE));
    EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 4096).back(), 0xFF);
    EXPECT_EQ(Stored(L"IniMcuIndex"), 3);
    DiscardMainWindow();
    g_hooks = Hooks();
  }
}

TEST_F(JobTest, CloseGivesUpWaitingForAJobThatDoesNotStop) {
  OpenWithFile(WriteScratchFile("stuck.bin", Pattern(300, 16)));
  SetCloseWaitLimit(200);
  ASSERT_TRUE(StartHeldJob());
  const ULONGLONG start = GetTickCount64();
  SendMessageW(main_, WM_CLOSE, 0, 0);
  EXPECT_LT(GetTickCount64() - start, 5000u);
  EXPECT_TRUE(Ended());
  EXPECT_TRUE(JobRunning());
  EXPECT_FALSE(KQ560SimIsOpen(0));  // closed under the job, as a last resort
}

}  // namespace
}  // namespace wintest
