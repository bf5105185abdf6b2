#include "link/io_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <tuple>
#include <vector>

#include "tests/link/fake_kq560.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Packets = std::vector<Bytes>;

constexpr uint32_t kSlot = 5;

// Expected packets, from the bit encodings (D = 0x20 for a 1 bit), most
// significant bit first.
uint8_t D(uint8_t byte, int bit) { return (byte >> bit & 1) ? 0x20 : 0x00; }

Packets AvrPackets(const Bytes& bytes) {
  Packets packets;
  for (uint8_t byte : bytes) {
    for (int high : {7, 3}) {
      Bytes p = {0xAB};
      for (int bit = high; bit > high - 4; --bit) {
        p.insert(p.end(), {uint8_t(0x80 | D(byte, bit)), 0xC4, uint8_t(0x88 | D(byte, bit)), 0x00, 0xC4});
      }
      p.insert(p.end(), {uint8_t(0x80 | D(byte, high - 3)), 0x20});
      packets.push_back(p);
    }
  }
  return packets;
}

Bytes At89Write(uint8_t byte, bool pageWrite = false) {
  Bytes p = {0xAB};
  for (int bit = 7; bit >= 0; --bit) p.insert(p.end(), {uint8_t(0x82 | D(byte, bit)), uint8_t(0x8A | D(byte, bit))});
  p.push_back(uint8_t(0x82 | D(byte, 0)));
  if (pageWrite) p.insert(p.end(), 10, 0xFF);
  p.push_back(0x20);
  return p;
}

const Bytes kAt89Read = {0xAB, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82,
                         0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x20};

// Bytes sent, read step and read times of one call.
using Shape = std::tuple<size_t, uint32_t, uint32_t>;
using Shapes = std::vector<Shape>;

// Every call made, all of kind `op` on kSlot; replies must land in the packet
// buffer.
Shapes CallShapes(Kq560Op op) {
  Shapes shapes;
  for (const Kq560Call& call : Fake().calls) {
    EXPECT_EQ(call.op, op);
    EXPECT_EQ(call.slot, kSlot);
    EXPECT_EQ(call.readIntoWriteBuffer, op == Kq560Op::WriteRead);
    shapes.emplace_back(call.bytes.size(), call.readStep, call.readTimes);
  }
  return shapes;
}

// The 32-byte packets of all calls, in order, each up to and including its
// end byte; the filler after it is free.
Packets AllPackets() {
  Packets packets;
  for (const Kq560Call& call : Fake().calls) {
    for (size_t start = 0; start < call.bytes.size(); start += 32) {
      const auto begin = call.bytes.begin() + start;
      const auto limit = begin + std::min<size_t>(32, call.bytes.size() - start);
      const auto end = std::find(begin, limit, 0x20);
      packets.emplace_back(begin, end == limit ? limit : end + 1);
    }
  }
  return packets;
}

class IoStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFake(); }
};

using AvrTransferTest = IoStreamTest;

TEST_F(AvrTransferTest, InstructionIsOneCallOfEightPacketsAndRepliesReplaceItsBytes) {
  Fake().QueueReplyBytes({0x00, 0x53, 0xAC, 0xFF});
  uint8_t buffer[4] = {0xAC, 0x53, 0x00, 0x00};
  ASSERT_NE(AvrTransfer(kSlot, 4, buffer, 0), 0u);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0x00, 0x53, 0xAC, 0xFF}));

  ASSERT_EQ(CallShapes(Kq560Op::WriteRead), (Shapes{{256, 4, 8}}));
  const Packets packets = AllPackets();
  EXPECT_EQ(packets[0], (Bytes{0xAB, 0xA0, 0xC4, 0xA8, 0x00, 0xC4, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0xA0,
                               0xC4, 0xA8, 0x00, 0xC4, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0x80, 0x20}));
  EXPECT_EQ(packets[1], (Bytes{0xAB, 0xA0, 0xC4, 0xA8, 0x00, 0xC4, 0xA0, 0xC4, 0xA8, 0x00, 0xC4, 0x80,
                               0xC4, 0x88, 0x00, 0xC4, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0x80, 0x20}));
  EXPECT_EQ(packets, AvrPackets({0xAC, 0x53, 0x00, 0x00}));
}

