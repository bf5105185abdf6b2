#include <cstring>

#include "engine/memory_access.h"
#include "engine/progress_steps.h"
#include "engine/readers.h"
#include "engine/writers.h"
#include "link/io_stream.h"

namespace {

constexpr int kPollReads = 101;  // the first read and 100 repeats

uint32_t RemainingAfter(uint32_t left, uint32_t chunk) { return left > chunk ? left - chunk : 0; }

int PopCount(uint32_t value) {
  int bits = 0;
  for (; value; value &= value - 1) ++bits;
  return bits;
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
    if (!AvrInstruction(device, 0, 0x40, 0x00, uint8_t(j), page[2 * j])) return false;
    if (!AvrInstruction(device, 0, 0x48, 0x00, uint8_t(j), page[2 * j + 1])) return false;
  }
  return true;
}

// The write pass of an AVR part: pages holding only 0xFF are skipped, every
// other page is loaded, written and polled. Returns 0, 1, 4 or 17.
ResultCode WriteAvrPages(EngineState& state, JobView& view, const uint8_t* image, uint32_t length,
                         const ChipInfo& chip) {
  const uint32_t device = state.deviceIndex.load();
  const uint32_t pageSize = chip.flashPage;
  const uint32_t words = pageSize / 2;
  const int shift = PopCount(words - 1);
  const uint32_t blocks = (length + kFlashBlock - 1) / kFlashBlock;
  uint8_t page[kMaxAvrPage];

  // Once per 256 bytes of image: every pagesPerStep pages.
  ProgressSteps steps{view, kProgressSpan / int32_t(blocks), kFlashBlock / pageSize};
  for (uint32_t p = 0, left = length;; ++p) {
    steps.Unit();
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
      if (!AvrInstruction(device, fast, 0x4C, high, low, 0x00)) return kResultTransferFailed;
      // The page is busy while its first programmed byte still reads 0xFF.
      const uint32_t word = (p * pageSize + first) / 2;
      const uint8_t read = (first & 1) ? 0x28 : 0x20;
      uint8_t value = 0xFF;
      int reads = 0;
      while (value == 0xFF) {
        if (reads == kPollReads) return kResultVerifyFailed;
        if (!AvrInstruction(device, fast, read, uint8_t(word >> 8), uint8_t(word), 0x00, &value))
          return kResultTransferFailed;
        ++reads;
      }
    }
    left = next;
    if (left == 0) return kResultOk;
    if (state.stopRequest.load()) return kResultStopped;
  }
}

// The write pass of an AT89S5x part: every 256-byte block, 0xFF or not, with
// one page-mode write. Returns 0, 1 or 4.
ResultCode WriteAt89Blocks(EngineState& state, JobView& view, const uint8_t* image, uint32_t n) {
  const uint32_t device = state.deviceIndex.load();
  const int32_t delta = kProgressSpan / int32_t((n + kFlashBlock - 1) / kFlashBlock);
  uint8_t message[2 + kFlashBlock];
  for (uint32_t k = 0, left = n;; ++k) {
    view.AdvanceProgress(delta);
    left = RemainingAfter(left, kFlashBlock);
    message[0] = 0x50;
    message[1] = uint8_t(k);
    std::memcpy(message + 2, image + k * kFlashBlock, kFlashBlock);
    if (!At89WriteStream(device, sizeof message, message)) return kResultTransferFailed;
    if (left == 0) return kResultOk;
    if (state.stopRequest.load()) return kResultStopped;
  }
}

}  // namespace

ResultCode WriteFlash(EngineState& state, JobView& view, const uint8_t* image, uint32_t length) {
  state.progressRange = view.QueryProgressRange();
  const ChipIndex chip = state.chipIndex.load();
  if (FlashTooLong(chip, length)) return kResultTooLong;
  if (EraseChip(state) != kResultOk) return kResultTransferFailed;
  if (length == 0) return kResultOk;

  const ResultCode written = IsAvrPart(chip) ? WriteAvrPages(state, view, image, length, *FindChip(chip))
                                             : WriteAt89Blocks(state, view, image, length);
  if (written != kResultOk) return written;
  view.ShowStatus(kVerifyStatusText);
  return ReadBackFlash(state, view, length, {image, nullptr});
}
