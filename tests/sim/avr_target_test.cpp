// The virtual ATmega on the simulator's lines, driven with hand-built packets.
#include <gtest/gtest.h>

#include "engine/chip_catalog.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

class AvrTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    KQ560SimReset();
    ASSERT_EQ(KQ560OpenDevice(0), 0);
  }
  void TearDown() override { KQ560SimReset(); }

  static void Enable() {
    EnterAvr();
    ASSERT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00)[2], 0x53);
  }
  static uint8_t Flash(uint32_t address) {
    const uint32_t word = address / 2;
    return Avr(address & 1 ? 0x28 : 0x20, static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word), 0)[3];
  }
  static void LoadPage(const Bytes& page) {
    for (uint32_t j = 0; j < page.size() / 2; ++j) {
      Avr(0x40, 0x00, static_cast<uint8_t>(j), page[2 * j]);
      Avr(0x48, 0x00, static_cast<uint8_t>(j), page[2 * j + 1]);
    }
  }
  static void WritePage(uint32_t page, uint32_t pageBytes) {
    const uint32_t word = page * pageBytes / 2;
    Avr(0x4C, static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word), 0x00);
  }
  static Bytes Pattern(uint32_t size, uint8_t seed) {
    Bytes b(size);
    for (uint32_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + 7 * i);
    return b;
  }
};

TEST_F(AvrTarget, ProgrammingEnableNeedsAResetPulseAndTwentyMilliseconds) {
  EnterAvr(false);
  EXPECT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00), (Reply{0xFF, 0xFF, 0xFF, 0xFF})) << "no pulse: nobody answers";

  EnterAvr(true, 10);
  EXPECT_NE(Avr(0xAC, 0x53, 0xFF, 0x00)[2], 0x53) << "10 ms after the pulse is too early";
  KQ560SimAdvanceMs(15);
  EXPECT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00)[2], 0x53) << "once awake it takes the instruction";

  SendLine({0x8A});  // a pulse while the clock is high does not count
  SendLine({0x80});
  KQ560SimAdvanceMs(25);
  EXPECT_NE(Avr(0xAC, 0x53, 0xFF, 0x00)[2], 0x53);
}

TEST_F(AvrTarget, RepliesEchoTheInstructionAndGiveEachPartsSignature) {
  for (ChipIndex i = 1; i <= 10; ++i) {
    const ChipInfo& chip = kChipCatalogue[i];
    SCOPED_TRACE(chip.name);
    ASSERT_TRUE(KQ560SimAttach(0, chip.name));
    Enable();
    for (uint8_t k = 0; k < 3; ++k) {
      const Reply r = Avr(0x30, 0x00, k, 0x00);
      EXPECT_EQ(r[1], 0x30);
      EXPECT_EQ(r[2], 0x00);
      EXPECT_EQ(r[3], chip.signature[k]);
    }
  }
  ASSERT_TRUE(KQ560SimAttach(0, "avr:1E9A42:2048:32:128"));
  Enable();
  EXPECT_EQ(Avr(0x30, 0x00, 0x01, 0x00)[3], 0x9A);
  EXPECT_EQ(Avr(0x30, 0x00, 0x02, 0x00)[3], 0x42);
}

TEST_F(AvrTarget, PageWriteIsBusyThenReadsBack) {
  ASSERT_TRUE(KQ560SimAttach(0, "MEGA8"));
  Enable();
  const Bytes page = Pattern(64, 0x11);
  LoadPage(page);
  WritePage(3, 64);  // words 0x60-0x7F
  EXPECT_TRUE(KQ560SimTargetBusy(0));
  EXPECT_EQ(Flash(3 * 64 + 5), 0xFF) << "the page reads 0xFF while it is written";
  KQ560SimAdvanceMs(5);
  EXPECT_FALSE(KQ560SimTargetBusy(0));
  EXPECT_EQ(Flash(3 * 64 + 5), page[5]);
  Bytes stored(64);
  ASSERT_EQ(KQ560SimReadMemory(0, KQ560SIM_FLASH, 3 * 64, stored.data(), 64), 64u);
  EXPECT_EQ(stored, page);

  // Flash cells only lose bits: rewriting without an erase ANDs the data in.
  LoadPage(Bytes(64, 0x0F));
  WritePage(3, 64);
  KQ560SimAdvanceMs(5);
  EXPECT_EQ(Flash(3 * 64 + 1), page[1] & 0x0F);
}

