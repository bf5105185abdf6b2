#include "app/cli/operations.h"

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/cli/crc32.h"
#include "app/download_job.h"
#include "app/main_window_logic.h"
#include "app/program_file.h"
#include "app/program_image.h"
#include "app/settings.h"
#include "app/status_texts.h"
#include "engine/at89_config.h"
#include "engine/avr_config.h"
#include "engine/identify.h"
#include "engine/readers.h"
#include "image/intel_hex.h"
#include "link/bridge.h"
#include "link/kq560.h"
#include "link/line_sequences.h"

namespace {

constexpr const char* kTextReadingConfig = "正在读取配置...";
constexpr const char* kTextWritingConfig = "正在写入配置...";
constexpr const char* kTextReadingMemory = "正在读取%s的%s...";
constexpr const char* kTextReadOk = "读取成功,共读取%u字节";
constexpr const char* kTextVerifyingMemory = "正在校验%s的%s...";
constexpr const char* kTextVerifyOk = "校验成功,共校验%u字节";
constexpr const char* kTextErasing = "正在擦除芯片...";
constexpr const char* kTextEraseOk = "擦除成功";
constexpr const char* kTextReadProtected = "芯片已加密,无法读取";
constexpr const char* kTextFileWriteFailed = "写文件失败";
constexpr const char* kTextConfigRefused = "此配置可能使芯片无法再编程,未写入";

void Fail(RunReport& r, int exit, const char* step) {
  r.exit = exit;
  r.step = step;
}

void SetBytes(RunReport& r, const uint8_t* data, uint32_t length) {
  r.hasBytes = true;
  r.bytes = length;
  r.crc32 = Crc32(data, length);
}

// Identification starts every operation on a target; "MEGA" becomes the
// recognised part.
bool Identify(AppState& app, CliView& view, RunReport& r) {
  if (const char* failure = IdentifyFailureText(IdentifyTarget(app.engine))) {
    view.ShowStatus(failure);
    Fail(r, kCliExitIdentify, "identification");
    return false;
  }
  r.identified = true;
  r.chip = app.engine.chipIndex.load();
  return true;
}

// The family's reset sequence: the target leaves programming mode and runs.
bool ResetTarget(AppState& app, CliView& view, RunReport& r) {
  const uint32_t device = app.engine.deviceIndex.load();
  const bool ok = (IsAvrPart(app.engine.chipIndex.load()) ? ResetAvrTarget(device) : ResetAt89Target(device)) != 0;
  view.ShowStatus(ok ? kTextResetOk : kTextTransferFailed);
  if (!ok) Fail(r, kCliExitReset, "reset");
  return ok;
}

void Download(AppState& app, const CliOptions& o, CliView& view, RunReport& r) {
  app.eepromTarget = o.op == CliOp::WriteEeprom ? 1 : 0;
  app.jobHandle.store(1);  // the job runs on this thread; the marker only says so
  ProgramImage loaded{};
  const JobOutcome outcome = DownloadJob(app, view, o.path.c_str(), &loaded);
  r.chip = app.engine.chipIndex.load();
  r.identified = outcome != JobOutcome::IdentifyFailed;
  if (outcome == JobOutcome::Success || outcome == JobOutcome::WriteFailed) SetBytes(r, loaded.data, loaded.length);
  switch (outcome) {
    case JobOutcome::Success: break;
    case JobOutcome::IdentifyFailed: Fail(r, kCliExitIdentify, "identification"); break;
    case JobOutcome::FileFailed: Fail(r, kCliExitFile, "reading the file"); break;
    case JobOutcome::HexFailed: Fail(r, kCliExitHex, "HEX decoding"); break;
    case JobOutcome::WriteFailed:
      Fail(r, kCliExitTransfer, view.verifying() ? "verification" : "programming");
      break;
  }
  r.done = "written and verified";
}

// The CLI's names of the AVR configuration bytes, by ConfigByte.
const char* const kConfigNames[4] = {"lock", "ext", "high", "low"};

std::string ChipText(const char* format, ChipIndex chip) {
  char text[128];
  std::snprintf(text, sizeof text, format, ChipName(chip, ""));
  return text;
}

ConfigLine AvrConfigLine(ChipIndex chip, ConfigByte byte, uint8_t value) {
  ConfigLine line{kConfigNames[unsigned(byte)], value, ""};
  for (int bit = 7; bit >= 0; --bit) {
    const char* name = AvrConfigBitName(chip, byte, bit);
    if (name && !(value >> bit & 1)) line.programmedBits += (line.programmedBits.empty() ? "" : " ") + std::string(name);
  }
  return line;
}

// The bytes in the order CF shows them; ext only where the chip has it.
const ConfigByte kShownBytes[4] = {ConfigByte::Lock, ConfigByte::Low, ConfigByte::High, ConfigByte::Extended};

void ShowAvrConfig(ChipIndex chip, const AvrConfigValues& values, uint8_t which, CliView& view, RunReport& r) {
  for (ConfigByte byte : kShownBytes) {
    if (!(which & ConfigByteFlag(byte)) || (byte == ConfigByte::Extended && !HasExtendedFuse(chip))) continue;
    r.config.push_back(AvrConfigLine(chip, byte, ConfigValue(values, byte)));
    view.ShowLine(ConfigText(r.config.back()));
  }
}

void ShowConfig(AppState& app, CliView& view, RunReport& r) {
  const uint32_t device = app.engine.deviceIndex.load();
  const ChipIndex chip = app.engine.chipIndex.load();
  view.ShowStatus(kTextReadingConfig);
  bool ok;
  if (IsAvrPart(chip)) {
    AvrConfigValues values;
    ok = ReadAvrConfigValues(device, chip, &values);
    if (ok) ShowAvrConfig(chip, values, kAllConfigBytes, view, r);
  } else {
    uint8_t lock = 0;
    ok = ReadAt89LockByte(device, &lock);
    if (ok) {
      r.config.push_back(ConfigLine{"level", At89LockLevelFromByte(lock), ""});
      view.ShowLine(ConfigText(r.config.back()));
    }
  }
  view.ShowStatus(ok ? ChipText(kConfigReadOkFormat, chip).c_str() : kTextTransferFailed);
  if (!ok) Fail(r, kCliExitTransfer, "reading the configuration");
  r.done = "configuration read";
}

// Reads, applies the given bytes, refuses what the hazard guard refuses
// (unless forced), writes fuses first and lock last, and reads back.
void WriteAvrConfiguration(AppState& app, const CliOptions& o, CliView& view, RunReport& r) {
  const uint32_t device = app.engine.deviceIndex.load();
  const ChipIndex chip = app.engine.chipIndex.load();
  uint8_t which = 0;
  AvrConfigValues next;
  for (int i = 0; i < 4; ++i)
    if (o.config[i] != kConfigUnset) which |= ConfigByteFlag(ConfigByte(i));
  if ((which & ConfigByteFlag(ConfigByte::Extended)) && !HasExtendedFuse(chip)) {
    r.detail = std::string(ChipName(chip)) + " has no extended fuse byte";
    Fail(r, kCliExitUsage, "usage");
    return;
  }
  view.ShowStatus(kTextReadingConfig);
  AvrConfigValues current;
  uint8_t known = 0;
  if (!ReadAvrConfigValues(device, chip, &current, &known)) {
    view.ShowStatus(kTextTransferFailed);
    Fail(r, kCliExitTransfer, "reading the configuration");
    return;
  }
  next = current;
  for (int i = 0; i < 4; ++i)
    if (o.config[i] != kConfigUnset) ConfigValue(next, ConfigByte(i)) = uint8_t(o.config[i]);

  const uint8_t hazards = AvrConfigHazards(chip, current, known, next, which);
  std::string reasons;
  for (uint8_t flag = 1; flag <= kHazardClockSource; flag = uint8_t(flag << 1)) {
    if (!(hazards & flag)) continue;
    reasons += (reasons.empty() ? "" : " ") + std::string(AvrHazardName(AvrConfigHazard(flag)));
    WriteConsoleText(ConsoleStream::Err, (std::string(o.force ? "mcufeed-cli: forced past " : "mcufeed-cli: refused: ") +
                                          AvrHazardLine(AvrConfigHazard(flag)) + "\n").c_str());
  }
  if (hazards && !o.force) {
    view.ShowStatus(kTextConfigRefused);
    r.detail = reasons + "; nothing written, use --force to write anyway";
    Fail(r, kCliExitGuard, "the configuration guard");
    return;
  }

  view.ShowStatus(kTextWritingConfig);
  const AvrConfigWriteResult result = WriteAvrConfigValues(device, chip, next, which);
  switch (result.status) {
    case ConfigWriteStatus::Ok:
      ShowAvrConfig(chip, result.readBack, which, view, r);
      view.ShowStatus(ChipText(kAvrConfigWriteOkFormat, chip).c_str());
      break;
    case ConfigWriteStatus::TransferFailed:
      view.ShowStatus(kTextTransferFailed);
      r.detail = std::string("writing ") + kConfigNames[unsigned(result.failedByte)];
      Fail(r, kCliExitTransfer, "writing the configuration");
      break;
    case ConfigWriteStatus::ReadBackFailed:
      view.ShowStatus(kTextTransferFailed);
      Fail(r, kCliExitTransfer, "reading back the configuration");
      break;
    case ConfigWriteStatus::Mismatch:
      ShowAvrConfig(chip, result.readBack, which, view, r);
      view.ShowStatus(ChipText(kConfigMismatchFormat, chip).c_str());
      for (int i = 0; i < 4; ++i) {
        if (!(result.mismatched & ConfigByteFlag(ConfigByte(i)))) continue;
        char text[64];
        std::snprintf(text, sizeof text, "%s%s written 0x%02X, reads 0x%02X", r.detail.empty() ? "" : "; ",
                      kConfigNames[i], unsigned(ConfigValue(next, ConfigByte(i))),
                      unsigned(ConfigValue(result.readBack, ConfigByte(i))));
        r.detail += text;
      }
      Fail(r, kCliExitTransfer, "checking the configuration");
      break;
  }
}

void WriteAt89Configuration(AppState& app, const CliOptions& o, CliView& view, RunReport& r) {
  const ChipIndex chip = app.engine.chipIndex.load();
  view.ShowStatus(kTextWritingConfig);
  const At89LockWriteResult result = WriteAt89LockLevelChecked(app.engine.deviceIndex.load(), o.level);
  if (result.readBackLevel >= 0) {
    r.config.push_back(ConfigLine{"level", result.readBackLevel, ""});
    view.ShowLine(ConfigText(r.config.back()));
  }
  switch (result.status) {
    case ConfigWriteStatus::Ok: view.ShowStatus(ChipText(kAt89ConfigWriteOkFormat, chip).c_str()); return;
    case ConfigWriteStatus::TransferFailed: Fail(r, kCliExitTransfer, "writing the configuration"); break;
    case ConfigWriteStatus::ReadBackFailed: Fail(r, kCliExitTransfer, "reading back the configuration"); break;
    case ConfigWriteStatus::Mismatch:
      view.ShowStatus(ChipText(kConfigMismatchFormat, chip).c_str());
      r.detail = "level written " + std::to_string(o.level) + ", reads " + std::to_string(result.readBackLevel);
      Fail(r, kCliExitTransfer, "checking the configuration");
      return;
  }
  view.ShowStatus(kTextTransferFailed);
}

// The file as a job reads and decodes it; a failure is shown and reported.
bool LoadFile(const std::string& path, JobView* progress, CliView& view, RunReport& r, ProgramImage* image) {
  const ImageLoadStatus status = LoadProgramImage(path.c_str(), progress, image);
  const char* failure = ImageLoadFailureText(status);
  if (!failure) return true;
  view.ShowStatus(failure);
  if (status == ImageLoadStatus::HexFailed) Fail(r, kCliExitHex, "HEX decoding");
  else Fail(r, kCliExitFile, "reading the file");
  return false;
}

// Before reading or comparing memory: a read-protected chip reads back
// something that is not its content, so nothing is read from it.
bool CheckReadable(AppState& app, CliView& view, RunReport& r) {
  bool readProtected = false;
  if (!ReadProtectionActive(app.engine, &readProtected)) {
    view.ShowStatus(kTextTransferFailed);
    Fail(r, kCliExitTransfer, "reading the lock bits");
    return false;
  }
  if (readProtected) {
    view.ShowStatus(kTextReadProtected);
    r.detail = "the lock bits forbid reading; ER clears them with the memories";
    Fail(r, kCliExitProtected, "the read-protection check");
    return false;
  }
  return true;
}

std::string MemoryText(const char* format, ChipIndex chip, bool eeprom) {
  char text[128];
  std::snprintf(text, sizeof text, format, ChipName(chip, ""), eeprom ? "EEPROM" : "FLASH");
  return text;
}

std::string CountText(const char* format, uint32_t count) {
  char text[96];
  std::snprintf(text, sizeof text, format, unsigned(count));
  return text;
}

// Reads the whole memory, then writes the file whole: Intel HEX when the
// path ends in HEX (as WF would read it back), else the raw bytes. No file
// is written unless every read succeeded.
void ReadMemory(AppState& app, const CliOptions& o, CliView& view, RunReport& r) {
  const bool eeprom = o.op == CliOp::ReadEeprom;
  r.done = "read";
  if (!CheckReadable(app, view, r)) return;
  const ChipInfo* info = FindChip(r.chip);
  const uint32_t length = eeprom ? info->eepromLimit : info->flashLimit;
  view.ShowStatus(MemoryText(kTextReadingMemory, r.chip, eeprom).c_str());
  const ResultCode result = eeprom ? ReadEeprom(app.engine, view, ImageBuffer, length)
                                   : ReadFlash(app.engine, view, ImageBuffer, length);
  if (result != kResultOk) {
    view.ShowStatus(WriteOutcomeText(result, ""));
    Fail(r, kCliExitTransfer, "reading");
    return;
  }
  const uint8_t* data = ImageBuffer;
  uint32_t size = length;
  if (IsHexPath(o.path.c_str())) {
    static_assert(IntelHexTextLimit(0x20000) <= kProgramBufferSize, "the largest flash's HEX text fits FileBuffer");
    size = EncodeIntelHex(ImageBuffer, length, reinterpret_cast<char*>(FileBuffer), kProgramBufferSize);
    data = FileBuffer;
  }
  if (size == 0 || !WriteWholeFile(o.path.c_str(), data, size)) {
    view.ShowStatus(kTextFileWriteFailed);
    Fail(r, kCliExitFile, "writing the file");
    return;
  }
  SetBytes(r, ImageBuffer, length);
  view.ShowStatus(CountText(kTextReadOk, length).c_str());
}

void VerifyMemory(AppState& app, const CliOptions& o, CliView& view, RunReport& r) {
  const bool eeprom = o.op == CliOp::VerifyEeprom;
  r.done = "verified";
  if (!CheckReadable(app, view, r)) return;
  ProgramImage image;
  if (!LoadFile(o.path, &view, view, r, &image)) return;
  SetBytes(r, image.data, image.length);
  view.ShowStatus(MemoryText(kTextVerifyingMemory, r.chip, eeprom).c_str());
  const ResultCode result = eeprom ? VerifyEeprom(app.engine, view, image.data, image.length)
                                   : VerifyFlash(app.engine, view, image.data, image.length);
  view.ShowStatus(WriteOutcomeText(result, CountText(kTextVerifyOk, image.length).c_str()));
  if (result != kResultOk) Fail(r, kCliExitTransfer, "verification");
}

void Erase(AppState& app, CliView& view, RunReport& r) {
  r.done = "chip erased";
  view.ShowStatus(kTextErasing);
  const bool ok = EraseChip(app.engine) == kResultOk;
  view.ShowStatus(ok ? kTextEraseOk : kTextTransferFailed);
  if (!ok) Fail(r, kCliExitTransfer, "erasing");
}

void Dispatch(AppState& app, const CliOptions& o, CliView& view, RunReport& r) {
  if (o.op == CliOp::WriteFlash || o.op == CliOp::WriteEeprom) {
    Download(app, o, view, r);
    return;
  }
  if (o.op == CliOp::Reset) {
    view.ShowStatus(kTextResetting);
    if (Identify(app, view, r)) ResetTarget(app, view, r);
    r.done = "target reset";
    return;
  }
  view.ShowStatus(kTextIdentifying);
  if (!Identify(app, view, r)) return;
  switch (o.op) {
    case CliOp::ShowConfig: ShowConfig(app, view, r); break;
    case CliOp::WriteConfig:
      if (IsAvrPart(r.chip)) WriteAvrConfiguration(app, o, view, r);
      else WriteAt89Configuration(app, o, view, r);
      r.done = "configuration written and read back";
      break;
    case CliOp::ReadFlash:
    case CliOp::ReadEeprom: ReadMemory(app, o, view, r); break;
    case CliOp::VerifyFlash:
    case CliOp::VerifyEeprom: VerifyMemory(app, o, view, r); break;
    case CliOp::Erase: Erase(app, view, r); break;
    default: break;
  }
}

}  // namespace

