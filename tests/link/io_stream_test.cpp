#include "link/io_stream.h"

#include <gtest/gtest.h>

#include <numeric>
#include <tuple>
#include <vector>

#include "tests/link/fake_kq560.h"

namespace {

using Bytes = std::vector<uint8_t>;
// Bytes sent, read step and read times of one call.
using Shapes = std::vector<std::tuple<size_t, uint32_t, uint32_t>>;

constexpr uint32_t kSlot = 5;

// The shape of every call, all of kind `op` on kSlot, replies in the packet buffer.
Shapes CallShapes(Kq560Op op) {
  Shapes shapes;
  for (const Kq560Call& call : Fake().calls) {
    EXPECT_TRUE(call.op == op && call.slot == kSlot);
    EXPECT_EQ(call.readIntoWriteBuffer, op == Kq560Op::WriteRead);
    shapes.emplace_back(call.bytes.size(), call.readStep, call.readTimes);
  }
  return shapes;
}

// Packet k of call c, up to and including its end byte; the filler is free.
Bytes Packet(size_t c, size_t k, size_t length) {
  const auto begin = Fake().calls[c].bytes.begin() + 32 * k;
  return Bytes(begin, begin + length);
}

// 0xAC: bits 1010 and 1100, a packet of four bits each.
TEST(AvrTransfer, EachByteIsTwoPacketsInOneCallAndRepliesReplaceTheBytes) {
  ResetFake();
  Fake().QueueReplyBytes({0x00, 0x53, 0xAC, 0xFF});
  Bytes buffer = {0xAC, 0x53, 0x00, 0x00};
  ASSERT_NE(AvrTransfer(kSlot, 4, buffer.data(), 0), 0u);
  EXPECT_EQ(buffer, (Bytes{0x00, 0x53, 0xAC, 0xFF}));
  EXPECT_EQ(CallShapes(Kq560Op::WriteRead), (Shapes{{256, 4, 8}}));
  EXPECT_EQ(Packet(0, 0, 23), (Bytes{0xAB, 0xA0, 0xC4, 0xA8, 0x00, 0xC4, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0xA0,
                                     0xC4, 0xA8, 0x00, 0xC4, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0x80, 0x20}));
  EXPECT_EQ(Packet(0, 1, 23), (Bytes{0xAB, 0xA0, 0xC4, 0xA8, 0x00, 0xC4, 0xA0, 0xC4, 0xA8, 0x00, 0xC4, 0x80,
                                     0xC4, 0x88, 0x00, 0xC4, 0x80, 0xC4, 0x88, 0x00, 0xC4, 0x80, 0x20}));
}

// Eight bytes fill the packet buffer and nine do not; a short reply or a zero
// result fails and leaves the caller's buffer alone. The fast flag hands any
// run to the hardware stream and returns the library's result as it is.
TEST(AvrTransfer, LengthsFailuresAndTheFastFlag) {
  for (int fault = 0; fault < 4; ++fault) {
    ResetFake();
    Fake().shortBy = fault == 2 ? 1 : 0;
    Fake().dataResults[0] = fault == 3 ? 0 : 1;
    Fake().QueueReplyBytes(Bytes(9, 0x12));
    Bytes buffer(9, 0x30);
    EXPECT_EQ(AvrTransfer(kSlot, fault == 1 ? 9 : 8, buffer.data(), 0) != 0, fault == 0);
    EXPECT_EQ(CallShapes(Kq560Op::WriteRead), (fault == 1 ? Shapes{} : Shapes{{512, 4, 16}}));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8), Bytes(8, fault == 0 ? 0x12 : 0x30)) << fault;
  }
  ResetFake();
  Bytes page(256);
  std::iota(page.begin(), page.end(), 0);
  const Bytes sent = page;
  Fake().QueueReplyBytes(Bytes(256, 0x5A));
  Fake().dataResults[0] = 7;
  EXPECT_EQ(AvrTransfer(kSlot, 256, page.data(), 1), 7u);
  EXPECT_EQ(page, Bytes(256, 0x5A));
  EXPECT_EQ(CallShapes(Kq560Op::StreamSpi), (Shapes{{256, 0, 0}}));
  EXPECT_TRUE(Fake().calls[0].bytes == sent && Fake().calls[0].arg == 0);  // chip select 0
}

