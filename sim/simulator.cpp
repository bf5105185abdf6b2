#include "sim/simulator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/io_stream_format.h"

namespace kq560sim {
namespace {

constexpr uint32_t kEventRemoval = 4;
constexpr uint8_t kSpiMsbFirst = 0x80;  // stream mode bit; the mode starts at 0, LSB first
constexpr uint8_t kPinMask = kIoArgumentMask;

const char* const kOpNames[KQ560SIM_OP_COUNT] = {
    "KQ560OpenDevice", "KQ560SetExclusive", "KQ560GetVerIC",   "KQ560SetStream",  "KQ560SetDeviceNotify",
    "KQ560GetDeviceName", "KQ560CloseDevice", "KQ560WriteData", "KQ560WriteRead", "KQ560StreamSPI4"};

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", v);
  return text;
}

bool ParseNumber(const char*& p, uint64_t* value) {
  if (*p < '0' || *p > '9') return false;
  char* end = nullptr;
  *value = std::strtoull(p, &end, 10);
  p = end;
  return true;
}

// "a,b" as {"a", "b"}; an empty string is one empty item.
std::vector<std::string> SplitList(const char* list) {
  std::vector<std::string> items(1);
  for (const char* p = list; *p; ++p) {
    if (*p == ',')
      items.emplace_back();
    else
      items.back() += *p;
  }
  return items;
}

bool FileExists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

}  // namespace

// ---- plug notices ----

Notifier::~Notifier() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Notifier::SetRoutine(KQ560NotifyRoutine routine) {
  std::lock_guard<std::mutex> lock(mutex_);
  routine_ = routine;
  if (routine && !thread_.joinable()) thread_ = std::thread(&Notifier::Run, this);
}

void Notifier::Post(uint32_t event) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!routine_) return;  // nobody is watching
  queue_.push_back(event);
  wake_.notify_all();
}

void Notifier::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.clear();
  routine_ = nullptr;
}

bool Notifier::WaitIdle(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [this] { return queue_.empty() && !delivering_; });
}

void Notifier::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    const uint32_t event = queue_.front();
    queue_.pop_front();
    KQ560NotifyRoutine routine = routine_;
    delivering_ = true;
    lock.unlock();
    if (routine) routine(event);  // the routine may call back into the library
    lock.lock();
    delivering_ = false;
    idle_.notify_all();
  }
}

// ---- set-up ----

Simulator::Simulator() { ResetLocked(); }

void Simulator::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  ResetLocked();
}

void Simulator::ResetLocked() {
  notifier_.Clear();
  now_ = 0;
  realTime_ = wholeProgram_ = false;
  stats_ = {};
  faults_.clear();
  log_.clear();
  logStart_ = logCount_ = 0;
  diagnostic_.clear();
  for (uint32_t i = 0; i < kSlots; ++i) {
    slots_[i] = Slot();
    std::snprintf(slots_[i].name, sizeof slots_[i].name, "KQ560-%u", i);
    InstallTarget(slots_[i], ChipState(), false);
  }
  slots_[0].present = true;
  ChipState mega8;
  MakeChip("MEGA8", &mega8, nullptr);
  InstallTarget(slots_[0], std::move(mega8), false);
}

