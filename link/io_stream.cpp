#include "link/io_stream.h"

#include <cstring>

#include "link/kq560.h"

namespace {

// AVR bit: data with the clock low, 4 us, clock high and sample at once, 4 us.
// Reset stays low throughout.
constexpr uint32_t kAvrBitsPerPacket = 4;
constexpr uint32_t kAvrPacketsPerByte = 8 / kAvrBitsPerPacket;
constexpr uint8_t kAvrHalfBitWait = 4;
// Samples per AVR byte, one per bit.
constexpr uint32_t kSamplesPerByte = 8;

// AT89S5x page writes need 630 us after every byte: ten of the longest waits.
constexpr uint32_t kAt89PageWaits = 10;

// The longest packet built here is 29 bytes; every packet must fit its slot.
static_assert(1 + 8 * 2 + 1 + kAt89PageWaits + 1 <= kIoPacketSize, "AT89S5x page-write packet too long");
static_assert(1 + kAvrBitsPerPacket * 5 + 1 + 1 <= kIoPacketSize, "AVR packet too long");
static_assert(1 + 8 * 3 + 1 <= kIoPacketSize, "AT89S5x read packet too long");

// Clears a packet slot (the filler is then zero) and writes the start byte.
uint8_t* BeginPacket(uint8_t* packet) {
  std::memset(packet, 0, kIoPacketSize);
  packet[0] = kIoStart;
  return packet + 1;
}

bool Bit(uint8_t byte, int bit) { return (byte >> bit) & 1; }

// One of the two packets of an AVR byte: bits firstBit down to firstBit-3.
void BuildAvrPacket(uint8_t* packet, uint8_t byte, int firstBit) {
  uint8_t* p = BeginPacket(packet);
  uint8_t level = 0;
  for (int bit = firstBit; bit > firstBit - static_cast<int>(kAvrBitsPerPacket); --bit) {
    level = DataPin(Bit(byte, bit));
    *p++ = IoOutput(level);
    *p++ = IoWait(kAvrHalfBitWait);
    *p++ = IoOutput(level | kPinClock);
    *p++ = kIoSample;
    *p++ = IoWait(kAvrHalfBitWait);
  }
  *p++ = IoOutput(level);  // clock low again, data unchanged
  *p = kIoEnd;
}

// One AT89S5x byte written with reset high: clock up and down per bit, no waits.
void BuildAt89WritePacket(uint8_t* packet, uint8_t byte, bool pageWrite) {
  uint8_t* p = BeginPacket(packet);
  uint8_t level = kPinReset;
  for (int bit = 7; bit >= 0; --bit) {
    level = kPinReset | DataPin(Bit(byte, bit));
    *p++ = IoOutput(level);
    *p++ = IoOutput(level | kPinClock);
  }
  *p++ = IoOutput(level);
  if (pageWrite) {
    for (uint32_t i = 0; i < kAt89PageWaits; ++i) *p++ = IoWait(kIoMaxWait);
  }
  *p = kIoEnd;
}

// One AT89S5x byte read with reset high and the data line low: sample while
// the clock is high.
void BuildAt89ReadPacket(uint8_t* packet) {
  uint8_t* p = BeginPacket(packet);
  for (int bit = 0; bit < 8; ++bit) {
    *p++ = IoOutput(kPinReset | kPinClock);
    *p++ = kIoSample;
    *p++ = IoOutput(kPinReset);
  }
  *p = kIoEnd;
}

// Eight sample bytes to one data byte, most significant bit first.
uint8_t SampledByte(const uint8_t* samples) {
  uint8_t byte = 0;
  for (uint32_t j = 0; j < kSamplesPerByte; ++j) {
    byte = static_cast<uint8_t>((byte << 1) | ((samples[j] & kPinDataIn) ? 1 : 0));
  }
  return byte;
}

}  // namespace

