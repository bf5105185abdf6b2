#include "engine/identify.h"
#include "engine/writers.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

class EepromWriter : public SimTest {
 protected:
  ResultCode Download(ChipIndex chip, const std::vector<uint8_t>& image, uint32_t length, int fast = 0) {
    Connect(ChipName(chip), chip);
    state.fastSpi = fast;
    if (IdentifyTarget(state) != kResultOk) return ResultCode(0xEE);
    Waits().clear();
    return WriteEeprom(state, view, image.data(), length);
  }
  std::vector<uint8_t> Eeprom(ChipIndex chip) { return Memory(KQ560SIM_EEPROM, FindChip(chip)->eepromLimit); }
};

TEST_F(EepromWriter, LimitIsInclusiveAndNothingIsSentBeyondIt) {
  const auto image = NoiseImage(257, 4096, 1);
  ASSERT_EQ(Download(8, image, 256), kResultOk);
  EXPECT_EQ(Eeprom(8), std::vector<uint8_t>(image.begin(), image.begin() + 256));

  const uint64_t before = Calls();
  EXPECT_EQ(WriteEeprom(state, view, image.data(), 257), kResultTooLong);
  EXPECT_EQ(Calls(), before);
}

TEST_F(EepromWriter, OnlyCatalogueAvrPartsHaveAnEepromWriter) {
  const auto image = NoiseImage(16, 4096, 2);
  Connect("AT89S51", 11);
  for (ChipIndex chip : {11, 12, 0, 13, -1}) {
    state.chipIndex = chip;
    const uint64_t before = Calls();
    EXPECT_EQ(WriteEeprom(state, view, image.data(), 16), kResultUnsupported) << chip;
    EXPECT_EQ(Calls(), before);
  }
}

TEST_F(EepromWriter, ErasedBytesAreStillWrittenOneAtATimeWithTheirWait) {
  const std::vector<uint8_t> image(64, 0xFF);
  Connect("MEGA8", 1);
  ASSERT_EQ(IdentifyTarget(state), kResultOk);
  const std::vector<uint8_t> old(64, 0x00);
  KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 0, old.data(), 64);
  Waits().clear();
  ASSERT_EQ(WriteEeprom(state, view, image.data(), 64), kResultOk);
  EXPECT_EQ(Memory(KQ560SIM_EEPROM, 64), image);
  EXPECT_EQ(Waits(), std::vector<uint32_t>(64, 20));
}

TEST_F(EepromWriter, WithoutTheWaitTheNextWriteIsLost) {
  // The busy time is real on the simulated part: skipping the 20 ms wait
  // shows in the read-back, so the verification is worth something.
  const auto image = NoiseImage(8, 4096, 3);
  Connect("MEGA8", 1);
  ASSERT_EQ(IdentifyTarget(state), kResultOk);
  SetWaitRoutine([](uint32_t) {});
  EXPECT_EQ(WriteEeprom(state, view, image.data(), 8), kResultVerifyFailed);
  SetWaitRoutine(&VirtualWait);
}

TEST_F(EepromWriter, HighAddressesAndTheWholeOfTheLargestEeprom) {
  // 4096 bytes at 20 ms each: 80 s of virtual time, no real waiting.
  const auto image = NoiseImage(4096, 4096, 4);
  const uint64_t start = KQ560SimNowUs();
  ASSERT_EQ(Download(5, image, 4096, 1), kResultOk);
  EXPECT_EQ(Eeprom(5), image);
  EXPECT_GE(KQ560SimNowUs() - start, 4096ull * 20000);
}

TEST_F(EepromWriter, ProgressOncePer16BytesAndTheFinalStep) {
  const auto image = NoiseImage(512, 4096, 5);
  ASSERT_EQ(Download(1, image, 10), kResultOk);
  EXPECT_EQ(view.advances, std::vector<int32_t>{1023});

  KQ560SimReset();
  view = RecordingView();
  ASSERT_EQ(Download(1, image, 512), kResultOk);
  std::vector<int32_t> expected(64, 32);
  expected.push_back(1023);
  EXPECT_EQ(view.advances, expected);
  EXPECT_EQ(view.sets, std::vector<int32_t>{0});
  EXPECT_EQ(view.statuses, std::vector<std::string>{kVerifyStatusText});
}

TEST_F(EepromWriter, EmptyImageSendsNothingButEndsTheBar) {
  Connect("MEGA16", 2);
  ASSERT_EQ(IdentifyTarget(state), kResultOk);
  const uint64_t before = Calls();
  const std::vector<uint8_t> image(1, 0);
  EXPECT_EQ(WriteEeprom(state, view, image.data(), 0), kResultOk);
  EXPECT_EQ(Calls(), before);
  EXPECT_EQ(view.advances, std::vector<int32_t>{1023});
  EXPECT_EQ(view.statuses, std::vector<std::string>{kVerifyStatusText});
}

TEST_F(EepromWriter, StopAfterTheLastByteStillStopsBeforeVerifying) {
  const auto image = NoiseImage(32, 4096, 6);
  Connect("MEGA8", 1);
  ASSERT_EQ(IdentifyTarget(state), kResultOk);
  view.onAdvance = [&](size_t n) { if (n == 2) state.stopRequest = 1; };  // during byte 32
  EXPECT_EQ(WriteEeprom(state, view, image.data(), 32), kResultStopped);
  EXPECT_TRUE(view.statuses.empty()) << "verification does not start";
  EXPECT_EQ(Memory(KQ560SIM_EEPROM, 32), std::vector<uint8_t>(image.begin(), image.begin() + 32));
}

TEST_F(EepromWriter, ADifferentByteStopsTheVerificationThere) {
  const auto image = NoiseImage(48, 4096, 7);
  view.onStatus = [&](const std::string&) {
    const uint8_t wrong = uint8_t(image[20] ^ 1);
    KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 20, &wrong, 1);
  };
  ASSERT_EQ(Download(1, image, 48), kResultVerifyFailed);
  // Verification advanced once (before byte 16), then failed at byte 20.
  EXPECT_EQ(view.advances, (std::vector<int32_t>{341, 341, 341, 341}));
}

}  // namespace
}  // namespace enginetest
