#include "engine/identify.h"

#include "sim_fixture.h"

namespace enginetest {
namespace {

using Identify = SimTest;

TEST_F(Identify, EveryAvrPartMatchesItselfAndIsRecognisedByAuto) {
  for (ChipIndex chip = 1; chip <= 10; ++chip) {
    SCOPED_TRACE(ChipName(chip));
    KQ560SimReset();
    Connect(ChipName(chip), chip);
    EXPECT_EQ(IdentifyTarget(state), kResultOk);
    EXPECT_EQ(state.chipIndex.load(), chip);

    KQ560SimReset();
    Connect(ChipName(chip), kChipAuto);
    EXPECT_EQ(IdentifyTarget(state), kResultOk);
    EXPECT_EQ(state.chipIndex.load(), chip) << "MEGA AUTO resolves to the recognised part";
  }
}

// Failures on the AVR path: the result, the AVR transfers made (the first is
// Programming Enable) and the selection left as it was.
TEST_F(Identify, AvrPathFailures) {
  struct Case {
    const char* attached;
    ChipIndex selected;
    ResultCode result;
    uint64_t transfers;
  } cases[] = {
      {"MEGA168", 2, kResultWrongChip, 4},   // MEGA16 chosen: byte 1 (0x94) matches, byte 2 does not
      {"MEGA8515", 1, kResultWrongChip, 4},  // MEGA8 chosen: byte 2 differs
      {"MEGA16", 1, kResultWrongChip, 3},    // byte 1 differs: byte 2 is not read
      {"avr:1F9307:8192:64:512", 1, kResultWrongChip, 2},          // manufacturer byte: wrong model, not 19
      {"avr:1F9307:8192:64:512", kChipAuto, kResultWrongChip, 2},
      {"avr:1E950F:32768:128:1024", kChipAuto, kResultUnsupported, 4},
      {"none", 5, kResultNotRecognised, 1},  // no echo of 0x53: no signature read
      {"AT89S51", 5, kResultNotRecognised, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attached);
    KQ560SimReset();
    Connect(c.attached, c.selected);
    EXPECT_EQ(IdentifyTarget(state), c.result);
    EXPECT_EQ(Calls(KQ560SIM_OP_WRITE_READ), c.transfers);
    EXPECT_EQ(state.chipIndex.load(), c.selected);
  }
}

TEST_F(Identify, AvrTargetTooSlowForTheBitTimingIsNotRecognised) {
  Connect("MEGA8", 1);
  ASSERT_TRUE(KQ560SimSetTargetClock(0, 100000));
  EXPECT_EQ(IdentifyTarget(state), kResultNotRecognised);
}

TEST_F(Identify, At89PathForItsPartsAndForNoChoice) {
  struct Case {
    const char* attached;
    ChipIndex selected;
    ResultCode expected;
  } cases[] = {
      {"AT89S51", 11, kResultOk},        {"AT89S52", 12, kResultOk},
      {"AT89S52", 11, kResultWrongChip}, {"AT89S51", 12, kResultWrongChip},
      {"AT89S52", -1, kResultOk},        {"AT89S51", 13, kResultOk},  // byte 1 not tested
      {"none", 11, kResultNotRecognised}, {"MEGA8", 12, kResultNotRecognised},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.attached) + " as " + std::to_string(c.selected));
    KQ560SimReset();
    Connect(c.attached, c.selected);
    EXPECT_EQ(IdentifyTarget(state), c.expected);
    EXPECT_EQ(state.chipIndex.load(), c.selected);
  }
}

TEST_F(Identify, WaitsAreExactlyTheDataSheetPauses) {
  Connect("MEGA32", 3);
  ASSERT_EQ(IdentifyTarget(state), kResultOk);
  EXPECT_EQ(Waits(), (std::vector<uint32_t>{200}));

  Waits().clear();
  KQ560SimReset();
  Connect("AT89S52", 12);
  ASSERT_EQ(IdentifyTarget(state), kResultOk);
  EXPECT_EQ(Waits(), (std::vector<uint32_t>{1, 100, 20}));
}

TEST_F(Identify, IdentificationIgnoresTheFastModeAndLeavesTargetProgrammable) {
  Connect("MEGA16", 2);
  state.fastSpi = 1;
  ASSERT_EQ(IdentifyTarget(state), kResultOk);
  EXPECT_EQ(Calls(KQ560SIM_OP_SPI), 0u);
}

// Every bridge call of identification, made to fail in turn, gives 1 and
// nothing else; the calls after it are not made.
TEST_F(Identify, EachFailedCallIsATransferFailure) {
  for (const char* chip : {"MEGA128", "AT89S52"}) {
    KQ560SimReset();
    Connect(chip, chip[0] == 'A' ? 12 : 5);
    const uint64_t before = Calls();
    ASSERT_EQ(IdentifyTarget(state), kResultOk);
    const uint64_t total = Calls() - before;
    for (uint64_t n = 1; n <= total; ++n) {
      SCOPED_TRACE(std::string(chip) + " call " + std::to_string(n));
      KQ560SimReset();
      Connect(chip, chip[0] == 'A' ? 12 : 5);
      const std::string fault = "fail=" + std::to_string(Calls() + n);
      ASSERT_TRUE(KQ560SimSetFaults(fault.c_str()));
      EXPECT_EQ(IdentifyTarget(state), kResultTransferFailed);
      EXPECT_EQ(Calls(), before + n);
    }
  }
}

TEST_F(Identify, ACorruptedSignatureBitIsAWrongChipNeverAnotherPart) {
  for (int bit = 0; bit < 8; ++bit) {
    KQ560SimReset();
    Connect("MEGA8", 1);
    // Calls: 3 line calls, enable, byte 0, byte 1, byte 2. Byte 2 arrives in the 4th reply byte.
    const std::string fault = "flip=" + std::to_string(Calls() + 7) + ":" + std::to_string(24 + bit) + ":7";
    ASSERT_TRUE(KQ560SimSetFaults(fault.c_str())) << KQ560SimLastDiagnostic();
    EXPECT_EQ(IdentifyTarget(state), kResultWrongChip) << "bit " << bit;
  }
}

}  // namespace
}  // namespace enginetest
