// The KQ560 bridge simulator: sixteen bridge slots with their pins, a strict
// IoStream interpreter, the hardware SPI stream, a virtual clock with a
// modelled cost per call, fault injection, a call log, plug notices from a
// thread of its own, and a target on each slot's lines. Every public member
// takes the simulator's lock; the KQ560DLL exports are thin wrappers. A slot
// with a state file is shared with other processes through that file: one
// that holds it exclusively locks the file, and the others see it busy.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/kq560.h"
#include "sim/file_lock.h"
#include "sim/kq560sim.h"
#include "sim/target.h"

namespace kq560sim {

// Modelled cost of the bridge (documented in sim/README.md).
constexpr Nanos kCallOverhead = 100 * kMicro;  // library and driver, every call
constexpr Nanos kWireByte = 1 * kMicro;        // each byte sent or received over USB
constexpr Nanos kTurnaround = 1000 * kMicro;   // a reply waits for the next USB frame
constexpr Nanos kCommandTime = 1 * kMicro;     // one output, direction or sample command
constexpr Nanos kSpiHalfBit = 2500;            // hardware SPI at 200 kHz
constexpr uint32_t kMaxCallBytes = 4096;
constexpr uint32_t kSlots = 16;

// Delivers plug notices on a thread of its own, as a real library may.
class Notifier {
 public:
  ~Notifier();
  void SetRoutine(KQ560NotifyRoutine routine);
  void Post(uint32_t event);
  bool WaitIdle(uint32_t timeoutMs);
  void Clear();

 private:
  void Run();
  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<uint32_t> queue_;
  KQ560NotifyRoutine routine_ = nullptr;
  bool delivering_ = false, stop_ = false;
  std::thread thread_;
};

class Simulator {
 public:
  Simulator();

  // The ten bridge functions.
  int32_t Open(uint32_t slot);
  uint32_t SetExclusive(uint32_t slot, uint32_t exclusive);
  uint32_t GetVersion(uint32_t slot);
  uint32_t SetStream(uint32_t slot, uint32_t mode);
  uint32_t SetNotify(KQ560NotifyRoutine routine);
  const char* DeviceName(uint32_t slot);
  uint32_t Close(uint32_t slot);
  uint32_t WriteData(uint32_t slot, uint8_t* buffer, uint32_t* length);
  uint32_t WriteRead(uint32_t slot, uint32_t writeLength, uint8_t* writeBuffer, uint32_t readStep,
                     uint32_t readTimes, uint32_t* readLength, uint8_t* readBuffer);
  uint32_t StreamSpi(uint32_t slot, uint32_t chipSelect, uint32_t length, uint8_t* buffer);

  // Control (see sim/kq560sim.h).
  void Reset();
  bool ConfigureFromEnvironment();
  bool Plug(uint32_t slot, uint32_t version);
  bool Unplug(uint32_t slot);
  bool IsOpen(uint32_t slot);
  bool WaitNotices(uint32_t timeoutMs);
  bool Attach(uint32_t slot, const char* chip);
  bool GetTarget(uint32_t slot, KQ560SimTarget* info);
  bool SetTargetClock(uint32_t slot, uint32_t hz);
  bool SetTargetStuck(uint32_t slot, bool stuck);
  bool SetTargetPower(uint32_t slot, bool on);
  bool TargetBusy(uint32_t slot);
  bool StartTrace(uint32_t slot, uint32_t capacity);
  uint32_t TraceCount(uint32_t slot);
  bool TraceEntry(uint32_t slot, uint32_t i, KQ560SimInstruction* entry);
  uint32_t AccessMemory(uint32_t slot, uint32_t memory, uint32_t offset, uint8_t* data, const uint8_t* source,
                        uint32_t length);
  int GetConfig(uint32_t slot, uint32_t which);
  bool SetConfig(uint32_t slot, uint32_t which, uint32_t value);
  bool LoadState(uint32_t slot, const char* path);
  bool SaveState(uint32_t slot, const char* path);
  bool BindState(uint32_t slot, const char* path);
  uint64_t NowUs();
  void Advance(Nanos duration);
  void SetRealTime(bool on);
  void GetStats(KQ560SimStats* stats);
  void SetLogCapacity(uint32_t entries);
  uint32_t LogCount();
  bool LogEntry(uint32_t i, KQ560SimCall* call);
  void ClearLog();
  bool SetFaults(const char* list);
  std::string LastDiagnostic();

 private:
  enum class FaultKind : uint8_t { Fail, Short, Flip, Unplug, Hang };
  struct Fault {
    FaultKind kind;
    uint64_t call;
    uint32_t byte, bit;
  };
  struct Slot {
    bool present = false, open = false, exclusive = false;
    uint32_t version = kKq560HardwareSpiVersion;
    uint32_t streamMode = 0;
    uint8_t out = 0, dir = 0;  // the bridge's output and direction registers
    uint8_t lastLevels = 0, lastDriven = 0;
    std::unique_ptr<Target> target;
    std::string statePath;
    FileLock exclusiveLock;  // held while open in exclusive use with a state file
    char name[16] = {};
  };
  // One bridge call in progress.
  struct Call {
    KQ560SimCall record;
    bool fail = false, shortRead = false;
    std::vector<const Fault*> flips;
  };

  static bool ParseFaults(const char* list, std::vector<Fault>* faults, std::string* error);
  void ResetLocked();
  Slot* ControlSlot(uint32_t slot);
  Call Begin(uint32_t op, uint32_t slot, uint32_t sent = 0, const uint8_t* data = nullptr);
  uint32_t End(Call& call, uint32_t result);
  uint32_t Refuse(Call& call, const std::string& why, uint32_t result = 0);
  Slot* UsableSlot(Call& call, uint32_t slot);
  void Diagnose(const std::string& text);
  void Report(const std::string& text);
  [[noreturn]] void HangForever();
  void SyncRealTime();
  void UnplugLocked(uint32_t slot);
  void InstallTarget(Slot& s, ChipState chip, bool keepSettings);
  void SyncLines(Slot& s);
  void SaveDirty();
  bool Validate(const uint8_t* buffer, uint32_t length, bool checkReads, uint32_t readStep, uint32_t readTimes,
                std::string* why) const;
  uint32_t Execute(Slot& s, const uint8_t* buffer, uint32_t length);
  uint8_t Sample(Slot& s) const;
  void ApplyFlips(const Call& call, uint8_t* reply, uint32_t length);

  std::mutex mutex_;
  Slot slots_[kSlots];
  Nanos now_ = 0;
  bool realTime_ = false;
  bool wholeProgram_ = false;  // configured from the environment: state-file trouble goes to stderr too
  std::chrono::steady_clock::time_point anchor_;
  KQ560SimStats stats_ = {};
  std::vector<Fault> faults_;
  std::vector<KQ560SimCall> log_;
  uint32_t logStart_ = 0, logCount_ = 0;
  std::string diagnostic_;
  uint8_t samples_[kMaxCallBytes];
  Notifier notifier_;
};

}  // namespace kq560sim
