#include "engine/avr_config.h"

#include <cstdio>
#include <cstring>

#include "engine/engine_state.h"
#include "link/io_stream.h"

const ConfigBox kAvrConfigBoxes[kAvrConfigBoxCount] = {
    {1016, ConfigByte::Lock, 5},     {1017, ConfigByte::Lock, 4},     {1018, ConfigByte::Lock, 3},
    {1019, ConfigByte::Lock, 2},     {1020, ConfigByte::Lock, 1},     {1021, ConfigByte::Lock, 0},
    {1030, ConfigByte::Extended, 2}, {1039, ConfigByte::Extended, 1}, {1040, ConfigByte::Extended, 0},
    {1022, ConfigByte::High, 7},     {1023, ConfigByte::High, 6},     {1024, ConfigByte::High, 5},
    {1025, ConfigByte::High, 4},     {1026, ConfigByte::High, 3},     {1027, ConfigByte::High, 2},
    {1028, ConfigByte::High, 1},     {1029, ConfigByte::High, 0},     {1031, ConfigByte::Low, 7},
    {1032, ConfigByte::Low, 6},      {1033, ConfigByte::Low, 5},      {1034, ConfigByte::Low, 4},
    {1035, ConfigByte::Low, 3},      {1036, ConfigByte::Low, 2},      {1037, ConfigByte::Low, 1},
    {1038, ConfigByte::Low, 0},
};

namespace {

constexpr ChipIndex kMega8 = 1;  // the template's captions are MEGA8's
constexpr uint8_t kSpienBit = 0x20;
constexpr uint32_t kConfigWriteMs = 20;

// ---- every chip's bit names, bit 0 first; null = not implemented ----

using BitNames = const char* const[8];
BitNames kLockBoot = {"Lock1", "Lock2", "BootLock01", "BootLock02", "BootLock11", "BootLock12"};
BitNames kLockNoBoot = {"Lock1", "Lock2"};  // MEGA48 has no boot section
BitNames kExtNone = {};
BitNames kExtMega64 = {"WDTON", "M103C"};
BitNames kExtMega48 = {"SPMEN"};
BitNames kExtMega88 = {"BTRST", "BTSZ0", "BTSZ1"};
BitNames kHighMega8 = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "WDTON", "RSTDISBL"};
BitNames kHighMega16 = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "JTAGEN", "OCDEN"};
BitNames kHighMega8515 = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "WDTON", "S8515C"};
BitNames kHighMega8535 = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "WDTON", "S8535C"};
BitNames kHighMega48 = {"BLEVEL0", "BLEVEL1", "BLEVEL2", "EESAVE", "WDTON", "SPIEN", "DWEN", "RSTDISBL"};
BitNames kLowMega8 = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "BODEN", "BODLEVEL"};
BitNames kLowMega48 = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "CKOUT", "CKDIV8"};

// By catalogue index 1 to 10; bytes in ConfigByte order: lock, extended, high, low.
const char* const* const kChipBitNames[11][4] = {
    {},
    {kLockBoot, kExtNone, kHighMega8, kLowMega8},        // MEGA8
    {kLockBoot, kExtNone, kHighMega16, kLowMega8},       // MEGA16
    {kLockBoot, kExtNone, kHighMega16, kLowMega8},       // MEGA32
    {kLockBoot, kExtMega64, kHighMega16, kLowMega8},     // MEGA64
    {kLockBoot, kExtMega64, kHighMega16, kLowMega8},     // MEGA128
    {kLockBoot, kExtNone, kHighMega8515, kLowMega8},     // MEGA8515
    {kLockBoot, kExtNone, kHighMega8535, kLowMega8},     // MEGA8535
    {kLockNoBoot, kExtMega48, kHighMega48, kLowMega48},  // MEGA48
    {kLockBoot, kExtMega88, kHighMega48, kLowMega48},    // MEGA88
    {kLockBoot, kExtMega88, kHighMega48, kLowMega48},    // MEGA168
};

// The bits of `byte` whose name starts with `prefix`.
uint8_t BitsNamed(ChipIndex chip, ConfigByte byte, const char* prefix) {
  uint8_t bits = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const char* name = AvrConfigBitName(chip, byte, bit);
    if (name && std::strncmp(name, prefix, std::strlen(prefix)) == 0) bits |= uint8_t(1u << bit);
  }
  return bits;
}

