#include "link/io_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/link/fake_kq560.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSlot = 5;

// One packet of a recorded call, up to and including its end byte.
Bytes PacketBody(const Kq560Call& call, size_t index) {
  const size_t start = index * 32;
  Bytes out;
  for (size_t i = start; i < start + 32 && i < call.bytes.size(); ++i) {
    out.push_back(call.bytes[i]);
    if (call.bytes[i] == 0x20) break;
  }
  return out;
}

// What a packet does to the lines, read as the bridge would run it.
struct PacketTrace {
  std::vector<int> bitsOnRise;  // data-out level at each rising clock edge
  int samples = 0;
  int samplesWithClockHigh = 0;
  int waitMicroseconds = 0;
  bool resetAlwaysHigh = true;
  bool resetAlwaysLow = true;
  bool directionsTouched = false;
  bool endsLow = false;  // clock low after the last command
  size_t length = 0;     // up to and including the end byte; 0 when there is none

  uint8_t Byte() const {
    uint8_t b = 0;
    for (int bit : bitsOnRise) b = static_cast<uint8_t>((b << 1) | bit);
    return b;
  }
};

PacketTrace Trace(const uint8_t* packet) {
  PacketTrace t;
  EXPECT_EQ(packet[0], kIoStart);
  uint8_t level = 0;
  for (size_t i = 1; i < 32; ++i) {
    const uint8_t b = packet[i];
    switch (ClassifyIoCommand(b)) {
      case IoCommand::End:
        t.length = i + 1;
        t.endsLow = !(level & kPinClock);
        return t;
      case IoCommand::Sample:
        ++t.samples;
        if (level & kPinClock) ++t.samplesWithClockHigh;
        break;
      case IoCommand::Wait:
        t.waitMicroseconds += b & 0x3F;
        break;
      case IoCommand::Direction:
        t.directionsTouched = true;
        break;
      case IoCommand::Output: {
        const uint8_t next = b & 0x3F;
        if (!(level & kPinClock) && (next & kPinClock)) t.bitsOnRise.push_back((next & kPinDataOut) ? 1 : 0);
        if (next & kPinReset) t.resetAlwaysLow = false;
        else t.resetAlwaysHigh = false;
        level = next;
        break;
      }
      case IoCommand::Unknown:
        ADD_FAILURE() << "unknown command byte " << int(b) << " at " << i;
        return t;
    }
  }
  return t;
}

bool FillerIsZero(const Kq560Call& call) {
  for (size_t start = 0; start < call.bytes.size(); start += 32) {
    const size_t end = PacketBody(call, start / 32).size();
    for (size_t i = start + end; i < start + 32 && i < call.bytes.size(); ++i) {
      if (call.bytes[i] != 0) return false;
    }
  }
  return true;
}

class IoStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFake(); }
};

// --- AvrTransfer -----------------------------------------------------------

using AvrTransferTest = IoStreamTest;

TEST_F(AvrTransferTest, ProgrammingEnableInstructionGoesOutAsOneCallOfEightPackets) {
  uint8_t instruction[4] = {0xAC, 0x53, 0x00, 0x00};
  ASSERT_NE(AvrTransfer(kSlot, 4, instruction, 0), 0u);

  ASSERT_EQ(Fake().calls.size(), 1u);
  const Kq560Call& call = Fake().calls[0];
  EXPECT_EQ(call.op, Kq560Op::WriteRead);
  EXPECT_EQ(call.slot, kSlot);
  EXPECT_EQ(call.bytes.size(), 256u);
  EXPECT_EQ(call.readStep, 4u);
  EXPECT_EQ(call.readTimes, 8u);
  EXPECT_TRUE(call.readIntoWriteBuffer);

  const Bytes first = {0xAB, 0xA0, 0xC4, 0xA8, 0x00, 0xC4, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0xA0,
                       0xC4, 0xA8, 0x00, 0xC4, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0x80, 0x20};
  const Bytes second = {0xAB, 0xA0, 0xC4, 0xA8, 0x00, 0xC4, 0xA0, 0xC4, 0xA8, 0x00, 0xC4, 0x80,
                        0xC4, 0x88, 0x00, 0xC4, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0x80, 0x20};
  EXPECT_EQ(PacketBody(call, 0), first);
  EXPECT_EQ(PacketBody(call, 1), second);
  // 0x53's low nibble ends on a 1: the closing byte keeps the data line high.
  const Bytes fourth = {0xAB, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0xA0,
                        0xC4, 0xA8, 0x00, 0xC4, 0xA0, 0xC4, 0xA8, 0x00, 0xC4, 0xA0, 0x20};
  EXPECT_EQ(PacketBody(call, 3), fourth);
  EXPECT_TRUE(FillerIsZero(call));

  // Every packet: 23 bytes at a 32-byte boundary, four bits, four samples on
  // the rising edge, 8 us of waits per bit, reset low throughout.
  const uint8_t sent[4] = {0xAC, 0x53, 0x00, 0x00};
  for (size_t p = 0; p < 8; ++p) {
    SCOPED_TRACE(p);
    const PacketTrace t = Trace(call.bytes.data() + 32 * p);
    EXPECT_EQ(t.length, 23u);
    EXPECT_EQ(t.samples, 4);
    EXPECT_EQ(t.samplesWithClockHigh, 4);
    EXPECT_EQ(t.waitMicroseconds, 32);
    EXPECT_TRUE(t.resetAlwaysLow);
    EXPECT_TRUE(t.endsLow);
    EXPECT_FALSE(t.directionsTouched);
    const uint8_t nibble = (p % 2 == 0) ? sent[p / 2] >> 4 : sent[p / 2] & 0x0F;
    EXPECT_EQ(t.Byte(), nibble);
  }
}

