// Serial programming transfers over the bridge's pin stream: every
// instruction byte becomes IoStream packets that clock the target's serial
// interface bit by bit and sample its data line; the samples are turned back
// into bytes. All transfers return non-zero on success and zero when a bridge
// call failed or its reply was short; nothing is retried.
#pragma once
#include <cstdint>

#include "link/io_stream_format.h"

// Packet buffers: a bit-banged AVR call carries at most 8 bytes (two packets
// each); an AT89S5x call at most 128 packets.
constexpr uint32_t kAvrPacketBufferSize = 512;
constexpr uint32_t kAvrBitBangMaxBytes = kAvrPacketBufferSize / (2 * kIoPacketSize);
constexpr uint32_t kAt89PacketBufferSize = 4096;
constexpr uint32_t kAt89PacketsPerCall = kAt89PacketBufferSize / kIoPacketSize;
constexpr uint32_t kAt89MaxInstructionBytes = kAt89PacketsPerCall - 1;
constexpr uint8_t kAt89PageWriteInstruction = 0x50;

// Lays out one packet at `packet` (a whole 32-byte slot, filler zeroed): start
// byte, `count` command bytes, end byte. Returns the length up to and
// including the end byte, or 0 when the commands do not fit in one packet.
uint32_t FrameIoPacket(uint8_t* packet, const uint8_t* commands, uint32_t count);

// AVR transfer, full duplex: sends `length` bytes of `buffer` and replaces
// them with the bytes received (reply byte k belongs to sent byte k). With
// `fast` non-zero the bytes go through the bridge's hardware SPI stream, any
// length; otherwise they are bit-banged, 1 to kAvrBitBangMaxBytes bytes per
// call (other lengths fail without touching the bridge). The caller's buffer
// changes only on success.
uint32_t AvrTransfer(uint32_t device, uint32_t length, uint8_t* buffer, int fast);

// AT89S5x write: sends `count` bytes, up to 128 per bridge call, stopping at
// the first failed call. A stream that starts with the page-write instruction
// waits 630 microseconds after every byte it sends. A count of 0 sends
// nothing and succeeds.
uint32_t At89WriteStream(uint32_t device, uint32_t count, const uint8_t* data);

// AT89S5x write-then-read: sends `writeCount` instruction bytes (at most
// kAt89MaxInstructionBytes, else failure before anything is sent), then clocks
// `readCount` bytes into `readBuffer`. `writeData` and `readBuffer` may be the
// same memory. A read count of 0 sends nothing and succeeds.
uint32_t At89WriteRead(uint32_t device, uint32_t writeCount, const uint8_t* writeData, uint32_t readCount,
                       uint8_t* readBuffer);
