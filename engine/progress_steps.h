// The writers' progress step: the bar advances once every `period` units
// (pages or bytes), as the unit that completes a period begins.
#pragma once
#include "engine/engine_state.h"

constexpr int32_t kProgressSpan = 1024;   // the bar's range as the window sets it
constexpr int32_t kProgressFinal = 1023;  // the last advance; the bar clamps at its top

struct ProgressSteps {
  JobView& view;
  int32_t delta;
  uint32_t period;
  uint32_t counter = 0;
  void Unit() {
    if (++counter == period) {
      view.AdvanceProgress(delta);
      counter = 0;
    }
  }
};
