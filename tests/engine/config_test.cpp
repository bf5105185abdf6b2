#include <cctype>
#include <sstream>

#include "engine/at89_config.h"
#include "engine/avr_config.h"
#include "engine/identify.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

constexpr uint8_t kLock = ConfigByteFlag(ConfigByte::Lock), kHigh = ConfigByteFlag(ConfigByte::High);
constexpr uint8_t kLow = ConfigByteFlag(ConfigByte::Low), kAll = kAllConfigBytes;

// The labels the dialog shows for every chip, highest bit first (MEGA8's are
// the template's captions; the extended row's bit numbers mark bits the chip
// lacks), and the hazards of programming high bits 7 and 6.
constexpr uint8_t R = kHazardResetDisabled, D = kHazardDebugWire;
struct ChipLabels { ChipIndex chip; const char *high, *low, *ext; uint8_t bit7Hazard, bit6Hazard; };
const char* const kLowOlder = "BODLEVEL BODEN SUT1 SUT0 CKSEL3 CKSEL2 CKSEL1 CKSEL0";
const char* const kLowNewer = "CKDIV8 CKOUT SUT1 SUT0 CKSEL3 CKSEL2 CKSEL1 CKSEL0";
const ChipLabels kLabels[] = {
    {1, "RSTDISBL WDTON SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "2 1 0", R, 0},
    {2, "OCDEN JTAGEN SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "2 1 0", 0, 0},
    {3, "OCDEN JTAGEN SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "2 1 0", 0, 0},
    {4, "OCDEN JTAGEN SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "2 M103C WDTON", 0, 0},
    {5, "OCDEN JTAGEN SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "2 M103C WDTON", 0, 0},
    {6, "S8515C WDTON SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "2 1 0", 0, 0},
    {7, "S8535C WDTON SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", kLowOlder, "2 1 0", 0, 0},
    {8, "RSTDISBL DWEN SPIEN WDTON EESAVE BLEVEL2 BLEVEL1 BLEVEL0", kLowNewer, "2 1 SPMEN", R, D},
    {9, "RSTDISBL DWEN SPIEN WDTON EESAVE BLEVEL2 BLEVEL1 BLEVEL0", kLowNewer, "BTSZ1 BTSZ0 BTRST", R, D},
    {10, "RSTDISBL DWEN SPIEN WDTON EESAVE BLEVEL2 BLEVEL1 BLEVEL0", kLowNewer, "BTSZ1 BTSZ0 BTRST", R, D},
};

// A row as the dialog shows it: the caption each box gets at start, else the template's.
std::string Shown(ChipIndex chip, std::initializer_list<int> ids, const char* templateRow) {
  std::istringstream templ(templateRow);
  std::string shown, word;
  for (int id : ids) {
    templ >> word;
    const char* set = AvrBoxCaption(chip, id);
    shown += (shown.empty() ? "" : " ") + std::string(set ? set : word);
  }
  return shown;
}

// The chip's names of the bits `top` to 0 of `byte`, "-" where it has none.
std::string Names(ChipIndex chip, ConfigByte byte, int top) {
  std::string names;
  for (int bit = top; bit >= 0; --bit) {
    const char* name = AvrConfigBitName(chip, byte, bit);
    names += (bit == top ? "" : " ") + std::string(name ? name : "-");
  }
  return names;
}

TEST(AvrConfigBits, EveryChipsNamesCaptionsBoxesAndRisks) {
  const std::initializer_list<int> ext = {1030, 1039, 1040};
  for (const ChipLabels& c : kLabels) {
    SCOPED_TRACE(ChipName(c.chip));
    EXPECT_EQ(Shown(c.chip, {1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029}, kLabels[0].high), c.high);
    EXPECT_EQ(Shown(c.chip, {1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038}, kLabels[0].low), c.low);
    EXPECT_EQ(Shown(c.chip, ext, "(template) (template) (template)"), c.ext);
    EXPECT_EQ(Names(c.chip, ConfigByte::High, 7), c.high);
    EXPECT_EQ(Names(c.chip, ConfigByte::Low, 7), c.low);
    // The extended row's names; a bit number marks an unused, disabled box.
    std::istringstream extWords(c.ext);
    std::string extNames, word;
    for (int id : ext) {
      extWords >> word;
      const bool used = !std::isdigit(static_cast<unsigned char>(word[0]));
      EXPECT_EQ(AvrBoxUsed(c.chip, id), used) << id;
      extNames += (extNames.empty() ? "" : " ") + (used ? word : "-");
    }
    EXPECT_EQ(Names(c.chip, ConfigByte::Extended, 7), "- - - - - " + extNames);
    EXPECT_EQ(HasExtendedFuse(c.chip), extNames != "- - -");
    // MEGA48 has no boot section, so no boot lock bits.
    EXPECT_EQ(Names(c.chip, ConfigByte::Lock, 7), c.chip == 8 ? "- - - - - - Lock2 Lock1"
                                                                : "- - BootLock12 BootLock11 BootLock02 BootLock01 Lock2 Lock1");
    const AvrConfigValues fresh{0xFF, 0xFF, 0xFF, 0xE1}, bit7{0xFF, 0xFF, 0x7F, 0xE1}, bit6{0xFF, 0xFF, 0xBF, 0xE1};
    EXPECT_EQ(AvrConfigHazards(c.chip, fresh, kAll, bit7, kAll), c.bit7Hazard);
    EXPECT_EQ(AvrConfigHazards(c.chip, fresh, kAll, bit6, kAll), c.bit6Hazard);
  }
}

TEST(AvrConfigReadBack, OnlyTheBitsTheChipHoldsMustMatch) {
  // Chip, byte, written, read, whether they differ.
  const std::tuple<ChipIndex, ConfigByte, uint8_t, uint8_t, bool> cases[] = {
      // A lock bit written 1 that reads 0 differs; bits 7 and 6 are no lock
      // bits, and MEGA48 has no boot lock bits (5 to 2).
      {1, ConfigByte::Lock, 0xFF, 0xEF, true}, {1, ConfigByte::Lock, 0x3F, 0xFF, false},
      {9, ConfigByte::Lock, 0xC3, 0xFF, true}, {8, ConfigByte::Lock, 0xC3, 0xFF, false},
      {8, ConfigByte::Lock, 0xFE, 0xFF, true},
      // SPIEN is out of serial programming's reach.
      {1, ConfigByte::High, 0xFF, 0xDF, false}, {2, ConfigByte::High, 0xFF, 0x7F, true},
      {1, ConfigByte::Low, 0xFF, 0xFE, true}, {1, ConfigByte::Low, 0x7F, 0xFF, true},
      // Only the implemented extended bits; MEGA8 has no extended byte.
      {4, ConfigByte::Extended, 0xFB, 0xFF, false}, {4, ConfigByte::Extended, 0xFF, 0xFD, true},
      {8, ConfigByte::Extended, 0xF9, 0xFF, false}, {8, ConfigByte::Extended, 0xFE, 0xFF, true},
      {10, ConfigByte::Extended, 0xFB, 0xFF, true}, {10, ConfigByte::Extended, 0x07, 0xFF, false},
      {1, ConfigByte::Extended, 0x00, 0xFF, false}};
  for (const auto& [chip, byte, write, read, differs] : cases) {
    AvrConfigValues written, readBack;
    ConfigValue(written, byte) = write;
    ConfigValue(readBack, byte) = read;
    const uint8_t flag = ConfigByteFlag(byte);
    EXPECT_EQ(AvrConfigMismatches(chip, written, readBack, kAll), differs ? flag : 0) << chip << " " << int(write);
    EXPECT_EQ(AvrConfigMismatches(chip, written, readBack, uint8_t(kAll & ~flag)), 0) << "not written";
  }
}

TEST(AvrConfigHazards, OnlyAChangeToTheDangerousValueCounts) {
  const uint8_t E = kHazardExternalClock, C = kHazardClockSource;
  // Bytes read, bytes written, high and low as read, high and low to write, hazards (MEGA88).
  const std::tuple<uint8_t, uint8_t, uint8_t, uint8_t, uint8_t, uint8_t, uint8_t> cases[] = {
      {kHigh | kLow, kAll, 0xDF, 0xE1, 0xDF, 0xE1, 0},
      {kHigh | kLow, kAll, 0x7F, 0xE1, 0x3F, 0xE1, D},  // RSTDISBL was programmed already
      {kLow, kAll, 0x7F, 0xE1, 0x7F, 0xE1, R},          // high byte not read
      {kLow, kLow, 0xFF, 0xE1, 0x3F, 0xE1, 0},          // high byte not written
      {kHigh | kLow, kAll, 0xDF, 0xE1, 0xDF, 0xE0, E},
      {kHigh | kLow, kAll, 0xDF, 0xE0, 0xDF, 0xE0, 0},
      {kHigh | kLow, kAll, 0xDF, 0xE0, 0xDF, 0xEF, C},
      {kHigh | kLow, kAll, 0xDF, 0xE1, 0xDF, 0x11, 0},  // SUT, CKOUT, CKDIV8
      {kHigh, kAll, 0xDF, 0xE1, 0xDF, 0xE1, C},         // low byte not read
      {0, kAll, 0xDF, 0xE0, 0x3F, 0xE0, R | D | E},
      {0, kHigh, 0xDF, 0xE1, 0xDF, 0xE0, 0}};           // low byte not written
  for (const auto& [known, which, high, low, nextHigh, nextLow, hazards] : cases) {
    const AvrConfigValues current{0xFF, 0xFF, high, low}, next{0xFF, 0xFF, nextHigh, nextLow};
    EXPECT_EQ(AvrConfigHazards(9, current, known, next, which), hazards)
        << int(known) << " " << int(nextHigh) << " " << int(nextLow);
  }
}

class AvrConfig : public SimTest {
 protected:
  void Attach(ChipIndex chip, uint8_t lock = 0xFF) {
    KQ560SimReset();
    Connect(ChipName(chip), chip);
    ASSERT_EQ(IdentifyTarget(state), kResultOk);
    KQ560SimSetConfig(0, KQ560SIM_LOCK, lock);
  }
  void FailCall(uint64_t n) { ASSERT_TRUE(KQ560SimSetFaults(("fail=" + std::to_string(Calls() + n)).c_str())); }
};

TEST_F(AvrConfig, FusesGoFirstAndLockLastThenTheWrittenBytesAreReadBack) {
  Attach(9);  // MEGA88
  ASSERT_TRUE(KQ560SimStartTrace(0, 16));
  EXPECT_EQ(WriteAvrConfigValues(0, 9, {0x00, 0x00, 0x00, 0x12}, kAll & ~kLow).status, ConfigWriteStatus::Ok);
  std::vector<std::vector<uint8_t>> sent;
  for (const auto& i : Trace()) sent.push_back({i[0], i[1], i[3]});
  EXPECT_EQ(sent, (std::vector<std::vector<uint8_t>>{{0xAC, 0xA4, 0xF8}, {0xAC, 0xA8, 0x20}, {0xAC, 0xE0, 0xC0},
                                                      {0x58, 0x00, 0x00}, {0x50, 0x08, 0x00}, {0x58, 0x08, 0x00}}));
}

TEST_F(AvrConfig, ChecksWhatTheChipHoldsAfterTheWrite) {
  // Chip, lock byte before, what to write, the bytes that read back otherwise.
  const std::tuple<ChipIndex, uint8_t, AvrConfigValues, uint8_t> cases[] = {
      {2, 0xFC, {0xFC, 0xFF, 0x9D, 0xE1}, kHigh},  // Lock1 and Lock2 lock the fuses
      {2, 0xFF, {0xFE, 0xFF, 0x9D, 0xE1}, 0},      // lock and fuses in one write
      {1, 0xEF, {0xFF, 0xFF, 0xD9, 0xE1}, kLock},  // only an erase clears a lock bit
      {1, 0xFF, {0xFF, 0x00, 0xD9, 0xE1}, 0},      // no extended byte to write
      {8, 0xFF, {0xC0, 0xF8, 0xDF, 0x62}, 0}};     // MEGA48: missing bits read 1
  for (const auto& [chip, lockBefore, values, mismatched] : cases) {
    SCOPED_TRACE(ChipName(chip));
    Attach(chip, lockBefore);
    const AvrConfigWriteResult result = WriteAvrConfigValues(0, chip, values, kAll);
    EXPECT_EQ(result.status, mismatched ? ConfigWriteStatus::Mismatch : ConfigWriteStatus::Ok);
    EXPECT_EQ(result.mismatched, mismatched);
    AvrConfigValues held;
    ASSERT_TRUE(ReadAvrConfigValues(0, chip, &held));
    const auto bytes = [](const AvrConfigValues& v) { return std::make_tuple(v.lock, v.ext, v.high, v.low); };
    EXPECT_EQ(bytes(result.readBack), bytes(held));
    EXPECT_EQ(AvrConfigMismatches(chip, values, held, kAll), mismatched);
  }
}

TEST_F(AvrConfig, AFailedTransferEndsTheWriteWithItsStepsIcon) {
  const MessageIcon I = MessageIcon::Information, X = MessageIcon::Exclamation;
  const ConfigWriteStatus W = ConfigWriteStatus::TransferFailed, R = ConfigWriteStatus::ReadBackFailed;
  // MEGA128's bridge call that fails (ext, high, low, lock, then four
  // read-backs), the outcome, the byte whose write failed, the icon.
  const std::tuple<int, ConfigWriteStatus, ConfigByte, MessageIcon> cases[] = {
      {1, W, ConfigByte::Extended, X}, {2, W, ConfigByte::High, I}, {3, W, ConfigByte::Low, I},
      {4, W, ConfigByte::Lock, X},     {5, R, ConfigByte::Lock, X}, {8, R, ConfigByte::Lock, X}};
  for (const auto& [failing, status, failedByte, icon] : cases) {
    Attach(5);
    const uint64_t before = Calls();
    FailCall(failing);
    const AvrConfigWriteResult result = WriteAvrConfigValues(0, 5, {0xFE, 0xFE, 0x98, 0xE0}, kAll);
    EXPECT_EQ(result.status, status) << failing;
    EXPECT_EQ(status == W ? result.failedByte : ConfigByte::Lock, failedByte) << failing;
    EXPECT_EQ(AvrWriteMessage(result).icon, icon) << failing;
    EXPECT_EQ(Calls(), before + failing) << "nothing after the failure";
  }
}

}  // namespace
}  // namespace enginetest
