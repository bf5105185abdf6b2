#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The names as a user types them, index by index (index 0 answers to "MEGA").
const char* const kWords[13] = {"MEGA",     "MEGA8",    "MEGA16", "MEGA32", "MEGA64",
                                "MEGA128",  "MEGA8515", "MEGA8535", "MEGA48", "MEGA88",
                                "MEGA168",  "AT89S51",  "AT89S52"};

int Parse(const std::string& text, CommandLine* out) { return ParseCommandLine(text.c_str(), out); }

// A malformed line asks for the help and never switches command-line mode on.
void ExpectHelp(const std::string& line) {
  SCOPED_TRACE(line);
  CommandLine out;
  EXPECT_EQ(kCommandLineHelp, Parse(line, &out));
  EXPECT_EQ(0, out.commandLineMode);
}

std::vector<std::string> HelpLines() {
  std::vector<std::string> lines;
  std::string text = HelpText();
  size_t begin = 0;
  for (;;) {
    size_t end = text.find('\n', begin);
    lines.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  return lines;
}

// ---- Empty lines ---------------------------------------------------------------

TEST(CommandLineEmpty, EmptyTextChangesNothing) {
  CommandLine out;
  out.chipIndex = 7;
  out.fileChosen = 1;
  std::strcpy(out.filePath, "KEEP");
  out.commandOp = 0x1234;
  EXPECT_EQ(kCommandLineEmpty, Parse("", &out));
  EXPECT_EQ(kCommandLineEmpty, ParseCommandLine(nullptr, &out));
  EXPECT_EQ(7, out.chipIndex);
  EXPECT_EQ(0, out.commandLineMode);
  EXPECT_EQ(1, out.fileChosen);
  EXPECT_STREQ("KEEP", out.filePath);
  EXPECT_EQ(0x1234, out.commandOp);
}

TEST(CommandLineEmpty, BlanksAfterTheProgramNameLeaveNothingToParse) {
  CommandLine out;
  EXPECT_EQ(kCommandLineEmpty, Parse(SkipProgramName("mcufeed.exe    "), &out));
  EXPECT_EQ(kCommandLineEmpty, Parse(SkipProgramName("\"C:\\a b\\mcufeed.exe\" \t "), &out));
  EXPECT_EQ(kChipAuto, out.chipIndex);
  EXPECT_EQ(0, out.commandLineMode);
}

TEST(CommandLineEmpty, BlanksHandedOverDirectlyAreMalformed) {
  // The parser itself is handed blanks only when a caller skipped nothing.
  CommandLine out;
  EXPECT_EQ(kCommandLineHelp, Parse("   ", &out));
  EXPECT_EQ(kChipNoneChosen, out.chipIndex);
  EXPECT_EQ(0, out.commandLineMode);
}

// ---- Accepted commands ------------------------------------------------------

TEST(CommandLineAccepted, WriteFlashFillsEveryField) {
  CommandLine out;
  ASSERT_EQ(kCommandLineAccepted, Parse("MEGA8 WF \"D:\\down\\down.hex\"", &out));
  EXPECT_EQ(1, out.chipIndex);
  EXPECT_EQ(1, out.commandLineMode);
  EXPECT_EQ(1, out.fileChosen);
  EXPECT_STREQ("D:\\DOWN\\DOWN.HEX", out.filePath);
  EXPECT_EQ(kCommandOpWriteFlash, out.commandOp);
}

TEST(CommandLineAccepted, ResetLeavesThePathAlone) {
  CommandLine out;
  ASSERT_EQ(kCommandLineAccepted, Parse("AT89S51 RM", &out));
  EXPECT_EQ(11, out.chipIndex);
  EXPECT_EQ(1, out.commandLineMode);
  EXPECT_EQ(0, out.fileChosen);
  EXPECT_STREQ("", out.filePath);
  EXPECT_EQ(kCommandOpReset, out.commandOp);
}

// ---- Length limits ----------------------------------------------------------

std::string LineOfLength(size_t length) {
  std::string head = "MEGA8 WF \"";
  std::string line = head + std::string(length - head.size() - 1, 'x') + "\"";
  EXPECT_EQ(length, line.size());
  return line;
}

TEST(CommandLineLength, TwoHundredFiftyFiveCharactersAreAccepted) {
  CommandLine out;
  ASSERT_EQ(kCommandLineAccepted, Parse(LineOfLength(255), &out));
  EXPECT_EQ(244u, std::strlen(out.filePath));
  EXPECT_EQ(std::string(244, 'X'), out.filePath);
}

TEST(CommandLineLength, TwoHundredFiftySixOrMoreShowTheHelp) {
  for (size_t length : {256u, 257u, 300u, 4000u}) {
    SCOPED_TRACE(length);
    CommandLine out;
    EXPECT_EQ(kCommandLineHelp, Parse(LineOfLength(length), &out));
    EXPECT_EQ(0, out.commandLineMode);
    // Too long is refused before anything is recorded.
    EXPECT_EQ(kChipAuto, out.chipIndex);
    EXPECT_EQ(0, out.fileChosen);
  }
}

TEST(CommandLineLength, MultibyteCharactersCountAsTheirBytes) {
  // "下" is three bytes in UTF-8: 83 of them (249 bytes) and the command run past 255.
  std::string many;
  for (int i = 0; i < 83; ++i) many += "下";
  ExpectHelp("MEGA8 WF \"" + many + "\"");
}

// ---- Chip word --------------------------------------------------------------

TEST(CommandLineChipWord, EveryCatalogueWordSelectsItsIndex) {
  for (ChipIndex i = 0; i <= 12; ++i) {
    SCOPED_TRACE(kWords[i]);
    CommandLine out;
    ASSERT_EQ(kCommandLineAccepted, Parse(std::string(kWords[i]) + " RM", &out));
    EXPECT_EQ(i, out.chipIndex);
  }
}

TEST(CommandLineChipWord, MegaAutoIsTwoWordsAndFailsOnAuto) {
  CommandLine out;
  EXPECT_EQ(kCommandLineHelp, Parse("MEGA AUTO RM", &out));
  EXPECT_EQ(kChipAuto, out.chipIndex);  // "MEGA" itself matched
  EXPECT_EQ(0, out.commandLineMode);
  ExpectHelp("MEGA AUTO WF \"a.hex\"");
}

TEST(CommandLineChipWord, UnknownWordsShowTheHelp) {
  for (const char* line : {"/?", "/? ", "MEGA8X RM", "MEGA1 RM", "AT89S53 RM", "ATMEGA8 RM",
                           "MEG RM", "MEGA_AUTO RM"}) {
    SCOPED_TRACE(line);
    CommandLine out;
    EXPECT_EQ(kCommandLineHelp, Parse(line, &out));
    EXPECT_EQ(kChipNoneChosen, out.chipIndex);
    EXPECT_EQ(0, out.commandLineMode);
  }
}

TEST(CommandLineChipWord, WordsOfNineToFourteenFailTheLookup) {
  for (size_t length = 9; length <= 14; ++length) {
    SCOPED_TRACE(length);
    std::string word = "MEGA8515" + std::string(length - 8, '5');
    CommandLine out;
    EXPECT_EQ(kCommandLineHelp, Parse(word + " WF \"a.hex\"", &out));
    EXPECT_EQ(kChipNoneChosen, out.chipIndex);
    EXPECT_EQ(0, out.commandLineMode);
  }
}

TEST(CommandLineChipWord, WordsOfFifteenOrMoreFailTheLengthTest) {
  for (size_t length : {15u, 16u, 17u, 100u, 250u}) {
    SCOPED_TRACE(length);
    CommandLine out;
    EXPECT_EQ(kCommandLineHelp, Parse(std::string(length, 'M') + " RM", &out));
    EXPECT_EQ(kChipNoneChosen, out.chipIndex);
    EXPECT_EQ(0, out.commandLineMode);
  }
}

// ---- Case folding -----------------------------------------------------------

TEST(CommandLineCase, LowerCaseCommandIsAccepted) {
  CommandLine out;
  ASSERT_EQ(kCommandLineAccepted, Parse("mega8 wf \"d:\\down\\down.hex\"", &out));
  EXPECT_EQ(1, out.chipIndex);
  EXPECT_EQ(kCommandOpWriteFlash, out.commandOp);
  EXPECT_STREQ("D:\\DOWN\\DOWN.HEX", out.filePath);

  ASSERT_EQ(kCommandLineAccepted, Parse("At89s52 rM", &out));
  EXPECT_EQ(12, out.chipIndex);
  EXPECT_EQ(kCommandOpReset, out.commandOp);
}

TEST(CommandLineCase, MultibyteCharactersInThePathPassUnchanged) {
  CommandLine out;
  ASSERT_EQ(kCommandLineAccepted, Parse("mega16 we \"d:\\下载\\Ünï.hex\"", &out));
  EXPECT_EQ(2, out.chipIndex);
  EXPECT_EQ(kCommandOpWriteEeprom, out.commandOp);
  EXPECT_STREQ("D:\\下载\\ÜNï.HEX", out.filePath);
}

// ---- Operation acceptance ---------------------------------------------------

TEST(CommandLineOps, WriteFlashNeedsAPathOnEveryChip) {
  for (ChipIndex i = 0; i <= 12; ++i) {
    SCOPED_TRACE(kWords[i]);
    std::string word = kWords[i];
    CommandLine out;
    EXPECT_EQ(kCommandLineAccepted, Parse(word + " WF \"a.bin\"", &out));
    EXPECT_EQ(kCommandOpWriteFlash, out.commandOp);
    ExpectHelp(word + " WF");
  }
}

TEST(CommandLineOps, WriteEepromNeedsAPathAndAnAvrChip) {
  for (ChipIndex i = 0; i <= 12; ++i) {
    SCOPED_TRACE(kWords[i]);
    std::string word = kWords[i];
    CommandLine out;
    int expected = i <= 10 ? kCommandLineAccepted : kCommandLineHelp;
    EXPECT_EQ(expected, Parse(word + " WE \"a.bin\"", &out));
    EXPECT_EQ(i <= 10 ? 1 : 0, out.commandLineMode);
    ExpectHelp(word + " WE");
  }
}

TEST(CommandLineOps, ResetRefusesAPathOnEveryChip) {
  for (ChipIndex i = 0; i <= 12; ++i) {
    SCOPED_TRACE(kWords[i]);
    std::string word = kWords[i];
    CommandLine out;
    EXPECT_EQ(kCommandLineAccepted, Parse(word + " RM", &out));
    CommandLine withPath;
    EXPECT_EQ(kCommandLineHelp, Parse(word + " RM \"a.hex\"", &withPath));
    EXPECT_EQ(0, withPath.commandLineMode);
    EXPECT_EQ(1, withPath.fileChosen);  // the path was noted before the op was refused
  }
}

TEST(CommandLineOps, OtherSecondWordsShowTheHelp) {
  for (const char* line : {"MEGA8", "MEGA8 ", "MEGA8 W \"a\"", "MEGA8 WFX \"a\"", "MEGA8 RW",
                           "MEGA8 FW \"a\"", "MEGA8 MR", "MEGA8 R"}) {
    ExpectHelp(line);
  }
}

TEST(CommandLineOps, AnUnquotedThirdWordShowsTheHelp) {
  ExpectHelp("MEGA8 RM NOW");
  ExpectHelp("MEGA8 RM D:\\a.hex");
  ExpectHelp("MEGA8 WF X \"a.hex\"");
}

// ---- Quotes -----------------------------------------------------------------

TEST(CommandLineQuotes, MissingClosingQuoteShowsTheHelp) {
  CommandLine out;
  EXPECT_EQ(kCommandLineHelp, Parse("MEGA8 WF \"D:\\down\\down.hex", &out));
  EXPECT_EQ(kCommandLineHelp, Parse("MEGA8 RM \"", &out));
  EXPECT_EQ(0, out.commandLineMode);
  EXPECT_EQ(0, out.fileChosen);
}

TEST(CommandLineQuotes, EmptyQuotesStillCountAsAPath) {
  CommandLine out;
  ASSERT_EQ(kCommandLineAccepted, Parse("MEGA8 WF \"\"", &out));
  EXPECT_EQ(1, out.fileChosen);
  EXPECT_STREQ("", out.filePath);

  ExpectHelp("MEGA8 RM \"\"");
}

TEST(CommandLineQuotes, QuoteRightAfterTheOpLettersAndBlanksInsideThePath) {
  CommandLine out;
  ASSERT_EQ(kCommandLineAccepted, Parse("MEGA32 WF\"C:\\My Files\\new  prog.hex\"", &out));
  EXPECT_EQ(3, out.chipIndex);
  EXPECT_EQ(kCommandOpWriteFlash, out.commandOp);
  EXPECT_STREQ("C:\\MY FILES\\NEW  PROG.HEX", out.filePath);
}

TEST(CommandLineQuotes, EverythingAfterTheClosingQuoteIsIgnored) {
  for (const char* line : {"MEGA8 WF \"a.hex\" more words here", "MEGA8 WF \"a.hex\" \"b.hex\"",
                           "MEGA8 WF \"a.hex\"\"", "MEGA8 WF \"a.hex\"RM AT89S51 WE"}) {
    SCOPED_TRACE(line);
    CommandLine out;
    ASSERT_EQ(kCommandLineAccepted, Parse(line, &out));
    EXPECT_STREQ("A.HEX", out.filePath);
    EXPECT_EQ(1, out.chipIndex);
    EXPECT_EQ(kCommandOpWriteFlash, out.commandOp);
  }
}

TEST(CommandLineQuotes, QuotedPathFirstHidesTheWords) {
  CommandLine out;
  EXPECT_EQ(kCommandLineHelp, Parse("\"D:\\a.hex\" MEGA8 WF", &out));
  EXPECT_EQ(0, out.commandLineMode);
  EXPECT_EQ(kChipNoneChosen, out.chipIndex);
  // The words stop at the opening quote even mid-way.
  ExpectHelp("MEGA8 \"a.hex\" WF");
}

// ---- Word splitting ---------------------------------------------------------

TEST(CommandLineWords, RunsOfBlanksCountAsOne) {
  CommandLine out;
  EXPECT_EQ(kCommandLineAccepted, Parse("MEGA8    WF     \"a.hex\"", &out));
  EXPECT_EQ(kCommandLineAccepted, Parse("  MEGA64  RM   ", &out));
  EXPECT_EQ(4, out.chipIndex);
  EXPECT_EQ(kCommandOpReset, out.commandOp);
}

TEST(CommandLineWords, TabBelongsToTheWord) {
  for (const char* line : {"MEGA8\tWF \"a.hex\"", "MEGA8 WF\t\"a.hex\"", "MEGA8 RM\t",
                           "\tMEGA8 RM"}) {
    ExpectHelp(line);
  }
}

// ---- Program name -----------------------------------------------------------

TEST(SkipProgramName, QuotedNameEndsAtItsClosingQuote) {
  EXPECT_STREQ("MEGA8 RM", SkipProgramName("\"C:\\Program Files\\mcufeed.exe\" MEGA8 RM"));
  EXPECT_STREQ("MEGA8 RM", SkipProgramName("\"C:\\x.exe\"MEGA8 RM"));
  EXPECT_STREQ("MEGA8 WF \"a b.hex\"",
               SkipProgramName("\"mcufeed\"  \t MEGA8 WF \"a b.hex\""));
  EXPECT_STREQ("", SkipProgramName("\"C:\\never closed MEGA8 RM"));
  EXPECT_STREQ("", SkipProgramName("\"\""));
}

TEST(SkipProgramName, UnquotedNameEndsAtTheFirstBlankOrControl) {
  EXPECT_STREQ("MEGA8 RM", SkipProgramName("mcufeed.exe MEGA8 RM"));
  EXPECT_STREQ("MEGA8 RM", SkipProgramName("mcufeed.exe\tMEGA8 RM"));
  EXPECT_STREQ("MEGA8", SkipProgramName("mcufeed.exe \t\r\n MEGA8"));
  EXPECT_STREQ("", SkipProgramName("mcufeed.exe"));
  EXPECT_STREQ("", SkipProgramName(""));
  EXPECT_STREQ("", SkipProgramName(nullptr));
}

TEST(SkipProgramName, MultibyteBytesAreNotBlanks) {
  EXPECT_STREQ("MEGA8 RM", SkipProgramName("D:\\下载\\mcufeed.exe MEGA8 RM"));
  EXPECT_STREQ("下载 RM", SkipProgramName("mcufeed 下载 RM"));
}

// ---- Help text --------------------------------------------------------------

TEST(HelpText, TwentyLinesWithoutTrailingNewline) {
  std::string text = HelpText();
  ASSERT_FALSE(text.empty());
  EXPECT_NE('\n', text.back());
  EXPECT_EQ(std::string::npos, text.find('\r'));
  std::vector<std::string> lines = HelpLines();
  ASSERT_EQ(20u, lines.size());
  EXPECT_EQ("", lines[2]);
  EXPECT_EQ("", lines[10]);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i != 2 && i != 10) {
      EXPECT_FALSE(lines[i].empty()) << "line " << i + 1;
    }
  }
}

