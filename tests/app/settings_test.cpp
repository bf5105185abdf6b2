#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// Each test works on its own store: a fresh file elsewhere, or under wine the
// registry key, whose values each test overwrites before it reads them. (The
// registry's type check: see the window's tests.)
class SettingsTest : public ::testing::Test {
 protected:
#ifndef _WIN32
  void SetUp() override { setenv("MCUFEED_SETTINGS_FILE", file_.c_str(), 1); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  const std::filesystem::path dir_ = std::filesystem::temp_directory_path() /
      ("mcufeed-settings-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  const std::string file_ = (dir_ / "sub" / "settings").string();  // its folders made as needed
#endif
};

TEST_F(SettingsTest, ValuesSurviveAndKeepTheirDwordMeaning) {
  StoreFastSpiSetting(0);
  StoreChipIndexSetting(40);  // beyond the list: returned unchecked
  StoreWindowPosition(-5, 700);
  StoreFastSpiSetting(1);     // overwriting one value leaves the others
  EXPECT_EQ(LoadFastSpiSetting(), 1);
  EXPECT_EQ(LoadChipIndexSetting(), 40);
  int32_t x = 0, y = 0;
  ASSERT_TRUE(LoadWindowPosition(&x, &y));
  EXPECT_EQ(x, -5);  // stored as a DWORD, read back signed for the bounds check
  EXPECT_EQ(y, 700);
  StoreChipIndexSetting(0);
}

#ifndef _WIN32
TEST_F(SettingsTest, MissingOrDamagedValuesGiveTheDefaults) {
  EXPECT_EQ(LoadFastSpiSetting(), 1);
  EXPECT_EQ(LoadChipIndexSetting(), kChipAuto);
  int32_t x = 7, y = 7;
  StoreSettingValue(kSettingX, 10);  // one coordinate alone does not restore the position
  EXPECT_FALSE(LoadWindowPosition(&x, &y));
  std::FILE* f = std::fopen(file_.c_str(), "w");
  std::fputs("garbage\nSPIBit=abc\nIniMcuIndex=5\n=3\nx_pos=99999999999\ny_pos=-1\n", f);
  std::fclose(f);
  EXPECT_EQ(LoadFastSpiSetting(), 1);
  EXPECT_FALSE(LoadWindowPosition(&x, &y));
  StoreFastSpiSetting(0);
  EXPECT_EQ(LoadFastSpiSetting(), 0);
  EXPECT_EQ(LoadChipIndexSetting(), 5);  // the good line survived the rewrite
}
#endif

}  // namespace
