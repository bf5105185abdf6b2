#include "app/main_window_logic.h"

#include <gtest/gtest.h>

#include <cstring>

#include "resources/resource.h"

namespace {

// ---- command line ----

TEST(CommandLineAction, OnlyCommandLineModeActs) {
  EXPECT_EQ(CommandLineStartAction(0, kCommandOpWriteFlash), StartAction::None);
  EXPECT_EQ(CommandLineStartAction(1, kCommandOpWriteFlash), StartAction::Download);
  EXPECT_EQ(CommandLineStartAction(1, kCommandOpWriteEeprom), StartAction::EepromDownload);
  EXPECT_EQ(CommandLineStartAction(1, kCommandOpReset), StartAction::Reset);
  EXPECT_EQ(CommandLineStartAction(1, 0x4142), StartAction::None);
}

// ---- titles ----

TEST(WindowTitle, FileNameIsWhatFollowsTheLastBackslash) {
  EXPECT_STREQ(FileNameOfPath("D:\\work\\led.hex"), "led.hex");
  EXPECT_STREQ(FileNameOfPath("LED.HEX"), "LED.HEX");
  EXPECT_STREQ(FileNameOfPath("D:/work/led.hex"), "D:/work/led.hex");  // only backslashes separate
  EXPECT_STREQ(FileNameOfPath("D:\\work\\"), "");
  EXPECT_STREQ(FileNameOfPath("D:\\工程\\灯.hex"), "灯.hex");
}

TEST(WindowTitle, WithAndWithoutAFile) {
  char title[64];
  FormatFileTitle("D:\\work\\led.hex", title, sizeof title);
  EXPECT_STREQ(title, "MCUFEED V1.3 - [led.hex]");
  FormatPlainTitle(title, sizeof title);
  EXPECT_STREQ(title, "MCUFEED V1.3 - www.example.invalid");
}

TEST(WindowTitle, LongNamesAreCutToTheBuffer) {
  char title[20];
  FormatFileTitle("C:\\a-very-long-file-name.hex", title, sizeof title);
  EXPECT_EQ(std::strlen(title), sizeof title - 1);
  EXPECT_EQ(std::strncmp(title, "MCUFEED V1.3 - [a-v", sizeof title - 1), 0);
}

// ---- EEPROM box ----

TEST(EepromBox, UnsignedRuleDisablesAt89PartsAndNoSelection) {
  for (int32_t chip = 0; chip <= 10; ++chip) EXPECT_TRUE(EepromBoxEnabledUnsigned(chip)) << chip;
  for (int32_t chip : {11, 12, 13, -1}) EXPECT_FALSE(EepromBoxEnabledUnsigned(chip)) << chip;
}

TEST(EepromBox, SignedRuleOfTheChipListEnablesNoSelection) {
  for (int32_t chip : {-1, 0, 10}) EXPECT_TRUE(EepromBoxEnabledSigned(chip)) << chip;
  for (int32_t chip : {11, 12, 13}) EXPECT_FALSE(EepromBoxEnabledSigned(chip)) << chip;
}

// ---- control states ----

bool StateOf(const ControlEnable* changes, int count, int id) {
  for (int i = 0; i < count; ++i)
    if (changes[i].controlId == id) return changes[i].enabled;
  ADD_FAILURE() << "control " << id << " not set";
  return false;
}

TEST(ControlStates, BridgeOutcomes) {
  ControlEnable c[kMaxControlChanges];
  int n = BridgeControlStates(false, true, c);
  for (int id : {IDC_DOWNLOAD, IDC_CONFIGURE, IDC_RESET, IDC_BROWSE}) EXPECT_FALSE(StateOf(c, n, id)) << id;
  n = BridgeControlStates(true, false, c);
  EXPECT_FALSE(StateOf(c, n, IDC_DOWNLOAD));
  for (int id : {IDC_CONFIGURE, IDC_RESET, IDC_BROWSE}) EXPECT_TRUE(StateOf(c, n, id)) << id;
  n = BridgeControlStates(true, true, c);
  EXPECT_TRUE(StateOf(c, n, IDC_DOWNLOAD));
}

TEST(ControlStates, JobRunningAndIdle) {
  ControlEnable c[kMaxControlChanges];
  int n = JobControlStates(true, 1, c);
  for (int id : {IDC_EEPROM, IDC_CONFIGURE, IDC_BROWSE, IDC_RESET}) EXPECT_FALSE(StateOf(c, n, id)) << id;
  n = JobControlStates(false, 1, c);
  for (int id : {IDC_EEPROM, IDC_CONFIGURE, IDC_BROWSE, IDC_RESET}) EXPECT_TRUE(StateOf(c, n, id)) << id;
  n = JobControlStates(false, -1, c);  // no selection counts as unsigned, so as an AT89S5x part
  EXPECT_FALSE(StateOf(c, n, IDC_EEPROM));
  EXPECT_TRUE(StateOf(c, n, IDC_CONFIGURE));
  for (int i = 0; i < n; ++i) {
    EXPECT_NE(c[i].controlId, IDC_DOWNLOAD);  // its enabled state is never the job's
    EXPECT_NE(c[i].controlId, IDC_CHIP_LIST);
  }
}

// ---- plug notices and the fast-SPI item ----

TEST(PlugNotices, ArrivalScansOnlyWithoutABridgeAndOtherEventsProbeOnlyWithOne) {
  EXPECT_EQ(PlugNoticeAction(3, false), PlugAction::ScanSlots);
  EXPECT_EQ(PlugNoticeAction(3, true), PlugAction::None);
  EXPECT_EQ(PlugNoticeAction(4, true), PlugAction::ProbeOpenSlot);
  EXPECT_EQ(PlugNoticeAction(0, true), PlugAction::ProbeOpenSlot);
  EXPECT_EQ(PlugNoticeAction(4, false), PlugAction::None);
}

TEST(FastSpiItem, OnlyExactlyCheckedTurnsTheModeOff) {
  constexpr uint32_t kChecked = 0x8, kGrayed = 0x1, kDisabled = 0x2;
  EXPECT_EQ(FastSpiAfterToggle(kChecked, kChecked), 0);
  EXPECT_EQ(FastSpiAfterToggle(0, kChecked), 1);
  EXPECT_EQ(FastSpiAfterToggle(kGrayed | kDisabled, kChecked), 1);
  EXPECT_EQ(FastSpiAfterToggle(kChecked | kGrayed | kDisabled, kChecked), 1);
}

// ---- placement ----

const ScreenRect kDesktop = {0, 0, 1024, 768};

TEST(Centring, CentresWithTruncatingDivision) {
  const ScreenPoint p = CentreOver({100, 100, 575, 345}, kDesktop, 201, 101);
  // 100 + 475/2 - 201/2 = 100 + 237 - 100; 100 + 245/2 - 101/2 = 100 + 122 - 50
  EXPECT_EQ(p.x, 237);
  EXPECT_EQ(p.y, 172);
}

TEST(Centring, TruncatesTowardZeroForNegativeSpans) {
  // A rectangle given right-to-left: -5 / 2 is -2, not -3.
  const ScreenPoint p = CentreOver({405, 300, 400, 300}, kDesktop, 10, 0);
  EXPECT_EQ(p.x, 405 - 2 - 5);
  EXPECT_EQ(p.y, 300);
}

TEST(Centring, NegativePlacesBecomeZero) {
  const ScreenPoint p = CentreOver({-400, -300, 0, 0}, kDesktop, 300, 200);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
}

TEST(Centring, RightAndBottomEdgesPushBack) {
  const ScreenPoint p = CentreOver({900, 700, 1100, 800}, kDesktop, 300, 200);
  EXPECT_EQ(p.x, 1024 - 300);
  EXPECT_EQ(p.y, 768 - 200);
}

TEST(Centring, AWindowLargerThanTheDesktopEndsAtItsRightEdge) {
  // The zero clamp comes first, the edge second, so the edge wins.
  const ScreenPoint p = CentreOver({0, 0, 100, 100}, kDesktop, 1100, 800);
  EXPECT_EQ(p.x, 1024 - 1100);
  EXPECT_EQ(p.y, 768 - 800);
}

TEST(StoredPosition, BoundsAreInclusive) {
  EXPECT_TRUE(PositionRestorable(0, 0, 1024, 740));
  EXPECT_TRUE(PositionRestorable(1024, 740, 1024, 740));
  EXPECT_FALSE(PositionRestorable(-5, 10, 1024, 740));
  EXPECT_FALSE(PositionRestorable(10, -1, 1024, 740));
  EXPECT_FALSE(PositionRestorable(1025, 10, 1024, 740));
  EXPECT_FALSE(PositionRestorable(10, 741, 1024, 740));
}

// ---- close request ----

int StepAt(CloseStep step) {
  for (int i = 0; i < kCloseStepCount; ++i)
    if (kCloseSteps[i] == step) return i;
  return -1;
}

TEST(CloseRequest, TheJobIsStoppedBeforeTheBridgeCloses) {
  EXPECT_EQ(StepAt(CloseStep::ConfirmIfJobRuns), 0);
  EXPECT_LT(StepAt(CloseStep::RequestStop), StepAt(CloseStep::WaitForJob));
  EXPECT_LT(StepAt(CloseStep::ShowWaitText), StepAt(CloseStep::WaitForJob));
  EXPECT_LT(StepAt(CloseStep::WaitForJob), StepAt(CloseStep::CloseBridge));
  EXPECT_LT(StepAt(CloseStep::CloseBridge), StepAt(CloseStep::StorePosition));
  EXPECT_LT(StepAt(CloseStep::StorePosition), StepAt(CloseStep::StoreChipIndex));
  EXPECT_EQ(StepAt(CloseStep::EndDialog), kCloseStepCount - 1);
}

}  // namespace
