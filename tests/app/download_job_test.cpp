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

using Texts = std::vector<std::string>;

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
  Texts statuses;
  std::vector<bool> controls;
  std::function<void()> onAdvance;
  int32_t position_ = 0;
};

// Image byte i of a raw test file.
uint8_t RawByte(size_t i, uint8_t seed) { return uint8_t(i * 13 + seed); }

class DownloadJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetWaitRoutine(&VirtualWait);
    dir_ = std::filesystem::temp_directory_path() /
           ("mcufeed-job-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    SetWaitRoutine(nullptr);
    std::filesystem::remove_all(dir_);
  }

  // A fresh bridge and chip, with call `failingCall` of the job (if any) made to fail.
  void Connect(const char* chip, const std::string& faultKind = "", uint64_t failingCall = 0) {
    KQ560SimReset();
    ASSERT_TRUE(KQ560SimAttach(0, chip));
    ASSERT_TRUE(OpenBridge(0, &app.bridge));
    app.engine.hardwareSpi = 1;
    KQ560SimStats stats;
    KQ560SimGetStats(&stats);
    callsBefore_ = stats.calls;
    if (failingCall) {
      std::string fault = faultKind + "=" + std::to_string(callsBefore_ + failingCall);
      if (faultKind == "flip") fault += ":" + std::to_string(failingCall % 32) + ":7";
      ASSERT_TRUE(KQ560SimSetFaults(fault.c_str()));
    }
  }
  uint64_t JobCalls() {
    KQ560SimStats stats;
    KQ560SimGetStats(&stats);
    return stats.calls - callsBefore_;
  }
  // Starts a job the way the window does and runs it on this thread.
  JobOutcome Run(ChipIndex selected, const std::string& path, bool eeprom = false) {
    app.engine.chipIndex = selected;
    app.eepromTarget = eeprom ? 1 : 0;
    app.engine.stopRequest = 0;
    app.jobHandle = 0x1234;
    view = WindowLikeView();
    const JobOutcome outcome = DownloadJob(app, view, path.c_str());
    // Every job ends the same way, whatever happened.
    EXPECT_EQ(view.controls, (std::vector<bool>{true, false}));
    EXPECT_EQ(app.jobHandle.load(), kJobIdle);
    EXPECT_EQ(view.position_, 0);
    return outcome;
  }
  std::string File(const std::string& name, const std::string& bytes) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.u8string();
  }
  std::string Raw(const std::string& name, size_t size, uint8_t seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char(RawByte(i, seed));
    return File(name, bytes);
  }
  std::vector<uint8_t> Memory(uint32_t memory, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    KQ560SimReadMemory(0, memory, 0, bytes.data(), size);
    return bytes;
  }

  AppState app;
  WindowLikeView view;
  std::filesystem::path dir_;
  uint64_t callsBefore_ = 0;
};

TEST_F(DownloadJobTest, StagesOfASuccessfulJobNameTheRecognisedChip) {
  Connect("MEGA16");
  ASSERT_EQ(Run(kChipAuto, File("a.hex", ":0400000001020304F2\r\n:00000001FF\r\n")), JobOutcome::Success);
  EXPECT_EQ(view.statuses, (Texts{"正在识别MCU型号...", "正在进行文件转换...", "正在对MEGA16的FLASH进行编程...",
                                  "开始检验下载数据...", "下载成功,共下载4字节"}));
  EXPECT_EQ(app.engine.chipIndex.load(), 2);

  Connect("MEGA48");
  ASSERT_EQ(Run(8, Raw("e.bin", 256, 4), true), JobOutcome::Success);
  EXPECT_EQ(view.statuses[1], "正在对MEGA48的EEPROM进行编程...");
  EXPECT_EQ(Memory(KQ560SIM_EEPROM, 256)[255], RawByte(255, 4));
}

