#include "engine/writers.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

class EepromWriter : public SimTest {
 protected:
  ResultCode Write(const Bytes& image, uint32_t length) { return WriteEeprom(state, view, image.data(), length); }
};

// Every byte is written, 0xFF too: there is no erase before the pass.
TEST_F(EepromWriter, WholeEepromIsWrittenAndVerified) {
  for (const auto& [chip, fast] : std::vector<std::pair<ChipIndex, int>>{{8, 0}, {5, 1}}) {
    const uint32_t size = FindChip(chip)->eepromLimit;
    const Bytes image = NoiseImage(size / 2, size, 1), zeros(size, 0x00);
    Ready(chip, fast);
    KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 0, zeros.data(), size);
    ASSERT_EQ(Write(image, size), kResultOk);
    EXPECT_EQ(Memory(KQ560SIM_EEPROM, size), image);
    EXPECT_EQ(view.statuses, std::vector<std::string>{kVerifyStatusText});
  }
}

// The simulated part is really busy after each byte: without the wait the
// next write is lost, and verification catches it.
TEST_F(EepromWriter, WithoutTheWaitTheNextWriteIsLost) {
  Ready(1);
  SetWaitRoutine([](uint32_t) {});
  EXPECT_EQ(Write(NoiseImage(8, 8, 3), 8), kResultVerifyFailed);
}

TEST_F(EepromWriter, ProgressOncePer16BytesAndTheFinalStep) {
  const struct { uint32_t length; size_t steps; int32_t delta; } cases[] = {{0, 0, 0}, {10, 0, 0}, {512, 32, 32}, {48, 3, 341}};
  for (const auto& c : cases) {
    Ready(1);
    ASSERT_EQ(Write(NoiseImage(c.length, 512, 5), c.length), kResultOk);
    std::vector<int32_t> expected(2 * c.steps, c.delta);
    expected.push_back(1023);
    EXPECT_EQ(view.advances, expected) << c.length;
    EXPECT_EQ(view.sets, std::vector<int32_t>{0});
  }
}

// Stop is looked at after every byte of both passes, the last one included.
TEST_F(EepromWriter, StopAfterAnyByte) {
  // During byte 32 (the last written), and during byte 16 of verification.
  const struct { size_t stopAt, statuses; } cases[] = {{2, 0}, {3, 1}};
  for (const auto& c : cases) {
    const Bytes image = NoiseImage(32, 32, 6);
    Ready(1);
    view.onAdvance = [&](size_t n) { state.stopRequest = n == c.stopAt ? 1 : state.stopRequest.load(); };
    EXPECT_EQ(Write(image, 32), kResultStopped);
    EXPECT_EQ(view.statuses.size(), c.statuses);
    EXPECT_EQ(Memory(KQ560SIM_EEPROM, 32), image);
  }
}

TEST_F(EepromWriter, ADifferentByteStopsTheVerificationThere) {
  const Bytes image = NoiseImage(48, 48, 7);
  Ready(1);
  view.onStatus = [&] {
    const uint8_t wrong = uint8_t(image[20] ^ 1);
    KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 20, &wrong, 1);
    ASSERT_TRUE(KQ560SimStartTrace(0, 100));
  };
  ASSERT_EQ(Write(image, 48), kResultVerifyFailed);
  EXPECT_EQ(Trace().size(), 21u);
}

TEST_F(EepromWriter, EveryFailedCallIsATransferFailure) {
  const Bytes image = NoiseImage(5, 5, 8);
  for (int fast = 0; fast <= 1; ++fast)
    EveryFailedCallIsATransferFailure([&] { Ready(1, fast); }, [&] { return Write(image, 5); });
}

}  // namespace
}  // namespace enginetest
