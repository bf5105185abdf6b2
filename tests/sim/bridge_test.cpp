// The simulated bridge: slots, the strict IoStream interpreter, pins, clock,
// plug notices and faults.
#include <mutex>
#include <thread>

#include "sim_test_support.h"

using namespace simtest;

namespace {

using Bridge = SimTest;

uint64_t NextCall() {
  KQ560SimStats stats;
  KQ560SimGetStats(&stats);
  return stats.calls + 1;
}

TEST_F(Bridge, SlotsVersionsAndExclusiveUse) {
  EXPECT_EQ(KQ560OpenDevice(1), kKq560OpenFailed) << "empty slot";
  EXPECT_EQ(KQ560SetExclusive(0, 1), 1u);
  EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed) << "exclusive use";
  EXPECT_EQ(KQ560CloseDevice(0), 1u);
  EXPECT_EQ(SendLine({0x80}), 0u) << "writes need an open bridge";
  EXPECT_EQ(KQ560OpenDevice(0), 0) << "closing ends the exclusive use";

  ASSERT_TRUE(KQ560SimUnplug(0));
  EXPECT_EQ(KQ560GetDeviceName(0), nullptr);
  ASSERT_TRUE(KQ560SimPlug(0, 0x2F));
  EXPECT_STREQ(KQ560GetDeviceName(0), "KQ560-0");
  EXPECT_EQ(SendLine({0x80}), 0u) << "unplugging closed it";
  ASSERT_EQ(KQ560OpenDevice(0), 0);
  EXPECT_EQ(KQ560GetVerIC(0), 0x2Fu);
  EXPECT_EQ(KQ560SetStream(0, kKq560StreamSpiMsbFirst), 0u);
  EXPECT_NE(Diagnostic().find("version 0x2F has no SPI stream"), std::string::npos) << Diagnostic();
  uint8_t data[4] = {0xAC, 0x53, 0x00, 0x00};
  EXPECT_EQ(KQ560StreamSPI4(0, 0, 4, data), 0u);
}

