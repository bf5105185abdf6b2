// The simulated bridge: slots, the strict IoStream interpreter, pins, clock,
// plug notices, faults and the call log.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "sim_test_support.h"

using namespace simtest;

namespace {

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    KQ560SimReset();
    ASSERT_NE(KQ560OpenDevice(0), kKq560OpenFailed);
  }
  void TearDown() override { KQ560SimReset(); }
};

TEST_F(Bridge, SlotsOpenCloseAndVersion) {
  EXPECT_EQ(KQ560OpenDevice(1), kKq560OpenFailed);  // empty slot
  EXPECT_EQ(KQ560OpenDevice(16), kKq560OpenFailed);
  EXPECT_EQ(KQ560SetExclusive(0, 1), 1u);
  EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed) << "exclusive use";
  EXPECT_EQ(KQ560GetVerIC(0), 0x30u);
  EXPECT_NE(KQ560GetDeviceName(0), nullptr);
  EXPECT_EQ(KQ560CloseDevice(0), 1u);
  EXPECT_EQ(KQ560CloseDevice(0), 0u) << "already closed";
  EXPECT_EQ(SendLine({0x80}), 0u) << "writes need an open bridge";
  EXPECT_NE(Diagnostic().find("not open"), std::string::npos);
  EXPECT_EQ(KQ560OpenDevice(0), 0);
}

TEST_F(Bridge, UnplugLosesTheDeviceAndReplugNeedsAnOpen) {
  ASSERT_TRUE(KQ560SimUnplug(0));
  EXPECT_EQ(KQ560GetDeviceName(0), nullptr);
  EXPECT_EQ(SendLine({0x80}), 0u);
  EXPECT_EQ(KQ560GetVerIC(0), 0u);
  EXPECT_FALSE(KQ560SimUnplug(0));
  ASSERT_TRUE(KQ560SimPlug(0, 0x31));
  EXPECT_NE(KQ560GetDeviceName(0), nullptr);
  EXPECT_EQ(SendLine({0x80}), 0u);
  ASSERT_EQ(KQ560OpenDevice(0), 0);
  EXPECT_EQ(KQ560GetVerIC(0), 0x31u);
}

TEST_F(Bridge, OlderBridgesHaveNoSpiStream) {
  ASSERT_TRUE(KQ560SimPlug(3, 0x2F));
  ASSERT_EQ(KQ560OpenDevice(3), 3);
  EXPECT_EQ(KQ560SetStream(3, kKq560StreamSpiMsbFirst), 0u);
  EXPECT_NE(Diagnostic().find("no SPI stream"), std::string::npos);
  uint8_t data[4] = {0xAC, 0x53, 0, 0};
  EXPECT_EQ(KQ560StreamSPI4(3, 0, 4, data), 0u);
  EXPECT_EQ(KQ560SetStream(0, kKq560StreamSpiMsbFirst), 1u);
  EXPECT_EQ(KQ560StreamSPI4(0, 0, 4, data), 1u);
  EXPECT_EQ(KQ560StreamSPI4(0, 1, 4, data), 0u) << "only chip select 0 is wired";
}

// A malformed stream fails the whole call before any of it runs.
struct BadStream {
  const char* what;
  Bytes bytes;
  uint32_t step, times;
  const char* diagnostic;
};