// Whole-program runs: one bridge per listed slot, each with an erased ATmega8
// or the chip of its state file. A bad variable is reported and its default used.
bool Simulator::ConfigureFromEnvironment() {
  std::lock_guard<std::mutex> lock(mutex_);
  ResetLocked();
  realTime_ = true;
  wholeProgram_ = true;
  anchor_ = std::chrono::steady_clock::now();
  bool ok = true;
  auto complain = [&](const std::string& text) {
    std::fprintf(stderr, "kq560sim: %s\n", text.c_str());
    Diagnose(text);
    ok = false;
  };
  std::vector<uint32_t> slots = {0};
  if (const char* v = std::getenv("KQ560SIM_SLOT")) {
    std::vector<uint32_t> listed;
    for (const std::string& item : SplitList(v)) {
      char* end = nullptr;
      const unsigned long n = std::strtoul(item.c_str(), &end, 0);
      if (item.empty() || *end || n >= kSlots || std::count(listed.begin(), listed.end(), n)) {
        listed.clear();
        break;
      }
      listed.push_back(static_cast<uint32_t>(n));
    }
    if (!listed.empty())
      slots = listed;
    else
      complain(std::string("KQ560SIM_SLOT \"") + v + "\" is not a comma-separated list of different slots 0-15; using 0");
  }
  uint32_t version = kKq560HardwareSpiVersion;
  if (const char* v = std::getenv("KQ560SIM_VERSION")) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(v, &end, 0);
    if (*v && !*end && n <= 0xFFFFFFFFul)
      version = static_cast<uint32_t>(n);
    else
      complain(std::string("KQ560SIM_VERSION \"") + v + "\" is not a number; using 0x30");
  }
  std::vector<std::string> states(slots.size());
  if (const char* v = std::getenv("KQ560SIM_STATE")) {
    const std::vector<std::string> listed = SplitList(v);
    if (listed.size() == slots.size())
      states = listed;
    else
      complain("KQ560SIM_STATE names " + std::to_string(listed.size()) + " state files for " +
               std::to_string(slots.size()) + " bridges (paths are separated by commas); using none");
  }
  slots_[0].present = false;
  for (size_t i = 0; i < slots.size(); ++i) {
    Slot& s = slots_[slots[i]];
    ChipState mega8;
    MakeChip("MEGA8", &mega8, nullptr);
    InstallTarget(s, std::move(mega8), false);
    s.present = true;
    s.version = version;
    s.statePath = states[i];  // loaded when the bridge opens
  }
  if (const char* v = std::getenv("KQ560SIM_FAULT")) {
    std::string error;
    if (!ParseFaults(v, &faults_, &error)) complain("KQ560SIM_FAULT: " + error);
  }
  return ok;
}

// A new chip on the slot's lines. A chip loaded from a state file keeps the
// test settings (clock of the same family, stuck); an attached one starts afresh.
void Simulator::InstallTarget(Slot& s, ChipState chip, bool keepSettings) {
  std::unique_ptr<Target> old = std::move(s.target);
  s.target.reset(new Target(std::move(chip)));
  if (old && keepSettings) {
    if (old->chip.family == s.target->chip.family) s.target->SetClockHz(old->ClockHz());
    s.target->SetStuck(old->Stuck());
  }
  s.lastLevels = 0x3F;
  s.lastDriven = 0;
  SyncLines(s);
}

// The levels the lines carry: driven pins at their output level, the others pulled high.
void Simulator::SyncLines(Slot& s) {
  const uint8_t driven = s.present ? s.dir : 0;
  const uint8_t levels = static_cast<uint8_t>(((s.out & driven) | ~driven) & kPinMask);
  if (levels == s.lastLevels && driven == s.lastDriven) return;
  s.lastLevels = levels;
  s.lastDriven = driven;
  s.target->LinesChanged(now_, levels, driven);
}

uint8_t Simulator::Sample(Slot& s) const {
  const int data = s.target->DataOut(now_);
  return static_cast<uint8_t>(s.lastLevels | 0x40 | (data == 0 ? 0 : kPinDataIn));
}

// ---- calls ----

void Simulator::Diagnose(const std::string& text) { diagnostic_ = text; }

// A whole program sees only a failed call; the reason goes to stderr as well.
void Simulator::Report(const std::string& text) {
  if (wholeProgram_) std::fprintf(stderr, "kq560sim: %s\n", text.c_str());
}

