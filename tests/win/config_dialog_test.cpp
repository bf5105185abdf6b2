// Configure: identification, then the AVR fuse dialog or the AT89S5x lock
// dialog on the simulated chip's configuration bytes. The byte, caption,
// read-back and hazard rules have their portable tests; these check the
// dialogs' use of them, the questions included.
#include "tests/win/win_harness.h"

namespace wintest {
namespace {

const std::initializer_list<int> kLockRow = {1016, 1017, 1018, 1019, 1020, 1021};            // bits 5..0
const std::initializer_list<int> kHighRow = {1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029};  // bits 7..0
const std::initializer_list<int> kLowRow = {1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038};   // bits 7..0
const std::initializer_list<int> kLevels = {1038, 1039, 1040, 1041};  // AT89S5x lock levels 0..3

// A row of boxes as the byte it shows: a checked box is a 0 bit.
int Row(HWND dialog, std::initializer_list<int> boxes) {
  int value = 0xFF, bit = int(boxes.size());
  for (int id : boxes) value &= ~(int(BoxChecked(dialog, id)) << --bit);
  return value;
}

int Config(uint32_t which) { return KQ560SimGetConfig(0, which); }

// Each message box with the button it first gives the focus to: its default button.
std::vector<std::pair<HWND, int>> g_defaults;
LRESULT CALLBACK FocusHook(int code, WPARAM wParam, LPARAM lParam) {
  const HWND box = code == HCBT_SETFOCUS && wParam ? GetParent(reinterpret_cast<HWND>(wParam)) : nullptr;
  if (box && GetDlgItem(box, 0xFFFF) && (g_defaults.empty() || g_defaults.back().first != box))
    g_defaults.push_back({box, GetDlgCtrlID(reinterpret_cast<HWND>(wParam))});
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

const char* const kUnread = "尚未成功读出芯片的配置,将写入的是对话框中当前勾选的设置。仍要写入吗?";
const char* const kClockSource = "以下设置可能使芯片无法再编程:\nCKSEL:时钟源改变,板上必须有相应的晶振或时钟\n仍要写入吗?";
// Message boxes: OK with the information or the exclamation icon, or a Yes/No
// question with the exclamation icon and No the default.
enum Kind { kInfo, kWarning, kQuestion, kOther };

class ConfigDialogTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    static const HHOOK hook = SetWindowsHookExW(WH_CBT, FocusHook, nullptr, GetCurrentThreadId());  // for good
    ASSERT_TRUE(hook);
    g_defaults.clear();
  }
  // Every message box so far, each captioned "MCUFEED".
  void ExpectBoxes(const std::vector<std::pair<std::string, Kind>>& expected) {
    ASSERT_EQ(g_defaults.size(), g_hooks.boxes.size());
    std::vector<std::pair<std::string, Kind>> seen;
    for (size_t i = 0; i < g_hooks.boxes.size(); ++i) {
      const BoxRecord& box = g_hooks.boxes[i];
      const bool ok = !box.yesNo && g_defaults[i].second == IDOK, warning = box.icon == BoxIcon::Exclamation;
      const bool question = box.yesNo && g_defaults[i].second == IDNO && warning;
      const Kind kind = box.icon == BoxIcon::Information && ok ? kInfo : warning && ok ? kWarning : question ? kQuestion : kOther;
      seen.push_back({box.caption == "MCUFEED" ? box.text : box.caption, kind});
    }
    EXPECT_EQ(seen, expected);
  }
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
    g_defaults.clear();
    FailCallFromNow(shown - start - read + n);
  }
  // Presses `id` in `dialog`; the bridge calls it made.
  static uint64_t CallsOf(HWND dialog, int id) {
    const uint64_t before = BridgeCalls();
    PressIn(dialog, id);
    return BridgeCalls() - before;
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
    // No extended byte: bit numbers on disabled boxes.
    EXPECT_EQ(ItemText(dialog, 1030) + ItemText(dialog, 1039) + ItemText(dialog, 1040), "210");
    EXPECT_FALSE(ItemEnabled(dialog, 1030) || ItemEnabled(dialog, 1039) || ItemEnabled(dialog, 1040));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), main_);
    RECT own;
    GetWindowRect(dialog, &own);
    ExpectCentredOverMain(own);
    // "全选" touches only the boxes in use.
    PressIn(dialog, IDC_SELECT_ALL);
    EXPECT_EQ(Row(dialog, kLockRow) | Row(dialog, kHighRow) | Row(dialog, kLowRow), 0xC0);
    EXPECT_EQ(Row(dialog, {1030, 1039, 1040}), 0xFF);
  });
  EXPECT_EQ(Status(), "完成对MCU型号的识别");
  EXPECT_TRUE(g_hooks.boxes.empty());  // the automatic read said nothing
}

