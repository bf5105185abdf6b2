// kq560sim: sets up and inspects simulator state files for scripts and tests.
//   kq560sim new FILE CHIP
//   kq560sim show FILE
//   kq560sim dump FILE flash|eeprom OUT
//   kq560sim set FILE lock|low|high|ext VALUE
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/chip_model.h"

using namespace kq560sim;

namespace {

constexpr const char* kUsage =
    "usage: kq560sim new FILE CHIP          CHIP: MEGA8 ... MEGA168, AT89S51, AT89S52, none,\n"
    "                                       or avr:SSSSSS:FLASH:PAGE:EEPROM[:ext]\n"
    "       kq560sim show FILE\n"
    "       kq560sim dump FILE flash|eeprom OUT\n"
    "       kq560sim set FILE lock|low|high|ext VALUE   (VALUE 0-255, 0x.. for hex)\n";

int Fail(const std::string& text) {
  std::fprintf(stderr, "kq560sim: %s\n", text.c_str());
  return 1;
}

bool HasByte(const ChipState& chip, ConfigByte which) {
  if (chip.family == Family::At89) return which == ConfigByte::Lock;
  return chip.family == Family::Avr && (which != ConfigByte::Ext || chip.hasExtFuse);
}

int Show(const ChipState& chip) {
  static const char* const kFamilies[] = {"none", "AVR", "AT89S5x"};
  std::printf("chip: %s\nfamily: %s\n", chip.name.c_str(), kFamilies[static_cast<int>(chip.family)]);
  if (chip.family == Family::None) return 0;
  std::printf("signature: %02X %02X %02X\n", chip.signature[0], chip.signature[1], chip.signature[2]);
  static const char* const kBytes[] = {"lock", "low", "high", "ext"};
  for (int i = 0; i < 4; ++i) {
    if (HasByte(chip, static_cast<ConfigByte>(i)))
      std::printf("%s: 0x%02X\n", kBytes[i], chip.config[i]);
    else
      std::printf("%s: -\n", kBytes[i]);
  }
  std::printf("flash: %u bytes, %u not 0xFF\n", static_cast<unsigned>(chip.flash.size()), CountProgrammed(chip.flash));
  std::printf("eeprom: %u bytes, %u not 0xFF\n", static_cast<unsigned>(chip.eeprom.size()),
              CountProgrammed(chip.eeprom));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  const bool shapeOk = (command == "new" && argc == 4) || (command == "show" && argc == 3) ||
                       (command == "dump" && argc == 5) || (command == "set" && argc == 5);
  if (!shapeOk) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string file = argv[2];
  ChipState chip;
  std::string error;
  if (command == "new") {
    if (!MakeChip(argv[3], &chip, &error) || !SaveChip(file, chip, &error)) return Fail(error);
    return 0;
  }
  if (!LoadChip(file, &chip, &error)) return Fail(error);
  if (command == "show") return Show(chip);
  if (command == "dump") {
    const std::string what = argv[3];
    if (what != "flash" && what != "eeprom") return Fail("dump takes flash or eeprom, not \"" + what + "\"");
    const std::vector<uint8_t>& m = what == "flash" ? chip.flash : chip.eeprom;
    std::FILE* out = std::fopen(argv[4], "wb");
    if (!out) return Fail(std::string("cannot write ") + argv[4]);
    const bool ok = std::fwrite(m.data(), 1, m.size(), out) == m.size();
    if (std::fclose(out) != 0 || !ok) return Fail(std::string("cannot write ") + argv[4]);
    return 0;
  }
  ConfigByte which;
  if (!ParseConfigByte(argv[3], &which)) return Fail(std::string("set takes lock, low, high or ext, not \"") + argv[3] + "\"");
  if (!HasByte(chip, which)) return Fail(chip.name + " has no " + argv[3] + " byte");
  char* end = nullptr;
  const unsigned long value = std::strtoul(argv[4], &end, 0);
  if (!*argv[4] || *end || value > 0xFF) return Fail(std::string("bad byte value \"") + argv[4] + "\"");
  chip.Config(which) = static_cast<uint8_t>(value);
  if (!SaveChip(file, chip, &error)) return Fail(error);
  return 0;
}
