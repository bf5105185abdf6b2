#include "app/download_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "sim/kq560sim.h"

namespace {

void VirtualWait(uint32_t ms) { KQ560SimAdvanceMs(ms); }

class WindowLikeView : public DownloadView {
 public:
  ProgressRange QueryProgressRange() override { return {0, 1024}; }
  void SetProgress(int32_t position) override { position_ = position; }
  void AdvanceProgress(int32_t delta) override {
    position_ = std::min(1024, position_ + delta);
    if (onAdvance) onAdvance();
  }
  void ShowStatus(const char* text) override { statuses.push_back(text); }
  void SetJobControls(bool running) override { controls.push_back(running); }
  std::vector<std::string> statuses;
  std::vector<bool> controls;
  std::function<void()> onAdvance;
  int32_t position_ = 0;
};

class DownloadJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KQ560SimReset();
    SetWaitRoutine(&VirtualWait);
    ASSERT_TRUE(OpenBridge(0, &app.bridge));
    app.engine.deviceIndex = 0;
    app.engine.hardwareSpi = 1;
    dir_ = std::filesystem::temp_directory_path() /
           ("mcufeed-job-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    SetWaitRoutine(nullptr);
    std::filesystem::remove_all(dir_);
  }

  // Starts a job the way the window does and runs it on this thread.
  JobOutcome Run(const char* chip, ChipIndex selected, const std::string& path, bool eeprom = false) {
    EXPECT_TRUE(KQ560SimAttach(0, chip));
    app.engine.chipIndex = selected;
    app.eepromTarget = eeprom ? 1 : 0;
    app.engine.stopRequest = 0;
    std::snprintf(app.filePath, sizeof app.filePath, "%s", path.c_str());
    app.jobHandle = 0x1234;
    view = WindowLikeView();
    return DownloadJob(app, view);
  }
  std::string File(const std::string& name, const std::string& bytes) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.u8string();
  }
  std::string Raw(const std::string& name, size_t size, uint8_t seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char(uint8_t(i * 13 + seed));
    return File(name, bytes);
  }
  std::vector<uint8_t> Flash(uint32_t size) {
    std::vector<uint8_t> flash(size);
    KQ560SimReadMemory(0, KQ560SIM_FLASH, 0, flash.data(), size);
    return flash;
  }
  // Every job ends the same way, whatever happened.
  void ExpectEnded() {
    EXPECT_EQ(view.controls, (std::vector<bool>{true, false}));
    EXPECT_EQ(app.jobHandle.load(), kJobIdle);
    EXPECT_EQ(view.position_, 0);
  }

  AppState app;
  WindowLikeView view;
  std::filesystem::path dir_;
};

TEST_F(DownloadJobTest, AutoRecognisedChipNamesTheProgrammingText) {
  const std::string hex = File("a.hex", ":0400000001020304F2\r\n:00000001FF\r\n");
  ASSERT_EQ(Run("MEGA16", kChipAuto, hex), JobOutcome::Success);
  EXPECT_EQ(view.statuses, (std::vector<std::string>{"正在识别MCU型号...", "正在进行文件转换...",
                                                     "正在对MEGA16的FLASH进行编程...", "开始检验下载数据...",
                                                     "下载成功,共下载4字节"}));
  EXPECT_EQ(app.engine.chipIndex.load(), 2);
  ExpectEnded();
}

