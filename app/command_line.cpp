#include "app/command_line.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr size_t kMaxLineLength = 255;
constexpr size_t kLineCopySize = 256;
constexpr size_t kPathCopySize = 256;
constexpr size_t kWordCopySize = 16;
constexpr size_t kWordTooLong = 15;

constexpr ChipIndex kFirstNamedChip = 1;   // "MEGA8"; index 0 answers to "MEGA" only
constexpr ChipIndex kLastNamedChip = 12;   // "AT89S52"
constexpr ChipIndex kFirstChipWithoutEeprom = 11;

const char kHelpText[] =
    "1.显示帮助\n"
    "MCUFEED /? \n"
    "\n"
    "2.下载文件\n"
    "MCUFEED %1 %2 %3\n"
    "参数1: 参考下面复位的参数1\n"
    "参数2: WF 对FLASH编程 WE 对EEPROM编程\n"
    "参数3: 下载文件路径\n"
    "例: MCUFEED MEGA8  WF \"D:\\down\\down.hex\"\n"
    "以上实现把down.hex下载到MEGA8的FLASH\n"
    "\n"
    "3.复位\n"
    "MCUFEED %1 %2\n"
    "参数1:可能取值如下:\n"
    "MEGA , MEGA8, MEGA16, MEGA32, MEGA64, MEGA128, MEGA8515,\n"
    "MEGA8535, MEGA48 MEGA88,MEGA168, AT89S51,AT89S52\n"
    "其 MEGA 为自动识别所支持的MEGA系列MCU\n"
    "参数2: RM\n"
    "例: MCUFEED AT89S51 RM\n"
    "以上实现对AT89S51的复位";

// Words are separated by the blank alone; a tab belongs to the word.
// Returns the length of the next word (0 when none is left), its start in
// *start, and moves *cursor past it.
size_t NextWord(const char** cursor, const char** start) {
  const char* p = *cursor;
  while (*p == ' ') ++p;
  *start = p;
  while (*p != '\0' && *p != ' ') ++p;
  *cursor = p;
  return static_cast<size_t>(p - *start);
}

}  // namespace

ChipIndex ChipForCommandWord(const char* word) {
  if (std::strcmp(word, "MEGA") == 0) return kChipAuto;
  for (ChipIndex i = kFirstNamedChip; i <= kLastNamedChip; ++i) {
    if (std::strcmp(word, ChipName(i)) == 0) return i;
  }
  return kChipNoneChosen;
}

bool CommandOpAccepted(uint16_t op, ChipIndex chip, bool pathPresent) {
  switch (op) {
    case kCommandOpWriteFlash: return pathPresent;
    case kCommandOpWriteEeprom: return pathPresent && chip < kFirstChipWithoutEeprom;
    case kCommandOpReset: return !pathPresent;
    default: return false;
  }
}

int ParseCommandLine(const char* text, CommandLine* out) {
  if (text == nullptr || text[0] == '\0') return kCommandLineEmpty;

  size_t length = 0;
  while (length <= kMaxLineLength && text[length] != '\0') ++length;
  if (length > kMaxLineLength) return kCommandLineHelp;

  out->chipIndex = kChipNoneChosen;

  // Only ASCII letters are folded: bytes of multibyte characters stay as
  // they are, and the path is kept in this upper-cased form.
  char line[kLineCopySize];
  for (size_t i = 0; i <= length; ++i) {
    char c = text[i];
    line[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }

  bool pathPresent = false;
  if (char* open = std::strchr(line, '"')) {
    const char* close = std::strchr(open + 1, '"');
    if (close == nullptr) return kCommandLineHelp;
    char path[kPathCopySize];
    size_t pathLength = static_cast<size_t>(close - (open + 1));
    if (pathLength >= kPathCopySize) pathLength = kPathCopySize - 1;
    if (pathLength >= sizeof out->filePath) pathLength = sizeof out->filePath - 1;
    std::memcpy(path, open + 1, pathLength);
    path[pathLength] = '\0';
    std::memcpy(out->filePath, path, pathLength + 1);
    out->fileChosen = 1;
    pathPresent = true;
    // The words are only what stands before the opening quote; whatever
    // follows the closing one is never looked at.
    *open = '\0';
  }

  const char* cursor = line;
  const char* start = nullptr;
  size_t wordLength = NextWord(&cursor, &start);
  if (wordLength == 0 || wordLength >= kWordTooLong) return kCommandLineHelp;
  char word[kWordCopySize];
  std::memcpy(word, start, wordLength);
  word[wordLength] = '\0';

  out->chipIndex = ChipForCommandWord(word);
  if (out->chipIndex == kChipNoneChosen) return kCommandLineHelp;

  if (NextWord(&cursor, &start) != 2) return kCommandLineHelp;
  out->commandOp = static_cast<uint16_t>((static_cast<unsigned char>(start[0]) << 8) |
                                         static_cast<unsigned char>(start[1]));
  if (!CommandOpAccepted(out->commandOp, out->chipIndex, pathPresent)) return kCommandLineHelp;

  if (NextWord(&cursor, &start) != 0) return kCommandLineHelp;

  out->commandLineMode = 1;
  return kCommandLineAccepted;
}

const char* SkipProgramName(const char* fullCommandLine) {
  if (fullCommandLine == nullptr) return "";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(fullCommandLine);
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p != '\0' && *p <= ' ') ++p;
  return reinterpret_cast<const char*>(p);
}

const char* HelpText() { return kHelpText; }
