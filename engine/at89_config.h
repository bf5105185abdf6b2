// Lock bits of an AT89S51/52 target, as the lock dialog shows them: one of
// four lock levels, each a radio button.
#pragma once
#include <cstdint>

#include "engine/config_common.h"

// Radio buttons of levels 0 to 3: "No Lock Bit" to "Lock LB1,LB2,LB3".
constexpr int kAt89LockButtons[4] = {1038, 1039, 1040, 1041};

// LB1 to LB3 are bits 2 to 4 of the byte read; the highest programmed one decides.
int At89LockLevelFromByte(uint8_t lockByte);

// Read Lock Bits. False when the transfer failed.
bool ReadAt89LockByte(uint32_t device, uint8_t* lockByte);

// Write Lock Bits for every level from 0 up to `level`, 5 ms apart. Stops at
// the first failed transfer (the lower levels stay written) and returns false.
bool WriteAt89LockLevel(uint32_t device, int level);

struct At89LockWriteResult {
  ConfigWriteStatus status;
  int readBackLevel;  // the level the chip holds after the write (Ok and Mismatch); -1 otherwise
};

// WriteAt89LockLevel, then the lock bits read back. Lock bits are only ever
// programmed (an erase clears them), so a chip already above `level` stays there.
At89LockWriteResult WriteAt89LockLevelChecked(uint32_t device, int level);

// The message box that reports a checked write.
ConfigMessage At89WriteMessage(const At89LockWriteResult& result);

constexpr const char* kAt89ConfigWriteOkFormat = "写%s配置成功!";
