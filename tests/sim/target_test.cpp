// The virtual targets: the chip rules the engine must meet and those a whole
// download never shows (write cycles and what they lose, lock modes, clock
// limits). Downloads, identification and the configuration dialogs through
// the engine are tested in tests/engine.
#include "sim_test_support.h"

using namespace simtest;

namespace {

const Reply kSilent = {0xFF, 0xFF, 0xFF, 0xFF};

uint8_t Read(const Reply& instruction) { return Avr(instruction)[3]; }

// Moves the clock to `us` after the first instruction traced since KQ560SimStartTrace.
void AdvanceToAfterTraced(uint64_t us) {
  KQ560SimInstruction first;
  ASSERT_TRUE(KQ560SimTraceEntry(0, 0, &first));
  KQ560SimAdvanceUs(static_cast<uint32_t>(first.atUs + us - KQ560SimNowUs()));
}

using AvrTarget = SimTest;

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
    EXPECT_EQ(Avr({0xAC, 0x53, 0xFF, 0x00}), kSilent) << "still asleep";
    KQ560SimAdvanceMs(15);
    // The echo: reply bytes 1 and 2 are instruction bytes 0 and 1.
    EXPECT_EQ(Avr({0xAC, 0x53, 0xFF, 0x00}), c.answers ? (Reply{0x00, 0xAC, 0x53, 0xFF}) : kSilent);
    SendLine({0x40});  // lines undriven again
  }
}

// A write cycle starts; an instruction follows at once, another after the
// cycle. Flash holds 0x3C at byte 0, the EEPROM 0x5A at byte 1 (kept by a chip
// erase: EESAVE is programmed), the page buffer 0x00 at byte 0.
TEST_F(AvrTarget, WriteCyclesLastTheirTimeAndLoseWritesMeanwhile) {
  const struct {
    const char* what;
    Reply start, during, after;
    uint32_t busyUs;
    uint8_t duringReply, afterReply;  // what is not a read echoes its byte 2
  } cases[] = {
      {"erase: EEPROM reads 0xFF", {0xAC, 0x80, 0, 0}, {0xA0, 0, 1, 0}, {0xA0, 0, 1, 0}, 9000, 0xFF, 0x5A},
      {"page write: its page reads 0xFF", {0x4C, 0, 0, 0}, {0x20, 0, 0, 0}, {0x20, 0, 0, 0}, 4500, 0xFF, 0x00},
      {"page write: chip erase lost", {0x4C, 0, 0, 0}, {0xAC, 0x80, 0, 0}, {0x20, 0, 0, 0}, 4500, 0x00, 0x00},
      {"EEPROM write: its byte reads 0xFF", {0xC0, 0, 1, 0x11}, {0xA0, 0, 1, 0}, {0xA0, 0, 1, 0}, 9000, 0xFF, 0x11},
      {"EEPROM write: page write lost", {0xC0, 0, 1, 0x11}, {0x4C, 0, 0, 0}, {0x20, 0, 0, 0}, 9000, 0x00, 0x3C},
      {"lock write: fuse write lost", {0xAC, 0xE0, 0, 0xFF}, {0xAC, 0xA0, 0, 0}, {0x50, 0, 0, 0}, 4500, 0x00, 0xE1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(KQ560SimAttach(0, "MEGA8"));
    const uint8_t flash0 = 0x3C, eeprom1 = 0x5A;
    KQ560SimWriteMemory(0, KQ560SIM_FLASH, 0, &flash0, 1);
    KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 1, &eeprom1, 1);
    KQ560SimSetConfig(0, KQ560SIM_HIGH, 0xD1);
    EnterAvr();
    Avr({0x40, 0, 0, 0x00});
    KQ560SimStartTrace(0, 1);
    Avr(c.start);
    EXPECT_EQ(Read(c.during), c.duringReply);
    AdvanceToAfterTraced(c.busyUs - 50);
    EXPECT_TRUE(KQ560SimTargetBusy(0));
    KQ560SimAdvanceUs(100);
    EXPECT_FALSE(KQ560SimTargetBusy(0));
    EXPECT_EQ(Read(c.after), c.afterReply);
  }
}

