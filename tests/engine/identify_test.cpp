#include "sim_fixture.h"

namespace enginetest {
namespace {

using Identify = SimTest;

TEST_F(Identify, EveryAvrPartIsRecognisedByAuto) {
  for (ChipIndex chip = 1; chip <= 10; ++chip) {
    KQ560SimReset();
    Connect(ChipName(chip), kChipAuto);
    EXPECT_EQ(IdentifyTarget(state), kResultOk);
    EXPECT_EQ(state.chipIndex.load(), chip) << ChipName(chip);
  }
}

// The result, the bridge calls made (lines, enable, signature reads) and the
// selection afterwards. `flip` corrupts the top bit of a reply byte of one
// call of identification: {call, reply byte}, the byte as AvrTransfer counts
// samples (8 per byte) or the first bit of an AT89S5x read.
TEST_F(Identify, Outcomes) {
  const struct { const char* attached; ChipIndex selected; ResultCode result; uint64_t calls; ChipIndex after;
                 int flipCall = 0, flipByte = 0; } cases[] = {
      {"MEGA168", kChipAuto, kResultOk, 7, 10},
      {"MEGA16", 2, kResultOk, 7, 2},
      {"MEGA168", 2, kResultWrongChip, 7, 2},   // byte 1 (0x94) matches, byte 2 does not
      {"MEGA8515", 1, kResultWrongChip, 7, 1},  // byte 2 differs
      {"MEGA16", 1, kResultWrongChip, 6, 1},    // byte 1 differs: byte 2 is not read
      {"MEGA8", 1, kResultWrongChip, 7, 1, 7, 31},  // byte 2 0x07 read as 0x06, a MEGA8515's
      {"avr:1F9307:8192:64:512", 1, kResultWrongChip, 5, 1},  // manufacturer byte: wrong model, not 19
      {"avr:1F9307:8192:64:512", kChipAuto, kResultWrongChip, 5, 0},
      {"avr:1E950F:32768:128:1024", kChipAuto, kResultUnsupported, 7, 0},
      {"none", 5, kResultNotRecognised, 4, 5},  // no echo of 0x53: no signature read
      {"AT89S51", 5, kResultNotRecognised, 4, 5},
      {"AT89S51", 11, kResultOk, 6, 11},
      {"AT89S52", 11, kResultWrongChip, 5, 11},
      {"AT89S51", 12, kResultWrongChip, 5, 12},
      {"AT89S52", -1, kResultOk, 6, -1},  // no choice: byte 1 is not tested
      {"AT89S51", 13, kResultOk, 6, 13},
      {"AT89S52", 12, kResultNotRecognised, 4, 12, 4, 0},  // manufacturer 0x9E: not recognised
      {"AT89S52", 12, kResultWrongChip, 6, 12, 6, 0},      // byte 2 0x86
      {"none", 11, kResultNotRecognised, 3, 11},
      {"MEGA8", 12, kResultNotRecognised, 3, 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.attached) + " as " + std::to_string(c.selected));
    KQ560SimReset();
    Connect(c.attached, c.selected);
    state.fastSpi = 1;  // identification is bit-banged whatever the setting
    const uint64_t before = Calls();
    if (c.flipCall) {
      const std::string fault = "flip=" + std::to_string(before + c.flipCall) + ":" + std::to_string(c.flipByte) + ":7";
      ASSERT_TRUE(KQ560SimSetFaults(fault.c_str()));
    }
    EXPECT_EQ(IdentifyTarget(state), c.result);
    EXPECT_EQ(Calls() - before, c.calls);
    EXPECT_EQ(state.chipIndex.load(), c.after);
    EXPECT_EQ(Calls(KQ560SIM_OP_SPI), 0u);
  }
}

TEST_F(Identify, AvrTargetTooSlowForTheBitTimingIsNotRecognised) {
  Connect("MEGA8", 1);
  ASSERT_TRUE(KQ560SimSetTargetClock(0, 100000));
  EXPECT_EQ(IdentifyTarget(state), kResultNotRecognised);
}

TEST_F(Identify, EveryFailedCallIsATransferFailure) {
  for (ChipIndex chip : {5, 12})
    EveryFailedCallIsATransferFailure([&] { Connect(ChipName(chip), chip); }, [&] { return IdentifyTarget(state); });
}

}  // namespace
}  // namespace enginetest
