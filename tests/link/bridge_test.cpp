#include "link/bridge.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/link/fake_kq560.h"

namespace {

using Ops = std::vector<Kq560Op>;

Ops CalledOps() {
  Ops ops;
  for (const Kq560Call& c : Fake().calls) ops.push_back(c.op);
  return ops;
}

// Any open result but -1 means open, 0 included; only a bridge with the
// hardware SPI stream is switched to most-significant-bit-first streaming.
TEST(Bridge, OpenSelectsMsbFirstStreamingOnlyWithHardwareSpi) {
  for (const auto& [version, opened] : std::vector<std::pair<uint32_t, int32_t>>{{0x2F, 77}, {0x30, 0}}) {
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
    EXPECT_EQ(Fake().calls.back().arg, version >= 0x30 ? 0x81u : 0u);
    EXPECT_TRUE(state.open && state.device == 4 && state.openResult == opened && state.version == version);
    EXPECT_EQ(state.hardwareSpi, version >= 0x30);
  }
}

// The scan stops at the first slot that opens; a bridge that is gone costs
// sixteen opens and marks the state closed; only an open bridge is closed.
TEST(Bridge, ScanAndClose) {
  ResetFake();
  Fake().openResults[2] = 5;
  Fake().openResults[3] = 6;
  BridgeState state = ClosedBridge();
  ASSERT_TRUE(OpenFirstBridge(&state));
  EXPECT_EQ(CalledOps(), (Ops{Kq560Op::Open, Kq560Op::Open, Kq560Op::Open, Kq560Op::SetExclusive,
                              Kq560Op::GetVerIC, Kq560Op::SetStream}));
  EXPECT_TRUE(state.open && state.device == 2 && state.hardwareSpi && Fake().calls[2].slot == 2);
  ResetFake();
  CloseBridge(&state);
  CloseBridge(&state);
  EXPECT_EQ(CalledOps(), Ops{Kq560Op::Close});
  EXPECT_TRUE(!state.open && Fake().calls[0].slot == 2);
  ResetFake();
  EXPECT_FALSE(OpenFirstBridge(&state));
  EXPECT_EQ(CalledOps(), Ops(16, Kq560Op::Open));
  EXPECT_TRUE(!state.open && !state.hardwareSpi && state.openResult == -1 && Fake().calls.back().slot == 15);
}

}  // namespace