TEST_F(DownloadJobTest, SuccessCountsTheEffectiveLengthOfAHexFile) {
  // Records at 0x0000-0x00FF and 0x1000-0x100F: 0x1010 = 4112, not 272.
  std::string text;
  for (int address : {0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0,
                      0xF0, 0x1000}) {
    char line[64];
    int sum = 16 + (address >> 8) + (address & 0xFF);
    int n = std::snprintf(line, sizeof line, ":10%04X00", address);
    for (int i = 0; i < 16; ++i) {
      n += std::snprintf(line + n, sizeof line - n, "%02X", i);
      sum += i;
    }
    std::snprintf(line + n, sizeof line - n, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
  }
  Connect("MEGA8");
  ASSERT_EQ(Run(1, File("gaps.HEX", text + ":00000001FF\r\n")), JobOutcome::Success);
  EXPECT_EQ(view.statuses.back(), "下载成功,共下载4112字节");
  const auto flash = Memory(KQ560SIM_FLASH, 8192);
  EXPECT_EQ(flash[0x100F], 15);
  EXPECT_EQ(flash[0x0200], 0xFF);
}

TEST_F(DownloadJobTest, RawFileIsPaddedWithErasedBytesNotAnEarlierFile) {
  // A longer file first, so its bytes sit in the buffer past the shorter one.
  Connect("MEGA8");
  ASSERT_EQ(Run(1, Raw("long.bin", 4096, 1)), JobOutcome::Success);
  ASSERT_EQ(Run(1, Raw("short.bin", 1000, 2)), JobOutcome::Success);
  EXPECT_EQ(view.statuses.back(), "下载成功,共下载1000字节");
  const auto flash = Memory(KQ560SIM_FLASH, 1088);
  EXPECT_EQ(flash[999], RawByte(999, 2));
  EXPECT_EQ(flash, [&] {
    auto expected = flash;
    std::fill(expected.begin() + 1000, expected.end(), 0xFF);
    return expected;
  }()) << "the rest of the last page and beyond reads 0xFF";
}

TEST_F(DownloadJobTest, FileKindIsDecidedByTheNameOnly) {
  const std::string hexText = ":0100000055AA\r\n:00000001FF\r\n";
  for (const char* name : {"p.hex", "P.HEX", "proghex", "p.bin", "p.ihx", "p.hex.bin"}) {
    Connect("MEGA8");
    ASSERT_EQ(Run(1, File(name, hexText)), JobOutcome::Success) << name;
    const bool hex = std::string(name).find("bin") == std::string::npos && std::string(name) != "p.ihx";
    EXPECT_EQ(Memory(KQ560SIM_FLASH, 1)[0], hex ? 0x55 : ':') << name;
  }
}

// Each way a job can fail, with the status text it ends on.
TEST_F(DownloadJobTest, FailuresEndOnTheirText) {
  struct Case {
    const char* chip;
    ChipIndex selected;
    std::string path;
    bool eeprom;
    const char* fault;  // job call made to fail, e.g. "fail=1"
    JobOutcome outcome;
    const char* text;
  } cases[] = {
      {"avr:1E950F:32768:128:1024", kChipAuto, "missing.hex", false, "", JobOutcome::IdentifyFailed, "不支持此MCU"},
      {"MEGA16", 1, "missing.hex", false, "", JobOutcome::IdentifyFailed, "错误的MCU型号"},
      {"none", 1, "missing.hex", false, "", JobOutcome::IdentifyFailed, "无法识别此MCU"},
      {"MEGA8", 1, "missing.hex", false, "fail=1", JobOutcome::IdentifyFailed, "数据传输失败"},
      {"MEGA8", 1, (dir_ / "missing.bin").u8string(), false, "", JobOutcome::FileFailed, "打开文件失败"},
      {"MEGA8", 1, File("empty.bin", ""), false, "", JobOutcome::FileFailed, "文件大小错误"},
      {"MEGA8", 1, Raw("huge.bin", 0x100001, 0), false, "", JobOutcome::FileFailed, "文件大小错误"},
      {"MEGA8", 1, File("bad.hex", ":0100000055AB\r\n:00000001FF\r\n"), false, "", JobOutcome::HexFailed,
       "错误的HEX文件"},
      {"MEGA8", 1, File("lf.hex", ":0100000055AA\n:00000001FF\n"), false, "", JobOutcome::HexFailed, "错误的HEX文件"},
      // Exactly 1 MiB is a valid file size; it is only too long for the chip.
      {"MEGA8", 1, Raw("max.bin", 0x100000, 0), false, "", JobOutcome::WriteFailed, "下载文件有效长度超出芯片容量"},
      {"AT89S51", 11, Raw("img.bin", 300, 3), true, "", JobOutcome::WriteFailed, "未知错误"},
      {"MEGA8", 1, Raw("img.bin", 300, 3), false, "fail=40", JobOutcome::WriteFailed, "数据传输失败"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.chip) + " " + c.path + " " + c.fault);
    const std::string fault = c.fault;
    if (fault.empty()) {
      Connect(c.chip);
    } else {
      Connect(c.chip, fault.substr(0, 4), std::stoull(fault.substr(5)));
    }
    EXPECT_EQ(Run(c.selected, c.path, c.eeprom), c.outcome);
    EXPECT_EQ(view.statuses.back(), c.text);
    if (c.outcome == JobOutcome::IdentifyFailed) {
      EXPECT_EQ(view.statuses.size(), 2u) << "the file is not opened";
    }
  }
}

TEST_F(DownloadJobTest, StopWhileProgrammingEndsTheJobAsStopped) {
  Connect("MEGA32");
  view.onAdvance = [&] { app.engine.stopRequest = 1; };
  app.engine.chipIndex = 3;
  app.jobHandle = 1;
  EXPECT_EQ(DownloadJob(app, view, Raw("img.bin", 3000, 3).c_str()), JobOutcome::WriteFailed);
  EXPECT_EQ(view.statuses.back(), "用户终止");
  EXPECT_EQ(app.jobHandle.load(), kJobIdle);
}

// Every bridge call of a whole job made to fail in turn, and short and
// corrupted replies: the job never reports success for an image the chip does
// not hold, and always ends idle with its marker cleared (checked by Run).
TEST_F(DownloadJobTest, FaultSweepNeverFakesSuccess) {
  struct Case {
    const char* chip;
    ChipIndex index;
    int fast;
    bool eeprom;
  } cases[] = {{"MEGA8", 1, 0, false}, {"MEGA8", 1, 1, false}, {"AT89S52", 12, 0, false}, {"MEGA8", 1, 0, true}};
  const std::string image = Raw("sweep.bin", 70, 9);
  for (const Case& c : cases) {
    app.engine.fastSpi = c.fast;
    Connect(c.chip);
    ASSERT_EQ(Run(c.index, image, c.eeprom), JobOutcome::Success);
    const uint64_t total = JobCalls();
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
          const std::string& last = view.statuses.back();
          EXPECT_EQ(last, "数据传输失败");
        }
      }
    }
  }
}

}  // namespace