// The blocked call gives up the simulator's lock first: other threads go on
// using the library, and a signal or console handler can still end the process.
void Simulator::HangForever() {
  mutex_.unlock();
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

void Simulator::SyncRealTime() {
  if (!realTime_) return;
  const auto now = std::chrono::steady_clock::now();
  now_ += static_cast<Nanos>(std::chrono::duration_cast<std::chrono::nanoseconds>(now - anchor_).count());
  anchor_ = now;
}

Simulator::Call Simulator::Begin(uint32_t op, uint32_t slot, uint32_t sent, const uint8_t* data) {
  SyncRealTime();
  Call call;
  KQ560SimCall& r = call.record;
  std::memset(&r, 0, sizeof r);
  r.index = ++stats_.calls;
  r.startUs = now_ / kMicro;
  r.op = op;
  r.slot = slot;
  r.length = sent;
  if (data) std::memcpy(r.head, data, std::min<uint32_t>(sent, sizeof r.head));
  ++stats_.callsByOp[op];
  stats_.bytesSent += sent;
  now_ += kCallOverhead + sent * kWireByte;
  for (const Fault& f : faults_) {
    if (f.call != r.index) continue;
    switch (f.kind) {
      case FaultKind::Fail: call.fail = true; break;
      case FaultKind::Short: call.shortRead = true; break;
      case FaultKind::Flip: call.flips.push_back(&f); break;
      case FaultKind::Unplug:
        for (uint32_t i = 0; i < kSlots; ++i)
          if (slots_[i].present && (i == slot || slot >= kSlots)) UnplugLocked(i);
        break;
      case FaultKind::Hang:
        HangForever();
    }
  }
  return call;
}

uint32_t Simulator::End(Call& call, uint32_t result) {
  call.record.result = result;
  if (!log_.empty()) {
    const uint32_t capacity = static_cast<uint32_t>(log_.size());
    log_[(logStart_ + logCount_) % capacity] = call.record;
    if (logCount_ < capacity)
      ++logCount_;
    else
      logStart_ = (logStart_ + 1) % capacity;
  }
  SaveDirty();
  if (realTime_) anchor_ = std::chrono::steady_clock::now();
  return result;
}

uint32_t Simulator::Refuse(Call& call, const std::string& why, uint32_t result) {
  Diagnose("call " + std::to_string(call.record.index) + " (" + kOpNames[call.record.op] + ", slot " +
           std::to_string(call.record.slot) + "): " + why);
  return End(call, result);
}

// The slot of a call that needs an open bridge, or null after refusing the call.
Simulator::Slot* Simulator::UsableSlot(Call& call, uint32_t slot) {
  const char* why = nullptr;
  if (call.fail)
    why = "injected failure";
  else if (slot >= kSlots)
    why = "no such slot";
  else if (!slots_[slot].present)
    why = "no bridge in this slot";
  else if (!slots_[slot].open)
    why = "bridge not open";
  if (!why) return &slots_[slot];
  Refuse(call, why);
  return nullptr;
}

int32_t Simulator::Open(uint32_t slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  Call call = Begin(KQ560SIM_OP_OPEN, slot);
  const uint32_t failed = static_cast<uint32_t>(kKq560OpenFailed);
  if (call.fail) return static_cast<int32_t>(Refuse(call, "injected failure", failed));
  if (slot >= kSlots || !slots_[slot].present)
    return static_cast<int32_t>(Refuse(call, "no bridge in this slot", failed));
  Slot& s = slots_[slot];
  if (s.open && s.exclusive) return static_cast<int32_t>(Refuse(call, "bridge in exclusive use", failed));
  if (!s.statePath.empty()) {
    std::string error;
    if (FileExists(s.statePath)) {
      if (FileLock::HeldElsewhere(s.statePath))
        return static_cast<int32_t>(Refuse(call, "bridge in exclusive use by another process", failed));
      ChipState chip;
      if (!LoadChip(s.statePath, &chip, &error)) {
        Refuse(call, error, failed);
        Report(diagnostic_);
        return kKq560OpenFailed;
      }
      // Reopening the bridge does not power-cycle a chip that already holds the file's contents.
      if (!SameChip(chip, s.target->chip)) InstallTarget(s, std::move(chip), true);
    } else if (!SaveChip(s.statePath, s.target->chip, &error)) {
      Refuse(call, error, failed);
      Report(diagnostic_);
      return kKq560OpenFailed;
    }
  }
  s.open = true;
  return static_cast<int32_t>(End(call, slot));
}

uint32_t Simulator::SetExclusive(uint32_t slot, uint32_t exclusive) {
  std::lock_guard<std::mutex> lock(mutex_);
  Call call = Begin(KQ560SIM_OP_EXCLUSIVE, slot);
  Slot* s = UsableSlot(call, slot);
  if (!s) return 0;
  s->exclusive = exclusive != 0;
  if (!s->exclusive) {
    s->exclusiveLock.Release();
  } else if (!s->statePath.empty() && !s->exclusiveLock.Held() && !s->exclusiveLock.Acquire(s->statePath, true)) {
    // Another process got there between our open and now: we never had the bridge.
    s->open = s->exclusive = false;
    return Refuse(call, "state file " + s->statePath + " is locked by another process or gone; bridge closed");
  }
  return End(call, 1);
}

uint32_t Simulator::GetVersion(uint32_t slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  Call call = Begin(KQ560SIM_OP_VERSION, slot);
  Slot* s = UsableSlot(call, slot);
  return s ? End(call, s->version) : 0;
}

uint32_t Simulator::SetStream(uint32_t slot, uint32_t mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  Call call = Begin(KQ560SIM_OP_STREAM, slot);
  Slot* s = UsableSlot(call, slot);
  if (!s) return 0;
  if (s->version < kKq560HardwareSpiVersion) return Refuse(call, "bridge version " + Hex(s->version) + " has no SPI stream");
  s->streamMode = mode;
  return End(call, 1);
}

uint32_t Simulator::SetNotify(KQ560NotifyRoutine routine) {
  std::lock_guard<std::mutex> lock(mutex_);
  Call call = Begin(KQ560SIM_OP_NOTIFY, kSlots);
  if (call.fail) return Refuse(call, "injected failure");
  notifier_.SetRoutine(routine);
  return End(call, 1);
}

const char* Simulator::DeviceName(uint32_t slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  Call call = Begin(KQ560SIM_OP_NAME, slot);
  if (call.fail) return Refuse(call, "injected failure"), nullptr;
  if (slot >= kSlots || !slots_[slot].present) return Refuse(call, "no bridge in this slot"), nullptr;
  End(call, 1);
  return slots_[slot].name;
}

uint32_t Simulator::Close(uint32_t slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  Call call = Begin(KQ560SIM_OP_CLOSE, slot);
  Slot* s = UsableSlot(call, slot);
  if (!s) return 0;
  s->open = s->exclusive = false;
  s->exclusiveLock.Release();
  return End(call, 1);
}

// ---- IoStream ----

bool Simulator::Validate(const uint8_t* buffer, uint32_t length, bool checkReads, uint32_t readStep,
                         uint32_t readTimes, std::string* why) const {
  if (length == 0) return *why = "empty stream", false;
  if (length > kMaxCallBytes) return *why = std::to_string(length) + " bytes in one call, more than 4096", false;
  uint32_t sampling = 0;
  for (uint32_t start = 0; start < length; start += kIoPacketSize) {
    const std::string at = "packet at offset " + std::to_string(start);
    if (buffer[start] != kIoStart) return *why = at + " starts with " + Hex(buffer[start]) + ", not 0xAB", false;
    const uint32_t limit = std::min(length, start + kIoPacketSize);
    uint32_t pos = start + 1, samples = 0;
    for (; pos < limit && buffer[pos] != kIoEnd; ++pos) {
      const uint8_t c = buffer[pos];
      if (c == kIoSample)
        ++samples;
      else if (c < kIoDirection)
        return *why = "bad command byte " + Hex(c) + " at offset " + std::to_string(pos), false;
    }
    if (pos == limit)
      return *why = at + (limit == length && limit < start + kIoPacketSize ? " is cut off before its end byte"
                                                                            : " has no end byte within 32 bytes"),
             false;
    if (samples == 0) continue;
    ++sampling;
    if (checkReads && samples != readStep)
      return *why = at + " takes " + std::to_string(samples) + " samples, read step is " + std::to_string(readStep),
             false;
  }
  if (checkReads && sampling != readTimes)
    return *why = std::to_string(sampling) + " packets take samples, read times is " + std::to_string(readTimes),
           false;
  return true;
}

// Runs validated packets on the lines; returns the number of samples taken into samples_.
uint32_t Simulator::Execute(Slot& s, const uint8_t* buffer, uint32_t length) {
  uint32_t taken = 0;
  for (uint32_t start = 0; start < length; start += kIoPacketSize) {
    for (uint32_t pos = start + 1; buffer[pos] != kIoEnd; ++pos) {
      const uint8_t c = buffer[pos];
      switch (c & kIoCommandMask) {
        case kIoWait:
          now_ += (c & kIoArgumentMask) * kMicro;
          continue;
        case kIoDirection:
          s.dir = c & kPinMask;
          SyncLines(s);
          break;
        case kIoOutput:
          s.out = c & kPinMask;
          SyncLines(s);
          break;
        default:
          samples_[taken++] = Sample(s);
          break;
      }
      now_ += kCommandTime;
    }
  }
  return taken;
}

void Simulator::ApplyFlips(const Call& call, uint8_t* reply, uint32_t length) {
  for (const Fault* f : call.flips)
    if (f->byte < length) reply[f->byte] ^= static_cast<uint8_t>(1u << f->bit);
}

uint32_t Simulator::WriteData(uint32_t slot, uint8_t* buffer, uint32_t* length) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t sent = length ? *length : 0;
  Call call = Begin(KQ560SIM_OP_WRITE, slot, sent, buffer);
  Slot* s = UsableSlot(call, slot);
  if (!s) return 0;
  if (!buffer || !length) return Refuse(call, "null buffer or length");
  std::string why;
  if (!Validate(buffer, sent, false, 0, 0, &why)) return Refuse(call, why);
  Execute(*s, buffer, sent);
  return End(call, 1);
}

