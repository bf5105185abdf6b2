#include "app/cli/cli_options.h"

#include <cstring>
#include <vector>

#include "app/command_line.h"
#include "engine/avr_config.h"

namespace {

enum class ArgKind : uint8_t { None, Path, Assignments };

struct OpInfo {
  const char* letters;
  CliOp op;
  uint16_t grammar;  // the window's operation whose chip and path rule applies
  ArgKind args;
  bool runAfter;     // --run allowed
};

const OpInfo kOps[] = {
    {"WF", CliOp::WriteFlash, kCommandOpWriteFlash, ArgKind::Path, true},
    {"WE", CliOp::WriteEeprom, kCommandOpWriteEeprom, ArgKind::Path, true},
    {"RM", CliOp::Reset, kCommandOpReset, ArgKind::None, false},
    {"RF", CliOp::ReadFlash, kCommandOpWriteFlash, ArgKind::Path, false},
    {"RE", CliOp::ReadEeprom, kCommandOpWriteEeprom, ArgKind::Path, false},
    {"VF", CliOp::VerifyFlash, kCommandOpWriteFlash, ArgKind::Path, true},
    {"VE", CliOp::VerifyEeprom, kCommandOpWriteEeprom, ArgKind::Path, true},
    {"ER", CliOp::Erase, kCommandOpReset, ArgKind::None, true},
    {"CF", CliOp::ShowConfig, kCommandOpReset, ArgKind::None, false},
    {"WC", CliOp::WriteConfig, kCommandOpReset, ArgKind::Assignments, false},
};

const char kUsage[] =
    "usage: mcufeed-cli [OPTIONS] CHIP OP [ARG...]\n"
    "       mcufeed-cli [--json] --list\n"
    "       mcufeed-cli [--json] --check FILE\n"
    "  CHIP  MEGA (recognise the AVR part), MEGA8, MEGA16, MEGA32, MEGA64, MEGA128,\n"
    "        MEGA8515, MEGA8535, MEGA48, MEGA88, MEGA168, AT89S51, AT89S52\n"
    "  OP    WF FILE  write FILE into flash and verify it\n"
    "        WE FILE  write FILE into EEPROM and verify it (AVR only)\n"
    "        RF FILE  read the whole flash into FILE\n"
    "        RE FILE  read the whole EEPROM into FILE (AVR only)\n"
    "        VF FILE  verify the flash against FILE\n"
    "        VE FILE  verify the EEPROM against FILE (AVR only)\n"
    "        ER       chip erase\n"
    "        CF       show the fuse and lock bytes (AT89S5x: the lock level)\n"
    "        WC NAME=VALUE...  write configuration bytes: lock= low= high= ext=\n"
    "                 (0x hex or decimal; AVR), or level=0..3 (AT89S5x)\n"
    "        RM       reset the target so it runs\n"
    "  FILE  Intel HEX when the name ends in HEX (any case), raw binary otherwise\n"
    "OPTIONS (anywhere; write a path that starts with -- as ./--name):\n"
    "  --slot=N     use bridge slot N (0-15) only; default: the first that opens\n"
    "  --fast=1|0   use (or not) the bridge's hardware SPI for AVR pages in this run\n"
    "  --run        after WF, WE, VF, VE or ER, reset the target so it starts\n"
    "  --force      WC: write even a configuration the guard refuses\n"
    "  --json       print one JSON line on stdout at the end; all else goes to stderr\n"
    "  --list       list the bridges: slot, name, chip version (or busy)\n"
    "  --check FILE decode FILE as a job would: length, address range, crc32\n"
    "exit codes: 0 success, 2 usage, 3 no bridge, 4 identification failed,\n"
    "  5 file could not be read or written, 6 bad HEX file, 7 transfer, writing or\n"
    "  verification failed or stopped (Ctrl+C), 8 the reset sequence failed,\n"
    "  9 configuration write refused by the guard (use --force),\n"
    "  10 the chip is read-protected (nothing read), 130 Ctrl+C twice\n";

// Decimal or 0x hex, 0 to `limit`, nothing else.
bool ParseByteValue(const char* text, int limit, int* value) {
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
  }
  if (*text == '\0') return false;
  long v = 0;
  for (; *text; ++text) {
    const char c = *text;
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    v = v * base + digit;
    if (v > limit) return false;
  }
  *value = int(v);
  return true;
}

std::string Upper(const char* text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

bool ParseAssignment(const char* text, CliOptions* out, std::string* problem) {
  const char* equals = std::strchr(text, '=');
  std::string name = equals ? std::string(text, size_t(equals - text)) : std::string(text);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  static const char* const kAvrNames[4] = {"lock", "ext", "high", "low"};  // by ConfigByte
  const bool at89 = out->chip == 11 || out->chip == 12;
  int* slot = nullptr;
  int limit = 255;
  if (at89 && name == "level") {
    slot = &out->level;
    limit = 3;
  }
  for (int i = 0; i < 4 && !at89; ++i)
    if (name == kAvrNames[i]) slot = &out->config[i];
  if (!equals || !slot) {
    *problem = std::string("WC takes ") + (at89 ? "level=0..3" : "lock=, low=, high=, ext=") + ", not '" + text + "'";
    return false;
  }
  if (*slot != kConfigUnset) {
    *problem = "'" + name + "' is given twice";
    return false;
  }
  if (!ParseByteValue(equals + 1, limit, slot)) {
    *problem = "'" + std::string(text) + "': the value must be 0 to " + std::to_string(limit) + ", decimal or 0x hex";
    *slot = kConfigUnset;
    return false;
  }
  return true;
}

}  // namespace

