#include <algorithm>
#include <numeric>

#include "engine/identify.h"
#include "engine/writers.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

constexpr uint32_t kBuffer = 0x100000;

class FlashWriter : public SimTest {
 protected:
  // Identifies `chip` and writes `image` (a 1 MiB buffer) of `length` bytes.
  ResultCode Download(ChipIndex chip, const std::vector<uint8_t>& image, uint32_t length,
                      int fast = 0, uint32_t version = 0x30) {
    Connect(ChipName(chip), chip, version);
    state.fastSpi = fast;
    if (IdentifyTarget(state) != kResultOk) return ResultCode(0xEE);
    return WriteFlash(state, view, image.data(), length);
  }
  std::vector<uint8_t> Flash(ChipIndex chip) { return Memory(KQ560SIM_FLASH, FindChip(chip)->flashLimit); }
  static std::vector<uint8_t> Expected(const std::vector<uint8_t>& image, ChipIndex chip, uint32_t length) {
    // Whole pages (or blocks) past the end are written as the buffer holds them.
    const uint32_t unit = FindChip(chip)->flashPage;
    std::vector<uint8_t> flash(FindChip(chip)->flashLimit, 0xFF);
    const uint32_t written = (length + unit - 1) / unit * unit;
    std::copy(image.begin(), image.begin() + written, flash.begin());
    return flash;
  }
  size_t VerifyStart() const {
    return std::find(view.statuses.begin(), view.statuses.end(), kVerifyStatusText) - view.statuses.begin();
  }
};

TEST_F(FlashWriter, EveryChipHoldsTheImageBitBangedAndFast) {
  for (ChipIndex chip = 1; chip <= 12; ++chip) {
    for (int fast = 0; fast <= (IsAvrPart(chip) ? 1 : 0); ++fast) {
      SCOPED_TRACE(std::string(ChipName(chip)) + (fast ? " fast" : " bit-banged"));
      KQ560SimReset();
      view = RecordingView();
      // The smallest parts are filled to the last byte; the others take a
      // few pages and a partial one, to keep the test quick.
      const uint32_t limit = FindChip(chip)->flashLimit;
      const uint32_t length = limit <= 4096 ? limit : 1500 + uint32_t(chip) * 11;
      const auto image = NoiseImage(length, kBuffer, uint32_t(chip * 2 + fast));
      ASSERT_EQ(Download(chip, image, length, fast), kResultOk);
      EXPECT_EQ(Flash(chip), Expected(image, chip, length));
      EXPECT_EQ(view.position(), 1024);
      EXPECT_EQ(view.statuses, std::vector<std::string>{kVerifyStatusText});
      if (IsAvrPart(chip)) {
        EXPECT_EQ(Calls(KQ560SIM_OP_SPI) > 0, fast == 1);
      }
    }
  }
}

TEST_F(FlashWriter, CapacityIsInclusiveAndAnOverlongImageTouchesNothing) {
  struct Case {
    ChipIndex chip;
    uint32_t limit;
  } cases[] = {{1, 8192}, {8, 4096}, {11, 4096}, {12, 8192}};
  for (const Case& c : cases) {
    SCOPED_TRACE(ChipName(c.chip));
    KQ560SimReset();
    const auto image = NoiseImage(c.limit + 1, kBuffer, 3);
    Connect(ChipName(c.chip), c.chip);
    ASSERT_EQ(IdentifyTarget(state), kResultOk);
    const std::vector<uint8_t> old = {1, 2, 3};
    KQ560SimWriteMemory(0, KQ560SIM_FLASH, 0, old.data(), 3);
    const uint64_t before = Calls();
    EXPECT_EQ(WriteFlash(state, view, image.data(), c.limit + 1), kResultTooLong);
    EXPECT_EQ(Calls(), before) << "nothing sent, not even the erase";
    EXPECT_EQ(Memory(KQ560SIM_FLASH, 3), old);
    EXPECT_EQ(WriteFlash(state, view, image.data(), c.limit), kResultOk);
  }
}

