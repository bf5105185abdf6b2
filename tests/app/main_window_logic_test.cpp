#include "app/main_window_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "resources/resource.h"

namespace {

TEST(MainWindowRules, StartActionsAndPlugNotices) {
  // Only command-line mode acts.
  EXPECT_EQ(CommandLineStartAction(0, kCommandOpWriteFlash), StartAction::None);
  EXPECT_EQ(CommandLineStartAction(1, kCommandOpWriteFlash), StartAction::Download);
  EXPECT_EQ(CommandLineStartAction(1, kCommandOpWriteEeprom), StartAction::EepromDownload);
  EXPECT_EQ(CommandLineStartAction(1, kCommandOpReset), StartAction::Reset);
  EXPECT_EQ(CommandLineStartAction(1, 0x4142), StartAction::None);
  // An arrival scans only without a bridge; other events probe only with one.
  EXPECT_EQ(PlugNoticeAction(3, false), PlugAction::ScanSlots);
  EXPECT_EQ(PlugNoticeAction(3, true), PlugAction::None);
  EXPECT_EQ(PlugNoticeAction(4, true), PlugAction::ProbeOpenSlot);
  EXPECT_EQ(PlugNoticeAction(0, true), PlugAction::ProbeOpenSlot);
  EXPECT_EQ(PlugNoticeAction(4, false), PlugAction::None);
}

TEST(MainWindowRules, OnlyAnExactlyCheckedFastSpiItemTurnsTheModeOff) {
  constexpr uint32_t kChecked = 0x8, kGrayedDisabled = 0x3;
  EXPECT_EQ(FastSpiAfterToggle(kChecked, kChecked), 0);
  for (uint32_t state : {0u, kGrayedDisabled, kChecked | kGrayedDisabled})
    EXPECT_EQ(FastSpiAfterToggle(state, kChecked), 1) << state;
}

TEST(WindowTitle, NamesTheFileAfterTheLastBackslashCutToTheBuffer) {
  for (auto [path, name] : {std::pair<const char*, const char*>{"D:\\work\\led.hex", "led.hex"}, {"LED.HEX", "LED.HEX"},
                            {"D:/work/led.hex", "D:/work/led.hex"}, {"D:\\work\\", ""}, {"D:\\工程\\灯.hex", "灯.hex"}})
    EXPECT_STREQ(FileNameOfPath(path), name) << path;
  char title[64];
  FormatFileTitle("D:\\work\\led.hex", title, sizeof title);
  EXPECT_STREQ(title, "MCUFEED V1.3 - [led.hex]");
  FormatPlainTitle(title, sizeof title);
  EXPECT_STREQ(title, "MCUFEED V1.3 - www.example.invalid");
  FormatFileTitle("C:\\a-very-long-file-name.hex", title, 20);
  EXPECT_STREQ(title, "MCUFEED V1.3 - [a-v");
}

using States = std::map<int, bool>;
States ToStates(const ControlEnable* changes, int count) {
  States states;
  for (int i = 0; i < count; ++i) states[changes[i].controlId] = changes[i].enabled;
  return states;
}

TEST(ControlStates, BridgeOutcomesAndTheJobEachSetTheirOwnControls) {
  // The EEPROM box's two rules differ only for no selection (-1).
  for (int32_t chip : {0, 10}) EXPECT_TRUE(EepromBoxEnabledUnsigned(chip) && EepromBoxEnabledSigned(chip)) << chip;
  for (int32_t chip : {11, 12, 13}) EXPECT_FALSE(EepromBoxEnabledUnsigned(chip) || EepromBoxEnabledSigned(chip)) << chip;
  EXPECT_FALSE(EepromBoxEnabledUnsigned(-1));
  EXPECT_TRUE(EepromBoxEnabledSigned(-1));
  ControlEnable c[kMaxControlChanges];
  const States noBridge = {{IDC_DOWNLOAD, false}, {IDC_CONFIGURE, false}, {IDC_RESET, false}, {IDC_BROWSE, false}};
  EXPECT_EQ(ToStates(c, BridgeControlStates(false, true, c)), noBridge);
  EXPECT_EQ(ToStates(c, BridgeControlStates(true, false, c)),
            (States{{IDC_DOWNLOAD, false}, {IDC_CONFIGURE, true}, {IDC_RESET, true}, {IDC_BROWSE, true}}));
  EXPECT_TRUE(ToStates(c, BridgeControlStates(true, true, c))[IDC_DOWNLOAD]);
  // The job's half leaves Download (only its caption changes) and the chip list alone.
  EXPECT_EQ(ToStates(c, JobControlStates(true, 1, c)),
            (States{{IDC_EEPROM, false}, {IDC_CONFIGURE, false}, {IDC_BROWSE, false}, {IDC_RESET, false}}));
  EXPECT_EQ(ToStates(c, JobControlStates(false, 1, c)),
            (States{{IDC_EEPROM, true}, {IDC_CONFIGURE, true}, {IDC_BROWSE, true}, {IDC_RESET, true}}));
  EXPECT_FALSE(ToStates(c, JobControlStates(false, -1, c))[IDC_EEPROM]);  // no selection counts as unsigned
}

TEST(Placement, CentresTruncatingTowardZeroThenKeepsOnTheDesktop) {
  struct Case { ScreenRect main; int32_t width, height, x, y; };
  const Case cases[] = {
      {{100, 100, 575, 345}, 201, 101, 100 + 237 - 100, 100 + 122 - 50},
      {{405, 300, 400, 300}, 10, 0, 405 - 2 - 5, 300},  // a span of -5 halves to -2
      {{-400, -300, 0, 0}, 300, 200, 0, 0},
      {{900, 700, 1100, 800}, 300, 200, 1024 - 300, 768 - 200},
      {{0, 0, 100, 100}, 1100, 800, 1024 - 1100, 768 - 800},  // the edge is applied last, so it wins
  };
  for (const Case& c : cases) {
    const ScreenPoint p = CentreOver(c.main, {0, 0, 1024, 768}, c.width, c.height);
    EXPECT_EQ(p.x, c.x) << c.main.left;
    EXPECT_EQ(p.y, c.y) << c.main.left;
  }
}

TEST(Placement, StoredPositionBoundsAreInclusive) {
  EXPECT_TRUE(PositionRestorable(0, 0, 1024, 740));
  EXPECT_TRUE(PositionRestorable(1024, 740, 1024, 740));
  for (auto [x, y] : {std::pair<int32_t, int32_t>{-5, 10}, {10, -1}, {1025, 10}, {10, 741}})
    EXPECT_FALSE(PositionRestorable(x, y, 1024, 740)) << x << "," << y;
}

TEST(CloseRequest, TheJobIsStoppedBeforeTheBridgeCloses) {
  auto at = [](CloseStep step) { return std::find(kCloseSteps, kCloseSteps + kCloseStepCount, step) - kCloseSteps; };
  EXPECT_EQ(at(CloseStep::ConfirmIfJobRuns), 0);
  EXPECT_LT(at(CloseStep::RequestStop), at(CloseStep::WaitForJob));
  EXPECT_LT(at(CloseStep::ShowWaitText), at(CloseStep::WaitForJob));
  EXPECT_LT(at(CloseStep::WaitForJob), at(CloseStep::CloseBridge));
  EXPECT_LT(at(CloseStep::CloseBridge), at(CloseStep::StorePosition));
  EXPECT_EQ(at(CloseStep::EndDialog), kCloseStepCount - 1);
}

}  // namespace
