#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// The chip words as a user types them, by ChipIndex (index 0 answers to "MEGA").
const char* const kWords[13] = {"MEGA",     "MEGA8",    "MEGA16", "MEGA32", "MEGA64",  "MEGA128", "MEGA8515",
                                "MEGA8535", "MEGA48",   "MEGA88", "MEGA168", "AT89S51", "AT89S52"};

int Parse(const std::string& text, CommandLine* out) { return ParseCommandLine(text.c_str(), out); }

TEST(CommandLine, EmptyTextChangesNothing) {
  CommandLine out;
  out.chipIndex = 7;
  out.fileChosen = 1;
  std::strcpy(out.filePath, "KEEP");
  EXPECT_EQ(kCommandLineEmpty, Parse("", &out));
  EXPECT_EQ(kCommandLineEmpty, ParseCommandLine(nullptr, &out));
  // Blanks after the program name are skipped before the parser sees them.
  EXPECT_EQ(kCommandLineEmpty, Parse(SkipProgramName("\"C:\\a b\\mcufeed.exe\" \t  "), &out));
  EXPECT_EQ(7, out.chipIndex);
  EXPECT_EQ(0, out.commandLineMode);
  EXPECT_EQ(1, out.fileChosen);
  EXPECT_STREQ("KEEP", out.filePath);
}

// Every chip word with every operation, with and without a quoted path, in
// upper and lower case: WF needs a path, WE a path and an AVR chip, RM no path.
TEST(CommandLine, AcceptanceMatrix) {
  struct Op {
    const char* letters;
    uint16_t code;
    bool needsPath;  // else refuses one
    bool avrOnly;
  };
  const Op kOps[] = {{"WF", kCommandOpWriteFlash, true, false},
                     {"WE", kCommandOpWriteEeprom, true, true},
                     {"RM", kCommandOpReset, false, false}};
  for (ChipIndex chip = 0; chip <= 12; ++chip) {
    for (const auto& op : kOps) {
      for (bool path : {false, true}) {
        for (bool lower : {false, true}) {
          std::string line = std::string(kWords[chip]) + " " + op.letters + (path ? " \"d:\\A b.hex\"" : "");
          if (lower) {
            for (char& c : line) c = char(std::tolower(static_cast<unsigned char>(c)));
          }
          SCOPED_TRACE(line);
          const bool accepted = path == op.needsPath && (!op.avrOnly || chip <= 10);
          CommandLine out;
          EXPECT_EQ(accepted ? kCommandLineAccepted : kCommandLineHelp, Parse(line, &out));
          EXPECT_EQ(accepted ? 1 : 0, out.commandLineMode);
          if (!accepted) continue;
          EXPECT_EQ(chip, out.chipIndex);
          EXPECT_EQ(op.code, out.commandOp);
          EXPECT_EQ(path ? 1 : 0, out.fileChosen);
          EXPECT_STREQ(path ? "D:\\A B.HEX" : "", out.filePath);
        }
      }
    }
  }
}

TEST(CommandLine, AcceptedLines) {
  struct Accepted {
    std::string line;
    ChipIndex chip;
    uint16_t op;
    int fileChosen;
    std::string path;  // as stored: upper-cased
  };
  const Accepted kCases[] = {
      {"MEGA8  WF \"D:\\down\\down.hex\"", 1, kCommandOpWriteFlash, 1, "D:\\DOWN\\DOWN.HEX"},  // the help's example
      {"mega16 we \"d:\\下载\\Ünï.hex\"", 2, kCommandOpWriteEeprom, 1, "D:\\下载\\ÜNï.HEX"},
      {"MEGA8 WF \"\"", 1, kCommandOpWriteFlash, 1, ""},
      {"MEGA32 WF\"C:\\My Files\\new  prog.hex\"", 3, kCommandOpWriteFlash, 1, "C:\\MY FILES\\NEW  PROG.HEX"},
      {"MEGA8 WF \"a.hex\" more words here", 1, kCommandOpWriteFlash, 1, "A.HEX"},
      {"MEGA8 WF \"a.hex\" \"b.hex\"", 1, kCommandOpWriteFlash, 1, "A.HEX"},
      {"MEGA8 WF \"a.hex\"\"", 1, kCommandOpWriteFlash, 1, "A.HEX"},
      {"MEGA8 WF \"a.hex\"RM AT89S51 WE", 1, kCommandOpWriteFlash, 1, "A.HEX"},
      {"MEGA8    WF     \"a.hex\"", 1, kCommandOpWriteFlash, 1, "A.HEX"},
      {"  MEGA64  RM   ", 4, kCommandOpReset, 0, ""},
      {"MEGA8 WF \"" + std::string(244, 'x') + "\"", 1, kCommandOpWriteFlash, 1, std::string(244, 'X')},  // 255
  };
  for (const Accepted& c : kCases) {
    SCOPED_TRACE(c.line);
    CommandLine out;
    ASSERT_EQ(kCommandLineAccepted, Parse(c.line, &out));
    EXPECT_EQ(1, out.commandLineMode);
    EXPECT_EQ(c.chip, out.chipIndex);
    EXPECT_EQ(c.op, out.commandOp);
    EXPECT_EQ(c.fileChosen, out.fileChosen);
    EXPECT_EQ(c.path, out.filePath);
  }
}

