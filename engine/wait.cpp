#include <chrono>
#include <thread>

#include "engine/engine_state.h"

namespace {

void RealSleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::atomic<WaitRoutine> g_waitRoutine{&RealSleep};

}  // namespace

void WaitMs(uint32_t milliseconds) { g_waitRoutine.load()(milliseconds); }

WaitRoutine SetWaitRoutine(WaitRoutine routine) {
  return g_waitRoutine.exchange(routine ? routine : &RealSleep);
}
