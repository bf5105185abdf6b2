// State files and the whole-program set-up from the environment.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "sim/simulator.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

const char* const kPath = "sim_state_test.bin";
const char* const kPath2 = "sim_state_test2.bin";

void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value ? value : "");
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

Bytes Read(uint32_t slot, uint32_t memory, uint32_t offset, uint32_t length) {
  Bytes b(length);
  return KQ560SimReadMemory(slot, memory, offset, b.data(), length) == length ? b : Bytes();
}

class StateFiles : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    for (const char* name : {"KQ560SIM_SLOT", "KQ560SIM_VERSION", "KQ560SIM_STATE", "KQ560SIM_FAULT"})
      SetEnv(name, nullptr);
    KQ560SimReset();
    std::remove(kPath);
    std::remove(kPath2);
  }
};

TEST_F(StateFiles, SaveAndLoadKeepTheWholeChip) {
  ASSERT_TRUE(KQ560SimAttach(0, "avr:1E9A42:2048:32:128:ext"));
  const Bytes data = {1, 2, 3, 4, 5, 0xFF, 0};
  ASSERT_EQ(KQ560SimWriteMemory(0, KQ560SIM_FLASH, 2041, data.data(), 7), 7u);
  ASSERT_EQ(KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 121, data.data(), 7), 7u);
  ASSERT_TRUE(KQ560SimSetConfig(0, KQ560SIM_EXT, 0xF0));
  ASSERT_TRUE(KQ560SimSaveState(0, kPath));
  ASSERT_TRUE(KQ560SimLoadState(1, kPath));
  KQ560SimTarget target;
  ASSERT_TRUE(KQ560SimGetTarget(1, &target));
  EXPECT_STREQ(target.name, "avr:1E9A42:2048:32:128:ext");
  EXPECT_EQ(Read(1, KQ560SIM_FLASH, 2041, 7), data);
  EXPECT_EQ(Read(1, KQ560SIM_EEPROM, 121, 7), data);
  EXPECT_EQ(KQ560SimGetConfig(1, KQ560SIM_EXT), 0xF0);
}

TEST_F(StateFiles, BoundFileFollowsEveryChange) {
  ASSERT_TRUE(KQ560SimBindState(0, kPath));
  ASSERT_TRUE(KQ560SimLoadState(1, kPath)) << "a missing file is created from the target";
  ASSERT_EQ(KQ560OpenDevice(0), 0);
  EnterAvr();
  ASSERT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00)[2], 0x53);
  Avr(0xC0, 0x00, 0x05, 0xA5);  // one EEPROM byte, written by an instruction
  ASSERT_TRUE(KQ560SimLoadState(1, kPath));
  EXPECT_EQ(Read(1, KQ560SIM_EEPROM, 5, 1), Bytes{0xA5});
}

TEST_F(StateFiles, EnvironmentSetsUpWholeProgramRuns) {
  SetEnv("KQ560SIM_SLOT", "3");
  SetEnv("KQ560SIM_VERSION", "0x21");
  SetEnv("KQ560SIM_STATE", kPath);
  SetEnv("KQ560SIM_FAULT", "fail=4");
  ASSERT_TRUE(KQ560SimConfigureFromEnvironment()) << Diagnostic();
  EXPECT_FALSE(KQ560SimLoadState(5, kPath)) << "the state file is made when the bridge opens";
  EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed);
  EXPECT_EQ(KQ560OpenDevice(3), 3);
  EXPECT_EQ(KQ560GetVerIC(3), 0x21u);
  EXPECT_EQ(KQ560SetExclusive(3, 1), 0u) << "call 4 fails";
  EXPECT_TRUE(KQ560SimLoadState(5, kPath));

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

  // A state file that is not one fails the open.
  std::FILE* f = std::fopen(kPath, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("not a chip", f);
  std::fclose(f);
  ASSERT_EQ(KQ560CloseDevice(0), 1u);
  EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed);
  EXPECT_NE(Diagnostic().find("not a kq560sim state file"), std::string::npos) << Diagnostic();
}

