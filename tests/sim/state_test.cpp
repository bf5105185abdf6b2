// State files and the whole-program set-up from the environment.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "sim_test_support.h"

using namespace simtest;

namespace {

const char* const kPath = "sim_state_test_a.bin";
const char* const kOther = "sim_state_test_b.bin";

bool Exists(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

class StateFiles : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    for (const char* name : {"KQ560SIM_SLOT", "KQ560SIM_VERSION", "KQ560SIM_STATE", "KQ560SIM_FAULT"})
      SetEnv(name, nullptr);
    KQ560SimReset();
    std::remove(kPath);
    std::remove(kOther);
  }
  static Bytes Read(uint32_t slot, uint32_t memory, uint32_t offset, uint32_t length) {
    Bytes b(length);
    return KQ560SimReadMemory(slot, memory, offset, b.data(), length) == length ? b : Bytes();
  }
};

TEST_F(StateFiles, RoundTripKeepsChipMemoriesAndConfiguration) {
  struct Case {
    const char* chip;
    uint32_t which;
    uint8_t value;
  };
  for (const Case& c : {Case{"MEGA16", KQ560SIM_LOCK, 0xFC}, Case{"avr:1E9A42:2048:32:128:ext", KQ560SIM_EXT, 0xF0},
                        Case{"AT89S51", KQ560SIM_LOCK, 0x04}}) {
    SCOPED_TRACE(c.chip);
    KQ560SimReset();
    ASSERT_TRUE(KQ560SimAttach(0, c.chip));
    const Bytes data = {1, 2, 3, 4, 5, 0xFF, 0};
    ASSERT_EQ(KQ560SimWriteMemory(0, KQ560SIM_FLASH, 1000, data.data(), 7), 7u);
    KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 100, data.data(), 7);
    ASSERT_TRUE(KQ560SimSetConfig(0, c.which, c.value));
    ASSERT_TRUE(KQ560SimSaveState(0, kPath));

    KQ560SimReset();
    ASSERT_TRUE(KQ560SimLoadState(0, kPath));
    KQ560SimTarget t;
    ASSERT_TRUE(KQ560SimGetTarget(0, &t));
    EXPECT_STREQ(t.name, c.chip);
    EXPECT_EQ(Read(0, KQ560SIM_FLASH, 1000, 7), data);
    if (t.eepromSize) {
      EXPECT_EQ(Read(0, KQ560SIM_EEPROM, 100, 7), data);
    }
    EXPECT_EQ(KQ560SimGetConfig(0, c.which), c.value);
  }
}

TEST_F(StateFiles, BoundFileFollowsEveryChangeAndIsLoadedAtOpen) {
  ASSERT_TRUE(KQ560SimBindState(0, kPath));
  ASSERT_TRUE(Exists(kPath)) << "a missing file is created from the target";
  ASSERT_EQ(KQ560OpenDevice(0), 0);
  EnterAvr();
  ASSERT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00)[2], 0x53);
  Avr(0xC0, 0x00, 0x05, 0xA5);  // one EEPROM byte, written by an instruction
  ASSERT_TRUE(KQ560SimLoadState(1, kPath));
  EXPECT_EQ(Read(1, KQ560SIM_EEPROM, 5, 1), Bytes{0xA5});

  // The file is the chip's home: replacing it takes effect at the next open.
  ASSERT_TRUE(KQ560SimAttach(2, "MEGA32"));
  ASSERT_TRUE(KQ560SimSaveState(2, kPath));
  ASSERT_EQ(KQ560CloseDevice(0), 1u);
  ASSERT_EQ(KQ560OpenDevice(0), 0);
  KQ560SimTarget t;
  ASSERT_TRUE(KQ560SimGetTarget(0, &t));
  EXPECT_STREQ(t.name, "MEGA32");
}

TEST_F(StateFiles, EnvironmentSetsUpWholeProgramRuns) {
  SetEnv("KQ560SIM_SLOT", "3");
  SetEnv("KQ560SIM_VERSION", "0x21");
  SetEnv("KQ560SIM_STATE", kPath);
  SetEnv("KQ560SIM_FAULT", "fail=4");
  ASSERT_TRUE(KQ560SimConfigureFromEnvironment()) << Diagnostic();
  EXPECT_FALSE(Exists(kPath)) << "the state is loaded when the bridge opens";
  EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed);
  EXPECT_EQ(KQ560OpenDevice(3), 3);
  EXPECT_EQ(KQ560GetVerIC(3), 0x21u);
  EXPECT_EQ(KQ560SetExclusive(3, 1), 0u) << "call 4 fails";
  ASSERT_TRUE(KQ560SimLoadState(5, kPath));
  KQ560SimTarget t;
  ASSERT_TRUE(KQ560SimGetTarget(5, &t));
  EXPECT_STREQ(t.name, "MEGA8");

  // Real time: the program's own sleeps count.
  const uint64_t before = KQ560SimNowUs();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  KQ560GetVerIC(3);
  EXPECT_GE(KQ560SimNowUs() - before, 20000u);

  SetEnv("KQ560SIM_SLOT", "16");
  SetEnv("KQ560SIM_FAULT", "fail=x");
  EXPECT_FALSE(KQ560SimConfigureFromEnvironment());
  EXPECT_NE(Diagnostic().find("KQ560SIM_FAULT"), std::string::npos);
  EXPECT_EQ(KQ560OpenDevice(0), 0) << "a bad slot falls back to 0";
}

TEST_F(StateFiles, UnreadableStateFileFailsTheOpen) {
  std::FILE* f = std::fopen(kPath, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("not a chip", f);
  std::fclose(f);
  EXPECT_FALSE(KQ560SimBindState(0, kPath));
  EXPECT_FALSE(KQ560SimLoadState(0, kPath));
  SetEnv("KQ560SIM_STATE", kPath);
  ASSERT_TRUE(KQ560SimConfigureFromEnvironment());
  EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed);
  EXPECT_NE(Diagnostic().find("not a kq560sim state file"), std::string::npos) << Diagnostic();
}

}  // namespace
