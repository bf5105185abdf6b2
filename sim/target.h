// A virtual target chip on the bridge's lines: one serial-slave model for the
// AVR ATmega and AT89S5x families. Data into the target is taken on the
// clock's rising edge, data out changes on the falling edge; an 8-bit shift
// register sits between them, so a byte clocked in comes back out during the
// next byte (the AVR echo) unless the chip loads a reply into it.
#pragma once
#include <cstdint>
#include <vector>

#include "sim/chip_model.h"

namespace kq560sim {

// Time on the simulator's virtual clock.
using Nanos = uint64_t;
constexpr Nanos kForever = UINT64_MAX;
constexpr Nanos kMicro = 1000;
constexpr Nanos kMilli = 1000 * 1000;

// Data-sheet-like timings (documented in sim/README.md).
constexpr Nanos kAvrStartup = 20 * kMilli;      // after the reset pulse
constexpr Nanos kAvrEraseTime = 9 * kMilli;
constexpr Nanos kAvrPageTime = 4500 * kMicro;
constexpr Nanos kAvrEepromTime = 9 * kMilli;
constexpr Nanos kAvrConfigTime = 4500 * kMicro;  // fuse or lock write
constexpr Nanos kAt89Startup = 10 * kMilli;     // after reset goes high
constexpr Nanos kAt89EraseTime = 500 * kMilli;
constexpr Nanos kAt89ByteTime = 500 * kMicro;
constexpr Nanos kAt89LockTime = kAt89ByteTime;  // a lock-bit write is a write cycle like a byte's
constexpr uint32_t kAvrDefaultClockHz = 1000000;  // factory fuses: internal 1 MHz
constexpr uint32_t kAt89DefaultClockHz = 12000000;
// Shortest serial clock high and low phases the target sees, in its own clock cycles.
constexpr uint32_t kAvrCyclesPerPhase = 2;
constexpr uint32_t kAt89CyclesPerPhase = 8;  // the clock below 1/16 of the crystal

class Target {
 public:
  explicit Target(ChipState state);

  ChipState chip;
  bool dirty = false;  // persistent memory changed since the owner last saved it

  void SetClockHz(uint32_t hz);
  uint32_t ClockHz() const { return clockHz_; }
  void SetStuck(bool stuck) { stuck_ = stuck; }  // page writes never finish
  bool Stuck() const { return stuck_; }
  void SetPowered(Nanos now, bool on);

  // The bridge's lines changed. `levels` are the pin bits as the target sees
  // them (undriven lines already read high), `driven` the bits the bridge drives.
  void LinesChanged(Nanos now, uint8_t levels, uint8_t driven);
  // The target's data line: 0 or 1 while it drives it, -1 while it does not.
  int DataOut(Nanos now) const { return Active(now) ? shift_ >> 7 : -1; }
  bool Busy(Nanos now) const { return now < busyUntil_; }

  // The instructions the target took in, for tests that check exact bytes:
  // every 4-byte group while the lines are at programming level; an AT89S5x
  // page-mode instruction by its two leading bytes. Recording starts afresh
  // with room for `capacity` instructions; 0 stops it.
  struct Instruction {
    Nanos at;
    uint8_t bytes[4];
  };
  void StartTrace(uint32_t capacity);
  const std::vector<Instruction>& Trace() const { return trace_; }

 private:
  enum class Work : uint8_t { None, Erase, Page, Eeprom, Config, At89Byte, At89Lock };

  bool AtProgrammingLevel(uint8_t levels, uint8_t driven) const;
  void Record(Nanos now, uint32_t count);
  bool Active(Nanos now) const;
  void ResetShifter();
  void ClockEdge(Nanos now, bool high, bool data);
  void StartWork(Nanos now, Work work, Nanos duration, uint32_t from, uint32_t count);
  bool WorkCovers(Nanos now, Work work, uint32_t address) const;

  void AvrByte(Nanos now, uint8_t b);
  int AvrRead(Nanos now) const;
  void AvrExecute(Nanos now);
  int AvrLockMode() const;
  void At89Byte(Nanos now, uint8_t b);
  int At89LockLevel() const;
  uint8_t At89FlashRead(uint32_t address) const;
  void At89FlashWrite(Nanos now, uint32_t address, uint8_t value);

  uint32_t clockHz_ = kAvrDefaultClockHz;
  Nanos minPhase_ = 0;
  bool stuck_ = false;
  bool powered_ = true;

  uint8_t levels_ = 0x3F;  // nothing driven: every line reads high
  uint8_t driven_ = 0;
  bool armed_ = false;      // a valid entry into programming mode happened
  Nanos activeFrom_ = 0;
  Nanos pulseStart_ = 0;
  bool pulseClean_ = false;  // AVR reset pulse driven with the clock low throughout

  Nanos lastClockChange_ = 0;
  bool seenClock_ = true;    // clock level as the target registered it
  bool latched_ = false;
  bool haveLatch_ = false;
  uint8_t shift_ = 0;
  int bits_ = 0;

  bool enabled_ = false;     // Programming Enable accepted
  bool pageMode_ = false;    // AT89S5x page-mode instruction in progress
  uint32_t byteIndex_ = 0;
  uint8_t instr_[4] = {};

  Nanos busyUntil_ = 0;
  Work work_ = Work::None;
  uint32_t workFrom_ = 0, workCount_ = 0;
  std::vector<uint8_t> pageBuffer_;
  std::vector<Instruction> trace_;
  uint32_t traceCapacity_ = 0;
};

}  // namespace kq560sim