TEST_F(Bridge, StrictInterpreterRejectsMalformedStreams) {
  Bytes good;
  AddPacket(good, {0x00, 0x00});
  AddPacket(good, {0x00, 0x00});
  Bytes offBoundary = good;
  offBoundary.erase(offBoundary.begin() + 5, offBoundary.begin() + 32);  // next packet right after the end byte
  Bytes badStart = good;
  badStart[32] = 0xAA;
  Bytes badCommand;
  AddPacket(badCommand, {0x00, 0x10, 0x00});
  Bytes noEnd(32, 0xC0);
  noEnd[0] = 0xAB;
  Bytes cut = {0xAB, 0x00, 0x00};
  Bytes huge;
  for (int i = 0; i < 129; ++i) AddPacket(huge, {0x00});
  const BadStream cases[] = {
      {"off boundary", offBoundary, 2, 2, "not 0xAB"},
      {"bad start byte", badStart, 2, 2, "offset 32 starts with 0xAA"},
      {"bad command byte", badCommand, 2, 1, "bad command byte 0x10"},
      {"no end byte", noEnd, 0, 0, "no end byte"},
      {"cut off", cut, 2, 1, "cut off"},
      {"read step mismatch", good, 3, 2, "read step is 3"},
      {"read times mismatch", good, 2, 3, "read times is 3"},
      {"too long", huge, 1, 129, "more than 4096"},
      {"empty", {}, 0, 0, "empty"},
  };
  for (const BadStream& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = c.bytes;
    b.push_back(0);  // room for a zero-length call's buffer
    uint32_t got = 99;
    EXPECT_EQ(KQ560WriteRead(0, static_cast<uint32_t>(c.bytes.size()), b.data(), c.step, c.times, &got, b.data()), 0u);
    EXPECT_NE(Diagnostic().find(c.diagnostic), std::string::npos) << Diagnostic();
  }
  uint32_t got = 0;
  Bytes b = good;
  EXPECT_EQ(KQ560WriteRead(0, 64, b.data(), 2, 2, &got, b.data()), 1u);
  EXPECT_EQ(got, 4u);
}

TEST_F(Bridge, RejectedStreamLeavesTheLinesAlone) {
  Bytes b;
  AddPacket(b, {0x42, 0x80, 0x05});  // would drive reset low, but 0x05 is no command
  uint32_t length = static_cast<uint32_t>(b.size());
  EXPECT_EQ(KQ560WriteData(0, b.data(), &length), 0u);
  EXPECT_EQ(SamplePins() & 0x02, 0x02);
}

TEST_F(Bridge, LastPacketMayStopAtItsEndByteAndPacketsWithoutSamplesReadNothing) {
  EXPECT_EQ(SendLine({0x80, 0x6A, 0xE0}), 1u);
  Bytes b;
  AddPacket(b, {0x80});
  AddPacket(b, {0x00, 0x00, 0x00}, false);
  uint32_t got = 0;
  EXPECT_EQ(KQ560WriteRead(0, static_cast<uint32_t>(b.size()), b.data(), 3, 1, &got, b.data()), 1u);
  EXPECT_EQ(got, 3u);
}

TEST_F(Bridge, UndrivenLinesReadHighDrivenLinesTheirLevel) {
  KQ560SimAttach(0, "none");
  EXPECT_EQ(SamplePins(), 0xFF);
  ASSERT_EQ(SendLine({0x80, 0x42}), 1u);  // all levels low, only reset driven
  EXPECT_EQ(SamplePins(), 0xFD);
  ASSERT_EQ(SendLine({0x6A}), 1u);  // reset, clock and data driven
  EXPECT_EQ(SamplePins(), 0xD5);
  ASSERT_EQ(SendLine({0xA8}), 1u);  // clock and data high
  EXPECT_EQ(SamplePins(), 0xFD);
  ASSERT_EQ(SendLine({0x40}), 1u);  // nothing driven: the levels no longer matter
  EXPECT_EQ(SamplePins(), 0xFF);
}