TEST_F(AvrTransferTest, RepliesReplaceTheSentBytesMostSignificantBitFirst) {
  Fake().QueueReplyBytes({0x00, 0x53, 0xAC, 0xFF});
  uint8_t buffer[4] = {0xAC, 0x53, 0x00, 0x00};
  ASSERT_NE(AvrTransfer(kSlot, 4, buffer, 0), 0u);
  // The fake answers 0x7F for a low data line and 0x80 for a high one.
  EXPECT_EQ(buffer[0], 0x00);
  EXPECT_EQ(buffer[1], 0x53);
  EXPECT_EQ(buffer[2], 0xAC);
  EXPECT_EQ(buffer[3], 0xFF);
}

TEST_F(AvrTransferTest, EightBytesFillThePacketBufferInOneCall) {
  uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Fake().QueueReplyBytes({8, 7, 6, 5, 4, 3, 2, 1});
  ASSERT_NE(AvrTransfer(kSlot, 8, buffer, 0), 0u);
  ASSERT_EQ(Fake().calls.size(), 1u);
  EXPECT_EQ(Fake().calls[0].bytes.size(), 512u);
  EXPECT_EQ(Fake().calls[0].readTimes, 16u);
  const uint8_t expected[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  EXPECT_EQ(0, std::memcmp(buffer, expected, 8));
}

TEST_F(AvrTransferTest, BitBangedLengthsOutsideOneToEightFailWithoutACall) {
  uint8_t buffer[16] = {};
  EXPECT_EQ(AvrTransfer(kSlot, 0, buffer, 0), 0u);
  EXPECT_EQ(AvrTransfer(kSlot, 9, buffer, 0), 0u);
  EXPECT_EQ(AvrTransfer(kSlot, 0xFFFFFFFFu, buffer, 0), 0u);
  EXPECT_TRUE(Fake().calls.empty());
}

TEST_F(AvrTransferTest, ShortReplyFailsAndLeavesTheBufferAlone) {
  Fake().shortBy = 1;  // 31 samples for a 4-byte instruction
  Fake().QueueReplyBytes({0x12, 0x34, 0x56, 0x78});
  uint8_t buffer[4] = {0x30, 0x00, 0x01, 0x00};
  EXPECT_EQ(AvrTransfer(kSlot, 4, buffer, 0), 0u);
  EXPECT_EQ(Fake().calls.size(), 1u);
  const uint8_t unchanged[4] = {0x30, 0x00, 0x01, 0x00};
  EXPECT_EQ(0, std::memcmp(buffer, unchanged, 4));
}

TEST_F(AvrTransferTest, ZeroFromTheLibraryFails) {
  Fake().dataResults[0] = 0;
  uint8_t buffer[4] = {0x30, 0x00, 0x00, 0x00};
  EXPECT_EQ(AvrTransfer(kSlot, 4, buffer, 0), 0u);
}

TEST_F(AvrTransferTest, FastFlagHandsTheWholeRunToTheHardwareStream) {
  uint8_t page[256];
  for (int i = 0; i < 256; ++i) page[i] = static_cast<uint8_t>(i);
  Fake().QueueReplyBytes(Bytes(256, 0x5A));
  Fake().dataResults[0] = 7;
  EXPECT_EQ(AvrTransfer(kSlot, 256, page, 1), 7u);  // the library's result, as it is

  ASSERT_EQ(Fake().calls.size(), 1u);
  const Kq560Call& call = Fake().calls[0];
  EXPECT_EQ(call.op, Kq560Op::StreamSpi);
  EXPECT_EQ(call.slot, kSlot);
  EXPECT_EQ(call.arg, 0u);  // chip select
  ASSERT_EQ(call.bytes.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(call.bytes[i], i);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(page[i], 0x5A);
}

TEST_F(AvrTransferTest, FastFailureIsPassedOn) {
  Fake().dataResults[0] = 0;
  uint8_t buffer[4] = {0x20, 0, 0, 0};
  EXPECT_EQ(AvrTransfer(kSlot, 4, buffer, 1), 0u);
  EXPECT_EQ(Fake().CallsOf(Kq560Op::WriteRead).size(), 0u);
}

// --- At89WriteStream -------------------------------------------------------

using At89WriteStreamTest = IoStreamTest;

TEST_F(At89WriteStreamTest, OneByteIsOnePacketWithResetHigh) {
  const uint8_t data[1] = {0xAC};
  ASSERT_NE(At89WriteStream(kSlot, 1, data), 0u);
  ASSERT_EQ(Fake().calls.size(), 1u);
  const Kq560Call& call = Fake().calls[0];
  EXPECT_EQ(call.op, Kq560Op::WriteData);
  EXPECT_EQ(call.slot, kSlot);
  EXPECT_EQ(call.bytes.size(), 32u);
  const Bytes expected = {0xAB, 0xA2, 0xAA, 0x82, 0x8A, 0xA2, 0xAA, 0x82, 0x8A, 0xA2,
                          0xAA, 0xA2, 0xAA, 0x82, 0x8A, 0x82, 0x8A, 0x82, 0x20};
  EXPECT_EQ(PacketBody(call, 0), expected);
  EXPECT_TRUE(FillerIsZero(call));
}

TEST_F(At89WriteStreamTest, PageWriteWaitsAfterEveryByteIncludingTheInstruction) {
  uint8_t data[258];
  data[0] = 0x50;
  data[1] = 0x07;
  for (int i = 0; i < 256; ++i) data[2 + i] = static_cast<uint8_t>(255 - i);
  ASSERT_NE(At89WriteStream(kSlot, 258, data), 0u);

  const auto calls = Fake().CallsOf(Kq560Op::WriteData);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].bytes.size(), 4096u);
  EXPECT_EQ(calls[1].bytes.size(), 4096u);
  EXPECT_EQ(calls[2].bytes.size(), 64u);

  size_t k = 0;
  for (const Kq560Call& call : calls) {
    EXPECT_TRUE(FillerIsZero(call));
    for (size_t p = 0; p < call.bytes.size() / 32; ++p, ++k) {
      SCOPED_TRACE(k);
      const PacketTrace t = Trace(call.bytes.data() + 32 * p);
      EXPECT_EQ(t.length, 29u);
      EXPECT_EQ(t.Byte(), data[k]);
      EXPECT_EQ(t.waitMicroseconds, 630);
      EXPECT_EQ(t.samples, 0);
      EXPECT_TRUE(t.resetAlwaysHigh);
      EXPECT_TRUE(t.endsLow);
      // The ten waits come after the byte's last clock edge.
      const Bytes body = PacketBody(call, p);
      EXPECT_EQ(Bytes(body.begin() + 18, body.begin() + 28), Bytes(10, 0xFF));
    }
  }
  EXPECT_EQ(k, 258u);
}

