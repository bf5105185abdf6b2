// The chips the programmer knows, in the order of the main window's chip list,
// and the outcome codes of identification and the writers.
#pragma once
#include <cstdint>

// A chip's position in the catalogue and in the chip list.
using ChipIndex = int32_t;

constexpr ChipIndex kChipAuto = 0;       // "MEGA AUTO": any AVR part, recognised by signature
constexpr ChipIndex kChipNoneChosen = 13; // command-line parsing: no name matched yet
constexpr int kChipCatalogueSize = 13;

enum class ChipFamily : uint8_t { AvrAuto, Avr, At89 };

struct ChipInfo {
  const char* name;       // list text, also the command-line chip word (but "MEGA" for index 0)
  ChipFamily family;
  uint32_t flashLimit;    // bytes, inclusive; 0 for "MEGA AUTO" (known only once recognised)
  uint32_t flashPage;     // bytes per AVR flash page; 256-byte blocks on AT89S5x
  uint32_t eepromLimit;   // bytes, inclusive; 0 where there is no EEPROM writer
  uint8_t signature[3];   // bytes 0, 1, 2; all 0 for "MEGA AUTO"
};

extern const ChipInfo kChipCatalogue[kChipCatalogueSize];

// The entry for an index, or null outside 0 to 12.
const ChipInfo* FindChip(ChipIndex index);

// The list text for an index; `fallback` outside 0 to 12.
const char* ChipName(ChipIndex index, const char* fallback = "");

// An AVR part of the catalogue proper (1 to 10): the family test of the
// writers, the configuration dialog and the reset button.
inline bool IsAvrPart(ChipIndex index) { return index >= 1 && index <= 10; }

// "MEGA AUTO" recognition: the catalogue index (1 to 10) whose signature bytes
// 1 and 2 are (s1, s2), or 0 when the pair is not an AVR part we know.
ChipIndex RecogniseAvrSignature(uint8_t s1, uint8_t s2);

// Outcome of identification and of the writers.
enum ResultCode : uint8_t {
  kResultOk = 0,
  kResultTransferFailed = 1,  // a bridge transfer failed or its reply was short
  kResultWrongChip = 3,       // signature does not match the chosen chip
  kResultStopped = 4,         // the user stopped the job
  kResultUnsupported = 5,     // AVR signature outside the catalogue, or no EEPROM writer for the chip
  kResultTooLong = 16,        // image longer than the chip's memory
  kResultVerifyFailed = 17,   // read-back differs, or a page write never completed
  kResultNotRecognised = 19,  // no programming-enable handshake, or AT89S5x manufacturer byte wrong
};