TEST_F(FlashWriter, EmptyImageErasesAndStops) {
  for (ChipIndex chip : {1, 12}) {
    KQ560SimReset();
    view = RecordingView();
    Connect(ChipName(chip), chip);
    ASSERT_EQ(IdentifyTarget(state), kResultOk);
    const std::vector<uint8_t> old = {0x12};
    KQ560SimWriteMemory(0, KQ560SIM_FLASH, 100, old.data(), 1);
    Waits().clear();
    const auto image = NoiseImage(0, kBuffer, 1);
    EXPECT_EQ(WriteFlash(state, view, image.data(), 0), kResultOk);
    EXPECT_EQ(Flash(chip), std::vector<uint8_t>(FindChip(chip)->flashLimit, 0xFF));
    EXPECT_EQ(Waits(), std::vector<uint32_t>{IsAvrPart(chip) ? 50u : 500u});
    EXPECT_TRUE(view.advances.empty());
    EXPECT_TRUE(view.statuses.empty());
  }
}

TEST_F(FlashWriter, ErasedPagesAreSkippedAndEveryOtherPageWrittenWhole) {
  // All 0xFF: erase, then two reads per word of every page; no load, write or poll.
  auto image = std::vector<uint8_t>(kBuffer, 0xFF);
  ASSERT_EQ(Download(1, image, 8192), kResultOk);
  EXPECT_EQ(Calls(KQ560SIM_OP_WRITE_READ), 3u + 1 + 1 + 8192u);

  // A page whose only programmed byte is its last is written whole.
  image[64 * 3 + 63] = 0x5A;
  KQ560SimReset();
  ASSERT_EQ(Download(1, image, 256), kResultOk);
  EXPECT_EQ(Flash(1), Expected(image, 1, 256));
}

TEST_F(FlashWriter, PageThatNeverCompletesFailsAfter101PollReads) {
  for (int fast = 0; fast <= 1; ++fast) {
    KQ560SimReset();
    Connect("MEGA16", 2);
    state.fastSpi = fast;
    ASSERT_EQ(IdentifyTarget(state), kResultOk);
    KQ560SimSetTargetStuck(0, 1);
    const auto image = NoiseImage(300, kBuffer, 9);
    const uint64_t before = Calls();
    EXPECT_EQ(WriteFlash(state, view, image.data(), 300), kResultVerifyFailed);
    // Erase, the page's loads (128 or one batch), the page write, then 101 reads.
    const uint64_t loads = fast ? 1 : 128;
    EXPECT_EQ(Calls() - before, 1 + loads + 1 + 101);
  }
}

TEST_F(FlashWriter, AnyByteThatReadsBackDifferentlyFailsVerification) {
  // A cell in a skipped page that did not erase, and the last byte of an AT89S5x block.
  struct Case {
    ChipIndex chip;
    uint32_t length, address;
  } cases[] = {{1, 1024, 64 * 5 + 9}, {12, 512, 511}};
  for (const Case& c : cases) {
    KQ560SimReset();
    view = RecordingView();
    auto image = std::vector<uint8_t>(kBuffer, 0xFF);
    image[0] = 1;
    view.onStatus = [&](const std::string& text) {
      const uint8_t wrong = 0x7F;
      if (text == kVerifyStatusText) KQ560SimWriteMemory(0, KQ560SIM_FLASH, c.address, &wrong, 1);
    };
    EXPECT_EQ(Download(c.chip, image, c.length), kResultVerifyFailed) << ChipName(c.chip);
  }
}

TEST_F(FlashWriter, ProgressMovesOncePer256BytesAndEndsAtTheTop) {
  struct Case {
    ChipIndex chip;
    uint32_t length;
    std::vector<int32_t> perPass;  // advances in each pass before the final 1023
  } cases[] = {
      {1, 100, {}},                 // two 64-byte pages: no whole group of four
      {1, 200, {1024}},             // four pages: one step of 1024 / 1
      {5, 512, {512, 512}},         // 256-byte pages: a step per page
      {2, 800, {256, 256, 256}},    // 128-byte pages, 7 pages; the partial group does not count
      {12, 300, {512, 512}},        // AT89S5x: a step per block, before it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ChipName(c.chip)) + " " + std::to_string(c.length));
    KQ560SimReset();
    view = RecordingView();
    const auto image = NoiseImage(c.length, kBuffer, 5);
    ASSERT_EQ(Download(c.chip, image, c.length), kResultOk);
    std::vector<int32_t> expected = c.perPass;
    expected.insert(expected.end(), c.perPass.begin(), c.perPass.end());
    expected.push_back(1023);
    EXPECT_EQ(view.advances, expected);
    EXPECT_EQ(view.sets, std::vector<int32_t>{0}) << "back to the low limit before verifying";
    EXPECT_EQ(view.position(), c.perPass.empty() ? 1023 : 1024);
  }
}