TEST(CommandLine, MalformedLinesShowTheHelp) {
  std::vector<std::string> lines = {
      "   ", "MEGA AUTO RM", "MEGA AUTO WF \"a.hex\"",                                          // blanks, MEGA AUTO
      "/?", "/? ", "MEGA8X RM", "MEGA1 RM", "AT89S53 RM", "ATMEGA8 RM", "MEG RM", "MEGA_AUTO RM",  // no such chip
      "MEGA8", "MEGA8 ", "MEGA8 W \"a\"", "MEGA8 WFX \"a\"", "MEGA8 RW", "MEGA8 FW \"a\"", "MEGA8 R",   // operation
      "MEGA8 RM NOW", "MEGA8 RM D:\\a.hex", "MEGA8 WF X \"a.hex\"",                              // third word
      "MEGA8 WF \"D:\\down\\down.hex", "MEGA8 RM \"", "\"D:\\a.hex\" MEGA8 WF", "MEGA8 \"a.hex\" WF",  // quotes
      "MEGA8\tWF \"a.hex\"", "MEGA8 WF\t\"a.hex\"", "MEGA8 RM\t", "\tMEGA8 RM",                    // tabs
  };
  // Words of 9 to 14 characters fail the lookup, of 15 or more the length test.
  for (size_t length : {9, 14, 15, 16, 250}) lines.push_back("MEGA8515" + std::string(length - 8, '5') + " RM");
  // Over 255 characters, counted in bytes ("下" is three), even if otherwise valid.
  for (size_t length : {256, 257, 4000}) lines.push_back("MEGA8 WF \"" + std::string(length - 11, 'x') + "\"");
  std::string multibyte;
  for (int i = 0; i < 83; ++i) multibyte += "下";
  lines.push_back("MEGA8 WF \"" + multibyte + "\"");
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    CommandLine out;
    EXPECT_EQ(kCommandLineHelp, Parse(line, &out));
    EXPECT_EQ(0, out.commandLineMode);
  }
}

TEST(SkipProgramName, SkipsTheNameAndTheBlanksAfterIt) {
  const std::pair<const char*, const char*> kCases[] = {
      {"\"C:\\Program Files\\mcufeed.exe\" MEGA8 RM", "MEGA8 RM"},
      {"\"C:\\x.exe\"MEGA8 RM", "MEGA8 RM"},
      {"\"mcufeed\"  \t MEGA8 WF \"a b.hex\"", "MEGA8 WF \"a b.hex\""},
      {"\"C:\\never closed MEGA8 RM", ""},
      {"\"\"", ""},
      {"mcufeed.exe MEGA8 RM", "MEGA8 RM"},
      {"mcufeed.exe\tMEGA8 RM", "MEGA8 RM"},
      {"mcufeed.exe \t\r\n MEGA8", "MEGA8"},
      {"mcufeed.exe", ""},
      {"", ""},
      {"D:\\下载\\mcufeed.exe MEGA8 RM", "MEGA8 RM"},  // multibyte bytes are no blanks
      {"mcufeed 下载 RM", "下载 RM"},
  };
  for (const auto& c : kCases) EXPECT_STREQ(c.second, SkipProgramName(c.first)) << c.first;
  EXPECT_STREQ("", SkipProgramName(nullptr));
}

}  // namespace