TEST_F(AvrTransferTest, EightBytesFillThePacketBufferNineFail) {
  const Bytes sent = {1, 2, 3, 4, 5, 6, 7, 0x80};
  Fake().QueueReplyBytes({8, 7, 6, 5, 4, 3, 2, 1});
  Bytes buffer = sent;
  ASSERT_NE(AvrTransfer(kSlot, 8, buffer.data(), 0), 0u);
  EXPECT_EQ(buffer, (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(CallShapes(Kq560Op::WriteRead), (Shapes{{512, 4, 16}}));
  EXPECT_EQ(AllPackets(), AvrPackets(sent));

  ResetFake();
  uint8_t many[16] = {};
  EXPECT_EQ(AvrTransfer(kSlot, 0, many, 0), 0u);
  EXPECT_EQ(AvrTransfer(kSlot, 9, many, 0), 0u);
  EXPECT_TRUE(Fake().calls.empty());
}

TEST_F(AvrTransferTest, ShortReplyOrZeroResultFailsAndLeavesTheBufferAlone) {
  uint8_t buffer[4] = {0x30, 0x00, 0x01, 0x00};
  Fake().shortBy = 1;  // 31 samples
  Fake().QueueReplyBytes({0x12, 0x34, 0x56, 0x78});
  EXPECT_EQ(AvrTransfer(kSlot, 4, buffer, 0), 0u);
  ResetFake();
  Fake().dataResults[0] = 0;
  Fake().QueueReplyBytes({0x12, 0x34, 0x56, 0x78});
  EXPECT_EQ(AvrTransfer(kSlot, 4, buffer, 0), 0u);
  EXPECT_EQ(Fake().calls.size(), 1u);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0x30, 0x00, 0x01, 0x00}));
}

TEST_F(AvrTransferTest, FastFlagHandsTheWholeRunToTheHardwareStream) {
  Bytes page(256);
  std::iota(page.begin(), page.end(), 0);
  const Bytes sent = page;
  Fake().QueueReplyBytes(Bytes(256, 0x5A));
  Fake().dataResults[0] = 7;
  EXPECT_EQ(AvrTransfer(kSlot, 256, page.data(), 1), 7u);  // the library's result, as it is
  EXPECT_EQ(page, Bytes(256, 0x5A));
  ASSERT_EQ(CallShapes(Kq560Op::StreamSpi).size(), 1u);
  EXPECT_EQ(Fake().calls[0].arg, 0u);  // chip select
  EXPECT_EQ(Fake().calls[0].bytes, sent);
}

using At89WriteStreamTest = IoStreamTest;

TEST_F(At89WriteStreamTest, OneBytePerPacketWithResetHigh) {
  const uint8_t data[4] = {0xAC, 0x50, 0x50, 0x01};  // later 0x50 bytes set no page flag
  ASSERT_NE(At89WriteStream(kSlot, 4, data), 0u);
  ASSERT_EQ(CallShapes(Kq560Op::WriteData), (Shapes{{128, 0, 0}}));
  const Packets packets = AllPackets();
  EXPECT_EQ(packets[0], (Bytes{0xAB, 0xA2, 0xAA, 0x82, 0x8A, 0xA2, 0xAA, 0x82, 0x8A, 0xA2, 0xAA, 0xA2, 0xAA, 0x82,
                               0x8A, 0x82, 0x8A, 0x82, 0x20}));
  EXPECT_EQ(packets, (Packets{At89Write(0xAC), At89Write(0x50), At89Write(0x50), At89Write(0x01)}));
}

TEST_F(At89WriteStreamTest, PageWriteWaitsAfterEveryByteIncludingTheInstruction) {
  Bytes data = {0x50, 0x07};
  for (int i = 0; i < 256; ++i) data.push_back(uint8_t(255 - i));
  ASSERT_NE(At89WriteStream(kSlot, 258, data.data()), 0u);
  EXPECT_EQ(CallShapes(Kq560Op::WriteData), (Shapes{{4096, 0, 0}, {4096, 0, 0}, {64, 0, 0}}));
  const Packets packets = AllPackets();
  ASSERT_EQ(packets.size(), 258u);
  for (size_t k = 0; k < 258; ++k) EXPECT_EQ(packets[k], At89Write(data[k], true)) << "byte " << k;
}