TEST_F(DownloadJobTest, HexSuccessCountsTheEffectiveLength) {
  // Records at 0x0000-0x00FF and 0x1000-0x100F: 0x1010 = 4112, not 272.
  std::string text;
  auto record = [&](uint16_t address, int count) {
    char line[600];
    int sum = count + (address >> 8) + (address & 0xFF);
    int n = std::snprintf(line, sizeof line, ":%02X%04X00", count, address);
    for (int i = 0; i < count; ++i) {
      n += std::snprintf(line + n, sizeof line - n, "%02X", i);
      sum += i;
    }
    std::snprintf(line + n, sizeof line - n, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
  };
  for (int a = 0; a < 0x100; a += 16) record(uint16_t(a), 16);
  record(0x1000, 16);
  text += ":00000001FF\r\n";
  ASSERT_EQ(Run("MEGA8", 1, File("gaps.HEX", text)), JobOutcome::Success);
  EXPECT_EQ(view.statuses.back(), "下载成功,共下载4112字节");
  const auto flash = Flash(8192);
  EXPECT_EQ(flash[0x1000 + 15], 15);
  EXPECT_EQ(flash[0x0200], 0xFF);
}

TEST_F(DownloadJobTest, RawFileIsWrittenAsIsAndPaddedWithErasedBytes) {
  // A longer file first, so its bytes sit in the buffer past the shorter one.
  ASSERT_EQ(Run("MEGA8", 1, Raw("long.bin", 4096, 1)), JobOutcome::Success);
  ASSERT_EQ(Run("MEGA8", 1, Raw("short.bin", 1000, 2)), JobOutcome::Success);
  EXPECT_EQ(view.statuses.back(), "下载成功,共下载1000字节");
  const auto flash = Flash(8192);
  EXPECT_EQ(flash[999], uint8_t(999 * 13 + 2));
  for (uint32_t i = 1000; i < 1024; ++i) ASSERT_EQ(flash[i], 0xFF) << "byte " << i << " of the last page";
  EXPECT_EQ(flash[1024], 0xFF);
}

TEST_F(DownloadJobTest, FileKindIsDecidedByTheNameOnly) {
  const std::string hexText = ":0100000055AA\r\n:00000001FF\r\n";
  for (const char* name : {"p.hex", "P.HEX", "proghex"}) {
    ASSERT_EQ(Run("MEGA8", 1, File(name, hexText)), JobOutcome::Success) << name;
    EXPECT_EQ(Flash(1)[0], 0x55) << name;
  }
  for (const char* name : {"p.bin", "p.ihx", "p.hex.bin"}) {
    ASSERT_EQ(Run("MEGA8", 1, File(name, hexText)), JobOutcome::Success) << name;
    EXPECT_EQ(Flash(1)[0], ':') << name << " is written raw";
  }
}

TEST_F(DownloadJobTest, FileProblemsEndTheJobWithTheirText) {
  struct Case {
    std::string path;
    const char* text;
    JobOutcome outcome;
  } cases[] = {
      {(dir_ / "missing.bin").u8string(), "打开文件失败", JobOutcome::FileFailed},
      {File("empty.bin", ""), "文件大小错误", JobOutcome::FileFailed},
      {Raw("huge.bin", 0x100001, 0), "文件大小错误", JobOutcome::FileFailed},
      {File("bad.hex", ":0100000055AB\r\n:00000001FF\r\n"), "错误的HEX文件", JobOutcome::HexFailed},
      {File("lf.hex", ":0100000055AA\n:00000001FF\n"), "错误的HEX文件", JobOutcome::HexFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Run("MEGA8", 1, c.path), c.outcome);
    EXPECT_EQ(view.statuses.back(), c.text);
    ExpectEnded();
  }
  // Exactly 1 MiB is a valid size; it is only too long for the chip.
  EXPECT_EQ(Run("MEGA8", 1, Raw("max.bin", 0x100000, 0)), JobOutcome::WriteFailed);
  EXPECT_EQ(view.statuses.back(), "下载文件有效长度超出芯片容量");
}

TEST_F(DownloadJobTest, IdentificationFailuresStopBeforeTheFileIsOpened) {
  const std::string missing = (dir_ / "not-there.hex").u8string();
  struct Case {
    const char* chip;
    ChipIndex selected;
    const char* text;
  } cases[] = {
      {"avr:1E950F:32768:128:1024", kChipAuto, "不支持此MCU"},
      {"MEGA16", 1, "错误的MCU型号"},
      {"none", 1, "无法识别此MCU"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.chip, c.selected, missing), JobOutcome::IdentifyFailed);
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"正在识别MCU型号...", c.text}));
    ExpectEnded();
  }
  KQ560SimStats stats;
  KQ560SimGetStats(&stats);
  KQ560SimSetFaults(("fail=" + std::to_string(stats.calls + 1)).c_str());
  EXPECT_EQ(Run("MEGA8", 1, missing), JobOutcome::IdentifyFailed);
  EXPECT_EQ(view.statuses.back(), "数据传输失败");
}

