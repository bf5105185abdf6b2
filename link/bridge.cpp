#include "link/bridge.h"

#include "link/kq560.h"

BridgeState ClosedBridge() { return BridgeState{false, 0, kKq560OpenFailed, 0, false}; }

bool OpenBridge(uint32_t slot, BridgeState* state) {
  const int32_t opened = KQ560OpenDevice(slot);
  state->device = slot;
  state->openResult = opened;
  if (opened == kKq560OpenFailed) {
    state->open = false;
    state->version = 0;
    state->hardwareSpi = false;
    return false;
  }
  KQ560SetExclusive(slot, 1);
  state->version = KQ560GetVerIC(slot);
  state->hardwareSpi = state->version >= kKq560HardwareSpiVersion;
  // The hardware stream must shift bytes the way the bit-banged path does.
  if (state->hardwareSpi) KQ560SetStream(slot, kKq560StreamSpiMsbFirst);
  state->open = true;
  return true;
}

bool OpenFirstBridge(BridgeState* state) {
  for (uint32_t slot = 0; slot < kKq560SlotCount; ++slot) {
    if (OpenBridge(slot, state)) return true;
  }
  return false;
}

void CloseBridge(BridgeState* state) {
  if (!state->open) return;
  KQ560CloseDevice(state->device);
  state->open = false;
  state->version = 0;
  state->hardwareSpi = false;
}
