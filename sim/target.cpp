#include "sim/target.h"

#include <algorithm>
#include <utility>

#include "link/io_stream_format.h"

namespace kq560sim {
namespace {
constexpr uint8_t kEesave = 0x08;  // high fuse bit 3 on every catalogue ATmega
constexpr uint8_t kSpien = 0x20;   // high fuse bit 5
}  // namespace

Target::Target(ChipState state) : chip(std::move(state)) {
  pageBuffer_.assign(chip.pageSize, 0xFF);
  SetClockHz(chip.family == Family::At89 ? kAt89DefaultClockHz : kAvrDefaultClockHz);
}

void Target::SetClockHz(uint32_t hz) {
  clockHz_ = hz ? hz : 1;
  const uint32_t cycles = chip.family == Family::At89 ? kAt89CyclesPerPhase : kAvrCyclesPerPhase;
  minPhase_ = cycles * 1000000000ull / clockHz_;
}

void Target::SetPowered(Nanos now, bool on) {
  if (on == powered_) return;
  powered_ = on;
  armed_ = enabled_ = false;
  busyUntil_ = 0;
  ResetShifter();
  if (!on) return;
  // Powering up with reset and clock held low is the data sheets' other way in.
  const bool avrEntry = chip.family == Family::Avr && (driven_ & kPinReset) && !(levels_ & kPinReset) &&
                        !(levels_ & kPinClock);
  if (avrEntry || (chip.family == Family::At89 && AtProgrammingLevel(levels_, driven_))) {
    armed_ = true;
    activeFrom_ = now + (chip.family == Family::Avr ? kAvrStartup : kAt89Startup);
  }
}

bool Target::AtProgrammingLevel(uint8_t levels, uint8_t driven) const {
  if (!powered_ || !(driven & kPinReset)) return false;
  const bool high = levels & kPinReset;
  return chip.family == Family::At89 ? high : chip.family == Family::Avr && !high;
}

bool Target::Active(Nanos now) const {
  return armed_ && now >= activeFrom_ && AtProgrammingLevel(levels_, driven_);
}

void Target::ResetShifter() {
  bits_ = 0;
  haveLatch_ = false;
  shift_ = 0;
  byteIndex_ = 0;
  pageMode_ = false;
}

void Target::LinesChanged(Nanos now, uint8_t levels, uint8_t driven) {
  const uint8_t changed = levels ^ levels_;
  // Data has to be on the line before the clock edge: a change in the same
  // instant misses the setup time and the target takes the old level.
  const bool dataBefore = levels_ & kPinDataOut;
  const bool wasAtLevel = AtProgrammingLevel(levels_, driven_);
  levels_ = levels;
  driven_ = driven;
  const bool clock = levels & kPinClock;
  if (chip.family == Family::Avr) {
    if (changed & kPinReset) {
      if (levels & kPinReset) {
        // Start of a positive reset pulse; it counts only if driven with the clock low.
        pulseStart_ = now;
        pulseClean_ = (driven & kPinReset) && !clock;
        armed_ = enabled_ = false;
      } else {
        armed_ = pulseClean_ && !clock && now - pulseStart_ >= minPhase_;
        activeFrom_ = now + kAvrStartup;
        enabled_ = false;
        ResetShifter();
      }
    } else if (wasAtLevel && !AtProgrammingLevel(levels, driven)) {
      armed_ = enabled_ = false;
    }
    if ((changed & kPinClock) && clock && (levels & kPinReset)) pulseClean_ = false;
  } else if (chip.family == Family::At89) {
    const bool atLevel = AtProgrammingLevel(levels, driven);
    if (atLevel != wasAtLevel) {
      armed_ = atLevel;
      activeFrom_ = now + kAt89Startup;
      enabled_ = false;
      ResetShifter();
    }
  }
  if (changed & kPinClock) ClockEdge(now, clock, dataBefore);
}

void Target::ClockEdge(Nanos now, bool high, bool data) {
  // A phase shorter than the target can see hides the edge that ended it.
  const bool seen = now - lastClockChange_ >= minPhase_;
  lastClockChange_ = now;
  if (!seen || high == seenClock_) return;
  seenClock_ = high;
  if (!Active(now)) {
    haveLatch_ = false;
    return;
  }
  if (high) {
    latched_ = data;
    haveLatch_ = true;
    return;
  }
  if (!haveLatch_) return;
  haveLatch_ = false;
  shift_ = static_cast<uint8_t>(shift_ << 1 | (latched_ ? 1 : 0));
  if (++bits_ < 8) return;
  bits_ = 0;
  if (chip.family == Family::Avr)
    AvrByte(now, shift_);
  else
    At89Byte(now, shift_);
}

void Target::StartWork(Nanos now, Work work, Nanos duration, uint32_t from, uint32_t count) {
  work_ = work;
  busyUntil_ = duration == kForever ? kForever : now + duration;
  workFrom_ = from;
  workCount_ = count;
}

bool Target::WorkCovers(Nanos now, Work work, uint32_t address) const {
  return Busy(now) && work_ == work && address - workFrom_ < workCount_;
}

// ---- AVR ATmega ----

int Target::AvrLockMode() const {
  const uint8_t lock = chip.Config(ConfigByte::Lock);
  if (!(lock & 0x02)) return 3;  // LB2 programmed: no programming, no verification
  if (!(lock & 0x01)) return 2;  // LB1 programmed: no programming
  return 1;
}

void Target::StartTrace(uint32_t capacity) {
  trace_.clear();
  trace_.reserve(capacity);
  traceCapacity_ = capacity;
}

void Target::Record(Nanos now, uint32_t count) {
  if (trace_.size() >= traceCapacity_) return;
  Instruction entry = {now, {0, 0, 0, 0}};
  for (uint32_t k = 0; k < count; ++k) entry.bytes[k] = instr_[k];
  trace_.push_back(entry);
}

void Target::AvrByte(Nanos now, uint8_t b) {
  const uint32_t i = byteIndex_;
  instr_[i] = b;
  byteIndex_ = (i + 1) & 3;
  if (i == 3) Record(now, 4);
  if (i == 1 && instr_[0] == 0xAC && b == 0x53) enabled_ = true;
  if (!enabled_) return;
  if (i == 2) {
    const int value = AvrRead(now);
    if (value >= 0) shift_ = static_cast<uint8_t>(value);
  } else if (i == 3) {
    AvrExecute(now);
  }
}

int Target::AvrRead(Nanos now) const {
  const uint32_t word = instr_[1] << 8 | instr_[2];
  const bool hidden = AvrLockMode() == 3;
  switch (instr_[0]) {
    case 0x20:
    case 0x28: {
      const uint32_t address = (word * 2 + (instr_[0] == 0x28)) % chip.flash.size();
      if (hidden || (Busy(now) && work_ == Work::Erase) || WorkCovers(now, Work::Page, address)) return 0xFF;
      return chip.flash[address];
    }
    case 0xA0: {
      if (chip.eeprom.empty()) return 0xFF;
      const uint32_t address = word & (chip.eeprom.size() - 1);
      if (hidden || (Busy(now) && work_ == Work::Erase) || WorkCovers(now, Work::Eeprom, address)) return 0xFF;
      return chip.eeprom[address];
    }
    case 0x30:
      return (instr_[2] & 3) < 3 ? chip.signature[instr_[2] & 3] : 0xFF;
    case 0x50:
      if (instr_[1] == 0x00) return chip.Config(ConfigByte::Low);
      if (instr_[1] == 0x08) return chip.hasExtFuse ? (chip.Config(ConfigByte::Ext) | ~chip.extMask) & 0xFF : 0xFF;
      return -1;
    case 0x58:
      if (instr_[1] == 0x00) return (chip.Config(ConfigByte::Lock) | ~chip.lockMask) & 0xFF;
      if (instr_[1] == 0x08) return chip.Config(ConfigByte::High);
      return -1;
    case 0xF0:
      return Busy(now) ? 0x01 : 0x00;
    default:
      return -1;
  }
}

void Target::AvrExecute(Nanos now) {
  const uint8_t op = instr_[0], b1 = instr_[1], data = instr_[3];
  if (op == 0xAC && b1 == 0x53) return;
  // While a write cycle runs, every write-type instruction is lost, as on silicon.
  if (Busy(now)) return;
  const uint32_t word = b1 << 8 | instr_[2];
  const bool locked = AvrLockMode() > 1;
  uint8_t& lock = chip.Config(ConfigByte::Lock);
  uint8_t& high = chip.Config(ConfigByte::High);
  switch (op) {
    case 0xAC:
      if ((b1 & 0xE0) == 0x80) {
        std::fill(chip.flash.begin(), chip.flash.end(), 0xFF);
        if (high & kEesave) std::fill(chip.eeprom.begin(), chip.eeprom.end(), 0xFF);
        lock = 0xFF;
        std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
        StartWork(now, Work::Erase, kAvrEraseTime, 0, 0);
        dirty = true;
        return;
      }
      if ((b1 & 0xE0) == 0xE0) {
        lock &= data | ~chip.lockMask;  // lock bits can only be programmed, and only those that exist
      } else if (locked) {
        return;  // fuses are locked along with the memories
      } else if (b1 == 0xA0) {
        chip.Config(ConfigByte::Low) = data;
      } else if (b1 == 0xA8) {
        high = static_cast<uint8_t>((data & ~kSpien) | (high & kSpien));  // SPIEN is out of reach
      } else if (b1 == 0xA4 && chip.hasExtFuse) {
        chip.Config(ConfigByte::Ext) = static_cast<uint8_t>(data | ~chip.extMask);
      } else {
        return;
      }
      StartWork(now, Work::Config, kAvrConfigTime, 0, 0);
      dirty = true;
      return;
    case 0x40:
    case 0x48: {
      const uint32_t words = chip.pageSize / 2;
      pageBuffer_[(instr_[2] & (words - 1)) * 2 + (op == 0x48)] = data;
      return;
    }
    case 0x4C: {
      if (locked) return;
      const uint32_t words = chip.pageSize / 2;
      const uint32_t pages = static_cast<uint32_t>(chip.flash.size()) / chip.pageSize;
      const uint32_t base = (word / words % pages) * chip.pageSize;
      if (!stuck_) {
        for (uint32_t k = 0; k < chip.pageSize; ++k) chip.flash[base + k] &= pageBuffer_[k];
        dirty = true;
      }
      std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
      StartWork(now, Work::Page, stuck_ ? kForever : kAvrPageTime, base, chip.pageSize);
      return;
    }
    case 0xC0: {
      if (locked || chip.eeprom.empty()) return;
      const uint32_t address = word & (chip.eeprom.size() - 1);
      chip.eeprom[address] = data;
      StartWork(now, Work::Eeprom, kAvrEepromTime, address, 1);
      dirty = true;
      return;
    }
    default:
      return;
  }
}

// ---- AT89S5x ----

int Target::At89LockLevel() const {
  const uint8_t lock = chip.Config(ConfigByte::Lock);
  return lock & 0x10 ? 3 : lock & 0x08 ? 2 : lock & 0x04 ? 1 : 0;
}

uint8_t Target::At89FlashRead(uint32_t address) const {
  return At89LockLevel() >= 2 ? 0xFF : chip.flash[address % chip.flash.size()];
}

void Target::At89FlashWrite(Nanos now, uint32_t address, uint8_t value) {
  if (Busy(now) || At89LockLevel() >= 1) return;  // byte lost, or programming locked
  if (!stuck_) {
    chip.flash[address % chip.flash.size()] &= value;
    dirty = true;
  }
  StartWork(now, Work::At89Byte, stuck_ ? kForever : kAt89ByteTime, address, 1);
}

void Target::At89Byte(Nanos now, uint8_t b) {
  const uint32_t i = byteIndex_;
  if (i < 4) instr_[i] = b;
  if (i == 0) pageMode_ = enabled_ && (b == 0x50 || b == 0x30);
  byteIndex_ = i + 1 == (pageMode_ ? 258u : 4u) ? 0 : i + 1;
  if (i == (pageMode_ ? 1u : 3u)) Record(now, i + 1);
  if (i == 1 && instr_[0] == 0xAC && b == 0x53) enabled_ = true;
  // Erasing or writing lock bits, the chip is deaf to whole instructions.
  if (!enabled_ || (Busy(now) && (work_ == Work::Erase || work_ == Work::At89Lock))) return;
  const uint8_t op = instr_[0];
  if (pageMode_) {
    const uint32_t block = (instr_[1] & (chip.flash.size() / 256 - 1)) * 256;
    if (op == 0x30 && i >= 1 && i < 257) shift_ = At89FlashRead(block + i - 1);
    if (op == 0x50 && i >= 2) At89FlashWrite(now, block + i - 2, b);
    return;
  }
  const uint32_t address = instr_[1] << 8 | instr_[2];
  if (i == 2) {
    if (op == 0xAC && instr_[1] == 0x53) shift_ = 0x69;
    if (op == 0x28) shift_ = instr_[1] < 3 && !(instr_[2] & 0x80) ? chip.signature[instr_[1]] : 0xFF;
    if (op == 0x24) shift_ = chip.Config(ConfigByte::Lock);
    if (op == 0x20) shift_ = At89FlashRead(address);
  } else if (i == 3) {
    if (op == 0xAC && (instr_[1] & 0xE0) == 0x80) {
      std::fill(chip.flash.begin(), chip.flash.end(), 0xFF);
      chip.Config(ConfigByte::Lock) = 0;
      StartWork(now, Work::Erase, kAt89EraseTime, 0, 0);
      dirty = true;
    } else if (op == 0xAC && (instr_[1] & 0xFC) == 0xE0) {
      if (Busy(now)) return;  // lost in a byte's write cycle
      if (instr_[1] & 3) {
        chip.Config(ConfigByte::Lock) |= static_cast<uint8_t>(0x02 << (instr_[1] & 3));  // LBj at bit j+1
        dirty = true;
      }
      StartWork(now, Work::At89Lock, kAt89LockTime, 0, 0);
    } else if (op == 0x40) {
      At89FlashWrite(now, address, b);
    }
  }
}

}  // namespace kq560sim
