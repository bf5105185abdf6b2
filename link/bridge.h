// Finding, opening and watching the bridge: the part of the main window's
// bridge handling that the window and the command-line tool share.
#pragma once
#include <cstdint>

struct BridgeState {
  bool open;
  uint32_t device;      // slot of the open bridge, or the last slot tried
  int32_t openResult;   // the open call's result, kept as returned
  uint32_t version;     // bridge chip version, 0 while closed
  bool hardwareSpi;     // the bridge has the hardware SPI stream (version 0x30 or later)
};

// A closed state on slot 0.
BridgeState ClosedBridge();

// Opens `slot`: exclusive use, chip version, and on bridges with hardware SPI
// the most-significant-bit-first stream mode. Records the outcome in `state`
// and returns whether the slot opened; a failure marks the bridge closed.
bool OpenBridge(uint32_t slot, BridgeState* state);

// Tries slots 0 to 15 in order until one opens.
bool OpenFirstBridge(BridgeState* state);

// Releases an open bridge and marks it closed; a closed one is left alone.
void CloseBridge(BridgeState* state);
