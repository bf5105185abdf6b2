// Download jobs through the window: whole downloads into the simulated chip,
// the command-line operations, stopping, plug events and closing during a job.
#include "tests/win/win_harness.h"

#include <algorithm>

namespace wintest {
namespace {

class JobTest : public WindowTest {
 protected:
  // Opens the window with `path` chosen, as a command line without an
  // operation word cannot; the window then looks as after a Browse.
  void OpenWithFile(const std::string& path) {
    std::snprintf(g_app.filePath, sizeof g_app.filePath, "%s", path.c_str());
    g_app.fileChosen = 1;
    OpenMainWindow();
  }
  bool Logged(const std::string& text) const {
    return std::find(StatusLog().begin(), StatusLog().end(), text) != StatusLog().end();
  }
  void ExpectIdleControls() {
    EXPECT_EQ(Text(IDC_DOWNLOAD), "下载");
    for (int id : {IDC_CONFIGURE, IDC_BROWSE, IDC_RESET, IDC_DOWNLOAD, IDC_CHIP_LIST, IDC_EXIT})
      EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_EQ(ProgressPosition(), 0);
  }
};

TEST_F(JobTest, RawFileIsWrittenIntoFlashAndVerified) {
  const std::vector<uint8_t> image = Pattern(1000, 1);
  OpenWithFile(WriteScratchFile("blink.bin", image));
  EXPECT_EQ(WindowText(Main()), "MCUFEED V1.3 - [blink.bin]");
  ASSERT_TRUE(Enabled(IDC_DOWNLOAD));
  Press(IDC_DOWNLOAD);
  EXPECT_TRUE(JobRunning());
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载1000字节");
  // "MEGA AUTO" named the recognised part while the list kept its entry.
  EXPECT_TRUE(Logged("正在识别MCU型号...")) << Status();
  EXPECT_TRUE(Logged("正在对MEGA8的FLASH进行编程..."));
  EXPECT_TRUE(Logged("开始检验下载数据..."));
  EXPECT_EQ(Selection(), 0);
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 1000), image);
  ExpectIdleControls();
}

TEST_F(JobTest, HexFileReportsItsEffectiveLength) {
  const std::vector<uint8_t> low = Pattern(256, 2), high = Pattern(16, 3);
  const std::string hex = HexRecords(0x0000, low) + HexRecords(0x1000, high) + ":00000001FF\r\n";
  OpenWithFile(WriteScratchText("segments.hex", hex));
  SelectChip(1);
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载4112字节");
  EXPECT_TRUE(Logged("正在进行文件转换..."));
  const std::vector<uint8_t> flash = TargetMemory(KQ560SIM_FLASH, 0x1010);
  EXPECT_TRUE(std::equal(low.begin(), low.end(), flash.begin()));
  EXPECT_TRUE(std::equal(high.begin(), high.end(), flash.begin() + 0x1000));
  EXPECT_EQ(flash[0x800], 0xFF);  // the gap stays erased
}

TEST_F(JobTest, FileFailuresEndTheJobWithTheirText) {
  OpenWithFile(WriteScratchFile("empty.bin", {}));
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "文件大小错误");
  std::snprintf(g_app.filePath, sizeof g_app.filePath, "%s", "C:\\nowhere\\missing.bin");
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "打开文件失败");
  std::snprintf(g_app.filePath, sizeof g_app.filePath, "%s", WriteScratchText("bad.hex", "not a hex file").c_str());
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "错误的HEX文件");
  ExpectIdleControls();
}

TEST_F(JobTest, EepromBoxSendsTheImageToTheEeprom) {
  const std::vector<uint8_t> data = Pattern(40, 4);
  OpenWithFile(WriteScratchFile("table.bin", data));
  SelectChip(1);
  SendMessageW(Item(IDC_EEPROM), BM_CLICK, 0, 0);
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载40字节");
  EXPECT_TRUE(Logged("正在对MEGA8的EEPROM进行编程..."));
  EXPECT_EQ(TargetMemory(KQ560SIM_EEPROM, 40), data);
  EXPECT_EQ(g_app.eepromTarget, 1);
}

