// What a run of the command-line tool did, and its three renderings: the
// summary line after a success, the one failure line on stderr, and the
// --json line.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/chip_catalog.h"

struct BridgeListing {
  uint32_t slot;
  std::string name;
  bool busy;         // held by another program: not opened, no version
  uint32_t version;
};

// One configuration byte as CF shows it: "low 0xE1 SUT0 CKSEL3 ...", or the
// AT89S5x lock level ("level 2").
struct ConfigLine {
  const char* name;
  int value;
  std::string programmedBits;  // names of the bits at 0, highest first, blank-separated
};

enum class ReportForm { Operation, List, Check, Usage };

struct RunReport {
  ReportForm form = ReportForm::Operation;
  const char* op = nullptr;         // "WF" ...; null before the operation is known
  ChipIndex chip = kChipNoneChosen; // the recognised part once identification succeeded
  bool identified = false;
  int slot = -1;                    // the bridge used
  bool hasFile = false;
  std::string file;
  bool hasBytes = false;
  uint32_t bytes = 0;               // written, verified or read (--check: the effective length)
  uint32_t crc32 = 0;               // of those bytes
  bool hasRange = false;            // --check: lowest and highest address written
  uint32_t first = 0, last = 0;
  const char* memory = nullptr;     // "flash", "EEPROM" or null: for the summary
  const char* done = nullptr;       // "written and verified", "read", "chip erased" ...
  bool runRequested = false;        // --run
  bool started = false;             // --run: the reset sequence ran
  std::vector<ConfigLine> config;   // CF
  std::vector<BridgeListing> bridges;  // --list
  int exit = 0;
  std::string status;               // the last status text shown
  const char* step = nullptr;       // where a failed run failed
  std::string detail;               // more about the failure (hazards, bytes that differ, usage problem)
  double seconds = 0;
};

// "MEGA8 flash: 124 bytes written and verified in 0.4 s, crc32 1a2b3c4d".
std::string SummaryLine(const RunReport& report);
// "mcufeed-cli: MEGA8 WF failed in programming: 数据传输失败 (exit 7)".
std::string FailureLine(const RunReport& report);
// The JSON object, without a newline.
std::string JsonLine(const RunReport& report);
// A CF line: "low 0xE1 SUT0 CKSEL3" or "level 2".
std::string ConfigText(const ConfigLine& line);
// A --list line: "5 KQ560-5 0x30" or "2 KQ560-2 busy".
std::string ListingText(const BridgeListing& bridge);
