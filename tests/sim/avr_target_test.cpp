// The virtual ATmega on the simulator's lines, driven with hand-built packets.
// Whole downloads and fuse dialogs through the engine are tested in
// tests/engine; these are the chip rules that would slip past them.
#include "sim_test_support.h"

using namespace simtest;

namespace {

const Reply kSilent = {0xFF, 0xFF, 0xFF, 0xFF};

class AvrTarget : public SimTest {
 protected:
  static void Enable() {
    EnterAvr();
    ASSERT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00)[2], 0x53);
  }
  static uint8_t Flash(uint32_t address) {
    const uint32_t word = address / 2;
    return Avr(address & 1 ? 0x28 : 0x20, static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word), 0)[3];
  }
  // Loads `data` into the page buffer from word 0 on and writes the page holding `word`.
  static void WritePage(uint32_t word, const Bytes& data) {
    for (uint32_t j = 0; j < data.size() / 2; ++j) {
      Avr(0x40, 0x00, static_cast<uint8_t>(j), data[2 * j]);
      Avr(0x48, 0x00, static_cast<uint8_t>(j), data[2 * j + 1]);
    }
    Avr(0x4C, static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word), 0x00);
  }
  // A fuse or lock write (0xAC `which`), then the time it takes.
  static void Program(uint8_t which, uint8_t value) {
    Avr(0xAC, which, 0x00, value);
    KQ560SimAdvanceMs(5);
  }
};

TEST_F(AvrTarget, ProgrammingEnableNeedsAResetPulseThenTwentyMilliseconds) {
  enum Power { kOn, kUpAfterLines, kOff };
  const Bytes low = {0x80, 0x6A, 0xE0};  // from undriven: reset, clock and data driven low
  const struct {
    const char* what;
    Power power;
    std::vector<Bytes> lines;
    bool answers;
  } cases[] = {
      {"pulse with the clock low", kOn, {low, {0x82}, {0x80}}, true},
      {"reset lowered from undriven", kOn, {low}, false},
      {"pulse with the clock high", kOn, {low, {0x8A}, {0x80}}, false},
      {"pulse of 1 us", kOn, {low, {0x82, 0x80}}, false},
      {"power-up with reset and clock low", kUpAfterLines, {low}, true},
      {"unpowered", kOff, {low, {0x82}, {0x80}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(KQ560SimAttach(0, "MEGA8"));  // a fresh chip
    KQ560SimSetTargetPower(0, c.power == kOn);
    for (const Bytes& line : c.lines) SendLine(line);
    KQ560SimSetTargetPower(0, c.power != kOff);
    KQ560SimAdvanceMs(10);
    EXPECT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00), kSilent) << "still asleep";
    KQ560SimAdvanceMs(15);
    // The echo: reply bytes 1 and 2 are instruction bytes 0 and 1.
    EXPECT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00), c.answers ? (Reply{0x00, 0xAC, 0x53, 0xFF}) : kSilent);
    SendLine({0x40});  // lines undriven again
  }
}

TEST_F(AvrTarget, WritesAreBusyAndLoseWritesIssuedMeanwhile) {
  const uint8_t old = 0x3C;
  KQ560SimWriteMemory(0, KQ560SIM_FLASH, 4 * 64, &old, 1);
  Enable();
  const Bytes page = Pattern(64, 0x11);
  WritePage(0x60, page);  // page 3 of the MEGA8's 32-word pages
  EXPECT_EQ(Avr(0xF0, 0x00, 0x00, 0x00)[3], 0x01) << "busy";
  EXPECT_EQ(Flash(3 * 64 + 5), 0xFF) << "the page reads 0xFF while it is written";
  EXPECT_EQ(Flash(4 * 64), old) << "other pages read as they are";
  KQ560SimAdvanceMs(5);
  EXPECT_EQ(Avr(0xF0, 0x00, 0x00, 0x00)[3], 0x00);
  EXPECT_EQ(Flash(3 * 64 + 5), page[5]);

  Avr(0xC0, 0x02, 0x10, 0x55);  // 0x210 wraps onto the 512-byte EEPROM
  EXPECT_EQ(Avr(0xA0, 0x00, 0x10, 0x00)[3], 0xFF) << "the byte being written reads 0xFF";
  Avr(0xC0, 0x00, 0x11, 0x66);
  KQ560SimAdvanceMs(9);
  EXPECT_EQ(Avr(0xA0, 0x00, 0x10, 0x00)[3], 0x55);
  EXPECT_EQ(Avr(0xA0, 0x00, 0x11, 0x00)[3], 0xFF) << "written while busy: lost";

  // Cells only lose bits, and the page write left the page buffer empty.
  WritePage(0x80, Bytes(2, 0x0F));
  KQ560SimAdvanceMs(5);
  EXPECT_EQ(Flash(4 * 64), old & 0x0F);
  EXPECT_EQ(Flash(4 * 64 + 5), 0xFF);
}

