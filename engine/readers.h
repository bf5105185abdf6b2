// Operations that read the target rather than program it: whole-memory
// reads, verification against an image without writing, chip erase alone and
// the read-protection test. All run after IdentifyTarget, like the writers,
// take the chip from state.chipIndex, show no status text of their own and
// leave the target in programming mode.
#pragma once
#include "engine/engine_state.h"

// Reads `length` bytes of flash from address 0 into `out` (exactly `length`
// bytes are stored; callers pass the chip's whole flash,
// FindChip(chip)->flashLimit). AVR: Read Program Memory word by word, or a
// page per hardware-SPI transfer in fast mode; AT89S5x: page-mode reads of 256
// bytes. Progress and Stop as in the writers' verification.
// Returns 0, 1 (transfer), 4 (stopped), 16 (length over the chip's flash).
ResultCode ReadFlash(EngineState& state, JobView& view, uint8_t* out, uint32_t length);

// AVR parts only (5 otherwise); one Read EEPROM Memory per byte.
// Returns 0, 1, 4, 5 or 16.
ResultCode ReadEeprom(EngineState& state, JobView& view, uint8_t* out, uint32_t length);

// Compare only, with the writers' own verification pass: whole pages or
// blocks, so `image` must be readable up to `length` rounded up to 256, as
// for WriteFlash. Returns 0, 1, 4, 16 or 17 (and 5 for EEPROM on a part
// without one).
ResultCode VerifyFlash(EngineState& state, JobView& view, const uint8_t* image, uint32_t length);
ResultCode VerifyEeprom(EngineState& state, JobView& view, const uint8_t* image, uint32_t length);

// Chip Erase followed by the writers' wait (AVR 50 ms, AT89S5x 500 ms).
// Returns 0 or 1.
ResultCode EraseChip(EngineState& state);

// Reads the lock bits. False when the transfer failed; otherwise
// *readProtected tells whether the memories read back as something other than
// their content (AVR: LB2 programmed, lock mode 3; AT89S5x: LB2 or LB3).
// Callers ask before reading or verifying and refuse a protected chip.
bool ReadProtectionActive(EngineState& state, bool* readProtected);
