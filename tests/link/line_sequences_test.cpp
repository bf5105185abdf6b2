#include "link/line_sequences.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/link/fake_kq560.h"

namespace {

using Bytes = std::vector<uint8_t>;

const struct Sequence {
  const char* name;
  uint32_t (*run)(uint32_t);
  std::vector<Bytes> packets;  // one bridge write each, without filler
} kSequences[] = {
    {"EnterAvrProgramming", EnterAvrProgramming, {{0xAB, 0x80, 0x6A, 0xE0, 0x20}}},
    {"EnterAt89Programming", EnterAt89Programming, {{0xAB, 0x82, 0x6A, 0xE0, 0x20}}},
    {"DriveLinesLow", DriveLinesLow, {{0xAB, 0x80, 0x6A, 0x20}}},
    {"PulseAvrReset", PulseAvrReset, {{0xAB, 0x82, 0x20}, {0xAB, 0x80, 0x20}}},
    {"ResetAvrTarget", ResetAvrTarget,
     {{0xAB, 0x80, 0x6A, 0xE0, 0x20}, {0xAB, 0x82, 0x20}, {0xAB, 0x80, 0x20}, {0xAB, 0x82, 0x20},
      {0xAB, 0xFF, 0x40, 0x20}}},
    {"ResetAt89Target", ResetAt89Target,
     {{0xAB, 0x82, 0x6A, 0xE0, 0x20}, {0xAB, 0x80, 0x20}, {0xAB, 0x82, 0x20}, {0xAB, 0x80, 0x20},
      {0xAB, 0xFD, 0x42, 0x20}}},
};

// The result is the last call's, as it is: the Reset button counts only
// exactly 1 as success. The first failed call ends a sequence.
TEST(LineSequences, EachSequenceSendsItsPacketsAndStopsAtTheFirstFailure) {
  for (const Sequence& s : kSequences) {
    SCOPED_TRACE(s.name);
    ResetFake();
    for (size_t i = 0; i < s.packets.size(); ++i) Fake().dataResults[i] = uint32_t(i + 2);
    EXPECT_EQ(s.run(9), s.packets.size() + 1);
    ASSERT_EQ(Fake().calls.size(), s.packets.size());
    for (size_t i = 0; i < s.packets.size(); ++i) {
      EXPECT_EQ(Fake().calls[i].op, Kq560Op::WriteData);
      EXPECT_EQ(Fake().calls[i].slot, 9u);
      EXPECT_EQ(Fake().calls[i].bytes, s.packets[i]);
    }
    for (size_t failing = 0; failing < s.packets.size(); ++failing) {
      ResetFake();
      Fake().dataResults[failing] = 0;
      EXPECT_EQ(s.run(1), 0u);
      EXPECT_EQ(Fake().calls.size(), failing + 1);
    }
  }
}

}  // namespace
