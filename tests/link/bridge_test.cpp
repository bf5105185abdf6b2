#include "link/bridge.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tests/link/fake_kq560.h"

namespace {

using Ops = std::vector<Kq560Op>;

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFake(); }

  static Ops CalledOps() {
    Ops ops;
    for (const Kq560Call& c : Fake().calls) ops.push_back(c.op);
    return ops;
  }
};

TEST_F(BridgeTest, OpenSelectsMsbFirstStreamingOnlyWithHardwareSpi) {
  // Any open result but -1 means open, 0 included.
  const std::pair<uint32_t, int32_t> kCases[] = {{0x2F, 77}, {0x30, 0}};
  for (const auto& [version, opened] : kCases) {
    SCOPED_TRACE(version);
    ResetFake();
    Fake().openResults[4] = opened;
    Fake().version = version;
    BridgeState state = ClosedBridge();
    ASSERT_TRUE(OpenBridge(4, &state));

    Ops expected = {Kq560Op::Open, Kq560Op::SetExclusive, Kq560Op::GetVerIC};
    if (version >= 0x30) expected.push_back(Kq560Op::SetStream);
    ASSERT_EQ(CalledOps(), expected);
    for (const Kq560Call& c : Fake().calls) EXPECT_EQ(c.slot, 4u);
    EXPECT_EQ(Fake().calls[1].arg, 1u);  // exclusive
    if (version >= 0x30) {
      EXPECT_EQ(Fake().calls[3].arg, 0x81u);
    }
    EXPECT_TRUE(state.open);
    EXPECT_EQ(state.device, 4u);
    EXPECT_EQ(state.openResult, opened);
    EXPECT_EQ(state.version, version);
    EXPECT_EQ(state.hardwareSpi, version >= 0x30);
  }
}

TEST_F(BridgeTest, ScanStopsAtTheFirstSlotThatOpensAndFailureMarksTheBridgeClosed) {
  Fake().openResults[2] = 5;
  Fake().openResults[3] = 6;
  BridgeState state = ClosedBridge();
  ASSERT_TRUE(OpenFirstBridge(&state));
  const auto opens = Fake().CallsOf(Kq560Op::Open);
  ASSERT_EQ(opens.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(opens[i].slot, i);
  EXPECT_EQ(state.device, 2u);
  EXPECT_TRUE(state.open);
  EXPECT_TRUE(state.hardwareSpi);

  ResetFake();  // the bridge is gone: all sixteen slots tried, nothing else called
  EXPECT_FALSE(OpenFirstBridge(&state));
  EXPECT_EQ(CalledOps(), Ops(16, Kq560Op::Open));
  EXPECT_EQ(Fake().calls.back().slot, 15u);
  EXPECT_FALSE(state.open);
  EXPECT_FALSE(state.hardwareSpi);
  EXPECT_EQ(state.openResult, -1);
}

TEST_F(BridgeTest, CloseReleasesOnlyAnOpenBridge) {
  Fake().openResults[1] = 1;
  BridgeState state = ClosedBridge();
  ASSERT_TRUE(OpenBridge(1, &state));
  ResetFake();
  CloseBridge(&state);
  CloseBridge(&state);
  ASSERT_EQ(CalledOps(), Ops{Kq560Op::Close});
  EXPECT_EQ(Fake().calls[0].slot, 1u);
  EXPECT_FALSE(state.open);
}

}  // namespace
