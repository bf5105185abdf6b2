// The exact instructions the target receives, from the simulator's trace.
#include <algorithm>

#include "engine/at89_config.h"
#include "engine/identify.h"
#include "engine/writers.h"
#include "sim_fixture.h"

namespace enginetest {
namespace {

using Bytes = std::vector<uint8_t>;

class InstructionBytes : public SimTest {
 protected:
  void Identify(const char* chip, ChipIndex index, int fast = 0) {
    Connect(chip, index);
    state.fastSpi = fast;
    ASSERT_TRUE(KQ560SimStartTrace(0, 200000));
    ASSERT_EQ(IdentifyTarget(state), kResultOk);
  }
  // The instructions whose first byte is `op` (and second `b1`, if given).
  std::vector<Bytes> With(uint8_t op, int b1 = -1) {
    std::vector<Bytes> found;
    for (const KQ560SimInstruction& i : Trace())
      if (i.bytes[0] == op && (b1 < 0 || i.bytes[1] == b1)) found.push_back(Bytes(i.bytes, i.bytes + 4));
    return found;
  }
};

TEST_F(InstructionBytes, IdentificationOfAnAvrPart) {
  Identify("MEGA8", kChipAuto);
  const auto trace = Trace();
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(Bytes(trace[0].bytes, trace[0].bytes + 3), (Bytes{0xAC, 0x53, 0xFF}));
  for (uint8_t a = 0; a < 3; ++a) EXPECT_EQ(Bytes(trace[1 + a].bytes, trace[1 + a].bytes + 3), (Bytes{0x30, 0x00, a}));
}

TEST_F(InstructionBytes, AvrPagesAreLoadedWordByWordAndAddressedByPageNumber) {
  for (int fast = 0; fast <= 1; ++fast) {
    SCOPED_TRACE(fast ? "fast" : "bit-banged");
    KQ560SimReset();
    // MEGA8: 32 words a page, s = 5. Only page 3 holds data; its first
    // programmed byte is byte 1, a high byte.
    auto image = std::vector<uint8_t>(0x100000, 0xFF);
    for (uint32_t i = 1; i < 64; ++i) image[64 * 3 + i] = uint8_t(i * 3);
    Identify("MEGA8", 1, fast);
    ASSERT_EQ(WriteFlash(state, view, image.data(), 256), kResultOk);
    EXPECT_EQ(With(0xAC, 0x80).size(), 1u) << "one chip erase";
    EXPECT_EQ(With(0x4C), (std::vector<Bytes>{{0x4C, 0x00, 0x60, 0x00}}));
    const auto low = With(0x40), high = With(0x48);
    ASSERT_EQ(low.size(), 32u);
    ASSERT_EQ(high.size(), 32u);
    for (uint8_t j = 0; j < 32; ++j) {
      EXPECT_EQ(low[j], (Bytes{0x40, 0x00, j, image[64 * 3 + 2 * j]}));
      EXPECT_EQ(high[j], (Bytes{0x48, 0x00, j, image[64 * 3 + 2 * j + 1]}));
    }
    // The poll reads the first programmed byte: the high byte of word 96.
    const auto polls = With(0x28, 0x00);
    ASSERT_FALSE(polls.empty());
    EXPECT_EQ(polls.front(), (Bytes{0x28, 0x00, 0x60, 0x00}));
  }
  // The last page of a MEGA128 (128 words, s = 7) is page 511: 0xFF 0x80.
  KQ560SimReset();
  auto image = std::vector<uint8_t>(0x100000, 0xFF);
  image[0x1FFFF] = 0x00;
  Identify("MEGA128", 5, 1);
  ASSERT_EQ(WriteFlash(state, view, image.data(), 0x20000), kResultOk);
  EXPECT_EQ(With(0x4C), (std::vector<Bytes>{{0x4C, 0xFF, 0x80, 0x00}}));
}

TEST_F(InstructionBytes, EepromAddressesAreBigEndianAndReadsCarryTheExpectedByte) {
  const auto image = NoiseImage(0x124, 4096, 3);
  Identify("MEGA32", 3);
  ASSERT_EQ(WriteEeprom(state, view, image.data(), 0x124), kResultOk);
  const auto writes = With(0xC0), reads = With(0xA0);
  ASSERT_EQ(writes.size(), 0x124u);
  ASSERT_EQ(reads.size(), 0x124u);
  EXPECT_EQ(writes[0x123], (Bytes{0xC0, 0x01, 0x23, image[0x123]}));
  EXPECT_EQ(reads[0x123], (Bytes{0xA0, 0x01, 0x23, image[0x123]}));
}

TEST_F(InstructionBytes, At89LockLevelsGoOutInRisingOrder5MsApart) {
  Identify("AT89S52", 12);
  KQ560SimStartTrace(0, 16);
  ASSERT_TRUE(WriteAt89LockLevel(0, 2));
  const auto trace = Trace();
  ASSERT_EQ(trace.size(), 3u);
  for (uint8_t level = 0; level < 3; ++level) {
    EXPECT_EQ(trace[level].bytes[0], 0xAC);
    EXPECT_EQ(trace[level].bytes[1], 0xE0 + level);
    if (level) {
      EXPECT_GE(trace[level].atUs - trace[level - 1].atUs, 5000u);
    }
  }
  // A page write is recorded by its two leading bytes.
  KQ560SimStartTrace(0, 16);
  const auto image = NoiseImage(300, 0x100000, 4);
  ASSERT_EQ(WriteFlash(state, view, image.data(), 300), kResultOk);
  EXPECT_EQ(With(0x50), (std::vector<Bytes>{{0x50, 0x00, 0, 0}, {0x50, 0x01, 0, 0}}));
  EXPECT_EQ(With(0x30), (std::vector<Bytes>{{0x30, 0x00, 0, 0}, {0x30, 0x01, 0, 0}}));
}

}  // namespace
}  // namespace enginetest