TEST_F(Bridge, ClockCountsWaitsCommandsAndCallCosts) {
  const uint64_t start = KQ560SimNowUs();
  ASSERT_EQ(SendLine({0xFF, 0xFF, 0xC4}), 1u);  // 130 us of waits
  // 100 us per call, 1 us per byte sent (5), the waits.
  EXPECT_EQ(KQ560SimNowUs() - start, 100u + 5u + 130u);
  Bytes b;
  AddPacket(b, {0x00, 0xE0, 0x00});  // two samples of 1 us and 32 us
  uint32_t got = 0;
  const uint64_t before = KQ560SimNowUs();
  ASSERT_EQ(KQ560WriteRead(0, 32, b.data(), 2, 1, &got, b.data()), 1u);
  // Call, 32 bytes out, commands and wait, 1 ms turnaround, 2 bytes back.
  EXPECT_EQ(KQ560SimNowUs() - before, 100u + 32u + 2u + 32u + 1000u + 2u);
  KQ560SimAdvanceMs(7);
  EXPECT_EQ(KQ560SimNowUs() - before, 1168u + 7000u);
  KQ560SimStats stats;
  KQ560SimGetStats(&stats);
  EXPECT_EQ(stats.calls, 3u);  // open, write, write-read
  EXPECT_EQ(stats.callsByOp[KQ560SIM_OP_WRITE_READ], 1u);
  EXPECT_EQ(stats.bytesSent, 5u + 32u);
  EXPECT_EQ(stats.bytesReceived, 2u);
  EXPECT_EQ(stats.nowUs, KQ560SimNowUs());
}

TEST_F(Bridge, RealTimeModeAddsTheTimeBetweenCalls) {
  KQ560SimSetRealTime(1);
  ASSERT_EQ(SendLine({0x80}), 1u);
  const uint64_t before = KQ560SimNowUs();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_EQ(SendLine({0x80}), 1u);
  EXPECT_GE(KQ560SimNowUs() - before, 30000u);
  KQ560SimSetRealTime(0);
  const uint64_t still = KQ560SimNowUs();
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(SendLine({0x80}), 1u);
  EXPECT_EQ(KQ560SimNowUs() - still, 104u);
}

std::mutex gEventsMutex;
std::vector<uint32_t> gEvents;
std::vector<std::thread::id> gEventThreads;
std::vector<bool> gNamePresent;

void KQ560_CALL RecordEvent(uint32_t event) {
  const bool present = KQ560GetDeviceName(5) != nullptr;  // calling back in is allowed
  std::lock_guard<std::mutex> lock(gEventsMutex);
  gEvents.push_back(event);
  gEventThreads.push_back(std::this_thread::get_id());
  gNamePresent.push_back(present);
}

TEST_F(Bridge, PlugNoticesComeFromTheSimulatorsThread) {
  gEvents.clear();
  gEventThreads.clear();
  gNamePresent.clear();
  ASSERT_EQ(KQ560SetDeviceNotify(0, nullptr, RecordEvent), 1u);
  ASSERT_TRUE(KQ560SimPlug(5, 0x30));
  ASSERT_TRUE(KQ560SimUnplug(5));
  ASSERT_TRUE(KQ560SimWaitNotices(5000));
  std::lock_guard<std::mutex> lock(gEventsMutex);
  ASSERT_EQ(gEvents.size(), 2u);
  EXPECT_EQ(gEvents[0], kKq560EventArrival);
  EXPECT_NE(gEvents[1], kKq560EventArrival);
  EXPECT_NE(gEventThreads[0], std::this_thread::get_id());
  EXPECT_FALSE(gNamePresent[1]) << "the device is gone when the removal arrives";
}

class Faults : public Bridge {
 protected:
  // The number the next bridge call will get.
  static uint64_t NextCall() {
    KQ560SimStats stats;
    KQ560SimGetStats(&stats);
    return stats.calls + 1;
  }
  static std::string At(uint64_t call, const char* kind, const char* extra = "") {
    return std::string(kind) + "=" + std::to_string(call) + extra;
  }
};

TEST_F(Faults, FailMakesExactlyThatCallReturnZero) {
  ASSERT_TRUE(KQ560SimSetFaults(At(NextCall() + 1, "fail").c_str()));
  EXPECT_EQ(SendLine({0x80}), 1u);
  EXPECT_EQ(SendLine({0x80}), 0u);
  EXPECT_NE(Diagnostic().find("injected"), std::string::npos);
  EXPECT_EQ(SendLine({0x80}), 1u);
}