// Bits every write sends as 1: those without a box, and SPIEN.
uint8_t FixedOnes(ConfigByte byte) {
  switch (byte) {
    case ConfigByte::Lock: return 0xC0;
    case ConfigByte::Extended: return 0xF8;
    case ConfigByte::High: return kSpienBit;
    default: return 0x00;
  }
}

struct ConfigInstruction {
  uint8_t read0, read1;  // Read ... bits: first two bytes
  uint8_t write1;        // Write ... bits: 0xAC, write1, 0x00, value
};

ConfigInstruction InstructionFor(ConfigByte byte) {
  switch (byte) {
    case ConfigByte::Lock: return {0x58, 0x00, 0xE0};
    case ConfigByte::Extended: return {0x50, 0x08, 0xA4};
    case ConfigByte::High: return {0x58, 0x08, 0xA8};
    default: return {0x50, 0x00, 0xA0};
  }
}

// The bytes of `which` that the chip has.
uint8_t ChipBytes(ChipIndex chip, uint8_t which) {
  if (!HasExtendedFuse(chip)) which &= uint8_t(~ConfigByteFlag(ConfigByte::Extended));
  return which & kAllConfigBytes;
}

constexpr ConfigByte kReadOrder[4] = {ConfigByte::Lock, ConfigByte::Extended, ConfigByte::High, ConfigByte::Low};
// Fuses first: once the lock bits are programmed the fuses no longer change.
constexpr ConfigByte kWriteOrder[4] = {ConfigByte::Extended, ConfigByte::High, ConfigByte::Low, ConfigByte::Lock};

}  // namespace

uint8_t& ConfigValue(AvrConfigValues& values, ConfigByte byte) {
  switch (byte) {
    case ConfigByte::Lock: return values.lock;
    case ConfigByte::Extended: return values.ext;
    case ConfigByte::High: return values.high;
    default: return values.low;
  }
}

uint8_t ConfigValue(const AvrConfigValues& values, ConfigByte byte) {
  return ConfigValue(const_cast<AvrConfigValues&>(values), byte);
}

const char* AvrConfigBitName(ChipIndex chip, ConfigByte byte, int bit) {
  if (!IsAvrPart(chip) || bit < 0 || bit > 7) return nullptr;
  return kChipBitNames[chip][unsigned(byte)][bit];
}

bool HasExtendedFuse(ChipIndex chip) { return AvrCheckedBits(chip, ConfigByte::Extended) != 0; }

uint8_t AvrCheckedBits(ChipIndex chip, ConfigByte byte) {
  uint8_t bits = 0;
  for (int bit = 0; bit < 8; ++bit)
    if (AvrConfigBitName(chip, byte, bit)) bits |= uint8_t(1u << bit);
  return byte == ConfigByte::High ? uint8_t(bits & ~kSpienBit) : bits;
}

uint8_t AvrConfigMismatches(ChipIndex chip, const AvrConfigValues& written, const AvrConfigValues& readBack,
                            uint8_t which) {
  uint8_t mismatched = 0;
  for (ConfigByte byte : kReadOrder) {
    const uint8_t flag = ConfigByteFlag(byte);
    if ((which & flag) && ((ConfigValue(written, byte) ^ ConfigValue(readBack, byte)) & AvrCheckedBits(chip, byte)))
      mismatched |= flag;
  }
  return mismatched;
}

bool ReadAvrConfigValues(uint32_t device, ChipIndex chip, AvrConfigValues* out) {
  uint8_t read = 0;
  return ReadAvrConfigValues(device, chip, out, &read);
}

bool ReadAvrConfigValues(uint32_t device, ChipIndex chip, AvrConfigValues* out, uint8_t* read) {
  *read = 0;
  const uint8_t bytes = ChipBytes(chip, kAllConfigBytes);
  for (ConfigByte byte : kReadOrder) {
    if (!(bytes & ConfigByteFlag(byte))) continue;
    const ConfigInstruction ins = InstructionFor(byte);
    uint8_t buffer[4] = {ins.read0, ins.read1, 0x00, 0x00};
    if (!AvrTransfer(device, 4, buffer, 0)) return false;
    ConfigValue(*out, byte) = buffer[3];
    *read |= ConfigByteFlag(byte);
  }
  return true;
}