TEST_F(StateFiles, SeveralBridgesEachWithItsOwnStateFile) {
  SetEnv("KQ560SIM_SLOT", "5,2");
  SetEnv("KQ560SIM_STATE", (std::string(kPath) + "," + kPath2).c_str());
  ASSERT_TRUE(KQ560SimConfigureFromEnvironment()) << Diagnostic();
  EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed);
  ASSERT_EQ(KQ560OpenDevice(5), 5);
  ASSERT_EQ(KQ560OpenDevice(2), 2);
  EXPECT_STREQ(KQ560GetDeviceName(2), "KQ560-2");
  const uint8_t byte = 0x42;
  ASSERT_EQ(KQ560SimWriteMemory(2, KQ560SIM_EEPROM, 7, &byte, 1), 1u);
  ASSERT_TRUE(KQ560SimLoadState(9, kPath2));
  EXPECT_EQ(Read(9, KQ560SIM_EEPROM, 7, 1), Bytes{byte});
  ASSERT_TRUE(KQ560SimLoadState(9, kPath));
  EXPECT_EQ(Read(9, KQ560SIM_EEPROM, 7, 1), Bytes{0xFF}) << "the other bridge's chip is untouched";

  const struct {
    const char *slots, *states, *complaint;
  } bad[] = {{"5,2", kPath, "names 1 state files for 2 bridges"},
             {"3", "a,b", "names 2 state files for 1 bridges"},
             {"2,2", "a", "KQ560SIM_SLOT"},
             {"2,", "a", "KQ560SIM_SLOT"}};
  for (const auto& c : bad) {
    SCOPED_TRACE(c.slots);
    SetEnv("KQ560SIM_SLOT", c.slots);
    SetEnv("KQ560SIM_STATE", c.states);
    EXPECT_FALSE(KQ560SimConfigureFromEnvironment());
    EXPECT_NE(Diagnostic().find(c.complaint), std::string::npos) << Diagnostic();
  }
}

// Another process is another simulator: they share nothing but the state file.
TEST_F(StateFiles, ExclusiveUseElsewhereMakesTheBridgeBusy) {
  kq560sim::Simulator other;
  ASSERT_TRUE(other.BindState(0, kPath));
  ASSERT_TRUE(KQ560SimBindState(0, kPath));
  ASSERT_EQ(other.Open(0), 0);
  ASSERT_EQ(KQ560OpenDevice(0), 0) << "opened without exclusive use: shared";
  ASSERT_EQ(KQ560CloseDevice(0), 1u);
  ASSERT_EQ(other.SetExclusive(0, 1), 1u);
  EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed);
  EXPECT_NE(Diagnostic().find("another process"), std::string::npos) << Diagnostic();
  EXPECT_STREQ(KQ560GetDeviceName(0), "KQ560-0") << "busy, not gone";
  ASSERT_EQ(other.Close(0), 1u);
  ASSERT_EQ(KQ560OpenDevice(0), 0);

  // Exclusive use taken elsewhere between our open and ours: we never had it.
  ASSERT_EQ(other.Open(0), 0);
  ASSERT_EQ(other.SetExclusive(0, 1), 1u);
  EXPECT_EQ(KQ560SetExclusive(0, 1), 0u);
  EXPECT_EQ(KQ560GetVerIC(0), 0u) << "the bridge was closed";
  ASSERT_EQ(other.SetExclusive(0, 0), 1u);
  ASSERT_EQ(KQ560OpenDevice(0), 0);
  ASSERT_EQ(KQ560SetExclusive(0, 1), 1u);
  EXPECT_EQ(other.Open(0), -1) << "and the other way round";
}

// A hung call gives the simulator's lock up: another thread still uses the
// library and ends the process, and the process's exclusive lock ends with it.
TEST_F(StateFiles, HungCallLeavesTheLibraryUsableAndTheProcessAbleToEnd) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ASSERT_TRUE(KQ560SimBindState(0, kPath));
  ASSERT_EQ(KQ560OpenDevice(0), 0);
  EXPECT_EXIT(
      {
        KQ560SetExclusive(0, 1);
        KQ560SimSetFaults("hang=3");
        std::thread([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          std::thread([] {
            std::this_thread::sleep_for(std::chrono::seconds(5));
            std::_Exit(8);  // the library stayed locked
          }).detach();
          std::_Exit(KQ560GetDeviceName(0) && KQ560SimIsOpen(0) ? 7 : 9);
        }).detach();
        KQ560GetVerIC(0);
        std::_Exit(10);  // it returned
      },
      ::testing::ExitedWithCode(7), "");
  kq560sim::Simulator other;
  ASSERT_TRUE(other.BindState(0, kPath));
  ASSERT_EQ(other.Open(0), 0);
  EXPECT_EQ(other.SetExclusive(0, 1), 1u);
}

}  // namespace
