#include "app/download_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/kq560sim.h"

namespace {

using Texts = std::vector<std::string>;

void VirtualWait(uint32_t ms) { KQ560SimAdvanceMs(ms); }

struct RecordingView : DownloadView {
  ProgressRange QueryProgressRange() override { return {0, 1024}; }
  void SetProgress(int32_t position) override { position_ = position; }
  void AdvanceProgress(int32_t delta) override { position_ = std::min(1024, position_ + delta); }
  void ShowStatus(const char* text) override { statuses.push_back(text); }
  void SetJobControls(bool running) override { controls.push_back(running); }
  Texts statuses;
  std::vector<bool> controls;
  int32_t position_ = 0;
};

// Image byte i of a raw test file.
uint8_t RawByte(size_t i, uint8_t seed) { return uint8_t(i * 13 + seed); }

class DownloadJobTest : public ::testing::Test {
 protected:
  void SetUp() override { SetWaitRoutine(&VirtualWait), std::filesystem::create_directories(dir_); }
  void TearDown() override { SetWaitRoutine(nullptr), std::filesystem::remove_all(dir_); }

  // A fresh bridge and chip; `fault` (e.g. "fail") hits the job's call `n`.
  void Connect(const char* chip, const std::string& fault = "", uint64_t n = 0) {
    KQ560SimReset();
    ASSERT_TRUE(KQ560SimAttach(0, chip));
    ASSERT_TRUE(OpenBridge(0, &app.bridge));
    app.engine.hardwareSpi = 1;
    callsBefore_ = Calls();
    if (fault.empty()) return;
    std::string faults = fault + "=" + std::to_string(callsBefore_ + n);
    if (fault == "flip") faults += ":" + std::to_string(n % 32) + ":7";
    ASSERT_TRUE(KQ560SimSetFaults(faults.c_str()));
  }
  static uint64_t Calls() {
    KQ560SimStats stats;
    return KQ560SimGetStats(&stats), stats.calls;
  }
  // Starts a job the way the window does and runs it on this thread.
  JobOutcome Run(ChipIndex selected, const std::string& path, bool eeprom = false) {
    app.engine.chipIndex = selected;
    app.eepromTarget = eeprom ? 1 : 0;
    app.engine.stopRequest = 0;
    app.jobHandle = 0x1234;
    view = RecordingView();
    const JobOutcome outcome = DownloadJob(app, view, path.c_str(), &loaded);
    // Every job ends the same way, whatever happened, on a final text.
    EXPECT_EQ(view.controls, (std::vector<bool>{true, false}));
    EXPECT_EQ(app.jobHandle.load(), kJobIdle);
    EXPECT_EQ(view.position_, 0);
    EXPECT_NE(view.statuses.back().substr(view.statuses.back().size() - 3), "...") << view.statuses.back();
    return outcome;
  }
  std::string File(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return (dir_ / name).u8string();
  }
  std::string Raw(const std::string& name, size_t size, uint8_t seed) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i) bytes += char(RawByte(i, seed));
    return File(name, bytes);
  }
  std::vector<uint8_t> Memory(uint32_t memory, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    return KQ560SimReadMemory(0, memory, 0, bytes.data(), size), bytes;
  }

  AppState app;
  RecordingView view;
  ProgramImage loaded{};
  std::filesystem::path dir_ = std::filesystem::temp_directory_path() /
      ("mcufeed-job-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  uint64_t callsBefore_ = 0;
};

// The success counts the effective length: 16-byte records of 0..15 at
// 0x0000 and 0x1000 make 0x1010 = 4112 bytes, not 32.
TEST_F(DownloadJobTest, StagesOfASuccessfulJobNameTheRecognisedChipAndCountTheEffectiveLength) {
  const std::string text = ":10000000000102030405060708090A0B0C0D0E0F78\r\n:10100000000102030405060708090A0B0C0D0E0F68\r\n";
  Connect("MEGA16");
  ASSERT_EQ(Run(kChipAuto, File("gaps.HEX", text + ":00000001FF\r\n")), JobOutcome::Success);
  EXPECT_EQ(view.statuses, (Texts{"正在识别MCU型号...", "正在进行文件转换...", "正在对MEGA16的FLASH进行编程...",
                                  "开始检验下载数据...", "下载成功,共下载4112字节"}));
  EXPECT_EQ(app.engine.chipIndex.load(), 2);
  EXPECT_EQ(Memory(KQ560SIM_FLASH, 0x1010).back(), 15);
  EXPECT_TRUE(loaded.hex && loaded.length == 0x1010 && loaded.data[0x100F] == 15);  // the image handed back
}

