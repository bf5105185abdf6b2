// The virtual AT89S51/52 on the simulator's lines, driven with hand-built packets.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_test_support.h"

using namespace simtest;

namespace {

class At89Target : public ::testing::Test {
 protected:
  void SetUp() override {
    KQ560SimReset();
    ASSERT_EQ(KQ560OpenDevice(0), 0);
    ASSERT_TRUE(KQ560SimAttach(0, "AT89S52"));
  }
  void TearDown() override { KQ560SimReset(); }

  static void Enable() {
    EnterAt89();
    ASSERT_EQ(At89Read({0xAC, 0x53, 0x00}, 1), Bytes{0x69});
  }
  static void Erase() {
    ASSERT_TRUE(At89Write({0xAC, 0x80, 0x00, 0x00}, false));
    KQ560SimAdvanceMs(500);
  }
  static Bytes Block(uint8_t seed) {
    Bytes b(256);
    for (int i = 0; i < 256; ++i) b[i] = static_cast<uint8_t>(seed ^ (i * 13));
    return b;
  }
  static bool WriteBlock(uint8_t block, const Bytes& data, bool pageWaits = true) {
    Bytes message = {0x50, block};
    message.insert(message.end(), data.begin(), data.end());
    return At89Write(message, pageWaits);
  }
};

TEST_F(At89Target, ProgrammingEnableAndSignature) {
  Enable();
  EXPECT_EQ(At89Read({0x28, 0x00, 0x00}, 1), Bytes{0x1E});
  EXPECT_EQ(At89Read({0x28, 0x01, 0x00}, 1), Bytes{0x52});
  EXPECT_EQ(At89Read({0x28, 0x02, 0x00}, 1), Bytes{0x06});
  ASSERT_TRUE(KQ560SimAttach(0, "AT89S51"));
  Enable();
  EXPECT_EQ(At89Read({0x28, 0x01, 0x00}, 1), Bytes{0x51});
}

TEST_F(At89Target, AnswersOnlyWithResetHighAndAfterStartUp) {
  SendLine({0x80, 0x6A, 0xE0});  // reset low is the AVR level, not this family's
  KQ560SimAdvanceMs(100);
  EXPECT_EQ(Avr(0xAC, 0x53, 0x00, 0x00), (Reply{0xFF, 0xFF, 0xFF, 0xFF}));
  SendLine({0x82, 0x6A, 0xE0});
  EXPECT_EQ(At89Read({0xAC, 0x53, 0x00}, 1), Bytes{0xFF}) << "not yet awake";
  KQ560SimAdvanceMs(10);
  EXPECT_EQ(At89Read({0xAC, 0x53, 0x00}, 1), Bytes{0x69});
}

TEST_F(At89Target, PageModeWriteAndReadBack) {
  Enable();
  Erase();
  const Bytes data = Block(0x5A);
  ASSERT_TRUE(WriteBlock(3, data));
  EXPECT_EQ(At89Read({0x30, 0x03}, 256), data);
  Bytes stored(256);
  ASSERT_EQ(KQ560SimReadMemory(0, KQ560SIM_FLASH, 3 * 256, stored.data(), 256), 256u);
  EXPECT_EQ(stored, data);
  EXPECT_EQ(At89Read({0x30, 0x02}, 256), Bytes(256, 0xFF));
}

TEST_F(At89Target, DataByteArrivingDuringAWriteCycleIsLost) {
  Enable();
  Erase();
  Bytes data(256, 0x00);
  ASSERT_TRUE(WriteBlock(0, data, false));  // no 630 us after each byte
  const Bytes back = At89Read({0x30, 0x00}, 256);
  ASSERT_EQ(back.size(), 256u);
  EXPECT_EQ(back[0], 0x00) << "the first byte finds the chip idle";
  EXPECT_EQ(back[1], 0xFF);
  EXPECT_LT(std::count(back.begin(), back.end(), 0x00), 30);
}

TEST_F(At89Target, ChipEraseKeepsTheChipDeafForItsDuration) {
  Enable();
  const Bytes data = Block(1);
  KQ560SimWriteMemory(0, KQ560SIM_FLASH, 0, data.data(), 256);
  ASSERT_TRUE(At89Write({0xAC, 0x80, 0x00, 0x00}, false));
  ASSERT_TRUE(WriteBlock(1, data));  // during the erase: lost
  KQ560SimAdvanceMs(300);
  EXPECT_EQ(At89Read({0x30, 0x00}, 256), Bytes(256, 0xFF));
  EXPECT_EQ(At89Read({0x30, 0x01}, 256), Bytes(256, 0xFF));
}

TEST_F(At89Target, LockLevelsProtectTheFlash) {
  Enable();
  EXPECT_EQ(At89Read({0x24, 0x00, 0x00}, 1), Bytes{0x00});
  const Bytes data = Block(7);
  KQ560SimWriteMemory(0, KQ560SIM_FLASH, 0, data.data(), 256);

  ASSERT_TRUE(At89Write({0xAC, 0xE0, 0x00, 0x00}, false));  // level 0 programs nothing
  ASSERT_TRUE(At89Write({0xAC, 0xE1, 0x00, 0x00}, false));
  EXPECT_EQ(At89Read({0x24, 0x00, 0x00}, 1), Bytes{0x04}) << "LB1 at bit 2";
  ASSERT_TRUE(WriteBlock(1, Bytes(256, 0x00)));
  EXPECT_EQ(At89Read({0x30, 0x01}, 256), Bytes(256, 0xFF)) << "level 1: no programming";
  EXPECT_EQ(At89Read({0x30, 0x00}, 256), data) << "but verification";

  ASSERT_TRUE(At89Write({0xAC, 0xE2, 0x00, 0x00}, false));
  EXPECT_EQ(At89Read({0x24, 0x00, 0x00}, 1), Bytes{0x0C});
  EXPECT_EQ(At89Read({0x30, 0x00}, 256), Bytes(256, 0xFF)) << "level 2: no verification";
  ASSERT_TRUE(At89Write({0xAC, 0xE3, 0x00, 0x00}, false));
  EXPECT_EQ(KQ560SimGetConfig(0, KQ560SIM_LOCK), 0x1C);

  Erase();
  EXPECT_EQ(At89Read({0x24, 0x00, 0x00}, 1), Bytes{0x00}) << "erase clears the lock bits";
}

}  // namespace