TEST_F(AvrTarget, ChipEraseTakesTimeClearsLocksAndHonoursEesave) {
  ASSERT_TRUE(KQ560SimAttach(0, "MEGA16"));
  const Bytes data = Pattern(16, 3);
  KQ560SimWriteMemory(0, KQ560SIM_FLASH, 0, data.data(), 16);
  KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 0, data.data(), 16);
  KQ560SimSetConfig(0, KQ560SIM_LOCK, 0xFC);
  Enable();
  Avr(0xAC, 0x80, 0xFF, 0x00);
  EXPECT_TRUE(KQ560SimTargetBusy(0));
  KQ560SimAdvanceMs(7);  // the call itself took about 1 ms after the erase began
  EXPECT_TRUE(KQ560SimTargetBusy(0)) << "about 9 ms";
  KQ560SimAdvanceMs(2);
  EXPECT_EQ(Flash(0), 0xFF);
  EXPECT_EQ(Avr(0xA0, 0x00, 0x00, 0x00)[3], 0xFF);
  EXPECT_EQ(Avr(0x58, 0x00, 0x00, 0x00)[3], 0xFF);

  KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 0, data.data(), 16);
  KQ560SimSetConfig(0, KQ560SIM_HIGH, 0x91);  // EESAVE programmed
  Avr(0xAC, 0x80, 0xFF, 0x00);
  KQ560SimAdvanceMs(10);
  EXPECT_EQ(Avr(0xA0, 0x00, 0x01, 0x00)[3], data[1]);
}

TEST_F(AvrTarget, EepromWriteIssuedWhileBusyIsLost) {
  ASSERT_TRUE(KQ560SimAttach(0, "MEGA48"));
  Enable();
  Avr(0xC0, 0x00, 0x10, 0x55);
  EXPECT_EQ(Avr(0xA0, 0x00, 0x10, 0x00)[3], 0xFF) << "the byte being written reads 0xFF";
  Avr(0xC0, 0x00, 0x11, 0x66);
  KQ560SimAdvanceMs(9);
  EXPECT_EQ(Avr(0xA0, 0x00, 0x10, 0x00)[3], 0x55);
  EXPECT_EQ(Avr(0xA0, 0x00, 0x11, 0x00)[3], 0xFF);
  Avr(0xC0, 0x01, 0x11, 0x66);  // address 0x111 wraps onto the 256-byte EEPROM
  KQ560SimAdvanceMs(9);
  EXPECT_EQ(Avr(0xA0, 0x00, 0x11, 0x00)[3], 0x66);
}

TEST_F(AvrTarget, FuseWritesKeepSpienAndNeedAnExtendedByte) {
  ASSERT_TRUE(KQ560SimAttach(0, "MEGA8"));
  Enable();
  EXPECT_EQ(Avr(0x50, 0x00, 0x00, 0x00)[3], 0xE1);
  EXPECT_EQ(Avr(0x58, 0x08, 0x00, 0x00)[3], 0xD9);
  Avr(0xAC, 0xA0, 0x00, 0xE4);
  KQ560SimAdvanceMs(5);
  Avr(0xAC, 0xA8, 0x00, 0xFF);  // tries to unprogram SPIEN
  KQ560SimAdvanceMs(5);
  Avr(0xAC, 0xA4, 0x00, 0x00);  // no extended fuse on this part
  KQ560SimAdvanceMs(5);
  EXPECT_EQ(Avr(0x50, 0x00, 0x00, 0x00)[3], 0xE4);
  EXPECT_EQ(Avr(0x58, 0x08, 0x00, 0x00)[3], 0xDF);
  EXPECT_EQ(Avr(0x50, 0x08, 0x00, 0x00)[3], 0xFF);
  EXPECT_EQ(KQ560SimGetConfig(0, KQ560SIM_EXT), -1);

  ASSERT_TRUE(KQ560SimAttach(0, "MEGA88"));
  Enable();
  EXPECT_EQ(Avr(0x50, 0x08, 0x00, 0x00)[3], 0xF9);
  Avr(0xAC, 0xA4, 0x00, 0x00);
  KQ560SimAdvanceMs(5);
  EXPECT_EQ(Avr(0x50, 0x08, 0x00, 0x00)[3], 0xF8) << "only BOOTSZ1/0 and BOOTRST exist";
}

