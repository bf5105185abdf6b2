// The exact instructions the target receives, from the simulator's trace.
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

// MEGA8: 32 words a page, s = 5. Page 3 holds only its last byte: it is
// loaded whole, written at 0x00 0x60 and polled at the high byte of its last
// word; the erased pages are skipped but read back.
TEST_F(InstructionBytes, AvrPagesAreLoadedWholeAndAddressedByPageNumber) {
  for (int fast = 0; fast <= 1; ++fast) {
    Bytes image(0x100000, 0xFF);
    image[64 * 3 + 63] = 0x5A;
    Traced(1, fast);
    ASSERT_EQ(WriteFlash(state, view, image.data(), 256), kResultOk);
    EXPECT_EQ(Trace(0xAC), (Instructions{{0xAC, 0x80, 0xFF, 0x00}}));
    EXPECT_EQ(Trace(0x4C), (Instructions{{0x4C, 0x00, 0x60, 0x00}}));
    const Instructions low = Trace(0x40), high = Trace(0x48);
    ASSERT_EQ(low.size() + high.size(), 64u);
    for (uint8_t j = 0; j < 32; ++j) {
      EXPECT_EQ(low[j], (Bytes{0x40, 0x00, j, 0xFF}));
      EXPECT_EQ(high[j], (Bytes{0x48, 0x00, j, uint8_t(j == 31 ? 0x5A : 0xFF)}));
    }
    EXPECT_EQ(Trace(0x28).front(), (Bytes{0x28, 0x00, 0x7F, 0x00}));
    EXPECT_EQ(Trace(0x20).size(), 128u);
  }
  // The last page of a MEGA128 (128 words, s = 7) is page 511: 0xFF 0x80.
  Bytes image(0x100000, 0xFF);
  image[0x1FFFF] = 0x00;
  Traced(5, 1);
  ASSERT_EQ(WriteFlash(state, view, image.data(), 0x20000), kResultOk);
  EXPECT_EQ(Trace(0x4C), (Instructions{{0x4C, 0xFF, 0x80, 0x00}}));
  EXPECT_EQ(Trace(0x20).back(), (Bytes{0x20, 0xFF, 0xFF, 0x00}));
}

TEST_F(InstructionBytes, EepromAddressesAreBigEndianAndVerificationCarriesTheExpectedByte) {
  const Bytes image = NoiseImage(0x124, 0x124, 3);
  Traced(3);
  ASSERT_EQ(WriteEeprom(state, view, image.data(), 0x124), kResultOk);
  EXPECT_EQ(Trace(0xC0).at(0x123), (Bytes{0xC0, 0x01, 0x23, image[0x123]}));
  EXPECT_EQ(Trace(0xA0).at(0x123), (Bytes{0xA0, 0x01, 0x23, image[0x123]}));
}

// Page-mode instructions are recorded by their two leading bytes.
TEST_F(InstructionBytes, LockReadsEraseAndAt89Blocks) {
  bool locked = false;
  Traced(2);
  ASSERT_TRUE(ReadProtectionActive(state, &locked));
  EXPECT_EQ(Trace(), (Instructions{{0x58, 0x00, 0x00, 0x00}}));
  Traced(12);
  ASSERT_TRUE(ReadProtectionActive(state, &locked));
  Bytes block(300);
  ASSERT_EQ(WriteFlash(state, view, NoiseImage(300, 512, 4).data(), 300), kResultOk);
  ASSERT_EQ(ReadFlash(state, view, block.data(), 300), kResultOk);
  EXPECT_EQ(Trace(), (Instructions{{0x24, 0, 0, 0}, {0xAC, 0x80, 0, 0}, {0x50, 0, 0, 0}, {0x50, 1, 0, 0}, {0x30, 0, 0, 0},
                                   {0x30, 1, 0, 0}, {0x30, 0, 0, 0}, {0x30, 1, 0, 0}}));
}

}  // namespace
}  // namespace enginetest