TEST_F(At89WriteStreamTest, LaterPageWriteBytesDoNotSetTheFlag) {
  const uint8_t data[4] = {0x4C, 0x50, 0x50, 0x50};
  ASSERT_NE(At89WriteStream(kSlot, 4, data), 0u);
  ASSERT_EQ(Fake().calls.size(), 1u);
  for (size_t p = 0; p < 4; ++p) {
    const PacketTrace t = Trace(Fake().calls[0].bytes.data() + 32 * p);
    EXPECT_EQ(t.length, 19u);
    EXPECT_EQ(t.waitMicroseconds, 0);
    EXPECT_EQ(t.Byte(), data[p]);
  }
}

TEST_F(At89WriteStreamTest, OneHundredTwentyNineBytesTakeTwoCalls) {
  const Bytes data(129, 0x3C);
  ASSERT_NE(At89WriteStream(kSlot, 129, data.data()), 0u);
  const auto calls = Fake().CallsOf(Kq560Op::WriteData);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].bytes.size(), 4096u);
  EXPECT_EQ(calls[1].bytes.size(), 32u);
}

TEST_F(At89WriteStreamTest, NothingToSendSucceedsWithoutACall) {
  EXPECT_NE(At89WriteStream(kSlot, 0, nullptr), 0u);
  EXPECT_TRUE(Fake().calls.empty());
}

