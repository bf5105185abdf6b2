#include "sim/chip_model.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/chip_catalog.h"

namespace kq560sim {
namespace {

// Data-sheet factory fuses (low, high, extended) and the implemented bits of
// the extended fuse and of the lock byte, by catalogue index 1 to 10.
struct FuseDefaults {
  uint8_t low, high, ext, extMask, lockMask;
};
constexpr FuseDefaults kAvrDefaults[11] = {
    {0, 0, 0, 0, 0},
    {0xE1, 0xD9, 0xFF, 0x00, 0x3F},  // MEGA8
    {0xE1, 0x99, 0xFF, 0x00, 0x3F},  // MEGA16
    {0xE1, 0x99, 0xFF, 0x00, 0x3F},  // MEGA32
    {0xE1, 0x99, 0xFD, 0x03, 0x3F},  // MEGA64: M103C programmed
    {0xE1, 0x99, 0xFD, 0x03, 0x3F},  // MEGA128: M103C programmed
    {0xE1, 0xD9, 0xFF, 0x00, 0x3F},  // MEGA8515
    {0xE1, 0xD9, 0xFF, 0x00, 0x3F},  // MEGA8535
    {0x62, 0xDF, 0xFF, 0x01, 0x03},  // MEGA48: no boot section, so no boot lock bits
    {0x62, 0xDF, 0xF9, 0x07, 0x3F},  // MEGA88
    {0x62, 0xDF, 0xF9, 0x07, 0x3F},  // MEGA168
};

constexpr char kMagic[8] = {'K', 'Q', '5', '6', '0', 'S', 'I', 'M'};
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kHeaderSize = 80;
constexpr size_t kNameOffset = 34;
constexpr size_t kNameField = 40;
constexpr uint32_t kMaxAvrFlash = 131072;  // 16-bit word addresses
constexpr uint32_t kMaxEeprom = 65536;

bool SameWord(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
    if (x != *b) return false;
  }
  return *a == *b;
}

bool IsPowerOfTwo(uint32_t v) { return v && !(v & (v - 1)); }

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

void Erase(ChipState* chip, uint32_t flash, uint32_t eeprom) {
  chip->flash.assign(flash, 0xFF);
  chip->eeprom.assign(eeprom, 0xFF);
}

bool MakeCustomAvr(const char* chipWord, ChipState* chip, std::string* error) {
  // avr:SSSSSS:FLASH:PAGE:EEPROM[:ext]
  const std::string bad = std::string("bad AVR part \"") + chipWord +
                          "\" (expected avr:SSSSSS:FLASH:PAGE:EEPROM[:ext], e.g. avr:1E950F:32768:128:1024)";
  const char* p = chipWord + 4;
  char* end = nullptr;
  if (std::strlen(p) < 7 || p[6] != ':') return Fail(error, bad);
  char digits[7] = {};
  std::memcpy(digits, p, 6);
  const unsigned long sig = std::strtoul(digits, &end, 16);
  if (*end || digits[0] == '-' || digits[0] == '+') return Fail(error, bad);
  p += 7;
  unsigned long sizes[3];
  for (int i = 0; i < 3; ++i) {
    if (*p < '0' || *p > '9') return Fail(error, bad);
    sizes[i] = std::strtoul(p, &end, 10);
    if (i < 2 ? *end != ':' : (*end != 0 && *end != ':')) return Fail(error, bad);
    p = *end ? end + 1 : end;
  }
  bool ext = false;
  if (*end == ':') {
    if (std::strcmp(p, "ext") != 0) return Fail(error, bad);
    ext = true;
  }
  const unsigned long flash = sizes[0], page = sizes[1], eeprom = sizes[2];
  if (!IsPowerOfTwo(page) || page < 2 || page > 256 || flash < page || flash > kMaxAvrFlash ||
      flash % page || eeprom > kMaxEeprom || (eeprom && !IsPowerOfTwo(eeprom)))
    return Fail(error, bad + ": flash up to 131072 bytes in whole pages, page a power of two up to 256, "
                             "EEPROM a power of two up to 65536 or 0");
  *chip = ChipState();
  chip->family = Family::Avr;
  chip->name = chipWord;
  chip->signature[0] = static_cast<uint8_t>(sig >> 16);
  chip->signature[1] = static_cast<uint8_t>(sig >> 8);
  chip->signature[2] = static_cast<uint8_t>(sig);
  chip->pageSize = page;
  chip->hasExtFuse = ext;
  chip->extMask = ext ? 0xFF : 0x00;
  chip->lockMask = 0x3F;
  chip->Config(ConfigByte::Low) = 0xE1;
  chip->Config(ConfigByte::High) = 0xD9;
  Erase(chip, flash, eeprom);
  return true;
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

// Only a header that `kq560sim new` can make for its chip word is trusted: the
// chip word decides family, signature, sizes and fuse layout; the lock and
// fuse bytes are free. `chip` receives the chip with unset memories.
static std::string CheckHeader(const uint8_t* header, ChipState* chip) {
  const char* name = reinterpret_cast<const char*>(header + kNameOffset);
  const void* nul = std::memchr(name, 0, kNameField);
  if (!nul) return "state file field chip word has no end";
  std::string error;
  if (!MakeChip(name, chip, &error)) return "state file field chip word: " + error;
  const uint8_t* s = chip->signature;
  const struct {
    const char* field;
    uint32_t stored, expected;
  } fields[] = {
      {"family", header[12], static_cast<uint32_t>(chip->family)},
      {"signature", static_cast<uint32_t>(header[13] << 16 | header[14] << 8 | header[15]),
       static_cast<uint32_t>(s[0] << 16 | s[1] << 8 | s[2])},
      {"flash size", GetU32(header + 16), static_cast<uint32_t>(chip->flash.size())},
      {"page size", GetU32(header + 20), chip->pageSize},
      {"EEPROM size", GetU32(header + 24), static_cast<uint32_t>(chip->eeprom.size())},
      {"extended fuse", header[28], chip->hasExtFuse ? 1u : 0u},
      {"extended fuse mask", header[29], chip->extMask},
  };
  for (const auto& f : fields) {
    if (f.stored == f.expected) continue;
    char text[160];
    std::snprintf(text, sizeof text, "state file field %s is 0x%X, %s has 0x%X", f.field, f.stored, chip->name.c_str(),
                  f.expected);
    return text;
  }
  std::memcpy(chip->config, header + 30, 4);
  return "";
}

bool MakeChip(const char* chipWord, ChipState* chip, std::string* error) {
  if (!chipWord) return Fail(error, "no chip given");
  if (SameWord(chipWord, "NONE")) {
    *chip = ChipState();
    return true;
  }
  if (std::strncmp(chipWord, "avr:", 4) == 0 || std::strncmp(chipWord, "AVR:", 4) == 0)
    return MakeCustomAvr(chipWord, chip, error);
  for (ChipIndex i = 1; i < kChipCatalogueSize; ++i) {
    const ChipInfo& info = kChipCatalogue[i];
    if (!SameWord(chipWord, info.name)) continue;
    *chip = ChipState();
    chip->name = info.name;
    std::memcpy(chip->signature, info.signature, 3);
    chip->pageSize = info.flashPage;
    if (info.family == ChipFamily::At89) {
      chip->family = Family::At89;
      chip->Config(ConfigByte::Lock) = 0x00;  // no lock bit programmed
      Erase(chip, info.flashLimit, 0);
    } else {
      const FuseDefaults& d = kAvrDefaults[i];
      chip->family = Family::Avr;
      chip->hasExtFuse = d.extMask != 0;
      chip->extMask = d.extMask;
      chip->lockMask = d.lockMask;
      chip->Config(ConfigByte::Low) = d.low;
      chip->Config(ConfigByte::High) = d.high;
      chip->Config(ConfigByte::Ext) = d.ext;
      Erase(chip, info.flashLimit, info.eepromLimit);
    }
    return true;
  }
  std::string names;
  for (ChipIndex i = 1; i < kChipCatalogueSize; ++i) names += std::string(i > 1 ? ", " : "") + kChipCatalogue[i].name;
  return Fail(error, std::string("unknown chip \"") + chipWord + "\" (known: " + names +
                         ", none, or avr:SSSSSS:FLASH:PAGE:EEPROM[:ext])");
}

bool ParseConfigByte(const char* word, ConfigByte* which) {
  static const char* const kNames[4] = {"LOCK", "LOW", "HIGH", "EXT"};
  for (int i = 0; i < 4; ++i) {
    if (word && SameWord(word, kNames[i])) {
      *which = static_cast<ConfigByte>(i);
      return true;
    }
  }
  return false;
}

bool SameChip(const ChipState& a, const ChipState& b) {
  return a.family == b.family && a.name == b.name && std::memcmp(a.signature, b.signature, 3) == 0 &&
         a.pageSize == b.pageSize && a.hasExtFuse == b.hasExtFuse && a.extMask == b.extMask &&
         std::memcmp(a.config, b.config, 4) == 0 && a.flash == b.flash && a.eeprom == b.eeprom;
}

uint32_t CountProgrammed(const std::vector<uint8_t>& memory) {
  uint32_t n = 0;
  for (uint8_t b : memory) n += b != 0xFF;
  return n;
}

bool SaveChip(const std::string& path, const ChipState& chip, std::string* error) {
  uint8_t header[kHeaderSize] = {};
  std::memcpy(header, kMagic, 8);
  PutU32(header + 8, kFormatVersion);
  header[12] = static_cast<uint8_t>(chip.family);
  std::memcpy(header + 13, chip.signature, 3);
  PutU32(header + 16, static_cast<uint32_t>(chip.flash.size()));
  PutU32(header + 20, chip.pageSize);
  PutU32(header + 24, static_cast<uint32_t>(chip.eeprom.size()));
  header[28] = chip.hasExtFuse ? 1 : 0;
  header[29] = chip.extMask;
  std::memcpy(header + 30, chip.config, 4);
  std::strncpy(reinterpret_cast<char*>(header + kNameOffset), chip.name.c_str(), kNameField - 1);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return Fail(error, "cannot write state file " + path);
  auto put = [f](const std::vector<uint8_t>& m) { return m.empty() || std::fwrite(m.data(), 1, m.size(), f) == m.size(); };
  bool ok = std::fwrite(header, 1, kHeaderSize, f) == kHeaderSize && put(chip.flash) && put(chip.eeprom);
  ok = std::fclose(f) == 0 && ok;
  return ok ? true : Fail(error, "cannot write state file " + path);
}

bool LoadChip(const std::string& path, ChipState* chip, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return Fail(error, "cannot open state file " + path);
  uint8_t header[kHeaderSize];
  ChipState c;
  std::string problem;
  if (std::fread(header, 1, kHeaderSize, f) != kHeaderSize || std::memcmp(header, kMagic, 8) != 0) {
    problem = "not a kq560sim state file";
  } else if (GetU32(header + 8) != kFormatVersion) {
    problem = "unsupported state file version " + std::to_string(GetU32(header + 8));
  } else {
    problem = CheckHeader(header, &c);
    if (problem.empty()) {
      auto get = [f](std::vector<uint8_t>& m) { return m.empty() || std::fread(m.data(), 1, m.size(), f) == m.size(); };
      uint8_t extra = 0;
      if (!get(c.flash) || !get(c.eeprom) || std::fread(&extra, 1, 1, f) != 0)
        problem = "state file has the wrong length";
    }
  }
  std::fclose(f);
  if (!problem.empty()) return Fail(error, path + ": " + problem);
  *chip = std::move(c);
  return true;
}

}  // namespace kq560sim
