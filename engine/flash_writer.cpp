#include <cstring>

#include "engine/progress_steps.h"
#include "engine/writers.h"
#include "link/io_stream.h"

namespace {

constexpr uint32_t kBlockSize = 256;     // progress steps and AT89S5x page-mode blocks
constexpr int kPollReads = 101;          // the first read and 100 repeats
constexpr uint32_t kMaxAvrPage = 256;

uint32_t RemainingAfter(uint32_t left, uint32_t chunk) { return left > chunk ? left - chunk : 0; }

int PopCount(uint32_t value) {
  int bits = 0;
  for (; value; value &= value - 1) ++bits;
  return bits;
}

bool AvrCommand(uint32_t device, int fast, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3,
                uint8_t* reply = nullptr) {
  uint8_t instruction[4] = {b0, b1, b2, b3};
  if (!AvrTransfer(device, 4, instruction, fast)) return false;
  if (reply) *reply = instruction[3];
  return true;
}

bool LoadAvrPage(uint32_t device, int fast, const uint8_t* page, uint32_t words) {
  if (fast) {
    uint8_t batch[8 * kMaxAvrPage / 2];
    for (uint32_t j = 0; j < words; ++j) {
      uint8_t* p = batch + 8 * j;
      p[0] = 0x40; p[1] = 0x00; p[2] = uint8_t(j); p[3] = page[2 * j];
      p[4] = 0x48; p[5] = 0x00; p[6] = uint8_t(j); p[7] = page[2 * j + 1];
    }
    return AvrTransfer(device, 8 * words, batch, 1) != 0;
  }
  for (uint32_t j = 0; j < words; ++j) {
    if (!AvrCommand(device, 0, 0x40, 0x00, uint8_t(j), page[2 * j])) return false;
    if (!AvrCommand(device, 0, 0x48, 0x00, uint8_t(j), page[2 * j + 1])) return false;
  }
  return true;
}

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
    if (!AvrCommand(device, 0, 0x20, uint8_t(w >> 8), uint8_t(w), 0x00, &page[2 * j])) return false;
    if (!AvrCommand(device, 0, 0x28, uint8_t(w >> 8), uint8_t(w), 0x00, &page[2 * j + 1])) return false;
  }
  return true;
}

ResultCode WriteAvrFlash(EngineState& state, JobView& view, const uint8_t* image, uint32_t length,
                         const ChipInfo& chip) {
  if (length > chip.flashLimit) return kResultTooLong;
  const uint32_t device = state.deviceIndex.load();
  const uint32_t pageSize = chip.flashPage;
  const uint32_t words = pageSize / 2;
  const int shift = PopCount(words - 1);

  // Chip Erase is always bit-banged.
  if (!AvrCommand(device, 0, 0xAC, 0x80, 0xFF, 0x00)) return kResultTransferFailed;
  WaitMs(50);
  if (length == 0) return kResultOk;

  const uint32_t blocks = (length + kBlockSize - 1) / kBlockSize;
  const int32_t delta = kProgressSpan / int32_t(blocks);
  uint8_t page[kMaxAvrPage];

  // Once per 256 bytes of image: every pagesPerStep pages.
  ProgressSteps writeSteps{view, delta, kBlockSize / pageSize};
  for (uint32_t p = 0, left = length;; ++p) {
    writeSteps.Unit();
    const uint32_t next = RemainingAfter(left, pageSize);
    std::memcpy(page, image + p * pageSize, pageSize);
    uint32_t first = 0;
    while (first < pageSize && page[first] == 0xFF) ++first;
    if (first < pageSize) {
      // A toggle of the fast mode takes effect from the next page on.
      const int fast = FastSpiActive(state) ? 1 : 0;
      if (!LoadAvrPage(device, fast, page, words)) return kResultTransferFailed;
      const uint8_t high = uint8_t(p >> (8 - shift));
      const uint8_t low = uint8_t(p << shift);
      if (!AvrCommand(device, fast, 0x4C, high, low, 0x00)) return kResultTransferFailed;
      // The page is busy while its first programmed byte still reads 0xFF.
      const uint32_t word = (p * pageSize + first) / 2;
      const uint8_t read = (first & 1) ? 0x28 : 0x20;
      uint8_t value = 0xFF;
      int reads = 0;
      while (value == 0xFF) {
        if (reads == kPollReads) return kResultVerifyFailed;
        if (!AvrCommand(device, fast, read, uint8_t(word >> 8), uint8_t(word), 0x00, &value))
          return kResultTransferFailed;
        ++reads;
      }
    }
    left = next;
    if (left == 0) break;
    if (state.stopRequest.load()) return kResultStopped;
  }

  view.ShowStatus(kVerifyStatusText);
  view.SetProgress(state.progressRange.low);
  ProgressSteps verifySteps{view, delta, kBlockSize / pageSize};
  for (uint32_t p = 0, left = length;; ++p) {
    verifySteps.Unit();
    const int fast = FastSpiActive(state) ? 1 : 0;
    if (!ReadAvrPage(device, fast, p * words, words, page)) return kResultTransferFailed;
    if (std::memcmp(page, image + p * pageSize, pageSize) != 0) return kResultVerifyFailed;
    left = RemainingAfter(left, pageSize);
    if (left == 0) {
      view.AdvanceProgress(kProgressFinal);
      return kResultOk;
    }
    if (state.stopRequest.load()) return kResultStopped;
  }
}