TEST_F(DownloadJobTest, RawFileIsPaddedWithErasedBytesNotAnEarlierFile) {
  Connect("MEGA8");  // a longer file first, so its bytes sit in the buffer past the shorter one
  ASSERT_EQ(Run(1, Raw("long.bin", 4096, 1)), JobOutcome::Success);
  ASSERT_EQ(Run(1, Raw("short.bin", 1000, 2)), JobOutcome::Success);
  EXPECT_EQ(view.statuses.back(), "下载成功,共下载1000字节");
  const auto flash = Memory(KQ560SIM_FLASH, 1088);
  EXPECT_EQ(std::count(flash.begin() + 1000, flash.end(), 0xFF), 88) << "the rest reads as erased";
}

// Each way a job can fail, with the status text it ends on. A failed
// identification names a missing file: opening it would change the text.
TEST_F(DownloadJobTest, FailuresEndOnTheirText) {
  struct Case { const char* chip; ChipIndex selected; std::string path; bool eeprom; JobOutcome outcome; const char* text; } cases[] = {
      {"avr:1E950F:32768:128:1024", kChipAuto, "missing.hex", false, JobOutcome::IdentifyFailed, "不支持此MCU"},
      {"none", 1, "missing.hex", false, JobOutcome::IdentifyFailed, "无法识别此MCU"},
      {"MEGA8", 1, File("empty.bin", ""), false, JobOutcome::FileFailed, "文件大小错误"},
      // Exactly 1 MiB is a valid file size; it is only too long for the chip.
      {"MEGA8", 1, Raw("max.bin", 0x100000, 0), false, JobOutcome::WriteFailed, "下载文件有效长度超出芯片容量"},
      {"AT89S51", 11, Raw("img.bin", 300, 3), true, JobOutcome::WriteFailed, "未知错误"},
  };
  for (const Case& c : cases) {
    Connect(c.chip);
    EXPECT_EQ(Run(c.selected, c.path, c.eeprom), c.outcome) << c.text;
    EXPECT_EQ(view.statuses.back(), c.text);
  }
}

// Every bridge call of a whole job made to fail in turn, and short and
// corrupted replies: the job never reports success for an image the chip does
// not hold, and every failed call, in identification, programming or
// verification, ends on "数据传输失败" (Run checks the rest of the ending).
TEST_F(DownloadJobTest, FaultSweepNeverFakesSuccessAndEndsOnAFinalText) {
  struct Case { const char* chip; ChipIndex index; int fast; bool eeprom; } cases[] = {
      {"MEGA8", 1, 0, false}, {"MEGA8", 1, 1, false}, {"AT89S52", 12, 0, false}, {"MEGA8", 1, 0, true}};
  const std::string image = Raw("sweep.bin", 70, 9);
  for (const Case& c : cases) {
    app.engine.fastSpi = c.fast;
    Connect(c.chip);
    ASSERT_EQ(Run(c.index, image, c.eeprom), JobOutcome::Success);
    const uint64_t total = Calls() - callsBefore_;
    for (const char* kind : {"fail", "short", "flip"}) {
      for (uint64_t n = 1; n <= total; ++n) {
        SCOPED_TRACE(std::string(c.chip) + (c.fast ? " fast " : " ") + (c.eeprom ? "EEPROM " : "") + kind +
                     " " + std::to_string(n));
        Connect(c.chip, kind, n);
        const JobOutcome outcome = Run(c.index, image, c.eeprom);
        if (outcome == JobOutcome::Success) {
          const auto held = Memory(c.eeprom ? KQ560SIM_EEPROM : KQ560SIM_FLASH, 70);
          for (uint32_t i = 0; i < 70; ++i) ASSERT_EQ(held[i], RawByte(i, 9)) << "byte " << i;
        }
        if (std::string(kind) == "fail") {
          EXPECT_NE(outcome, JobOutcome::Success);
          EXPECT_EQ(view.statuses.back(), "数据传输失败");
        }
      }
    }
  }
}

}  // namespace