TEST_F(Faults, ShortReadAndFlippedBit) {
  Bytes packet;
  AddPacket(packet, {0x80, 0x42, 0x00, 0x00});
  Bytes b = packet;
  uint32_t got = 0;
  ASSERT_EQ(KQ560WriteRead(0, 32, b.data(), 2, 1, &got, b.data()), 1u);
  const uint8_t clean = b[1];
  ASSERT_TRUE(KQ560SimSetFaults((At(NextCall(), "short") + "," + At(NextCall() + 1, "flip", ":1:7")).c_str()));
  b = packet;
  EXPECT_EQ(KQ560WriteRead(0, 32, b.data(), 2, 1, &got, b.data()), 1u);
  EXPECT_EQ(got, 1u);
  b = packet;
  EXPECT_EQ(KQ560WriteRead(0, 32, b.data(), 2, 1, &got, b.data()), 1u);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(b[1], clean ^ 0x80);
}

TEST_F(Faults, UnplugAtACallRemovesTheBridge) {
  ASSERT_EQ(KQ560SetDeviceNotify(0, nullptr, RecordEvent), 1u);
  gEvents.clear();
  ASSERT_TRUE(KQ560SimSetFaults(At(NextCall(), "unplug").c_str()));
  EXPECT_EQ(SendLine({0x80}), 0u);
  EXPECT_EQ(KQ560GetDeviceName(0), nullptr);
  ASSERT_TRUE(KQ560SimWaitNotices(5000));
  std::lock_guard<std::mutex> lock(gEventsMutex);
  ASSERT_EQ(gEvents.size(), 1u);
  EXPECT_NE(gEvents[0], kKq560EventArrival);
}

TEST_F(Faults, BadSyntaxIsRefusedAndKeepsNothing) {
  for (const char* bad : {"fail", "fail=0", "flip=3:1", "flip=3:1:8", "boom=3", "fail=3;short=4", "fail=3,"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(KQ560SimSetFaults(bad));
  }
  EXPECT_TRUE(KQ560SimSetFaults("fail=1,short=2,flip=3:0:0,unplug=400"));
  EXPECT_TRUE(KQ560SimSetFaults(""));
}

TEST_F(Bridge, CallLogIsOffByDefaultAndKeepsTheLatestCalls) {
  ASSERT_EQ(SendLine({0x80}), 1u);
  EXPECT_EQ(KQ560SimLogCount(), 0u);
  KQ560SimSetLogCapacity(2);
  ASSERT_EQ(SendLine({0x80, 0x6A, 0xE0}), 1u);
  ASSERT_EQ(SendLine({0x82}), 1u);
  Bytes b;
  AddPacket(b, {0x00});
  uint32_t got = 0;
  ASSERT_EQ(KQ560WriteRead(0, 32, b.data(), 1, 1, &got, b.data()), 1u);
  ASSERT_EQ(KQ560SimLogCount(), 2u);
  KQ560SimCall call;
  ASSERT_TRUE(KQ560SimLogEntry(0, &call));
  EXPECT_EQ(call.op, static_cast<uint32_t>(KQ560SIM_OP_WRITE));
  EXPECT_EQ(call.length, 3u);
  EXPECT_EQ(call.head[1], 0x82);
  ASSERT_TRUE(KQ560SimLogEntry(1, &call));
  EXPECT_EQ(call.op, static_cast<uint32_t>(KQ560SIM_OP_WRITE_READ));
  EXPECT_EQ(call.index, 5u);
  EXPECT_EQ(call.readStep, 1u);
  EXPECT_EQ(call.readTimes, 1u);
  EXPECT_EQ(call.readLength, 1u);
  EXPECT_EQ(call.result, 1u);
  EXPECT_FALSE(KQ560SimLogEntry(2, &call));
  KQ560SimClearLog();
  EXPECT_EQ(KQ560SimLogCount(), 0u);
}

}  // namespace