// One packet per byte, 128 a call; only a stream whose first byte is 0x50
// waits 10 x 63 µs after every byte, its two instruction bytes included.
TEST(At89WriteStream, OnePacketPerByteAndThePageWriteWaits) {
  ResetFake();
  const Bytes erase = {0xAC, 0x50, 0x50, 0x01};
  EXPECT_NE(At89WriteStream(kSlot, 0, nullptr), 0u);  // nothing to send, no call
  ASSERT_NE(At89WriteStream(kSlot, 4, erase.data()), 0u);
  EXPECT_EQ(CallShapes(Kq560Op::WriteData), (Shapes{{128, 0, 0}}));
  EXPECT_EQ(Packet(0, 0, 19), (Bytes{0xAB, 0xA2, 0xAA, 0x82, 0x8A, 0xA2, 0xAA, 0x82, 0x8A, 0xA2, 0xAA, 0xA2, 0xAA,
                                     0x82, 0x8A, 0x82, 0x8A, 0x82, 0x20}));
  EXPECT_EQ(Packet(0, 1, 19), Packet(0, 2, 19));
  Bytes page = {0x50, 0x00};
  page.resize(258, 0xFF);
  ResetFake();
  ASSERT_NE(At89WriteStream(kSlot, 258, page.data()), 0u);
  EXPECT_EQ(CallShapes(Kq560Op::WriteData), (Shapes{{4096, 0, 0}, {4096, 0, 0}, {64, 0, 0}}));
  EXPECT_EQ(Packet(0, 1, 29), (Bytes{0xAB, 0x82, 0x8A, 0x82, 0x8A, 0x82, 0x8A, 0x82, 0x8A, 0x82, 0x8A, 0x82, 0x8A, 0x82, 0x8A,
                                     0x82, 0x8A, 0x82, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x20}));
  for (size_t failing : {0, 1}) {
    ResetFake();
    Fake().dataResults[failing] = 0;
    EXPECT_EQ(At89WriteStream(kSlot, 258, page.data()), 0u);
    EXPECT_EQ(Fake().calls.size(), failing + 1);
  }
}

// Read packets fill each call behind the instruction packets, up to 128.
TEST(At89WriteRead, ReadPacketsFollowTheInstructionSplitAcrossCallsAndFailures) {
  const Bytes readPacket = {0xAB, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82,
                            0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x8A, 0x00, 0x82, 0x20};
  const struct { uint32_t writes, reads; Shapes shapes; } cases[] = {{3, 4, {{224, 8, 4}}},
               {2, 256, {{4096, 8, 126}, {4096, 8, 128}, {64, 8, 2}}},
               {0, 130, {{4096, 8, 128}, {64, 8, 2}}},
               {127, 1, {{4096, 8, 1}}}};
  for (const auto& c : cases) {
    ResetFake();
    Bytes expected(c.reads), buffer(std::max(c.writes, c.reads), 0x28);  // instruction and reply share it
    for (uint32_t i = 0; i < c.reads; ++i) expected[i] = uint8_t(i * 37 + 11);
    Fake().QueueReplyBytes(expected);
    ASSERT_NE(At89WriteRead(kSlot, c.writes, buffer.data(), c.reads, buffer.data()), 0u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.reads), expected);
    EXPECT_EQ(CallShapes(Kq560Op::WriteRead), c.shapes);
    EXPECT_EQ(Packet(0, c.writes, 26), readPacket);
  }
  // Too long an instruction fails before a call, nothing to read sends
  // nothing; a short reply or a failed call ends the read there.
  Bytes buffer(256, 0x20);
  ResetFake();
  EXPECT_EQ(At89WriteRead(kSlot, 128, buffer.data(), 1, buffer.data()), 0u);
  EXPECT_NE(At89WriteRead(kSlot, 4, buffer.data(), 0, nullptr), 0u);
  EXPECT_TRUE(Fake().calls.empty());
  for (size_t failing : {0, 1}) {
    ResetFake();
    Fake().shortBy = failing == 0 ? 1 : 0;
    Fake().dataResults[1] = failing == 1 ? 0 : 1;
    EXPECT_EQ(At89WriteRead(kSlot, 2, buffer.data(), 256, buffer.data()), 0u);
    EXPECT_EQ(Fake().calls.size(), failing + 1);
  }
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
