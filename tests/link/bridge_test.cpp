#include "link/bridge.h"

#include <gtest/gtest.h>

#include "link/kq560.h"
#include "tests/link/fake_kq560.h"

namespace {

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFake(); }

  static std::vector<Kq560Op> Ops() {
    std::vector<Kq560Op> ops;
    for (const Kq560Call& c : Fake().calls) ops.push_back(c.op);
    return ops;
  }
};

TEST_F(BridgeTest, OpeningABridgeWithHardwareSpiSelectsMsbFirstStreaming) {
  Fake().openResults[4] = 0;  // any value but -1 means open
  Fake().version = 0x30;
  BridgeState state = ClosedBridge();
  ASSERT_TRUE(OpenBridge(4, &state));

  EXPECT_EQ(Ops(), (std::vector<Kq560Op>{Kq560Op::Open, Kq560Op::SetExclusive, Kq560Op::GetVerIC,
                                         Kq560Op::SetStream}));
  for (const Kq560Call& c : Fake().calls) EXPECT_EQ(c.slot, 4u);
  EXPECT_EQ(Fake().calls[1].arg, 1u);
  EXPECT_EQ(Fake().calls[3].arg, 0x81u);
  EXPECT_TRUE(state.open);
  EXPECT_EQ(state.device, 4u);
  EXPECT_EQ(state.openResult, 0);
  EXPECT_EQ(state.version, 0x30u);
  EXPECT_TRUE(state.hardwareSpi);
}

TEST_F(BridgeTest, OlderBridgeKeepsItsStreamMode) {
  Fake().openResults[0] = 77;
  Fake().version = 0x2F;
  BridgeState state = ClosedBridge();
  ASSERT_TRUE(OpenBridge(0, &state));
  EXPECT_EQ(Ops(), (std::vector<Kq560Op>{Kq560Op::Open, Kq560Op::SetExclusive, Kq560Op::GetVerIC}));
  EXPECT_EQ(state.openResult, 77);
  EXPECT_FALSE(state.hardwareSpi);
}

TEST_F(BridgeTest, FailedOpenMarksTheBridgeClosed) {
  Fake().openResults[3] = 1;
  BridgeState state = ClosedBridge();
  ASSERT_TRUE(OpenBridge(3, &state));
  ResetFake();
  EXPECT_FALSE(OpenBridge(3, &state));
  EXPECT_EQ(Ops(), (std::vector<Kq560Op>{Kq560Op::Open}));
  EXPECT_FALSE(state.open);
  EXPECT_FALSE(state.hardwareSpi);
  EXPECT_EQ(state.openResult, -1);
}

TEST_F(BridgeTest, ScanStopsAtTheFirstSlotThatOpens) {
  Fake().openResults[2] = 5;
  Fake().openResults[3] = 6;
  BridgeState state = ClosedBridge();
  ASSERT_TRUE(OpenFirstBridge(&state));
  const auto opens = Fake().CallsOf(Kq560Op::Open);
  ASSERT_EQ(opens.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(opens[i].slot, i);
  EXPECT_EQ(Fake().calls.back().slot, 2u);
  EXPECT_EQ(state.device, 2u);
  EXPECT_TRUE(state.open);
}

TEST_F(BridgeTest, ScanWithoutABridgeTriesAllSixteenSlots) {
  BridgeState state = ClosedBridge();
  EXPECT_FALSE(OpenFirstBridge(&state));
  EXPECT_EQ(Fake().calls.size(), 16u);
  EXPECT_EQ(Fake().CallsOf(Kq560Op::Open).back().slot, 15u);
  EXPECT_FALSE(state.open);
}

TEST_F(BridgeTest, CloseReleasesOnlyAnOpenBridge) {
  Fake().openResults[1] = 1;
  BridgeState state = ClosedBridge();
  ASSERT_TRUE(OpenBridge(1, &state));
  ResetFake();
  CloseBridge(&state);
  CloseBridge(&state);
  ASSERT_EQ(Fake().calls.size(), 1u);
  EXPECT_EQ(Fake().calls[0].op, Kq560Op::Close);
  EXPECT_EQ(Fake().calls[0].slot, 1u);
  EXPECT_FALSE(state.open);
}

}  // namespace
