// The exact instructions the target receives, from the simulator's trace.
#include "engine/at89_config.h"
#include "engine/readers.h"
#include "engine/writers.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

using Instructions = std::vector<Bytes>;

class InstructionBytes : public SimTest {
 protected:
  void Traced(ChipIndex chip, int fast = 0) {
    Ready(chip, fast);
    ASSERT_TRUE(KQ560SimStartTrace(0, 300000));
  }
};

TEST_F(InstructionBytes, IdentificationOfAnAvrPart) {
  Connect("MEGA8", kChipAuto);
  ASSERT_TRUE(KQ560SimStartTrace(0, 16));
  ASSERT_EQ(IdentifyTarget(state), kResultOk);
  const Instructions trace = Trace();
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(Bytes(trace[0].begin(), trace[0].begin() + 3), (Bytes{0xAC, 0x53, 0xFF}));
  for (uint8_t a = 0; a < 3; ++a) EXPECT_EQ(Bytes(trace[1 + a].begin(), trace[1 + a].begin() + 3), (Bytes{0x30, 0x00, a}));
}

TEST_F(InstructionBytes, AvrPagesAreLoadedWordByWordAndAddressedByPageNumber) {
  for (int fast = 0; fast <= 1; ++fast) {
    // MEGA8: 32 words a page, s = 5. Only page 3 holds data; its first
    // programmed byte is byte 1, a high byte.
    Bytes image(0x100000, 0xFF);
    for (uint32_t i = 1; i < 64; ++i) image[64 * 3 + i] = uint8_t(i * 3);
    Traced(1, fast);
    ASSERT_EQ(WriteFlash(state, view, image.data(), 256), kResultOk);
    EXPECT_EQ(Trace(0xAC, 0x80).size(), 1u) << "one chip erase";
    EXPECT_EQ(Trace(0x4C), (Instructions{{0x4C, 0x00, 0x60, 0x00}}));
    const Instructions low = Trace(0x40), high = Trace(0x48);
    ASSERT_EQ(low.size(), 32u);
    ASSERT_EQ(high.size(), 32u);
    for (uint8_t j = 0; j < 32; ++j) {
      EXPECT_EQ(low[j], (Bytes{0x40, 0x00, j, image[64 * 3 + 2 * j]}));
      EXPECT_EQ(high[j], (Bytes{0x48, 0x00, j, image[64 * 3 + 2 * j + 1]}));
    }
    // The poll reads the first programmed byte: the high byte of word 96.
    EXPECT_EQ(Trace(0x28, 0x00).front(), (Bytes{0x28, 0x00, 0x60, 0x00}));
  }
  // The last page of a MEGA128 (128 words, s = 7) is page 511: 0xFF 0x80;
  // its last word is read back as 0xFF 0xFF.
  Bytes image(0x100000, 0xFF);
  image[0x1FFFF] = 0x00;
  Traced(5, 1);
  ASSERT_EQ(WriteFlash(state, view, image.data(), 0x20000), kResultOk);
  EXPECT_EQ(Trace(0x4C), (Instructions{{0x4C, 0xFF, 0x80, 0x00}}));
  EXPECT_EQ(Trace(0x20).back(), (Bytes{0x20, 0xFF, 0xFF, 0x00}));
  EXPECT_EQ(Trace(0x28).back(), (Bytes{0x28, 0xFF, 0xFF, 0x00}));
}

TEST_F(InstructionBytes, EepromAddressesAreBigEndianAndVerificationCarriesTheExpectedByte) {
  const Bytes image = NoiseImage(0x124, 0x124, 3);
  Traced(3);
  ASSERT_EQ(WriteEeprom(state, view, image.data(), 0x124), kResultOk);
  ASSERT_EQ(Trace(0xC0).size(), 0x124u);
  EXPECT_EQ(Trace(0xC0)[0x123], (Bytes{0xC0, 0x01, 0x23, image[0x123]}));
  EXPECT_EQ(Trace(0xA0)[0x123], (Bytes{0xA0, 0x01, 0x23, image[0x123]}));
}

TEST_F(InstructionBytes, LockReadsAndErase) {
  bool locked = false;
  Traced(2);
  ASSERT_TRUE(ReadProtectionActive(state, &locked));
  ASSERT_EQ(EraseChip(state), kResultOk);
  EXPECT_EQ(Trace(), (Instructions{{0x58, 0x00, 0x00, 0x00}, {0xAC, 0x80, 0xFF, 0x00}}));
  Traced(11);
  ASSERT_TRUE(ReadProtectionActive(state, &locked));
  EXPECT_EQ(Trace(), (Instructions{{0x24, 0x00, 0x00, 0x00}}));
}

TEST_F(InstructionBytes, At89LockLevelsRiseAndPagesGoByBlockNumber) {
  Traced(12);
  ASSERT_TRUE(WriteAt89LockLevel(0, 2));
  EXPECT_EQ(Trace(), (Instructions{{0xAC, 0xE0, 0, 0}, {0xAC, 0xE1, 0, 0}, {0xAC, 0xE2, 0, 0}}));
  // A page-mode instruction is recorded by its two leading bytes.
  Traced(12);
  Bytes block(300);
  ASSERT_EQ(WriteFlash(state, view, NoiseImage(300, 512, 4).data(), 300), kResultOk);
  ASSERT_EQ(ReadFlash(state, view, block.data(), 300), kResultOk);
  EXPECT_EQ(Trace(0x50), (Instructions{{0x50, 0x00, 0, 0}, {0x50, 0x01, 0, 0}}));
  EXPECT_EQ(Trace(0x30), (Instructions{{0x30, 0x00, 0, 0}, {0x30, 0x01, 0, 0}, {0x30, 0x00, 0, 0}, {0x30, 0x01, 0, 0}}));
}

}  // namespace
}  // namespace enginetest