ResultCode WriteAt89Flash(EngineState& state, JobView& view, const uint8_t* image, uint32_t n,
                          ChipIndex chip) {
  // Only the two listed parts have a capacity; other indices reach here
  // only when identification accepted an AT89S5x target without a choice.
  const ChipInfo* info = FindChip(chip);
  if ((chip == 11 || chip == 12) && n > info->flashLimit) return kResultTooLong;
  const uint32_t device = state.deviceIndex.load();

  const uint8_t erase[4] = {0xAC, 0x80, 0x00, 0x00};
  if (!At89WriteStream(device, 4, erase)) return kResultTransferFailed;
  WaitMs(500);
  if (n == 0) return kResultOk;

  const uint32_t blocks = (n + kBlockSize - 1) / kBlockSize;
  const int32_t delta = kProgressSpan / int32_t(blocks);

  uint8_t message[2 + kBlockSize];
  for (uint32_t k = 0, left = n;; ++k) {
    view.AdvanceProgress(delta);
    left = RemainingAfter(left, kBlockSize);
    message[0] = 0x50;
    message[1] = uint8_t(k);
    std::memcpy(message + 2, image + k * kBlockSize, kBlockSize);
    if (!At89WriteStream(device, sizeof message, message)) return kResultTransferFailed;
    if (left == 0) break;
    if (state.stopRequest.load()) return kResultStopped;
  }

  view.ShowStatus(kVerifyStatusText);
  view.SetProgress(state.progressRange.low);
  uint8_t block[kBlockSize];
  for (uint32_t k = 0, left = n;; ++k) {
    view.AdvanceProgress(delta);
    left = RemainingAfter(left, kBlockSize);
    const uint8_t command[2] = {0x30, uint8_t(k)};
    if (!At89WriteRead(device, 2, command, kBlockSize, block)) return kResultTransferFailed;
    if (std::memcmp(block, image + k * kBlockSize, kBlockSize) != 0) return kResultVerifyFailed;
    if (left == 0) {
      view.AdvanceProgress(kProgressFinal);
      return kResultOk;
    }
    if (state.stopRequest.load()) return kResultStopped;
  }
}

}  // namespace

ResultCode WriteFlash(EngineState& state, JobView& view, const uint8_t* image, uint32_t length) {
  state.progressRange = view.QueryProgressRange();
  const ChipIndex chip = state.chipIndex.load();
  if (IsAvrPart(chip)) return WriteAvrFlash(state, view, image, length, *FindChip(chip));
  return WriteAt89Flash(state, view, image, length, chip);
}