TEST_F(At89WriteStreamTest, FirstFailedChunkEndsTheStream) {
  const Bytes data(400, 0x11);
  Fake().dataResults[1] = 0;
  EXPECT_EQ(At89WriteStream(kSlot, 400, data.data()), 0u);
  EXPECT_EQ(Fake().calls.size(), 2u);

  ResetFake();
  Fake().dataResults[0] = 0;
  EXPECT_EQ(At89WriteStream(kSlot, 400, data.data()), 0u);
  EXPECT_EQ(Fake().calls.size(), 1u);
}

// --- At89WriteRead ---------------------------------------------------------

using At89WriteReadTest = IoStreamTest;

TEST_F(At89WriteReadTest, ReadPacketFollowsTheWritePackets) {
  // Read signature byte: 0x28, address high, address low, then one byte back.
  const uint8_t instruction[3] = {0x28, 0x01, 0x00};
  uint8_t reply = 0;
  Fake().QueueReplyBytes({0x51});
  ASSERT_NE(At89WriteRead(kSlot, 3, instruction, 1, &reply), 0u);
  EXPECT_EQ(reply, 0x51);

  ASSERT_EQ(Fake().calls.size(), 1u);
  const Kq560Call& call = Fake().calls[0];
  EXPECT_EQ(call.op, Kq560Op::WriteRead);
  EXPECT_EQ(call.bytes.size(), 128u);
  EXPECT_EQ(call.readStep, 8u);
  EXPECT_EQ(call.readTimes, 1u);
  EXPECT_TRUE(call.readIntoWriteBuffer);
  EXPECT_TRUE(FillerIsZero(call));
  for (size_t p = 0; p < 3; ++p) {
    const PacketTrace t = Trace(call.bytes.data() + 32 * p);
    EXPECT_EQ(t.length, 19u);
    EXPECT_EQ(t.Byte(), instruction[p]);
    EXPECT_EQ(t.samples, 0);
  }
  const Bytes readPacket = {0xAB, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82,
                            0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x20};
  EXPECT_EQ(PacketBody(call, 3), readPacket);
}

TEST_F(At89WriteReadTest, LongReadIsSplitBehindTheInstruction) {
  const uint8_t instruction[2] = {0x30, 0x00};
  Bytes expected(256);
  for (int i = 0; i < 256; ++i) expected[i] = static_cast<uint8_t>(i * 37 + 11);
  Fake().QueueReplyBytes(expected);
  Bytes read(256, 0xEE);
  ASSERT_NE(At89WriteRead(kSlot, 2, instruction, 256, read.data()), 0u);
  EXPECT_EQ(read, expected);

  const auto calls = Fake().CallsOf(Kq560Op::WriteRead);
  ASSERT_EQ(calls.size(), 3u);
  const uint32_t lengths[3] = {4096, 4096, 64};
  const uint32_t times[3] = {126, 128, 2};
  for (size_t c = 0; c < 3; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(calls[c].bytes.size(), lengths[c]);
    EXPECT_EQ(calls[c].readStep, 8u);
    EXPECT_EQ(calls[c].readTimes, times[c]);
    EXPECT_TRUE(FillerIsZero(calls[c]));
    // Only the first call carries the instruction.
    const size_t writes = c == 0 ? 2 : 0;
    for (size_t p = 0; p < calls[c].bytes.size() / 32; ++p) {
      const PacketTrace t = Trace(calls[c].bytes.data() + 32 * p);
      EXPECT_EQ(t.samples, p < writes ? 0 : 8);
      EXPECT_TRUE(t.resetAlwaysHigh);
      if (p >= writes) {
        EXPECT_EQ(t.samplesWithClockHigh, 8);
      }
    }
  }
}

