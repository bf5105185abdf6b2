#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// Each test works on its own store: a fresh file elsewhere, a scratch
// registry state under wine (the values are removed by overwriting them).
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    dir_ = std::filesystem::temp_directory_path() /
           ("mcufeed-settings-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    file_ = (dir_ / "sub" / "settings").string();
    setenv("MCUFEED_SETTINGS_FILE", file_.c_str(), 1);
#endif
  }
  void TearDown() override {
#ifndef _WIN32
    unsetenv("MCUFEED_SETTINGS_FILE");
    std::filesystem::remove_all(dir_);
#endif
  }
  std::filesystem::path dir_;
  std::string file_;
};

TEST_F(SettingsTest, ValuesSurviveAndKeepTheirDwordMeaning) {
  StoreFastSpiSetting(0);
  StoreChipIndexSetting(11);
  StoreWindowPosition(-5, 700);
  EXPECT_EQ(LoadFastSpiSetting(), 0);
  EXPECT_EQ(LoadChipIndexSetting(), 11);
  int32_t x = 0, y = 0;
  ASSERT_TRUE(LoadWindowPosition(&x, &y));
  EXPECT_EQ(x, -5);  // stored as a DWORD, read back signed for the bounds check
  EXPECT_EQ(y, 700);

  // Overwriting one value leaves the others.
  StoreFastSpiSetting(1);
  EXPECT_EQ(LoadFastSpiSetting(), 1);
  EXPECT_EQ(LoadChipIndexSetting(), 11);

  uint32_t raw = 0;
  ASSERT_TRUE(LoadSettingValue("IniMcuIndex", &raw));
  EXPECT_EQ(raw, 11u);
  StoreChipIndexSetting(0);
}

TEST_F(SettingsTest, ChipIndexBeyondTheListIsReturnedUnchecked) {
  StoreChipIndexSetting(40);
  EXPECT_EQ(LoadChipIndexSetting(), 40);
  StoreChipIndexSetting(0);
}

#ifndef _WIN32
TEST_F(SettingsTest, MissingValuesGiveTheDefaults) {
  EXPECT_EQ(LoadFastSpiSetting(), 1);
  EXPECT_EQ(LoadChipIndexSetting(), kChipAuto);
  int32_t x = 7, y = 7;
  EXPECT_FALSE(LoadWindowPosition(&x, &y));
  // One coordinate alone does not restore the position.
  StoreSettingValue(kSettingX, 10);
  EXPECT_FALSE(LoadWindowPosition(&x, &y));
}

TEST_F(SettingsTest, DamagedLinesAreIgnoredNotTrusted) {
  std::filesystem::create_directories(std::filesystem::path(file_).parent_path());
  {
    std::FILE* f = std::fopen(file_.c_str(), "w");
    std::fputs("garbage\nSPIBit=abc\nIniMcuIndex=5\n=3\nx_pos=99999999999\n", f);
    std::fclose(f);
  }
  EXPECT_EQ(LoadFastSpiSetting(), 1);  // unreadable value: default
  EXPECT_EQ(LoadChipIndexSetting(), 5);
  uint32_t x = 0;
  EXPECT_FALSE(LoadSettingValue(kSettingX, &x));
  StoreFastSpiSetting(0);
  EXPECT_EQ(LoadFastSpiSetting(), 0);
  EXPECT_EQ(LoadChipIndexSetting(), 5);
}
#endif

}  // namespace