TEST_F(Bridge, InterpreterRefusesMalformedStreamsWholeAndDrivesThePins) {
  Bytes good;
  AddPacket(good, {0x00, 0x00});
  AddPacket(good, {0x00, 0x00});
  Bytes badStart = good;
  badStart[32] = 0xAA;
  Bytes badCommand;
  AddPacket(badCommand, {0x42, 0x80, 0x10});  // would drive reset low before the bad byte
  const struct {
    const char* what;
    Bytes bytes;
    uint32_t step, times;
    const char* diagnostic;
  } cases[] = {
      {"bad start byte", badStart, 2, 2, "(KQ560WriteRead, slot 0): packet at offset 32 starts with 0xAA, not 0xAB"},
      {"bad command byte", badCommand, 0, 0, "bad command byte 0x10"},
      {"no end byte", Bytes(40, 0xAB), 0, 0, "no end byte within 32 bytes"},
      {"cut off", {0xAB, 0x00, 0x00}, 1, 1, "cut off"},
      {"read step mismatch", good, 3, 2, "read step is 3"},
      {"read times mismatch", good, 2, 3, "read times is 3"},
      {"too long", Bytes(4097, 0xAB), 0, 0, "4097 bytes in one call, more than 4096"},
      {"empty", {}, 0, 0, "empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(WriteRead(c.bytes, c.step, c.times));
    EXPECT_NE(Diagnostic().find(c.diagnostic), std::string::npos) << Diagnostic();
  }

  // Packets without samples read nothing; the last packet may stop at its end
  // byte. Undriven lines read high (nothing of the refused calls ran), driven
  // ones carry their level: reset alone low, then reset, clock and data low,
  // then clock and data high, then nothing driven.
  Bytes lines;
  AddPacket(lines, {0x80});
  AddPacket(lines, {0x00, 0x42, 0x00, 0x6A, 0x00, 0xA8, 0x00, 0x40, 0x00}, false);
  EXPECT_EQ(WriteRead(lines, 5, 1), (Bytes{0xFF, 0xFD, 0xD5, 0xFD, 0xFF}));
}

TEST_F(Bridge, ClockCountsCallsBytesAndWaits) {
  const uint64_t start = KQ560SimNowUs();
  ASSERT_EQ(SendLine({0xFF, 0xFF, 0xC4}), 1u);
  EXPECT_EQ(KQ560SimNowUs() - start, 100u + 5u + 130u);  // call, bytes sent, waits
  Bytes b;
  AddPacket(b, {0x00, 0xE0, 0x00});  // two samples around a wait of 32 us
  ASSERT_TRUE(WriteRead(b, 2, 1));
  // Call, 32 bytes out, commands and wait, 1 ms turnaround, 2 bytes back.
  EXPECT_EQ(KQ560SimNowUs() - start, 235u + 100u + 32u + 2u + 32u + 1000u + 2u);
  KQ560SimStats stats;
  KQ560SimGetStats(&stats);
  EXPECT_EQ(stats.nowUs, start + 1403u);
  EXPECT_EQ(stats.calls, 3u);  // open and two writes
  EXPECT_EQ(stats.bytesSent, 5u + 32u);
  EXPECT_EQ(stats.bytesReceived, 2u);
}

struct Notice {
  uint32_t event;
  std::thread::id thread;
  bool slot5Named;
};
std::mutex gNoticesMutex;
std::vector<Notice> gNotices;

void KQ560_CALL RecordNotice(uint32_t event) {
  const bool named = KQ560GetDeviceName(5) != nullptr;  // calling back in is allowed
  std::lock_guard<std::mutex> lock(gNoticesMutex);
  gNotices.push_back({event, std::this_thread::get_id(), named});
}

TEST_F(Bridge, PlugNoticesComeFromTheSimulatorsOwnThread) {
  gNotices.clear();
  ASSERT_EQ(KQ560SetDeviceNotify(0, nullptr, RecordNotice), 1u);
  ASSERT_TRUE(KQ560SimPlug(5, 0x30));
  ASSERT_TRUE(KQ560SimUnplug(5));
  ASSERT_TRUE(KQ560SimWaitNotices(5000));  // the routine's own calls count too
  ASSERT_TRUE(KQ560SimSetFaults(("unplug=" + std::to_string(NextCall())).c_str()));
  EXPECT_EQ(SendLine({0x80}), 0u) << "the unplug fault fails its call";
  EXPECT_EQ(KQ560GetDeviceName(0), nullptr);
  ASSERT_TRUE(KQ560SimWaitNotices(5000));
  std::lock_guard<std::mutex> lock(gNoticesMutex);
  ASSERT_EQ(gNotices.size(), 3u);
  EXPECT_EQ(gNotices[0].event, kKq560EventArrival);
  EXPECT_NE(gNotices[0].thread, std::this_thread::get_id());
  EXPECT_EQ(gNotices[1].event, 4u);
  EXPECT_FALSE(gNotices[1].slot5Named) << "the device is gone when its removal arrives";
  EXPECT_EQ(gNotices[2].event, 4u);
}

TEST_F(Bridge, FaultsHitExactlyTheirCalls) {
  for (const char* bad : {"fail", "fail=0", "flip=3:1", "flip=3:1:8", "boom=3", "fail=3;short=4", "fail=3,"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(KQ560SimSetFaults(bad));
  }
  Bytes packet;
  AddPacket(packet, {0x80, 0x42, 0x00, 0x00});
  auto call = [](uint64_t later) { return std::to_string(NextCall() + later); };
  ASSERT_TRUE(KQ560SimSetFaults(("fail=" + call(0) + ",short=" + call(1) + ",flip=" + call(2) + ":1:7").c_str()));
  EXPECT_FALSE(WriteRead(packet, 2, 1));
  EXPECT_NE(Diagnostic().find("injected"), std::string::npos);
  EXPECT_EQ(WriteRead(packet, 2, 1), (Bytes{0xFD}));
  EXPECT_EQ(WriteRead(packet, 2, 1), (Bytes{0xFD, 0x7D}));
  EXPECT_EQ(WriteRead(packet, 2, 1), (Bytes{0xFD, 0xFD}));
}

}  // namespace
