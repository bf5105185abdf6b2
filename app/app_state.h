// The one process-wide record of the program. Window handles are kept as
// opaque pointers so the portable shell can hold them without windows.h.
#pragma once
#include <atomic>
#include <cstdint>

#include "app/command_line.h"
#include "engine/engine_state.h"
#include "link/bridge.h"

constexpr intptr_t kJobIdle = -1;

struct AppState {
  void* instance = nullptr;
  void* mainWindow = nullptr;
  void* systemMenu = nullptr;
  void* progressBar = nullptr;

  BridgeState bridge = ClosedBridge();
  EngineState engine;  // DeviceIndex, selected ChipIndex, FastSpi, capability, StopRequest, ProgressRange

  char filePath[kCommandPathSize] = {};  // UTF-8
  int fileChosen = 0;
  int eepromTarget = 0;
  std::atomic<intptr_t> jobHandle{kJobIdle};
  int commandLineMode = 0;
  uint16_t commandOp = 0;

  // The window is in its close request: it waits for the job to stop and
  // takes no further commands meanwhile.
  int closeRequested = 0;
};