AvrConfigWriteResult WriteAvrConfigValues(uint32_t device, ChipIndex chip, const AvrConfigValues& values,
                                          uint8_t which) {
  AvrConfigWriteResult result{ConfigWriteStatus::Ok, ConfigByte::Lock, 0, {}};
  which = ChipBytes(chip, which);
  AvrConfigValues written;
  for (ConfigByte byte : kWriteOrder) {
    if (!(which & ConfigByteFlag(byte))) continue;
    ConfigValue(written, byte) = ConfigValue(values, byte) | FixedOnes(byte);
    uint8_t buffer[4] = {0xAC, InstructionFor(byte).write1, 0x00, ConfigValue(written, byte)};
    if (!AvrTransfer(device, 4, buffer, 0)) {
      result.status = ConfigWriteStatus::TransferFailed;
      result.failedByte = byte;
      return result;
    }
    WaitMs(kConfigWriteMs);
  }
  for (ConfigByte byte : kReadOrder) {
    if (!(which & ConfigByteFlag(byte))) continue;
    const ConfigInstruction ins = InstructionFor(byte);
    uint8_t buffer[4] = {ins.read0, ins.read1, 0x00, 0x00};
    if (!AvrTransfer(device, 4, buffer, 0)) {
      result.status = ConfigWriteStatus::ReadBackFailed;
      return result;
    }
    ConfigValue(result.readBack, byte) = buffer[3];
  }
  result.mismatched = AvrConfigMismatches(chip, written, result.readBack, which);
  if (result.mismatched) result.status = ConfigWriteStatus::Mismatch;
  return result;
}

uint8_t AvrConfigHazards(ChipIndex chip, const AvrConfigValues& current, uint8_t known, const AvrConfigValues& next,
                         uint8_t which) {
  uint8_t hazards = 0;
  const uint8_t highFlag = ConfigByteFlag(ConfigByte::High), lowFlag = ConfigByteFlag(ConfigByte::Low);
  // A bit that would become programmed: it is 0 in `next` and was not known to be 0 already.
  const auto becomesProgrammed = [&](uint8_t bits) {
    return bits && (which & highFlag) && !(next.high & bits) && (!(known & highFlag) || (current.high & bits));
  };
  if (becomesProgrammed(BitsNamed(chip, ConfigByte::High, "RSTDISBL"))) hazards |= kHazardResetDisabled;
  if (becomesProgrammed(BitsNamed(chip, ConfigByte::High, "DWEN"))) hazards |= kHazardDebugWire;
  const uint8_t cksel = BitsNamed(chip, ConfigByte::Low, "CKSEL");
  if (cksel && (which & lowFlag) && (!(known & lowFlag) || ((next.low ^ current.low) & cksel)))
    hazards |= (next.low & cksel) == 0 ? kHazardExternalClock : kHazardClockSource;
  return hazards;
}

const char* AvrHazardLine(AvrConfigHazard hazard) {
  switch (hazard) {
    case kHazardResetDisabled: return "RSTDISBL:复位引脚将变为I/O口,之后无法再用本编程器编程";
    case kHazardDebugWire: return "DWEN:启用debugWIRE后无法再用本编程器编程";
    case kHazardExternalClock: return "CKSEL=0000:外部时钟,板上没有时钟信号时芯片将不再响应";
    case kHazardClockSource: return "CKSEL:时钟源改变,板上必须有相应的晶振或时钟";
    default: return "";
  }
}

const char* AvrHazardName(AvrConfigHazard hazard) {
  switch (hazard) {
    case kHazardResetDisabled: return "RSTDISBL";
    case kHazardDebugWire: return "DWEN";
    case kHazardExternalClock: return "CKSEL=0000";
    case kHazardClockSource: return "CKSEL";
    default: return "";
  }
}

void FormatAvrHazardQuestion(uint8_t hazards, char* out, size_t size) {
  if (size == 0) return;
  int used = std::snprintf(out, size, "%s", "以下设置可能使芯片无法再编程:");
  for (uint8_t h = kHazardResetDisabled; h <= kHazardClockSource; h = uint8_t(h << 1))
    if ((hazards & h) && used >= 0 && size_t(used) < size)
      used += std::snprintf(out + used, size - size_t(used), "\n%s", AvrHazardLine(AvrConfigHazard(h)));
  if (used >= 0 && size_t(used) < size) std::snprintf(out + used, size - size_t(used), "\n%s", "仍要写入吗?");
}

// ---- the dialog's boxes ----

