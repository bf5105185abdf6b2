#include "engine/avr_config.h"


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

constexpr uint8_t kSpienBit = 0x20;
constexpr uint32_t kConfigWriteMs = 20;

// The chips by the caption variant they use.
enum class CaptionSet { Mega8, Mega16To128, Mega8515, Mega8535, Mega48To168 };

CaptionSet CaptionSetOf(ChipIndex chip) {
  switch (chip) {
    case 2: case 3: case 4: case 5: return CaptionSet::Mega16To128;
    case 6: return CaptionSet::Mega8515;
    case 7: return CaptionSet::Mega8535;
    case 8: case 9: case 10: return CaptionSet::Mega48To168;
    default: return CaptionSet::Mega8;
  }
}

struct CaptionChange {
  CaptionSet set;
  int controlId;
  const char* caption;
};

// The high and low rows' captions that differ from the template (which is MEGA8's).
const CaptionChange kRowCaptions[] = {
    {CaptionSet::Mega16To128, 1022, "OCDEN"},  {CaptionSet::Mega16To128, 1023, "JTAGEN"},
    {CaptionSet::Mega8515, 1022, "S8515C"},    {CaptionSet::Mega8535, 1022, "S8535C"},
    {CaptionSet::Mega48To168, 1023, "DWEN"},   {CaptionSet::Mega48To168, 1025, "WDTON"},
    {CaptionSet::Mega48To168, 1027, "BLEVEL2"}, {CaptionSet::Mega48To168, 1028, "BLEVEL1"},
    {CaptionSet::Mega48To168, 1029, "BLEVEL0"}, {CaptionSet::Mega48To168, 1031, "CKDIV8"},
    {CaptionSet::Mega48To168, 1032, "CKOUT"},
};

// Extended-row names per chip, boxes 1030, 1039, 1040; null = unused.
const char* const* ExtendedNames(ChipIndex chip) {
  static const char* const kMega64[3] = {nullptr, "M103C", "WDTON"};
  static const char* const kMega48[3] = {nullptr, nullptr, "SPMEN"};
  static const char* const kMega88[3] = {"BTSZ1", "BTSZ0", "BTRST"};
  static const char* const kNone[3] = {nullptr, nullptr, nullptr};
  switch (chip) {
    case 4: case 5: return kMega64;
    case 8: return kMega48;
    case 9: case 10: return kMega88;
    default: return kNone;
  }
}

int ExtendedSlot(int controlId) {
  switch (controlId) {
    case 1030: return 0;
    case 1039: return 1;
    case 1040: return 2;
    default: return -1;
  }
}

uint8_t BoxMask(ConfigByte byte) {
  switch (byte) {
    case ConfigByte::Lock: return 0x3F;
    case ConfigByte::Extended: return 0x07;
    default: return 0xFF;
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

// Lock first and low fuse last, in reads and writes alike.
int ConfigOrder(ChipIndex chip, ConfigByte order[4]) {
  int n = 0;
  order[n++] = ConfigByte::Lock;
  if (HasExtendedFuse(chip)) order[n++] = ConfigByte::Extended;
  order[n++] = ConfigByte::High;
  order[n++] = ConfigByte::Low;
  return n;
}

}  // namespace

bool HasExtendedFuse(ChipIndex chip) {
  return chip == 4 || chip == 5 || chip == 8 || chip == 9 || chip == 10;
}

const char* AvrBoxCaption(ChipIndex chip, int controlId) {
  const int slot = ExtendedSlot(controlId);
  if (slot >= 0) {
    static const char* const kBitNumbers[3] = {"2", "1", "0"};
    const char* name = ExtendedNames(chip)[slot];
    return name ? name : kBitNumbers[slot];
  }
  const CaptionSet set = CaptionSetOf(chip);
  for (const CaptionChange& change : kRowCaptions)
    if (change.set == set && change.controlId == controlId) return change.caption;
  return nullptr;
}

bool AvrBoxUsed(ChipIndex chip, int controlId) {
  const int slot = ExtendedSlot(controlId);
  return slot < 0 || ExtendedNames(chip)[slot] != nullptr;
}

uint8_t ConfigByteFromChecked(ConfigByte byte, uint8_t checkedBits) {
  uint8_t value = uint8_t(0xFF & ~(checkedBits & BoxMask(byte)));
  if (byte == ConfigByte::High) value |= kSpienBit;
  return value;
}

bool ReadAvrConfig(uint32_t device, ChipIndex chip, ConfigBoxes& boxes) {
  ConfigByte order[4];
  const int steps = ConfigOrder(chip, order);
  for (int s = 0; s < steps; ++s) {
    const ConfigInstruction ins = InstructionFor(order[s]);
    uint8_t buffer[4] = {ins.read0, ins.read1, 0x00, 0x00};
    if (!AvrTransfer(device, 4, buffer, 0)) return false;
    for (const ConfigBox& box : kAvrConfigBoxes)
      if (box.byte == order[s]) boxes.SetChecked(box.controlId, ((buffer[3] >> box.bit) & 1) == 0);
  }
  return true;
}

AvrWriteOutcome WriteAvrConfig(uint32_t device, ChipIndex chip, ConfigBoxes& boxes) {
  ConfigByte order[4];
  const int steps = ConfigOrder(chip, order);
  for (int s = 0; s < steps; ++s) {
    uint8_t checked = 0;
    for (const ConfigBox& box : kAvrConfigBoxes)
      if (box.byte == order[s] && boxes.IsChecked(box.controlId)) checked |= uint8_t(1u << box.bit);
    uint8_t buffer[4] = {0xAC, InstructionFor(order[s]).write1, 0x00,
                         ConfigByteFromChecked(order[s], checked)};
    if (!AvrTransfer(device, 4, buffer, 0)) {
      const bool fuse = order[s] == ConfigByte::High || order[s] == ConfigByte::Low;
      return {false, fuse ? MessageIcon::Information : MessageIcon::Exclamation};
    }
    WaitMs(kConfigWriteMs);
  }
  return {true, MessageIcon::Information};
}

void SetAllAvrBoxes(ChipIndex chip, ConfigBoxes& boxes, bool checked) {
  for (const ConfigBox& box : kAvrConfigBoxes)
    if (AvrBoxUsed(chip, box.controlId)) boxes.SetChecked(box.controlId, checked);
}