TEST_F(AvrTarget, FuseWritesKeepSpienAndNeedAnExtendedByte) {
  Enable();
  Program(0xA0, 0xE4);
  Program(0xA8, 0xFF);  // tries to unprogram SPIEN
  Program(0xA4, 0x00);  // no extended fuse on the MEGA8
  EXPECT_EQ(Avr(0x50, 0x00, 0x00, 0x00)[3], 0xE4);
  EXPECT_EQ(Avr(0x58, 0x08, 0x00, 0x00)[3], 0xDF);
  EXPECT_EQ(Avr(0x50, 0x08, 0x00, 0x00)[3], 0xFF);

  ASSERT_TRUE(KQ560SimAttach(0, "MEGA88"));
  Enable();
  Program(0xA4, 0x00);
  EXPECT_EQ(Avr(0x50, 0x08, 0x00, 0x00)[3], 0xF8) << "only BOOTSZ1/0 and BOOTRST exist";
}

TEST_F(AvrTarget, LockBitsCanOnlyBeProgrammedAndOnlyChipEraseClearsThem) {
  const Bytes data = Pattern(64, 9);
  KQ560SimWriteMemory(0, KQ560SIM_FLASH, 0, data.data(), 64);
  KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 0, data.data(), 64);
  Enable();
  Program(0xE0, 0xFE);  // LB1: no more programming
  Program(0xE0, 0xFF);  // cannot unprogram it
  EXPECT_EQ(Avr(0x58, 0x00, 0x00, 0x00)[3], 0xFE);
  WritePage(0, Bytes(64, 0x00));
  Avr(0xC0, 0x00, 0x01, 0x00);
  Program(0xA0, 0x00);
  EXPECT_EQ(Flash(0), data[0]) << "mode 2 still verifies";
  EXPECT_EQ(Avr(0xA0, 0x00, 0x01, 0x00)[3], data[1]);
  EXPECT_EQ(KQ560SimGetConfig(0, KQ560SIM_LOW), 0xE1) << "fuses are locked too";
  Program(0xE0, 0xFC);  // LB2: no verification either
  EXPECT_EQ(Flash(0), 0xFF);
  EXPECT_EQ(Avr(0xA0, 0x00, 0x01, 0x00)[3], 0xFF);
  EXPECT_EQ(Avr(0x30, 0x00, 0x00, 0x00)[3], 0x1E) << "the signature stays readable";

  // Chip erase: about 9 ms; flash, EEPROM (EESAVE is unprogrammed) and lock bits cleared.
  Avr(0xAC, 0x80, 0xFF, 0x00);
  KQ560SimAdvanceMs(7);  // the call itself took about 1 ms after the erase began
  EXPECT_TRUE(KQ560SimTargetBusy(0));
  KQ560SimAdvanceMs(2);
  EXPECT_FALSE(KQ560SimTargetBusy(0));
  EXPECT_EQ(Avr(0x58, 0x00, 0x00, 0x00)[3], 0xFF);
  EXPECT_EQ(Flash(1), 0xFF);
  EXPECT_EQ(Avr(0xA0, 0x00, 0x01, 0x00)[3], 0xFF);
}

TEST_F(AvrTarget, HardwareSpiStreamIsMsbFirstLeavesResetAloneAndNeedsAFastTarget) {
  EnterAvr();
  uint8_t lsbFirst[8] = {0xAC, 0x53, 0xFF, 0x00, 0x30, 0x00, 0x00, 0x00};
  ASSERT_EQ(KQ560StreamSPI4(0, 0, 8, lsbFirst), 1u);
  EXPECT_NE(lsbFirst[7], 0x1E) << "a fresh bridge shifts LSB first";

  EnterAvr();
  ASSERT_EQ(KQ560SetStream(0, kKq560StreamSpiMsbFirst), 1u);
  uint8_t batch[8] = {0xAC, 0x53, 0xFF, 0x00, 0x30, 0x00, 0x02, 0x00};
  ASSERT_EQ(KQ560StreamSPI4(0, 0, 8, batch), 1u);
  EXPECT_EQ(batch[2], 0x53);
  EXPECT_EQ(batch[7], 0x07);
  EXPECT_EQ(Avr(0x30, 0x00, 0x00, 0x00)[3], 0x1E) << "reset left alone, the clock ended low";

  // A 500 kHz target needs phases of 4 us: bit-banging works, 200 kHz SPI does not.
  ASSERT_TRUE(KQ560SimSetTargetClock(0, 500000));
  EnterAvr();
  ASSERT_EQ(Avr(0xAC, 0x53, 0xFF, 0x00)[2], 0x53);
  uint8_t signature[4] = {0x30, 0x00, 0x00, 0x00};
  ASSERT_EQ(KQ560StreamSPI4(0, 0, 4, signature), 1u);
  EXPECT_NE(signature[3], 0x1E);
}

}  // namespace
