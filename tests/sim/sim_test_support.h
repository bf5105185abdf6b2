// Hand-built IoStream traffic for driving the simulator's lines in tests,
// independent of the link layer's framing.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "link/kq560.h"
#include "sim/kq560sim.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;
using Reply = std::array<uint8_t, 4>;

// Appends one packet: start byte, commands, end byte, zero filler to 32 bytes.
inline void AddPacket(Bytes& out, std::initializer_list<uint8_t> commands, bool filler = true) {
  out.push_back(0xAB);
  out.insert(out.end(), commands);
  out.push_back(0x20);
  if (filler) out.resize((out.size() + 31) / 32 * 32, 0);
}

// One unfilled packet through KQ560WriteData, as the line sequences send them.
inline uint32_t SendLine(std::initializer_list<uint8_t> commands, uint32_t slot = 0) {
  Bytes b;
  AddPacket(b, commands, false);
  uint32_t length = static_cast<uint32_t>(b.size());
  return KQ560WriteData(slot, b.data(), &length);
}

// The pins as one sample command sees them.
inline int SamplePins(uint32_t slot = 0) {
  Bytes b;
  AddPacket(b, {0x00});
  uint32_t got = 0;
  if (!KQ560WriteRead(slot, 32, b.data(), 1, 1, &got, b.data()) || got != 1) return -1;
  return b[0];
}

inline Bytes AvrPackets(const Reply& instruction) {
  Bytes b;
  for (uint8_t byte : instruction) {
    for (int half = 0; half < 2; ++half) {
      b.push_back(0xAB);
      uint8_t d = 0;
      for (int i = 0; i < 4; ++i) {
        d = (byte >> (7 - 4 * half - i)) & 1 ? 0x20 : 0x00;
        b.insert(b.end(), {static_cast<uint8_t>(0x80 | d), 0xC4, static_cast<uint8_t>(0x88 | d), 0x00, 0xC4});
      }
      b.push_back(static_cast<uint8_t>(0x80 | d));
      b.push_back(0x20);
      b.resize((b.size() + 31) / 32 * 32, 0);
    }
  }
  return b;
}

// One bit-banged AVR instruction; the reply bytes, or {} with *ok false.
inline Reply Avr(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, bool* ok = nullptr) {
  Bytes b = AvrPackets({b0, b1, b2, b3});
  uint32_t got = 0;
  const bool sent = KQ560WriteRead(0, static_cast<uint32_t>(b.size()), b.data(), 4, 8, &got, b.data()) && got == 32;
  if (ok) *ok = sent;
  Reply r = {};
  for (int k = 0; sent && k < 32; ++k)
    if (b[k] & 0x80) r[k / 8] |= static_cast<uint8_t>(0x80 >> (k % 8));
  return r;
}

// Reset, clock and data driven low; then (optionally) a reset pulse and a wait.
inline void EnterAvr(bool pulse = true, uint32_t waitMs = 25) {
  SendLine({0x80, 0x6A, 0xE0});
  if (pulse) {
    SendLine({0x82});
    SendLine({0x80});
  }
  KQ560SimAdvanceMs(waitMs);
}

// AT89S5x bytes clocked out with reset high; `pageWaits` adds 630 us after each byte.
inline bool At89Write(const Bytes& data, bool pageWaits) {
  for (size_t first = 0; first < data.size(); first += 128) {
    Bytes b;
    for (size_t k = first; k < data.size() && k < first + 128; ++k) {
      b.push_back(0xAB);
      uint8_t d = 0;
      for (int i = 7; i >= 0; --i) {
        d = (data[k] >> i) & 1 ? 0x20 : 0x00;
        b.push_back(static_cast<uint8_t>(0x82 | d));
        b.push_back(static_cast<uint8_t>(0x8A | d));
      }
      b.push_back(static_cast<uint8_t>(0x82 | d));
      if (pageWaits) b.insert(b.end(), 10, 0xFF);
      b.push_back(0x20);
      b.resize((b.size() + 31) / 32 * 32, 0);
    }
    uint32_t length = static_cast<uint32_t>(b.size());
    if (!KQ560WriteData(0, b.data(), &length)) return false;
  }
  return true;
}

// AT89S5x instruction bytes, then `count` bytes read; calls of at most 128 packets.
inline Bytes At89Read(const Bytes& instruction, uint32_t count) {
  Bytes b, out;
  for (uint8_t byte : instruction) {
    b.push_back(0xAB);
    uint8_t d = 0;
    for (int i = 7; i >= 0; --i) {
      d = (byte >> i) & 1 ? 0x20 : 0x00;
      b.insert(b.end(), {static_cast<uint8_t>(0x82 | d), static_cast<uint8_t>(0x8A | d)});
    }
    b.push_back(static_cast<uint8_t>(0x82 | d));
    b.push_back(0x20);
    b.resize((b.size() + 31) / 32 * 32, 0);
  }
  while (out.size() < count) {
    const uint32_t packets = std::min<uint32_t>(count - static_cast<uint32_t>(out.size()),
                                                128 - static_cast<uint32_t>(b.size()) / 32);
    for (uint32_t k = 0; k < packets; ++k) {
      b.push_back(0xAB);
      for (int i = 0; i < 8; ++i) b.insert(b.end(), {0x8A, 0x00, 0x82});
      b.push_back(0x20);
      b.resize((b.size() + 31) / 32 * 32, 0);
    }
    uint32_t got = 0;
    if (!KQ560WriteRead(0, static_cast<uint32_t>(b.size()), b.data(), 8, packets, &got, b.data()) ||
        got != 8 * packets)
      return {};
    for (uint32_t k = 0; k < packets; ++k) {
      uint8_t value = 0;
      for (int i = 0; i < 8; ++i)
        if (b[8 * k + i] & 0x80) value |= static_cast<uint8_t>(0x80 >> i);
      out.push_back(value);
    }
    b.clear();
  }
  return out;
}

inline void EnterAt89() {
  SendLine({0x80, 0x6A});
  KQ560SimAdvanceMs(1);
  SendLine({0x82, 0x6A, 0xE0});
  KQ560SimAdvanceMs(100);
}

inline void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value ? value : "");
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

inline std::string Diagnostic() { return KQ560SimLastDiagnostic(); }

}  // namespace simtest
