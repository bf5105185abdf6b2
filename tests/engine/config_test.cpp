#include <map>
#include <sstream>

#include "engine/at89_config.h"
#include "engine/avr_config.h"
#include "engine/identify.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

class FakeBoxes : public ConfigBoxes {
 public:
  bool IsChecked(int id) override { return checked[id]; }
  void SetChecked(int id, bool on) override { checked[id] = on; }
  std::map<int, bool> checked;
};

std::vector<std::string> Words(const char* text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// The dialog's labels of every chip, highest bit first, "-" where the chip has
// no such bit: MEGA8's are the template's captions.
struct ChipLabels {
  ChipIndex chip;
  const char *high, *low, *ext;
  bool bootLocks;
};
const char* const kLowOlder = "BODLEVEL BODEN SUT1 SUT0 CKSEL3 CKSEL2 CKSEL1 CKSEL0";
const char* const kLowNewer = "CKDIV8 CKOUT SUT1 SUT0 CKSEL3 CKSEL2 CKSEL1 CKSEL0";
const ChipLabels kLabels[] = {
    {1, "RSTDISBL WDTON SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "- - -", true},
    {2, "OCDEN JTAGEN SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "- - -", true},
    {3, "OCDEN JTAGEN SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "- - -", true},
    {4, "OCDEN JTAGEN SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "- M103C WDTON", true},
    {5, "OCDEN JTAGEN SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "- M103C WDTON", true},
    {6, "S8515C WDTON SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "- - -", true},
    {7, "S8535C WDTON SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "- - -", true},
    {8, "RSTDISBL DWEN SPIEN WDTON EESAVE BLEVEL2 BLEVEL1 BLEVEL0", kLowNewer, "- - SPMEN", false},
    {9, "RSTDISBL DWEN SPIEN WDTON EESAVE BLEVEL2 BLEVEL1 BLEVEL0", kLowNewer, "BTSZ1 BTSZ0 BTRST", true},
    {10, "RSTDISBL DWEN SPIEN WDTON EESAVE BLEVEL2 BLEVEL1 BLEVEL0", kLowNewer, "BTSZ1 BTSZ0 BTRST", true},
};

TEST(AvrConfigBits, EveryChipsNamesCaptionsAndBoxes) {
  struct Row {
    ConfigByte byte;
    std::vector<int> ids;  // highest bit first
  } const rows[] = {{ConfigByte::High, {1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029}},
                    {ConfigByte::Low, {1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038}},
                    {ConfigByte::Extended, {1030, 1039, 1040}},
                    {ConfigByte::Lock, {1016, 1017, 1018, 1019, 1020, 1021}}};
  for (const ChipLabels& c : kLabels) {
    SCOPED_TRACE(ChipName(c.chip));
    const std::vector<std::string> names[4] = {
        Words(c.high), Words(c.low), Words(c.ext),
        Words(c.bootLocks ? "BootLock12 BootLock11 BootLock02 BootLock01 Lock2 Lock1" : "- - - - Lock2 Lock1")};
    EXPECT_EQ(HasExtendedFuse(c.chip), names[2] != Words("- - -"));
    for (int r = 0; r < 4; ++r)
      for (size_t i = 0; i < rows[r].ids.size(); ++i) {
        const int id = rows[r].ids[i], bit = int(rows[r].ids.size() - 1 - i);
        const std::string& name = names[r][i];
        const char* got = AvrConfigBitName(c.chip, rows[r].byte, bit);
        EXPECT_EQ(got ? got : "-", name) << id;
        const char* caption = AvrBoxCaption(c.chip, id);
        if (rows[r].byte == ConfigByte::Extended) {  // the template's are always replaced
          EXPECT_EQ(caption ? caption : "(template)", name == "-" ? std::to_string(bit) : name) << id;
          EXPECT_EQ(AvrBoxUsed(c.chip, id), name != "-") << id;
        } else if (rows[r].byte == ConfigByte::Lock) {
          EXPECT_EQ(caption, nullptr) << id;
        } else {
          EXPECT_EQ(caption ? caption : Words(r == 0 ? kLabels[0].high : kLabels[0].low)[i], name) << id;
        }
      }
  }
  EXPECT_EQ(AvrConfigBitName(11, ConfigByte::Low, 0), nullptr);
}

TEST(AvrConfigBits, WrittenBytesKeepBitsWithoutABoxAndSpienAtOne) {
  const std::tuple<ConfigByte, uint8_t, uint8_t> cases[] = {{ConfigByte::Lock, 0xFF, 0xC0},
                                                            {ConfigByte::Extended, 0xFF, 0xF8},
                                                            {ConfigByte::High, 0xFF, 0x20},
                                                            {ConfigByte::High, 0x00, 0xFF},
                                                            {ConfigByte::Low, 0x81, 0x7E}};
  for (const auto& [byte, checked, value] : cases) EXPECT_EQ(ConfigByteFromChecked(byte, checked), value);
}

TEST(AvrConfigReadBack, OnlyTheBitsTheChipHoldsMustMatch) {
  struct Case {
    ChipIndex chip;
    ConfigByte byte;
    uint8_t written, read;
    bool differs;
  } const cases[] = {
      {1, ConfigByte::Lock, 0xFF, 0xEF, true},   // a lock bit written 1 that reads 0
      {1, ConfigByte::Lock, 0x3F, 0xFF, false},  // bits 7 and 6 are no lock bits
      {9, ConfigByte::Lock, 0xC3, 0xFF, true},
      {8, ConfigByte::Lock, 0xC3, 0xFF, false},  // MEGA48 has no boot lock bits
      {8, ConfigByte::Lock, 0xFE, 0xFF, true},
      {1, ConfigByte::High, 0xFF, 0xDF, false},  // SPIEN
      {2, ConfigByte::High, 0xFF, 0x7F, true},
      {1, ConfigByte::Low, 0xFF, 0xFE, true},
      {1, ConfigByte::Low, 0x7F, 0xFF, true},
      {4, ConfigByte::Extended, 0xFB, 0xFF, false},
      {4, ConfigByte::Extended, 0xFF, 0xFD, true},
      {8, ConfigByte::Extended, 0xF9, 0xFF, false},
      {8, ConfigByte::Extended, 0xFE, 0xFF, true},
      {10, ConfigByte::Extended, 0xFB, 0xFF, true},
      {10, ConfigByte::Extended, 0x07, 0xFF, false},
      {1, ConfigByte::Extended, 0x00, 0xFF, false},  // no extended byte
  };
  for (const Case& c : cases) {
    AvrConfigValues written, read;
    ConfigValue(written, c.byte) = c.written;
    ConfigValue(read, c.byte) = c.read;
    const uint8_t flag = ConfigByteFlag(c.byte);
    EXPECT_EQ(AvrConfigMismatches(c.chip, written, read, kAllConfigBytes), c.differs ? flag : 0)
        << c.chip << " " << int(c.byte) << " " << int(c.written);
    EXPECT_EQ(AvrConfigMismatches(c.chip, written, read, uint8_t(kAllConfigBytes & ~flag)), 0);
  }
}

TEST(AvrConfigHazards, ResetDisableAndDebugWireOnTheChipsThatHaveThem) {
  // Chip, has RSTDISBL at high bit 7, has DWEN at high bit 6.
  const std::tuple<ChipIndex, bool, bool> chips[] = {{1, true, false},  {2, false, false}, {3, false, false},
                                                     {4, false, false}, {5, false, false}, {6, false, false},
                                                     {7, false, false}, {8, true, true},   {9, true, true},
                                                     {10, true, true}};
  const AvrConfigValues fresh{0xFF, 0xFF, 0xFF, 0xE1};
  for (const auto& [chip, resetDisable, debugWire] : chips) {
    AvrConfigValues next = fresh;
    next.high = 0x7F;
    EXPECT_EQ(AvrConfigHazards(chip, fresh, kAllConfigBytes, next, kAllConfigBytes),
              resetDisable ? kHazardResetDisabled : 0) << chip;
    next.high = 0xBF;
    EXPECT_EQ(AvrConfigHazards(chip, fresh, kAllConfigBytes, next, kAllConfigBytes), debugWire ? kHazardDebugWire : 0)
        << chip;
  }
}

TEST(AvrConfigHazards, OnlyAChangeToTheDangerousValueCounts) {
  constexpr uint8_t kHigh = ConfigByteFlag(ConfigByte::High), kLow = ConfigByteFlag(ConfigByte::Low);
  constexpr uint8_t R = kHazardResetDisabled, D = kHazardDebugWire, E = kHazardExternalClock, C = kHazardClockSource;
  struct Case {
    uint8_t known, which;
    uint8_t high, low;          // as last read
    uint8_t nextHigh, nextLow;  // to be written
    uint8_t hazards;
  } const cases[] = {
      {kHigh | kLow, kAllConfigBytes, 0xDF, 0xE1, 0xDF, 0xE1, 0},      // nothing changes
      {kHigh | kLow, kAllConfigBytes, 0x7F, 0xE1, 0x3F, 0xE1, D},      // RSTDISBL was programmed already
      {kLow, kAllConfigBytes, 0x7F, 0xE1, 0x7F, 0xE1, R},              // high byte not read
      {kLow, kAllConfigBytes, 0x00, 0xE1, 0xFF, 0xE1, 0},              // unprogrammed is safe
      {kLow, kLow, 0xFF, 0xE1, 0x3F, 0xE1, 0},                         // high byte not written
      {kHigh | kLow, kAllConfigBytes, 0xDF, 0xE1, 0xDF, 0xE0, E},
      {kHigh | kLow, kAllConfigBytes, 0xDF, 0xE0, 0xDF, 0xE0, 0},
      {kHigh | kLow, kAllConfigBytes, 0xDF, 0xE0, 0xDF, 0xEF, C},
      {kHigh | kLow, kAllConfigBytes, 0xDF, 0xE1, 0xDF, 0xE9, C},
      {kHigh | kLow, kAllConfigBytes, 0xDF, 0xE1, 0xDF, 0x11, 0},      // SUT, CKOUT, CKDIV8
      {kHigh, kAllConfigBytes, 0xDF, 0xE1, 0xDF, 0xE1, C},             // low byte not read
      {0, kAllConfigBytes, 0xDF, 0xE0, 0x3F, 0xE0, R | D | E},
      {0, kHigh, 0xDF, 0xE1, 0xDF, 0xE0, 0},                           // low byte not written
  };
  for (const Case& c : cases) {
    const AvrConfigValues current{0xFF, 0xFF, c.high, c.low}, next{0xFF, 0xFF, c.nextHigh, c.nextLow};
    EXPECT_EQ(AvrConfigHazards(9, current, c.known, next, c.which), c.hazards)
        << int(c.known) << " " << int(c.nextHigh) << " " << int(c.nextLow);
  }
}

class AvrConfig : public SimTest {
 protected:
  void Attach(ChipIndex chip) {
    Connect(ChipName(chip), chip);
    ASSERT_EQ(IdentifyTarget(state), kResultOk);
  }
  int Config(uint32_t which) { return KQ560SimGetConfig(0, which); }
};

TEST_F(AvrConfig, FusesGoFirstAndLockLastThenEveryByteIsReadBack) {
  Attach(9);  // MEGA88
  ASSERT_TRUE(KQ560SimStartTrace(0, 16));
  const AvrConfigWriteResult result = WriteAvrConfigValues(0, 9, {0x00, 0x00, 0x00, 0x12}, kAllConfigBytes);
  EXPECT_EQ(result.status, ConfigWriteStatus::Ok);
  std::vector<std::vector<uint8_t>> sent;
  for (const KQ560SimInstruction& i : Trace()) sent.push_back({i.bytes[0], i.bytes[1], i.bytes[3]});
  EXPECT_EQ(sent, (std::vector<std::vector<uint8_t>>{{0xAC, 0xA4, 0xF8}, {0xAC, 0xA8, 0x20}, {0xAC, 0xA0, 0x12},
                                                      {0xAC, 0xE0, 0xC0}, {0x58, 0x00, 0x00}, {0x50, 0x08, 0x00},
                                                      {0x58, 0x08, 0x00}, {0x50, 0x00, 0x00}}));
  EXPECT_EQ(result.readBack.high, 0x00) << "SPIEN was programmed and stays so";
}

TEST_F(AvrConfig, ChecksWhatTheChipHoldsAfterTheWrite) {
  const auto B = [](ConfigByte byte) { return ConfigByteFlag(byte); };
  struct Case {
    ChipIndex chip;
    uint8_t lockBefore;
    AvrConfigValues values;
    uint8_t which;
    uint8_t mismatched;  // 0: Ok
  } const cases[] = {
      {2, 0xFC, {0xFC, 0xFF, 0x9D, 0xE1}, kAllConfigBytes, B(ConfigByte::High)},  // fuses locked
      {2, 0xFF, {0xFE, 0xFF, 0x9D, 0xE1}, kAllConfigBytes, 0},  // lock and fuses in one write
      {1, 0xEF, {0xFF, 0xFF, 0xD9, 0xE1}, kAllConfigBytes, B(ConfigByte::Lock)},  // lock bits stay programmed
      {1, 0xFF, {0xFF, 0x00, 0xD9, 0xE1}, kAllConfigBytes, 0},  // no extended byte: not written
      {8, 0xFF, {0xC0, 0xF8, 0xDF, 0x62}, kAllConfigBytes, 0},  // MEGA48: missing bits read 1
      {10, 0xFF, {0xFF, 0xFA, 0xDF, 0x62}, B(ConfigByte::Extended), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ChipName(c.chip));
    KQ560SimReset();
    Attach(c.chip);
    KQ560SimSetConfig(0, KQ560SIM_LOCK, c.lockBefore);
    const AvrConfigWriteResult result = WriteAvrConfigValues(0, c.chip, c.values, c.which);
    EXPECT_EQ(result.status, c.mismatched ? ConfigWriteStatus::Mismatch : ConfigWriteStatus::Ok);
    EXPECT_EQ(result.mismatched, c.mismatched);
    AvrConfigValues held;
    ASSERT_TRUE(ReadAvrConfigValues(0, c.chip, &held));
    for (ConfigByte byte : {ConfigByte::Lock, ConfigByte::Extended, ConfigByte::High, ConfigByte::Low})
      if (c.which & B(byte)) {
        EXPECT_EQ(ConfigValue(result.readBack, byte), ConfigValue(held, byte)) << int(byte);
      }
    if (!c.mismatched) {
      EXPECT_EQ(AvrConfigMismatches(c.chip, c.values, held, c.which), 0);
    }
  }
}

TEST_F(AvrConfig, AFailedTransferEndsTheWriteWithItsStepsIcon) {
  struct Case {
    int failingCall;  // of MEGA128's: ext, high, low, lock, then the four read-backs
    ConfigWriteStatus status;
    ConfigByte failedByte;
    MessageIcon icon;
  } const cases[] = {{1, ConfigWriteStatus::TransferFailed, ConfigByte::Extended, MessageIcon::Exclamation},
                     {2, ConfigWriteStatus::TransferFailed, ConfigByte::High, MessageIcon::Information},
                     {3, ConfigWriteStatus::TransferFailed, ConfigByte::Low, MessageIcon::Information},
                     {4, ConfigWriteStatus::TransferFailed, ConfigByte::Lock, MessageIcon::Exclamation},
                     {5, ConfigWriteStatus::ReadBackFailed, ConfigByte::Lock, MessageIcon::Exclamation},
                     {8, ConfigWriteStatus::ReadBackFailed, ConfigByte::Lock, MessageIcon::Exclamation}};
  for (const Case& c : cases) {
    KQ560SimReset();
    Attach(5);
    const uint64_t first = Calls() + 1;
    ASSERT_TRUE(KQ560SimSetFaults(("fail=" + std::to_string(first + c.failingCall - 1)).c_str()));
    const AvrConfigWriteResult result = WriteAvrConfigValues(0, 5, {0xFE, 0xFE, 0x98, 0xE0}, kAllConfigBytes);
    EXPECT_EQ(result.status, c.status) << c.failingCall;
    if (c.status == ConfigWriteStatus::TransferFailed) {
      EXPECT_EQ(result.failedByte, c.failedByte) << c.failingCall;
    }
    EXPECT_EQ(AvrWriteMessage(result).icon, c.icon) << c.failingCall;
    EXPECT_STREQ(AvrWriteMessage(result).format, kTransferFailedText);
    EXPECT_EQ(Calls(), first + c.failingCall - 1) << "nothing after the failure";
    EXPECT_EQ(Config(KQ560SIM_HIGH) == 0x98, c.failingCall > 2) << c.failingCall;
  }
}

TEST_F(AvrConfig, ReadSetsTheRowsOfTheBytesThatArrived) {
  Attach(4);  // MEGA64
  const AvrConfigValues held{0xEC, 0xFE, 0x5B, 0xA4};
  KQ560SimSetConfig(0, KQ560SIM_LOCK, held.lock);
  KQ560SimSetConfig(0, KQ560SIM_EXT, held.ext);
  KQ560SimSetConfig(0, KQ560SIM_HIGH, held.high);
  KQ560SimSetConfig(0, KQ560SIM_LOW, held.low);
  FakeBoxes boxes;
  AvrConfigSession session;
  ASSERT_TRUE(KQ560SimSetFaults(("fail=" + std::to_string(Calls() + 3)).c_str()));  // the high byte
  EXPECT_FALSE(ReadAvrConfig(0, 4, boxes, session));
  EXPECT_EQ(boxes.checked.size(), 9u) << "lock and extended rows only";
  EXPECT_EQ(session.known, ConfigByteFlag(ConfigByte::Lock) | ConfigByteFlag(ConfigByte::Extended));
  EXPECT_FALSE(session.allRead);
  ASSERT_TRUE(ReadAvrConfig(0, 4, boxes, session));
  EXPECT_TRUE(session.allRead);
  const AvrConfigValues shown = AvrConfigFromBoxes(boxes);
  EXPECT_EQ(shown.lock, held.lock);
  EXPECT_EQ(shown.ext, held.ext);
  EXPECT_EQ(shown.high, held.high | 0x20) << "SPIEN is shown, but written as 1";
  EXPECT_EQ(shown.low, held.low);
}

TEST(At89Lock, HighestProgrammedBitDecides) {
  const std::pair<uint8_t, int> cases[] = {{0xE3, 0}, {0x04, 1}, {0x0C, 2}, {0x08, 2}, {0x14, 3}, {0xFF, 3}};
  for (const auto& [lockByte, level] : cases) EXPECT_EQ(At89LockLevelFromByte(lockByte), level) << int(lockByte);
}

class At89Config : public SimTest {};

TEST_F(At89Config, TheLevelWrittenIsReadBack) {
  struct Case {
    uint8_t lockBefore;
    int level;
    int failingCall;  // 0: none
    ConfigWriteStatus status;
    int readBack, heldAfter;
  } const cases[] = {{0x00, 2, 0, ConfigWriteStatus::Ok, 2, 2},
                     {0x10, 1, 0, ConfigWriteStatus::Mismatch, 3, 3},  // only an erase lowers it
                     {0x00, 3, 3, ConfigWriteStatus::TransferFailed, -1, 1},
                     {0x00, 1, 3, ConfigWriteStatus::ReadBackFailed, -1, 1}};
  for (const Case& c : cases) {
    KQ560SimReset();
    Connect("AT89S52", 12);
    ASSERT_EQ(IdentifyTarget(state), kResultOk);
    KQ560SimSetConfig(0, KQ560SIM_LOCK, c.lockBefore);
    if (c.failingCall) {
      ASSERT_TRUE(KQ560SimSetFaults(("fail=" + std::to_string(Calls() + c.failingCall)).c_str()));
    }
    const At89LockWriteResult result = WriteAt89LockLevelChecked(0, c.level);
    EXPECT_EQ(result.status, c.status) << c.level;
    EXPECT_EQ(result.readBackLevel, c.readBack) << c.level;
    KQ560SimSetFaults("");
    uint8_t lock = 0;
    ASSERT_TRUE(ReadAt89LockByte(0, &lock));
    EXPECT_EQ(At89LockLevelFromByte(lock), c.heldAfter) << c.level;
  }
}

}  // namespace
}  // namespace enginetest
