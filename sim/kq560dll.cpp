// KQ560DLL as the simulator: the ten bridge functions of link/kq560.h and the
// control interface of sim/kq560sim.h, over one process-wide simulator that
// takes its set-up from the environment when the library loads.
#include <cstdio>
#include <string>

#include "link/kq560.h"
#include "sim/kq560sim.h"
#include "sim/simulator.h"

namespace {

// Never destroyed: the notice thread must not be joined while the library
// unloads, and calls may still arrive from other threads at exit.
kq560sim::Simulator& Sim() {
  static kq560sim::Simulator* sim = [] {
    auto* s = new kq560sim::Simulator();
    s->ConfigureFromEnvironment();
    return s;
  }();
  return *sim;
}

// Whole-program runs are configured when the library loads, not at the first call.
const bool kConfiguredAtLoad = (Sim(), true);

}  // namespace

extern "C" {

int32_t KQ560_CALL KQ560OpenDevice(uint32_t slot) { return Sim().Open(slot); }

uint32_t KQ560_CALL KQ560SetExclusive(uint32_t slot, uint32_t exclusive) {
  return Sim().SetExclusive(slot, exclusive);
}

uint32_t KQ560_CALL KQ560GetVerIC(uint32_t slot) { return Sim().GetVersion(slot); }

uint32_t KQ560_CALL KQ560SetStream(uint32_t slot, uint32_t mode) { return Sim().SetStream(slot, mode); }

uint32_t KQ560_CALL KQ560SetDeviceNotify(uint32_t, void*, KQ560NotifyRoutine notify) {
  return Sim().SetNotify(notify);
}

const char* KQ560_CALL KQ560GetDeviceName(uint32_t slot) { return Sim().DeviceName(slot); }

uint32_t KQ560_CALL KQ560CloseDevice(uint32_t slot) { return Sim().Close(slot); }

uint32_t KQ560_CALL KQ560WriteData(uint32_t slot, uint8_t* buffer, uint32_t* length) {
  return Sim().WriteData(slot, buffer, length);
}

uint32_t KQ560_CALL KQ560WriteRead(uint32_t slot, uint32_t writeLength, uint8_t* writeBuffer, uint32_t readStep,
                                   uint32_t readTimes, uint32_t* readLength, uint8_t* readBuffer) {
  return Sim().WriteRead(slot, writeLength, writeBuffer, readStep, readTimes, readLength, readBuffer);
}

uint32_t KQ560_CALL KQ560StreamSPI4(uint32_t slot, uint32_t chipSelect, uint32_t length, uint8_t* buffer) {
  return Sim().StreamSpi(slot, chipSelect, length, buffer);
}

void KQ560SIM_CALL KQ560SimReset(void) { Sim().Reset(); }
int KQ560SIM_CALL KQ560SimConfigureFromEnvironment(void) { return Sim().ConfigureFromEnvironment(); }
int KQ560SIM_CALL KQ560SimPlug(uint32_t slot, uint32_t version) { return Sim().Plug(slot, version); }
int KQ560SIM_CALL KQ560SimUnplug(uint32_t slot) { return Sim().Unplug(slot); }
int KQ560SIM_CALL KQ560SimIsOpen(uint32_t slot) { return Sim().IsOpen(slot); }
int KQ560SIM_CALL KQ560SimWaitNotices(uint32_t timeoutMs) { return Sim().WaitNotices(timeoutMs); }
int KQ560SIM_CALL KQ560SimAttach(uint32_t slot, const char* chip) { return Sim().Attach(slot, chip); }
int KQ560SIM_CALL KQ560SimGetTarget(uint32_t slot, KQ560SimTarget* target) { return Sim().GetTarget(slot, target); }
int KQ560SIM_CALL KQ560SimSetTargetClock(uint32_t slot, uint32_t hz) { return Sim().SetTargetClock(slot, hz); }
int KQ560SIM_CALL KQ560SimSetTargetStuck(uint32_t slot, int stuck) { return Sim().SetTargetStuck(slot, stuck != 0); }
int KQ560SIM_CALL KQ560SimSetTargetPower(uint32_t slot, int on) { return Sim().SetTargetPower(slot, on != 0); }
int KQ560SIM_CALL KQ560SimTargetBusy(uint32_t slot) { return Sim().TargetBusy(slot); }

uint32_t KQ560SIM_CALL KQ560SimReadMemory(uint32_t slot, uint32_t memory, uint32_t offset, uint8_t* data,
                                          uint32_t length) {
  return data ? Sim().AccessMemory(slot, memory, offset, data, nullptr, length) : 0;
}

uint32_t KQ560SIM_CALL KQ560SimWriteMemory(uint32_t slot, uint32_t memory, uint32_t offset, const uint8_t* data,
                                           uint32_t length) {
  return data ? Sim().AccessMemory(slot, memory, offset, nullptr, data, length) : 0;
}

int KQ560SIM_CALL KQ560SimGetConfig(uint32_t slot, uint32_t which) { return Sim().GetConfig(slot, which); }
int KQ560SIM_CALL KQ560SimStartTrace(uint32_t slot, uint32_t entries) { return Sim().StartTrace(slot, entries); }
uint32_t KQ560SIM_CALL KQ560SimTraceCount(uint32_t slot) { return Sim().TraceCount(slot); }
int KQ560SIM_CALL KQ560SimTraceEntry(uint32_t slot, uint32_t i, KQ560SimInstruction* entry) {
  return Sim().TraceEntry(slot, i, entry);
}
int KQ560SIM_CALL KQ560SimSetConfig(uint32_t slot, uint32_t which, uint32_t value) {
  return Sim().SetConfig(slot, which, value);
}
int KQ560SIM_CALL KQ560SimLoadState(uint32_t slot, const char* path) { return Sim().LoadState(slot, path); }
int KQ560SIM_CALL KQ560SimSaveState(uint32_t slot, const char* path) { return Sim().SaveState(slot, path); }
int KQ560SIM_CALL KQ560SimBindState(uint32_t slot, const char* path) { return Sim().BindState(slot, path); }
uint64_t KQ560SIM_CALL KQ560SimNowUs(void) { return Sim().NowUs(); }
void KQ560SIM_CALL KQ560SimAdvanceMs(uint32_t ms) { Sim().Advance(ms * kq560sim::kMilli); }
void KQ560SIM_CALL KQ560SimAdvanceUs(uint32_t us) { Sim().Advance(us * kq560sim::kMicro); }
void KQ560SIM_CALL KQ560SimSetRealTime(int on) { Sim().SetRealTime(on != 0); }
void KQ560SIM_CALL KQ560SimGetStats(KQ560SimStats* stats) { Sim().GetStats(stats); }
void KQ560SIM_CALL KQ560SimSetLogCapacity(uint32_t entries) { Sim().SetLogCapacity(entries); }
uint32_t KQ560SIM_CALL KQ560SimLogCount(void) { return Sim().LogCount(); }
int KQ560SIM_CALL KQ560SimLogEntry(uint32_t i, KQ560SimCall* call) { return Sim().LogEntry(i, call); }
void KQ560SIM_CALL KQ560SimClearLog(void) { Sim().ClearLog(); }
int KQ560SIM_CALL KQ560SimSetFaults(const char* faults) { return Sim().SetFaults(faults); }

const char* KQ560SIM_CALL KQ560SimLastDiagnostic(void) {
  // Per thread, and plain data: valid for the caller until its next query.
  thread_local char text[512];
  std::snprintf(text, sizeof text, "%s", Sim().LastDiagnostic().c_str());
  return text;
}

}  // extern "C"
