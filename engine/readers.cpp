#include "engine/readers.h"

#include <cstring>

#include "engine/at89_config.h"
#include "engine/memory_access.h"
#include "engine/progress_steps.h"
#include "link/io_stream.h"

namespace {

constexpr uint32_t kEepromProgressBlock = 16;

// One AVR page into `page`, low byte then high byte of every word: two
// bit-banged instructions per word, or all of them in one hardware-SPI batch
// whose flash byte k is reply byte 4k + 3.
bool ReadAvrPage(uint32_t device, int fast, uint32_t firstWord, uint32_t words, uint8_t* page) {
  if (fast) {
    uint8_t batch[8 * kMaxAvrPage / 2];
    for (uint32_t j = 0; j < words; ++j) {
      const uint32_t w = firstWord + j;
      uint8_t* p = batch + 8 * j;
      p[0] = 0x20; p[1] = uint8_t(w >> 8); p[2] = uint8_t(w); p[3] = 0x00;
      p[4] = 0x28; p[5] = uint8_t(w >> 8); p[6] = uint8_t(w); p[7] = 0x00;
    }
    if (!AvrTransfer(device, 8 * words, batch, 1)) return false;
    for (uint32_t k = 0; k < 2 * words; ++k) page[k] = batch[4 * k + 3];
    return true;
  }
  for (uint32_t j = 0; j < words; ++j) {
    const uint32_t w = firstWord + j;
    if (!AvrInstruction(device, 0, 0x20, uint8_t(w >> 8), uint8_t(w), 0x00, &page[2 * j])) return false;
    if (!AvrInstruction(device, 0, 0x28, uint8_t(w >> 8), uint8_t(w), 0x00, &page[2 * j + 1])) return false;
  }
  return true;
}

}  // namespace

bool AvrInstruction(uint32_t device, int fast, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t* reply) {
  uint8_t instruction[4] = {b0, b1, b2, b3};
  if (!AvrTransfer(device, 4, instruction, fast)) return false;
  if (reply) *reply = instruction[3];
  return true;
}

bool FlashTooLong(ChipIndex chip, uint32_t length) {
  const ChipInfo* info = FindChip(chip);
  return info && info->flashLimit && length > info->flashLimit;
}

ResultCode EepromEntry(EngineState& state, JobView& view, uint32_t length) {
  state.progressRange = view.QueryProgressRange();
  const ChipIndex chip = state.chipIndex.load();
  if (!IsAvrPart(chip)) return kResultUnsupported;
  return length > FindChip(chip)->eepromLimit ? kResultTooLong : kResultOk;
}

ResultCode ReadBackFlash(EngineState& state, JobView& view, uint32_t length, ReadBackTarget target) {
  const uint32_t device = state.deviceIndex.load();
  const ChipIndex chip = state.chipIndex.load();
  const bool avr = IsAvrPart(chip);
  const uint32_t unit = avr ? FindChip(chip)->flashPage : kFlashBlock;
  const uint32_t blocks = (length + kFlashBlock - 1) / kFlashBlock;
  ProgressSteps steps{view, blocks ? kProgressSpan / int32_t(blocks) : 0, kFlashBlock / unit};
  view.SetProgress(state.progressRange.low);

  uint8_t buffer[kFlashBlock];
  for (uint32_t p = 0, done = 0; done < length; ++p) {
    steps.Unit();
    if (avr) {
      // A toggle of the fast mode takes effect from the next page on.
      const int fast = FastSpiActive(state) ? 1 : 0;
      if (!ReadAvrPage(device, fast, p * unit / 2, unit / 2, buffer)) return kResultTransferFailed;
    } else {
      const uint8_t command[2] = {0x30, uint8_t(p)};
      if (!At89WriteRead(device, 2, command, kFlashBlock, buffer)) return kResultTransferFailed;
    }
    const uint32_t part = length - done < unit ? length - done : unit;
    // The last unit is compared whole: what the writer programmed past the
    // length is checked as well.
    if (target.expected) {
      if (std::memcmp(buffer, target.expected + done, unit) != 0) return kResultVerifyFailed;
    } else {
      std::memcpy(target.out + done, buffer, part);
    }
    done += part;
    if (done < length && state.stopRequest.load()) return kResultStopped;
  }
  view.AdvanceProgress(kProgressFinal);
  return kResultOk;
}