uint32_t Simulator::WriteRead(uint32_t slot, uint32_t writeLength, uint8_t* writeBuffer, uint32_t readStep,
                              uint32_t readTimes, uint32_t* readLength, uint8_t* readBuffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  Call call = Begin(KQ560SIM_OP_WRITE_READ, slot, writeLength, writeBuffer);
  call.record.readStep = readStep;
  call.record.readTimes = readTimes;
  Slot* s = UsableSlot(call, slot);
  if (!s) return 0;
  if (!writeBuffer || !readLength || !readBuffer) return Refuse(call, "null buffer or read length");
  std::string why;
  if (!Validate(writeBuffer, writeLength, true, readStep, readTimes, &why)) return Refuse(call, why);
  const uint32_t taken = Execute(*s, writeBuffer, writeLength);
  now_ += kTurnaround + taken * kWireByte;
  stats_.bytesReceived += taken;
  std::memcpy(readBuffer, samples_, taken);
  ApplyFlips(call, readBuffer, taken);
  *readLength = call.shortRead && taken ? taken - 1 : taken;
  call.record.readLength = *readLength;
  return End(call, 1);
}

uint32_t Simulator::StreamSpi(uint32_t slot, uint32_t chipSelect, uint32_t length, uint8_t* buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  Call call = Begin(KQ560SIM_OP_SPI, slot, length, buffer);
  Slot* s = UsableSlot(call, slot);
  if (!s) return 0;
  if (s->version < kKq560HardwareSpiVersion) return Refuse(call, "bridge version " + Hex(s->version) + " has no SPI stream");
  if (chipSelect != 0) return Refuse(call, "chip select " + std::to_string(chipSelect) + " is not wired");
  if (!buffer || length == 0 || length > kMaxCallBytes) return Refuse(call, "length must be 1 to 4096 with a buffer");
  // The SPI engine drives clock and data itself and leaves reset alone.
  s->dir |= kPinClock | kPinDataOut;
  const bool msbFirst = s->streamMode & kSpiMsbFirst;
  for (uint32_t k = 0; k < length; ++k) {
    uint8_t in = 0;
    for (int i = 0; i < 8; ++i) {
      const int bit = msbFirst ? 7 - i : i;
      s->out = static_cast<uint8_t>((s->out & ~(kPinClock | kPinDataOut)) | (buffer[k] >> bit & 1 ? kPinDataOut : 0));
      SyncLines(*s);
      now_ += kSpiHalfBit;
      s->out |= kPinClock;
      SyncLines(*s);
      if (Sample(*s) & kPinDataIn) in = static_cast<uint8_t>(in | 1 << bit);
      now_ += kSpiHalfBit;
    }
    buffer[k] = in;
  }
  s->out &= ~kPinClock;
  SyncLines(*s);
  now_ += kTurnaround + length * kWireByte;
  stats_.bytesReceived += length;
  ApplyFlips(call, buffer, length);
  return End(call, 1);
}

