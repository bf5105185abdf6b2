// Hand-built IoStream traffic for driving the simulator's lines in tests,
// independent of the link layer's framing.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/kq560.h"
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

// Filler data that differs from byte to byte.
inline Bytes Pattern(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + 7 * i);
  return b;
}

// Bit-banged bytes, four bits per packet: data set up with the clock low, then
// the clock raised and the data line sampled. `reset` is held on the reset line
// (0x02 high); `waits` adds that many 63 us waits to each packet. With
// `wrongEdge` the data changes in the same instant as the clock rises.
inline Bytes BitPackets(const Bytes& data, uint8_t reset = 0, int waits = 0, bool wrongEdge = false) {
  Bytes b;
  for (size_t first = 0; first < 8 * data.size(); first += 4) {
    Bytes commands;
    uint8_t d = 0;
    for (size_t i = first; i < first + 4; ++i) {
      d = static_cast<uint8_t>(0x80 | reset | ((data[i / 8] >> (7 - i % 8)) & 1 ? 0x20 : 0x00));
      const uint8_t low = d, high = d | 0x08;
      commands.insert(commands.end(), {wrongEdge ? high : low, 0xC4, wrongEdge ? low : high, 0x00, 0xC4});
    }
    commands.push_back(d);
    commands.insert(commands.end(), waits, 0xFF);
    AddPacket(b, commands);
  }
  return b;
}

// Sends bytes full duplex as BitPackets, at most 128 packets per call; the
// bytes read back (zero where a call failed).
inline Bytes BitBang(const Bytes& data, uint8_t reset = 0, int waits = 0) {
  const Bytes packets = BitPackets(data, reset, waits);
  Bytes samples;
  for (size_t first = 0; first < packets.size(); first += 4096) {
    const Bytes call(packets.begin() + first, packets.begin() + std::min(packets.size(), first + 4096));
    const Bytes got = WriteRead(call, 4, static_cast<uint32_t>(call.size() / 32)).value_or(Bytes(call.size() / 8));
    samples.insert(samples.end(), got.begin(), got.end());
  }
  Bytes reply(data.size());
  for (size_t k = 0; k < samples.size() && k < 8 * reply.size(); ++k)
    if (samples[k] & 0x80) reply[k / 8] |= static_cast<uint8_t>(0x80 >> (k % 8));
  return reply;
}

// One bit-banged AVR instruction; the reply bytes.
inline Reply Avr(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  const Bytes data = BitBang({b0, b1, b2, b3});
  return {data[0], data[1], data[2], data[3]};
}

// Reset, clock and data driven low, a reset pulse, and the wait for the chip to wake.
inline void EnterAvr() {
  SendLine({0x80, 0x6A, 0xE0});
  SendLine({0x82});
  SendLine({0x80});
  KQ560SimAdvanceMs(25);
}

}  // namespace simtest
