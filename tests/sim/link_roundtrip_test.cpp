// The link layer's transfers and line sequences against the simulator: the
// identification steps work, and the framing mistakes a real chip would not
// forgive make them fail.
#include <gtest/gtest.h>

#include "link/io_stream.h"
#include "link/line_sequences.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

class LinkRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    KQ560SimReset();
    ASSERT_EQ(KQ560OpenDevice(0), 0);
    ASSERT_TRUE(KQ560SimAttach(0, "MEGA16"));
  }
  void TearDown() override { KQ560SimReset(); }

  static Reply Transfer(Reply bytes, int fast, bool* ok = nullptr) {
    const uint32_t result = AvrTransfer(0, 4, bytes.data(), fast);
    if (ok) *ok = result != 0;
    return bytes;
  }
  static void EnterAvrWithLink() {
    ASSERT_EQ(EnterAvrProgramming(0), 1u);
    ASSERT_EQ(PulseAvrReset(0), 1u);
    KQ560SimAdvanceMs(200);
  }
};

TEST_F(LinkRoundTrip, AvrSignatureBitBangedAndFast) {
  EnterAvrWithLink();
  bool ok = false;
  EXPECT_EQ(Transfer({0xAC, 0x53, 0xFF, 0x00}, 0, &ok)[2], 0x53);
  ASSERT_TRUE(ok);
  const uint8_t expected[3] = {0x1E, 0x94, 0x03};
  for (uint8_t k = 0; k < 3; ++k) EXPECT_EQ(Transfer({0x30, 0x00, k, 0x00}, 0)[3], expected[k]);

  ASSERT_EQ(KQ560SetStream(0, kKq560StreamSpiMsbFirst), 1u);
  for (uint8_t k = 0; k < 3; ++k) EXPECT_EQ(Transfer({0x30, 0x00, k, 0x00}, 1)[3], expected[k]);
}

TEST_F(LinkRoundTrip, FastPageLoadWriteAndReadBack) {
  EnterAvrWithLink();
  ASSERT_EQ(Transfer({0xAC, 0x53, 0xFF, 0x00}, 0)[2], 0x53);
  ASSERT_EQ(KQ560SetStream(0, kKq560StreamSpiMsbFirst), 1u);
  Transfer({0xAC, 0x80, 0xFF, 0x00}, 0);
  KQ560SimAdvanceMs(50);
  uint8_t batch[8 * 64];
  for (uint32_t j = 0; j < 64; ++j) {
    const uint8_t load[8] = {0x40, 0, static_cast<uint8_t>(j), static_cast<uint8_t>(j),
                             0x48, 0, static_cast<uint8_t>(j), static_cast<uint8_t>(~j)};
    std::copy(load, load + 8, batch + 8 * j);
  }
  ASSERT_EQ(AvrTransfer(0, sizeof batch, batch, 1), 1u);
  Transfer({0x4C, 0x00, 0x40, 0x00}, 1);  // page 1 of 128-byte pages
  int polls = 0;
  while (Transfer({0x20, 0x00, 0x40, 0x00}, 1)[3] == 0xFF && polls < 101) ++polls;
  EXPECT_LT(polls, 101);
  for (uint32_t j = 0; j < 64; ++j) {
    const uint8_t read[8] = {0x20, 0, static_cast<uint8_t>(0x40 + j), 0, 0x28, 0, static_cast<uint8_t>(0x40 + j), 0};
    std::copy(read, read + 8, batch + 8 * j);
  }
  ASSERT_EQ(AvrTransfer(0, sizeof batch, batch, 1), 1u);
  for (uint32_t j = 0; j < 64; ++j) {
    EXPECT_EQ(batch[8 * j + 3], j);
    EXPECT_EQ(batch[8 * j + 7], static_cast<uint8_t>(~j));
  }
}

TEST_F(LinkRoundTrip, MissingResetPulseOrWaitFailsIdentification) {
  ASSERT_EQ(EnterAvrProgramming(0), 1u);
  KQ560SimAdvanceMs(200);
  EXPECT_NE(Transfer({0xAC, 0x53, 0xFF, 0x00}, 0)[2], 0x53) << "no reset pulse";

  ASSERT_EQ(PulseAvrReset(0), 1u);
  EXPECT_NE(Transfer({0xAC, 0x53, 0xFF, 0x00}, 0)[2], 0x53) << "no wait after the pulse";
}

TEST_F(LinkRoundTrip, ResetSequenceReleasesTheTarget) {
  EnterAvrWithLink();
  ASSERT_EQ(Transfer({0xAC, 0x53, 0xFF, 0x00}, 0)[2], 0x53);
  ASSERT_EQ(ResetAvrTarget(0), 1u);
  EXPECT_EQ(SamplePins() & 0x2A, 0x2A) << "nothing driven any more";
  EXPECT_EQ(Transfer({0x30, 0x00, 0x00, 0x00}, 0)[3], 0xFF) << "the target runs; it does not answer";
  EnterAvrWithLink();
  EXPECT_EQ(Transfer({0xAC, 0x53, 0xFF, 0x00}, 0)[2], 0x53);
}

