#include "engine/progress_steps.h"
#include "engine/writers.h"
#include "link/io_stream.h"

namespace {

constexpr uint32_t kProgressBlock = 16;
constexpr uint32_t kEepromWriteMs = 20;  // the only completion rule: no polling

}  // namespace

ResultCode WriteEeprom(EngineState& state, JobView& view, const uint8_t* image, uint32_t length) {
  state.progressRange = view.QueryProgressRange();
  const ChipIndex chip = state.chipIndex.load();
  if (!IsAvrPart(chip)) return kResultUnsupported;
  if (length > FindChip(chip)->eepromLimit) return kResultTooLong;
  const uint32_t device = state.deviceIndex.load();
  const int32_t delta =
      length ? kProgressSpan / int32_t((length + kProgressBlock - 1) / kProgressBlock) : 0;

  // Once per 16 bytes, before the 16th, 32nd, ... byte.
  ProgressSteps writeSteps{view, delta, kProgressBlock};
  for (uint32_t a = 0; a < length; ++a) {
    writeSteps.Unit();
    // Every byte is written, 0xFF included: there is no erase before the pass.
    uint8_t instruction[4] = {0xC0, uint8_t(a >> 8), uint8_t(a), image[a]};
    if (!AvrTransfer(device, 4, instruction, FastSpiActive(state) ? 1 : 0))
      return kResultTransferFailed;
    WaitMs(kEepromWriteMs);
    if (state.stopRequest.load()) return kResultStopped;
  }

  view.ShowStatus(kVerifyStatusText);
  view.SetProgress(state.progressRange.low);
  ProgressSteps verifySteps{view, delta, kProgressBlock};
  for (uint32_t a = 0; a < length; ++a) {
    verifySteps.Unit();
    uint8_t instruction[4] = {0xA0, uint8_t(a >> 8), uint8_t(a), image[a]};
    if (!AvrTransfer(device, 4, instruction, FastSpiActive(state) ? 1 : 0))
      return kResultTransferFailed;
    if (instruction[3] != image[a]) return kResultVerifyFailed;
    if (state.stopRequest.load()) return kResultStopped;
  }
  view.AdvanceProgress(kProgressFinal);
  return kResultOk;
}
