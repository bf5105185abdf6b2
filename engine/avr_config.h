// Fuse and lock bytes of an AVR target as the configuration dialog shows them:
// one check box per bit, checked = 0 (programmed), unchecked = 1.
#pragma once
#include <cstdint>

#include "engine/chip_catalog.h"

enum class ConfigByte : uint8_t { Lock, Extended, High, Low };

// One bit box of the dialog (control ids as in its template).
struct ConfigBox {
  int controlId;
  ConfigByte byte;
  uint8_t bit;
};
constexpr int kAvrConfigBoxCount = 25;
extern const ConfigBox kAvrConfigBoxes[kAvrConfigBoxCount];

// MEGA64, MEGA128, MEGA48, MEGA88 and MEGA168 have an extended fuse byte.
bool HasExtendedFuse(ChipIndex chip);

// The caption the dialog gives a box at start for this chip, or null to keep
// the template's caption.
const char* AvrBoxCaption(ChipIndex chip, int controlId);

// A box the chip uses: enabled, and touched by "全选" and "全反选". Only
// extended-row boxes can be unused.
bool AvrBoxUsed(ChipIndex chip, int controlId);

// The byte a write sends: 0xFF with every checked box's bit cleared. Bits
// without a box stay 1, and so does SPIEN (high bit 5), which serial
// programming must never clear.
uint8_t ConfigByteFromChecked(ConfigByte byte, uint8_t checkedBits);

// The dialog's boxes, as the read and write sequences see them.
class ConfigBoxes {
 public:
  virtual ~ConfigBoxes() = default;
  virtual bool IsChecked(int controlId) = 0;
  virtual void SetChecked(int controlId, bool checked) = 0;
};

// Reads lock, extended (if the chip has it), high and low, bit-banged, and
// sets each row's boxes as soon as its byte arrives; disabled boxes too.
// Stops at the first failed transfer and returns false.
bool ReadAvrConfig(uint32_t device, ChipIndex chip, ConfigBoxes& boxes);

enum class MessageIcon : uint8_t { Information, Exclamation };

struct AvrWriteOutcome {
  bool ok;
  MessageIcon failureIcon;  // for "数据传输失败" when !ok
};

// Writes lock, extended (if the chip has it), high and low from the boxes,
// 20 ms after each; stops at the first failed transfer.
AvrWriteOutcome WriteAvrConfig(uint32_t device, ChipIndex chip, ConfigBoxes& boxes);

// "全选" checks and "全反选" clears every box the chip uses.
void SetAllAvrBoxes(ChipIndex chip, ConfigBoxes& boxes, bool checked);

// Texts of both configuration dialogs; %s is the chip's list text.
constexpr const char* kConfigTitleFormat = "%s 加密设置及配置";
constexpr const char* kConfigReadOkFormat = "%s读配置成功!";
constexpr const char* kAvrConfigWriteOkFormat = "%s写配置成功!";
constexpr const char* kTransferFailedText = "数据传输失败";