uint32_t FrameIoPacket(uint8_t* packet, const uint8_t* commands, uint32_t count) {
  if (count > kIoPacketSize - 2) return 0;
  uint8_t* p = BeginPacket(packet);
  if (count) std::memcpy(p, commands, count);
  p[count] = kIoEnd;
  return count + 2;
}

uint32_t AvrTransfer(uint32_t device, uint32_t length, uint8_t* buffer, int fast) {
  if (fast) return KQ560StreamSPI4(device, 0, length, buffer);

  if (length == 0 || length > kAvrBitBangMaxBytes || !buffer) return 0;
  uint8_t packets[kAvrPacketBufferSize];
  for (uint32_t k = 0; k < length; ++k) {
    uint8_t* slot = packets + k * kAvrPacketsPerByte * kIoPacketSize;
    BuildAvrPacket(slot, buffer[k], 7);
    BuildAvrPacket(slot + kIoPacketSize, buffer[k], 3);
  }
  uint32_t readLength = 0;
  const uint32_t result = KQ560WriteRead(device, length * kAvrPacketsPerByte * kIoPacketSize, packets,
                                         kAvrBitsPerPacket, length * kAvrPacketsPerByte, &readLength, packets);
  if (result == 0 || readLength != length * kSamplesPerByte) return 0;
  for (uint32_t k = 0; k < length; ++k) buffer[k] = SampledByte(packets + k * kSamplesPerByte);
  return 1;
}

uint32_t At89WriteStream(uint32_t device, uint32_t count, const uint8_t* data) {
  if (count == 0) return 1;
  if (!data) return 0;
  // Decided once: the instruction's own bytes and every later chunk wait too.
  const bool pageWrite = data[0] == kAt89PageWriteInstruction;
  uint8_t packets[kAt89PacketBufferSize];
  uint32_t sent = 0;
  while (sent < count) {
    uint32_t chunk = count - sent;
    if (chunk > kAt89PacketsPerCall) chunk = kAt89PacketsPerCall;
    for (uint32_t i = 0; i < chunk; ++i) BuildAt89WritePacket(packets + i * kIoPacketSize, data[sent + i], pageWrite);
    uint32_t length = chunk * kIoPacketSize;
    if (KQ560WriteData(device, packets, &length) == 0) return 0;
    sent += chunk;
  }
  return 1;
}

uint32_t At89WriteRead(uint32_t device, uint32_t writeCount, const uint8_t* writeData, uint32_t readCount,
                       uint8_t* readBuffer) {
  if (writeCount > kAt89MaxInstructionBytes) return 0;
  if ((writeCount && !writeData) || (readCount && !readBuffer)) return 0;
  // Nothing to clock in: the instruction alone is not sent.
  if (readCount == 0) return 1;

  uint8_t packets[kAt89PacketBufferSize];
  // All write bytes are in packets before the first reply lands, so the read
  // buffer may overwrite them.
  for (uint32_t i = 0; i < writeCount; ++i) BuildAt89WritePacket(packets + i * kIoPacketSize, writeData[i], false);

  uint32_t leadPackets = writeCount;  // write packets in front of this call's reads
  uint32_t done = 0;
  while (done < readCount) {
    uint32_t reads = readCount - done;
    if (reads > kAt89PacketsPerCall - leadPackets) reads = kAt89PacketsPerCall - leadPackets;
    for (uint32_t i = 0; i < reads; ++i) BuildAt89ReadPacket(packets + (leadPackets + i) * kIoPacketSize);
    uint32_t readLength = 0;
    const uint32_t result = KQ560WriteRead(device, (leadPackets + reads) * kIoPacketSize, packets,
                                           kSamplesPerByte, reads, &readLength, packets);
    if (result == 0 || readLength != reads * kSamplesPerByte) return 0;
    for (uint32_t i = 0; i < reads; ++i) readBuffer[done + i] = SampledByte(packets + i * kSamplesPerByte);
    done += reads;
    leadPackets = 0;
  }
  return 1;
}
