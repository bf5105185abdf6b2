// The command-line tool's arguments: options (anywhere) and CHIP OP [ARG...], or one
// of the forms without a chip (--list, --check FILE). The chip words and which
// operation takes a path follow the window's command-line grammar; only its
// 255-character limit does not apply here.
#pragma once
#include <cstdint>
#include <string>

#include "engine/chip_catalog.h"

enum class CliForm { Operation, List, Check, Help };

enum class CliOp : uint8_t {
  WriteFlash, WriteEeprom, Reset,      // the window's three
  ReadFlash, ReadEeprom, VerifyFlash, VerifyEeprom, Erase, ShowConfig, WriteConfig,
};

constexpr int kConfigUnset = -1;

struct CliOptions {
  CliForm form = CliForm::Operation;
  int fast = -1;        // --fast=0|1; -1: the stored setting
  int slot = -1;        // --slot=N; -1: the first slot that opens
  bool json = false;    // one JSON line on stdout, everything else on stderr
  bool run = false;     // reset the target after a good write, verify or erase
  bool force = false;   // WC: write even what the hazard rules refuse
  ChipIndex chip = kChipNoneChosen;
  CliOp op = CliOp::Reset;
  std::string path;     // the operation's file, or --check's; as given, case and all
  // WC: the AVR bytes by ConfigByte (lock, extended, high, low), kConfigUnset
  // where not given; the AT89S5x lock level likewise.
  int config[4] = {kConfigUnset, kConfigUnset, kConfigUnset, kConfigUnset};
  int level = kConfigUnset;
};

// argv[0] is the program name; every argument is UTF-8. False for bad usage,
// with one line saying why in `problem`; `out` then still holds what was
// understood (--json in particular, so the failure gets its JSON line).
bool ParseCliArguments(int argc, const char* const* argv, CliOptions* out, std::string* problem);

// The two letters of an operation, upper case.
const char* CliOpLetters(CliOp op);

// Operations that read or compare the chip's memory (refused on a read-protected chip).
bool CliOpReadsMemory(CliOp op);
bool CliOpIsEeprom(CliOp op);

// The usage text, with the exit codes; ends in a newline.
const char* CliUsageText();
