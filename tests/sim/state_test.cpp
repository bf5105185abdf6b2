// State files, the whole-program set-up from the environment, and bridges
// shared with other processes through their state files.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "sim/simulator.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

// An empty value is as good as unset to the simulator.
void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text) + 1); }

Bytes Read(uint32_t slot, uint32_t memory, uint32_t offset, uint32_t length) {
  Bytes b(length);
  return KQ560SimReadMemory(slot, memory, offset, b.data(), length) == length ? b : Bytes();
}

class StateFiles : public ::testing::Test {
 protected:
  // Tests run side by side as processes of their own: each has its own files.
  const std::string path = std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + ".state";
  const std::string path2 = path + "2";
  void SetUp() override { TearDown(); }
  void TearDown() override {
    for (const char* name : {"KQ560SIM_SLOT", "KQ560SIM_VERSION", "KQ560SIM_STATE"})
      SetEnv(name, "");
    KQ560SimReset();
    std::remove(path.c_str());
    std::remove(path2.c_str());
  }
};

TEST_F(StateFiles, BoundFileKeepsTheWholeChipAndOnlyAHeaderTheToolCanMakeIsTrusted) {
  const char* const chip = "avr:1E9A42:2048:32:128:ext";
  ASSERT_TRUE(KQ560SimAttach(0, chip));
  ASSERT_TRUE(KQ560SimBindState(0, path.c_str()));
  const uint8_t last = 0x42;
  ASSERT_EQ(KQ560SimWriteMemory(0, KQ560SIM_FLASH, 2047, &last, 1), 1u);
  ASSERT_EQ(KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 127, &last, 1), 1u);
  ASSERT_TRUE(KQ560SimSetConfig(0, KQ560SIM_EXT, 0xF0));
  ASSERT_TRUE(KQ560SimLoadState(1, path.c_str()));
  KQ560SimTarget target;
  ASSERT_TRUE(KQ560SimGetTarget(1, &target));
  EXPECT_STREQ(target.name, chip);
  EXPECT_EQ(Read(1, KQ560SIM_FLASH, 2047, 1), Bytes{last});
  EXPECT_EQ(Read(1, KQ560SIM_EEPROM, 127, 1), Bytes{last});
  EXPECT_EQ(KQ560SimGetConfig(1, KQ560SIM_EXT), 0xF0);

  std::ifstream in(path, std::ios::binary);
  const Bytes good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(good.size(), 80u + 2048 + 128);
  const struct {
    size_t offset;
    Bytes bytes;
    const char* complaint;
  } cases[] = {
      {34, Text("avr:1E9A42:2048:1:128:ext"), "chip word: bad AVR part"},  // a page of 1 byte
      {12, {2}, "field family is 0x2, avr:1E9A42:2048:32:128:ext has 0x1"},
      {15, {0x43}, "field signature is 0x1E9A43"},
      {16, {0x00, 0x10}, "field flash size is 0x1000"},
      {20, {1}, "field page size is 0x1"},
      {24, {0}, "field EEPROM size is 0x0"},
      {28, {0}, "field extended fuse is 0x0"},
      {29, {0x0F}, "field extended fuse mask is 0xF"},
      {0, {'X'}, "not a kq560sim state file"},
      {8, {2}, "version 2"},
      {good.size(), {0}, "wrong length"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.complaint);
    Bytes bad = good;
    bad.resize(std::max(bad.size(), c.offset + c.bytes.size()));
    std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + c.offset);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bad.data()), bad.size());
    EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed) << "the bridge fails; nothing of the file is used";
    EXPECT_NE(Diagnostic().find(c.complaint), std::string::npos) << Diagnostic();
  }
}

TEST_F(StateFiles, EnvironmentSetsUpSeveralBridgesEachWithItsOwnFile) {
  SetEnv("KQ560SIM_SLOT", "5,2");
  SetEnv("KQ560SIM_VERSION", "0x21");
  SetEnv("KQ560SIM_STATE", (path + "," + path2).c_str());
  ASSERT_TRUE(KQ560SimConfigureFromEnvironment()) << Diagnostic();
  EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed);
  ASSERT_EQ(KQ560OpenDevice(5), 5);
  ASSERT_EQ(KQ560OpenDevice(2), 2);
  EXPECT_EQ(KQ560GetVerIC(2), 0x21u);
  EXPECT_STREQ(KQ560GetDeviceName(2), "KQ560-2");
  const uint8_t byte = 0x42;
  ASSERT_EQ(KQ560SimWriteMemory(2, KQ560SIM_EEPROM, 7, &byte, 1), 1u);
  ASSERT_TRUE(KQ560SimLoadState(9, path2.c_str()));
  EXPECT_EQ(Read(9, KQ560SIM_EEPROM, 7, 1), Bytes{byte});
  ASSERT_TRUE(KQ560SimLoadState(9, path.c_str()));
  EXPECT_EQ(Read(9, KQ560SIM_EEPROM, 7, 1), Bytes{0xFF}) << "the other bridge's chip is untouched";

  // Real time: the program's own sleeps count.
  const uint64_t before = KQ560SimNowUs();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  KQ560GetVerIC(2);
  EXPECT_GE(KQ560SimNowUs() - before, 20000u);

  const char* const bad[][3] = {{"5,2", "a", "names 1 state files for 2 bridges"},  // slots, states, complaint
                                {"3", "a,b", "names 2 state files for 1 bridges"},
                                {"2,2", "a", "KQ560SIM_SLOT"},
                                {"1,x", "a", "KQ560SIM_SLOT"}};
  for (const auto& c : bad) {
    SCOPED_TRACE(c[2]);
    SetEnv("KQ560SIM_SLOT", c[0]);
    SetEnv("KQ560SIM_STATE", c[1]);
    EXPECT_FALSE(KQ560SimConfigureFromEnvironment());
    EXPECT_NE(Diagnostic().find(c[2]), std::string::npos) << Diagnostic();
  }
}

// Another process is another simulator: they share nothing but the state file.
TEST_F(StateFiles, ExclusiveUseElsewhereMakesTheBridgeBusy) {
  kq560sim::Simulator other;
  ASSERT_TRUE(other.BindState(0, path.c_str()));
  ASSERT_TRUE(KQ560SimBindState(0, path.c_str()));
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

}  // namespace
