#include "link/line_sequences.h"

#include "link/io_stream.h"
#include "link/kq560.h"

namespace {

// The command bytes of one packet, between its start and end bytes.
struct LineStep {
  uint8_t count;
  uint8_t commands[3];
};

constexpr uint8_t kEntryWait = 32;
constexpr uint8_t kAvrReleaseWait = 63;
constexpr uint8_t kAt89ReleaseWait = 61;

constexpr LineStep kEnterAvr = {3, {IoOutput(0), IoDirection(kPinsProgramming), IoWait(kEntryWait)}};
constexpr LineStep kEnterAt89 = {3, {IoOutput(kPinReset), IoDirection(kPinsProgramming), IoWait(kEntryWait)}};
constexpr LineStep kDriveLow = {2, {IoOutput(0), IoDirection(kPinsProgramming)}};
constexpr LineStep kResetHigh = {1, {IoOutput(kPinReset)}};
constexpr LineStep kResetLow = {1, {IoOutput(0)}};
// The output levels stay at reset high; no line is driven any more.
constexpr LineStep kReleaseAll = {2, {IoWait(kAvrReleaseWait), IoDirection(0)}};
// Clock and data become inputs; reset stays driven at the last level, low.
constexpr LineStep kReleaseToReset = {2, {IoWait(kAt89ReleaseWait), IoDirection(kPinReset)}};

const LineStep kEnterAvrSteps[] = {kEnterAvr};
const LineStep kEnterAt89Steps[] = {kEnterAt89};
const LineStep kDriveLowSteps[] = {kDriveLow};
const LineStep kPulseAvrResetSteps[] = {kResetHigh, kResetLow};
const LineStep kResetAvrSteps[] = {kEnterAvr, kResetHigh, kResetLow, kResetHigh, kReleaseAll};
const LineStep kResetAt89Steps[] = {kEnterAt89, kResetLow, kResetHigh, kResetLow, kReleaseToReset};

template <uint32_t N>
uint32_t RunSteps(uint32_t device, const LineStep (&steps)[N]) {
  uint32_t result = 0;
  for (const LineStep& step : steps) {
    uint8_t packet[kIoPacketSize];
    uint32_t length = FrameIoPacket(packet, step.commands, step.count);
    result = KQ560WriteData(device, packet, &length);
    if (result == 0) return 0;
  }
  return result;
}

}  // namespace

uint32_t EnterAvrProgramming(uint32_t device) { return RunSteps(device, kEnterAvrSteps); }
uint32_t EnterAt89Programming(uint32_t device) { return RunSteps(device, kEnterAt89Steps); }
uint32_t DriveLinesLow(uint32_t device) { return RunSteps(device, kDriveLowSteps); }
uint32_t PulseAvrReset(uint32_t device) { return RunSteps(device, kPulseAvrResetSteps); }
uint32_t ResetAvrTarget(uint32_t device) { return RunSteps(device, kResetAvrSteps); }
uint32_t ResetAt89Target(uint32_t device) { return RunSteps(device, kResetAt89Steps); }
