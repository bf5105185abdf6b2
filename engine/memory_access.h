// What the writers and the readers share: single AVR instructions, the
// capacity rule, and the read-back passes that are both the writers'
// verification and the whole work of the readers.
#pragma once
#include "engine/engine_state.h"

// Progress steps and AT89S5x page-mode blocks.
constexpr uint32_t kFlashBlock = 256;
constexpr uint32_t kMaxAvrPage = 256;

// One four-byte AVR instruction; byte 3 of the reply through `reply`.
bool AvrInstruction(uint32_t device, int fast, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3,
                    uint8_t* reply = nullptr);

// Longer than the chip's flash. Only the catalogue's parts have a capacity:
// an AT89S5x target accepted without a choice (-1, 13) has none.
bool FlashTooLong(ChipIndex chip, uint32_t length);

// EEPROM operations run on AVR parts only (5) and within their EEPROM (16).
// Stores the bar's range first, as every writer and reader does.
ResultCode EepromEntry(EngineState& state, JobView& view, uint32_t length);

// What a read-back pass does with each page, block or byte it reads: compare
// it whole with `expected` (17 at the first difference), or store the part
// below the length into `out`.
struct ReadBackTarget {
  const uint8_t* expected;
  uint8_t* out;
};

// From address 0 over `length` bytes: sets the bar to its low limit, steps it
// once per 256 bytes (flash) or 16 bytes (EEPROM), checks Stop between units
// (flash: not after the last; EEPROM: after every byte) and ends with the
// final advance. Returns 0, 1, 4 or 17.
ResultCode ReadBackFlash(EngineState& state, JobView& view, uint32_t length, ReadBackTarget target);
ResultCode ReadBackEeprom(EngineState& state, JobView& view, uint32_t length, ReadBackTarget target);
