// Configure: identification, then the AVR fuse dialog or the AT89S5x lock
// dialog, reading and writing the simulated chip's configuration bytes.
#include "tests/win/win_harness.h"

#include <initializer_list>

namespace wintest {
namespace {

const int kLockBoxes[] = {1016, 1017, 1018, 1019, 1020, 1021};               // bits 5..0
const int kHighBoxes[] = {1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029};   // bits 7..0
const int kLowBoxes[] = {1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038};    // bits 7..0
const int kExtBoxes[] = {1030, 1039, 1040};                                  // bits 2..0
const int kLevelButtons[] = {1038, 1039, 1040, 1041};

// A byte as a row of boxes shows it: a checked box is a 0 bit.
template <size_t N>
uint8_t RowValue(HWND dialog, const int (&boxes)[N]) {
  uint8_t value = 0xFF;
  for (size_t i = 0; i < N; ++i)
    if (BoxChecked(dialog, boxes[i])) value = uint8_t(value & ~(1u << (N - 1 - i)));
  return value;
}

template <size_t N>
int CheckedCount(HWND dialog, const int (&boxes)[N]) {
  int n = 0;
  for (int id : boxes) n += BoxChecked(dialog, id);
  return n;
}

int Config(uint32_t which) { return KQ560SimGetConfig(0, which); }

class ConfigDialogTest : public WindowTest {
 protected:
  // Attaches `chip` with the given bytes (-1 leaves one as it is) and opens the window on `listIndex`.
  void Prepare(const char* chip, int32_t listIndex, int lock, int high = -1, int low = -1, int ext = -1) {
    ASSERT_TRUE(KQ560SimAttach(0, chip));
    if (lock >= 0) KQ560SimSetConfig(0, KQ560SIM_LOCK, uint32_t(lock));
    if (high >= 0) KQ560SimSetConfig(0, KQ560SIM_HIGH, uint32_t(high));
    if (low >= 0) KQ560SimSetConfig(0, KQ560SIM_LOW, uint32_t(low));
    if (ext >= 0) KQ560SimSetConfig(0, KQ560SIM_EXT, uint32_t(ext));
    OpenMainWindow();
    SelectChip(listIndex);
  }
  // Presses Configure; `script` runs while the dialog shows.
  void Configure(DialogScript script) {
    SetDialogScript(std::move(script));
    Press(IDC_CONFIGURE);
  }
};

TEST_F(ConfigDialogTest, MegaAutoOpensTheFuseDialogOfTheRecognisedChip) {
  Prepare("MEGA8", 0, 0xF3, 0xC9, 0x2E);
  bool ran = false;
  Configure([&](HWND dialog) {
    ran = true;
    EXPECT_EQ(WindowText(dialog), "MEGA8 加密设置及配置");
    EXPECT_EQ(RowValue(dialog, kLockBoxes), 0xF3);
    EXPECT_EQ(RowValue(dialog, kHighBoxes), 0xC9);
    EXPECT_EQ(RowValue(dialog, kLowBoxes), 0x2E);
    // The template's captions are MEGA8's, spaces and all; the extended row is unused.
    EXPECT_EQ(ItemText(dialog, 1022), "RSTDISBL");
    EXPECT_EQ(ItemText(dialog, 1023), "WDTON  ");
    EXPECT_EQ(ItemText(dialog, 1016), "BootLock12 ");
    for (int id : kExtBoxes) EXPECT_FALSE(ItemEnabled(dialog, id)) << id;
    EXPECT_EQ(ItemText(dialog, 1030), "2");
    EXPECT_EQ(ItemText(dialog, 1039), "1");
    EXPECT_EQ(ItemText(dialog, 1040), "0");
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), Main());
    RECT main, own;
    GetWindowRect(Main(), &main);
    GetWindowRect(dialog, &own);
    const POINT centred = CentredOver(main, own);
    EXPECT_EQ(own.left, centred.x);
    EXPECT_EQ(own.top, centred.y);
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(Status(), "完成对MCU型号的识别");
  EXPECT_TRUE(Boxes().empty());  // a good automatic read says nothing
}

TEST_F(ConfigDialogTest, ReadAndWriteChangeTheChipsFuses) {
  Prepare("MEGA16", 2, 0xFF, 0x99, 0xE1);
  Configure([&](HWND dialog) {
    EXPECT_EQ(ItemText(dialog, 1022), "OCDEN");
    EXPECT_EQ(ItemText(dialog, 1023), "JTAGEN");
    PressIn(dialog, IDC_READ_CONFIG);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "MEGA16读配置成功!");
    EXPECT_EQ(Boxes()[0].icon, BoxIcon::Information);
    EXPECT_EQ(Boxes()[0].owner, dialog);

    PressIn(dialog, IDC_CLEAR_ALL);
    CheckDlgButton(dialog, 1017, BST_CHECKED);  // BootLock11
    CheckDlgButton(dialog, 1026, BST_CHECKED);  // EESAVE
    CheckDlgButton(dialog, 1032, BST_CHECKED);  // BODEN
    CheckDlgButton(dialog, 1035, BST_CHECKED);  // CKSEL3
    PressIn(dialog, IDC_WRITE_CONFIG);
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[1].text, "MEGA16写配置成功!");
    EXPECT_EQ(Boxes()[1].icon, BoxIcon::Information);
  });
  EXPECT_EQ(Config(KQ560SIM_LOCK) & 0x3F, 0x2F);
  EXPECT_EQ(Config(KQ560SIM_HIGH), 0xD7);  // SPIEN keeps its programmed state
  EXPECT_EQ(Config(KQ560SIM_LOW), 0xB7);
}