// Instructions, each followed by a write cycle's time, then one read. EEPROM
// byte 1 holds 0x5A; EESAVE is unprogrammed. (The flash writer erases the chip
// first, so flash protection never shows in the product.)
TEST_F(AvrTarget, LockBitsLockWhatTheDataSheetsSay) {
  const Reply lb1 = {0xAC, 0xE0, 0, 0xFE}, lb2 = {0xAC, 0xE0, 0, 0xFD}, lb12 = {0xAC, 0xE0, 0, 0xFC};
  const Reply eeprom1 = {0xA0, 0, 1, 0}, lock = {0x58, 0, 0, 0}, erase = {0xAC, 0x80, 0, 0};
  const struct {
    const char* chip;
    std::vector<Reply> writes;
    Reply read;
    uint8_t expected;
  } cases[] = {
      {"MEGA48", {{0xAC, 0xE0, 0, 0x00}}, lock, 0xFC},                   // no boot section, no boot lock bits
      {"MEGA8", {lb1, {0xAC, 0xA0, 0, 0x00}}, {0x50, 0, 0, 0}, 0xE1},    // LB1 locks the fuses
      {"MEGA168", {lb2, {0xAC, 0xA8, 0, 0x00}}, {0x58, 8, 0, 0}, 0xDF},  // so does LB2
      {"MEGA88", {lb1, {0xAC, 0xA4, 0, 0x00}}, {0x50, 8, 0, 0}, 0xF9},   // the extended one too
      {"MEGA8", {lb1, {0xC0, 0, 1, 0}}, eeprom1, 0x5A},                  // mode 2: no programming,
      {"MEGA8", {lb2}, eeprom1, 0xFF},                                   // mode 3: no verification
      {"MEGA8", {lb12}, {0x30, 0, 0, 0}, 0x1E},  // the signature stays readable
      {"MEGA8", {lb12, erase}, lock, 0xFF},
      {"MEGA8", {lb12, erase}, eeprom1, 0xFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.chip << ", " << c.writes.size() << " writes, read " << int(c.read[0]));
    ASSERT_TRUE(KQ560SimAttach(0, c.chip));
    const uint8_t data = 0x5A;
    KQ560SimWriteMemory(0, KQ560SIM_EEPROM, 1, &data, 1);
    EnterAvr();
    for (const Reply& w : c.writes) {
      Avr(w);
      KQ560SimAdvanceMs(10);
    }
    EXPECT_EQ(Read(c.read), c.expected);
    EXPECT_TRUE(c.read != lock || KQ560SimGetConfig(0, KQ560SIM_LOCK) == c.expected) << "as stored";
  }
}

// The engine's fast-mode tests show the MSB-first stream; a fresh bridge is otherwise.
TEST_F(AvrTarget, HardwareSpiShiftsLsbFirstUntilSetOtherwise) {
  EnterAvr();
  uint8_t signature[4] = {0x0C, 0x00, 0x00, 0x00};  // 0x30 mirrored: Read Signature Byte 0
  ASSERT_EQ(KQ560StreamSPI4(0, 0, 4, signature), 1u);
  EXPECT_EQ(signature[3], 0x78) << "0x1E mirrored";
}

// An AT89S52 in programming mode, through the link's AT89S5x framing
// (clock phases of 1-2 us).
class At89Target : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    Enter(12000000);
    KQ560SimAdvanceMs(8);
    ASSERT_EQ(Read({0xAC, 0x53, 0x00}), 0xFF) << "listening 10 ms after reset";
    KQ560SimAdvanceMs(2);
    ASSERT_EQ(Read({0xAC, 0x53, 0x00}), 0x69);
  }
  static void Enter(uint32_t crystalHz) {
    DriveLinesLow(0);
    ASSERT_TRUE(KQ560SimAttach(0, "AT89S52"));
    ASSERT_TRUE(KQ560SimSetTargetClock(0, crystalHz));
    EnterAt89Programming(0);
  }
  static void Write(const Bytes& bytes) { EXPECT_EQ(At89WriteStream(0, uint32_t(bytes.size()), bytes.data()), 1u); }
  // The bytes written back to back, then one byte read.
  static uint8_t Read(const Bytes& bytes) {
    uint8_t reply = 0;
    EXPECT_EQ(At89WriteRead(0, uint32_t(bytes.size()), bytes.data(), 1, &reply), 1u);
    return reply;
  }
};

// Read Lock Bits with 0xAA in its third byte: a deaf chip echoes the 0xAA.
TEST_F(At89Target, WriteCyclesLoseWhatArrivesMeanwhile) {
  Write({0x40, 0x00, 0x10, 0x00, 0x40, 0x00, 0x11, 0x00, 0xAC, 0xE1, 0x00, 0x00});
  EXPECT_EQ(Read({0x20, 0x00, 0x10}), 0x00);
  EXPECT_EQ(Read({0x20, 0x00, 0x11}), 0xFF) << "a byte write in the last one's write cycle is lost";
  EXPECT_EQ(Read({0x24, 0x00, 0xAA}), 0x00) << "so is a lock write";
  EXPECT_EQ(Read({0xAC, 0xE1, 0x00, 0x00, 0x24, 0x00, 0xAA}), 0xAA) << "deaf while writing lock bits";
  EXPECT_EQ(Read({0x24, 0x00, 0xAA}), 0x04);
  KQ560SimStartTrace(0, 1);
  Write({0xAC, 0x80, 0x00, 0x00});
  AdvanceToAfterTraced(499000);
  EXPECT_EQ(Read({0x24, 0x00, 0xAA}), 0xAA) << "deaf for 500 ms while erasing";
  KQ560SimAdvanceMs(2);
  EXPECT_EQ(Read({0x24, 0x00, 0xAA}), 0x00) << "erased, lock bits cleared";
}

TEST_F(At89Target, TheSerialClockNeedsEightCrystalCyclesAPhase) {
  for (const uint32_t hz : {7000000u, 9000000u}) {
    SCOPED_TRACE(hz);
    Enter(hz);
    KQ560SimAdvanceMs(10);
    EXPECT_EQ(Read({0xAC, 0x53, 0x00}) == 0x69, hz == 9000000u);
  }
}

}  // namespace