TEST_F(JobTest, FastModeDecidesHowPagesTravel) {
  const std::vector<uint8_t> image = Pattern(512, 5);
  OpenWithFile(WriteScratchFile("fast.bin", image));
  ASSERT_EQ(g_app.engine.fastSpi.load(), 1);
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  KQ560SimStats stats;
  KQ560SimGetStats(&stats);
  EXPECT_GT(stats.callsByOp[KQ560SIM_OP_SPI], 0u);
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 512), image);

  SystemCommand(IDM_FAST_SPI);  // off
  const uint64_t spiBefore = stats.callsByOp[KQ560SIM_OP_SPI];
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  KQ560SimGetStats(&stats);
  EXPECT_EQ(stats.callsByOp[KQ560SIM_OP_SPI], spiBefore);
  EXPECT_EQ(Status(), "下载成功,共下载512字节");
}

TEST_F(JobTest, StopDuringTheJob) {
  const std::vector<uint8_t> image = Pattern(2048, 6);
  OpenWithFile(WriteScratchFile("long.bin", image));
  ArmJobGate();
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(PumpUntil(JobParked));
  // Running: Download is Stop; the target commands rest; the list stays usable.
  EXPECT_EQ(Text(IDC_DOWNLOAD), "停止");
  for (int id : {IDC_EEPROM, IDC_CONFIGURE, IDC_BROWSE, IDC_RESET}) EXPECT_FALSE(Enabled(id)) << id;
  for (int id : {IDC_DOWNLOAD, IDC_CHIP_LIST, IDC_EXIT}) EXPECT_TRUE(Enabled(id)) << id;

  Press(IDC_DOWNLOAD);
  EXPECT_EQ(Text(IDC_DOWNLOAD), "下载");  // at once
  EXPECT_EQ(g_app.engine.stopRequest.load(), 1);
  ReleaseJobGate();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "用户终止");
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 2048)[2047], 0xFF);  // not all written
  ExpectIdleControls();
}

TEST_F(JobTest, TargetCommandsWaitWhileTheJobRuns) {
  OpenWithFile(WriteScratchFile("short.bin", Pattern(300, 7)));
  CheckDlgButton(Main(), IDC_EEPROM, BST_CHECKED);
  SelectChip(1);
  ArmJobGate();
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(PumpUntil(JobParked));
  const std::string status = Status();
  const uint64_t calls = BridgeCalls();
  bool dialogShown = false;
  SetDialogScript([&](HWND) { dialogShown = true; });
  for (int id : {IDC_CONFIGURE, IDC_RESET, IDC_BROWSE, IDC_EEPROM}) Press(id);
  SelectChip(11);  // the list changes, the job's chip does not
  EXPECT_EQ(g_app.engine.chipIndex.load(), 1);
  EXPECT_FALSE(dialogShown);
  EXPECT_EQ(Status(), status);
  EXPECT_EQ(BridgeCalls(), calls);
  ReleaseJobGate();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载300字节");
  // At the end the box follows the list (now an AT89S5x part) but keeps its tick.
  EXPECT_FALSE(Enabled(IDC_EEPROM));
  EXPECT_TRUE(Checked(IDC_EEPROM));
}

TEST_F(JobTest, UnplugAndPlugDuringTheJob) {
  OpenWithFile(WriteScratchFile("unplug.bin", Pattern(600, 8)));
  ArmJobGate();
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(PumpUntil(JobParked));
  Unplug(0);
  EXPECT_EQ(Status(), "与KQ560设备失去连接");
  EXPECT_FALSE(Enabled(IDC_DOWNLOAD));  // as any loss does, job or not
  EXPECT_TRUE(JobRunning());
  ReleaseJobGate();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "数据传输失败");
  EXPECT_EQ(Text(IDC_DOWNLOAD), "下载");
  Plug(0);
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  EXPECT_TRUE(Enabled(IDC_DOWNLOAD));
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载600字节");
}