void RunChipOperation(const CliOptions& o, CliView& view, RunReport& r) {
  static AppState app;
  EngineState& engine = app.engine;
  engine.chipIndex.store(o.chip);
  app.commandLineMode = 1;
  r.chip = o.chip;
  r.memory = o.op == CliOp::WriteFlash || o.op == CliOp::ReadFlash || o.op == CliOp::VerifyFlash ? "flash"
             : CliOpIsEeprom(o.op)                                                                  ? "EEPROM"
                                                                                                     : nullptr;
  const bool opened = o.slot >= 0 ? OpenBridge(uint32_t(o.slot), &app.bridge) : OpenFirstBridge(&app.bridge);
  if (!opened) {
    view.ShowStatus(kTextBridgeLost);
    Fail(r, kCliExitNoBridge, "opening the bridge");
    return;
  }
  view.ShowStatus(kTextBridgeOpened);
  r.slot = int(app.bridge.device);
  engine.deviceIndex.store(app.bridge.device);
  engine.hardwareSpi.store(app.bridge.hardwareSpi ? 1 : 0);
  if (app.bridge.hardwareSpi) engine.fastSpi.store(LoadFastSpiSetting());
  if (o.fast >= 0) engine.fastSpi.store(o.fast);
  engine.stopRequest.store(0);
  WatchInterrupts(&engine.stopRequest);

  Dispatch(app, o, view, r);
  if (r.exit == kCliExitOk && o.run) {
    view.ShowStatus(kTextResetting);
    r.started = ResetTarget(app, view, r);
  }
  view.EndBar();
  CloseBridge(&app.bridge);
}

void RunList(CliView& view, RunReport& r) {
  for (uint32_t slot = 0; slot < kKq560SlotCount; ++slot) {
    const char* name = KQ560GetDeviceName(slot);
    if (!name) continue;
    BridgeListing entry{slot, name, true, 0};
    // Not exclusive, and closed at once: another station may want it next.
    if (KQ560OpenDevice(slot) != kKq560OpenFailed) {
      entry.busy = false;
      entry.version = KQ560GetVerIC(slot);
      KQ560CloseDevice(slot);
    }
    r.bridges.push_back(entry);
    view.ShowLine(ListingText(entry));
  }
  if (r.bridges.empty()) {
    view.ShowStatus(kTextBridgeLost);
    Fail(r, kCliExitNoBridge, "finding a bridge");
  }
}

void RunCheck(const CliOptions& o, CliView& view, RunReport& r) {
  ProgramImage image;
  if (!LoadFile(o.path, nullptr, view, r, &image)) return;
  SetBytes(r, image.data, image.length);
  r.hasRange = image.any;
  r.first = image.lowest;
  r.last = image.highest;
}
