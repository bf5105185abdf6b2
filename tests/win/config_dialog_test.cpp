// Configure: identification, then the AVR fuse dialog or the AT89S5x lock
// dialog on the simulated chip's configuration bytes. The byte and caption
// rules themselves have their portable tests; these check the dialogs' use of them.
#include "tests/win/win_harness.h"

namespace wintest {
namespace {

const std::initializer_list<int> kLockRow = {1016, 1017, 1018, 1019, 1020, 1021};            // bits 5..0
const std::initializer_list<int> kHighRow = {1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029};  // bits 7..0
const std::initializer_list<int> kLowRow = {1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038};   // bits 7..0

// A row of boxes as the byte it shows: a checked box is a 0 bit.
int Row(HWND dialog, std::initializer_list<int> boxes) {
  int value = 0xFF, bit = int(boxes.size());
  for (int id : boxes) value &= ~(int(BoxChecked(dialog, id)) << --bit);
  return value;
}

int Config(uint32_t which) { return KQ560SimGetConfig(0, which); }

class ConfigDialogTest : public WindowTest {
 protected:
  // Attaches `chip` with its lock byte and opens the window on `listIndex`.
  void Prepare(const char* chip, int32_t listIndex, uint32_t lock) {
    ASSERT_TRUE(KQ560SimAttach(0, chip));
    KQ560SimSetConfig(0, KQ560SIM_LOCK, lock);
    OpenMainWindow();
    SelectChip(listIndex);
  }
  // Presses Configure; `script` runs while the dialog shows.
  void Configure(std::function<void(HWND)> script) {
    g_hooks.dialogScript = std::move(script);
    Press(IDC_CONFIGURE);
  }
  // Makes the `n`th call of the next dialog's automatic read fail, measured
  // on an identification and a read now.
  void FailAutomaticRead(uint64_t n) {
    const uint64_t start = BridgeCalls();
    uint64_t shown = 0, read = 0;
    Configure([&](HWND dialog) {
      shown = BridgeCalls();
      PressIn(dialog, IDC_READ_CONFIG);
      read = BridgeCalls() - shown;
    });
    g_hooks.boxes.clear();
    FailCallFromNow(shown - start - read + n);
  }
};

TEST_F(ConfigDialogTest, MegaAutoOpensTheFuseDialogOfTheRecognisedChipAlreadyRead) {
  Prepare("MEGA8", 0, 0xF3);
  KQ560SimSetConfig(0, KQ560SIM_HIGH, 0xC9);
  KQ560SimSetConfig(0, KQ560SIM_LOW, 0x2E);
  Configure([&](HWND dialog) {
    EXPECT_EQ(WindowText(dialog), "MEGA8 加密设置及配置");
    EXPECT_EQ(Row(dialog, kLockRow), 0xF3);
    EXPECT_EQ(Row(dialog, kHighRow), 0xC9);
    EXPECT_EQ(Row(dialog, kLowRow), 0x2E);
    EXPECT_EQ(ItemText(dialog, 1023), "WDTON  ");  // the template's, spaces and all
    for (auto [id, caption] : {std::pair<int, const char*>{1030, "2"}, {1039, "1"}, {1040, "0"}}) {
      EXPECT_FALSE(ItemEnabled(dialog, id)) << id;  // no extended byte
      EXPECT_EQ(ItemText(dialog, id), caption);
    }
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), main_);
    RECT own;
    GetWindowRect(dialog, &own);
    ExpectCentredOverMain(own);
    // "全选" and "全反选" touch only the boxes in use; a write sends lock, high and low.
    PressIn(dialog, IDC_SELECT_ALL);
    EXPECT_EQ(Row(dialog, kLockRow), 0xC0);
    EXPECT_EQ(Row(dialog, kHighRow), 0x00);
    EXPECT_EQ(Row(dialog, kLowRow), 0x00);
    EXPECT_EQ(Row(dialog, {1030, 1039, 1040}), 0xFF);
    PressIn(dialog, IDC_CLEAR_ALL);
    const uint64_t before = BridgeCalls();
    PressIn(dialog, IDC_WRITE_CONFIG);
    EXPECT_EQ(BridgeCalls() - before, 3u);
    const uint64_t afterWrite = BridgeCalls();
    PressIn(dialog, IDC_CANCEL_CONFIG);
    EXPECT_EQ(BridgeCalls(), afterWrite);
  });
  EXPECT_EQ(Status(), "完成对MCU型号的识别");
  ASSERT_EQ(g_hooks.boxes.size(), 1u);  // the automatic read said nothing
  EXPECT_EQ(g_hooks.boxes[0].text, "MEGA8写配置成功!");
  EXPECT_EQ(Config(KQ560SIM_LOW), 0xFF);
}

