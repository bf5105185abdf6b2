// Engine tests run against the bridge simulator on its virtual clock: every
// wait of the engine advances the simulator's clock instead of sleeping.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine_state.h"
#include "engine/identify.h"
#include "link/bridge.h"
#include "sim/kq560sim.h"

namespace enginetest {

using Bytes = std::vector<uint8_t>;

inline std::vector<uint32_t>& Waits() {
  static std::vector<uint32_t> waits;
  return waits;
}

inline void VirtualWait(uint32_t ms) { Waits().push_back(ms); KQ560SimAdvanceMs(ms); }

// The progress bar and status line as a window would hold them: the bar
// clamps at its limits. Tests hook onAdvance and onStatus to act mid-job.
class RecordingView : public JobView {
 public:
  ProgressRange QueryProgressRange() override { return {0, 1024}; }
  void SetProgress(int32_t position) override { sets.push_back(position_ = position); }
  void AdvanceProgress(int32_t delta) override {
    advances.push_back(delta);
    position_ = std::min(1024, std::max(0, position_ + delta));
    if (onAdvance) onAdvance(advances.size());
  }
  void ShowStatus(const char* text) override { statuses.push_back(text); if (onStatus) onStatus(); }
  int32_t position() const { return position_; }
  std::vector<int32_t> advances, sets;
  std::vector<std::string> statuses;
  std::function<void(size_t)> onAdvance;
  std::function<void()> onStatus;
  int32_t position_ = 0;
};

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { KQ560SimReset(); Waits().clear(); previousWait_ = SetWaitRoutine(&VirtualWait); }
  void TearDown() override { SetWaitRoutine(previousWait_); }

  // Attaches `chip` in slot 0 of a bridge of `version`, opens it, selects `selected`.
  void Connect(const char* chip, ChipIndex selected, uint32_t version = 0x30) {
    if (version != 0x30) {
      KQ560SimUnplug(0);
      KQ560SimPlug(0, version);
    }
    ASSERT_TRUE(KQ560SimAttach(0, chip)) << KQ560SimLastDiagnostic();
    ASSERT_TRUE(OpenBridge(0, &bridge));
    state.deviceIndex = bridge.device;
    state.hardwareSpi = bridge.hardwareSpi ? 1 : 0;
    state.chipIndex = selected;
  }

  // A fresh simulator and view, `chip` attached and identified.
  void Ready(ChipIndex chip, int fast = 0, uint32_t version = 0x30) {
    KQ560SimReset();
    view = RecordingView();
    state.stopRequest = 0;
    Connect(ChipName(chip), chip, version);
    state.fastSpi = fast;
    ASSERT_EQ(IdentifyTarget(state), kResultOk);
  }

  // Every bridge call of `job`, made to fail in turn, must end it with a
  // transfer failure (1) and nothing sent after the failed call. `prepare`
  // sets the target up afresh on a reset simulator.
  void EveryFailedCallIsATransferFailure(const std::function<void()>& prepare, const std::function<int()>& job) {
    KQ560SimReset();
    prepare();
    const uint64_t before = Calls();
    ASSERT_EQ(job(), kResultOk);
    const uint64_t total = Calls() - before;
    for (uint64_t n = 1; n <= total; ++n) {
      KQ560SimReset();
      prepare();
      ASSERT_TRUE(KQ560SimSetFaults(("fail=" + std::to_string(before + n)).c_str()));
      ASSERT_EQ(job(), kResultTransferFailed) << "call " << n << " of " << total;
      ASSERT_EQ(Calls(), before + n) << "call " << n << " of " << total;
    }
  }

  uint64_t Calls(uint32_t op = KQ560SIM_OP_COUNT) {
    KQ560SimStats stats;
    KQ560SimGetStats(&stats);
    return op == KQ560SIM_OP_COUNT ? stats.calls : stats.callsByOp[op];
  }

  // The instructions the target took in since KQ560SimStartTrace whose first
  // byte is `op` (and second `b1`, if given).
  std::vector<Bytes> Trace(int op = -1, int b1 = -1) {
    std::vector<Bytes> found;
    KQ560SimInstruction i;
    for (uint32_t k = 0; KQ560SimTraceEntry(0, k, &i); ++k)
      if ((op < 0 || i.bytes[0] == op) && (b1 < 0 || i.bytes[1] == b1)) found.push_back(Bytes(i.bytes, i.bytes + 4));
    return found;
  }

  Bytes Memory(uint32_t memory, uint32_t size) {
    Bytes bytes(size);
    return KQ560SimReadMemory(0, memory, 0, bytes.data(), size) == size ? bytes : Bytes();
  }

  EngineState state;
  BridgeState bridge = ClosedBridge();
  RecordingView view;
  WaitRoutine previousWait_ = nullptr;
};

// A reproducible image: `length` bytes of noise, 0xFF beyond, in a buffer of `size`.
inline Bytes NoiseImage(uint32_t length, uint32_t size, uint32_t seed) {
  Bytes image(size, 0xFF);
  uint32_t x = seed * 2654435761u + 1;
  for (uint32_t i = 0; i < length; ++i) image[i] = uint8_t((x = x * 1103515245u + 12345u) >> 16);
  return image;
}

}  // namespace enginetest