// ---- control ----

bool Simulator::Plug(uint32_t slot, uint32_t version) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (slot >= kSlots || slots_[slot].present) return Diagnose("slot " + std::to_string(slot) + " is not empty"), false;
  Slot& s = slots_[slot];
  s.present = true;
  s.open = s.exclusive = false;
  s.version = version;
  s.streamMode = 0;
  s.out = s.dir = 0;
  SyncLines(s);
  notifier_.Post(kKq560EventArrival);
  return true;
}

bool Simulator::Unplug(uint32_t slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (slot >= kSlots || !slots_[slot].present) return Diagnose("no bridge in slot " + std::to_string(slot)), false;
  UnplugLocked(slot);
  return true;
}

void Simulator::UnplugLocked(uint32_t slot) {
  Slot& s = slots_[slot];
  s.present = s.open = s.exclusive = false;
  s.exclusiveLock.Release();
  SyncLines(s);  // nothing drives the lines any more
  notifier_.Post(kEventRemoval);
}

bool Simulator::WaitNotices(uint32_t timeoutMs) { return notifier_.WaitIdle(timeoutMs); }

bool Simulator::IsOpen(uint32_t slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  return slot < kSlots && slots_[slot].open;
}

Simulator::Slot* Simulator::ControlSlot(uint32_t slot) {
  if (slot < kSlots) return &slots_[slot];
  Diagnose("no such slot " + std::to_string(slot));
  return nullptr;
}