TEST_F(JobTest, PlugOfAnotherBridgeDuringTheJobIsIgnored) {
  OpenWithFile(WriteScratchFile("plug.bin", Pattern(300, 9)));
  ArmJobGate();
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(PumpUntil(JobParked));
  Plug(4);
  EXPECT_EQ(g_app.engine.deviceIndex.load(), 0u);
  ReleaseJobGate();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载300字节");
}

// ---- the command line, carried out by the window ----

TEST_F(JobTest, CommandLineWriteFlashStartsAtOnceAndStaysOpen) {
  const std::vector<uint8_t> image = Pattern(700, 10);
  const std::string path = WriteScratchFile("cmdline.bin", image);
  UseCommandLine("MEGA8 WF \"" + path + "\"");
  OpenMainWindow();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载700字节");
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 700), image);
  EXPECT_EQ(Selection(), 1);
  EXPECT_EQ(WindowText(Main()), "MCUFEED V1.3 - [CMDLINE.BIN]");  // the parser upper-cases the path
  EXPECT_FALSE(Ended());
}

TEST_F(JobTest, CommandLineWriteEepromUsesTheFirstSlotThatOpens) {
  const std::vector<uint8_t> data = Pattern(24, 11);
  const std::string path = WriteScratchFile("cal.bin", data);
  KQ560SimUnplug(0);
  KQ560SimPlug(2, 0x30);
  KQ560SimAttach(2, "MEGA16");
  StoreSetting(L"IniMcuIndex", 11);  // the command line's chip wins
  UseCommandLine("mega16 we \"" + path + "\"");
  OpenMainWindow();
  EXPECT_TRUE(Checked(IDC_EEPROM));
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载24字节");
  EXPECT_EQ(g_app.engine.deviceIndex.load(), 2u);
  EXPECT_EQ(TargetMemory(KQ560SIM_EEPROM, 24, 2), data);
  EXPECT_EQ(Selection(), 2);
}

TEST_F(JobTest, CommandLineResetRunsBeforeTheWindowShows) {
  KQ560SimAttach(0, "AT89S51");
  UseCommandLine("AT89S51 RM");
  main_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainWindowProc, 0);
  ASSERT_NE(main_, nullptr);
  EXPECT_FALSE(IsWindowVisible(main_));
  EXPECT_EQ(Status(), "复位MCU成功");
  EXPECT_EQ(Selection(), 11);
  EXPECT_FALSE(Enabled(IDC_EEPROM));
}

TEST_F(JobTest, CommandLineIsDroppedWithoutABridge) {
  const std::string path = WriteScratchFile("late.bin", Pattern(100, 12));
  KQ560SimUnplug(0);
  UseCommandLine("MEGA8 WF \"" + path + "\"");
  OpenMainWindow();
  EXPECT_EQ(Status(), "正在监视KQ560设备插拔...");
  EXPECT_FALSE(JobRunning());
  Plug(0);
  PumpFor(50);
  EXPECT_FALSE(JobRunning());
  EXPECT_EQ(Status(), "成功打开KQ560设备");
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 1)[0], 0xFF);
}

// ---- closing during a job ----

TEST_F(JobTest, CloseDuringTheJobAnsweredNoLeavesEverythingRunning) {
  OpenWithFile(WriteScratchFile("no.bin", Pattern(300, 13)));
  ArmJobGate();
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(PumpUntil(JobParked));
  SetQuestionAnswer(IDNO);
  SendMessageW(Main(), WM_CLOSE, 0, 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "正在下载,确定退出吗?");
  EXPECT_TRUE(Boxes()[0].yesNo);
  EXPECT_EQ(Boxes()[0].icon, BoxIcon::Question);
  EXPECT_FALSE(Ended());
  EXPECT_EQ(g_app.engine.stopRequest.load(), 0);
  EXPECT_TRUE(KQ560SimIsOpen(0));
  ReleaseJobGate();
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(Status(), "下载成功,共下载300字节");
}

