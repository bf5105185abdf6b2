#include "engine/at89_config.h"

#include "engine/engine_state.h"
#include "link/io_stream.h"

int At89LockLevelFromByte(uint8_t lockByte) {
  if (lockByte & 0x10) return 3;
  if (lockByte & 0x08) return 2;
  if (lockByte & 0x04) return 1;
  return 0;
}

bool ReadAt89LockByte(uint32_t device, uint8_t* lockByte) {
  uint8_t buffer[3] = {0x24, 0x00, 0x00};
  if (!At89WriteRead(device, 3, buffer, 1, buffer)) return false;
  *lockByte = buffer[0];
  return true;
}

bool WriteAt89LockLevel(uint32_t device, int level) {
  for (int l = 0; l <= level && l <= 3; ++l) {
    const uint8_t instruction[4] = {0xAC, uint8_t(0xE0 + l), 0x00, 0x00};
    if (!At89WriteStream(device, 4, instruction)) return false;
    WaitMs(5);
  }
  return true;
}

At89LockWriteResult WriteAt89LockLevelChecked(uint32_t device, int level) {
  if (!WriteAt89LockLevel(device, level)) return {ConfigWriteStatus::TransferFailed, -1};
  uint8_t lockByte = 0;
  if (!ReadAt89LockByte(device, &lockByte)) return {ConfigWriteStatus::ReadBackFailed, -1};
  const int held = At89LockLevelFromByte(lockByte);
  return {held == level ? ConfigWriteStatus::Ok : ConfigWriteStatus::Mismatch, held};
}

ConfigMessage At89WriteMessage(const At89LockWriteResult& result) {
  switch (result.status) {
    case ConfigWriteStatus::Ok: return {kAt89ConfigWriteOkFormat, MessageIcon::Information};
    case ConfigWriteStatus::Mismatch: return {kConfigMismatchFormat, MessageIcon::Exclamation};
    // This dialog reports its failed transfers with the information icon.
    default: return {kTransferFailedText, MessageIcon::Information};
  }
}