TEST_F(LinkRoundTrip, WrongClockEdgeFails) {
  EnterAvrWithLink();
  // The link's bit with the clock polarity inverted: data goes out with the
  // rising edge instead of before it.
  Bytes b;
  for (uint8_t byte : {0xAC, 0x53, 0xFF, 0x00}) {
    for (int half = 0; half < 2; ++half) {
      b.push_back(0xAB);
      uint8_t d = 0;
      for (int i = 0; i < 4; ++i) {
        d = (byte >> (7 - 4 * half - i)) & 1 ? 0x20 : 0x00;
        b.insert(b.end(), {static_cast<uint8_t>(0x88 | d), 0xC4, static_cast<uint8_t>(0x80 | d), 0x00, 0xC4});
      }
      b.push_back(0x20);
      b.resize((b.size() + 31) / 32 * 32, 0);
    }
  }
  uint32_t got = 0;
  ASSERT_EQ(KQ560WriteRead(0, static_cast<uint32_t>(b.size()), b.data(), 4, 8, &got, b.data()), 1u);
  // The chip took every bit one edge late: Programming Enable never arrived.
  EXPECT_NE(Transfer({0x30, 0x00, 0x00, 0x00}, 0)[3], 0x1E);
  EnterAvrWithLink();
  ASSERT_EQ(Transfer({0xAC, 0x53, 0xFF, 0x00}, 0)[2], 0x53);
  EXPECT_EQ(Transfer({0x30, 0x00, 0x00, 0x00}, 0)[3], 0x1E) << "the same target with the right edge";
}

TEST_F(LinkRoundTrip, OffBoundaryPacketFailsTheCall) {
  EnterAvrWithLink();
  Bytes b = AvrPackets({0xAC, 0x53, 0xFF, 0x00});
  b.erase(b.begin() + 23, b.begin() + 32);  // second packet straight after the first one's end byte
  uint32_t got = 0;
  EXPECT_EQ(KQ560WriteRead(0, static_cast<uint32_t>(b.size()), b.data(), 4, 8, &got, b.data()), 0u);
  EXPECT_NE(Diagnostic().find("offset 32"), std::string::npos) << Diagnostic();
  EXPECT_EQ(Transfer({0xAC, 0x53, 0xFF, 0x00}, 0)[2], 0x53) << "nothing of the bad call reached the target";
}

TEST_F(LinkRoundTrip, At89SignatureAndPageRoundTrip) {
  ASSERT_TRUE(KQ560SimAttach(0, "AT89S52"));
  ASSERT_EQ(DriveLinesLow(0), 1u);
  KQ560SimAdvanceMs(1);
  ASSERT_EQ(EnterAt89Programming(0), 1u);
  KQ560SimAdvanceMs(100);
  uint8_t buffer[256] = {0xAC, 0x53, 0x00};
  ASSERT_EQ(At89WriteRead(0, 3, buffer, 1, buffer), 1u);
  EXPECT_EQ(buffer[0], 0x69);
  KQ560SimAdvanceMs(20);
  const uint8_t expected[3] = {0x1E, 0x52, 0x06};
  for (uint8_t k = 0; k < 3; ++k) {
    uint8_t read[3] = {0x28, k, 0x00};
    ASSERT_EQ(At89WriteRead(0, 3, read, 1, read), 1u);
    EXPECT_EQ(read[0], expected[k]);
  }

  const uint8_t erase[4] = {0xAC, 0x80, 0x00, 0x00};
  ASSERT_EQ(At89WriteStream(0, 4, erase), 1u);
  KQ560SimAdvanceMs(500);
  uint8_t page[258] = {0x50, 0x05};
  for (int i = 0; i < 256; ++i) page[2 + i] = static_cast<uint8_t>(i * 3 + 1);
  ASSERT_EQ(At89WriteStream(0, 258, page), 1u);
  uint8_t back[256] = {0x30, 0x05};
  ASSERT_EQ(At89WriteRead(0, 2, back, 256, back), 1u);
  EXPECT_TRUE(std::equal(back, back + 256, page + 2));
}

TEST_F(LinkRoundTrip, At89WithoutResetHighDoesNotAnswer) {
  ASSERT_TRUE(KQ560SimAttach(0, "AT89S52"));
  ASSERT_EQ(EnterAvrProgramming(0), 1u);  // the wrong family's entry: reset low
  KQ560SimAdvanceMs(100);
  uint8_t avr[4] = {0xAC, 0x53, 0x00, 0x00};
  ASSERT_EQ(AvrTransfer(0, 4, avr, 0), 1u);
  EXPECT_EQ(avr[3], 0xFF);
}

}  // namespace
