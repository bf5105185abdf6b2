// The persistent part of a virtual target chip (what a state file holds), the
// chip words the simulator and the kq560sim tool accept, and the state file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kq560sim {

enum class Family : uint8_t { None = 0, Avr = 1, At89 = 2 };

enum class ConfigByte : uint8_t { Lock = 0, Low = 1, High = 2, Ext = 3 };

struct ChipState {
  Family family = Family::None;
  std::string name = "none";  // catalogue name, "avr:..." word, or "none"
  uint8_t signature[3] = {0, 0, 0};
  uint32_t pageSize = 0;      // AVR flash page in bytes; the 256-byte block on AT89S5x
  bool hasExtFuse = false;
  uint8_t extMask = 0;        // implemented bits of the extended fuse; the rest read 1
  uint8_t lockMask = 0;       // AVR: implemented lock bits; the rest read 1 and cannot be programmed
  // AVR: lock and fuse bytes as the chip reads them (0 = programmed).
  // AT89S5x: lock holds LB1-LB3 at bits 2-4, set = programmed; fuses unused.
  uint8_t config[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  std::vector<uint8_t> flash;
  std::vector<uint8_t> eeprom;

  uint8_t& Config(ConfigByte which) { return config[static_cast<int>(which)]; }
  uint8_t Config(ConfigByte which) const { return config[static_cast<int>(which)]; }
};

// Builds an erased chip with data-sheet default fuse and lock bytes. `chipWord` is
// a catalogue chip name (any case, e.g. "MEGA16", "AT89S52"), "none", or an
// AVR part given by its signature and sizes: "avr:SSSSSS:FLASH:PAGE:EEPROM"
// with an optional ":ext" for a part with an extended fuse byte.
bool MakeChip(const char* chipWord, ChipState* chip, std::string* error);

// Parses "lock", "low", "high" or "ext".
bool ParseConfigByte(const char* word, ConfigByte* which);

// State file, format version 1 (see sim/README.md). Loading refuses a header
// that `kq560sim new` could not have made for its chip word, naming the field.
bool SaveChip(const std::string& path, const ChipState& chip, std::string* error);
bool LoadChip(const std::string& path, ChipState* chip, std::string* error);

bool SameChip(const ChipState& a, const ChipState& b);

// Bytes of `memory` that are not 0xFF.
uint32_t CountProgrammed(const std::vector<uint8_t>& memory);

}  // namespace kq560sim