TEST_F(AvrTarget, LockBitsCanOnlyBeProgrammedAndLockTheChip) {
  ASSERT_TRUE(KQ560SimAttach(0, "MEGA8"));
  const Bytes data = Pattern(64, 9);
  KQ560SimWriteMemory(0, KQ560SIM_FLASH, 0, data.data(), 64);
  Enable();
  Avr(0xAC, 0xE0, 0x00, 0xFE);  // LB1: no more programming
  KQ560SimAdvanceMs(5);
  Avr(0xAC, 0xE0, 0x00, 0xFF);  // cannot unprogram it
  KQ560SimAdvanceMs(5);
  EXPECT_EQ(Avr(0x58, 0x00, 0x00, 0x00)[3], 0xFE);
  LoadPage(Bytes(64, 0x00));
  WritePage(0, 64);
  Avr(0xAC, 0xA0, 0x00, 0x00);
  KQ560SimAdvanceMs(5);
  EXPECT_EQ(Flash(0), data[0]) << "mode 2 still verifies";
  EXPECT_EQ(KQ560SimGetConfig(0, KQ560SIM_LOW), 0xE1) << "fuses are locked too";

  Avr(0xAC, 0xE0, 0x00, 0xFC);  // LB2: no verification either
  KQ560SimAdvanceMs(5);
  EXPECT_EQ(Flash(0), 0xFF);
  EXPECT_EQ(Avr(0x30, 0x00, 0x00, 0x00)[3], 0x1E) << "the signature stays readable";

  Avr(0xAC, 0x80, 0xFF, 0x00);
  KQ560SimAdvanceMs(10);
  EXPECT_EQ(Avr(0x58, 0x00, 0x00, 0x00)[3], 0xFF);
  LoadPage(data);
  WritePage(0, 64);
  KQ560SimAdvanceMs(5);
  EXPECT_EQ(Flash(63), data[63]);
}

TEST_F(AvrTarget, HardwareSpiStreamShiftsMsbFirstAndLeavesResetAlone) {
  ASSERT_TRUE(KQ560SimAttach(0, "MEGA16"));
  EnterAvr();
  uint8_t lsbFirst[8] = {0xAC, 0x53, 0xFF, 0x00, 0x30, 0x00, 0x00, 0x00};
  ASSERT_EQ(KQ560StreamSPI4(0, 0, 8, lsbFirst), 1u);
  EXPECT_NE(lsbFirst[7], 0x1E) << "before KQ560SetStream the engine shifts LSB first";

  EnterAvr();
  ASSERT_EQ(KQ560SetStream(0, kKq560StreamSpiMsbFirst), 1u);
  uint8_t batch[16] = {0xAC, 0x53, 0xFF, 0x00, 0x30, 0, 0, 0, 0x30, 0, 1, 0, 0x30, 0, 2, 0};
  ASSERT_EQ(KQ560StreamSPI4(0, 0, 16, batch), 1u);
  EXPECT_EQ(batch[2], 0x53);
  EXPECT_EQ(batch[7], 0x1E);
  EXPECT_EQ(batch[11], 0x94);
  EXPECT_EQ(batch[15], 0x03);
  EXPECT_EQ(SamplePins() & 0x02, 0) << "reset is still driven low";
}

TEST_F(AvrTarget, SlowTargetClockMissesEdges) {
  ASSERT_TRUE(KQ560SimAttach(0, "MEGA8"));
  ASSERT_TRUE(KQ560SimSetTargetClock(0, 500000));  // needs phases of 4 us
  Enable();  // the bit-banged phases are 5 us and more
  ASSERT_EQ(KQ560SetStream(0, kKq560StreamSpiMsbFirst), 1u);
  uint8_t spi[4] = {0x30, 0x00, 0x00, 0x00};
  ASSERT_EQ(KQ560StreamSPI4(0, 0, 4, spi), 1u);
  EXPECT_NE(spi[3], 0x1E) << "200 kHz hardware SPI is too fast for it";

  ASSERT_TRUE(KQ560SimSetTargetClock(0, 100000));
  EnterAvr();
  EXPECT_NE(Avr(0xAC, 0x53, 0xFF, 0x00)[2], 0x53);
}

TEST_F(AvrTarget, StuckTargetNeverFinishesAPageWrite) {
  ASSERT_TRUE(KQ560SimAttach(0, "MEGA8"));
  ASSERT_TRUE(KQ560SimSetTargetStuck(0, 1));
  Enable();
  LoadPage(Pattern(64, 1));
  WritePage(0, 64);
  for (int poll = 0; poll < 101; ++poll) ASSERT_EQ(Flash(1), 0xFF);
  KQ560SimAdvanceMs(1000);
  EXPECT_EQ(Flash(1), 0xFF);
}

TEST_F(AvrTarget, UnpoweredOrMissingTargetNeverAnswers) {
  ASSERT_TRUE(KQ560SimSetTargetPower(0, 0));
  EnterAvr();
  EXPECT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00), (Reply{0xFF, 0xFF, 0xFF, 0xFF}));
  ASSERT_TRUE(KQ560SimAttach(0, "none"));
  EnterAvr();
  EXPECT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00), (Reply{0xFF, 0xFF, 0xFF, 0xFF}));
}

}  // namespace
