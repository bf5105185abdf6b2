// The bridge's pin-stream command format (IoStream), shared by the framing,
// the line sequences and anything that has to read such packets back.
//
// A stream command fills one 32-byte packet: the start byte, command bytes
// executed in order, the end byte, then filler up to the packet boundary.
// The two top bits of a command byte select the command; below 0x40 only
// sample (0x00) and end (0x20) exist.
#pragma once
#include <cstdint>

constexpr uint32_t kIoPacketSize = 32;

constexpr uint8_t kIoStart = 0xAB;
constexpr uint8_t kIoEnd = 0x20;
constexpr uint8_t kIoSample = 0x00;      // one reply byte carrying the input pins
constexpr uint8_t kIoDirection = 0x40;   // | pin bits: set bit = driven output
constexpr uint8_t kIoOutput = 0x80;      // | pin bits: output levels of bits 0x01-0x20
constexpr uint8_t kIoWait = 0xC0;        // | n: wait n microseconds
constexpr uint8_t kIoCommandMask = 0xC0;
constexpr uint8_t kIoArgumentMask = 0x3F;
constexpr uint8_t kIoMaxWait = 63;

// Pin bits, the same in output, direction and sample bytes.
constexpr uint8_t kPinReset = 0x02;
constexpr uint8_t kPinClock = 0x08;
constexpr uint8_t kPinDataOut = 0x20;    // data to the target
constexpr uint8_t kPinDataIn = 0x80;     // data from the target, only in sample bytes
constexpr uint8_t kPinsProgramming = kPinReset | kPinClock | kPinDataOut;

constexpr uint8_t IoOutput(uint8_t pins) { return static_cast<uint8_t>(kIoOutput | (pins & kIoArgumentMask)); }
constexpr uint8_t IoDirection(uint8_t pins) { return static_cast<uint8_t>(kIoDirection | (pins & kIoArgumentMask)); }
constexpr uint8_t IoWait(uint8_t microseconds) {
  return static_cast<uint8_t>(kIoWait | (microseconds > kIoMaxWait ? kIoMaxWait : microseconds));
}

// A data bit's level on the data-out pin.
constexpr uint8_t DataPin(bool one) { return one ? kPinDataOut : 0; }