TEST_F(ConfigDialogTest, ExtendedFuseOfMega64) {
  Prepare("MEGA64", 4, 0xFF, -1, -1, 0xFE);
  Configure([&](HWND dialog) {
    EXPECT_FALSE(ItemEnabled(dialog, 1030));
    EXPECT_EQ(ItemText(dialog, 1030), "2");
    EXPECT_EQ(ItemText(dialog, 1039), "M103C");
    EXPECT_EQ(ItemText(dialog, 1040), "WDTON");
    EXPECT_TRUE(ItemEnabled(dialog, 1039));
    EXPECT_TRUE(BoxChecked(dialog, 1040));
    EXPECT_FALSE(BoxChecked(dialog, 1039));
    CheckDlgButton(dialog, 1039, BST_CHECKED);
    CheckDlgButton(dialog, 1040, BST_UNCHECKED);
    PressIn(dialog, IDC_WRITE_CONFIG);
    PressIn(dialog, IDC_SELECT_ALL);
    EXPECT_TRUE(BoxChecked(dialog, 1039));
    EXPECT_TRUE(BoxChecked(dialog, 1040));
    EXPECT_FALSE(BoxChecked(dialog, 1030));
  });
  EXPECT_EQ(Config(KQ560SIM_EXT) & 0x03, 0x01);
}

TEST_F(ConfigDialogTest, Mega48UsesOneExtendedBoxButReadsAllThree) {
  Prepare("MEGA48", 8, 0xFF, -1, -1, 0xFE);
  Configure([&](HWND dialog) {
    EXPECT_FALSE(ItemEnabled(dialog, 1030));
    EXPECT_FALSE(ItemEnabled(dialog, 1039));
    EXPECT_TRUE(ItemEnabled(dialog, 1040));
    EXPECT_EQ(ItemText(dialog, 1040), "SPMEN");
    EXPECT_TRUE(BoxChecked(dialog, 1040));
    // Disabled boxes are read too: the chip's unused bits read as 1 and clear them.
    CheckDlgButton(dialog, 1030, BST_CHECKED);
    CheckDlgButton(dialog, 1039, BST_CHECKED);
    PressIn(dialog, IDC_READ_CONFIG);
    EXPECT_FALSE(BoxChecked(dialog, 1030));
    EXPECT_FALSE(BoxChecked(dialog, 1039));
    EXPECT_TRUE(BoxChecked(dialog, 1040));
    for (auto [id, caption] : {std::pair<int, const char*>{1023, "DWEN"}, {1025, "WDTON"}, {1027, "BLEVEL2"},
                               {1028, "BLEVEL1"}, {1029, "BLEVEL0"}, {1031, "CKDIV8"}, {1032, "CKOUT"}})
      EXPECT_EQ(ItemText(dialog, id), caption) << id;
  });
}

TEST_F(ConfigDialogTest, Mega8515HasItsOwnCaption) {
  Prepare("MEGA8515", 6, 0xFF);
  Configure([&](HWND dialog) {
    EXPECT_EQ(WindowText(dialog), "MEGA8515 加密设置及配置");
    EXPECT_EQ(ItemText(dialog, 1022), "S8515C");
    for (int id : kExtBoxes) EXPECT_FALSE(ItemEnabled(dialog, id)) << id;
  });
}