TEST_F(ConfigDialogTest, LockoutRisksAreNamedNoSendsNothingAndWritesAreChecked) {
  Prepare("MEGA88", 9, 0xFF);
  uint64_t sentOnNo = 1;
  Configure([&](HWND dialog) {
    // RSTDISBL, DWEN and CKSEL3..0.
    for (int id : {1022, 1023, 1035, 1036, 1037, 1038}) CheckDlgButton(dialog, id, BST_CHECKED);
    g_hooks.questionAnswer = IDNO;
    sentOnNo = CallsOf(dialog, IDC_WRITE_CONFIG);
    g_hooks.questionAnswer = IDYES;
    PressIn(dialog, IDC_CLEAR_ALL);
    // BootLock11, EESAVE, CKOUT, CKSEL3 (a clock source change) and BTSZ1, BTRST.
    for (int id : {1017, 1026, 1032, 1035, 1030, 1040}) CheckDlgButton(dialog, id, BST_CHECKED);
    PressIn(dialog, IDC_WRITE_CONFIG);
    PressIn(dialog, IDC_WRITE_CONFIG);  // nothing changes now: no question
    // SPIEN keeps its programmed state.
    EXPECT_EQ(std::make_tuple(Config(KQ560SIM_LOCK), Config(KQ560SIM_EXT), Config(KQ560SIM_HIGH), Config(KQ560SIM_LOW)),
              std::make_tuple(0xEF, 0xFA, 0xD7, 0xB7));
    // Lock1 and Lock2 lock the fuses: the chip keeps its high byte.
    KQ560SimSetConfig(0, KQ560SIM_LOCK, 0xEC);
    CheckDlgButton(dialog, 1026, BST_UNCHECKED);  // EESAVE
    PressIn(dialog, IDC_WRITE_CONFIG);
    EXPECT_EQ(Row(dialog, kHighRow), 0xD7);
    FailCallFromNow(1);
    PressIn(dialog, IDC_WRITE_CONFIG);  // the extended byte fails
  });
  EXPECT_EQ(sentOnNo, 0u);
  ExpectBoxes({{"以下设置可能使芯片无法再编程:\n"
                "RSTDISBL:复位引脚将变为I/O口,之后无法再用本编程器编程\n"
                "DWEN:启用debugWIRE后无法再用本编程器编程\n"
                "CKSEL=0000:外部时钟,板上没有时钟信号时芯片将不再响应\n仍要写入吗?", kQuestion},
               {kClockSource, kQuestion}, {"MEGA88写配置成功!", kInfo}, {"MEGA88写配置成功!", kInfo},
               {"MEGA88写配置失败:读回的配置与写入的不同", kWarning}, {"数据传输失败", kWarning}});
}

TEST_F(ConfigDialogTest, UnreadBoxesAreWrittenOnlyWhenTheUserInsists) {
  Prepare("MEGA8", 1, 0xFF);
  FailAutomaticRead(3);  // the low byte: lock and high were read
  uint64_t sentOnNo = 1;
  Configure([&](HWND dialog) {
    EXPECT_EQ(WindowText(dialog), "加密设置与配置");  // the template's title stays
    g_hooks.questionAnswer = IDNO;
    sentOnNo = CallsOf(dialog, IDC_WRITE_CONFIG);
    g_hooks.questionAnswer = IDYES;
    CheckDlgButton(dialog, 1018, BST_CHECKED);
    FailCallFromNow(3);  // high and low written, the lock byte fails
    PressIn(dialog, IDC_WRITE_CONFIG);
  });
  EXPECT_EQ(sentOnNo, 0u);
  ExpectBoxes({{"数据传输失败", kWarning}, {kUnread, kQuestion}, {kUnread, kQuestion}, {kClockSource, kQuestion},
               {"数据传输失败", kWarning}});
  EXPECT_FALSE(g_hooks.boxes[0].ownerVisible);    // before the dialog showed
  EXPECT_EQ(Config(KQ560SIM_LOW), 0xFF);          // what the boxes asked for
  EXPECT_EQ(Config(KQ560SIM_LOCK) & 0x08, 0x08);  // never sent
}

// ---- AT89S5x ----

TEST_F(ConfigDialogTest, At89LockLevelsAreReadWrittenAndChecked) {
  Prepare("AT89S52", 12, 0x14);
  FailAutomaticRead(1);
  uint64_t sentWithNoLevel = 1;
  Configure([&](HWND dialog) {
    EXPECT_EQ(WindowText(dialog), "配置");
    EXPECT_EQ(Row(dialog, kLevels), 0xFF);
    sentWithNoLevel = CallsOf(dialog, IDC_WRITE_CONFIG);
    PressIn(dialog, IDC_READ_CONFIG);
    EXPECT_EQ(Row(dialog, kLevels), 0xFE);  // LB3 and LB1: the highest decides
    SendMessageW(GetDlgItem(dialog, 1040), BM_CLICK, 0, 0);  // "Lock LB1,LB2 ": the chip stays at LB3
    PressIn(dialog, IDC_WRITE_CONFIG);
    EXPECT_EQ(Row(dialog, kLevels), 0xFE);
    KQ560SimSetConfig(0, KQ560SIM_LOCK, 0xE3);  // as after an erase
    SendMessageW(GetDlgItem(dialog, 1039), BM_CLICK, 0, 0);  // "Lock LB1"
    FailCallFromNow(2);
    PressIn(dialog, IDC_WRITE_CONFIG);
    SendMessageW(GetDlgItem(dialog, 1040), BM_CLICK, 0, 0);
    PressIn(dialog, IDC_WRITE_CONFIG);
  });
  EXPECT_EQ(sentWithNoLevel, 0u);
  ExpectBoxes({{"数据传输失败", kInfo}, {"AT89S52读配置成功!", kInfo},
               {"AT89S52写配置失败:读回的配置与写入的不同", kWarning}, {"数据传输失败", kInfo},
               {"写AT89S52配置成功!", kInfo}});
  EXPECT_FALSE(g_hooks.boxes[0].ownerVisible);    // before the dialog showed
  EXPECT_EQ(Config(KQ560SIM_LOCK) & 0x1C, 0x0C);  // LB1 and LB2
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