TEST_F(FlashWriter, At89BlockPastTheEndIsWrittenAsTheBufferHoldsIt) {
  // n = 300: block 1 carries bytes 256-511, so 300-511 come from the buffer too.
  auto image = NoiseImage(512, kBuffer, 6);
  ASSERT_EQ(Download(11, image, 300), kResultOk);
  const auto flash = Flash(11);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 512, flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + 512, flash.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(FlashWriter, StopIsSeenBetweenPagesNotAfterTheLast) {
  // A stop during page 1 of 4 (256-byte pages): the write pass ends after it.
  {
    const auto image = NoiseImage(1024, kBuffer, 7);
    view.onAdvance = [&](size_t n) { if (n == 2) state.stopRequest = 1; };
    EXPECT_EQ(Download(5, image, 1024), kResultStopped);
    EXPECT_EQ(VerifyStart(), view.statuses.size()) << "verification never starts";
    std::vector<uint8_t> flash = Flash(5);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 512, flash.begin()));
    EXPECT_EQ(flash[512], 0xFF);
  }
  // A stop during the last page lets verification start; its first check
  // comes after the first verified page.
  {
    KQ560SimReset();
    view = RecordingView();
    state.stopRequest = 0;
    const auto image = NoiseImage(1024, kBuffer, 8);
    view.onAdvance = [&](size_t n) { if (n == 4) state.stopRequest = 1; };
    EXPECT_EQ(Download(5, image, 1024), kResultStopped);
    EXPECT_LT(VerifyStart(), view.statuses.size());
    EXPECT_EQ(view.advances.size(), 5u) << "four write steps and one verified page";
  }
  // With one page there is nothing between pages: the stop is never seen.
  {
    KQ560SimReset();
    view = RecordingView();
    state.stopRequest = 1;
    const auto image = NoiseImage(200, kBuffer, 9);
    EXPECT_EQ(Download(5, image, 200), kResultOk);
  }
}

TEST_F(FlashWriter, At89StopBetweenBlocksAndDuringTheLastBlock) {
  const auto image = NoiseImage(1024, kBuffer, 10);
  view.onAdvance = [&](size_t n) { if (n == 1) state.stopRequest = 1; };
  EXPECT_EQ(Download(12, image, 1024), kResultStopped);
  EXPECT_EQ(view.advances.size(), 1u);

  KQ560SimReset();
  view = RecordingView();
  state.stopRequest = 0;
  view.onAdvance = [&](size_t n) { if (n == 4) state.stopRequest = 1; };
  EXPECT_EQ(Download(12, image, 1024), kResultStopped);
  EXPECT_LT(VerifyStart(), view.statuses.size());
  EXPECT_EQ(view.advances.size(), 5u);
}

TEST_F(FlashWriter, FastModeNeedsACapableBridgeAndIsReadPerPage) {
  // An old bridge keeps the bit-banged path whatever the setting says.
  const auto image = NoiseImage(2048, kBuffer, 11);
  ASSERT_EQ(Download(3, image, 2048, 1, 0x2F), kResultOk);
  EXPECT_EQ(Calls(KQ560SIM_OP_SPI), 0u);
  EXPECT_EQ(state.fastSpi.load(), 1) << "the stored choice is kept";

  // Turning the mode on in the middle of a job takes effect from the next page on.
  KQ560SimReset();
  view = RecordingView();
  view.onAdvance = [&](size_t n) { if (n == 8) state.fastSpi = 1; };
  ASSERT_EQ(Download(3, image, 2048, 0), kResultOk);
  EXPECT_GT(Calls(KQ560SIM_OP_SPI), 0u);
  EXPECT_EQ(Flash(3), Expected(image, 3, 2048));
}

TEST_F(FlashWriter, FastPagesAreOneTransferEachWay) {
  const auto image = NoiseImage(1024, kBuffer, 12);
  ASSERT_EQ(Download(5, image, 1024, 1), kResultOk);
  // Per page: one load batch, the write, at least one poll read; one read-back batch.
  const uint64_t spi = Calls(KQ560SIM_OP_SPI);
  EXPECT_GE(spi, 4u * 4);
  EXPECT_EQ(Calls(KQ560SIM_OP_WRITE_READ), 3u + 1 + 1) << "only identification and the erase are bit-banged";
}

}  // namespace
}  // namespace enginetest
