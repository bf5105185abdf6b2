#include "engine/memory_access.h"
#include "engine/progress_steps.h"
#include "engine/writers.h"

namespace {

constexpr uint32_t kProgressBlock = 16;
constexpr uint32_t kEepromWriteMs = 20;  // the only completion rule: no polling

}  // namespace

ResultCode WriteEeprom(EngineState& state, JobView& view, const uint8_t* image, uint32_t length) {
  const ResultCode entry = EepromEntry(state, view, length);
  if (entry != kResultOk) return entry;
  const uint32_t device = state.deviceIndex.load();
  const int32_t delta =
      length ? kProgressSpan / int32_t((length + kProgressBlock - 1) / kProgressBlock) : 0;

  // Once per 16 bytes, before the 16th, 32nd, ... byte.
  ProgressSteps steps{view, delta, kProgressBlock};
  for (uint32_t a = 0; a < length; ++a) {
    steps.Unit();
    // Every byte is written, 0xFF included: there is no erase before the pass.
    if (!AvrInstruction(device, FastSpiActive(state) ? 1 : 0, 0xC0, uint8_t(a >> 8), uint8_t(a), image[a]))
      return kResultTransferFailed;
    WaitMs(kEepromWriteMs);
    if (state.stopRequest.load()) return kResultStopped;
  }

  view.ShowStatus(kVerifyStatusText);
  return ReadBackEeprom(state, view, length, {image, nullptr});
}
