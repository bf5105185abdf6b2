// What the engine reads and writes of the program's state, and the small view
// through which the writers report progress and status. The window, the
// command-line tool and the tests each provide a view; the engine does not
// know which.
#pragma once
#include <atomic>
#include <cstdint>

#include "engine/chip_catalog.h"

struct ProgressRange {
  int32_t low = 0;
  int32_t high = 0;
};

// The engine's part of AppState. The job thread and the window thread share
// it: the window may set stopRequest, toggle fastSpi or reopen the bridge at
// any time, so every field the other thread writes is read afresh where used.
struct EngineState {
  std::atomic<uint32_t> deviceIndex{0};
  std::atomic<int32_t> chipIndex{kChipAuto};  // identification resolves "MEGA AUTO" in place
  std::atomic<int> fastSpi{0};                // the stored choice
  std::atomic<int> hardwareSpi{0};            // the open bridge has the hardware SPI stream
  std::atomic<int> stopRequest{0};
  ProgressRange progressRange;                // read back from the view by each writer
};

class JobView {
 public:
  virtual ~JobView() = default;
  virtual ProgressRange QueryProgressRange() = 0;
  virtual void SetProgress(int32_t position) = 0;
  virtual void AdvanceProgress(int32_t delta) = 0;  // the bar clamps at its limits
  virtual void ShowStatus(const char* text) = 0;    // UTF-8
};

// The fast mode takes effect only while the open bridge can do it; the stored
// choice is kept either way.
inline bool FastSpiActive(const EngineState& state) {
  return state.fastSpi.load() != 0 && state.hardwareSpi.load() != 0;
}

// Every wait of the engine goes through here, so tests can run on a virtual clock.
using WaitRoutine = void (*)(uint32_t milliseconds);
void WaitMs(uint32_t milliseconds);
// Null restores the real sleep. Returns the previous routine.
WaitRoutine SetWaitRoutine(WaitRoutine routine);