TEST_F(At89WriteStreamTest, ChunksOf128AndTheFirstFailedCallEndsTheStream) {
  const Bytes data(400, 0x3C);
  EXPECT_NE(At89WriteStream(kSlot, 0, nullptr), 0u);  // nothing to send, no call
  ASSERT_NE(At89WriteStream(kSlot, 129, data.data()), 0u);
  EXPECT_EQ(CallShapes(Kq560Op::WriteData), (Shapes{{4096, 0, 0}, {32, 0, 0}}));

  for (size_t failing : {0, 1}) {
    ResetFake();
    Fake().dataResults[failing] = 0;
    EXPECT_EQ(At89WriteStream(kSlot, 400, data.data()), 0u);
    EXPECT_EQ(Fake().calls.size(), failing + 1);
  }
}

using At89WriteReadTest = IoStreamTest;

TEST_F(At89WriteReadTest, ReadPacketsFollowTheInstructionInTheSameBuffer) {
  uint8_t buffer[4] = {0x28, 0x01, 0x00, 0x00};  // instruction and reply share the memory
  Fake().QueueReplyBytes({0x1E, 0x51, 0x06, 0x99});
  ASSERT_NE(At89WriteRead(kSlot, 3, buffer, 4, buffer), 0u);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0x1E, 0x51, 0x06, 0x99}));
  EXPECT_EQ(CallShapes(Kq560Op::WriteRead), (Shapes{{224, 8, 4}}));
  EXPECT_EQ(AllPackets(),
            (Packets{At89Write(0x28), At89Write(0x01), At89Write(0x00), kAt89Read, kAt89Read, kAt89Read, kAt89Read}));
}

TEST_F(At89WriteReadTest, LongReadsAreSplitBehindTheInstructionAndStopAtTheFirstFailure) {
  const uint8_t instruction[2] = {0x30, 0x00};
  Bytes expected(256);
  for (int i = 0; i < 256; ++i) expected[i] = uint8_t(i * 37 + 11);
  Fake().QueueReplyBytes(expected);
  Bytes read(256);
  ASSERT_NE(At89WriteRead(kSlot, 2, instruction, 256, read.data()), 0u);
  EXPECT_EQ(read, expected);
  EXPECT_EQ(CallShapes(Kq560Op::WriteRead), (Shapes{{4096, 8, 126}, {4096, 8, 128}, {64, 8, 2}}));
  Packets packets(258, kAt89Read);
  packets[0] = At89Write(0x30);
  packets[1] = At89Write(0x00);
  EXPECT_EQ(AllPackets(), packets);

  ResetFake();  // without an instruction every call is whole
  ASSERT_NE(At89WriteRead(kSlot, 0, nullptr, 130, read.data()), 0u);
  EXPECT_EQ(CallShapes(Kq560Op::WriteRead), (Shapes{{4096, 8, 128}, {64, 8, 2}}));

  ResetFake();
  Fake().shortBy = 1;
  EXPECT_EQ(At89WriteRead(kSlot, 2, instruction, 256, read.data()), 0u);
  EXPECT_EQ(Fake().calls.size(), 1u);
  ResetFake();
  Fake().dataResults[1] = 0;
  EXPECT_EQ(At89WriteRead(kSlot, 2, instruction, 256, read.data()), 0u);
  EXPECT_EQ(Fake().calls.size(), 2u);
}

TEST_F(At89WriteReadTest, InstructionLengthLimitAndNothingToRead) {
  const Bytes instruction(128, 0x20);
  uint8_t reply = 0;
  ASSERT_NE(At89WriteRead(kSlot, 127, instruction.data(), 1, &reply), 0u);
  EXPECT_EQ(CallShapes(Kq560Op::WriteRead), (Shapes{{4096, 8, 1}}));

  ResetFake();
  EXPECT_EQ(At89WriteRead(kSlot, 128, instruction.data(), 1, &reply), 0u);
  EXPECT_NE(At89WriteRead(kSlot, 4, instruction.data(), 0, nullptr), 0u);
  EXPECT_TRUE(Fake().calls.empty());
}

// The line sequences check the framing byte for byte; here only its limit.
TEST(FrameIoPacket, FitsThirtyCommandsAndRefusesMore) {
  uint8_t packet[32];
  const uint8_t commands[31] = {};
  EXPECT_EQ(FrameIoPacket(packet, commands, 30), 32u);
  EXPECT_EQ(packet[31], 0x20);
  EXPECT_EQ(FrameIoPacket(packet, commands, 31), 0u);
}

}  // namespace
