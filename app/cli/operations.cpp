#include "app/cli/operations.h"

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/cli/crc32.h"
#include "app/download_job.h"
#include "app/program_image.h"
#include "app/settings.h"
#include "app/status_texts.h"
#include "engine/identify.h"
#include "link/bridge.h"
#include "link/kq560.h"
#include "link/line_sequences.h"

namespace {

constexpr const char* kTextNoBridge = "与KQ560设备失去连接";
constexpr const char* kTextBridgeOpened = "成功打开KQ560设备";

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
  std::snprintf(app.filePath, sizeof app.filePath, "%s", o.path.c_str());
  const JobOutcome outcome = DownloadJob(app, view);
  r.chip = app.engine.chipIndex.load();
  r.identified = outcome != JobOutcome::IdentifyFailed;
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

void Dispatch(AppState& app, const CliOptions& o, CliView& view, RunReport& r) {
  switch (o.op) {
    case CliOp::WriteFlash:
    case CliOp::WriteEeprom:
      Download(app, o, view, r);
      break;
    case CliOp::Reset:
      view.ShowStatus(kTextResetting);
      if (Identify(app, view, r)) ResetTarget(app, view, r);
      r.done = "target reset";
      break;
    default:
      view.ShowStatus("not available yet");
      Fail(r, kCliExitUsage, "usage");
      break;
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
    view.ShowStatus(kTextNoBridge);
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
    view.ShowStatus(kTextNoBridge);
    Fail(r, kCliExitNoBridge, "finding a bridge");
  }
}

void RunCheck(const CliOptions& o, CliView& view, RunReport& r) {
  ProgramImage image;
  const ImageLoadStatus status = LoadProgramImage(o.path.c_str(), nullptr, &image);
  if (const char* failure = ImageLoadFailureText(status)) {
    view.ShowStatus(failure);
    if (status == ImageLoadStatus::HexFailed) Fail(r, kCliExitHex, "HEX decoding");
    else Fail(r, kCliExitFile, "reading the file");
    return;
  }
  SetBytes(r, image.data, image.length);
  r.hasRange = image.any;
  r.first = image.lowest;
  r.last = image.highest;
}
