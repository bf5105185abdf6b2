// The flash and EEPROM writers. Both run after IdentifyTarget has put the
// target into programming mode, write the image from address 0, read it all
// back to verify it, and leave the target in programming mode.
#pragma once
#include "engine/engine_state.h"

// The writers show this once, when verification starts.
constexpr const char* kVerifyStatusText = "开始检验下载数据...";

// AVR branch for chip 1 to 10, AT89S5x branch for every other index. Whole
// pages (AVR) and whole 256-byte blocks (AT89S5x) are programmed and compared,
// so `image` must be readable and meaningful up to `length` rounded up to 256.
// Returns 0, 1, 4, 16 or 17.
ResultCode WriteFlash(EngineState& state, JobView& view, const uint8_t* image, uint32_t length);

// AVR parts 1 to 10 only (5 otherwise); one byte at a time, 20 ms each.
// Returns 0, 1, 4, 5, 16 or 17.
ResultCode WriteEeprom(EngineState& state, JobView& view, const uint8_t* image, uint32_t length);
