// The command-line grammar: a chip word, a two-letter operation and a quoted
// file path, e.g.  MCUFEED MEGA8 WF "D:\down\down.hex".
//
// The parser only fills a record and says whether the help is due; showing
// the help box and ending the process is the caller's business.
#pragma once
#include <cstdint>

#include "engine/chip_catalog.h"

// Operation letters, first letter in the high byte.
constexpr uint16_t kCommandOpWriteFlash = 0x5746;   // "WF"
constexpr uint16_t kCommandOpWriteEeprom = 0x5745;  // "WE"
constexpr uint16_t kCommandOpReset = 0x524D;        // "RM"

constexpr int kCommandPathSize = 260;

// What the command line asks for. The defaults are the state the program
// starts in; the window's AppState copies these fields.
struct CommandLine {
  ChipIndex chipIndex = kChipAuto;
  int commandLineMode = 0;          // 1 once a command was accepted
  int fileChosen = 0;               // 1 once a quoted path was found
  char filePath[kCommandPathSize] = {};  // upper-cased, as typed between the quotes
  uint16_t commandOp = 0;           // kCommandOp*, or whatever two letters stood there
};

// Results of ParseCommandLine.
constexpr int kCommandLineEmpty = 0;     // nothing given, nothing changed
constexpr int kCommandLineAccepted = 1;  // out->commandLineMode is 1
constexpr int kCommandLineHelp = 2;      // malformed: show HelpText(), exit code 1

// Parses the text that follows the program name. `text` is bytes (UTF-8 on
// Windows); only 'a'..'z' are folded, so multibyte characters pass unchanged.
// On kCommandLineHelp some fields of `out` may already be overwritten
// (chipIndex becomes kChipNoneChosen early); commandLineMode stays as it was.
int ParseCommandLine(const char* text, CommandLine* out);

// Skips the program name at the start of a full process command line: a
// quoted name up to its closing quote, an unquoted one up to the first byte
// at or below the blank, then every byte at or below the blank. Bytes count
// as unsigned, so UTF-8 lead and trail bytes are never taken for blanks.
const char* SkipProgramName(const char* fullCommandLine);

// The grammar's pieces, for the command-line tool, which gets its words
// separately and has no line-length limit. The chip for a word already in
// upper case ("MEGA" is kChipAuto), or kChipNoneChosen when no name matches.
ChipIndex ChipForCommandWord(const char* upperWord);
// Whether `op` (WF, WE or RM) goes with the chip and with a path or none.
bool CommandOpAccepted(uint16_t op, ChipIndex chip, bool pathPresent);

// The command help: twenty lines joined by '\n', no newline at the end, UTF-8.
const char* HelpText();
