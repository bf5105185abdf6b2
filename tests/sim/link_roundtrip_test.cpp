// The link layer's transfers and line sequences against the simulator: the
// identification steps work, and the framing mistakes a real chip would not
// forgive make them fail.
#include "link/io_stream.h"
#include "link/line_sequences.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

const Reply kProgrammingEnable = {0xAC, 0x53, 0xFF, 0x00};

class LinkRoundTrip : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(KQ560SimAttach(0, "MEGA16"));
  }
  // The reply bytes, or all zero if the transfer failed.
  static Reply Transfer(Reply bytes, int fast = 0) { return AvrTransfer(0, 4, bytes.data(), fast) ? bytes : Reply{}; }
  static void EnterAvrWithLink() {
    ASSERT_EQ(EnterAvrProgramming(0), 1u);
    ASSERT_EQ(PulseAvrReset(0), 1u);
    KQ560SimAdvanceMs(200);
  }
};

TEST_F(LinkRoundTrip, AvrSignatureBitBangedAndFast) {
  EnterAvrWithLink();
  EXPECT_EQ(Transfer(kProgrammingEnable)[2], 0x53);
  const uint8_t expected[3] = {0x1E, 0x94, 0x03};
  for (uint8_t k = 0; k < 3; ++k) EXPECT_EQ(Transfer({0x30, 0x00, k, 0x00})[3], expected[k]);
  ASSERT_EQ(KQ560SetStream(0, kKq560StreamSpiMsbFirst), 1u);
  for (uint8_t k = 0; k < 3; ++k) EXPECT_EQ(Transfer({0x30, 0x00, k, 0x00}, 1)[3], expected[k]);
}

TEST_F(LinkRoundTrip, MissingResetPulseFailsIdentification) {
  ASSERT_EQ(EnterAvrProgramming(0), 1u);
  KQ560SimAdvanceMs(200);
  EXPECT_NE(Transfer(kProgrammingEnable)[2], 0x53);
}

TEST_F(LinkRoundTrip, WrongClockEdgeOrOffBoundaryPacketFails) {
  EnterAvrWithLink();
  ASSERT_TRUE(WriteRead(BitPackets({0xAC, 0x53, 0xFF, 0x00}, 0, 0, true), 4, 8));
  // Every bit was taken one edge late: Programming Enable never arrived.
  EXPECT_NE(Transfer({0x30, 0x00, 0x00, 0x00})[3], 0x1E);

  Bytes b = BitPackets({0xAC, 0x53, 0xFF, 0x00});
  b.erase(b.begin() + 23, b.begin() + 32);  // second packet straight after the first one's end byte
  EXPECT_FALSE(WriteRead(b, 4, 8));
  EXPECT_NE(Diagnostic().find("(KQ560WriteRead, slot 0): packet at offset 32 starts with"), std::string::npos)
      << Diagnostic();

  // The same target with the right framing; nothing of the refused call reached it.
  ASSERT_EQ(Transfer(kProgrammingEnable)[2], 0x53);
  EXPECT_EQ(Transfer({0x30, 0x00, 0x00, 0x00})[3], 0x1E);
}

TEST_F(LinkRoundTrip, At89Signature) {
  ASSERT_TRUE(KQ560SimAttach(0, "AT89S52"));
  ASSERT_EQ(DriveLinesLow(0), 1u);
  KQ560SimAdvanceMs(1);
  ASSERT_EQ(EnterAt89Programming(0), 1u);
  KQ560SimAdvanceMs(100);
  // Programming Enable, then the three signature bytes.
  const uint8_t instructions[4][3] = {{0xAC, 0x53, 0x00}, {0x28, 0x00, 0x00}, {0x28, 0x01, 0x00}, {0x28, 0x02, 0x00}};
  const uint8_t expected[4] = {0x69, 0x1E, 0x52, 0x06};
  for (int k = 0; k < 4; ++k) {
    uint8_t reply = 0;
    ASSERT_EQ(At89WriteRead(0, 3, instructions[k], 1, &reply), 1u);
    EXPECT_EQ(reply, expected[k]);
  }
}

}  // namespace