bool Simulator::Attach(uint32_t slot, const char* chip) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  ChipState state;
  std::string error;
  if (!s) return false;
  if (!MakeChip(chip, &state, &error)) return Diagnose(error), false;
  InstallTarget(*s, std::move(state), false);
  s->target->dirty = true;
  SaveDirty();
  return true;
}

bool Simulator::GetTarget(uint32_t slot, KQ560SimTarget* info) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  if (!s || !info) return false;
  const ChipState& c = s->target->chip;
  std::memset(info, 0, sizeof *info);
  info->family = static_cast<uint32_t>(c.family);
  std::memcpy(info->signature, c.signature, 3);
  info->hasExtFuse = c.hasExtFuse;
  info->flashSize = static_cast<uint32_t>(c.flash.size());
  info->pageSize = c.pageSize;
  info->eepromSize = static_cast<uint32_t>(c.eeprom.size());
  info->clockHz = s->target->ClockHz();
  std::snprintf(info->name, sizeof info->name, "%s", c.name.c_str());
  return true;
}

bool Simulator::SetTargetClock(uint32_t slot, uint32_t hz) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  if (!s || hz == 0) return false;
  s->target->SetClockHz(hz);
  return true;
}

bool Simulator::SetTargetStuck(uint32_t slot, bool stuck) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  if (s) s->target->SetStuck(stuck);
  return s != nullptr;
}