TEST_F(ConfigDialogTest, ReadAndWriteTheFusesOfAChosenPartWithAnExtendedByte) {
  Prepare("MEGA64", 4, 0xFF);
  KQ560SimSetConfig(0, KQ560SIM_EXT, 0xFE);
  Configure([&](HWND dialog) {
    EXPECT_EQ(ItemText(dialog, 1022), "OCDEN");
    EXPECT_EQ(ItemText(dialog, 1039), "M103C");
    EXPECT_FALSE(ItemEnabled(dialog, 1030));
    EXPECT_TRUE(ItemEnabled(dialog, 1039));
    EXPECT_EQ(Row(dialog, {1039, 1040}), 0xFE);
    PressIn(dialog, IDC_READ_CONFIG);
    ASSERT_EQ(g_hooks.boxes.size(), 1u);
    EXPECT_EQ(g_hooks.boxes[0].owner, dialog);
    PressIn(dialog, IDC_CLEAR_ALL);
    // BootLock11, EESAVE, BODEN, CKSEL3 and M103C.
    for (int id : {1017, 1026, 1032, 1035, 1039}) CheckDlgButton(dialog, id, BST_CHECKED);
    PressIn(dialog, IDC_WRITE_CONFIG);
    PressIn(dialog, IDC_SELECT_ALL);
    EXPECT_EQ(Row(dialog, {1030, 1039, 1040}), 0xFC);  // the unused box left alone
  });
  ASSERT_EQ(g_hooks.boxes.size(), 2u);
  EXPECT_EQ(g_hooks.boxes[0].text, "MEGA64读配置成功!");
  EXPECT_EQ(g_hooks.boxes[1].text, "MEGA64写配置成功!");
  for (const BoxRecord& box : g_hooks.boxes) EXPECT_EQ(box.icon, BoxIcon::Information);
  EXPECT_EQ(Config(KQ560SIM_LOCK) & 0x3F, 0x2F);
  EXPECT_EQ(Config(KQ560SIM_HIGH), 0xD7);  // SPIEN keeps its programmed state
  EXPECT_EQ(Config(KQ560SIM_LOW), 0xB7);
  EXPECT_EQ(Config(KQ560SIM_EXT) & 0x03, 0x01);
}

TEST_F(ConfigDialogTest, FailuresShowTheirBoxesWithTheirIcons) {
  Prepare("MEGA8", 1, 0xFF);
  FailAutomaticRead(1);
  Configure([&](HWND dialog) {
    EXPECT_EQ(WindowText(dialog), "加密设置与配置");  // the template's title stays
    CheckDlgButton(dialog, 1018, BST_CHECKED);
    FailCallFromNow(1);  // the lock byte
    PressIn(dialog, IDC_WRITE_CONFIG);
    FailCallFromNow(2);  // the high byte, after the lock byte
    PressIn(dialog, IDC_WRITE_CONFIG);
  });
  ASSERT_EQ(g_hooks.boxes.size(), 3u);
  for (const BoxRecord& box : g_hooks.boxes) EXPECT_EQ(box.text, "数据传输失败");
  EXPECT_FALSE(g_hooks.boxes[0].ownerVisible);  // before the dialog showed
  EXPECT_EQ(g_hooks.boxes[0].icon, BoxIcon::Exclamation);
  EXPECT_EQ(g_hooks.boxes[1].icon, BoxIcon::Exclamation);
  EXPECT_EQ(g_hooks.boxes[2].icon, BoxIcon::Information);
  EXPECT_EQ(Config(KQ560SIM_LOCK) & 0x08, 0);  // the second attempt's lock byte arrived
}

// ---- AT89S5x ----

TEST_F(ConfigDialogTest, At89LockLevelsAreReadAndWritten) {
  Prepare("AT89S52", 12, 0x14);
  Configure([&](HWND dialog) {
    EXPECT_EQ(WindowText(dialog), "AT89S52 加密设置及配置");
    EXPECT_EQ(Row(dialog, {1038, 1039, 1040, 1041}), 0xFE);  // the highest level
    KQ560SimSetConfig(0, KQ560SIM_LOCK, 0xE3);
    PressIn(dialog, IDC_READ_CONFIG);
    EXPECT_EQ(Row(dialog, {1038, 1039, 1040, 1041}), 0xF7);
    SendMessageW(GetDlgItem(dialog, 1040), BM_CLICK, 0, 0);  // "Lock LB1,LB2 "
    PressIn(dialog, IDC_WRITE_CONFIG);
    FailCallFromNow(2);
    PressIn(dialog, IDC_WRITE_CONFIG);
  });
  ASSERT_EQ(g_hooks.boxes.size(), 3u);
  EXPECT_EQ(g_hooks.boxes[0].text, "AT89S52读配置成功!");
  EXPECT_EQ(g_hooks.boxes[1].text, "写AT89S52配置成功!");
  EXPECT_EQ(g_hooks.boxes[2].text, "数据传输失败");
  for (const BoxRecord& box : g_hooks.boxes) EXPECT_EQ(box.icon, BoxIcon::Information);
  EXPECT_EQ(Config(KQ560SIM_LOCK) & 0x1C, 0x0C);  // LB1 and LB2
}

TEST_F(ConfigDialogTest, At89WriteWithNoLevelChosenSendsNothing) {
  Prepare("AT89S52", 12, 0x00);
  FailAutomaticRead(1);
  uint64_t sent = 1;
  Configure([&](HWND dialog) {
    EXPECT_EQ(WindowText(dialog), "配置");
    EXPECT_EQ(Row(dialog, {1038, 1039, 1040, 1041}), 0xFF);
    const uint64_t before = BridgeCalls();
    PressIn(dialog, IDC_WRITE_CONFIG);
    sent = BridgeCalls() - before;
  });
  EXPECT_EQ(sent, 0u);
  ASSERT_EQ(g_hooks.boxes.size(), 1u);  // the failed read only
  EXPECT_EQ(g_hooks.boxes[0].icon, BoxIcon::Information);
  EXPECT_FALSE(g_hooks.boxes[0].ownerVisible);
}

TEST_F(ConfigDialogTest, UnsupportedPartOpensNoDialogAndNoSelectionTheLockDialog) {
  Prepare("avr:1E9999:8192:64:512", 0, 0xFF);
  Press(IDC_CONFIGURE);
  EXPECT_EQ(Status(), "不支持此MCU");
  EXPECT_TRUE(g_hooks.dialogTitles.empty());
  ASSERT_TRUE(KQ560SimAttach(0, "AT89S52"));
  SelectChip(-1);
  Press(IDC_CONFIGURE);
  EXPECT_EQ(g_hooks.dialogTitles, std::vector<std::string>{"AT89S5x 加密设置及配置"});
}

}  // namespace
}  // namespace wintest