TEST_F(ConfigDialogTest, SelectAllAndClearAllTouchOnlyTheBoxesInUse) {
  Prepare("MEGA8", 1, 0xFF);
  uint64_t writeCalls = 0;
  Configure([&](HWND dialog) {
    PressIn(dialog, IDC_SELECT_ALL);
    EXPECT_EQ(CheckedCount(dialog, kLockBoxes) + CheckedCount(dialog, kHighBoxes) + CheckedCount(dialog, kLowBoxes),
              22);
    EXPECT_EQ(CheckedCount(dialog, kExtBoxes), 0);
    PressIn(dialog, IDC_CLEAR_ALL);
    EXPECT_EQ(CheckedCount(dialog, kLockBoxes) + CheckedCount(dialog, kHighBoxes) + CheckedCount(dialog, kLowBoxes),
              0);
    const uint64_t before = BridgeCalls();
    PressIn(dialog, IDC_WRITE_CONFIG);
    writeCalls = BridgeCalls() - before;
  });
  EXPECT_EQ(writeCalls, 3u);  // lock, high, low: no extended byte on a MEGA8
  EXPECT_EQ(Config(KQ560SIM_LOW), 0xFF);
}

TEST_F(ConfigDialogTest, FailedAutomaticReadIsShownBeforeTheDialog) {
  Prepare("MEGA8", 1, 0xF3, 0xC9, 0x2E);
  // Measure identification and one read, then fail the first read transfer.
  uint64_t identifyCalls = 0;
  const uint64_t start = BridgeCalls();
  Configure([&](HWND dialog) {
    const uint64_t afterAutoRead = BridgeCalls();
    PressIn(dialog, IDC_READ_CONFIG);
    identifyCalls = afterAutoRead - start - (BridgeCalls() - afterAutoRead);
  });
  ClearBoxes();
  const std::string fault = "fail=" + std::to_string(BridgeCalls() + identifyCalls + 1);
  KQ560SimSetFaults(fault.c_str());
  bool ran = false;
  Configure([&](HWND dialog) {
    ran = true;
    EXPECT_EQ(WindowText(dialog), "加密设置与配置");
    EXPECT_EQ(CheckedCount(dialog, kLockBoxes) + CheckedCount(dialog, kHighBoxes), 0);
  });
  EXPECT_TRUE(ran);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "数据传输失败");
  EXPECT_EQ(Boxes()[0].icon, BoxIcon::Exclamation);
  EXPECT_FALSE(Boxes()[0].ownerVisible);

  // A failure at the high byte keeps the lock row that had already arrived.
  ClearBoxes();
  const std::string later = "fail=" + std::to_string(BridgeCalls() + identifyCalls + 2);
  KQ560SimSetFaults(later.c_str());
  Configure([&](HWND dialog) {
    EXPECT_EQ(RowValue(dialog, kLockBoxes), 0xF3);
    EXPECT_EQ(CheckedCount(dialog, kHighBoxes) + CheckedCount(dialog, kLowBoxes), 0);
  });
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(ConfigDialogTest, WriteFailuresUseTheirIcons) {
  Prepare("MEGA8", 1, 0xFF, 0xD9, 0xE1);
  Configure([&](HWND dialog) {
    CheckDlgButton(dialog, 1018, BST_CHECKED);  // BootLock02
    std::string fault = "fail=" + std::to_string(BridgeCalls() + 1);  // the lock byte
    KQ560SimSetFaults(fault.c_str());
    PressIn(dialog, IDC_WRITE_CONFIG);
    fault = "fail=" + std::to_string(BridgeCalls() + 2);  // the high byte, after the lock byte
    KQ560SimSetFaults(fault.c_str());
    PressIn(dialog, IDC_WRITE_CONFIG);
  });
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[0].text, "数据传输失败");
  EXPECT_EQ(Boxes()[0].icon, BoxIcon::Exclamation);
  EXPECT_EQ(Boxes()[1].text, "数据传输失败");
  EXPECT_EQ(Boxes()[1].icon, BoxIcon::Information);
  EXPECT_EQ(Config(KQ560SIM_LOCK) & 0x08, 0);  // the second attempt's lock byte arrived
}

TEST_F(ConfigDialogTest, CancelSendsNothing) {
  Prepare("MEGA8", 1, 0xFF);
  uint64_t before = 0;
  Configure([&](HWND dialog) {
    before = BridgeCalls();
    PressIn(dialog, IDC_CANCEL_CONFIG);
  });
  EXPECT_EQ(BridgeCalls(), before);
}

TEST_F(ConfigDialogTest, UnsupportedPartOpensNoDialog) {
  Prepare("avr:1E9999:8192:64:512", 0, -1);
  Configure([](HWND) {});
  EXPECT_EQ(Status(), "不支持此MCU");
  EXPECT_TRUE(DialogTitles().empty());
}

// ---- AT89S5x ----

