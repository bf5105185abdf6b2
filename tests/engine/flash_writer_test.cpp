#include "engine/writers.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

constexpr uint32_t kBuffer = 0x100000;

class FlashWriter : public SimTest {
 protected:
  ResultCode Write(const Bytes& image, uint32_t length) { return WriteFlash(state, view, image.data(), length); }
};

// Whole pages (AVR) and 256-byte blocks (AT89S5x) are written and compared:
// the part past the length as the caller's buffer holds it.
TEST_F(FlashWriter, ImageIsWrittenInWholeUnitsAndVerified) {
  const struct { ChipIndex chip; int fast; uint32_t length; } cases[] = {{1, 0, 8192}, {8, 1, 4096}, {5, 1, 1500}, {2, 0, 800}, {11, 0, 4096}, {12, 0, 300}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(ChipName(c.chip)) + " " + std::to_string(c.length));
    const uint32_t unit = IsAvrPart(c.chip) ? FindChip(c.chip)->flashPage : 256;
    const uint32_t whole = (c.length + unit - 1) / unit * unit, limit = FindChip(c.chip)->flashLimit;
    const Bytes image = NoiseImage(whole + 256, kBuffer, c.length);
    Ready(c.chip, c.fast);
    ASSERT_EQ(Write(image, c.length), kResultOk);
    Bytes expected(image.begin(), image.begin() + limit);
    std::fill(expected.begin() + whole, expected.end(), 0xFF);
    EXPECT_EQ(Memory(KQ560SIM_FLASH, limit), expected);
    EXPECT_EQ(view.position(), 1024);
    EXPECT_EQ(view.statuses, std::vector<std::string>{kVerifyStatusText});
    EXPECT_EQ(Calls(KQ560SIM_OP_SPI) > 0, c.fast == 1);
    if (c.fast) {
      EXPECT_EQ(Calls(KQ560SIM_OP_WRITE_READ), 5u) << "only identification and the erase bit-banged";
    }
  }
}

TEST_F(FlashWriter, EmptyImageOnlyErases) {
  for (ChipIndex chip : {1, 12}) {
    Ready(chip);
    const uint8_t old = 0x12;
    KQ560SimWriteMemory(0, KQ560SIM_FLASH, 100, &old, 1);
    EXPECT_EQ(WriteFlash(state, view, &old, 0), kResultOk);
    EXPECT_EQ(Memory(KQ560SIM_FLASH, 101)[100], 0xFF);
    EXPECT_TRUE(view.advances.empty() && view.statuses.empty());
  }
}

TEST_F(FlashWriter, PageThatNeverCompletesFailsAfter101PollReads) {
  for (int fast = 0; fast <= 1; ++fast) {
    Ready(2, fast);
    KQ560SimSetTargetStuck(0, 1);
    ASSERT_TRUE(KQ560SimStartTrace(0, 1000));
    EXPECT_EQ(Write(NoiseImage(300, kBuffer, 9), 300), kResultVerifyFailed);
    EXPECT_EQ(Trace(0x20).size() + Trace(0x28).size(), 101u);
  }
}

// The bar moves once per 256 bytes in each pass, back at the low limit
// before verifying, and ends with 1023; Stop is looked at between pages or
// blocks of either pass, not after the last one.
TEST_F(FlashWriter, ProgressAndStop) {
  using Steps = std::vector<int32_t>;
  const Steps fifth(5, 256);
  const struct { ChipIndex chip; uint32_t length; size_t stopAt; ResultCode result; Steps advances; bool verified; } cases[] = {
      {1, 100, 0, kResultOk, {1023}, true},                // two 64-byte pages: no whole group of four
      {1, 200, 0, kResultOk, {1024, 1024, 1023}, true},    // four pages: one step a pass
      {5, 512, 0, kResultOk, {512, 512, 512, 512, 1023}, true},  // 256-byte pages: a step per page
      {2, 800, 0, kResultOk, {256, 256, 256, 256, 256, 256, 1023}, true},  // 7 pages: the partial group does not count
      {12, 300, 0, kResultOk, {512, 512, 512, 512, 1023}, true},           // AT89S5x: a step per block, before it
      {5, 1024, 2, kResultStopped, {256, 256}, false},  // during page 1 of 4: the write pass ends after it
      {5, 1024, 4, kResultStopped, fifth, true},        // during the last page: after the first verified page
      {5, 200, 1, kResultOk, {1024, 1024, 1023}, true},  // one page: nothing between pages
      {12, 1024, 1, kResultStopped, {256}, false},
      {12, 1024, 4, kResultStopped, fifth, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(ChipName(c.chip)) + " " + std::to_string(c.length));
    Ready(c.chip);
    view.onAdvance = [&](size_t n) { state.stopRequest = n == c.stopAt ? 1 : state.stopRequest.load(); };
    EXPECT_EQ(Write(NoiseImage(c.length, kBuffer, 5), c.length), c.result);
    EXPECT_EQ(view.advances, c.advances);
    EXPECT_EQ(view.sets, c.verified ? Steps{0} : Steps{});
    EXPECT_EQ(view.statuses.size(), c.verified ? 1u : 0u);
  }
}

TEST_F(FlashWriter, FastModeNeedsACapableBridgeAndTakesEffectFromTheNextPage) {
  const Bytes image = NoiseImage(2048, kBuffer, 11);
  Ready(3, 1, 0x2F);
  ASSERT_EQ(Write(image, 2048), kResultOk);
  EXPECT_EQ(Calls(KQ560SIM_OP_SPI), 0u);
  Ready(3, 0);
  view.onAdvance = [&](size_t n) { state.fastSpi = n == 8 ? 1 : state.fastSpi.load(); };
  ASSERT_EQ(Write(image, 2048), kResultOk);
  EXPECT_GT(Calls(KQ560SIM_OP_SPI), 0u);
  EXPECT_EQ(Memory(KQ560SIM_FLASH, 2048), Bytes(image.begin(), image.begin() + 2048));
}

// Erase, loads, page write, polls and read-back: any failed call gives 1.
TEST_F(FlashWriter, EveryFailedCallIsATransferFailure) {
  const Bytes image = NoiseImage(300, kBuffer, 13);
  const struct { ChipIndex chip; int fast; uint32_t length; } cases[] = {{1, 0, 64}, {1, 1, 300}, {11, 0, 300}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(ChipName(c.chip)) + (c.fast ? " fast" : ""));
    EveryFailedCallIsATransferFailure([&] { Ready(c.chip, c.fast); }, [&] { return Write(image, c.length); });
  }
}

}  // namespace
}  // namespace enginetest