ResultCode ReadBackEeprom(EngineState& state, JobView& view, uint32_t length, ReadBackTarget target) {
  const uint32_t device = state.deviceIndex.load();
  const uint32_t blocks = (length + kEepromProgressBlock - 1) / kEepromProgressBlock;
  ProgressSteps steps{view, blocks ? kProgressSpan / int32_t(blocks) : 0, kEepromProgressBlock};
  view.SetProgress(state.progressRange.low);
  for (uint32_t a = 0; a < length; ++a) {
    steps.Unit();
    // The target ignores byte 3; the writer's verification sends the expected byte there.
    uint8_t value = 0;
    if (!AvrInstruction(device, FastSpiActive(state) ? 1 : 0, 0xA0, uint8_t(a >> 8), uint8_t(a),
                        target.expected ? target.expected[a] : 0x00, &value))
      return kResultTransferFailed;
    if (target.expected) {
      if (value != target.expected[a]) return kResultVerifyFailed;
    } else {
      target.out[a] = value;
    }
    if (state.stopRequest.load()) return kResultStopped;
  }
  view.AdvanceProgress(kProgressFinal);
  return kResultOk;
}

ResultCode ReadFlash(EngineState& state, JobView& view, uint8_t* out, uint32_t length) {
  state.progressRange = view.QueryProgressRange();
  if (FlashTooLong(state.chipIndex.load(), length)) return kResultTooLong;
  return ReadBackFlash(state, view, length, {nullptr, out});
}

ResultCode VerifyFlash(EngineState& state, JobView& view, const uint8_t* image, uint32_t length) {
  state.progressRange = view.QueryProgressRange();
  if (FlashTooLong(state.chipIndex.load(), length)) return kResultTooLong;
  return ReadBackFlash(state, view, length, {image, nullptr});
}

ResultCode ReadEeprom(EngineState& state, JobView& view, uint8_t* out, uint32_t length) {
  const ResultCode entry = EepromEntry(state, view, length);
  return entry != kResultOk ? entry : ReadBackEeprom(state, view, length, {nullptr, out});
}

ResultCode VerifyEeprom(EngineState& state, JobView& view, const uint8_t* image, uint32_t length) {
  const ResultCode entry = EepromEntry(state, view, length);
  return entry != kResultOk ? entry : ReadBackEeprom(state, view, length, {image, nullptr});
}

ResultCode EraseChip(EngineState& state) {
  const uint32_t device = state.deviceIndex.load();
  if (IsAvrPart(state.chipIndex.load())) {
    // Always bit-banged, whatever the fast setting; not polled.
    if (!AvrInstruction(device, 0, 0xAC, 0x80, 0xFF, 0x00)) return kResultTransferFailed;
    WaitMs(50);
    return kResultOk;
  }
  const uint8_t erase[4] = {0xAC, 0x80, 0x00, 0x00};
  if (!At89WriteStream(device, 4, erase)) return kResultTransferFailed;
  WaitMs(500);
  return kResultOk;
}

bool ReadProtectionActive(EngineState& state, bool* readProtected) {
  const uint32_t device = state.deviceIndex.load();
  uint8_t lock = 0;
  if (IsAvrPart(state.chipIndex.load())) {
    // Read Lock bits, bit-banged like every configuration read. LB2 is bit 1,
    // programmed when 0: lock mode 3, in which flash and EEPROM read as 0xFF.
    if (!AvrInstruction(device, 0, 0x58, 0x00, 0x00, 0x00, &lock)) return false;
    *readProtected = (lock & 0x02) == 0;
    return true;
  }
  // LB2 (level 2) and above stop verification; LB1 alone stops only writing.
  if (!ReadAt89LockByte(device, &lock)) return false;
  *readProtected = At89LockLevelFromByte(lock) >= 2;
  return true;
}