TEST_F(ConfigDialogTest, At89ReadShowsTheHighestLockLevel) {
  Prepare("AT89S52", 12, 0x14);
  Configure([&](HWND dialog) {
    EXPECT_EQ(WindowText(dialog), "AT89S52 加密设置及配置");
    EXPECT_TRUE(BoxChecked(dialog, 1041));
    for (int id : {1038, 1039, 1040}) EXPECT_FALSE(BoxChecked(dialog, id)) << id;
    EXPECT_TRUE(Boxes().empty());
    KQ560SimSetConfig(0, KQ560SIM_LOCK, 0xE3);
    PressIn(dialog, IDC_READ_CONFIG);
    EXPECT_TRUE(BoxChecked(dialog, 1038));
    EXPECT_FALSE(BoxChecked(dialog, 1041));
  });
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "AT89S52读配置成功!");
  EXPECT_EQ(Boxes()[0].icon, BoxIcon::Information);
}

TEST_F(ConfigDialogTest, At89WriteSendsEveryLevelUpToTheChosenOne) {
  Prepare("AT89S51", 11, 0x00);
  uint64_t writeCalls = 0;
  Configure([&](HWND dialog) {
    SendMessageW(GetDlgItem(dialog, 1040), BM_CLICK, 0, 0);  // "Lock LB1,LB2 "
    EXPECT_EQ(ItemText(dialog, 1040), "Lock LB1,LB2 ");
    const uint64_t before = BridgeCalls();
    PressIn(dialog, IDC_WRITE_CONFIG);
    writeCalls = BridgeCalls() - before;
  });
  EXPECT_EQ(writeCalls, 3u);
  EXPECT_EQ(Config(KQ560SIM_LOCK) & 0x1C, 0x0C);  // LB1 and LB2
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "写AT89S51配置成功!");
  EXPECT_EQ(Boxes()[0].icon, BoxIcon::Information);
}

TEST_F(ConfigDialogTest, At89FailuresUseTheInformationIcon) {
  Prepare("AT89S51", 11, 0x00);
  uint64_t sent = 0;
  Configure([&](HWND dialog) {
    SendMessageW(GetDlgItem(dialog, 1040), BM_CLICK, 0, 0);
    const uint64_t before = BridgeCalls();
    const std::string fault = "fail=" + std::to_string(before + 2);
    KQ560SimSetFaults(fault.c_str());
    PressIn(dialog, IDC_WRITE_CONFIG);
    sent = BridgeCalls() - before;
  });
  EXPECT_EQ(sent, 2u);  // the second instruction failed, no third was sent
  EXPECT_EQ(Config(KQ560SIM_LOCK) & 0x1C, 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "数据传输失败");
  EXPECT_EQ(Boxes()[0].icon, BoxIcon::Information);
}

TEST_F(ConfigDialogTest, At89WriteWithNoLevelChosenSendsNothing) {
  Prepare("AT89S52", 12, 0x00);
  // Identification of an AT89S5x part, measured; then its lock read fails.
  const uint64_t start = BridgeCalls();
  uint64_t identifyCalls = 0;
  Configure([&](HWND) { identifyCalls = BridgeCalls() - start - 1; });
  const std::string fault = "fail=" + std::to_string(BridgeCalls() + identifyCalls + 1);
  KQ560SimSetFaults(fault.c_str());
  ClearBoxes();
  uint64_t sent = 1;
  Configure([&](HWND dialog) {
    EXPECT_EQ(WindowText(dialog), "配置");
    for (int id : kLevelButtons) EXPECT_FALSE(BoxChecked(dialog, id)) << id;
    const uint64_t before = BridgeCalls();
    PressIn(dialog, IDC_WRITE_CONFIG);
    sent = BridgeCalls() - before;
  });
  EXPECT_EQ(sent, 0u);
  ASSERT_EQ(Boxes().size(), 1u);  // the failed read only
  EXPECT_EQ(Boxes()[0].text, "数据传输失败");
  EXPECT_EQ(Boxes()[0].icon, BoxIcon::Information);
  EXPECT_FALSE(Boxes()[0].ownerVisible);
}

TEST_F(ConfigDialogTest, NoListSelectionOpensTheLockDialog) {
  StoreSetting(L"IniMcuIndex", 20);
  ASSERT_TRUE(KQ560SimAttach(0, "AT89S52"));
  OpenMainWindow();
  ASSERT_EQ(Selection(), -1);
  Configure([&](HWND dialog) { EXPECT_EQ(WindowText(dialog), "AT89S5x 加密设置及配置"); });
  EXPECT_EQ(DialogTitles().size(), 1u);
}

}  // namespace
}  // namespace wintest