const char* AvrBoxCaption(ChipIndex chip, int controlId) {
  for (const ConfigBox& box : kAvrConfigBoxes) {
    if (box.controlId != controlId) continue;
    const char* name = AvrConfigBitName(chip, box.byte, box.bit);
    if (box.byte == ConfigByte::Extended) {
      static const char* const kBitNumbers[3] = {"0", "1", "2"};
      return name ? name : kBitNumbers[box.bit];
    }
    if (box.byte == ConfigByte::Lock || !name) return nullptr;
    return std::strcmp(name, AvrConfigBitName(kMega8, box.byte, box.bit)) != 0 ? name : nullptr;
  }
  return nullptr;
}

bool AvrBoxUsed(ChipIndex chip, int controlId) {
  for (const ConfigBox& box : kAvrConfigBoxes)
    if (box.controlId == controlId && box.byte == ConfigByte::Extended)
      return AvrConfigBitName(chip, box.byte, box.bit) != nullptr;
  return true;
}

uint8_t ConfigByteFromChecked(ConfigByte byte, uint8_t checkedBits) {
  return uint8_t(~checkedBits | FixedOnes(byte));
}

AvrConfigValues AvrConfigFromBoxes(ConfigBoxes& boxes) {
  uint8_t checked[4] = {};
  for (const ConfigBox& box : kAvrConfigBoxes)
    if (boxes.IsChecked(box.controlId)) checked[unsigned(box.byte)] |= uint8_t(1u << box.bit);
  AvrConfigValues values;
  for (ConfigByte byte : kReadOrder) ConfigValue(values, byte) = ConfigByteFromChecked(byte, checked[unsigned(byte)]);
  return values;
}

void SetAvrBoxes(ConfigBoxes& boxes, const AvrConfigValues& values, uint8_t which) {
  for (const ConfigBox& box : kAvrConfigBoxes)
    if (which & ConfigByteFlag(box.byte))
      boxes.SetChecked(box.controlId, ((ConfigValue(values, box.byte) >> box.bit) & 1) == 0);
}

bool ReadAvrConfig(uint32_t device, ChipIndex chip, ConfigBoxes& boxes, AvrConfigSession& session) {
  uint8_t read = 0;
  const bool ok = ReadAvrConfigValues(device, chip, &session.lastRead, &read);
  session.known |= read;
  session.allRead = session.allRead || ok;
  SetAvrBoxes(boxes, session.lastRead, read);
  return ok;
}

AvrConfigWriteResult WriteAvrConfig(uint32_t device, ChipIndex chip, ConfigBoxes& boxes, AvrConfigSession& session) {
  const AvrConfigWriteResult result = WriteAvrConfigValues(device, chip, AvrConfigFromBoxes(boxes), kAllConfigBytes);
  if (result.status == ConfigWriteStatus::Ok || result.status == ConfigWriteStatus::Mismatch) {
    // Every byte was read back: the chip's state is known from here on.
    const uint8_t bytes = ChipBytes(chip, kAllConfigBytes);
    for (ConfigByte byte : kReadOrder)
      if (bytes & ConfigByteFlag(byte)) ConfigValue(session.lastRead, byte) = ConfigValue(result.readBack, byte);
    session.known |= bytes;
    session.allRead = true;
    if (result.status == ConfigWriteStatus::Mismatch) SetAvrBoxes(boxes, result.readBack, bytes);
  }
  return result;
}

ConfigMessage AvrWriteMessage(const AvrConfigWriteResult& result) {
  switch (result.status) {
    case ConfigWriteStatus::Ok: return {kAvrConfigWriteOkFormat, MessageIcon::Information};
    case ConfigWriteStatus::Mismatch: return {kConfigMismatchFormat, MessageIcon::Exclamation};
    case ConfigWriteStatus::ReadBackFailed: return {kTransferFailedText, MessageIcon::Exclamation};
    default: {
      const bool fuse = result.failedByte == ConfigByte::High || result.failedByte == ConfigByte::Low;
      return {kTransferFailedText, fuse ? MessageIcon::Information : MessageIcon::Exclamation};
    }
  }
}

void SetAllAvrBoxes(ChipIndex chip, ConfigBoxes& boxes, bool checked) {
  for (const ConfigBox& box : kAvrConfigBoxes)
    if (AvrBoxUsed(chip, box.controlId)) boxes.SetChecked(box.controlId, checked);
}