bool Simulator::SetTargetPower(uint32_t slot, bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  if (s) s->target->SetPowered(now_, on);
  return s != nullptr;
}

bool Simulator::TargetBusy(uint32_t slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  return s && s->target->Busy(now_);
}

bool Simulator::StartTrace(uint32_t slot, uint32_t capacity) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  if (s) s->target->StartTrace(capacity);
  return s != nullptr;
}

uint32_t Simulator::TraceCount(uint32_t slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  return s ? static_cast<uint32_t>(s->target->Trace().size()) : 0;
}

bool Simulator::TraceEntry(uint32_t slot, uint32_t i, KQ560SimInstruction* entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  if (!s || !entry || i >= s->target->Trace().size()) return false;
  const Target::Instruction& recorded = s->target->Trace()[i];
  entry->atUs = recorded.at / kMicro;
  std::memcpy(entry->bytes, recorded.bytes, 4);
  return true;
}

uint32_t Simulator::AccessMemory(uint32_t slot, uint32_t memory, uint32_t offset, uint8_t* data,
                                 const uint8_t* source, uint32_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  if (!s || memory > KQ560SIM_EEPROM) return 0;
  std::vector<uint8_t>& m = memory == KQ560SIM_FLASH ? s->target->chip.flash : s->target->chip.eeprom;
  if (offset > m.size() || length > m.size() - offset) {
    Diagnose("memory range outside the chip");
    return 0;
  }
  if (source) {
    std::memcpy(m.data() + offset, source, length);
    s->target->dirty = true;
    SaveDirty();
  } else if (data) {
    std::memcpy(data, m.data() + offset, length);
  }
  return length;
}

int Simulator::GetConfig(uint32_t slot, uint32_t which) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  if (!s || which > KQ560SIM_EXT) return -1;
  const ChipState& c = s->target->chip;
  const bool present = c.family == Family::Avr ? which != KQ560SIM_EXT || c.hasExtFuse
                                                : c.family == Family::At89 && which == KQ560SIM_LOCK;
  return present ? c.config[which] : -1;
}

bool Simulator::SetConfig(uint32_t slot, uint32_t which, uint32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  if (!s || which > KQ560SIM_EXT || value > 0xFF) return false;
  ChipState& c = s->target->chip;
  const bool present = c.family == Family::Avr ? which != KQ560SIM_EXT || c.hasExtFuse
                                                : c.family == Family::At89 && which == KQ560SIM_LOCK;
  if (!present) return Diagnose("the chip has no such byte"), false;
  c.config[which] = static_cast<uint8_t>(value);
  s->target->dirty = true;
  SaveDirty();
  return true;
}

bool Simulator::LoadState(uint32_t slot, const char* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  ChipState chip;
  std::string error;
  if (!s || !path) return false;
  if (!LoadChip(path, &chip, &error)) return Diagnose(error), false;
  InstallTarget(*s, std::move(chip), true);
  return true;
}

bool Simulator::SaveState(uint32_t slot, const char* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  std::string error;
  if (!s || !path) return false;
  if (!SaveChip(path, s->target->chip, &error)) return Diagnose(error), false;
  return true;
}

