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
  const struct {
    ChipIndex chip;
    int fast;
    uint32_t length;
  } cases[] = {{1, 0, 8192}, {8, 1, 4096}, {5, 1, 1500}, {2, 0, 800}, {11, 0, 4096}, {12, 0, 300}};
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

TEST_F(FlashWriter, ErasedPagesAreSkippedButVerified) {
  Bytes image(kBuffer, 0xFF);
  image[64 * 3 + 63] = 0x5A;  // page 3 holds only its last byte
  Ready(1);
  ASSERT_TRUE(KQ560SimStartTrace(0, 100000));
  ASSERT_EQ(Write(image, 8192), kResultOk);
  EXPECT_EQ(Trace(0x4C), (std::vector<Bytes>{{0x4C, 0x00, 0x60, 0x00}}));
  EXPECT_EQ(Trace(0x48).size(), 32u);
  EXPECT_EQ(Trace(0x20).size(), 4096u) << "every word read back";
  EXPECT_EQ(Memory(KQ560SIM_FLASH, 8192), Bytes(image.begin(), image.begin() + 8192));
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

// A cell of a skipped page that did not erase, a byte past the length in the
// last page, and the last byte of an AT89S5x block.
TEST_F(FlashWriter, AByteThatReadsBackDifferentlyFailsVerification) {
  const struct {
    ChipIndex chip;
    uint32_t length, address;
  } cases[] = {{1, 1024, 64 * 5 + 9}, {1, 100, 120}, {12, 512, 511}};
  for (const auto& c : cases) {
    Bytes image(kBuffer, 0xFF);
    image[0] = 1;
    Ready(c.chip);
    view.onStatus = [&] {
      const uint8_t wrong = 0x7F;
      KQ560SimWriteMemory(0, KQ560SIM_FLASH, c.address, &wrong, 1);
    };
    EXPECT_EQ(Write(image, c.length), kResultVerifyFailed) << ChipName(c.chip) << " " << c.address;
  }
}

TEST_F(FlashWriter, ProgressMovesOncePer256BytesAndEndsAtTheTop) {
  const struct {
    ChipIndex chip;
    uint32_t length;
    std::vector<int32_t> perPass;  // advances in each pass before the final 1023
  } cases[] = {
      {1, 100, {}},               // two 64-byte pages: no whole group of four
      {1, 200, {1024}},           // four pages: one step of 1024 / 1
      {5, 512, {512, 512}},       // 256-byte pages: a step per page
      {2, 800, {256, 256, 256}},  // 128-byte pages, 7 pages; the partial group does not count
      {12, 300, {512, 512}},      // AT89S5x: a step per block, before it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(ChipName(c.chip)) + " " + std::to_string(c.length));
    Ready(c.chip);
    ASSERT_EQ(Write(NoiseImage(c.length, kBuffer, 5), c.length), kResultOk);
    std::vector<int32_t> expected = c.perPass;
    expected.insert(expected.end(), c.perPass.begin(), c.perPass.end());
    expected.push_back(1023);
    EXPECT_EQ(view.advances, expected);
    EXPECT_EQ(view.sets, std::vector<int32_t>{0}) << "back to the low limit before verifying";
  }
}

// Stop is looked at between pages or blocks of either pass, not after the last.
TEST_F(FlashWriter, StopIsSeenBetweenUnits) {
  const struct {
    ChipIndex chip;
    uint32_t length;
    size_t stopAt;
    ResultCode result;
    size_t advances, statuses;
  } cases[] = {
      {5, 1024, 2, kResultStopped, 2, 0},  // during page 1 of 4: the write pass ends after it
      {5, 1024, 4, kResultStopped, 5, 1},  // during the last page: after the first verified page
      {5, 200, 1, kResultOk, 3, 1},        // one page: nothing between pages
      {12, 1024, 1, kResultStopped, 1, 0}, {12, 1024, 4, kResultStopped, 5, 1},
  };
  for (const auto& c : cases) {
    Ready(c.chip);
    view.onAdvance = [&](size_t n) { state.stopRequest = n == c.stopAt ? 1 : state.stopRequest.load(); };
    EXPECT_EQ(Write(NoiseImage(c.length, kBuffer, 7), c.length), c.result) << ChipName(c.chip);
    EXPECT_EQ(view.advances.size(), c.advances);
    EXPECT_EQ(view.statuses.size(), c.statuses);
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
  const struct {
    ChipIndex chip;
    int fast;
    uint32_t length;
  } cases[] = {{1, 0, 64}, {1, 1, 300}, {11, 0, 300}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(ChipName(c.chip)) + (c.fast ? " fast" : ""));
    EveryFailedCallIsATransferFailure([&] { Ready(c.chip, c.fast); }, [&] { return Write(image, c.length); });
  }
}

}  // namespace
}  // namespace enginetest