TEST(HelpText, ExactLines) {
  std::vector<std::string> lines = HelpLines();
  ASSERT_EQ(20u, lines.size());
  EXPECT_EQ("1.显示帮助", lines[0]);
  EXPECT_EQ("MCUFEED /? ", lines[1]);  // one blank at the end
  EXPECT_EQ("2.下载文件", lines[3]);
  EXPECT_EQ("MCUFEED %1 %2 %3", lines[4]);
  EXPECT_EQ("参数2: WF 对FLASH编程 WE 对EEPROM编程", lines[6]);
  EXPECT_EQ("例: MCUFEED MEGA8  WF \"D:\\down\\down.hex\"", lines[8]);
  EXPECT_EQ("3.复位", lines[11]);
  EXPECT_EQ("MCUFEED %1 %2", lines[12]);
  EXPECT_EQ("MEGA , MEGA8, MEGA16, MEGA32, MEGA64, MEGA128, MEGA8515,", lines[14]);
  EXPECT_EQ("MEGA8535, MEGA48 MEGA88,MEGA168, AT89S51,AT89S52", lines[15]);
  EXPECT_EQ("例: MCUFEED AT89S51 RM", lines[18]);
  EXPECT_EQ("以上实现对AT89S51的复位", lines[19]);
}

TEST(HelpText, ExamplesAreAcceptedCommands) {
  std::vector<std::string> lines = HelpLines();
  ASSERT_EQ(20u, lines.size());
  const std::string prefix = "例: MCUFEED ";
  for (size_t i : {8u, 18u}) {
    ASSERT_EQ(0u, lines[i].find(prefix));
    CommandLine out;
    EXPECT_EQ(kCommandLineAccepted, Parse(lines[i].substr(prefix.size()), &out)) << lines[i];
  }
}

TEST(HelpText, ListedChipWordsAreTheAcceptedOnes) {
  std::vector<std::string> lines = HelpLines();
  ASSERT_EQ(20u, lines.size());
  std::string list = lines[14] + " " + lines[15];
  std::vector<std::string> words;
  std::string word;
  for (char c : list + " ") {
    if (c == ' ' || c == ',') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  ASSERT_EQ(13u, words.size());
  for (size_t i = 0; i < words.size(); ++i) {
    SCOPED_TRACE(words[i]);
    CommandLine out;
    ASSERT_EQ(kCommandLineAccepted, Parse(words[i] + " RM", &out));
    EXPECT_EQ(static_cast<ChipIndex>(i), out.chipIndex);
  }
}

}  // namespace