bool ParseCliArguments(int argc, const char* const* argv, CliOptions* out, std::string* problem) {
  // Options may stand anywhere; every other argument is a word. A path that
  // starts with "--" is written "./--name".
  std::vector<const char*> word;
  bool fastOrSlot = false;
  for (int i = 1; i < argc; ++i) {
    const char* option = argv[i];
    if (std::strncmp(option, "--", 2) != 0) {
      word.push_back(option);
      continue;
    }
    if (std::strcmp(option, "--fast=1") == 0 || std::strcmp(option, "--fast=0") == 0) {
      out->fast = option[7] - '0';
      fastOrSlot = true;
    } else if (std::strncmp(option, "--slot=", 7) == 0) {
      const char* number = option + 7;
      const size_t digits = std::strspn(number, "0123456789");
      if (digits == 0 || digits > 2 || number[digits] != '\0' || !ParseByteValue(number, 15, &out->slot)) {
        out->slot = -1;
        *problem = "--slot takes a slot number from 0 to 15";
        return false;
      }
      fastOrSlot = true;
    } else if (std::strcmp(option, "--json") == 0) {
      out->json = true;
    } else if (std::strcmp(option, "--run") == 0) {
      out->run = true;
    } else if (std::strcmp(option, "--force") == 0) {
      out->force = true;
    } else if (std::strcmp(option, "--list") == 0) {
      out->form = CliForm::List;
    } else if (std::strcmp(option, "--check") == 0) {
      out->form = CliForm::Check;
      if (++i == argc) {
        *problem = "--check needs a file";
        return false;
      }
      out->path = argv[i];
    } else if (std::strcmp(option, "--help") == 0) {
      out->form = CliForm::Help;
      return true;
    } else {
      *problem = std::string("unknown option ") + option;
      return false;
    }
  }
  const int words = int(word.size());

  if (out->form != CliForm::Operation) {
    if (words != 0 || fastOrSlot || out->run || out->force) {
      *problem = std::string(out->form == CliForm::List ? "--list" : "--check") +
                 " takes no chip, operation or options other than --json";
      return false;
    }
    if (out->form == CliForm::Check && out->path.empty()) {
      *problem = "the path cannot be empty";
      return false;
    }
    return true;
  }

  if (words < 2) {
    *problem = "give a chip and an operation";
    return false;
  }
  out->chip = ChipForCommandWord(Upper(word[0]).c_str());
  if (out->chip == kChipNoneChosen) {
    *problem = std::string("unknown chip ") + word[0];
    return false;
  }
  const std::string letters = Upper(word[1]);
  const OpInfo* info = nullptr;
  for (const OpInfo& candidate : kOps)
    if (letters == candidate.letters) info = &candidate;
  if (!info) {
    *problem = std::string("unknown operation ") + word[1];
    return false;
  }
  out->op = info->op;
  const int args = words - 2;
  const char* const* arg = word.data() + 2;
  if (info->args == ArgKind::Path ? args != 1 : info->args == ArgKind::None && args != 0) {
    *problem = std::string(info->letters) + (info->args == ArgKind::Path ? " takes one file" : " takes no arguments");
    return false;
  }
  if (!CommandOpAccepted(info->grammar, out->chip, info->args == ArgKind::Path)) {
    *problem = std::string(info->letters) + " is for AVR parts only";
    return false;
  }
  if (info->args == ArgKind::Path) {
    out->path = arg[0];
    if (out->path.empty()) {
      *problem = "the path cannot be empty";
      return false;
    }
  }
  if (info->args == ArgKind::Assignments) {
    if (args == 0) {
      *problem = "WC needs at least one NAME=VALUE";
      return false;
    }
    for (int k = 0; k < args; ++k)
      if (!ParseAssignment(arg[k], out, problem)) return false;
    if (out->config[int(ConfigByte::Extended)] != kConfigUnset && IsAvrPart(out->chip) && !HasExtendedFuse(out->chip)) {
      *problem = std::string(ChipName(out->chip)) + " has no extended fuse byte";
      return false;
    }
  }
  if (out->run && !info->runAfter) {
    *problem = std::string("--run goes with WF, WE, VF, VE and ER, not ") + info->letters;
    return false;
  }
  if (out->force && info->op != CliOp::WriteConfig) {
    *problem = "--force goes with WC only";
    return false;
  }
  return true;
}

const char* CliOpLetters(CliOp op) {
  for (const OpInfo& info : kOps)
    if (info.op == op) return info.letters;
  return "";
}

bool CliOpReadsMemory(CliOp op) {
  return op == CliOp::ReadFlash || op == CliOp::ReadEeprom || op == CliOp::VerifyFlash || op == CliOp::VerifyEeprom;
}

bool CliOpIsEeprom(CliOp op) {
  return op == CliOp::WriteEeprom || op == CliOp::ReadEeprom || op == CliOp::VerifyEeprom;
}

const char* CliUsageText() { return kUsage; }
