// Shared set-up of the simulator tests. Bridge tests hand-build IoStream
// packets; target tests talk to the chip through the link layer, whose
// framing its own tests pin byte for byte against a fake bridge.
#pragma once
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/io_stream.h"
#include "link/kq560.h"
#include "link/line_sequences.h"
#include "sim/kq560sim.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;
using Reply = std::array<uint8_t, 4>;

// Every test starts from the deterministic set-up with the bridge in slot 0 open.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KQ560SimReset();
    ASSERT_EQ(KQ560OpenDevice(0), 0);
  }
};

inline std::string Diagnostic() { return KQ560SimLastDiagnostic(); }

inline uint64_t NextCall() {
  KQ560SimStats stats;
  KQ560SimGetStats(&stats);
  return stats.calls + 1;
}

// Appends one packet: start byte, commands, end byte, zero filler to 32 bytes.
inline void AddPacket(Bytes& out, const Bytes& commands, bool filler = true) {
  out.push_back(0xAB);
  out.insert(out.end(), commands.begin(), commands.end());
  out.push_back(0x20);
  if (filler) out.resize((out.size() + 31) / 32 * 32, 0);
}

// One unfilled packet through KQ560WriteData, as the line sequences send them.
inline uint32_t SendLine(const Bytes& commands) {
  Bytes b;
  AddPacket(b, commands, false);
  uint32_t length = static_cast<uint32_t>(b.size());
  return KQ560WriteData(0, b.data(), &length);
}

// The whole buffer through KQ560WriteRead; the samples, or nothing if the call failed.
inline std::optional<Bytes> WriteRead(Bytes b, uint32_t step, uint32_t times) {
  const uint32_t length = static_cast<uint32_t>(b.size());
  b.push_back(0);  // an empty call still needs a buffer
  uint32_t got = 0;
  if (!KQ560WriteRead(0, length, b.data(), step, times, &got, b.data())) return std::nullopt;
  b.resize(got);
  return b;
}

// One bit-banged AVR instruction; the reply bytes (all 0xFF from a silent target).
inline Reply Avr(Reply instruction) {
  EXPECT_EQ(AvrTransfer(0, 4, instruction.data(), 0), 1u) << Diagnostic();
  return instruction;
}

// The AVR entry: lines low, a reset pulse, the wait for the chip to wake, Programming Enable.
inline void EnterAvr() {
  EnterAvrProgramming(0);
  PulseAvrReset(0);
  KQ560SimAdvanceMs(25);
  Avr({0xAC, 0x53, 0xFF, 0x00});
}

}  // namespace simtest
