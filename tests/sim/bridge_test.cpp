// The simulated bridge: slots, the strict IoStream interpreter, pins, clock,
// plug notices and faults.
#include <atomic>
#include <chrono>
#include <thread>

#include "sim_test_support.h"

using namespace simtest;

namespace {

using Bridge = SimTest;

// Each plug notice and whether slot 0 had a bridge when it came; written by
// the simulator's own notice thread, read after KQ560SimWaitNotices.
std::vector<std::pair<uint32_t, bool>> gNotices;

void KQ560_CALL RecordNotice(uint32_t event) {
  gNotices.push_back({event, KQ560GetDeviceName(0) != nullptr});  // calling back in is allowed
}

TEST_F(Bridge, SlotsVersionsExclusiveUseAndPlugNotices) {
  EXPECT_EQ(KQ560OpenDevice(1), kKq560OpenFailed) << "empty slot";
  EXPECT_EQ(KQ560SetExclusive(0, 1), 1u);
  EXPECT_EQ(KQ560OpenDevice(0), kKq560OpenFailed) << "exclusive use";
  EXPECT_EQ(KQ560CloseDevice(0), 1u);
  EXPECT_EQ(SendLine({0x80}), 0u) << "writes need an open bridge";
  EXPECT_EQ(KQ560OpenDevice(0), 0) << "closing ends the exclusive use";

  gNotices.clear();
  ASSERT_EQ(KQ560SetDeviceNotify(0, nullptr, RecordNotice), 1u);
  ASSERT_TRUE(KQ560SimUnplug(0));
  ASSERT_TRUE(KQ560SimWaitNotices(5000));  // the routine's own calls count too
  ASSERT_TRUE(KQ560SimPlug(0, 0x2F));
  ASSERT_TRUE(KQ560SimWaitNotices(5000));
  EXPECT_EQ(gNotices, (std::vector<std::pair<uint32_t, bool>>{{4, false}, {kKq560EventArrival, true}}));
  EXPECT_EQ(SendLine({0x80}), 0u) << "unplugging closed it";
  ASSERT_EQ(KQ560OpenDevice(0), 0);
  EXPECT_EQ(KQ560GetVerIC(0), 0x2Fu);
  EXPECT_EQ(KQ560SetStream(0, kKq560StreamSpiMsbFirst), 0u);
  EXPECT_NE(Diagnostic().find("version 0x2F has no SPI stream"), std::string::npos) << Diagnostic();
}

TEST_F(Bridge, InterpreterRefusesMalformedStreamsWhole) {
  Bytes good;
  AddPacket(good, {0x00, 0x00});
  AddPacket(good, {0x00, 0x00});
  Bytes badStart = good;
  badStart[32] = 0xAA;
  Bytes badCommand;
  AddPacket(badCommand, {0x42, 0x80, 0x10});  // would drive reset low before the bad byte
  const struct {
    Bytes bytes;
    uint32_t step, times;
    const char* diagnostic;
  } cases[] = {
      {badStart, 2, 2, "(KQ560WriteRead, slot 0): packet at offset 32 starts with 0xAA, not 0xAB"},
      {badCommand, 0, 0, "bad command byte 0x10"},
      {Bytes(40, 0xAB), 0, 0, "no end byte within 32 bytes"},
      {{0xAB, 0x00, 0x00}, 1, 1, "cut off"},
      {good, 3, 2, "read step is 3"},
      {good, 2, 3, "read times is 3"},
      {Bytes(4097, 0xAB), 0, 0, "4097 bytes in one call, more than 4096"},
      {{}, 0, 0, "empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.diagnostic);
    EXPECT_FALSE(WriteRead(c.bytes, c.step, c.times));
    EXPECT_NE(Diagnostic().find(c.diagnostic), std::string::npos) << Diagnostic();
  }
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
}

TEST_F(Bridge, FaultsHitExactlyTheirCalls) {
  for (const char* bad : {"fail", "fail=0", "flip=3:1", "flip=3:1:8", "boom=3", "fail=3;short=4", "fail=3,", "hang="}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(KQ560SimSetFaults(bad));
  }
  Bytes packet;
  AddPacket(packet, {0x80, 0x42, 0x00, 0x00});
  auto call = [](uint64_t later) { return std::to_string(NextCall() + later); };
  ASSERT_TRUE(KQ560SimSetFaults(("fail=" + call(0) + ",short=" + call(1) + ",flip=" + call(2) + ":1:7").c_str()));
  EXPECT_FALSE(WriteRead(packet, 2, 1));
  EXPECT_EQ(WriteRead(packet, 2, 1), (Bytes{0xFD}));
  EXPECT_EQ(WriteRead(packet, 2, 1), (Bytes{0xFD, 0x7D}));
  EXPECT_EQ(WriteRead(packet, 2, 1), (Bytes{0xFD, 0xFD}));

  // A hung call gives the simulator's lock up first: other threads, and a
  // handler that ends the process, can still use the library.
  static std::atomic<bool> returned{false};
  ASSERT_TRUE(KQ560SimSetFaults(("hang=" + std::to_string(NextCall())).c_str()));
  std::thread([] { returned = KQ560GetVerIC(0) || true; }).detach();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_STREQ(KQ560GetDeviceName(0), "KQ560-0");
  EXPECT_EQ(KQ560GetVerIC(0), 0x30u);
  EXPECT_FALSE(returned);
  ASSERT_TRUE(KQ560SimSetFaults(("unplug=" + call(0)).c_str()));
  EXPECT_FALSE(WriteRead(packet, 2, 1));
  EXPECT_EQ(KQ560GetDeviceName(0), nullptr) << "unplugged before the call ran";
}

}  // namespace