TEST_F(At89WriteReadTest, InstructionAndReplyMayShareABuffer) {
  uint8_t buffer[4] = {0x28, 0x00, 0x30, 0x00};
  Fake().QueueReplyBytes({0x1E, 0x51, 0x06, 0x99});
  ASSERT_NE(At89WriteRead(kSlot, 3, buffer, 4, buffer), 0u);
  const Kq560Call& call = Fake().calls[0];
  EXPECT_EQ(Trace(call.bytes.data()).Byte(), 0x28);
  EXPECT_EQ(Trace(call.bytes.data() + 32).Byte(), 0x00);
  EXPECT_EQ(Trace(call.bytes.data() + 64).Byte(), 0x30);
  const uint8_t expected[4] = {0x1E, 0x51, 0x06, 0x99};
  EXPECT_EQ(0, std::memcmp(buffer, expected, 4));
}

TEST_F(At89WriteReadTest, InstructionLengthLimit) {
  const Bytes instruction(128, 0x20);
  uint8_t reply = 0;
  ASSERT_NE(At89WriteRead(kSlot, 127, instruction.data(), 1, &reply), 0u);
  ASSERT_EQ(Fake().calls.size(), 1u);
  EXPECT_EQ(Fake().calls[0].bytes.size(), 4096u);
  EXPECT_EQ(Fake().calls[0].readTimes, 1u);

  ResetFake();
  EXPECT_EQ(At89WriteRead(kSlot, 128, instruction.data(), 1, &reply), 0u);
  EXPECT_TRUE(Fake().calls.empty());
}

TEST_F(At89WriteReadTest, ReadsWithoutAnInstructionUseWholeCalls) {
  Bytes read(130);
  ASSERT_NE(At89WriteRead(kSlot, 0, nullptr, 130, read.data()), 0u);
  const auto calls = Fake().CallsOf(Kq560Op::WriteRead);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].readTimes, 128u);
  EXPECT_EQ(calls[1].readTimes, 2u);
  EXPECT_EQ(calls[1].bytes.size(), 64u);
}

TEST_F(At89WriteReadTest, NothingToReadSendsNothing) {
  const uint8_t instruction[4] = {0xAC, 0x53, 0x00, 0x00};
  EXPECT_NE(At89WriteRead(kSlot, 4, instruction, 0, nullptr), 0u);
  EXPECT_TRUE(Fake().calls.empty());
}

TEST_F(At89WriteReadTest, ShortReplyOrZeroResultFails) {
  const uint8_t instruction[2] = {0x30, 0x00};
  Bytes read(256);
  Fake().shortBy = 1;
  EXPECT_EQ(At89WriteRead(kSlot, 2, instruction, 256, read.data()), 0u);
  EXPECT_EQ(Fake().calls.size(), 1u);

  ResetFake();
  Fake().dataResults[1] = 0;
  EXPECT_EQ(At89WriteRead(kSlot, 2, instruction, 256, read.data()), 0u);
  EXPECT_EQ(Fake().calls.size(), 2u);
}

// --- Framing ----------------------------------------------------------------

TEST(FrameIoPacket, FramesCommandsAndRefusesWhatDoesNotFit) {
  uint8_t packet[32];
  std::memset(packet, 0x55, sizeof packet);
  const uint8_t commands[3] = {IoOutput(kPinReset), IoDirection(kPinsProgramming), IoWait(32)};
  EXPECT_EQ(FrameIoPacket(packet, commands, 3), 5u);
  const uint8_t expected[5] = {0xAB, 0x82, 0x6A, 0xE0, 0x20};
  EXPECT_EQ(0, std::memcmp(packet, expected, 5));
  for (int i = 5; i < 32; ++i) EXPECT_EQ(packet[i], 0);

  uint8_t many[31] = {};
  EXPECT_EQ(FrameIoPacket(packet, many, 30), 32u);
  EXPECT_EQ(packet[31], 0x20);
  EXPECT_EQ(FrameIoPacket(packet, many, 31), 0u);
}

TEST(IoStreamFormat, CommandBytesClassifyByTheirTopBits) {
  EXPECT_EQ(ClassifyIoCommand(0x00), IoCommand::Sample);
  EXPECT_EQ(ClassifyIoCommand(0x20), IoCommand::End);
  EXPECT_EQ(ClassifyIoCommand(0x10), IoCommand::Unknown);
  EXPECT_EQ(ClassifyIoCommand(0x42), IoCommand::Direction);
  EXPECT_EQ(ClassifyIoCommand(0xAA), IoCommand::Output);
  EXPECT_EQ(ClassifyIoCommand(0xFD), IoCommand::Wait);
  EXPECT_EQ(IoWait(100), 0xFF);  // waits longer than 63 us do not exist
}

}  // namespace