bool Simulator::BindState(uint32_t slot, const char* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* s = ControlSlot(slot);
  if (!s) return false;
  s->exclusiveLock.Release();
  s->statePath = path ? path : "";
  if (s->statePath.empty()) return true;
  ChipState chip;
  std::string error;
  bool bound = false;
  if (!FileExists(s->statePath)) {
    bound = SaveChip(s->statePath, s->target->chip, &error);
  } else if (LoadChip(s->statePath, &chip, &error)) {
    InstallTarget(*s, std::move(chip), true);
    bound = true;
  }
  if (!bound) {
    s->statePath.clear();
    return Diagnose(error), false;
  }
  if (s->open && s->exclusive && !s->exclusiveLock.Acquire(s->statePath, true))
    return Diagnose("state file " + s->statePath + " is locked by another process"), false;
  return true;
}

void Simulator::SaveDirty() {
  for (Slot& s : slots_) {
    if (!s.target->dirty || s.statePath.empty()) continue;
    std::string error;
    if (SaveChip(s.statePath, s.target->chip, &error)) {
      s.target->dirty = false;
    } else {
      Diagnose(error);
      Report(error);
    }
  }
}

uint64_t Simulator::NowUs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_ / kMicro;
}

void Simulator::Advance(Nanos duration) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ += duration;
}

void Simulator::SetRealTime(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  realTime_ = on;
  anchor_ = std::chrono::steady_clock::now();
}

void Simulator::GetStats(KQ560SimStats* stats) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!stats) return;
  *stats = stats_;
  stats->nowUs = now_ / kMicro;
}

void Simulator::SetLogCapacity(uint32_t entries) {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.assign(entries, KQ560SimCall());
  logStart_ = logCount_ = 0;
}

uint32_t Simulator::LogCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return logCount_;
}

bool Simulator::LogEntry(uint32_t i, KQ560SimCall* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (i >= logCount_ || !call) return false;
  *call = log_[(logStart_ + i) % log_.size()];
  return true;
}

void Simulator::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  logStart_ = logCount_ = 0;
}

bool Simulator::ParseFaults(const char* list, std::vector<Fault>* faults, std::string* error) {
  static const struct {
    const char* word;
    FaultKind kind;
  } kWords[] = {{"fail=", FaultKind::Fail}, {"short=", FaultKind::Short}, {"flip=", FaultKind::Flip},
                {"unplug=", FaultKind::Unplug}, {"hang=", FaultKind::Hang}};
  faults->clear();
  const char* p = list ? list : "";
  while (*p) {
    Fault f = {FaultKind::Fail, 0, 0, 0};
    bool known = false;
    for (const auto& w : kWords) {
      const size_t n = std::strlen(w.word);
      if (std::strncmp(p, w.word, n) == 0) {
        f.kind = w.kind;
        p += n;
        known = true;
        break;
      }
    }
    uint64_t byte = 0, bit = 0;
    bool ok = known && ParseNumber(p, &f.call) && f.call > 0;
    if (ok && f.kind == FaultKind::Flip)
      ok = *p++ == ':' && ParseNumber(p, &byte) && *p++ == ':' && ParseNumber(p, &bit) && bit < 8 &&
           byte < kMaxCallBytes;
    if (!ok || (*p && *p != ',')) {
      faults->clear();
      *error = std::string("bad fault list \"") + list +
               "\" (expected comma-separated fail=N, short=N, flip=N:BYTE:BIT, unplug=N, hang=N; N from 1)";
      return false;
    }
    f.byte = static_cast<uint32_t>(byte);
    f.bit = static_cast<uint32_t>(bit);
    faults->push_back(f);
    if (*p == ',' && !*++p) {
      faults->clear();
      *error = std::string("bad fault list \"") + list + "\" (ends with a comma)";
      return false;
    }
  }
  return true;
}

bool Simulator::SetFaults(const char* list) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Fault> parsed;
  std::string error;
  if (!ParseFaults(list, &parsed, &error)) return Diagnose(error), false;
  faults_ = parsed;
  return true;
}

std::string Simulator::LastDiagnostic() {
  std::lock_guard<std::mutex> lock(mutex_);
  return diagnostic_;
}

}  // namespace kq560sim
