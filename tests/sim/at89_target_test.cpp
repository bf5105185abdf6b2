// The virtual AT89S52 on the simulator's lines, driven with hand-built packets.
#include <algorithm>

#include "sim_test_support.h"

using namespace simtest;

namespace {

constexpr uint8_t kResetHigh = 0x02;

class At89Target : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(KQ560SimAttach(0, "AT89S52"));
    // Reset driven high, clock and data low: the chip listens 10 ms later.
    SendLine({0x82, 0x6A, 0xE0});
    KQ560SimAdvanceMs(8);
    ASSERT_EQ(Instruction(0xAC, 0x53, 0x00), 0xFF);
    KQ560SimAdvanceMs(2);
    ASSERT_EQ(Instruction(0xAC, 0x53, 0x00), 0x69);
  }
  // A four-byte instruction; the reply byte 3.
  static uint8_t Instruction(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3 = 0x00) {
    return BitBang({b0, b1, b2, b3}, kResetHigh)[3];
  }
  static Bytes PageMode(uint8_t op, uint8_t block, const Bytes& data, int waits = 0) {
    Bytes message = {op, block};
    message.insert(message.end(), data.begin(), data.end());
    const Bytes reply = BitBang(message, kResetHigh, waits);
    return Bytes(reply.begin() + 2, reply.end());
  }
  static Bytes ReadBlock(uint8_t block) { return PageMode(0x30, block, Bytes(256, 0x00)); }
  // 630 us after each byte keeps up with the write cycles.
  static void WriteBlock(uint8_t block, const Bytes& data) { PageMode(0x50, block, data, 5); }
};

TEST_F(At89Target, PageModeWritesAndReadsWholeBlocks) {
  const Bytes data = Pattern(256, 0x5A);
  WriteBlock(3, data);
  EXPECT_EQ(ReadBlock(3), data);
  WriteBlock(3, Bytes(256, 0x0F));
  EXPECT_EQ(ReadBlock(3)[5], data[5] & 0x0F) << "bytes are ANDed into flash";
}

TEST_F(At89Target, DataByteArrivingDuringAWriteCycleIsLost) {
  PageMode(0x50, 0, Bytes(256, 0x00));  // no pause after each byte
  const Bytes back = ReadBlock(0);
  EXPECT_EQ(back[0], 0x00) << "the first byte finds the chip idle";
  EXPECT_EQ(back[1], 0xFF);
  EXPECT_LT(std::count(back.begin(), back.end(), 0x00), 64);
}

TEST_F(At89Target, LockLevelsProtectTheFlashUntilAChipErase) {
  const Bytes data = Pattern(256, 7);
  KQ560SimWriteMemory(0, KQ560SIM_FLASH, 0, data.data(), 256);
  Instruction(0xAC, 0xE0, 0x00);
  EXPECT_EQ(Instruction(0x24, 0x00, 0x00), 0x00) << "level 0 programs nothing";
  Instruction(0xAC, 0xE1, 0x00);
  EXPECT_EQ(Instruction(0x24, 0x00, 0x00), 0x04) << "LB1 at bit 2";
  WriteBlock(1, Bytes(256, 0x00));
  EXPECT_EQ(ReadBlock(1), Bytes(256, 0xFF)) << "level 1: no programming";
  EXPECT_EQ(ReadBlock(0), data) << "but verification";
  Instruction(0xAC, 0xE2, 0x00);
  EXPECT_EQ(Instruction(0x24, 0x00, 0x00), 0x0C) << "bits can only be programmed";
  EXPECT_EQ(ReadBlock(0), Bytes(256, 0xFF)) << "level 2: no verification";
  Instruction(0xAC, 0xE3, 0x00);
  EXPECT_EQ(KQ560SimGetConfig(0, KQ560SIM_LOCK), 0x1C);

  // Chip erase clears flash and lock bits, and the chip ignores everything for 300 ms.
  Instruction(0xAC, 0x80, 0x00);
  WriteBlock(1, data);
  KQ560SimAdvanceMs(300);
  EXPECT_EQ(Instruction(0x24, 0x00, 0x00), 0x00);
  EXPECT_EQ(ReadBlock(0), Bytes(256, 0xFF));
  EXPECT_EQ(ReadBlock(1), Bytes(256, 0xFF)) << "the block sent during the erase was lost";
}

}  // namespace
