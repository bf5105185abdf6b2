// Fuse and lock bytes of an AVR target: the names of their bits per chip,
// reading them, writing them checked by a read-back, the writes that could
// lock this programmer out, and the configuration dialog's boxes (one check
// box per bit: checked = 0, programmed; unchecked = 1).
#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/chip_catalog.h"
#include "engine/config_common.h"

enum class ConfigByte : uint8_t { Lock, Extended, High, Low };
constexpr uint8_t ConfigByteFlag(ConfigByte byte) { return uint8_t(1u << unsigned(byte)); }
constexpr uint8_t kAllConfigBytes = 0x0F;

struct AvrConfigValues { uint8_t lock = 0xFF, ext = 0xFF, high = 0xFF, low = 0xFF; };
uint8_t& ConfigValue(AvrConfigValues& values, ConfigByte byte);
uint8_t ConfigValue(const AvrConfigValues& values, ConfigByte byte);

// ---- the chips' configuration bits ----

// The name of a configuration bit as the dialog labels it for this chip; null
// where the chip does not implement the bit (and for any index but 1 to 10).
const char* AvrConfigBitName(ChipIndex chip, ConfigByte byte, int bit);

// MEGA64, MEGA128, MEGA48, MEGA88 and MEGA168 have an extended fuse byte.
bool HasExtendedFuse(ChipIndex chip);

// The bits of `byte` that a read-back must return as written: those the chip
// implements, less SPIEN (high bit 5), which serial programming cannot change.
uint8_t AvrCheckedBits(ChipIndex chip, ConfigByte byte);

// ConfigByteFlag of each byte in `which` whose checked bits differ between
// `written` and `readBack`. A lock bit written 1 that reads 0 differs too.
uint8_t AvrConfigMismatches(ChipIndex chip, const AvrConfigValues& written, const AvrConfigValues& readBack,
                            uint8_t which);

// ---- talking to the chip (bit-banged, whatever the fast setting) ----

// Reads lock, extended (if the chip has it), high and low, bit-banged. False at the first failed transfer.
bool ReadAvrConfigValues(uint32_t device, ChipIndex chip, AvrConfigValues* out);
// As above; `read` receives the ConfigByteFlag of every byte that arrived
// (those are set in `out`, the others left as they were).
bool ReadAvrConfigValues(uint32_t device, ChipIndex chip, AvrConfigValues* out, uint8_t* read);

struct AvrConfigWriteResult {
  ConfigWriteStatus status;
  ConfigByte failedByte;     // TransferFailed: the byte whose write failed
  uint8_t mismatched;        // Mismatch: ConfigByteFlag of each byte that read back differently
  AvrConfigValues readBack;  // what was read back (Ok and Mismatch); 0xFF for bytes not written
};

// Writes the bytes named in `which` (ConfigByteFlag bits; extended ignored
// where absent): extended, high, low first, lock last (the lock bits may lock
// the fuses), 20 ms after each; then reads back every written byte and
// compares the checked bits. Bits that have no box are written as 1, and so
// is SPIEN.
AvrConfigWriteResult WriteAvrConfigValues(uint32_t device, ChipIndex chip, const AvrConfigValues& values,
                                          uint8_t which);

// ---- writes that could make the chip unreachable for this programmer ----

enum AvrConfigHazard : uint8_t {
  kHazardResetDisabled = 1,  // RSTDISBL programmed
  kHazardDebugWire = 2,      // DWEN programmed
  kHazardExternalClock = 4,  // CKSEL3..0 all programmed
  kHazardClockSource = 8,    // any other change of CKSEL3..0
};

// The hazards of writing `next` (bytes in `which`) over `current`; `known` =
// ConfigByteFlag bits of the bytes whose `current` value was read from the
// chip. A bit counts only when it would become programmed (or, for CKSEL,
// change); a byte not read counts as holding anything.
uint8_t AvrConfigHazards(ChipIndex chip, const AvrConfigValues& current, uint8_t known, const AvrConfigValues& next,
                         uint8_t which);
const char* AvrHazardLine(AvrConfigHazard hazard);  // the dialog's Chinese line
const char* AvrHazardName(AvrConfigHazard hazard);  // "RSTDISBL", "DWEN", "CKSEL=0000", "CKSEL"

// The dialog's question for `hazards`: the heading, one line per hazard, and
// "仍要写入吗?", newline-separated. Truncated to fit `size`.
void FormatAvrHazardQuestion(uint8_t hazards, char* out, size_t size);

// ---- the configuration dialog's boxes ----

// One bit box of the dialog (control ids as in its template).
struct ConfigBox {
  int controlId;
  ConfigByte byte;
  uint8_t bit;
};
constexpr int kAvrConfigBoxCount = 25;
extern const ConfigBox kAvrConfigBoxes[kAvrConfigBoxCount];

// The caption the dialog gives a box at start for this chip, or null to keep
// the template's (MEGA8's) caption. Extended-row boxes always get one: the
// chip's name for the bit, or the bit number where the chip has none.
const char* AvrBoxCaption(ChipIndex chip, int controlId);

// A box the chip uses: enabled, and touched by "全选" and "全反选". Only
// extended-row boxes can be unused.
bool AvrBoxUsed(ChipIndex chip, int controlId);

// The byte a write sends: 0xFF with every checked box's bit cleared. Bits
// without a box stay 1, and so does SPIEN.
uint8_t ConfigByteFromChecked(ConfigByte byte, uint8_t checkedBits);

// The dialog's boxes, as the read and write sequences see them.
class ConfigBoxes {
 public:
  virtual ~ConfigBoxes() = default;
  virtual bool IsChecked(int controlId) = 0;
  virtual void SetChecked(int controlId, bool checked) = 0;
};

// What the dialog has learnt of the chip since it opened.
struct AvrConfigSession {
  AvrConfigValues lastRead;  // each byte as last read from the chip
  uint8_t known = 0;         // ConfigByteFlag of the bytes read
  bool allRead = false;      // a read of every byte has succeeded
};

// The bytes the boxes show (disabled boxes count like the others).
AvrConfigValues AvrConfigFromBoxes(ConfigBoxes& boxes);
// Sets the rows of the bytes in `which` from `values`, disabled boxes too.
void SetAvrBoxes(ConfigBoxes& boxes, const AvrConfigValues& values, uint8_t which);

// Reads every byte and sets each row whose byte arrived; the session learns
// them. Stops at the first failed transfer and returns false.
bool ReadAvrConfig(uint32_t device, ChipIndex chip, ConfigBoxes& boxes, AvrConfigSession& session);

// Writes every byte of the chip from the boxes, checked. Whatever is read
// back the session learns; on a mismatch the boxes show it.
AvrConfigWriteResult WriteAvrConfig(uint32_t device, ChipIndex chip, ConfigBoxes& boxes, AvrConfigSession& session);

// The message box that reports a checked write.
ConfigMessage AvrWriteMessage(const AvrConfigWriteResult& result);

// "全选" checks and "全反选" clears every box the chip uses.
void SetAllAvrBoxes(ChipIndex chip, ConfigBoxes& boxes, bool checked);

constexpr const char* kAvrConfigWriteOkFormat = "%s写配置成功!";
constexpr const char* kAvrUnreadQuestion =
    "尚未成功读出芯片的配置,将写入的是对话框中当前勾选的设置。仍要写入吗?";