TEST_F(DownloadJobTest, WriterOutcomesAndTheirTexts) {
  const std::string image = Raw("img.bin", 3000, 3);
  // Stop pressed while programming.
  view.onAdvance = nullptr;
  KQ560SimAttach(0, "MEGA32");
  app.engine.chipIndex = 3;
  app.eepromTarget = 0;
  std::snprintf(app.filePath, sizeof app.filePath, "%s", image.c_str());
  app.jobHandle = 1;
  view = WindowLikeView();
  view.onAdvance = [&] { app.engine.stopRequest = 1; };
  EXPECT_EQ(DownloadJob(app, view), JobOutcome::WriteFailed);
  EXPECT_EQ(view.statuses.back(), "用户终止");
  ExpectEnded();

  // EEPROM on an AT89S5x part the job was handed: the writer refuses it.
  EXPECT_EQ(Run("AT89S51", 11, image, true), JobOutcome::WriteFailed);
  EXPECT_EQ(view.statuses.back(), "未知错误");

  // A failed transfer keeps the last stage text.
  KQ560SimStats stats;
  KQ560SimGetStats(&stats);
  KQ560SimSetFaults(("fail=" + std::to_string(stats.calls + 40)).c_str());
  EXPECT_EQ(Run("MEGA8", 1, image), JobOutcome::WriteFailed);
  EXPECT_EQ(view.statuses.back(), "正在对MEGA8的FLASH进行编程...");
  ExpectEnded();
}

TEST_F(DownloadJobTest, EepromJobWritesTheEeprom) {
  ASSERT_EQ(Run("MEGA48", 8, Raw("e.bin", 256, 4), true), JobOutcome::Success);
  EXPECT_EQ(view.statuses[1], "正在对MEGA48的EEPROM进行编程...");
  std::vector<uint8_t> eeprom(256);
  KQ560SimReadMemory(0, KQ560SIM_EEPROM, 0, eeprom.data(), 256);
  EXPECT_EQ(eeprom[255], uint8_t(255 * 13 + 4));
}


// Every bridge call of a whole job made to fail in turn, and short and
// corrupted replies: the job never reports success for an image the chip does
// not hold, and always ends idle with its marker cleared.
TEST_F(DownloadJobTest, FaultSweepEndsEveryJobIdleAndNeverFakesSuccess) {
  struct Case {
    const char* chip;
    ChipIndex index;
    int fast;
    bool eeprom;
    uint32_t memory;
  } cases[] = {{"MEGA8", 1, 0, false, KQ560SIM_FLASH},
               {"MEGA8", 1, 1, false, KQ560SIM_FLASH},
               {"AT89S52", 12, 0, false, KQ560SIM_FLASH},
               {"MEGA8", 1, 0, true, KQ560SIM_EEPROM}};
  const std::string image = Raw("sweep.bin", 70, 9);
  for (const Case& c : cases) {
    auto run = [&](const std::string& fault) {
      KQ560SimReset();
      OpenBridge(0, &app.bridge);
      app.engine.fastSpi = c.fast;
      KQ560SimStats stats;
      KQ560SimGetStats(&stats);
      const uint64_t first = stats.calls;
      if (!fault.empty()) KQ560SimSetFaults(fault.c_str());
      const JobOutcome outcome = Run(c.chip, c.index, image, c.eeprom);
      KQ560SimGetStats(&stats);
      return std::make_pair(outcome, stats.calls - first);
    };
    const auto clean = run("");
    ASSERT_EQ(clean.first, JobOutcome::Success);
    const uint64_t total = clean.second;
    for (const char* kind : {"fail", "short", "flip"}) {
      for (uint64_t n = 1; n <= total; ++n) {
        // Calls are counted from the reset; the bridge was opened with 4 of them.
        std::string fault = std::string(kind) + "=" + std::to_string(4 + n);
        if (std::string(kind) == "flip") fault += ":" + std::to_string(n % 32) + ":7";
        SCOPED_TRACE(std::string(c.chip) + (c.fast ? " fast " : " ") + (c.eeprom ? "EEPROM " : "") + fault);
        const JobOutcome outcome = run(fault).first;
        ExpectEnded();
        std::vector<uint8_t> held(70);
        KQ560SimReadMemory(0, c.memory, 0, held.data(), 70);
        if (outcome == JobOutcome::Success) {
          for (uint32_t i = 0; i < 70; ++i) ASSERT_EQ(held[i], uint8_t(i * 13 + 9)) << "byte " << i;
        }
        if (std::string(kind) == "fail") {
          EXPECT_NE(outcome, JobOutcome::Success);
          // The identification text, or the last stage text left standing.
          const std::string& last = view.statuses.back();
          EXPECT_TRUE(last == "数据传输失败" || last == "开始检验下载数据..." ||
                      last.find("进行编程...") != std::string::npos)
              << last;
        }
      }
    }
  }
}

}  // namespace