TEST_F(JobTest, CloseDuringIdentificationStopsTheJobBeforeTheBridgeCloses) {
  OpenWithFile(WriteScratchFile("yes.bin", Pattern(2048, 14)));
  KQ560SimSetLogCapacity(4096);
  ArmJobGate();
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(PumpUntil(JobParked));
  SelectChip(3);  // the list only; the close request stores it
  // The job goes on only once the question is answered.
  OnBox([](const BoxRecord&) { ReleaseJobGate(); });
  SendMessageW(Main(), WM_CLOSE, 0, 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "正在下载,确定退出吗?");
  EXPECT_TRUE(Ended());
  EXPECT_FALSE(JobRunning());
  EXPECT_FALSE(KQ560SimIsOpen(0));
  // The texts say what happened: waiting, then the writer's first stop check.
  const auto waiting = std::find(StatusLog().begin(), StatusLog().end(), "等待下载停止...");
  ASSERT_NE(waiting, StatusLog().end());
  EXPECT_NE(std::find(waiting, StatusLog().end(), "用户终止"), StatusLog().end());
  // No bridge call ran on the closed device: closing was the last call.
  const uint32_t count = KQ560SimLogCount();
  ASSERT_GT(count, 0u);
  KQ560SimCall last;
  ASSERT_TRUE(KQ560SimLogEntry(count - 1, &last));
  EXPECT_EQ(last.op, uint32_t(KQ560SIM_OP_CLOSE));
  DWORD value = 0;
  ASSERT_TRUE(StoredSetting(L"IniMcuIndex", &value));
  EXPECT_EQ(value, 3u);
  EXPECT_TRUE(StoredSetting(L"x_pos", &value));
}

TEST_F(JobTest, CloseWhileWritingStopsAtTheNextBlock) {
  const std::vector<uint8_t> image = Pattern(4096, 15);
  OpenWithFile(WriteScratchFile("writing.bin", image));
  KQ560SimSetLogCapacity(4096);
  ArmJobGate(1);
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(PumpUntil(JobParked));
  EXPECT_EQ(Status(), "正在对MEGA8的FLASH进行编程...");
  OnBox([](const BoxRecord&) { ReleaseJobGate(); });
  SendMessageW(Main(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(Ended());
  EXPECT_FALSE(JobRunning());
  EXPECT_EQ(StatusLog().back(), "用户终止");
  KQ560SimCall last;
  ASSERT_TRUE(KQ560SimLogEntry(KQ560SimLogCount() - 1, &last));
  EXPECT_EQ(last.op, uint32_t(KQ560SIM_OP_CLOSE));
  EXPECT_EQ(TargetMemory(KQ560SIM_FLASH, 4096)[4095], 0xFF);
}

TEST_F(JobTest, CloseGivesUpWaitingForAJobThatDoesNotStop) {
  OpenWithFile(WriteScratchFile("stuck.bin", Pattern(300, 16)));
  SetCloseWaitLimit(200);
  ArmJobGate();
  Press(IDC_DOWNLOAD);
  ASSERT_TRUE(PumpUntil(JobParked));
  const ULONGLONG start = GetTickCount64();
  SendMessageW(Main(), WM_CLOSE, 0, 0);
  EXPECT_LT(GetTickCount64() - start, 5000u);
  EXPECT_TRUE(Ended());
  EXPECT_TRUE(JobRunning());
  EXPECT_FALSE(KQ560SimIsOpen(0));  // closed under the job, as a last resort
  ReleaseJobGate();
  ASSERT_TRUE(WaitForJobEnd());
}

}  // namespace
}  // namespace wintest
