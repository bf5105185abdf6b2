#include "engine/identify.h"

#include "link/io_stream.h"
#include "link/line_sequences.h"

namespace {

constexpr uint8_t kManufacturerAtmel = 0x1E;
constexpr uint8_t kAvrEnableEcho = 0x53;
constexpr uint8_t kAt89EnableAnswer = 0x69;
constexpr uint8_t kAt89SignatureByte2 = 0x06;

// Read Signature Byte on an AVR part; the byte arrives as reply byte 3.
bool ReadAvrSignature(uint32_t device, uint8_t address, uint8_t* value) {
  uint8_t instruction[4] = {0x30, 0x00, address, 0x00};
  if (!AvrTransfer(device, 4, instruction, 0)) return false;
  *value = instruction[3];
  return true;
}

bool At89Query(uint32_t device, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t* value) {
  uint8_t buffer[3] = {b0, b1, b2};
  if (!At89WriteRead(device, 3, buffer, 1, buffer)) return false;
  *value = buffer[0];
  return true;
}

ResultCode IdentifyAvr(EngineState& state, uint32_t device, ChipIndex chip) {
  if (!EnterAvrProgramming(device)) return kResultTransferFailed;
  if (!PulseAvrReset(device)) return kResultTransferFailed;
  WaitMs(200);

  // Identification is always bit-banged, whatever the fast setting.
  uint8_t enable[4] = {0xAC, 0x53, 0xFF, 0x00};
  if (!AvrTransfer(device, 4, enable, 0)) return kResultTransferFailed;
  if (enable[2] != kAvrEnableEcho) return kResultNotRecognised;

  uint8_t s0 = 0, s1 = 0, s2 = 0;
  if (!ReadAvrSignature(device, 0, &s0)) return kResultTransferFailed;
  if (s0 != kManufacturerAtmel) return kResultWrongChip;
  if (!ReadAvrSignature(device, 1, &s1)) return kResultTransferFailed;
  const ChipInfo* expected = chip == kChipAuto ? nullptr : FindChip(chip);
  if (expected && s1 != expected->signature[1]) return kResultWrongChip;
  if (!ReadAvrSignature(device, 2, &s2)) return kResultTransferFailed;

  if (expected) return s2 == expected->signature[2] ? kResultOk : kResultWrongChip;
  ChipIndex recognised = RecogniseAvrSignature(s1, s2);
  if (recognised == 0) return kResultUnsupported;
  state.chipIndex.store(recognised);
  return kResultOk;
}

ResultCode IdentifyAt89(uint32_t device, ChipIndex chip) {
  if (!DriveLinesLow(device)) return kResultTransferFailed;
  WaitMs(1);
  if (!EnterAt89Programming(device)) return kResultTransferFailed;
  WaitMs(100);

  uint8_t value = 0;
  if (!At89Query(device, 0xAC, 0x53, 0x00, &value)) return kResultTransferFailed;
  if (value != kAt89EnableAnswer) return kResultNotRecognised;
  WaitMs(20);

  if (!At89Query(device, 0x28, 0x00, 0x00, &value)) return kResultTransferFailed;
  if (value != kManufacturerAtmel) return kResultNotRecognised;
  if (!At89Query(device, 0x28, 0x01, 0x00, &value)) return kResultTransferFailed;
  // Only a chosen AT89S5x part has its byte 1 checked; -1 and 13 accept either.
  if (chip == 11 || chip == 12) {
    if (value != FindChip(chip)->signature[1]) return kResultWrongChip;
  }
  if (!At89Query(device, 0x28, 0x02, 0x00, &value)) return kResultTransferFailed;
  return value == kAt89SignatureByte2 ? kResultOk : kResultWrongChip;
}

}  // namespace

ResultCode IdentifyTarget(EngineState& state) {
  const uint32_t device = state.deviceIndex.load();
  const ChipIndex chip = state.chipIndex.load();
  if (chip >= 0 && chip <= 10) return IdentifyAvr(state, device, chip);
  return IdentifyAt89(device, chip);
}
