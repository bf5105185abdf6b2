// Engine tests run against the bridge simulator on its virtual clock: every
// wait of the engine advances the simulator's clock instead of sleeping.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine_state.h"
#include "engine/identify.h"
#include "link/bridge.h"
#include "sim/kq560sim.h"

namespace enginetest {

inline std::vector<uint32_t>& Waits() {
  static std::vector<uint32_t> waits;
  return waits;
}

inline void VirtualWait(uint32_t ms) {
  Waits().push_back(ms);
  KQ560SimAdvanceMs(ms);
}

// The progress bar and status line as a window would hold them: the bar
// clamps at its limits. Tests hook Advance to act in the middle of a job.
class RecordingView : public JobView {
 public:
  ProgressRange QueryProgressRange() override { return {0, 1024}; }
  void SetProgress(int32_t position) override {
    position_ = Clamp(position);
    sets.push_back(position);
  }
  void AdvanceProgress(int32_t delta) override {
    advances.push_back(delta);
    position_ = Clamp(position_ + delta);
    if (onAdvance) onAdvance(advances.size());
  }
  void ShowStatus(const char* text) override {
    statuses.push_back(text);
    if (onStatus) onStatus(text);
  }
  int32_t position() const { return position_; }
  // Advances before the first SetProgress (the write pass) and after it (verification).
  std::vector<int32_t> advances;
  std::vector<int32_t> sets;
  std::vector<std::string> statuses;
  std::function<void(size_t)> onAdvance;
  std::function<void(const std::string&)> onStatus;

 private:
  static int32_t Clamp(int32_t p) { return p < 0 ? 0 : p > 1024 ? 1024 : p; }
  int32_t position_ = 0;
};

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KQ560SimReset();
    Waits().clear();
    previousWait_ = SetWaitRoutine(&VirtualWait);
  }
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

  // Connect, then identify with the fast mode as given.
  void Ready(ChipIndex chip, int fast = 0) {
    Connect(ChipName(chip), chip);
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
    ASSERT_GT(total, 0u);
    for (uint64_t n = 1; n <= total; ++n) {
      KQ560SimReset();
      prepare();
      ASSERT_TRUE(KQ560SimSetFaults(("fail=" + std::to_string(before + n)).c_str()));
      ASSERT_EQ(job(), kResultTransferFailed) << "call " << n << " of " << total;
      ASSERT_EQ(Calls(), before + n) << "call " << n << " of " << total;
    }
  }

  uint64_t Calls() {
    KQ560SimStats stats;
    KQ560SimGetStats(&stats);
    return stats.calls;
  }
  uint64_t Calls(uint32_t op) {
    KQ560SimStats stats;
    KQ560SimGetStats(&stats);
    return stats.callsByOp[op];
  }

  // The target's instructions since StartTrace, as {b0, b1, b2, b3, time in µs}.
  std::vector<KQ560SimInstruction> Trace() {
    std::vector<KQ560SimInstruction> trace(KQ560SimTraceCount(0));
    for (uint32_t i = 0; i < trace.size(); ++i) KQ560SimTraceEntry(0, i, &trace[i]);
    return trace;
  }

  std::vector<uint8_t> Memory(uint32_t memory, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    EXPECT_EQ(KQ560SimReadMemory(0, memory, 0, bytes.data(), size), size);
    return bytes;
  }

  EngineState state;
  BridgeState bridge = ClosedBridge();
  RecordingView view;

 private:
  WaitRoutine previousWait_ = nullptr;
};

// A reproducible image: `length` bytes of noise, 0xFF beyond, in a buffer of `size`.
inline std::vector<uint8_t> NoiseImage(uint32_t length, uint32_t size, uint32_t seed) {
  std::vector<uint8_t> image(size, 0xFF);
  uint32_t x = seed * 2654435761u + 1;
  for (uint32_t i = 0; i < length; ++i) {
    x = x * 1103515245u + 12345u;
    image[i] = uint8_t(x >> 16);
  }
  return image;
}

}  // namespace enginetest
